#include "platform/qtsingleapplication.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QX11Info>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>
#endif

namespace {

// Wire format: a quint32 byte count (big endian) followed by the UTF-8 text; the receiver
// answers with one acknowledgement byte once the whole text arrived.
const char ackByte = '\x06';
// Anything larger is not a message from a second start; the connection is dropped.
const quint32 maxMessageBytes = 1 << 20;
// A peer that connects but never finishes its message is cut off after this long.
const int peerTimeoutMs = 10000;

QString currentUser()
{
#ifdef Q_OS_WIN
    return qEnvironmentVariable("USERDOMAIN") + QLatin1Char('\\') +
           qEnvironmentVariable("USERNAME");
#else
    // The uid, not $USER: the environment can be changed, the uid cannot.
    return QStringLiteral("uid:%1").arg(::getuid());
#endif
}

#ifndef Q_OS_WIN
// The longest path a local socket can be bound to: sun_path holds the terminating zero too.
const int maxSocketPath = int(sizeof(sockaddr_un::sun_path)) - 1;

// A folder of this user's in the temporary directory, for when the runtime directory cannot
// serve. Made 0700 when missing; one that is there already is used only when it is a real
// folder (no link), owned by this user and closed to everybody else, so nobody else can place,
// replace or reach a socket in it. Empty when there is no such folder.
QString privateTempDirectory()
{
    const QString path = QDir::tempPath() + QStringLiteral("/qtsingleapp-%1").arg(::getuid());
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return QString();
    struct stat st = {};
    if (::lstat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & 07777) != 0700) {
        qWarning("QtSingleApplication: %s is not a private folder of this user; not using it",
                 native.constData());
        return QString();
    }
    return path;
}
#endif

QString runtimeDirectory()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!dir.isEmpty()) {
        QDir().mkpath(dir);
        return dir;
    }
#ifdef Q_OS_WIN
    return QDir::tempPath();
#else
    return privateTempDirectory();
#endif
}

void dropPeer(QLocalSocket *socket)
{
    socket->abort();
    socket->deleteLater();
}

QByteArray frame(const QString &message)
{
    const QByteArray text = message.toUtf8();
    QByteArray out;
    QDataStream stream(&out, QIODevice::WriteOnly);
    stream << quint32(text.size());
    out.append(text);
    return out;
}

#ifndef Q_OS_WIN
// Another X client (a pager, a script) can unmap the window without Qt noticing; Qt then still
// counts it as shown and show() does nothing, so map it back directly.
void mapIfUnmappedOutsideQt(QWidget *window)
{
    if (!QX11Info::isPlatformX11() || !window->isVisible() || !window->internalWinId())
        return;
    xcb_connection_t *connection = QX11Info::connection();
    const xcb_window_t id = xcb_window_t(window->internalWinId());
    xcb_get_window_attributes_reply_t *attributes = xcb_get_window_attributes_reply(
        connection, xcb_get_window_attributes(connection, id), nullptr);
    if (attributes && attributes->map_state == XCB_MAP_STATE_UNMAPPED) {
        xcb_map_window(connection, id);
        xcb_flush(connection);
    }
    free(attributes);
}
#endif

} // namespace

QtSingleApplication::QtSingleApplication(const QString &appId, int &argc, char **argv)
    : QApplication(argc, argv), m_id(appId)
{
    m_lock = new QLockFile(lockFilePath(appId));
    // Staleness is judged only by whether the recorded process still lives: an age limit
    // would let a second start break the lock of a primary that has simply run for a while.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) {
        startServer();
        return;
    }
    if (m_lock->error() == QLockFile::LockFailedError) {
        m_running = true;
        return;
    }
    // The lock file cannot be written at all (broken runtime directory). Ask the server
    // directly; if nobody answers, run rather than refuse to start.
    QLocalSocket probe;
    probe.connectToServer(serverName(appId));
    if (probe.waitForConnected(500)) {
        m_running = true;
        return;
    }
    qWarning("QtSingleApplication: cannot create the lock file %s",
             qPrintable(QDir::toNativeSeparators(lockFilePath(appId))));
    startServer();
}

QtSingleApplication::~QtSingleApplication()
{
    if (m_server)
        m_server->close();
    delete m_server;
    delete m_lock; // unlocks and removes the file when held
}

void QtSingleApplication::startServer()
{
    const QString name = serverName(m_id);
    if (name.isEmpty()) {
        qWarning("QtSingleApplication: no private folder for the socket; a second start cannot "
                 "reach this instance");
        return;
    }
    m_server = new QLocalServer;
    // Only the holder of the lock gets here, so a socket left at this name belongs to a
    // previous instance that died without cleaning up.
    QLocalServer::removeServer(name);
    if (!m_server->listen(name)) {
        qWarning("QtSingleApplication: cannot listen on %s: %s", qPrintable(name),
                 qPrintable(m_server->errorString()));
        return;
    }
    connect(m_server, &QLocalServer::newConnection, this, &QtSingleApplication::receiveConnection);
}

bool QtSingleApplication::isRunning() const
{
    return m_running;
}

