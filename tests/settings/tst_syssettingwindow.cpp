#include "app/appsettings.h"
#include "app/browser.h"
#include "mainwindow/mainwindow.h"
#include "settings/syssettingwindow.h"
#include "tests/support/testsupport.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QStackedWidget>

// NORVA_TEST_RUN_SERIAL: registers a global hotkey and needs window activation.
class TestSysSettingWindow : public QObject
{
    Q_OBJECT

    Browser *m_browser = nullptr;
    MainWindow *m_window = nullptr;

    static QMap<QString, QVariant> storedValues()
    {
        QSettings s(QSettings::NativeFormat, QSettings::UserScope,
                    QCoreApplication::organizationName(), QCoreApplication::applicationName());
        QMap<QString, QVariant> values;
        for (const QString &key : s.allKeys())
            values.insert(key, s.value(key));
        return values;
    }

    static QVariant stored(const QString &key) { return storedValues().value(key); }

    template<typename T> static T *child(QWidget *dialog, const char *name)
    {
        T *widget = dialog->findChild<T *>(QLatin1String(name));
        if (!widget)
            qWarning("no child %s", name);
        return widget;
    }

    SysSettingWindow *openDialog()
    {
        auto *dialog = new SysSettingWindow(m_window);
        dialog->show();
        return dialog;
    }

