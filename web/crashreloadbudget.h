#pragma once

#include <QVector>
#include <QtGlobal>

#include <functional>

// How many automatic reloads a view may still make after its render process ended: at most
// maxReloads in any span of spanMs, so a page that keeps dying does not reload in a loop.
class CrashReloadBudget
{
public:
    // Milliseconds on a monotonic clock.
    using Clock = std::function<qint64()>;

    explicit CrashReloadBudget(Clock clock = {}, int maxReloads = 3,
                               qint64 spanMs = 10 * 60 * 1000);

    // Takes one reload and answers true, or answers false when the budget is spent.
    bool take();
    // Reloads taken within the last span.
    int taken();
    int maxReloads() const { return m_maxReloads; }

private:
    void forgetOld(qint64 now);

    Clock m_clock;
    int m_maxReloads;
    qint64 m_spanMs;
    QVector<qint64> m_taken; // oldest first
};
