#include "bridge/webmessagehandler.h"

#include "bridge/jschannel.h"
#include "bridge/noticemessage.h"
#include "bridge/quietwebchannel.h"
#include "notify/noticeitem.h"
#include "notify/notifymanager.h"
#include "store/appsettings.h"
#include "store/database.h"
#include "store/serviceurl.h"
#include "web/committeddocument.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMediaPlayer>
#include <QUrl>
#include <QWebChannel>
#include <QWebEngineHistory>
#include <QWebEnginePage>

Q_LOGGING_CATEGORY(lcBridge, "norva.bridge")

namespace {
// A server may ask for any stay time; a balloon never stays longer than a day.
constexpr qint64 maxBalloonMsecs = 24 * 60 * 60 * 1000;

QString originOf(const QUrl &url)
{
    if (url.isEmpty())
        return QStringLiteral("(none committed)");
    return url
        .adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery |
                  QUrl::RemoveFragment)
        .toString();
}
} // namespace

WebMessageHandler::WebMessageHandler(QWebEnginePage *page, DataBaseSource dataBase,
                                     NotifyManager *notifyManager, bool hasTray, QObject *parent)
    : QObject(parent), m_page(page), m_channel(new JsChannel(this)),
      m_webChannel(new QuietWebChannel(this)), m_dataBaseSource(std::move(dataBase)),
      m_notifyManager(notifyManager), m_hasTray(hasTray)
{
    m_webChannel->registerObject(QStringLiteral("webobj"), m_channel);
    if (page) {
        page->setWebChannel(m_webChannel);
        // A new document may be refused again, and is told so once more in the log.
        connect(page, &QWebEnginePage::loadStarted, this, [this] { m_refusalsLogged.clear(); });
        connect(page, &QWebEnginePage::renderProcessTerminated, this,
                [this] { m_refusalsLogged.clear(); });
    }

    // Every page call that acts on the client passes the gate first.
    connect(m_channel, &JsChannel::recvMsgFromHtml, this, [this](const QString &message) {
        if (admit("sendMsgFromHtml"))
            handleWebNoticeMsg(message);
    });
    connect(m_channel, &JsChannel::recvLoginInfoFromHtml, this,
            [this](const QString &user, const QString &password) {
                if (admit("saveLoginInfoFromHtml"))
                    handleSaveLoginInfo(user, password);
            });
    connect(m_channel, &JsChannel::recvDeleteLoginInfoFromHtml, this, [this](const QString &user) {
        if (admit("deleteLoginInfoFromHtml"))
            handleDeleteLoginInfo(user);
    });
    connect(m_channel, &JsChannel::recvClearLoginInfoFromHtml, this, [this] {
        if (admit("clearLoginInfoFromHtml"))
            handleClearLoginInfo();
    });
    connect(m_channel, &JsChannel::recvNoReadMsgCountFromHtml, this, [this](int count) {
        if (admit("setNoReadMsgCount"))
            emit unreadCountChanged(count);
    });
    // A page that connects after the client's push can still ask for the list.
    connect(m_channel, &JsChannel::recvRequestLoginInfoFromHtml, this, [this] {
        if (admit("requestLoginInfoFromHtml"))
            handleRequestLoginInfo();
    });
    // The generic messages have no receiver, but are still weighed so that a foreign page's
    // attempts show in the log.
    connect(m_channel, &JsChannel::recvJsonMsgFromHtml, this,
            [this] { admit("sendJsonMsgFromHtml"); });
    connect(m_channel, &JsChannel::recvBoolMsgFromHtml, this, [this] { admit("sendMsgFromHtml"); });
}

WebMessageHandler::~WebMessageHandler()
{
    // The page may outlive this handler (it belongs to a view); it must not keep the channel.
    if (m_page && m_page->webChannel() == m_webChannel)
        m_page->setWebChannel(nullptr);
}

bool WebMessageHandler::isTrustedUrl(const QUrl &url)
{
    return ServiceUrl::isServiceOrigin(url);
}

QUrl WebMessageHandler::documentUrl() const
{
    return CommittedDocument::url(m_page);
}

bool WebMessageHandler::isTrusted() const
{
    // Judged on the document the engine has committed: an address only asked for (typed, set
    // by the client, a history step under way) lends no trust. The current history entry must
    // agree: it names the committed document too, except during a history step (then trust is
    // withheld until the step commits), and it does not depend on the wall clock, which the
    // entries' stamps do (a clock set back could otherwise make an older entry look newest).
    return m_page && isTrustedUrl(documentUrl()) &&
           isTrustedUrl(m_page->history()->currentItem().url());
}

void WebMessageHandler::sendLoginInfoToLoginPage()
{
    if (appSettings && appSettings->allowSavePassword &&
        documentUrl().toString().endsWith(QLatin1String("/login")))
        sendLoginInfoToPage();
}

bool WebMessageHandler::admit(const char *what, const char *refusal)
{
    const QUrl document = documentUrl();
    if (m_page && isTrustedUrl(document))
        return true;
    // A page calling in a loop must not flood the log: one line per document and member.
    const QString origin = m_page ? originOf(document) : QStringLiteral("(none)");
    if (origin != m_refusedOrigin) {
        m_refusedOrigin = origin;
        m_refusalsLogged.clear();
    }
    const QByteArray key = QByteArray(refusal) + ' ' + what;
    if (!m_refusalsLogged.contains(key)) {
        m_refusalsLogged.insert(key);
        qCWarning(lcBridge).noquote()
            << refusal << what << "from a page outside the service:" << origin;
    }
    return false;
}