    static void click(QWidget *dialog, const char *name)
    {
        child<QAbstractButton>(dialog, name)->click();
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
        QCOMPARE(dialog->objectName(), QStringLiteral("SysSettingWindow"));
        QCOMPARE(dialog->windowTitle(), QStringLiteral("系统设置"));
        QVERIFY(!dialog->isModal());
        QCOMPARE(dialog->windowModality(), Qt::NonModal);
        QVERIFY(!dialog->isSizeGripEnabled());
        QVERIFY(!(dialog->windowFlags() & Qt::WindowContextHelpButtonHint));
        QVERIFY(dialog->testAttribute(Qt::WA_DeleteOnClose));
        QCOMPARE(dialog->size(), QSize(720, 460));
        QCOMPARE(dialog->layout()->objectName(), QStringLiteral("hLayoutMain"));

        const QList<QPair<const char *, QString>> texts = {
            {"labelTop", QStringLiteral("常用")},
            {"labelVersion", QStringLiteral("1.7.5")},
            {"btnCancel", QStringLiteral("取消")},
            {"btnApply", QStringLiteral("应用")},
            {"btnConfirm", QStringLiteral("确定")},
            {"labelTitle", QStringLiteral("系统")},
            {"chkAutoRun", QStringLiteral("开机自动启动")},
            {"chkEnableNotice", QStringLiteral("启用消息通知")},
            {"chkEnableNoticeVoice", QStringLiteral("启用消息通知声音")},
            {"chkEnableMutiTab", QStringLiteral("启用多标签模式(重启软件后生效)")},
            {"chkEnableBrowserAndMultiTab",
             QStringLiteral("启用浏览器和多标签模式(重启软件后生效)")},
            {"chkEnableCompatible", QStringLiteral("启用兼容模式(重启软件后生效)")},
            {"chkExitOnClose", QStringLiteral("关闭主窗口时退出软件")},
            {"radioNoUseProxy", QStringLiteral("不使用代理")},
            {"radioUseBrowserSetting", QStringLiteral("使用浏览器设置")},
            {"radioManualConfig", QStringLiteral("手动配置")},
            {"labelProxyPort", QStringLiteral("端口: ")},
            {"labelProxyUserName", QStringLiteral("用户名:")},
            {"labelProxyPasswd", QStringLiteral("密码: ")},
            {"labelDownloadDir", QStringLiteral("下载目录")},
            {"btnChooseDownloadDir", QStringLiteral("...")},
            {"labelClearData", QStringLiteral("清除浏览数据")},
            {"chkCookieSiteData", QStringLiteral("Cookie及网站数据")},
            {"chkBrowsingHistory", QStringLiteral("浏览记录")},
            {"chkCacheFile", QStringLiteral("缓存的图片和文件")},
            {"btnClearBrowserData", QStringLiteral("清除浏览数据")},
            {"labelGlobalShortcut", QStringLiteral("全局热键")},
            {"labelOpenSoft", QStringLiteral("打开软件")},
            {"labelQuickSearch", QStringLiteral("快捷搜索")},
            {"chkOpenSoftWare", QStringLiteral("启用")},
            {"chkQuickSearch", QStringLiteral("启用")},
            {"labelUpdatePolicy", QStringLiteral("更新策略")},
            {"radioNoCheckUpdate", QStringLiteral("不检查更新")},
            {"radioNoticeUpdate", QStringLiteral("仅提示更新")},
            {"radioAutoDownUpdate", QStringLiteral("自动下载并更新")},
            {"labelAutoFill", QStringLiteral("自动填充选项")},
            {"chkAllowSavePw", QStringLiteral("允许保存密码")},
            {"labelLanguages", QStringLiteral("软件语言")},
        };
        for (const auto &entry : texts) {
            QWidget *widget = child<QWidget>(dialog.data(), entry.first);
            QVERIFY2(widget, entry.first);
            const QString text = widget->property("text").toString();
            QVERIFY2(text == entry.second,
                     qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(entry.first), text)));
        }
        QCOMPARE(child<QWidget>(dialog.data(), "btnChooseDownloadDir")->toolTip(),
                 QStringLiteral("请选择保存下载文件所在的目录文件夹"));
        QCOMPARE(child<QWidget>(dialog.data(), "lineEditOpenSoftKey")->toolTip(),
                 QStringLiteral("请按下快捷键"));
        QVERIFY(!child<QPushButton>(dialog.data(), "btnApply")->autoDefault());
        QVERIFY(child<QLabel>(dialog.data(), "labelTop")->font().bold());
        QVERIFY(child<QLabel>(dialog.data(), "labelClearData")->font().bold());
        QCOMPARE(child<QWidget>(dialog.data(), "chkAutoRun")->geometry(), QRect(20, 34, 508, 18));
        QCOMPARE(child<QWidget>(dialog.data(), "btnClearBrowserData")->geometry(),
                 QRect(30, 140, 160, 24));
        QCOMPARE(child<QWidget>(dialog.data(), "comboxLanguages")->geometry(),
                 QRect(50, 100, 160, 20));

        auto *proxyType = child<QComboBox>(dialog.data(), "comboxProxyType");
        QCOMPARE(proxyType->count(), 2);
        QCOMPARE(proxyType->itemText(0), QStringLiteral("HTTP"));
        QCOMPARE(proxyType->itemText(1), QStringLiteral("SOCKS5"));
        auto *languages = child<QComboBox>(dialog.data(), "comboxLanguages");
        QCOMPARE(languages->count(), 3);
        QCOMPARE(languages->itemText(0), QStringLiteral("自动检查"));
        QCOMPARE(languages->itemText(1), QStringLiteral("简体中文"));
        QCOMPARE(languages->itemText(2), QStringLiteral("English"));

        // The short field beside the port label, the masked one beside the password label.
        auto *port = child<QLineEdit>(dialog.data(), "lineEditProxyPort");
        QCOMPARE(port->minimumSize(), QSize(60, 20));
        QCOMPARE(port->maximumSize(), QSize(60, 20));
        QCOMPARE(child<QLineEdit>(dialog.data(), "lineEditProxyPasswd")->echoMode(),
                 QLineEdit::Password);
        for (const char *name : {"comboxProxyType", "lineEditProxyHost", "lineEditProxyPort",
                                 "lineEditProxyUserName", "lineEditProxyPasswd"})
            QVERIFY2(!child<QWidget>(dialog.data(), name)->isEnabled(), name);
        QVERIFY(child<QLineEdit>(dialog.data(), "lineEditDownloadDir")->isReadOnly());
        QVERIFY(child<QLineEdit>(dialog.data(), "lineEditOpenSoftKey")->isReadOnly());

        auto *list = child<QListWidget>(dialog.data(), "listSetting");
        auto *stack = child<QStackedWidget>(dialog.data(), "stackedSelect");
        const QStringList categories = {"通用设置", "网络代理", "下载", "隐私",
                                        "热键",     "软件更新", "字体", "其他"};
        const QStringList pages = {"pageGeneral",     "pageNetwork", "pageDownload", "pagePrivacy",
                                   "pageShortcutKey", "pageUpdate",  "pageFont",     "pageOther"};
        QCOMPARE(list->count(), 8);
        QCOMPARE(stack->count(), 8);
        int visible = 0;
        for (int row = 0; row < 8; ++row) {
            QCOMPARE(list->item(row)->text(), categories[row]);
            QCOMPARE(list->item(row)->sizeHint(), QSize(140, 22));
            QCOMPARE(stack->widget(row)->objectName(), pages[row]);
            if (!list->item(row)->isHidden())
                ++visible;
        }
        QCOMPARE(visible, 7);
        QVERIFY(list->item(6)->isHidden());
        QCOMPARE(list->currentRow(), 0);
        QCOMPARE(stack->currentIndex(), 0);

        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.data()));
        list->setCurrentRow(7);
        QCOMPARE(stack->currentWidget()->objectName(), QStringLiteral("pageOther"));
        QCOMPARE(child<QLabel>(dialog.data(), "labelTop")->text(), QStringLiteral("其他"));
        list->setCurrentRow(1);
        QCOMPARE(stack->currentWidget()->objectName(), QStringLiteral("pageNetwork"));
        QCOMPARE(child<QLabel>(dialog.data(), "labelTop")->text(), QStringLiteral("网络代理"));

        QCOMPARE(dialog->minimumSize(), QSize(640, 200));
        dialog->resize(300, 100);
        QTRY_COMPARE(dialog->size(), QSize(640, 200));
        QCOMPARE(list->width(), 170);
        dialog->resize(1200, 700);
        QTRY_COMPARE(dialog->size(), QSize(1200, 700));
        QCOMPARE(list->width(), 170);
    }

    void checkboxClickedTwiceWritesNothing()
    {
        const bool before = appSettings->isAutoRun;
        const QMap<QString, QVariant> storeBefore = storedValues();
        SysSettingWindow *dialog = openDialog();
        auto *box = child<QCheckBox>(dialog, "chkAutoRun");
        QCOMPARE(box->isChecked(), before);
        box->click();
        QCOMPARE(dialog->pending(), (QMap<int, QVariant>{{100, !before}}));
        box->click();
        QVERIFY(dialog->pending().isEmpty());
        click(dialog, "btnApply");
        QCOMPARE(appSettings->isAutoRun, before);
        QCOMPARE(storedValues(), storeBefore);

        // One click does count, and only that key is written.
        child<QCheckBox>(dialog, "chkAllowSavePw")->click();
        click(dialog, "btnApply");
        QVERIFY(dialog->pending().isEmpty());
        QVERIFY(dialog->isVisible());
        QMap<QString, QVariant> expected = storeBefore;
        expected.insert(QStringLiteral("OtherSettings/allowSavePassword"),
                        appSettings->allowSavePassword);
        QCOMPARE(storedValues().keys(), expected.keys());
        QCOMPARE(stored(QStringLiteral("OtherSettings/allowSavePassword")).toBool(),
                 appSettings->allowSavePassword);
        delete dialog;
    }

    void manualProxyIsStoredAndShownAgain()
    {
        appSettings->proxyMode = 0;
        QPointer<SysSettingWindow> dialog = openDialog();
        QVERIFY(child<QRadioButton>(dialog, "radioNoUseProxy")->isChecked());
        auto *host = child<QLineEdit>(dialog, "lineEditProxyHost");
        QVERIFY(!host->isEnabled());
        click(dialog, "radioManualConfig");
        for (const char *name : {"comboxProxyType", "lineEditProxyHost", "lineEditProxyPort",
                                 "lineEditProxyUserName", "lineEditProxyPasswd"})
            QVERIFY2(child<QWidget>(dialog, name)->isEnabled(), name);
        host->setText(QStringLiteral("  proxy.example  "));
        child<QLineEdit>(dialog, "lineEditProxyPort")->setText(QStringLiteral("8080"));
        click(dialog, "btnConfirm");
        QTRY_VERIFY(dialog.isNull());

        QCOMPARE(appSettings->proxyMode, 2);
        QCOMPARE(appSettings->proxyHost, QStringLiteral("proxy.example"));
        QCOMPARE(appSettings->proxyPort, 8080);
        QCOMPARE(stored(QStringLiteral("NetworkProxySettings/proxyMode")).toInt(), 2);
        QCOMPARE(stored(QStringLiteral("NetworkProxySettings/proxyHost")).toString(),
                 QStringLiteral("proxy.example"));
        QCOMPARE(stored(QStringLiteral("NetworkProxySettings/proxyPort")).toInt(), 8080);
        // Unchanged manual fields are not written.
        QVERIFY(!storedValues().contains(QStringLiteral("NetworkProxySettings/proxyUsername")));

        // Reopened: the values are back, the fields stay disabled until a click.
        dialog = openDialog();
        QVERIFY(child<QRadioButton>(dialog, "radioManualConfig")->isChecked());
        host = child<QLineEdit>(dialog, "lineEditProxyHost");
        QCOMPARE(host->text(), QStringLiteral("proxy.example"));
        QCOMPARE(child<QLineEdit>(dialog, "lineEditProxyPort")->text(), QStringLiteral("8080"));
        QVERIFY(!host->isEnabled());
        click(dialog, "radioNoUseProxy");
        QVERIFY(!host->isEnabled());
        click(dialog, "radioManualConfig");
        QVERIFY(host->isEnabled());

        // Only the host changes.
        host->setText(QStringLiteral("other.example"));
        click(dialog, "btnApply");
        QCOMPARE(stored(QStringLiteral("NetworkProxySettings/proxyHost")).toString(),
                 QStringLiteral("other.example"));
        QCOMPARE(stored(QStringLiteral("NetworkProxySettings/proxyMode")).toInt(), 2);
        QCOMPARE(stored(QStringLiteral("NetworkProxySettings/proxyPort")).toInt(), 8080);

        // A port that is no number is stored as 0.
        child<QLineEdit>(dialog, "lineEditProxyPort")->setText(QStringLiteral("80a"));
        click(dialog, "btnApply");
        QCOMPARE(appSettings->proxyPort, 0);
        QCOMPARE(stored(QStringLiteral("NetworkProxySettings/proxyPort")).toInt(), 0);

        // Leaving manual mode keeps the manual values as they were.
        click(dialog, "radioUseBrowserSetting");
        host->setText(QStringLiteral("ignored.example"));
        click(dialog, "btnApply");
        QCOMPARE(stored(QStringLiteral("NetworkProxySettings/proxyMode")).toInt(), 1);
        QCOMPARE(appSettings->proxyHost, QStringLiteral("other.example"));
        delete dialog;
    }

    void keyCaptureRule_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("changes");
        QTest::addColumn<QString>("result");
        const int ctrl = Qt::ControlModifier, shift = Qt::ShiftModifier, alt = Qt::AltModifier;
        QTest::newRow("Ctrl+Shift+K") << int(Qt::Key_K) << (ctrl | shift) << QStringLiteral("\x0b")
                                      << true << QStringLiteral("Ctrl+Shift+K");
        QTest::newRow("F5 alone") << int(Qt::Key_F5) << 0 << QString() << true
                                  << QStringLiteral("F5");
        QTest::newRow("modifier key alone clears")
            << int(Qt::Key_Control) << ctrl << QString() << true << QString();
        QTest::newRow("function key with modifiers clears")
            << int(Qt::Key_F5) << ctrl << QString() << true << QString();
        QTest::newRow("fixed order Ctrl, Shift, Alt")
            << int(Qt::Key_R) << (alt | shift | ctrl) << QStringLiteral("R") << true
            << QStringLiteral("Ctrl+Shift+Alt+R");
        QTest::newRow("Meta is left out")
            << int(Qt::Key_K) << int(Qt::MetaModifier | ctrl) << QStringLiteral("k") << true
            << QStringLiteral("Ctrl+K");
        QTest::newRow("key without a name keeps the field")
            << 0 << ctrl << QStringLiteral("x") << false << QString();
    }
    void keyCaptureRule()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, text);
        const std::optional<QString> result =
            SysSettingWindow::capturedShortcut(key, Qt::KeyboardModifiers(modifiers), text);
        QTEST(result.has_value(), "changes");
        if (result)
            QTEST(*result, "result");
    }

    void keysTypedIntoTheHotkeyField()
    {
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

        QTest::keyClick(field, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(field->text(), QStringLiteral("Ctrl+Shift+K"));
        // Keys a read-only field would otherwise keep for itself are captured too.
        QTest::keyClick(field, Qt::Key_Left);
        QCOMPARE(field->text(), QStringLiteral("Left"));
        QTest::keyClick(field, Qt::Key_F5);
        QCOMPARE(field->text(), QStringLiteral("F5"));

        // The quick-search field has no capture.
        auto *quick = child<QLineEdit>(dialog, "lineEditQuickSearchKey");
        const QString quickBefore = quick->text();
        quick->setFocus();
        QTRY_VERIFY(quick->hasFocus());
        QTest::keyClick(quick, Qt::Key_K, Qt::ControlModifier);
        QCOMPARE(quick->text(), quickBefore);
        QCOMPARE(field->text(), QStringLiteral("F5"));

        field->setFocus();
        QTRY_VERIFY(field->hasFocus());
        QTest::keyClick(field, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
        click(dialog, "btnApply");
        QCOMPARE(appSettings->openSoftware, QStringLiteral("Ctrl+Shift+K"));
        QCOMPARE(stored(QStringLiteral("ShortCutSettings/openSoftware")).toString(),
                 QStringLiteral("Ctrl+Shift+K"));
        // Registered again at once with the new combination.
        QVERIFY(m_browser->openSoftwareHotkey());
        QCOMPARE(m_browser->openSoftwareHotkey()->shortcut(),
                 QKeySequence(QStringLiteral("Ctrl+Shift+K")));
        delete dialog;
    }

    void unknownUpdateModeIsStoredAsAutomatic()
    {
        appSettings->updateMode = 7;
        SysSettingWindow *dialog = openDialog();
        for (const char *name : {"radioNoCheckUpdate", "radioNoticeUpdate", "radioAutoDownUpdate"})
            QVERIFY2(!child<QRadioButton>(dialog, name)->isChecked(), name);
        click(dialog, "btnApply");
        QCOMPARE(appSettings->updateMode, 2);
        QCOMPARE(stored(QStringLiteral("SoftwareUpdateSettings/updateMode")).toInt(), 2);

        click(dialog, "radioNoticeUpdate");
        click(dialog, "btnApply");
        QCOMPARE(stored(QStringLiteral("SoftwareUpdateSettings/updateMode")).toInt(), 1);
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
        QCOMPARE(seen.buttons.size(), 1);
        QVERIFY(history->isChecked());
        // The privacy boxes are not settings: nothing is pending.
        QVERIFY(dialog->pending().isEmpty());

        // Nothing checked: no box. A box would run inside the click, so the answerer would
        // have seen it by the time the click returns.
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
        QPointer<SysSettingWindow> dialog = openDialog();
        auto *field = child<QLineEdit>(dialog, "lineEditDownloadDir");
        QCOMPARE(field->text(), before);

        QString caption, start;
        QWidget *parent = nullptr;
        QString answer;
        dialog->setDirectoryAsker([&](QWidget *p, const QString &c, const QString &s) {
            parent = p;
            caption = c;
            start = s;
            return answer;
        });
        click(dialog, "btnChooseDownloadDir");
        QCOMPARE(parent, dialog.data());
        QCOMPARE(caption, QStringLiteral("选择文件夹"));
        QCOMPARE(start, before);
        QCOMPARE(field->text(), before);

        answer = target;
        click(dialog, "btnChooseDownloadDir");
        QCOMPARE(field->text(), QDir::toNativeSeparators(target));
        click(dialog, "btnCancel");
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(appSettings->downloadPath, before);
        QVERIFY(!storedValues().contains(QStringLiteral("DownloadSettings/downloadPath")));

        dialog = openDialog();
        answer = target;
        dialog->setDirectoryAsker(
            [&](QWidget *, const QString &, const QString &) { return answer; });
        click(dialog, "btnChooseDownloadDir");
        click(dialog, "btnConfirm");
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(appSettings->downloadPath, target);
        QCOMPARE(stored(QStringLiteral("DownloadSettings/downloadPath")).toString(), target);
    }

    void closedDialogIsForgotten()
    {
        MainWindow *window = m_browser->createWindow(MainWindow::SingleView, false);
        window->openSettingsDialog();
        QPointer<SysSettingWindow> dialog = window->settingsWindow();
        QVERIFY(dialog);
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        child<QListWidget>(dialog, "listSetting")->setFocus();
        QTest::keyClick(dialog, Qt::Key_Escape);
        QVERIFY(!window->settingsWindow());
        QTRY_VERIFY(dialog.isNull());

        // A fresh one opens, and the title-bar close forgets it as well.
        window->openSettingsDialog();
        dialog = window->settingsWindow();
        QVERIFY(dialog);
        dialog->close();
        QVERIFY(!window->settingsWindow());
        QTRY_VERIFY(dialog.isNull());

        window->setQuitRequested(true);
        window->close();
        delete window;
    }
};

NORVA_TEST_MAIN(TestSysSettingWindow)
#include "tst_syssettingwindow.moc"
