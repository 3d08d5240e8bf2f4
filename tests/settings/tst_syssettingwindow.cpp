#include "app/browser.h"
#include "mainwindow/mainwindow.h"
#include "platform/autostart.h"
#include "settings/syssettingwindow.h"
#include "store/appsettings.h"
#include "tests/support/testsupport.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
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
        QSettings s;
        QVariantMap values;
        for (const QString &key : s.allKeys())
            values.insert(key, s.value(key));
        return values;
    }
    static QVariant stored(const char *key) { return QSettings().value(key); }
    template<typename T = QAbstractButton> static T *child(QWidget *dialog, const char *name)
    {
        return dialog->findChild<T *>(name);
    }
    static void click(QWidget *dialog, const char *name) { child(dialog, name)->click(); }
    SysSettingWindow *openDialog(MainWindow *window = nullptr)
    {
        window = window ? window : m_window;
        window->openSettingsDialog();
        return window->settingsWindow();
    }

private slots:
    void initTestCase()
    {
        m_browser = new Browser;
        m_window = m_browser->createWindow(MainWindow::SingleView, false);
    }
    void cleanupTestCase()
    {
        delete m_window;
        delete m_browser;
    }

    void onlyRealChangesAreWritten()
    {
        const bool autoRun = appSettings->isAutoRun;
        const QVariantMap storeBefore = storedValues();
        QPointer<SysSettingWindow> dialog = openDialog();
        click(dialog, "chkAutoRun");
        click(dialog, "chkAutoRun");
        QVERIFY(dialog->pending().isEmpty());
        click(dialog, "btnApply");
        QCOMPARE(appSettings->isAutoRun, autoRun);
        QCOMPARE(storedValues(), storeBefore);
        // One click counts, and only that key is written.
        const bool quit = appSettings->isQuitWhenClose;
        click(dialog, "chkExitOnClose");
        click(dialog, "btnConfirm");
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(appSettings->isQuitWhenClose, !quit);
        QCOMPARE(stored("GeneralSettings/isQuitWhenClose").toBool(), !quit);
        QCOMPARE(storedValues().size(), storeBefore.size() + 1);
        // An unknown update mode is stored as automatic.
        appSettings->updateMode = 7;
        dialog = openDialog();
        click(dialog, "btnApply");
        QCOMPARE(stored("SoftwareUpdateSettings/updateMode").toInt(), 2);
        delete dialog;
    }

    void manualProxyIsStoredAndShownAgain()
    {
        appSettings->proxyMode = 0;
        QPointer<SysSettingWindow> dialog = openDialog();
        auto *host = child<QLineEdit>(dialog, "lineEditProxyHost");
        QVERIFY(!host->isEnabled());
        click(dialog, "radioManualConfig");
        QVERIFY(host->isEnabled());
        host->setText("  proxy.example  ");
        child<QLineEdit>(dialog, "lineEditProxyPort")->setText("8080");
        click(dialog, "btnConfirm");
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(stored("NetworkProxySettings/proxyMode").toInt(), 2);
        QCOMPARE(stored("NetworkProxySettings/proxyHost").toString(), QString("proxy.example"));
        QCOMPARE(stored("NetworkProxySettings/proxyPort").toInt(), 8080);
        // Reopened: the values are back, the fields stay disabled until a click.
        dialog = openDialog();
        QVERIFY(child(dialog, "radioManualConfig")->isChecked());
        host = child<QLineEdit>(dialog, "lineEditProxyHost");
        QCOMPARE(host->text(), QString("proxy.example"));
        QVERIFY(!host->isEnabled());
        click(dialog, "radioManualConfig");
        host->setText("other.example"); // only the host changes
        click(dialog, "btnApply");
        QCOMPARE(stored("NetworkProxySettings/proxyHost").toString(), QString("other.example"));
        QCOMPARE(stored("NetworkProxySettings/proxyPort").toInt(), 8080);
        delete dialog;
    }

    void keyCapture()
    {
        // key, modifiers, text, field text afterwards
        const std::tuple<int, Qt::KeyboardModifiers, const char *, const char *> cases[] = {
            {Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier, "\x0b", "Ctrl+Shift+K"},
            {Qt::Key_F5, {}, "", "F5"},
            {Qt::Key_Control, Qt::ControlModifier, "", ""}, // a modifier alone clears
            {Qt::Key_F5, Qt::ControlModifier, "", ""},      // and so does a function key with one
        };
        for (const auto &[key, mods, text, result] : cases)
            QCOMPARE(SysSettingWindow::capturedShortcut(key, mods, text).value_or("-"), result);
        // Typed into the field in a dialog of a popup browser window, applied, and registered
        // again at once: still for the first main window.
        appSettings->openSoftware = "Ctrl+Alt+R";
        QScopedPointer<MainWindow> popupWindow(
            m_browser->createWindow(MainWindow::SingleView, false));
        QScopedPointer<SysSettingWindow> dialog(openDialog(popupWindow.data()));
        dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog.data()));
        child<QListWidget>(dialog.data(), "listSetting")->setCurrentRow(4);
        auto *field = child<QLineEdit>(dialog.data(), "lineEditOpenSoftKey");
        QCOMPARE(field->text(), QString("Ctrl+Alt+R"));
        field->setFocus();
        QTRY_VERIFY(field->hasFocus());
        QTest::keyClick(field, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(field->text(), QString("Ctrl+Shift+K"));
        click(dialog.data(), "btnApply");
        QCOMPARE(stored("ShortCutSettings/openSoftware").toString(), QString("Ctrl+Shift+K"));
        QHotkey *hotkey = m_browser->openSoftwareHotkey();
        QVERIFY(hotkey);
        QCOMPARE(hotkey->shortcut(), QKeySequence("Ctrl+Shift+K"));
        dialog.reset();
        QVERIFY(!m_window->isVisible());
        emit hotkey->activated();
        QVERIFY(m_window->isVisible());
        QVERIFY(!popupWindow->isVisible());
        m_window->hide();
    }

    // A write that fails is said so: the change lives only until the program ends.
    void failedWriteIsReported()
    {
        const QString path = QSettings().fileName();
        const QByteArray before = NorvaTest::fileBytes(path);
        QFile::remove(path);
        QVERIFY(QDir().mkpath(path)); // a folder where the file should be: nothing can be written
        const auto restore = qScopeGuard([&path, &before] {
            QDir().rmdir(path);
            QFile file(path);
            if (file.open(QIODevice::WriteOnly))
                file.write(before);
        });
        QPointer<SysSettingWindow> dialog = openDialog();
        click(dialog, "chkAutoRun");
        NorvaTest::BoxSeen seen;
        NorvaTest::answerNextBox("OK", &seen);
        click(dialog, "btnConfirm");
        QVERIFY(seen.seen);
        QCOMPARE(seen.title, QString("设置"));
        QCOMPARE(seen.text, QString("设置无法保存，重启软件后这些修改将会丢失。"));
        QCOMPARE(seen.buttons, QStringList{"OK"});
        QTRY_VERIFY(dialog.isNull());
        appSettings->isAutoRun = !appSettings->isAutoRun;
    }

    void clearingAndDirectory()
    {
        QPointer<SysSettingWindow> dialog = openDialog();
        auto *history = child(dialog, "chkBrowsingHistory");
        history->click();
        NorvaTest::BoxSeen seen;
        NorvaTest::answerNextBox("OK", &seen);
        click(dialog, "btnClearBrowserData");
        QVERIFY(seen.seen);
        QCOMPARE(seen.text, QString("清除成功！"));

        // Nothing checked: no box (one would have shown inside the click).
        history->click();
        NorvaTest::BoxSeen none;
        NorvaTest::answerNextBox("OK", &none, 0);
        click(dialog, "btnClearBrowserData");
        QVERIFY(!none.seen && !QApplication::activeModalWidget());
        NorvaTest::stopAnsweringBoxes();
        // A chosen directory is forgotten on 取消.
        const QString before = appSettings->downloadPath;
        const QString target = NorvaTest::homeDir() + "/picked";
        dialog->setDirectoryAsker(
            [&](QWidget *, const QString &, const QString &) { return target; });
        click(dialog, "btnChooseDownloadDir");
        QCOMPARE(child<QLineEdit>(dialog, "lineEditDownloadDir")->text(), target);
        click(dialog, "btnCancel");
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(appSettings->downloadPath, before);
        QVERIFY(!QSettings().contains("DownloadSettings/downloadPath"));
    }

    // Saving and clearing go through the host; the dialog reports when it is done.
    void dialogAsksItsHost()
    {
        QStringList asked;
        SysSettingWindow::Host host;
        host.saveSettingsGroup = [&asked](const QVariantMap &values, const QString &group) {
            asked << group + ':' + values.keys().join(',');
            return true;
        };
        host.clearBrowsingData = [&asked](bool cacheAndCookies, bool visitedLinks, bool cacheDir) {
            asked << QString("clear:%1%2%3").arg(cacheAndCookies).arg(visitedLinks).arg(cacheDir);
            return false;
        };
        const AppSettings before = *appSettings;
        const QVariantMap storeBefore = storedValues();
        QPointer<SysSettingWindow> dialog = new SysSettingWindow(nullptr, host);
        QSignalSpy ended(dialog.data(), &SysSettingWindow::ended);
        dialog->show();
        click(dialog, "chkAllowSavePw");
        click(dialog, "chkExitOnClose");
        click(dialog, "btnApply");
        QCOMPARE(asked, (QStringList{"GeneralSettings:isQuitWhenClose",
                                     "OtherSettings:allowSavePassword"}));
        QCOMPARE(storedValues(), storeBefore); // written by the host only
        *appSettings = before;

        // A host that cleared nothing gets no success box.
        click(dialog, "chkCookieSiteData");
        NorvaTest::BoxSeen none;
        NorvaTest::answerNextBox("OK", &none, 0);
        click(dialog, "btnClearBrowserData");
        QCOMPARE(asked.last(), QString("clear:100"));
        QVERIFY(!none.seen && !QApplication::activeModalWidget());
        NorvaTest::stopAnsweringBoxes();

        QCOMPARE(ended.count(), 0);
        click(dialog, "btnCancel");
        QCOMPARE(ended.count(), 1);
        QTRY_VERIFY(dialog.isNull());
    }

    // A screen reader names every control, each differently (the two 启用 boxes after their
    // hotkey, the "..." button after what it does); Tab goes through the pages as they read.
    // Eight pages, one of them hidden: the list's rows still lead to their own pages.
    void spokenNamesAndKeyboardOrder()
    {
        QScopedPointer<SysSettingWindow> dialog(openDialog());
        QVERIFY(QTest::qWaitForWindowExposed(dialog.data()));
        QCOMPARE(NorvaTest::accessibilityProblems(dialog.data()), QStringList());
        QCOMPARE(NorvaTest::accessibilityProblems(m_window), QStringList());
        QCOMPARE(NorvaTest::spokenName(child<QWidget>(dialog.data(), "lineEditProxyPort")),
                 QString("端口:"));
        QCOMPARE(NorvaTest::spokenName(child<QWidget>(dialog.data(), "comboxLanguages")),
                 QString("软件语言"));

        auto *list = child<QListWidget>(dialog.data(), "listSetting");
        auto *stack = child<QStackedWidget>(dialog.data(), "stackedSelect");
        int visible = 0;
        for (int row = 0; row < list->count(); ++row)
            visible += !list->item(row)->isHidden();
        QCOMPARE(visible, 7);
        list->setCurrentRow(7);
        QCOMPARE(stack->currentWidget()->objectName(), QString("pageOther"));
        auto pageOf = [stack](QWidget *w) {
            for (int i = 0; i < stack->count(); ++i) {
                if (stack->widget(i)->isAncestorOf(w))
                    return i;
            }
            return -1;
        };
        // The keyboard's path from the category list round to it again.
        QList<QWidget *> chain;
        for (QWidget *w = list->nextInFocusChain(); w != list; w = w->nextInFocusChain()) {
            if ((w->focusPolicy() & Qt::TabFocus) && dialog->isAncestorOf(w) && !w->focusProxy())
                chain << w;
        }
        QStringList last;
        for (QWidget *w : chain.mid(qMax(0, chain.size() - 3)))
            last << w->objectName();
        QCOMPARE(last, QStringList({"btnCancel", "btnApply", "btnConfirm"}));
        chain.erase(chain.end() - 3, chain.end());
        for (int i = 1; i < chain.size(); ++i) {
            QWidget *a = chain.at(i - 1);
            QWidget *b = chain.at(i);
            const QString pair = a->objectName() + " -> " + b->objectName();
            QVERIFY2(pageOf(a) >= 0 && pageOf(a) <= pageOf(b), qPrintable(pair));
            if (pageOf(a) != pageOf(b))
                continue;
            list->setCurrentRow(pageOf(a)); // laid out only once shown
            QWidget *page = stack->widget(pageOf(a));
            const QRect ra(a->mapTo(page, QPoint()), a->size());
            const QRect rb(b->mapTo(page, QPoint()), b->size());
            const int tolerance = qMin(ra.height(), rb.height()) / 2;
            const int dy = rb.center().y() - ra.center().y();
            // Further down, or on the same line further right.
            QVERIFY2(dy > tolerance || (qAbs(dy) <= tolerance && rb.x() > ra.x()),
                     qPrintable(pair));
        }
    }

    // The autostart entry follows the setting after every Apply and Confirm, touched or not.
    void autostartEntryFollowsEveryApply()
    {
        const bool before = appSettings->isAutoRun;
        for (const char *button : {"btnApply", "btnConfirm"}) {
            for (const bool on : {true, false, true, false}) {
                appSettings->isAutoRun = on;
                QPointer<SysSettingWindow> dialog = openDialog();
                click(dialog, button);
                QCOMPARE(NorvaTest::fileBytes(AutoStart::entryFilePath())
                             .contains(AutoStart::quotedExecArgument(
                                           QCoreApplication::applicationFilePath())
                                           .toUtf8()),
                         on);
                delete dialog;
            }
        }
        appSettings->isAutoRun = before;
    }

    // An entry that can be neither written nor removed (a folder where the file belongs; the
    // tests may run as root, who writes into read-only folders) is told once per run, on the
    // main window: the dialog may be gone by the time the user reads it.
    void autostartFailureIsToldOnce()
    {
        const bool before = appSettings->isAutoRun;
        const QString entry = AutoStart::entryFilePath();
        QFile::remove(entry);
        QVERIFY(QDir().mkpath(entry));
        const auto restore = qScopeGuard([&] {
            QDir().rmdir(entry);
            appSettings->isAutoRun = before;
        });
        for (int apply = 0; apply < 3; ++apply) {
            appSettings->isAutoRun = apply != 1;
            QPointer<SysSettingWindow> dialog = openDialog();
            click(dialog, "btnConfirm");
            QTRY_VERIFY(dialog.isNull());
            const QList<QMessageBox *> boxes = m_window->findChildren<QMessageBox *>();
            QCOMPARE(boxes.size(), apply == 0 ? 1 : 0);
            if (apply)
                continue;
            QMessageBox *box = boxes.first();
            QVERIFY(box->isVisible());
            QCOMPARE(box->windowTitle(), QString("设置"));
            QCOMPARE(box->text(), QString("无法设置开机自动启动，软件不会随系统启动。"));
            QCOMPARE(box->buttons().size(), 1);
            box->button(QMessageBox::Ok)->click();
            QTRY_VERIFY(m_window->findChildren<QMessageBox *>().isEmpty());
        }
    }
};

NORVA_TEST_MAIN(TestSysSettingWindow)
#include "tst_syssettingwindow.moc"
