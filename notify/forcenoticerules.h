#pragma once

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>

// The server's forced-notice configuration: which notices deserve a popup, of which type, and
// how long a popup stays. Plain data, no widgets, so any configuration can be tried directly.
class ForceNoticeRules
{
public:
    // The longest stay a server can ask for; beyond it the milliseconds would overflow an int.
    static constexpr int MaxStaySeconds = 24 * 60 * 60;

    // Replaces the configuration; "stayTime" is kept from before when the new one lacks it.
    void configure(const QJsonObject &config);
    // On true, targetType holds the popup type for the notice.
    bool matches(int &targetType, int busicType, const QString &type) const;

    bool isEmpty() const { return m_config.isEmpty(); }
    int stayTimeMs() const { return m_stayTimeMs; }
    QList<int> busicTypes() const { return m_busicTypes; }
    QMap<QString, int> noticeKeys() const { return m_noticeKeys; }

    // Milliseconds for a "stayTime" in seconds: below 2 gives 10 s, capped at one day.
    static int stayTimeFor(int seconds);

private:
    QJsonObject m_config;
    int m_stayTimeMs = 10000;
    QList<int> m_busicTypes;
    QMap<QString, int> m_noticeKeys;
};