bool QtSingleApplication::sendMessage(const QString &message, int timeout)
{
    const QString name = serverName(m_id);
    if (!m_running || name.isEmpty())
        return false;
    // A negative timeout waits without limit, as Qt's own waitFor* calls do.
    const QDeadlineTimer deadline =
        timeout < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(qint64(timeout));
    auto remaining = [&deadline] {
        return deadline.isForever() ? -1 : int(qMax<qint64>(deadline.remainingTime(), 0));
    };
    QLocalSocket socket;
    // The primary may hold the lock but not listen yet (it has just started): keep trying.
    int pause = 5;
    for (;;) {
        socket.connectToServer(name);
        if (socket.waitForConnected(remaining()))
            break;
        socket.abort();
        if (deadline.hasExpired())
            return false;
        const int left = remaining();
        QThread::msleep(quint64(left < 0 ? pause : qMin(pause, left)));
        pause = qMin(pause * 2, 100);
    }

    socket.write(frame(message));
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(remaining()))
            return false;
    }
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(remaining()))
            return false;
    }
    char answer = 0;
    const bool delivered = socket.getChar(&answer) && answer == ackByte;
    socket.disconnectFromServer();
    return delivered;
}

#ifndef Q_OS_WIN
namespace {

int remainingMs(const QDeadlineTimer &deadline)
{
    return deadline.isForever() ? -1 : int(qMax<qint64>(deadline.remainingTime(), 0));
}

// Waits until the descriptor is ready for the given events; false on time-out or error.
bool waitFor(int fd, short events, const QDeadlineTimer &deadline)
{
    for (;;) {
        pollfd entry = {fd, events, 0};
        const int ready = ::poll(&entry, 1, remainingMs(deadline));
        if (ready > 0)
            return (entry.revents & events) != 0;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

} // namespace
#endif

bool QtSingleApplication::messageRunningInstance(const QString &appId, const QString &message,
                                                 int timeout)
{
#ifdef Q_OS_WIN
    // Pipes need Qt's socket classes, and those an application object.
    Q_UNUSED(appId)
    Q_UNUSED(message)
    Q_UNUSED(timeout)
    return false;
#else
    // Plain sockets: Qt's need an event dispatcher, which does not exist yet.
    const QByteArray path = QFile::encodeName(serverName(appId));
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || path.size() > maxSocketPath)
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    const QDeadlineTimer deadline =
        timeout < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(qint64(timeout));
    for (;;) {
        // EISCONN: an interrupted attempt that completed meanwhile.
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) == 0 ||
            errno == EISCONN)
            break;
        // A full backlog means a live but busy instance: keep knocking until the deadline.
        if (errno == EINTR || (errno == EAGAIN && !deadline.hasExpired())) {
            ::usleep(2000);
            continue;
        }
        // No socket, or one left behind by a killed instance.
        ::close(fd);
        return false;
    }

    // Someone listens: whatever happens to the message now, an instance runs.
    const QByteArray data = frame(message);
    qint64 sent = 0;
    while (sent < data.size()) {
        const ssize_t n =
            ::send(fd, data.constData() + sent, size_t(data.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN && waitFor(fd, POLLOUT, deadline)) {
            continue;
        } else {
            break;
        }
    }
    if (sent == data.size() && waitFor(fd, POLLIN, deadline)) {
        char answer = 0;
        while (::recv(fd, &answer, 1, 0) < 0 && errno == EINTR) {
        }
    }
    ::close(fd);
    return true;
#endif
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

QString QtSingleApplication::instanceName(const QString &appId, const QString &user)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(appId.toUtf8());
    hash.addData("\n", 1);
    hash.addData(user.toUtf8());
    return QStringLiteral("qtsingleapp-") + QString::fromLatin1(hash.result().toHex().left(32));
}

QString QtSingleApplication::serverName(const QString &appId)
{
    const QString name = instanceName(appId, currentUser());
#ifdef Q_OS_WIN
    // A pipe name, not a path; the user is part of the hash.
    return name;
#else
    // A socket path longer than sun_path cannot be bound. Never a shared folder instead: there
    // another user could take the name first and receive the messages, or keep them away.
    const auto fits = [&name](const QString &dir) {
        return !dir.isEmpty() &&
               QFile::encodeName(dir + QLatin1Char('/') + name).size() <= maxSocketPath;
    };
    QString dir = runtimeDirectory();
    if (!fits(dir))
        dir = privateTempDirectory();
    if (!fits(dir))
        return QString(); // no socket: this instance cannot be reached by a second start
    return dir + QLatin1Char('/') + name;
#endif
}

QString QtSingleApplication::lockFilePath(const QString &appId)
{
    const QString dir = runtimeDirectory();
    if (dir.isEmpty())
        return QString(); // cannot be locked: the instance starts, unguarded
    return dir + QLatin1Char('/') + instanceName(appId, currentUser()) + QStringLiteral(".lock");
}

void QtSingleApplication::activateWindow()
{
    if (!m_window)
        return;
    m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    if (m_window->isHidden())
        m_window->show();
#ifndef Q_OS_WIN
    else
        mapIfUnmappedOutsideQt(m_window);
#endif
    m_window->raise();
    m_window->activateWindow();
}

void QtSingleApplication::receiveConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(peerTimeoutMs, socket, [socket] { dropPeer(socket); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readMessage(socket); });
        if (socket->bytesAvailable() > 0)
            readMessage(socket);
    }
}

void QtSingleApplication::readMessage(QLocalSocket *socket)
{
    if (socket->property("qsaDone").toBool())
        return;
    if (socket->bytesAvailable() < qint64(sizeof(quint32)))
        return;
    QDataStream stream(socket->peek(sizeof(quint32)));
    quint32 length = 0;
    stream >> length;
    if (length > maxMessageBytes) {
        dropPeer(socket);
        return;
    }
    if (socket->bytesAvailable() < qint64(sizeof(quint32)) + length)
        return;
    socket->skip(sizeof(quint32));
    const QString message = QString::fromUtf8(socket->read(length));
    socket->setProperty("qsaDone", true);
    socket->putChar(ackByte);
    socket->flush();

    if (m_activateOnMessage)
        activateWindow();
    emit messageReceived(message);
}
