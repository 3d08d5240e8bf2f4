#include "app/browser.h"
#include "app/resourceinit.h"
#include "mainwindow/mainwindow.h"
#include "platform/languagechoice.h"
#include "platform/namedmutex.h"
#include "platform/proxyconfig.h"
#include "platform/qtsingleapplication.h"
#include "store/appsettings.h"
#include "store/settingsstore.h"

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

    // Language and proxy are settled before the first window and the first web engine object:
    // the engine reads the application proxy only once, when it starts.
    QTranslator *translator = nullptr;
    {
        AppSettings startup;
        SettingsStore::load(startup);
        ProxyConfig::fromSettings(startup).apply();
        translator = LanguageChoice::install(startup.currentLang);
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

        browser.registerOpenSoftwareHotkey(window);

        window->initNoticeSound();
        window->loadUrl(QUrl(appSettings->defaultMainPage));
        window->show();
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
