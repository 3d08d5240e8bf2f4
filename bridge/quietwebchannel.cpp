#include "bridge/quietwebchannel.h"

#include <QEvent>

QuietWebChannel::QuietWebChannel(QObject *parent) : QWebChannel(parent)
{
    setBlockUpdates(true);
    for (QObject *child : children()) {
        if (qstrcmp(child->metaObject()->className(), "QMetaObjectPublisher") == 0) {
            m_publisher = child;
            child->installEventFilter(this);
            break;
        }
    }
}

bool QuietWebChannel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_publisher || event->type() != QEvent::Timer)
        return QWebChannel::eventFilter(watched, event);
    // Unblocking sends what is pending (nothing: no properties) and blocking again stops the
    // timer. The client stays "idle" inside Qt, so its later idle reports start nothing.
    setBlockUpdates(false);
    setBlockUpdates(true);
    return true;
}
