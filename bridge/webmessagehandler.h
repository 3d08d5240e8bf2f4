#pragma once

#include <QLoggingCategory>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <functional>

class DataBase;
class JsChannel;
class NotifyManager;
class QMediaPlayer;
class QUrl;
class QWebChannel;
class QWebEnginePage;

Q_DECLARE_LOGGING_CATEGORY(lcBridge)

// The client's side of one window's bridge: notices, saved logins, page state and the unread
// count. The channel stays on its page across navigations, so every call is weighed against the
// page that carries it at that moment: only the service's own pages may act on the client or
// receive private data.
class WebMessageHandler : public QObject
{
    Q_OBJECT
public:
    // Gives the saved-login store when a login is first saved or offered; opening it is no work
    // for the start-up.
    using DataBaseSource = std::function<DataBase *()>;

    // Publishes a new bridge object as "webobj" on the page. The handler owns the bridge object.
    WebMessageHandler(QWebEnginePage *page, DataBaseSource dataBase, NotifyManager *notifyManager,
                      bool hasTray, QObject *parent);
    ~WebMessageHandler() override;

    JsChannel *channel() const { return m_channel; }
    QWebChannel *webChannel() const { return m_webChannel; }
    QWebEnginePage *page() const { return m_page; }

    // Whether the document that the page carrying the channel has committed is one of the
    // service's own, right now.
    bool isTrusted() const;
    static bool isTrustedUrl(const QUrl &url);

    // A popup's answers to the notice it showed. Notice texts and ids are the user's own
    // business: they go back only to a page of the service. True when the page was sent it.
    bool sendNoticeDetail(const QString &noticeJson);
    bool sendNoticeRead(const QString &notifyId);
    bool sendScheduleAnswer(const QString &busicId, bool accept);

    void refreshPageState();
    void sendLoginInfoToPage();
    void initNoticeSound();

    // Notices need a tray; it may come up after the window.
    void setHasTray(bool hasTray) { m_hasTray = hasTray; }
    QString lastNoticeMessage() const { return m_lastNoticeMessage; }
    int noticeStayTime() const { return m_noticeStayTime; }
    void setNoticeStayTime(int seconds) { m_noticeStayTime = seconds; }
    int noticeSoundsPlayed() const { return m_noticeSoundsPlayed; }
    QMediaPlayer *noticePlayer() const { return m_noticePlayer; }

public slots:
    void handleWebNoticeMsg(const QString &strMsg);
    void handleSaveLoginInfo(const QString &strUserName, const QString &strPasswd);
    void handleDeleteLoginInfo(const QString &strUserName);
    void handleClearLoginInfo();
    void handleRequestLoginInfo();
    void handleSystemTraymessageClicked();

signals:
    void balloonRequested(const QString &title, const QString &text, int msecs);
    void unreadCountChanged(int count);
    void bringToFrontRequested();

private:
    // The gate of every page call ("Ignored") and of every answer to the page ("Withheld"):
    // false for a document not of the service, with one warning line per document and member.
    bool admit(const char *what, const char *refusal = "Ignored");

    QUrl documentUrl() const;
    DataBase *dataBase() const;
    void sendLoginInfoToLoginPage();
    void playNoticeSound();

    QPointer<QWebEnginePage> m_page;
    QString m_refusedOrigin;
    QSet<QByteArray> m_refusalsLogged;
    JsChannel *m_channel;
    QWebChannel *m_webChannel;
    DataBaseSource m_dataBaseSource;
    QPointer<NotifyManager> m_notifyManager;
    bool m_hasTray;
    QMediaPlayer *m_noticePlayer = nullptr;
    bool m_noticeSoundWanted = false;
    QString m_lastNoticeMessage;
    int m_noticeStayTime = 3;
    int m_noticeSoundsPlayed = 0;
};
