#include "platform/autostart.h"
#include "settings/syssettingwindow.h"
#include "store/appsettings.h"
#include "tests/support/testsupport.h"

#include <QPushButton>

// The autostart entry follows the setting after every Apply and Confirm of the dialog.
class TestSettingsAutoStart : public QObject
{
    Q_OBJECT

private slots:
    void init() { appSettings = new AppSettings; }
    void cleanup()
    {
        delete appSettings;
        appSettings = nullptr;
    }

    void applyAndConfirmWriteOrRemoveTheEntry_data()
    {
        QTest::addColumn<QString>("button");
        QTest::newRow("apply") << "btnApply";
        QTest::newRow("confirm") << "btnConfirm";
    }

    void applyAndConfirmWriteOrRemoveTheEntry()
    {
        QFETCH(QString, button);
        const QString entry = AutoStart::entryFilePath();
        for (const bool on : {true, false, true, false}) {
            appSettings->isAutoRun = on;
            QPointer<SysSettingWindow> dialog = new SysSettingWindow(nullptr);
            dialog->findChild<QPushButton *>(button)->click();
            QCOMPARE(QFile::exists(entry), on);
            if (on) {
                QFile file(entry);
                QVERIFY(file.open(QIODevice::ReadOnly));
                QVERIFY(file.readAll().contains(
                    AutoStart::quotedExecArgument(QCoreApplication::applicationFilePath())
                        .toUtf8()));
            }
            delete dialog;
        }
    }
};

NORVA_TEST_MAIN(TestSettingsAutoStart)
#include "tst_settingsautostart.moc"
