#include "app/browser.h"

#include "bridge/webmessagehandler.h"
#include "downloads/downloadmanagerwidget.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/traycontroller.h"
#include "notify/noticeanswer.h"
#include "notify/noticeitem.h"
#include "notify/notifymanager.h"
#include "platform/proxyconfig.h"
#include "platform/qhotkey.h"
#include "store/appsettings.h"
#include "store/database.h"
#include "store/loginstoremigration.h"
#include "store/passwordvault.h"
#include "store/privatefiles.h"
#include "store/proxysecret.h"
#include "store/settingsstore.h"
#include "update/updater.h"
#include "web/webview.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTimer>
#include <QTimerEvent>
#include <QWebEngineProfile>
#include <climits>

Q_LOGGING_CATEGORY(lcApp, "norva.app")

namespace {

// Where older versions kept the saved logins.
QString oldLoginStoreFile()
{
    return Browser::loginStoreDirectory(
               QWebEngineProfile::defaultProfile()->persistentStoragePath()) +
           QStringLiteral("Databases.db");
}

} // namespace

Browser::Browser() : QObject(nullptr)
{
    appSettings = new AppSettings;
    m_notifyManager = new NotifyManager(this);
    m_notifyManager->setAnswerRelay(
        [this](const NoticeAnswer &answer) { return deliverNoticeAnswer(answer); });

    Updater::Host host;
    host.window = [this]() -> QWidget * { return firstMainWindow(); };
    host.setForceNotice = [this](const QJsonObject &config) { setForceNotice(config); };
    host.setNoticeStayTime = [this](int seconds) { setNoticeStayTime(seconds); };
    host.setCheckUpdateInterval = [this](int seconds) { setCheckUpdateInterval(seconds); };
    host.clearBrowsingData = [this] {
        if (MainWindow *window = firstMainWindow())
            window->clearBrowsingData(true, true, true);
    };
    host.loadUrl = [this](const QUrl &url) {
        if (MainWindow *window = firstMainWindow())
            window->loadUrl(url);
    };
    host.saveSettingsValue = [this](const QString &key, const QString &group, const QVariant &v) {
        saveSettingsValue(key, group, v);
    };
    host.quitAfterInstallerStarted = [this] { quitForInstaller(); };
    m_updater = new Updater(std::move(host), this);
    connect(m_updater, &Updater::backgroundStatus, this, &Browser::showUpdateStatus);
    m_checkTimerId = 0;
    m_checkUpdateInterval = 0;
    loadSettings();
    setCheckUpdateInterval(86400);
    // Before any page runs: a page's WebSQL would replace the folder of the old store.
    LoginStoreMigration::run(oldLoginStoreFile(), loginStoreFile());
}

DataBase *Browser::dataBase() const
{
    if (!m_dataBase) {
        const QFileInfo file(loginStoreFile());
        PrivateFiles::makeDirectory(file.path());
        m_dataBase = new DataBase(file.path() + QLatin1Char('/'), file.fileName());
        // Once the copies are sealed, the old file's scrambled passwords are the last ones a
        // copied disk would give away.
        connect(m_dataBase, &DataBase::passwordsSealed, m_dataBase, [] {
            LoginStoreMigration::blankOldPasswords(oldLoginStoreFile(), loginStoreFile());
        });
        // Its keys are read now, while the page that asked goes on loading.
        m_dataBase->setVault(new PasswordVault);
    }
    return m_dataBase;
}

void Browser::afterFirstLoad(MainWindow *window, std::function<void()> work, int fallbackMs)
{
    if (!window)
        return;
    WebView *view = window->currentView();
    if (!view) {
        work();
        return;
    }
    // One shot, whichever comes first; both die with the window.
    auto *once = new QObject(window);
    auto run = [once, work = std::move(work)] {
        if (once->property("started").toBool())
            return;
        once->setProperty("started", true);
        once->deleteLater();
        work();
    };
    connect(view, &QWebEngineView::loadFinished, once, run);
    QTimer::singleShot(fallbackMs, once, run);
}

