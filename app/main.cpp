#include "app/browser.h"
#include "app/commandline.h"
#include "app/resourceinit.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/traycontroller.h"
#include "platform/languagechoice.h"
#include "platform/namedmutex.h"
#include "platform/proxyconfig.h"
#include "platform/qtsingleapplication.h"
#include "settings/syssettingwindow.h"
#include "store/appsettings.h"
#include "store/settingsstore.h"
#include "web/engineflags.h"

#include <QIcon>
#include <QTranslator>
#include <QWebEngineSettings>

int main(int argc, char *argv[])
{
    QCoreApplication::setOrganizationName(QStringLiteral("Kestrel"));
    QCoreApplication::setApplicationName(QStringLiteral("Norva"));
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    QCoreApplication::setApplicationVersion(QStringLiteral(NORVA_VERSION));

    // --help and --version answer even while another instance runs; every other start of a
    // second instance only activates the first.
    const CommandLine::Options options = CommandLine::parse(CommandLine::rawArguments(argc, argv));
    if (CommandLine::printInformation(options, argc, argv))
        return 0;

    // A second start hands its message to the running instance before paying for a GUI
    // application object; with no instance listening the full path below decides.
    if (QtSingleApplication::messageRunningInstance(
            QStringLiteral("NORVA-{3C9A1F62-58D4-4B7E-9E21-7A0B5D4C8F13}"),
            QStringLiteral("raise_window_noop"), 3000))
        return 0;

    auto *app = new QtSingleApplication(
        QStringLiteral("NORVA-{3C9A1F62-58D4-4B7E-9E21-7A0B5D4C8F13}"), argc, argv);
    if (app->isRunning()) {
        app->sendMessage(QStringLiteral("raise_window_noop"), 3000);
        delete app;
        return 0;
    }

    initNorvaResources();
    // The debugging port lets anyone on this computer run script in the pages, so it opens only
    // when asked for: here, or by the user's own QTWEBENGINE_REMOTE_DEBUGGING. The developer
    // tools need none; they run inside the program.
    if (options.remoteDebuggingPort > 0)
        qputenv("QTWEBENGINE_REMOTE_DEBUGGING", QByteArray::number(options.remoteDebuggingPort));
    // Qt 5's engine keeps the page away from screen readers on Linux unless asked; it builds the
    // page's tree only while one is listening, so asking costs nothing otherwise.
    if (!qEnvironmentVariableIsSet("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY"))
        qputenv("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY", "1");
    auto *mutex = new NamedMutex(QStringLiteral("{3C9A1F62-58D4-4B7E-9E21-7A0B5D4C8F13}"));
    QGuiApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setDesktopFileName(QStringLiteral("example.kestrel.Norva"));

    // Language, proxy and the engine's switches are settled before the first window and the
    // first web engine object: the engine reads them only once, when it starts.
    QTranslator *translator = nullptr;
    {
        AppSettings stored;
        SettingsStore::peek(stored);
        ProxyConfig::fromSettings(stored).apply();
        translator = LanguageChoice::install(stored.currentLang);
        if (stored.isCompatibility)
            EngineFlags::enableCompatibilityMode();
    }

    QWebEngineSettings *webSettings = QWebEngineSettings::defaultSettings();
    webSettings->setAttribute(QWebEngineSettings::WebGLEnabled, true);
    webSettings->setAttribute(QWebEngineSettings::PluginsEnabled, true);
    webSettings->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, true);
    webSettings->setAttribute(QWebEngineSettings::LocalStorageEnabled, true);

    int exitCode = 0;
    {
        Browser browser;
        QApplication::setWindowIcon(QIcon(QStringLiteral(":AppIcon.ico")));

        MainWindow *window = browser.createWindow(startupDisplayMode(*appSettings), false);
        browser.setupDownloadManager();
        app->setActivationWindow(window, true);
        mainWindow = window;

        browser.registerOpenSoftwareHotkey();

        window->initNoticeSound();
        window->loadUrl(QUrl(appSettings->defaultMainPage));
        // Without a tray a hidden window could only be reached by a second start.
        if (!options.hidden || !window->tray())
            window->show();
        else
            window->tray()->showIcon(); // the only way to the hidden window
        browser.reportUnreadableSettings(window);
        // Rewritten at every start, so the entry always names this program where it is now;
        // the desktop reads it only at the next login, so it need not hold up the first page.
        Browser::afterFirstLoad(
            window, [window] { SysSettingWindow::applyAutoStart(appSettings->isAutoRun, window); });
        // At once: the forced-notice rules must be there before the page's first notices.
        window->checkVersion(true);

        exitCode = QApplication::exec();
        delete window;
        mainWindow = nullptr;
    }
    delete translator;
    delete mutex;
    delete app;
    return exitCode;
}
