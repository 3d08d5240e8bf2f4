#pragma once

#include <QJsonObject>
#include <QObject>

#include "notify/noticeitem.h"

class JsChannel;

// Decides which notices become native popups and keeps at most three of them on screen.
class NotifyManager : public QObject
{
    Q_OBJECT
public:
    explicit NotifyManager(QObject *parent = nullptr);
    ~NotifyManager() override;

    void setForceNotice(JsChannel *channel, const QJsonObject &config);
    bool isForceNotice(int &targetType, int busicType, const QString &type) const;
    void addNotice(const NoticeItem &item);
};
