#pragma once

#include <QObject>

// Whether the desktop has a tray host to put icons on, decided here for the whole program. A
// host that comes up after the program (an autostart at login before the panel) is noticed when
// it announces itself on X11: no polling, no wake-ups while there is nothing to watch.
class TrayAvailability : public QObject
{
    Q_OBJECT
public:
    static TrayAvailability *instance();

    // Asks the desktop; while there is no host, watches for one.
    bool isAvailable();

signals:
    // A host came up after isAvailable() had answered false.
    void appeared();

private:
    TrayAvailability();
    ~TrayAvailability() override;
    Q_INVOKABLE void recheck();
    void startWatching();
    void stopWatching();

    class Watcher;
    Watcher *m_watcher = nullptr;
    bool m_available = false;
};