void WebMessageHandler::initNoticeSound()
{
    // The media back end costs a tenth of a second and megabytes at start; nobody hears it
    // before the first notice, so it is built then.
    m_noticeSoundWanted = true;
}

void WebMessageHandler::playNoticeSound()
{
    ++m_noticeSoundsPlayed;
    if (!m_noticeSoundWanted)
        return;
    if (!m_noticePlayer) {
        m_noticePlayer = new QMediaPlayer(this);
        m_noticePlayer->setMedia(QUrl(QStringLiteral("qrc:/notice.mp3")));
    }
    m_noticePlayer->play();
}

void WebMessageHandler::handleWebNoticeMsg(const QString &strMsg)
{
    if (strMsg.isEmpty() || !m_hasTray)
        return;
    const NoticeMessage message = NoticeMessage::parse(strMsg);
    if (!message.parsed)
        return;
    m_lastNoticeMessage = strMsg;
    if (!message.title.isEmpty() && !message.content.isEmpty()) {
        int targetType = 0;
        if (m_notifyManager &&
            m_notifyManager->isForceNotice(targetType, message.busicType, message.type)) {
            NoticeItem item;
            item.targetType = targetType;
            item.title = message.title;
            item.content = message.content;
            item.busicId = message.busicId;
            item.startTime = message.startTime;
            item.endTime = message.endTime;
            item.noticeJson = strMsg;
            item.notifyId = message.notifyId;
            item.source = this; // its answers come back to this page
            m_notifyManager->addNotice(item);
        } else {
            const qint64 msecs =
                qBound<qint64>(0, qint64(m_noticeStayTime) * 1000, maxBalloonMsecs);
            emit balloonRequested(NoticeMessage::shortened(message.title),
                                  NoticeMessage::shortened(message.content), int(msecs));
        }
    }
    if (appSettings && appSettings->isSysNoticeVoice)
        playNoticeSound();
}

DataBase *WebMessageHandler::dataBase() const
{
    return m_dataBaseSource ? m_dataBaseSource() : nullptr;
}

void WebMessageHandler::handleSaveLoginInfo(const QString &strUserName, const QString &strPasswd)
{
    DataBase *store = strUserName.isEmpty() || strPasswd.isEmpty() ? nullptr : dataBase();
    if (!store)
        return;
    store->saveLoginInfo(strUserName, strPasswd);
    sendLoginInfoToPage();
}

void WebMessageHandler::handleDeleteLoginInfo(const QString &strUserName)
{
    if (DataBase *store = dataBase())
        store->deleteLoginInfo(strUserName);
}

void WebMessageHandler::handleClearLoginInfo()
{
    if (DataBase *store = dataBase())
        store->clearLoginInfo();
}

void WebMessageHandler::handleRequestLoginInfo()
{
    if (appSettings && appSettings->allowSavePassword)
        sendLoginInfoToPage();
}

void WebMessageHandler::handleSystemTraymessageClicked()
{
    if (m_lastNoticeMessage.isEmpty())
        return;
    // The notice text is the user's own business: it goes back only to a page of the service.
    if (isTrusted())
        emit m_channel->showMsgNotificationInHtml(m_lastNoticeMessage);
    m_lastNoticeMessage.clear();
    emit bringToFrontRequested();
}

bool WebMessageHandler::sendNoticeDetail(const QString &noticeJson)
{
    if (!admit("showMsgNotificationInHtml", "Withheld"))
        return false;
    emit m_channel->showMsgNotificationInHtml(noticeJson);
    return true;
}

bool WebMessageHandler::sendNoticeRead(const QString &notifyId)
{
    if (!admit("noticeReadInHtml", "Withheld"))
        return false;
    emit m_channel->noticeReadInHtml(notifyId);
    return true;
}

bool WebMessageHandler::sendScheduleAnswer(const QString &busicId, bool accept)
{
    if (!admit(accept ? "receiveScheduleInHtml" : "rejectScheduleInHtml", "Withheld"))
        return false;
    if (accept)
        emit m_channel->receiveScheduleInHtml(busicId);
    else
        emit m_channel->rejectScheduleInHtml(busicId);
    return true;
}

void WebMessageHandler::refreshPageState()
{
    // The page state is the client's own news: a document outside the service hears none.
    if (!appSettings || !isTrusted())
        return;
    emit m_channel->setClientVersionInHtml(QStringLiteral(NORVA_VERSION));
    if (appSettings->isSysNotice)
        emit m_channel->enableWebNotice(true);
    if (!appSettings->allowSavePassword)
        return;
    emit m_channel->enableSaveLoginInfoInHtml(true);
    QPointer<WebMessageHandler> self(this);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    // The wait may have let the window (and this handler with it) go.
    if (self)
        sendLoginInfoToLoginPage();
}

void WebMessageHandler::sendLoginInfoToPage()
{
    // Clear-text passwords only ever go to the service's own pages, judged at this moment.
    if (!isTrusted())
        return;
    DataBase *store = dataBase();
    if (!store)
        return;
    // The keyring may not have answered yet: the list goes when it has, trust weighed again.
    if (!store->passwordsReadable()) {
        store->whenPasswordsReadable(this, [this] { sendLoginInfoToPage(); });
        return;
    }
    QList<QPair<QString, QString>> logins;
    store->getLoginInfos(logins);
    QJsonArray array;
    for (const auto &login : qAsConst(logins)) {
        QJsonObject entry;
        entry.insert(QStringLiteral("telephone"), login.first);
        entry.insert(QStringLiteral("password"), login.second);
        array.append(entry);
    }
    if (array.isEmpty())
        return;
    emit m_channel->recvLoginInfoInHtml(
        QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact)));
}
