#include "downloads/downloadrules.h"

#include <QCoreApplication>

#include <cmath>

// The texts keep the row as their translation context, where translators look for them.

QString DownloadRules::fileNameOf(const QString &suggestedPath)
{
    return suggestedPath.mid(suggestedPath.lastIndexOf(QLatin1Char('/')) + 1);
}

QString DownloadRules::suggestedPath(const QString &downloadPath, const QString &fileName)
{
    QString path = downloadPath;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path + fileName;
}

QString DownloadRules::fileFilter(const QString &mimeType)
{
    if (mimeType.contains(
            QLatin1String("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet")))
        return QStringLiteral("*.xlsx");
    return QStringLiteral("*.*");
}

QString DownloadRules::folderOf(const QString &filePath)
{
    const int slash = filePath.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QString();
    // A file right under the root still has a folder to open.
    if (slash == 0)
        return QStringLiteral("/");
    return filePath.left(slash);
}

QString DownloadRules::withUnit(double bytes)
{
    if (bytes < (1 << 10))
        return QCoreApplication::translate("DownloadWidget", "%L1 B").arg(bytes);
    if (bytes < (1 << 20))
        return QCoreApplication::translate("DownloadWidget", "%L1 KiB")
            .arg(bytes / (1 << 10), 0, 'f', 2);
    if (bytes < (1 << 30))
        return QCoreApplication::translate("DownloadWidget", "%L1 MiB")
            .arg(bytes / (1 << 20), 0, 'f', 2);
    return QCoreApplication::translate("DownloadWidget", "%L1 GiB")
        .arg(bytes / (1 << 30), 0, 'f', 2);
}

int DownloadRules::percent(double received, double total)
{
    // Some servers announce a length of 0, others send more than they announced: the bar
    // shows 0 to 100, never a division by zero or a number beyond int.
    if (!(total > 0))
        return 0;
    const double ratio = received * 100.0 / total;
    if (!std::isfinite(ratio) || ratio <= 0)
        return 0;
    return ratio >= 100 ? 100 : int(std::lround(ratio));
}

DownloadRules::Progress DownloadRules::progressFor(State state, double received, double total,
                                                   double bytesPerSecond,
                                                   const QString &interruption)
{
    Progress p;
    if (state == State::Requested)
        return p; // not accepted yet: the bar stays as it is
    p.changes = true;
    p.enabled = state == State::InProgress;
    p.value = 0;
    const QString done = withUnit(received);
    const QString speed = withUnit(bytesPerSecond);
    switch (state) {
    case State::InProgress:
        if (total >= 0) {
            p.value = percent(received, total);
            p.format = QCoreApplication::translate("DownloadWidget", "%p% - %1 of %2 已下载 - %3/s")
                           .arg(done, withUnit(total), speed);
        } else {
            p.format = QCoreApplication::translate("DownloadWidget", "未知大小 - %1 已下载 - %2/s")
                           .arg(done, speed);
        }
        break;
    case State::Completed:
        p.value = 100;
        p.format = QCoreApplication::translate("DownloadWidget", "已完成 - %1 已下载 - %2/s")
                       .arg(done, speed);
        break;
    case State::Cancelled:
        p.format = QCoreApplication::translate("DownloadWidget", "已取消 - %1 已下载 - %2/s")
                       .arg(done, speed);
        break;
    default:
        p.format = QCoreApplication::translate("DownloadWidget", "已中断: %1").arg(interruption);
        break;
    }
    return p;
}
