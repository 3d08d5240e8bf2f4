#include "app/browser.h"
#include "bridge/jschannel.h"
#include "bridge/webmessagehandler.h"
#include "mainwindow/mainwindow.h"
#include "store/appsettings.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"
#include "web/crashreloadbudget.h"
#include "web/webpage.h"
#include "web/webview.h"

#include <QAbstractButton>
#include <QDir>
#include <QMessageBox>
#include <QWebEngineProfile>

#include <signal.h>
#include <unistd.h>

#include <tuple>

namespace {
// The page reports every run of its script to the server and says when its bridge is up.
const char bridgePage[] =
    "<html><head><script src=\"qrc:///qtwebchannel/qwebchannel.js\"></script></head><body>\n"
    "<script>\n"
    "window.norvaConnected = false;\n"
    "fetch('/ran?' + Math.random());\n"
    "if (typeof qt !== 'undefined') new QWebChannel(qt.webChannelTransport, function (ch) {\n"
    "  window.webobj = ch.objects.webobj; window.norvaConnected = true; });\n"
    "</script></body></html>";

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Renderers the web engine started for this process: QtWebEngineProcess descendants that say
// --type=renderer, or that its zygote forked (those may still carry the zygote's command line).
QList<qint64> engineRenderers()
{
    QMultiHash<qint64, qint64> children;
    for (const QString &entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        const QByteArray stat = readFile("/proc/" + entry + "/stat");
        const int close = stat.lastIndexOf(')');
        if (!isPid || close < 0)
            continue;
        children.insert(stat.mid(close + 2).split(' ').value(1).toLongLong(), pid);
    }
    const auto commandLine = [](qint64 pid) {
        return readFile(QString("/proc/%1/cmdline").arg(pid)).replace('\0', ' ');
    };
    QList<qint64> renderers;
    QList<QPair<qint64, bool>> todo; // pid, forked by the zygote
    for (qint64 child : children.values(getpid()))
        todo.append({child, false});
    while (!todo.isEmpty()) {
        const auto [pid, fromZygote] = todo.takeLast();
        const QByteArray line = commandLine(pid);
        if (!line.contains("QtWebEngineProcess"))
            continue;
        if (line.contains("--type=renderer") || fromZygote)
            renderers << pid;
        const bool zygote = line.contains("--type=zygote") && !fromZygote;
        for (qint64 child : children.values(pid))
            todo.append({child, zygote});
    }
    return renderers;
}

QList<QMessageBox *> boxesOnScreen()
{
    QList<QMessageBox *> boxes;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
            boxes << box;
    return boxes;
}

QAbstractButton *button(QMessageBox *box, const QString &text)
{
    for (QAbstractButton *b : box->buttons())
        if (b->text() == text)
            return b;
    return nullptr;
}

using P = QWebEnginePage;
} // namespace

// What a view does when its render process ends: ask while its window is on screen, heal by
// itself while the window is hidden in the tray, within a budget.
class TestRenderCrash : public QObject
{
    Q_OBJECT

    TestHttpServer server;
    Browser *browser = nullptr;

    int runs() const { return server.requests().filter(QRegularExpression("^/ran\\?")).size(); }

    // The document is there, its script ran and its bridge is up.
    void waitAlive(WebView *view)
    {
        QTRY_VERIFY_WITH_TIMEOUT(
            view->loadProgress() == 100 && view->page()->renderProcessPid() > 0, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(
            NorvaTest::runJs(view->page(), "window.norvaConnected === true").toBool(), 20000);
    }

    // SIGKILL to the view's renderer, as the out-of-memory killer sends it; answers the
    // termination's exit code.
    int killRenderer(WebView *view)
    {
        const qint64 pid = view->page()->renderProcessPid();
        const QList<qint64> renderers = engineRenderers();
        if (pid <= 0 || !renderers.contains(pid)) {
            qWarning() << "renderer" << pid << "is not among" << renderers;
            return -1;
        }
        QSignalSpy ended(view, &QWebEngineView::renderProcessTerminated);
        ::kill(pid_t(pid), SIGKILL);
        if (!ended.wait(20000))
            return -1;
        if (ended.first().at(0).value<P::RenderProcessTerminationStatus>() !=
            P::KilledTerminationStatus)
            return -1;
        return ended.first().at(1).toInt();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        server.setHtml("/page", bridgePage);
        server.setResponse("/ran", {204, "text/plain", {}, {}});
        qRegisterMetaType<P::RenderProcessTerminationStatus>();
        qputenv("NORVA_SERVICE_URL", server.url().toString().toUtf8());
        browser = new Browser;
    }

    void cleanupTestCase() { delete browser; }
    void cleanup() { qDeleteAll(browser->windows()); }

    // At most three reloads in any ten minutes, counted from each reload on its own.
    void budget()
    {
        qint64 now = 0;
        CrashReloadBudget budget([&now] { return now; });
        for (qint64 at : {0, 60000, 120000}) {
            now = at;
            QVERIFY(budget.take());
        }
        now = 600000 - 1;
        QVERIFY(!budget.take());
        QCOMPARE(budget.taken(), 3);
        now = 600000; // the first reload is ten minutes old now
        QVERIFY(budget.take());
        QVERIFY(!budget.take());
        now = 60000 + 600000;
        QCOMPARE(budget.taken(), 2);
        QVERIFY(budget.take());
    }

    // Hidden in the tray: three kills heal by themselves without a box, the fourth within ten
    // minutes waits and asks once the window is shown.
    void hiddenWindowReloadsByItself()
    {
        MainWindow *w = browser->createWindow(MainWindow::SingleView, false);
        WebView *view = w->currentView();
        w->loadUrl(server.url("/page"));
        waitAlive(view);
        QVERIFY(!w->isVisible());
        QSignalSpy pageState(w->jsChannel(), &JsChannel::setClientVersionInHtml);
        QSignalSpy unread(w->messages(), &WebMessageHandler::unreadCountChanged);
        int exitCode = -1;
        for (int kill = 1; kill <= 3; ++kill) {
            const int runsBefore = runs();
            pageState.clear();
            unread.clear();
            QSignalSpy finished(view, &QWebEngineView::loadFinished);
            exitCode = killRenderer(view);
            QVERIFY2(exitCode >= 0, qPrintable(QString("kill %1").arg(kill)));
            QVERIFY(boxesOnScreen().isEmpty());
            QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 20000);
            QVERIFY(finished.last().at(0).toBool());
            waitAlive(view);
            QCOMPARE(runs(), runsBefore + 1);
            QVERIFY(!pageState.isEmpty());
            // The reloaded document is the service's own: its calls act again.
            NorvaTest::runJs(view->page(), QString("webobj.setNoReadMsgCount(%1)").arg(kill));
            QTRY_COMPARE_WITH_TIMEOUT(unread.count(), 1, 20000);
            QCOMPARE(unread.first().at(0).toInt(), kill);
            QVERIFY(boxesOnScreen().isEmpty());
            QVERIFY(!view->isWaitingForWindow());
        }

        exitCode = killRenderer(view);
        QVERIFY(exitCode >= 0);
        QVERIFY(view->isWaitingForWindow());
        QVERIFY(!view->isAutoReloadScheduled());
        QVERIFY(boxesOnScreen().isEmpty());

        // Showing the window brings the question for that last termination, once.
        NorvaTest::BoxSeen seen;
        NorvaTest::answerNextBox("是", &seen);
        QSignalSpy started(view, &QWebEngineView::loadStarted);
        w->bringToFront();
        QTRY_VERIFY_WITH_TIMEOUT(seen.seen, 20000);
        QCOMPARE(seen.title, QString("渲染进程已被终止"));
        QCOMPARE(seen.text,
                 QString("渲染进程已退出，状态代码为： %1\n是否需要重新加载页面？").arg(exitCode));
        waitAlive(view);
        QCOMPARE(started.count(), 1);
        QVERIFY(!view->isWaitingForWindow());
    }

