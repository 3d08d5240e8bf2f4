#include "app/appsettings.h"
#include "app/browser.h"
#include "mainwindow/mainwindow.h"
#include "settings/syssettingwindow.h"
#include "tests/support/testsupport.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QSettings>
#include <QStackedWidget>

// NORVA_TEST_RUN_SERIAL: registers a global hotkey and needs window activation.
class TestSysSettingWindow : public QObject
{
    Q_OBJECT

    Browser *m_browser = nullptr;
    MainWindow *m_window = nullptr;

    static QVariantMap storedValues()
    {
        QSettings s(QSettings::NativeFormat, QSettings::UserScope,
                    QCoreApplication::organizationName(), QCoreApplication::applicationName());
        QVariantMap values;
        for (const QString &key : s.allKeys())
            values.insert(key, s.value(key));
        return values;
    }
    static QVariant stored(const char *key) { return storedValues().value(QLatin1String(key)); }
    template<typename T = QAbstractButton> static T *child(QWidget *dialog, const char *name)
    {
        return dialog->findChild<T *>(QLatin1String(name));
    }
    static void click(QWidget *dialog, const char *name) { child(dialog, name)->click(); }
    SysSettingWindow *openDialog()
    {
        auto *dialog = new SysSettingWindow(m_window);
        dialog->show();
        return dialog;
    }

private slots:
    void initTestCase()
    {
        m_browser = new Browser;
        m_window = m_browser->createWindow(MainWindow::SingleView, false);
        QVERIFY(appSettings);
    }
    void cleanupTestCase()
    {
        delete m_window;
        delete m_browser;
    }

