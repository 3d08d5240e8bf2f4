#include "bridge/jschannel.h"

void JsChannel::sendJsonMsgFromHtml(const QJsonObject &jsonDataF)
{
    emit recvJsonMsgFromHtml(jsonDataF);
}

void JsChannel::sendMsgFromHtml(const QString &strMsg)
{
    emit recvMsgFromHtml(strMsg);
}

void JsChannel::sendMsgFromHtml(bool bFlag)
{
    emit recvBoolMsgFromHtml(bFlag);
}

void JsChannel::saveLoginInfoFromHtml(const QString &strUserName, const QString &strPasswd)
{
    emit recvLoginInfoFromHtml(strUserName, strPasswd);
}

void JsChannel::requestLoginInfoFromHtml()
{
    emit recvRequestLoginInfoFromHtml();
}

void JsChannel::deleteLoginInfoFromHtml(const QString &strUserName)
{
    emit recvDeleteLoginInfoFromHtml(strUserName);
}

void JsChannel::clearLoginInfoFromHtml()
{
    emit recvClearLoginInfoFromHtml();
}

void JsChannel::setNoReadMsgCount(int nMsgCount)
{
    emit recvNoReadMsgCountFromHtml(nMsgCount);
}
