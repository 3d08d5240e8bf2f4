#include "bridge/noticemessage.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {
QString stringOf(const QJsonObject &object, const char *key)
{
    return object.value(QLatin1String(key)).toString();
}
} // namespace

NoticeMessage NoticeMessage::parse(const QString &text)
{
    NoticeMessage message;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (document.isNull() || error.error != QJsonParseError::NoError)
        return message;
    message.parsed = true;
    const QJsonObject root = document.object(); // an array gives an empty object
    message.title = stringOf(root, "title");
    message.content = stringOf(root, "content");
    message.type = stringOf(root, "type");
    const QJsonObject extras = root.value(QLatin1String("extras")).toObject();
    message.busicType = extras.value(QLatin1String("busicType")).toInt(0);
    message.busicId = stringOf(extras, "busicId");
    message.startTime = stringOf(extras, "startTime");
    message.endTime = stringOf(extras, "endTime");
    message.notifyId = stringOf(extras, "notifyId");
    return message;
}

QString NoticeMessage::shortened(const QString &text)
{
    if (text.size() > 15)
        return text.left(15) + QStringLiteral("...");
    return text;
}
