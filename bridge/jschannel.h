#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>

// The object published to the page as "webobj". Client-to-page traffic are the *InHtml signals
// (and enableWebNotice); every slot the page calls only re-emits its *FromHtml signal, so a page
// never runs client code directly.
class JsChannel : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    void recvJsonMsgInHtml(const QJsonObject &jsonDataT);
    void recvMsgInHtml(const QString &strMsg);
    void recvBoolMsgInHtml(bool bFlag);
    void enableWebNotice(bool bFlag);
    void enableSaveLoginInfoInHtml(bool bFlag);
    void recvLoginInfoInHtml(const QString &strLoginInfo);
    void showMsgNotificationInHtml(const QString &strMsg);
    void receiveScheduleInHtml(const QString &strId);
    void rejectScheduleInHtml(const QString &strId);
    void noticeReadInHtml(const QString &strId);
    void setClientVersionInHtml(const QString &strVer);
    void logoutWsNoticeCenterInHtml();

    void recvJsonMsgFromHtml(const QJsonObject &jsonDataF);
    void recvMsgFromHtml(const QString &strMsg);
    void recvBoolMsgFromHtml(bool bFlag);
    void recvLoginInfoFromHtml(const QString &strUserName, const QString &strPasswd);
    void recvRequestLoginInfoFromHtml();
    void recvDeleteLoginInfoFromHtml(const QString &strUserName);
    void recvClearLoginInfoFromHtml();
    void recvNoReadMsgCountFromHtml(int nMsgCount);

public slots:
    void sendJsonMsgFromHtml(const QJsonObject &jsonDataF);
    void sendMsgFromHtml(const QString &strMsg);
    void sendMsgFromHtml(bool bFlag);
    void saveLoginInfoFromHtml(const QString &strUserName, const QString &strPasswd);
    void requestLoginInfoFromHtml();
    void deleteLoginInfoFromHtml(const QString &strUserName);
    void clearLoginInfoFromHtml();
    void setNoReadMsgCount(int nMsgCount);
};
