#pragma once

#include <QApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QtTest>

#include <functional>

class QAction;
class QMenu;
class QWebEnginePage;
class QWebEngineView;

namespace NorvaTest {

// Points HOME, the XDG directories and the runtime directory at a fresh temporary directory,
// so no test ever touches the real user's settings, profile or database. Call before the
// application object exists.
void prepareEnvironment(bool keepHome = false);
// Names and resources; call right after the application object exists.
void afterApplication();
// The temporary home of this test process.
QString homeDir();

// Answers the next modal box (polling until one shows) by clicking the button with the given
// text; the box is checked against title and text when they are non-empty.
struct BoxSeen
{
    QString title;
    QString text;
    QStringList buttons;
    bool seen = false;
};
void answerNextBox(const QString &buttonText, BoxSeen *seen = nullptr, int timeoutMs = 20000);
// Ends the answering of boxes still waiting; a test that expected no box calls it before its
// BoxSeen goes out of scope.
void stopAnsweringBoxes();

// Spins the event loop until the predicate holds or the time runs out.
bool waitFor(const std::function<bool()> &predicate, int timeoutMs = 20000);

// A file's bytes (empty when it cannot be read) and its permission bits (-1 when it is missing).
QByteArray fileBytes(const QString &path);
int fileMode(const QString &path);

// Menu entry texts in order, a separator as "|"; and the entry with a given text.
QStringList entries(QMenu *menu);
QAction *entry(QMenu *menu, const QString &text);

// Runs JavaScript in the page and waits for its result.
QVariant runJs(QWebEnginePage *page, const QString &script, int timeoutMs = 20000);
// Loads the address into the view; answers whether the load finished in time.
bool load(QWebEngineView *view, const QUrl &url, int timeoutMs = 20000);
// The same, but only a load that succeeded counts.
bool loadOk(QWebEngineView *view, const QUrl &url, int timeoutMs = 20000);

// Runs the action inside the application's event loop until something ends that loop; answers
// its exit code, or -1 when the time ran out. Unlike a local QEventLoop, the application loop
// clears its quit state again when it returns, so later modal boxes and waits keep working.
int runApplication(const std::function<void()> &action = {}, int timeoutMs = 30000);

// Why a test that presses keys with xdotool on an X server cannot run here; null when it can.
// Use as: if (const char *why = NorvaTest::missingXdotool()) QSKIP(why);
const char *missingXdotool();

// The output lines of xdotool with these arguments.
QStringList xdotool(const QStringList &args);
// Visible top-level windows (X ids) of a process whose title matches the regular expression.
QStringList visibleWindows(qint64 pid, const QString &titlePattern);
// Asks a window to close the way the window manager's close button does.
void requestClose(quint32 window);

// The TCP ports on which a process or any of its descendants listens (IPv4 and IPv6), found
// through the socket inodes of their open descriptors.
QList<quint16> listeningTcpPorts(qint64 pid);
// An X server of its own (Xvfb) with no tray host, for what must start without one.
class PrivateXServer
{
public:
    PrivateXServer();
    ~PrivateXServer();
    // ":n", or empty when Xvfb could not start.
    QString display() const { return m_display; }
    // This process's environment with DISPLAY naming this server.
    QProcessEnvironment environment() const;

private:
    QProcess m_xvfb;
    QString m_display;
};
// What a screen reader would stumble on in a window: every control the keyboard can reach (web
// content aside) needs a spoken name that says something (not just "...") and that no other
// control of the window has. A combo box is named by its label, as on Linux. Answers one line
// per problem; controls hidden on purpose are left out.
QStringList accessibilityProblems(QWidget *window);
// The name a screen reader speaks for a widget.
QString spokenName(QWidget *widget);

} // namespace NorvaTest

#define NORVA_TEST_MAIN(TestObject)                                                                \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        NorvaTest::prepareEnvironment();                                                           \
        QApplication app(argc, argv);                                                              \
        NorvaTest::afterApplication();                                                             \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
