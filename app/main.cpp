#include "app/browser.h"
#include "app/resourceinit.h"
#include "mainwindow/mainwindow.h"
#include "platform/namedmutex.h"
#include "platform/qtsingleapplication.h"
#include "store/appsettings.h"

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

    // A plain second start hands its message to the running instance before paying for a GUI
    // application object; with arguments (or no instance listening) the full path below decides.
    if (argc <= 1 && QtSingleApplication::messageRunningInstance(
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
    qputenv("QTWEBENGINE_REMOTE_DEBUGGING", "34567");
    auto *mutex = new NamedMutex(QStringLiteral("{3C9A1F62-58D4-4B7E-9E21-7A0B5D4C8F13}"));
    QGuiApplication::setQuitOnLastWindowClosed(false);

    auto *translator = new QTranslator;
    if (translator->load(QStringLiteral(":zh_CN.qm"), QString(), QString(), QString()))
        QCoreApplication::installTranslator(translator);

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

        browser.registerOpenSoftwareHotkey(window);

        window->initNoticeSound();
        window->loadUrl(QUrl(appSettings->defaultMainPage));
        window->show();
        Browser::checkVersionAfterFirstLoad(window);

        exitCode = QApplication::exec();
        delete window;
        mainWindow = nullptr;
    }
    delete translator;
    delete mutex;
    delete app;
    return exitCode;
}
