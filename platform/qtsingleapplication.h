#pragma once

#include <QApplication>
#include <QPointer>
#include <QWidget>

class QLocalServer;
class QLocalSocket;
class QLockFile;

// One running instance per user and application id. The first instance owns a lock file and
// a local server in the user's runtime directory; later instances only deliver a message.
class QtSingleApplication : public QApplication
{
    Q_OBJECT
public:
    QtSingleApplication(const QString &appId, int &argc, char **argv);
    ~QtSingleApplication() override;

    QString id() const { return m_id; }
    // True when another process holds this id.
    bool isRunning() const;
    // Delivers the message to the running instance; answers whether it arrived in time.
    bool sendMessage(const QString &message, int timeout = 5000);
    // For a second start before any application object exists: when an instance of this id
    // listens, hands it the message (waiting at most timeout ms for its answer) and answers
    // true. False means none was found and the caller goes on through the lock file; an
    // instance that holds the lock but does not listen yet is found there.
    static bool messageRunningInstance(const QString &appId, const QString &message, int timeout);
    void setActivationWindow(QWidget *window, bool activateOnMessage = true);
    QWidget *activationWindow() const;

    // Names derived from the id and the user, so that users never share an instance.
    static QString serverName(const QString &appId);
    static QString lockFilePath(const QString &appId);
    // The file-name-safe part of both: a hash of the id and the given user.
    static QString instanceName(const QString &appId, const QString &user);

public slots:
    // Clears the minimised state, shows a hidden window, raises and activates it.
    void activateWindow();

signals:
    void messageReceived(const QString &message);

private:
    void startServer();
    void receiveConnection();
    void readMessage(QLocalSocket *socket);

    QString m_id;
    bool m_running = false;
    QLockFile *m_lock = nullptr;
    QLocalServer *m_server = nullptr;
    QPointer<QWidget> m_window;
    bool m_activateOnMessage = false;
};
