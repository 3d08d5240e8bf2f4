#include "platform/trayavailability.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QSystemTrayIcon>

#ifndef Q_OS_WIN
#include <QAbstractNativeEventFilter>
#include <QX11Info>
#include <xcb/xcb.h>
#endif

Q_LOGGING_CATEGORY(lcTray, "norva.tray")

#ifndef Q_OS_WIN
// A tray host that takes the selection _NET_SYSTEM_TRAY_S<screen> announces it with a MANAGER
// client message to the root window, which every client that listens for structure changes
// there receives.
class TrayAvailability::Watcher : public QAbstractNativeEventFilter
{
public:
    explicit Watcher(TrayAvailability *owner) : m_owner(owner)
    {
        xcb_connection_t *c = QX11Info::connection();
        m_manager = atom(c, "MANAGER");
        m_selection = atom(c, "_NET_SYSTEM_TRAY_S" + QByteArray::number(QX11Info::appScreen()));
        // Qt listens there already; make sure, without dropping what it asked for.
        const xcb_window_t root = QX11Info::appRootWindow();
        xcb_get_window_attributes_reply_t *attributes =
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, root), nullptr);
        if (attributes && !(attributes->your_event_mask & XCB_EVENT_MASK_STRUCTURE_NOTIFY)) {
            const uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
            xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
            xcb_flush(c);
        }
        free(attributes);
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~Watcher() override
    {
        if (QCoreApplication *app = QCoreApplication::instance())
            app->removeNativeEventFilter(this);
    }

    bool nativeEventFilter(const QByteArray &eventType, void *message, long *) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        auto *event = static_cast<xcb_generic_event_t *>(message);
        if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE)
            return false;
        auto *client = reinterpret_cast<xcb_client_message_event_t *>(event);
        if (client->type == m_manager && client->format == 32 &&
            client->data.data32[1] == m_selection)
            // After Qt has seen the message too: it looks for the tray window then.
            QMetaObject::invokeMethod(m_owner, "recheck", Qt::QueuedConnection);
        return false;
    }

private:
    static xcb_atom_t atom(xcb_connection_t *c, const QByteArray &name)
    {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 0, uint16_t(name.size()), name.constData()), nullptr);
        const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
        return result;
    }

    TrayAvailability *m_owner;
    xcb_atom_t m_manager = XCB_ATOM_NONE;
    xcb_atom_t m_selection = XCB_ATOM_NONE;
};
#else
// Windows always has its notification area.
class TrayAvailability::Watcher
{
public:
    explicit Watcher(TrayAvailability *) {}
};
#endif

TrayAvailability::TrayAvailability() : QObject(QCoreApplication::instance()) {}

TrayAvailability::~TrayAvailability()
{
    stopWatching();
}

TrayAvailability *TrayAvailability::instance()
{
    // A child of the application: it goes with it.
    static TrayAvailability *availability = new TrayAvailability;
    return availability;
}

bool TrayAvailability::isAvailable()
{
    if (!m_available) {
        m_available = QSystemTrayIcon::isSystemTrayAvailable();
        if (m_available)
            stopWatching();
        else
            startWatching();
    }
    return m_available;
}

void TrayAvailability::recheck()
{
    if (m_available || !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_available = true;
    stopWatching();
    qCInfo(lcTray) << "a tray host came up";
    emit appeared();
}

void TrayAvailability::startWatching()
{
#ifndef Q_OS_WIN
    if (!m_watcher && QX11Info::isPlatformX11())
        m_watcher = new Watcher(this);
#endif
}

void TrayAvailability::stopWatching()
{
    delete m_watcher;
    m_watcher = nullptr;
}
