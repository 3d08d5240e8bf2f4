#include "app/browser.h"
#include "mainwindow/mainwindow.h"
#include "platform/languagechoice.h"
#include "settings/syssettingwindow.h"
#include "tests/support/testsupport.h"

#include <QAbstractButton>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>

namespace {

const QRegularExpression chinese(QString("[\\x{3000}-\\x{303f}\\x{4e00}-\\x{9fff}\\x{ff00}-"
                                         "\\x{ffef}]"));

QStringList placeholders(const QString &text)
{
    static const QRegularExpression marker(QString("%(L?\\d|p%)"));
    QStringList found;
    for (auto it = marker.globalMatch(text); it.hasNext();)
        found << it.next().captured(0);
    found.sort();
    return found;
}

struct Message
{
    QString context, source, translation, type;
};

QList<Message> readCatalogue(const QString &path)
{
    QList<Message> messages;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return messages;
    QXmlStreamReader xml(&file);
    QString context;
    Message current;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("message")) {
            current = Message{context, {}, {}, {}};
        } else if (xml.name() == QLatin1String("source")) {
            current.source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            current.type = xml.attributes().value(QLatin1String("type")).toString();
            current.translation = xml.readElementText();
            messages << current;
        }
    }
    return xml.hasError() ? QList<Message>() : messages;
}

} // namespace

class TestCatalogues : public QObject
{
    Q_OBJECT

private slots:
    // Extracts the texts from today's sources into a copy of the committed catalogue: every
    // one needs a finished English translation without Chinese, with the source's
    // placeholders, and the compiled-in catalogue must say the same.
    void englishCoversEverySourceText()
    {
        QTemporaryDir dir;
        const QString ts = dir.filePath(QString("en.ts"));
        QVERIFY(QFile::copy(QString(NORVA_SOURCE_DIR "/resources/en.ts"), ts));
        QFile::setPermissions(ts, QFile::ReadOwner | QFile::WriteOwner);
        QProcess lupdate;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString("LUPDATE"), QString(NORVA_LUPDATE));
        lupdate.setProcessEnvironment(env);
        lupdate.start(QString("bash"),
                      {QString(NORVA_SOURCE_DIR "/scripts/update-translations.sh"), ts});
        QVERIFY(lupdate.waitForFinished(120000));
        QVERIFY2(lupdate.exitCode() == 0, lupdate.readAllStandardError().constData());

        QTranslator compiled;
        QVERIFY(compiled.load(LanguageChoice::resourcePath(QString("en"))));
        const QList<Message> messages = readCatalogue(ts);
        QVERIFY2(messages.size() > 150, "the sources gave too few texts; the scan is broken");
        QStringList faults;
        for (const Message &m : messages) {
            const QString where = m.context + QString(": ") + m.source;
            if (!m.type.isEmpty() || m.translation.isEmpty())
                faults << QString("untranslated ") + where;
            else if (m.translation.contains(chinese))
                faults << QString("Chinese left in ") + where;
            else if (placeholders(m.translation) != placeholders(m.source))
                faults << QString("placeholders differ in ") + where;
            else if (compiled.translate(m.context.toUtf8(), m.source.toUtf8()) != m.translation)
                faults << QString("compiled catalogue is stale for ") + where;
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    }

    // The Chinese catalogue keeps translating Qt's own texts and leaves ours as written.
    void chineseCatalogue()
    {
        QTranslator zh;
        QVERIFY(zh.load(LanguageChoice::resourcePath(QString("zh_CN"))));
        QCOMPARE(zh.translate("MAC_APPLICATION_MENU", "Services"), QString("服务"));
        QVERIFY(zh.translate("WindowMenus", "文件").isEmpty());
    }

    // A real main window and settings dialog built under English show no Chinese text.
    void englishWindowAndDialog()
    {
        QTranslator *translator = LanguageChoice::install(LanguageChoice::English, "zh_CN");
        QVERIFY(translator);
        auto *browser = new Browser;
        MainWindow *window = browser->createWindow(0, true);
        mainWindow = window;

        QStringList titles;
        for (QAction *action : window->menuBar()->actions()) {
            titles << action->text();
            for (QAction *entry : action->menu()->actions())
                QVERIFY2(!entry->text().contains(chinese), qPrintable(entry->text()));
        }
        QCOMPARE(titles, (QStringList{"File", "Edit", "View", "Help"}));
        QCOMPARE(window->windowTitle(), QString("Norva"));

        window->openSettingsDialog();
        SysSettingWindow *dialog = window->settingsWindow();
        QVERIFY(dialog);
        QCOMPARE(dialog->windowTitle(), QString("System Settings"));
        QStringList texts;
        for (QLabel *label : dialog->findChildren<QLabel *>())
            texts << label->text();
        for (QAbstractButton *button : dialog->findChildren<QAbstractButton *>())
            texts << button->text() << button->toolTip();
        auto *list = dialog->findChild<QListWidget *>(QString("listSetting"));
        for (int row = 0; row < list->count(); ++row)
            texts << list->item(row)->text();
        QVERIFY(texts.contains(QString("Network Proxy")));
        QVERIFY(texts.contains(QString("(takes effect after a restart)")));
        for (const QString &text : texts)
            QVERIFY2(!text.contains(chinese), qPrintable(text));
        dialog->close();

        mainWindow = nullptr;
        delete window;
        delete browser;
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
};

NORVA_TEST_MAIN(TestCatalogues)
#include "tst_catalogues.moc"
