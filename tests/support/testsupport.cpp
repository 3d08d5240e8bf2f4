#include "tests/support/testsupport.h"

#include "app/resourceinit.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QHash>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QX11Info>

#include <sys/stat.h>

#include <xcb/xcb.h>

#include <memory>

namespace NorvaTest {

namespace {
// Removed when the test program ends, unless asked to stay.
std::unique_ptr<QTemporaryDir> tempHome;

void setDir(const char *variable, const QString &path)
{
    QDir().mkpath(path);
    qputenv(variable, QFile::encodeName(path));
}
} // namespace

void prepareEnvironment(bool keepHome)
{
    tempHome =
        std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/norva-test-XXXXXX"));
    tempHome->setAutoRemove(!keepHome);
    const QString home = tempHome->path();
    setDir("HOME", home);
    setDir("XDG_CONFIG_HOME", home + QStringLiteral("/config"));
    setDir("XDG_DATA_HOME", home + QStringLiteral("/data"));
    setDir("XDG_CACHE_HOME", home + QStringLiteral("/cache"));
    setDir("XDG_RUNTIME_DIR", home + QStringLiteral("/runtime"));
    QFile::setPermissions(home + QStringLiteral("/runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setOrganizationName(QStringLiteral("Kestrel"));
    QCoreApplication::setApplicationName(QStringLiteral("Norva"));
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

void afterApplication()
{
    initNorvaResources();
    QApplication::setQuitOnLastWindowClosed(false);
}

QString homeDir()
{
    return tempHome ? tempHome->path() : QString();
}

namespace {
// Parent of the pollers that have not ended yet.
QObject *boxPollers()
{
    static QObject *pollers = new QObject(QCoreApplication::instance());
    return pollers;
}
} // namespace

void stopAnsweringBoxes()
{
    qDeleteAll(boxPollers()->findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly));
}

void answerNextBox(const QString &buttonText, BoxSeen *seen, int timeoutMs)
{
    auto *timer = new QTimer(boxPollers());
    timer->setInterval(20);
    auto elapsed = std::make_shared<QElapsedTimer>();
    elapsed->start();
    QObject::connect(timer, &QTimer::timeout, [=] {
        QWidget *modal = QApplication::activeModalWidget();
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (box && box->isVisible()) {
            if (seen) {
                seen->seen = true;
                seen->title = box->windowTitle();
                seen->text = box->text();
                seen->buttons.clear();
                for (QAbstractButton *b : box->buttons())
                    seen->buttons << b->text();
            }
            // Every box a test answers is also one a screen reader must be able to read.
            const QStringList problems = accessibilityProblems(box);
            if (!problems.isEmpty())
                QTest::qFail(qPrintable(problems.join(QStringLiteral("; "))), __FILE__, __LINE__);
            QAbstractButton *target = nullptr;
            for (QAbstractButton *b : box->buttons())
                if (b->text() == buttonText)
                    target = b;
            if (target)
                target->click();
            else
                box->reject();
        } else if (elapsed->elapsed() < timeoutMs) {
            return;
        }
        timer->stop();
        timer->deleteLater();
    });
    timer->start();
}

bool waitFor(const std::function<bool()> &predicate, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!predicate()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(10);
    }
    return true;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int fileMode(const QString &path)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

QStringList entries(QMenu *menu)
{
    QStringList texts;
    for (QAction *a : menu->actions())
        texts << (a->isSeparator() ? QStringLiteral("|") : a->text());
    return texts;
}

QAction *entry(QMenu *menu, const QString &text)
{
    for (QAction *a : menu->actions())
        if (a->text() == text)
            return a;
    return nullptr;
}

QVariant runJs(QWebEnginePage *page, const QString &script, int timeoutMs)
{
    // Shared, so a result arriving after the time-out never writes into a dead frame.
    auto state = QSharedPointer<QPair<bool, QVariant>>::create(false, QVariant());
    page->runJavaScript(script, [state](const QVariant &value) {
        state->second = value;
        state->first = true;
    });
    waitFor([state] { return state->first; }, timeoutMs);
    return state->second;
}

bool load(QWebEngineView *view, const QUrl &url, int timeoutMs)
{
    QSignalSpy finished(view, &QWebEngineView::loadFinished);
    view->setUrl(url);
    return finished.wait(timeoutMs);
}

bool loadOk(QWebEngineView *view, const QUrl &url, int timeoutMs)
{
    QSignalSpy finished(view, &QWebEngineView::loadFinished);
    view->setUrl(url);
    // A load this one replaced (a new window's first page) may still report, as failed, first.
    return waitFor([&] { return finished.contains({true}); }, timeoutMs);
}

int runApplication(const std::function<void()> &action, int timeoutMs)
{
    if (action)
        QTimer::singleShot(0, qApp, action);
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
    timeout.start(timeoutMs);
    return QCoreApplication::exec();
}

const char *missingXdotool()
{
    if (!QX11Info::isPlatformX11())
        return "needs an X server";
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        return "needs xdotool";
    return nullptr;
}

QStringList xdotool(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    p.waitForFinished(20000);
    return QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

QStringList visibleWindows(qint64 pid, const QString &titlePattern)
{
    return xdotool({"search", "--onlyvisible", "--all", "--pid", QString::number(pid), "--name",
                    titlePattern});
}

void requestClose(quint32 window)
{
    xcb_connection_t *c = QX11Info::connection();
    auto atom = [c](const char *name) {
        xcb_intern_atom_reply_t *reply =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
        return a;
    };
    xcb_client_message_event_t event = {};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    xcb_send_event(c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&event));
    xcb_flush(c);
}

QList<quint16> listeningTcpPorts(qint64 pid)
{
    // The process and its descendants (the engine's helpers), by parent id.
    QSet<qint64> pids{pid};
    QHash<qint64, qint64> parentOf;
    for (const QString &entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool isPid = false;
        const qint64 id = entry.toLongLong(&isPid);
        QFile stat("/proc/" + entry + "/stat");
        if (!isPid || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // "pid (name) state ppid ...": the name may hold spaces and parentheses.
        const QList<QByteArray> rest = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (rest.size() > 1)
            parentOf.insert(id, rest.at(1).toLongLong());
    }
    for (bool grew = true; grew;) {
        grew = false;
        for (auto it = parentOf.constBegin(); it != parentOf.constEnd(); ++it) {
            if (pids.contains(it.value()) && !pids.contains(it.key())) {
                pids.insert(it.key());
                grew = true;
            }
        }
    }
    QSet<QByteArray> inodes;
    for (qint64 id : qAsConst(pids)) {
        const QString fdDir = QString("/proc/%1/fd").arg(id);
        for (const QString &fd : QDir(fdDir).entryList(QDir::System | QDir::NoDotAndDotDot)) {
            const QString target = QFile::symLinkTarget(fdDir + '/' + fd);
            if (target.contains("socket:["))
                inodes.insert(target.section('[', 1).section(']', 0, 0).toLatin1());
        }
    }
    QList<quint16> ports;
    for (const char *table : {"tcp", "tcp6"}) {
        QFile file(QString("/proc/%1/net/%2").arg(pid).arg(table));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        file.readLine(); // header
        while (!file.atEnd()) {
            const QList<QByteArray> f = file.readLine().simplified().split(' ');
            // sl local rem state ... inode: state 0A is LISTEN.
            if (f.size() > 9 && f.at(3) == "0A" && inodes.contains(f.at(9)))
                ports << quint16(f.at(1).split(':').value(1).toUInt(nullptr, 16));
        }
    }
    return ports;
}

PrivateXServer::PrivateXServer()
{
    // Xvfb picks a free display and names it once it accepts clients.
    m_xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
    if (!m_xvfb.waitForStarted(10000))
        return;
    if (waitFor([this] { return m_xvfb.canReadLine() || m_xvfb.state() != QProcess::Running; },
                30000) &&
        m_xvfb.canReadLine())
        m_display = ":" + QString::fromLatin1(m_xvfb.readLine()).trimmed();
}

PrivateXServer::~PrivateXServer()
{
    m_xvfb.terminate();
    if (!m_xvfb.waitForFinished(10000))
        m_xvfb.kill();
}

QProcessEnvironment PrivateXServer::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", m_display);
    return env;
}

QString spokenName(QWidget *widget)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(widget);
    if (!iface)
        return QString();
    QStringList labels;
    for (const auto &relation : iface->relations(QAccessible::Label))
        labels << relation.first->text(QAccessible::Name).trimmed();
    labels.removeAll(QString());
    if (qobject_cast<QComboBox *>(widget))
        return labels.join(QLatin1Char(' '));
    const QString name = iface->text(QAccessible::Name).trimmed();
    return name.isEmpty() ? labels.join(QLatin1Char(' ')) : name;
}

QStringList accessibilityProblems(QWidget *window)
{
    QStringList problems;
    QHash<QString, QString> seen;
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (w->isWindow() || !(w->focusPolicy() & Qt::TabFocus) || w->focusProxy())
            continue;
        bool skipped = false;
        for (QWidget *up = w; up && up != window && !skipped; up = up->parentWidget())
            skipped = qobject_cast<QWebEngineView *>(up) ||
                      (up->isHidden() && up->testAttribute(Qt::WA_WState_ExplicitShowHide) &&
                       !up->parentWidget()->inherits("QStackedWidget"));
        if (skipped)
            continue;
        const QString what = QStringLiteral("%1 %2").arg(
            QString::fromLatin1(w->metaObject()->className()), w->objectName());
        const QString name = spokenName(w);
        const bool saysSomething =
            std::any_of(name.begin(), name.end(), [](QChar c) { return c.isLetterOrNumber(); });
        if (!saysSomething)
            problems << QStringLiteral("%1: no name ('%2')").arg(what, name);
        else if (seen.contains(name))
            problems << QStringLiteral("%1 and %2: both '%3'").arg(seen.value(name), what, name);
        else
            seen.insert(name, what);
    }
    return problems;
}

} // namespace NorvaTest
