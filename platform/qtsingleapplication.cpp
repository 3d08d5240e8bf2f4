#include "platform/qtsingleapplication.h"

// Placeholder until the real implementation lands.
QtSingleApplication::QtSingleApplication(const QString &appId, int &argc, char **argv)
    : QApplication(argc, argv), m_id(appId)
{}

QtSingleApplication::~QtSingleApplication() = default;

bool QtSingleApplication::isRunning() const
{
    return m_running;
}

bool QtSingleApplication::sendMessage(const QString &, int)
{
    return false;
}

void QtSingleApplication::setActivationWindow(QWidget *window, bool activateOnMessage)
{
    m_window = window;
    m_activateOnMessage = activateOnMessage;
}

QWidget *QtSingleApplication::activationWindow() const
{
    return m_window;
}

QString QtSingleApplication::serverName(const QString &appId)
{
    return appId;
}

QString QtSingleApplication::lockFilePath(const QString &appId)
{
    return appId;
}

void QtSingleApplication::activateWindow() {}

void QtSingleApplication::receiveConnection() {}
