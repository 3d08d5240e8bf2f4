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

// Whether pid is a QtWebEngineProcess that this process started, directly or through a zygote.
bool isEngineChild(qint64 pid)
{
    if (!readFile(QString("/proc/%1/cmdline").arg(pid)).contains("QtWebEngineProcess"))
        return false;
    while (pid > 1) {
        const QByteArray stat = readFile(QString("/proc/%1/stat").arg(pid));
        pid = stat.mid(stat.lastIndexOf(')') + 2).split(' ').value(1).toLongLong();
        if (pid == getpid())
            return true;
    }
    return false;
}

QList<QMessageBox *> boxesOnScreen()
{
    QList<QMessageBox *> boxes;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
            boxes << box;
    return boxes;
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

    // SIGKILL to the view's renderer, as the out-of-memory killer sends it; answers the exit code.
    int killRenderer(WebView *view)
    {
        const qint64 pid = view->page()->renderProcessPid();
        if (pid <= 0 || !isEngineChild(pid))
            return -1;
        QSignalSpy ended(view, &QWebEngineView::renderProcessTerminated);
        ::kill(pid_t(pid), SIGKILL);
        const bool killed =
            ended.wait(20000) && ended.first().at(0).value<P::RenderProcessTerminationStatus>() ==
                                     P::KilledTerminationStatus;
        return killed ? ended.first().at(1).toInt() : -1;
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
        for (int kill = 1; kill <= 3; ++kill) {
            const int runsBefore = runs();
            pageState.clear();
            unread.clear();
            QSignalSpy finished(view, &QWebEngineView::loadFinished);
            QVERIFY2(killRenderer(view) >= 0, qPrintable(QString("kill %1").arg(kill)));
            QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 20000);
            QVERIFY(finished.last().at(0).toBool());
            waitAlive(view);
            QCOMPARE(runs(), runsBefore + 1);
            QVERIFY(!pageState.isEmpty());
            NorvaTest::runJs(view->page(), QString("webobj.setNoReadMsgCount(%1)").arg(kill));
            QTRY_COMPARE_WITH_TIMEOUT(unread.count(), 1, 20000);
            QCOMPARE(unread.first().at(0).toInt(), kill);
            QVERIFY(boxesOnScreen().isEmpty());
            QVERIFY(!view->isWaitingForWindow());
        }

        const int exitCode = killRenderer(view);
        QVERIFY(exitCode >= 0);
        QVERIFY(view->isWaitingForWindow());
        QVERIFY(!view->isAutoReloadScheduled());
        QVERIFY(boxesOnScreen().isEmpty());

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

        struct // the box runs its own event loop: all under it happens from a timer
        {
            QString title, text;
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
                w->hide(); // to the tray, as closing does
                return;
            }
            seen.stayedWhenHidden = true;
            seen.quietUnderBox = !view->isAutoReloadScheduled() && !view->isWaitingForWindow();
            watch.stop();
            seen.answered = true;
            for (QAbstractButton *b : box->buttons())
                if (b->text() == "是")
                    b->click();
        });
        watch.start(20);
        QSignalSpy started(view, &QWebEngineView::loadStarted);
        const qint64 pid = view->page()->renderProcessPid();
        QVERIFY(isEngineChild(pid));
        ::kill(pid_t(pid), SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(seen.answered, 20000);
        QCOMPARE(seen.title, QString("渲染进程已被终止"));
        QVERIFY(seen.text.startsWith("渲染进程已退出，状态代码为： "));
        QVERIFY(seen.text.endsWith("\n是否需要重新加载页面？"));
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
