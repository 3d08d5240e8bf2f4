#include "app/browser.h"
#include "mainwindow/mainwindow.h"
#include "store/appsettings.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"
#include "web/tabwidget.h"
#include "web/webview.h"

#include <QInputDialog>
#include <QLineEdit>
#include <QStatusBar>
#include <QToolBar>

// The navigation toolbar of browser mode and the page commands of the main window.
// NORVA_TEST_RUN_SERIAL: Ctrl+L needs an active window, which a parallel test could take away.
class TestNavigation : public QObject
{
    Q_OBJECT

    TestHttpServer server;
    Browser *browser = nullptr;

    static QString page(const QString &title)
    {
        return QString("<html><head><title>%1</title></head><body><p>some text</p></body></html>")
            .arg(title);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        server.setHtml("/a", page("Page A"));
        server.setHtml("/b", page("Page B"));
        browser = new Browser;
    }

    void cleanupTestCase() { delete browser; }

    void toolbarLayout()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::BrowserMode, false));
        QToolBar *bar = w->findChild<QToolBar *>();
        QVERIFY(bar);
        // The user cannot hide it.
        QVERIFY(!bar->toggleViewAction()->isEnabled());
        QVERIFY(!w->historyBackAction()->isEnabled());
        for (const QKeySequence &k : w->historyBackAction()->shortcuts())
            QVERIFY(k[0] != Qt::Key_Backspace);
        QVERIFY(w->historyBackAction()->shortcuts().contains(QKeySequence(Qt::Key_Back)));
        for (const QKeySequence &k : w->historyForwardAction()->shortcuts())
            QVERIFY((k[0] & Qt::Key_unknown) != Qt::Key_Backspace);
        QVERIFY(w->historyForwardAction()->shortcuts().contains(QKeySequence(Qt::Key_Forward)));
        // The icon-only buttons and the address field have names a screen reader speaks.
        QCOMPARE(NorvaTest::accessibilityProblems(w.data()), QStringList());

        QScopedPointer<MainWindow> tabs(browser->createWindow(MainWindow::MultiTab, false));
        QVERIFY(!tabs->findChild<QToolBar *>());
        QVERIFY(!tabs->addressField());
    }

    // Stop while a page loads, reload otherwise.
    void stopReloadState()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::BrowserMode, false));
        QCOMPARE(w->stopReloadAction()->data().toInt(), int(QWebEnginePage::Reload));
        for (const int progress : {1, 99, 100, -1, 0}) {
            w->handleWebViewLoadProgress(progress);
            const bool loading = progress > 0 && progress < 100;
            QCOMPARE(w->stopReloadAction()->data().toInt(),
                     int(loading ? QWebEnginePage::Stop : QWebEnginePage::Reload));
            QCOMPARE(w->stopReloadAction()->toolTip(),
                     QString(loading ? "停止加载当前页面" : "重新加载当前页面"));
        }
    }

    void webActionEnabling()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::BrowserMode, false));
        w->handleWebActionEnabledChanged(QWebEnginePage::Back, true);
        QVERIFY(w->historyBackAction()->isEnabled());
        w->handleWebActionEnabledChanged(QWebEnginePage::Stop, false);
        QVERIFY(!w->stopAction()->isEnabled());
        QTest::ignoreMessage(QtWarningMsg, "Unhandled webActionChanged signal");
        w->handleWebActionEnabledChanged(QWebEnginePage::Copy, false);
        // Without a toolbar nothing is touched and nothing is logged.
        QScopedPointer<MainWindow> single(browser->createWindow(MainWindow::SingleView, false));
        single->handleWebActionEnabledChanged(QWebEnginePage::Copy, false);
        QVERIFY(single->stopAction()->isEnabled());
    }

    void addressFieldAndTitle()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::BrowserMode, true));
        QVERIFY(QTest::qWaitForWindowExposed(w.data()));
        w->addressField()->setText(server.url("/a").toString());
        QTest::keyClick(w->addressField(), Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(w->windowTitle(), QString("Page A"), 20000);
        QCOMPARE(w->tabWidget()->tabText(0), QString("Page A"));
        QCOMPARE(w->addressField()->text(), server.url("/a").toDisplayString());

        // Ctrl+L puts the focus into the address field.
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.data()));
        w->currentView()->setFocus();
        QTest::keyClick(w.data(), Qt::Key_L, Qt::ControlModifier);
        QTRY_VERIFY(w->addressField()->hasFocus());

        // Back becomes possible after a second page.
        w->currentView()->setUrl(server.url("/b"));
        QTRY_COMPARE_WITH_TIMEOUT(w->windowTitle(), QString("Page B"), 20000);
        QTRY_VERIFY(w->historyBackAction()->isEnabled());
        w->historyBackAction()->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(w->windowTitle(), QString("Page A"), 20000);
    }

    void findReportsMisses()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, true));
        w->loadUrl(server.url("/a"));
        QTRY_COMPARE_WITH_TIMEOUT(w->currentView()->loadProgress(), 100, 20000);
        QString label;
        QTimer::singleShot(50, [&label] {
            auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            QCOMPARE(dialog->windowTitle(), QString("Find"));
            label = dialog->labelText();
            dialog->setTextValue(QString("no such words"));
            dialog->accept();
        });
        w->handleFindActionTriggered();
        QCOMPARE(label, QString("Find:"));
        QCOMPARE(w->lastSearch(), QString("no such words"));
        // The engine answers asynchronously (slowly under Xvfb); its answer lands here.
        w->reportFindResult(QString("some"), true);
        QVERIFY(w->statusBar()->currentMessage().isEmpty());
        w->reportFindResult(QString("no such words"), false);
        QCOMPARE(w->statusBar()->currentMessage(), QString("\"no such words\" not found."));

        // A cancelled find keeps the last search text.
        QTimer::singleShot(50, [] {
            if (auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget()))
                dialog->reject();
        });
        w->handleFindActionTriggered();
        QCOMPARE(w->lastSearch(), QString("no such words"));
    }

    // The page closes its tab while the find dialog is open: the find goes to the view that is
    // current afterwards.
    void findAfterThePageClosedItsTab()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::MultiTab, true));
        w->loadUrl(server.url("/a"));
        QTRY_COMPARE_WITH_TIMEOUT(w->currentView()->loadProgress(), 100, 20000);
        WebView *closing = w->tabWidget()->createTab();
        closing->setUrl(server.url("/b"));
        QTRY_COMPARE_WITH_TIMEOUT(closing->loadProgress(), 100, 20000);
        QCOMPARE(w->tabWidget()->count(), 2);
        QTimer::singleShot(50, [&w, closing] {
            auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            NorvaTest::runJs(closing->page(), QString("window.close()"));
            if (NorvaTest::waitFor([&w] { return w->tabWidget()->count() == 1; })) {
                // Let the closed view's deferred deletion run inside the dialog's loop.
                QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
                QTest::qWait(0);
            }
            dialog->setTextValue(QString("words on no page"));
            dialog->accept();
        });
        w->handleFindActionTriggered();
        QCOMPARE(w->tabWidget()->count(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(w->statusBar()->currentMessage(),
                                  QString("\"words on no page\" not found."), 20000);
    }

    void developerTools()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, true));
        w->loadUrl(server.url("/a"));
        QTRY_COMPARE_WITH_TIMEOUT(w->currentView()->loadProgress(), 100, 20000);
        const int before = browser->windows().size();
        w->handleDevToolsRequested(nullptr);
        QCOMPARE(browser->windows().size(), before);
        w->handleDevToolsRequested(w->currentView()->page());
        QCOMPARE(browser->windows().size(), before + 1);
        MainWindow *tools = browser->windows().constLast();
        QCOMPARE(tools->displayMode(), int(MainWindow::DevTools));
        QVERIFY(tools->isVisible());
        QCOMPARE(w->currentView()->page()->devToolsPage(), tools->currentView()->page());
        QTRY_VERIFY_WITH_TIMEOUT(
            tools->currentView()->url().toString().startsWith(QString("http://127.0.0.1:34567")),
            20000);
        tools->close();
    }
};

int main(int argc, char *argv[])
{
    // The developer tools read the inspector from the engine's debugging endpoint.
    qputenv("QTWEBENGINE_REMOTE_DEBUGGING", "34567");
    NorvaTest::prepareEnvironment();
    QApplication app(argc, argv);
    NorvaTest::afterApplication();
    TestNavigation tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_navigation.moc"
