#include "notify/notifymanager.h"

// Placeholder until the popups land.
NotifyManager::NotifyManager(QObject *parent) : QObject(parent) {}

NotifyManager::~NotifyManager() = default;

void NotifyManager::setForceNotice(JsChannel *, const QJsonObject &) {}

bool NotifyManager::isForceNotice(int &, int, const QString &) const
{
    return false;
}

void NotifyManager::addNotice(const NoticeItem &) {}
