#include "web/crashreloadbudget.h"

#include <chrono>
#include <utility>

CrashReloadBudget::CrashReloadBudget(Clock clock, int maxReloads, qint64 spanMs)
    : m_clock(std::move(clock)), m_maxReloads(maxReloads), m_spanMs(spanMs)
{
    if (!m_clock) {
        m_clock = [] {
            using namespace std::chrono;
            return qint64(
                duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
        };
    }
}

bool CrashReloadBudget::take()
{
    const qint64 now = m_clock();
    forgetOld(now);
    if (m_taken.size() >= m_maxReloads)
        return false;
    m_taken.append(now);
    return true;
}

int CrashReloadBudget::taken()
{
    forgetOld(m_clock());
    return m_taken.size();
}

void CrashReloadBudget::forgetOld(qint64 now)
{
    // A reload exactly one span ago no longer counts.
    while (!m_taken.isEmpty() && now - m_taken.first() >= m_spanMs)
        m_taken.removeFirst();
}
