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

    // Stop while a page loads, reload otherwise; the page's action states reach the toolbar's
    // buttons. Without a toolbar nothing is touched: the menu's stop entry stays as it was.
    void buttonsFollowThePage()
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
        w->handleWebActionEnabledChanged(QWebEnginePage::Back, true);
        QVERIFY(w->historyBackAction()->isEnabled());
        w->handleWebActionEnabledChanged(QWebEnginePage::Stop, false);
        QVERIFY(!w->stopAction()->isEnabled());
        QTest::ignoreMessage(QtWarningMsg, "Unhandled webActionChanged signal");
        w->handleWebActionEnabledChanged(QWebEnginePage::Copy, false);
        QScopedPointer<MainWindow> single(browser->createWindow(MainWindow::SingleView, false));
        QVERIFY(single->stopAction()->isEnabled());
        single->handleWebActionEnabledChanged(QWebEnginePage::Stop, false);
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

    // The engine's answer reaches the status bar: a miss is reported, a later hit clears it; a
    // cancelled find keeps the last search text. When the page closes its tab while the dialog
    // is open, the find goes to the view that is current afterwards.
    void find()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::MultiTab, true));
        QVERIFY(NorvaTest::loadOk(w->currentView(), server.url("/a")));
        QString label;
        // Answers the find dialog with the text (empty: cancel), after running the action.
        const auto find = [&](const QString &text, const std::function<void()> &first = {}) {
            QTimer::singleShot(50, [&label, text, first] {
                auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
                if (!dialog)
                    return;
                QCOMPARE(dialog->windowTitle(), QString("Find"));
                label = dialog->labelText();
                if (first)
                    first();
                if (text.isEmpty())
                    return dialog->reject();
                dialog->setTextValue(text);
                dialog->accept();
            });
            w->handleFindActionTriggered();
        };
        find("no such words");
        QCOMPARE(label, QString("Find:"));
        QCOMPARE(w->lastSearch(), QString("no such words"));
        // The engine answers asynchronously (slowly under Xvfb).
        QTRY_COMPARE_WITH_TIMEOUT(w->statusBar()->currentMessage(),
                                  QString("\"no such words\" not found."), 20000);
        find("some");
        QTRY_VERIFY_WITH_TIMEOUT(w->statusBar()->currentMessage().isEmpty(), 20000);
        find(QString());
        QCOMPARE(w->lastSearch(), QString("some"));

        WebView *closing = w->tabWidget()->createTab();
        QVERIFY(NorvaTest::loadOk(closing, server.url("/b")));
        find("words on no page", [&w, closing] {
            NorvaTest::runJs(closing->page(), QString("window.close()"));
            if (NorvaTest::waitFor([&w] { return w->tabWidget()->count() == 1; })) {
                // Let the closed view's deferred deletion run inside the dialog's loop.
                QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
                QTest::qWait(0);
            }
        });
        QCOMPARE(w->tabWidget()->count(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(w->statusBar()->currentMessage(),
                                  QString("\"words on no page\" not found."), 20000);
    }

    // The inspector runs inside the program: the tools window shows it, and no port opens.
    void developerTools()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, true));
        QVERIFY(NorvaTest::loadOk(w->currentView(), server.url("/a")));
        const int before = browser->windows().size();
        w->handleDevToolsRequested(nullptr);
        QCOMPARE(browser->windows().size(), before);
        w->handleDevToolsRequested(w->currentView()->page());
        QCOMPARE(browser->windows().size(), before + 1);
        MainWindow *tools = browser->windows().constLast();
        QCOMPARE(tools->displayMode(), int(MainWindow::DevTools));
        QVERIFY(tools->isVisible());
        QWebEnginePage *toolsPage = tools->currentView()->page();
        QCOMPARE(w->currentView()->page()->devToolsPage(), toolsPage);
        QCOMPARE(toolsPage->inspectedPage(), w->currentView()->page());
        QTRY_COMPARE_WITH_TIMEOUT(toolsPage->url().scheme(), QString("devtools"), 20000);
        // The inspector has connected to the page: its title names the inspected address.
        const QString inspected = QString("DevTools - 127.0.0.1:%1/a").arg(server.port());
        QTRY_COMPARE_WITH_TIMEOUT(toolsPage->title(), inspected, 20000);
        QCOMPARE(NorvaTest::listeningTcpPorts(QCoreApplication::applicationPid()),
                 QList<quint16>{server.port()});
        tools->close();
    }
};

int main(int argc, char *argv[])
{
    // Whatever the caller's environment, no debugging port: the tools must work without one.
    qunsetenv("QTWEBENGINE_REMOTE_DEBUGGING");
    NorvaTest::prepareEnvironment();
    QApplication app(argc, argv);
    NorvaTest::afterApplication();
    TestNavigation tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_navigation.moc"