    // On screen the box asks as before; hiding the window under it neither takes the box away
    // nor adds a reload of its own.
    void visibleWindowAsks()
    {
        MainWindow *w = browser->createWindow(MainWindow::SingleView, true);
        WebView *view = w->currentView();
        w->loadUrl(server.url("/page"));
        waitAlive(view);
        QVERIFY(QTest::qWaitForWindowExposed(w));

        // The box runs its own event loop: everything under it happens from a timer.
        struct
        {
            QString title, text;
            QStringList buttons;
            bool stayedWhenHidden = false, quietUnderBox = false, answered = false;
        } seen;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            if (w->isVisible()) {
                seen.title = box->windowTitle();
                seen.text = box->text();
                for (QAbstractButton *b : box->buttons())
                    seen.buttons << b->text();
                w->hide(); // to the tray, as closing does
                return;
            }
            seen.stayedWhenHidden = true;
            seen.quietUnderBox = !view->isAutoReloadScheduled() && !view->isWaitingForWindow();
            watch.stop();
            seen.answered = true;
            button(box, "是")->click();
        });
        watch.start(20);
        QSignalSpy started(view, &QWebEngineView::loadStarted);
        const qint64 pid = view->page()->renderProcessPid();
        QVERIFY(engineRenderers().contains(pid));
        ::kill(pid_t(pid), SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(seen.answered, 20000);
        QCOMPARE(seen.title, QString("渲染进程已被终止"));
        QVERIFY(seen.text.startsWith("渲染进程已退出，状态代码为： "));
        QVERIFY(seen.text.endsWith("\n是否需要重新加载页面？"));
        seen.buttons.sort();
        QCOMPARE(seen.buttons, QStringList({"否", "是"}));
        QVERIFY(seen.stayedWhenHidden);
        QVERIFY(seen.quietUnderBox);
        waitAlive(view);
        QCOMPARE(started.count(), 1);
        QVERIFY(!view->isAutoReloadScheduled() && !view->isWaitingForWindow());
    }

    // A title per status; "否" leaves the page alone, "是" reloads on the next turn.
    void prompt()
    {
        WebView view;
        view.setPage(new WebPage(QWebEngineProfile::defaultProfile(), &view));
        view.show();
        QVERIFY(NorvaTest::load(&view, server.url("/page")));
        QSignalSpy started(&view, &QWebEngineView::loadStarted);
        const std::tuple<int, QString, QString> cases[] = {
            {P::NormalTerminationStatus, "渲染进程正常退出", "否"},
            {P::AbnormalTerminationStatus, "渲染进程异常退出", "否"},
            {P::CrashedTerminationStatus, "渲染进程崩溃", "否"},
            {P::KilledTerminationStatus, "渲染进程已被终止", "是"}};
        for (const auto &[status, title, answer] : cases) {
            NorvaTest::BoxSeen seen;
            NorvaTest::answerNextBox(answer, &seen);
            view.handleRenderProcessTerminated(P::RenderProcessTerminationStatus(status), status);
            QVERIFY(seen.seen);
            QCOMPARE(seen.title, title);
            QCOMPARE(
                seen.text,
                QString("渲染进程已退出，状态代码为： %1\n是否需要重新加载页面？").arg(status));
            seen.buttons.sort();
            QCOMPARE(seen.buttons, QStringList({"否", "是"}));
            QCOMPARE(started.count(), 0);
        }
        QVERIFY(started.wait(20000));
    }
};

NORVA_TEST_MAIN(TestRenderCrash)
#include "tst_rendercrash.moc"
