#pragma once

#include <QUrl>

class QWebEnginePage;

// The document the engine has committed in a page's main frame, told apart from what is only
// asked for. A page's url() names a typed or set address at once, seconds before its document
// commits (and keeps naming it when the load comes to nothing until the engine says so), and
// history()->currentItem() already points at a back/forward target while the document being
// left still runs. The history entry the engine stamped last is the one it committed.
class CommittedDocument
{
public:
    // The committed document's URL, from its history entry; empty before anything committed,
    // and when entries of different origins were stamped within the same millisecond.
    static QUrl url(const QWebEnginePage *page);
};
