#pragma once

#include <QPointer>
#include <QWebChannel>

// A web channel that leaves the GUI thread asleep while the page is idle.
//
// Qt WebChannel 5.15 starts a 50 ms property-update timer when the page's client reports idle
// and keeps it running for good even with nothing to send (and even with updates blocked). The
// bridge object has no properties to update, so this channel blocks updates for good and stops
// that timer the first time it fires: one tick per channel instead of twenty a second. Signals
// and method calls are not property updates and pass as before.
class QuietWebChannel : public QWebChannel
{
    Q_OBJECT
public:
    explicit QuietWebChannel(QObject *parent = nullptr);

    // The object inside Qt that owns the update timer; null if this Qt version has none.
    QObject *publisher() const { return m_publisher; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<QObject> m_publisher;
};