    void structure()
    {
        QScopedPointer<SysSettingWindow> dialog(new SysSettingWindow(m_window));
        QCOMPARE(dialog->windowTitle(), QStringLiteral("系统设置"));
        auto *list = child<QListWidget>(dialog.data(), "listSetting");
        auto *stack = child<QStackedWidget>(dialog.data(), "stackedSelect");
        QCOMPARE(list->count(), 8);
        QCOMPARE(stack->count(), 8);
        int visible = 0;
        for (int row = 0; row < 8; ++row)
            visible += !list->item(row)->isHidden();
        QCOMPARE(visible, 7);
        QVERIFY(list->item(6)->isHidden()); // the font page

        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.data()));
        list->setCurrentRow(7);
        QCOMPARE(stack->currentWidget()->objectName(), QStringLiteral("pageOther"));
        QCOMPARE(child<QLabel>(dialog.data(), "labelTop")->text(), QStringLiteral("其他"));

        QCOMPARE(dialog->minimumSize(), QSize(640, 200));
        dialog->resize(300, 100);
        QTRY_COMPARE(dialog->size(), QSize(640, 200));
        QCOMPARE(list->width(), 170);
    }

    void onlyRealChangesAreWritten()
    {
        const bool autoRun = appSettings->isAutoRun;
        const QVariantMap storeBefore = storedValues();
        QPointer<SysSettingWindow> dialog = openDialog();
        auto *box = child<QCheckBox>(dialog, "chkAutoRun");
        box->click();
        box->click();
        QVERIFY(dialog->pending().isEmpty());
        click(dialog, "btnApply");
        QCOMPARE(appSettings->isAutoRun, autoRun);
        QCOMPARE(storedValues(), storeBefore);

        // One click counts, and only that key is written.
        const bool quit = appSettings->isQuitWhenClose;
        auto *exitOnClose = child<QCheckBox>(dialog, "chkExitOnClose");
        QCOMPARE(exitOnClose->text(), QStringLiteral("关闭主窗口时退出软件"));
        exitOnClose->click();
        click(dialog, "btnConfirm");
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(appSettings->isQuitWhenClose, !quit);
        QCOMPARE(stored("GeneralSettings/isQuitWhenClose").toBool(), !quit);
        QCOMPARE(storedValues().size(), storeBefore.size() + 1);
        appSettings->isQuitWhenClose = quit;
    }

    void manualProxyIsStoredAndShownAgain()
    {
        appSettings->proxyMode = 0;
        QPointer<SysSettingWindow> dialog = openDialog();
        auto *host = child<QLineEdit>(dialog, "lineEditProxyHost");
        QVERIFY(!host->isEnabled());
        click(dialog, "radioManualConfig");
        QVERIFY(host->isEnabled());
        host->setText(QStringLiteral("  proxy.example  "));
        child<QLineEdit>(dialog, "lineEditProxyPort")->setText(QStringLiteral("8080"));
        click(dialog, "btnConfirm");
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(stored("NetworkProxySettings/proxyMode").toInt(), 2);
        QCOMPARE(stored("NetworkProxySettings/proxyHost").toString(),
                 QStringLiteral("proxy.example"));
        QCOMPARE(stored("NetworkProxySettings/proxyPort").toInt(), 8080);
        // Unchanged manual fields are not written.
        QVERIFY(!storedValues().contains(QStringLiteral("NetworkProxySettings/proxyUsername")));

        // Reopened: the values are back, the fields stay disabled until a click.
        dialog = openDialog();
        QVERIFY(child<QRadioButton>(dialog, "radioManualConfig")->isChecked());
        host = child<QLineEdit>(dialog, "lineEditProxyHost");
        QCOMPARE(host->text(), QStringLiteral("proxy.example"));
        QVERIFY(!host->isEnabled());
        click(dialog, "radioManualConfig");
        QVERIFY(host->isEnabled());

        // Only the host changes.
        host->setText(QStringLiteral("other.example"));
        click(dialog, "btnApply");
        QCOMPARE(stored("NetworkProxySettings/proxyHost").toString(),
                 QStringLiteral("other.example"));
        QCOMPARE(stored("NetworkProxySettings/proxyMode").toInt(), 2);
        QCOMPARE(stored("NetworkProxySettings/proxyPort").toInt(), 8080);

        // A port that is no number is stored as 0.
        child<QLineEdit>(dialog, "lineEditProxyPort")->setText(QStringLiteral("80a"));
        click(dialog, "btnApply");
        QCOMPARE(stored("NetworkProxySettings/proxyPort").toInt(), 0);
        delete dialog;
    }

    void keyCapture()
    {
        const int ctrl = Qt::ControlModifier, shift = Qt::ShiftModifier, alt = Qt::AltModifier;
        // key, modifiers, text, field text afterwards ("-" keeps the field as it is)
        const std::tuple<int, int, const char *, const char *> cases[] = {
            {Qt::Key_K, ctrl | shift, "\x0b", "Ctrl+Shift+K"},
            {Qt::Key_F5, 0, "", "F5"},
            {Qt::Key_Control, ctrl, "", ""}, // a modifier alone clears
            {Qt::Key_F5, ctrl, "", ""},      // and so does a function key with one
            {Qt::Key_R, alt | shift | ctrl, "R", "Ctrl+Shift+Alt+R"},
            {Qt::Key_K, int(Qt::MetaModifier | ctrl), "k", "Ctrl+K"}, // Meta is left out
            {0, ctrl, "x", "-"},                                      // a key without a name
        };
        for (const auto &[key, modifiers, text, result] : cases) {
            const std::optional<QString> got = SysSettingWindow::capturedShortcut(
                key, Qt::KeyboardModifiers(modifiers), QLatin1String(text));
            QCOMPARE(got.value_or(QStringLiteral("-")), QString::fromLatin1(result));
        }

        // Typed into the field, applied, and registered again at once.
        appSettings->openSoftware = QStringLiteral("Ctrl+Alt+R");
        SysSettingWindow *dialog = openDialog();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        child<QListWidget>(dialog, "listSetting")->setCurrentRow(4);
        auto *field = child<QLineEdit>(dialog, "lineEditOpenSoftKey");
        QCOMPARE(field->text(), QStringLiteral("Ctrl+Alt+R"));
        field->setFocus();
        QTRY_VERIFY(field->hasFocus());
        // Keys a read-only field would otherwise keep for itself are captured too.
        QTest::keyClick(field, Qt::Key_Left);
        QCOMPARE(field->text(), QStringLiteral("Left"));
        QTest::keyClick(field, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(field->text(), QStringLiteral("Ctrl+Shift+K"));
        click(dialog, "btnApply");
        QCOMPARE(stored("ShortCutSettings/openSoftware").toString(),
                 QStringLiteral("Ctrl+Shift+K"));
        QVERIFY(m_browser->openSoftwareHotkey());
        QCOMPARE(m_browser->openSoftwareHotkey()->shortcut(),
                 QKeySequence(QStringLiteral("Ctrl+Shift+K")));
        delete dialog;
    }

    void unknownUpdateModeIsStoredAsAutomatic()
    {
        appSettings->updateMode = 7;
        SysSettingWindow *dialog = openDialog();
        click(dialog, "btnApply");
        QCOMPARE(appSettings->updateMode, 2);
        QCOMPARE(stored("SoftwareUpdateSettings/updateMode").toInt(), 2);
        delete dialog;
    }

    void clearingBrowsingData()
    {
        SysSettingWindow *dialog = openDialog();
        auto *history = child<QCheckBox>(dialog, "chkBrowsingHistory");
        history->click();
        NorvaTest::BoxSeen seen;
        NorvaTest::answerNextBox(QStringLiteral("OK"), &seen);
        click(dialog, "btnClearBrowserData");
        QVERIFY(seen.seen);
        QCOMPARE(seen.title, QStringLiteral("清除浏览数据"));
        QCOMPARE(seen.text, QStringLiteral("清除成功！"));
        QVERIFY(dialog->pending().isEmpty()); // the privacy boxes are no settings

        // Nothing checked: no box (one would have shown inside the click).
        history->click();
        NorvaTest::BoxSeen none;
        NorvaTest::answerNextBox(QStringLiteral("OK"), &none, 0);
        click(dialog, "btnClearBrowserData");
        QVERIFY(!none.seen);
        QVERIFY(!QApplication::activeModalWidget());
        delete dialog;
    }

    void chosenDirectoryNeedsApply()
    {
        const QString before = appSettings->downloadPath;
        const QString target = NorvaTest::homeDir() + QStringLiteral("/picked");
        QString start;
        const auto asker = [&](QWidget *, const QString &, const QString &s) {
            start = s;
            return target;
        };
        QPointer<SysSettingWindow> dialog = openDialog();
        dialog->setDirectoryAsker(asker);
        click(dialog, "btnChooseDownloadDir");
        QCOMPARE(start, before);
        QCOMPARE(child<QLineEdit>(dialog, "lineEditDownloadDir")->text(),
                 QDir::toNativeSeparators(target));
        click(dialog, "btnCancel");
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(appSettings->downloadPath, before);
        QVERIFY(!storedValues().contains(QStringLiteral("DownloadSettings/downloadPath")));

        dialog = openDialog();
        dialog->setDirectoryAsker(asker);
        click(dialog, "btnChooseDownloadDir");
        click(dialog, "btnConfirm");
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(stored("DownloadSettings/downloadPath").toString(), target);
    }

    void closedDialogIsForgotten()
    {
        m_window->openSettingsDialog();
        QPointer<SysSettingWindow> dialog = m_window->settingsWindow();
        QVERIFY(dialog);
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        child<QListWidget>(dialog, "listSetting")->setFocus();
        QTest::keyClick(dialog, Qt::Key_Escape);
        QVERIFY(!m_window->settingsWindow());
        QTRY_VERIFY(dialog.isNull());
    }
};

NORVA_TEST_MAIN(TestSysSettingWindow)
#include "tst_syssettingwindow.moc"
