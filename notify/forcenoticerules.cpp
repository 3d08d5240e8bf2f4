#include "notify/forcenoticerules.h"

#include <QJsonArray>
#include <QJsonValue>

int ForceNoticeRules::stayTimeFor(int seconds)
{
    if (seconds < 2)
        return 10000;
    return qMin(seconds, MaxStaySeconds) * 1000;
}

void ForceNoticeRules::configure(const QJsonObject &cfg)
{
    m_config = cfg;
    m_busicTypes.clear();
    m_noticeKeys.clear();

    if (cfg.contains(QLatin1String("stayTime")))
        m_stayTimeMs = stayTimeFor(cfg.value(QLatin1String("stayTime")).toInt());
    if (cfg.contains(QLatin1String("busicTypes"))) {
        const QJsonArray types = cfg.value(QLatin1String("busicTypes")).toArray();
        for (const QJsonValue &value : types)
            m_busicTypes.append(value.toInt());
    }
    if (!cfg.contains(QLatin1String("noticeInfo")))
        return;
    const QJsonArray rules = cfg.value(QLatin1String("noticeInfo")).toArray();
    for (const QJsonValue &value : rules) {
        const QJsonObject rule = value.toObject();
        if (!rule.contains(QLatin1String("targetType")) ||
            !rule.contains(QLatin1String("busicType")) || !rule.contains(QLatin1String("key")))
            continue;
        const int targetType = rule.value(QLatin1String("targetType")).toInt();
        const int busicType = rule.value(QLatin1String("busicType")).toInt();
        if (targetType == -1 || busicType == -1)
            continue;
        const QJsonArray keys = rule.value(QLatin1String("key")).toArray();
        for (const QJsonValue &key : keys) {
            const QString text = key.toString();
            if (!text.isEmpty())
                m_noticeKeys[QString::number(busicType) + QLatin1Char('-') + text] = targetType;
        }
    }
}

bool ForceNoticeRules::matches(int &targetType, int busicType, const QString &type) const
{
    if (m_config.isEmpty())
        return false;
    if (!m_busicTypes.contains(busicType) || (busicType != 2 && busicType != 6))
        return false;
    const QString candidate = QString::number(busicType) + QLatin1Char('-') + type;
    for (auto it = m_noticeKeys.constBegin(); it != m_noticeKeys.constEnd(); ++it) {
        const QString &key = it.key();
        const QString prefix = key.endsWith(QLatin1Char('*')) ? key.chopped(1) : key;
        if (candidate.startsWith(prefix)) {
            targetType = it.value();
            return true;
        }
    }
    return false;
}
