#include "web/committeddocument.h"

#include <QDateTime>
#include <QWebEngineHistory>
#include <QWebEnginePage>

namespace {
bool sameOrigin(const QUrl &a, const QUrl &b)
{
    return a.scheme() == b.scheme() && a.host() == b.host() && a.port() == b.port();
}
} // namespace

QUrl CommittedDocument::url(const QWebEnginePage *page)
{
    if (!page)
        return QUrl();
    // The engine stamps an entry when a navigation to it commits (a new page, a back/forward
    // step, a reload, a fragment); a pending navigation stamps nothing.
    QUrl newest;
    qint64 newestStamp = 0;
    bool found = false;
    bool ambiguous = false;
    const QList<QWebEngineHistoryItem> items = page->history()->items();
    for (const QWebEngineHistoryItem &item : items) {
        if (!item.isValid())
            continue;
        const qint64 stamp = item.lastVisited().toMSecsSinceEpoch();
        if (!found || stamp > newestStamp) {
            newest = item.url();
            newestStamp = stamp;
            found = true;
            ambiguous = false;
        } else if (stamp == newestStamp && !sameOrigin(item.url(), newest)) {
            ambiguous = true;
        }
    }
    return ambiguous ? QUrl() : newest;
}