Browser::~Browser()
{
    // A proxy password saved just before quitting is still on its way to the keyring.
    if (m_proxySecret)
        m_proxySecret->finishWrites(5000);
    delete appSettings;
    appSettings = nullptr;
    delete m_dataBase;
    m_dataBase = nullptr;
    delete m_downloadManagerWidget;
    m_windows.clear();
}

QString Browser::loginStoreDirectory(const QString &storagePath)
{
    QString path = storagePath;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path + QStringLiteral("databases/");
}

QString Browser::loginStoreFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/logins.db");
}

MainWindow *Browser::createWindow(int mode, bool show)
{
    auto *window = new MainWindow(this, QWebEngineProfile::defaultProfile(), mode);
    m_windows.append(window);
    window->setNoticeStayTime(m_noticeStayTime);
    connect(window, &QObject::destroyed, this, [this, window] { m_windows.removeOne(window); });
    if (show)
        window->show();
    return window;
}

MainWindow *Browser::createDevToolsWindow()
{
    return createWindow(MainWindow::DevTools, true);
}

void Browser::setupDownloadManager()
{
    if (m_downloadManagerWidget)
        return;
    m_downloadManagerWidget = new DownloadManagerWidget(nullptr);
    m_downloadManagerWidget->setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
    m_downloadManagerWidget->setAppSettings(appSettings);
    connect(QWebEngineProfile::defaultProfile(), &QWebEngineProfile::downloadRequested,
            m_downloadManagerWidget, &DownloadManagerWidget::downloadRequested);
}

MainWindow *Browser::firstMainWindow() const
{
    // Only a window this object still knows: the global may outlive the window it named.
    if (mainWindow && m_windows.contains(mainWindow))
        return mainWindow;
    for (MainWindow *window : m_windows) {
        if (window->displayMode() != MainWindow::DevTools)
            return window;
    }
    return nullptr;
}

void Browser::registerOpenSoftwareHotkey()
{
    delete m_hotkey;
    MainWindow *window = firstMainWindow();
    if (!window || appSettings->openSoftware.isEmpty())
        return;
    m_hotkey = new QHotkey(QKeySequence(appSettings->openSoftware, QKeySequence::NativeText), true,
                           window);
    if (m_hotkey->isRegistered()) {
        connect(m_hotkey, &QHotkey::activated, window, [window] {
            window->show();
            window->raise();
            window->activateWindow();
        });
    } else {
        window->showHotkeyFailedMessage();
    }
}

bool Browser::isForceNotice(int &targetType, int busicType, const QString &type) const
{
    if (!m_notifyManager)
        return false;
    return m_notifyManager->isForceNotice(targetType, busicType, type);
}

void Browser::addNotice(const NoticeItem &item)
{
    if (m_notifyManager)
        m_notifyManager->addNotice(item);
}

void Browser::setForceNotice(const QJsonObject &config)
{
    if (m_notifyManager)
        m_notifyManager->setForceNotice(config);
}

MainWindow *Browser::windowOf(const WebMessageHandler *messages) const
{
    for (MainWindow *window : m_windows) {
        if (window->messages() == messages)
            return window;
    }
    return nullptr;
}

bool Browser::deliverNoticeAnswer(const NoticeAnswer &answer)
{
    // The trust rule is asked here and again when the answer is sent.
    QPointer<WebMessageHandler> target = qobject_cast<WebMessageHandler *>(answer.source.data());
    if (!target || !target->isTrusted()) {
        MainWindow *first = firstMainWindow();
        target = first ? first->messages() : nullptr;
        if (target && !target->isTrusted())
            target = nullptr;
    }
    MainWindow *window = target ? windowOf(target) : firstMainWindow();
    if (!target) {
        static const char *const names[] = {"showMsgNotificationInHtml", "noticeReadInHtml",
                                            "receiveScheduleInHtml", "rejectScheduleInHtml"};
        qCWarning(lcApp).noquote()
            << "popup answer" << names[answer.kind]
            << "not delivered: neither the page that sent the notice nor the first main window "
               "shows the service";
        // The user asked to see the notice: at least the window comes up.
        if (answer.kind == NoticeAnswer::Detail && window)
            window->bringToFront();
        return false;
    }
    switch (answer.kind) {
    case NoticeAnswer::Detail:
        if (window)
            window->bringToFront();
        return target->sendNoticeDetail(answer.noticeJson);
    case NoticeAnswer::Read:
        return target->sendNoticeRead(answer.notifyId);
    case NoticeAnswer::Accept:
    case NoticeAnswer::Reject:
        if (!target->sendScheduleAnswer(answer.busicId, answer.kind == NoticeAnswer::Accept))
            return false;
        // The page shows the invitation next, in front.
        if (window)
            window->bringToFront();
        target->sendNoticeDetail(answer.noticeJson);
        return true;
    }
    return false;
}

