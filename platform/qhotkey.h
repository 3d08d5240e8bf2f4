#pragma once

#include <QKeySequence>
#include <QObject>

// A system-wide hotkey. On X11 a passive grab on the root window, on Windows RegisterHotKey.
class QHotkey : public QObject
{
    Q_OBJECT
public:
    explicit QHotkey(const QKeySequence &shortcut, bool autoRegister = false,
                     QObject *parent = nullptr);
    ~QHotkey() override;

    QKeySequence shortcut() const { return m_shortcut; }
    bool isRegistered() const { return m_registered; }
    bool setRegistered(bool registered);

signals:
    void activated();

private:
    class Private;
    friend class Private;
    QKeySequence m_shortcut;
    bool m_registered = false;
    Private *d = nullptr;
};
