#include "downloads/downloadmanagerwidget.h"
#include "downloads/downloadwidget.h"
#include "store/appsettings.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWebEngineProfile>
#include <QWebEngineView>

using State = QWebEngineDownloadItem::DownloadState;

namespace {
// Half of an office file of its own per request target; the rest once the test releases it.
QByteArray body(const QByteArray &target)
{
    QByteArray fill;
    while (fill.size() < 2996)
        fill += target;
    return QByteArray("PK\x03\x04", 4) + fill.left(2996);
}
} // namespace

class TestDownloads : public QObject
{
    Q_OBJECT

    TestHttpServer m_files;
    QTemporaryDir m_dir;
    QList<QUrl> m_opened;

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        QVERIFY(m_files.listen());
        m_files.setHandler("/sheet.xlsx", [](const QByteArray &target) {
            TestHttpServer::Response r;
            r.contentType = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet";
            r.headers = {{"Content-Disposition", "attachment; filename=\"sheet.xlsx\""}};
            r.body = body(target);
            r.sendLength = false;
            r.stallAfter = 1500;
            return r;
        });
        DownloadWidget::setUrlOpener([this](const QUrl &url) {
            m_opened << url;
            return true;
        });
    }

    void rules()
    {
        QCOMPARE(DownloadWidget::withUnit(512), QString("512 B"));
        QCOMPARE(DownloadWidget::withUnit(1023), QString("1023 B"));
        QCOMPARE(DownloadWidget::withUnit(1024), QString("1.00 KiB"));
        QCOMPARE(DownloadWidget::withUnit(1.5 * 1048576), QString("1.50 MiB"));
        for (const char *dir : {"D:/Files", "D:/Files/"})
            QCOMPARE(DownloadManagerWidget::suggestedPath(dir, "report.pdf"),
                     QString("D:/Files/report.pdf"));
        QCOMPARE(DownloadManagerWidget::fileFilter("application/pdf"), QString("*.*"));

        const std::tuple<State, qreal, qreal, int, bool, const char *> cases[] = {
            {State::DownloadInProgress, 2, 3, 67, true, "%p% - 2 B of 3 B 已下载 - 1.00 KiB/s"},
            {State::DownloadInProgress, 300, -1, 0, true, "未知大小 - 300 B 已下载 - 1.00 KiB/s"},
            {State::DownloadCompleted, 512, -1, 100, false, "已完成 - 512 B 已下载 - 1.00 KiB/s"},
            {State::DownloadCancelled, 10, 20, 0, false, "已取消 - 10 B 已下载 - 1.00 KiB/s"},
            {State::DownloadInterrupted, 10, 20, 0, false, "已中断: Network error"},
            // More than announced, or an announced 0: the bar stays within 0 to 100.
            {State::DownloadInProgress, 3e9, 1, 100, true,
             "%p% - 2.79 GiB of 1 B 已下载 - 1.00 KiB/s"},
            {State::DownloadInProgress, 5, 0, 0, true, "%p% - 5 B of 0 B 已下载 - 1.00 KiB/s"},
        };
        for (const auto &[state, got, total, value, enabled, format] : cases) {
            const auto p = DownloadWidget::progressFor(state, got, total, 1024, "Network error");
            QCOMPARE(p.format, QString::fromUtf8(format));
            QVERIFY(p.changes);
            QCOMPARE(p.value, value);
            QCOMPARE(p.enabled, enabled);
        }

        // One row per path, the newest on top.
        DownloadManagerWidget manager;
        QList<DownloadWidget *> rows;
        for (const char *path : {"/d/a.txt", "/d/b.txt", "/d/a.txt"}) {
            rows << new DownloadWidget(nullptr);
            rows.last()->setWindowFilePath(path);
            manager.add(rows.last());
        }
        QCOMPARE(manager.rows(), (QList<DownloadWidget *>{rows.at(2), rows.at(1)}));
        QVERIFY(rows.at(0)->isHidden());
    }

    void downloadThroughAPage()
    {
        AppSettings settings;
        settings.downloadPath = m_dir.path() + '/';
        DownloadManagerWidget manager;
        manager.setAppSettings(&settings);
        connect(QWebEngineProfile::defaultProfile(), &QWebEngineProfile::downloadRequested,
                &manager, &DownloadManagerWidget::downloadRequested);
        QStringList askedWith; // start path, filter
        QString answer;        // cancelled first
        manager.setSaveFileAsker(
            [&](QWidget *, const QString &, const QString &start, const QString &filter) {
                askedWith = QStringList{start, filter};
                return answer;
            });
        QWebEngineView view;
        view.load(m_files.url("/sheet.xlsx"));
        QTRY_COMPARE_WITH_TIMEOUT(askedWith, (QStringList{m_dir.path() + "/sheet.xlsx", "*.xlsx"}),
                                  20000);
        QVERIFY(manager.rows().isEmpty());
        answer = m_dir.filePath("saved.xlsx");
        view.load(m_files.url("/sheet.xlsx?2"));
        QTRY_COMPARE_WITH_TIMEOUT(manager.rows().size(), 1, 20000);
        DownloadWidget *row = manager.rows().first();
        QCOMPARE(row->nameLabel()->text(), QString("saved.xlsx"));
        // Every row has an open-folder button: a screen reader hears whose folder it opens.
        QVERIFY(NorvaTest::spokenName(row->openDirButton()).contains("saved.xlsx"));
        QCOMPARE(NorvaTest::accessibilityProblems(&manager), QStringList());

        // Still running: a double-click opens nothing.
        QTRY_VERIFY_WITH_TIMEOUT(row->progressBar()->format().contains("1.46 KiB"), 20000);
        QTest::mouseDClick(row, Qt::LeftButton);
        QVERIFY(m_opened.isEmpty());

        m_files.release("/sheet.xlsx?2");
        QTRY_VERIFY_WITH_TIMEOUT(row->progressBar()->format().startsWith("已完成 - "), 20000);
        QFile saved(answer);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), body("/sheet.xlsx?2"));

        // Local paths begin with "/": the URLs must still name the right folder and file.
        row->openDirButton()->click();
        QTest::mouseDClick(row, Qt::LeftButton);
        QCOMPARE(m_opened,
                 (QList<QUrl>{QUrl::fromLocalFile(m_dir.path()), QUrl::fromLocalFile(answer)}));
    }

    // A newer download to the same path replaces the row; the older one must not go on unseen
    // and overwrite the newer file when it finishes last.
    void replacedDownloadIsCancelled()
    {
        DownloadManagerWidget manager;
        connect(QWebEngineProfile::defaultProfile(), &QWebEngineProfile::downloadRequested,
                &manager, &DownloadManagerWidget::downloadRequested);
        const QString path = m_dir.filePath("same.xlsx");
        manager.setSaveFileAsker(
            [&](QWidget *, const QString &, const QString &, const QString &) { return path; });
        QWebEngineView view;
        auto startAndCatch = [&](const QByteArray &target) -> QWebEngineDownloadItem * {
            const QList<DownloadWidget *> before = manager.rows();
            view.load(m_files.url(target));
            if (!QTest::qWaitFor([&] { return manager.rows() != before; }, 20000))
                return nullptr;
            DownloadWidget *row = manager.rows().first();
            if (!QTest::qWaitFor([&] { return row->progressBar()->format().contains("1.46 KiB"); },
                                 20000))
                return nullptr;
            return row->download();
        };
        QPointer<QWebEngineDownloadItem> older = startAndCatch("/sheet.xlsx?older");
        QVERIFY(older);
        QPointer<QWebEngineDownloadItem> newer = startAndCatch("/sheet.xlsx?newer");
        QVERIFY(newer && newer != older);
        QCOMPARE(manager.rows().size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(!older || older->state() == State::DownloadCancelled, 20000);

        m_files.release("/sheet.xlsx?newer");
        QTRY_COMPARE_WITH_TIMEOUT(newer->state(), State::DownloadCompleted, 20000);
        m_files.release("/sheet.xlsx?older");
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), body("/sheet.xlsx?newer"));
        QVERIFY(!older || older->state() == State::DownloadCancelled);
    }
};

NORVA_TEST_MAIN(TestDownloads)
#include "tst_downloads.moc"