void Browser::setNoticeStayTime(int seconds)
{
    m_noticeStayTime = seconds;
    for (MainWindow *window : qAsConst(m_windows))
        window->setNoticeStayTime(seconds);
}

void Browser::quitForInstaller()
{
    // The first main window's quit says goodbye to its page and closes the tools windows.
    if (MainWindow *window = firstMainWindow()) {
        window->setQuitRequested(true);
        window->close();
    } else {
        QCoreApplication::exit(0);
    }
}

void Browser::showUpdateStatus(const QString &status)
{
    MainWindow *window = firstMainWindow();
    if (QSystemTrayIcon *icon = window ? window->trayIcon() : nullptr)
        icon->setToolTip(status.isEmpty() ? tr("青隼") : tr("青隼") + QLatin1Char('\n') + status);
}

void Browser::setApplicationIconBadgeNumber(int number)
{
    if (mainWindow && mainWindow->tray())
        mainWindow->tray()->showUnreadCount(number);
}

void Browser::setCheckUpdateInterval(int seconds)
{
    if (seconds == m_checkUpdateInterval && m_checkTimerId > 0)
        return;
    if (seconds != m_checkUpdateInterval) {
        if (m_checkTimerId > 0)
            killTimer(m_checkTimerId);
        m_checkTimerId = 0;
        m_checkUpdateInterval = seconds;
    }
    // A server-sent period beyond what a Qt timer holds (about 24 days) is capped, not wrapped.
    const qint64 ms = qMin<qint64>(qint64(m_checkUpdateInterval) * 1000, INT_MAX);
    m_checkTimerId = startTimer(int(ms), Qt::CoarseTimer);
}

void Browser::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_checkTimerId)
        return;
    emit checkTimerFired();
    if (firstMainWindow())
        m_updater->checkVersion(true);
}

void Browser::loadSettings()
{
    m_settingsLoad = SettingsStore::load(*appSettings);
    if (!m_proxySecret) {
        m_proxySecret = new ProxySecret(this);
        // Read from the keyring after the start applied the proxy without it.
        connect(m_proxySecret, &ProxySecret::loaded, this, [](const QString &password) {
            if (!appSettings)
                return;
            appSettings->proxyPassword = password;
            ProxyConfig::fromSettings(*appSettings).apply();
        });
    }
    m_proxySecret->load();
}

QMessageBox *Browser::reportUnreadableSettings(QWidget *parent)
{
    if (!m_settingsLoad.unreadable || m_settingsProblemReported)
        return nullptr;
    m_settingsProblemReported = true;
    QString text = tr("原有设置无法读取，已恢复为默认设置。");
    if (!m_settingsLoad.keptCopy.isEmpty())
        text += QLatin1Char('\n') +
                tr("原设置文件已另存为：%1").arg(QDir::toNativeSeparators(m_settingsLoad.keptCopy));
    else
        text += QLatin1Char('\n') + tr("设置文件无法替换，修改的设置将不能保存。");
    auto *box = new QMessageBox(QMessageBox::Warning, tr("青隼"), text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return box;
}

bool Browser::saveSettingsGroup(const QVariantMap &values, const QString &group)
{
    const bool saved = SettingsStore::saveGroup(values, group);
    // The new combination works at once, not only after a restart.
    if (group == QLatin1String("ShortCutSettings") &&
        values.contains(QStringLiteral("openSoftware")))
        registerOpenSoftwareHotkey();
    return saved;
}

bool Browser::saveSettingsValue(const QString &key, const QString &group, const QVariant &value)
{
    return SettingsStore::saveValue(key, group, value);
}
