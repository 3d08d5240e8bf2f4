#include "app/browser.h"
#include "bridge/jschannel.h"
#include "bridge/webmessagehandler.h"
#include "mainwindow/mainwindow.h"
#include "notify/noticeitem.h"
#include "notify/notifymanager.h"
#include "notify/notifywindow.h"
#include "store/appsettings.h"
#include "store/database.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"
#include "web/tabwidget.h"
#include "web/webview.h"

#include <QJsonDocument>
#include <QPushButton>
#include <QScopeGuard>

namespace {
// Every page records the login lists it is given and links to the other origin.
const char bridgePage[] =
    "<html><head><title>%1</title>\n"
    "<script src=\"qrc:///qtwebchannel/qwebchannel.js\"></script></head><body>\n"
    "<a id=\"away\" href=\"%2\" style=\"display:block;width:300px;height:100px\">away</a>\n"
    "<script>\n"
    "window.lists = []; window.norvaConnected = false;\n"
    "new QWebChannel(qt.webChannelTransport, function (ch) {\n"
    "  window.webobj = ch.objects.webobj;\n"
    "  webobj.recvLoginInfoInHtml.connect(function (s) { window.lists.push(s); });\n"
    "  window.norvaConnected = true; });\n"
    "</script></body></html>";

const char notice[] = R"({"title":"T","content":"C","extras":{"busicType":2}})";

using Logins = QList<QPair<QString, QString>>;
} // namespace

// A page of another origin that a bridged view reaches keeps the bridge, but not the trust:
// the service is served as 127.0.0.1, the foreign pages by the same server as localhost.
class TestTrustBoundary : public QObject
{
    Q_OBJECT

    TestHttpServer server;
    Browser *browser = nullptr;

    QUrl serviceUrl(const QString &path) const { return server.url(path); }
    QUrl foreignUrl(const QString &path) const
    {
        QUrl url = server.url(path);
        url.setHost(QStringLiteral("localhost"));
        return url;
    }

    // Waits for the document itself, not only the page's URL, which names a pending target.
    static void waitConnected(WebView *view, const QString &host)
    {
        QTRY_VERIFY_WITH_TIMEOUT(
            view->page()->url().host() == host &&
                NorvaTest::runJs(view->page(), QStringLiteral("window.norvaConnected && "
                                                              "location.hostname"))
                        .toString() == host &&
                view->loadProgress() == 100,
            20000);
    }

    static void run(WebView *view, const QString &script)
    {
        NorvaTest::runJs(view->page(), script);
    }

    static Logins logins(Browser *browser)
    {
        Logins list;
        browser->dataBase()->getLoginInfos(list);
        return list;
    }

    static void expectIgnored(const char *call, const char *verb = "Ignored")
    {
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression(QStringLiteral("^%1 %2 from a page outside "
                                                            "the service: http://localhost:")
                                                 .arg(QLatin1String(verb), QLatin1String(call))));
    }

    // Task notices become popups, so a foreign notice would have somewhere to show.
    static QJsonObject popupRules()
    {
        return QJsonDocument::fromJson(R"({"status": 1, "busicTypes": [2],
                "noticeInfo": [{"targetType": 0, "busicType": 2, "key": ["*"]}]})")
            .object();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        for (const QString &path : {QStringLiteral("/home"), QStringLiteral("/login")})
            server.setHtml(path, QString::fromLatin1(bridgePage)
                                     .arg(path, foreignUrl(QStringLiteral("/away")).toString()));
        server.setHtml(
            QStringLiteral("/away"),
            QString::fromLatin1(bridgePage)
                .arg(QStringLiteral("/away"), serviceUrl(QStringLiteral("/home")).toString()));
        qputenv("NORVA_SERVICE_URL", server.url().toString().toUtf8());
        browser = new Browser;
        QVERIFY(QSystemTrayIcon::isSystemTrayAvailable());
        browser->setForceNotice(nullptr, popupRules());
        int targetType = -1;
        QVERIFY(browser->isForceNotice(targetType, 2, QString()));
    }

    void cleanupTestCase() { delete browser; }

    void init()
    {
        appSettings->isSysNotice = true;
        appSettings->isSysNoticeVoice = true;
        appSettings->allowSavePassword = true;
        browser->dataBase()->clearLoginInfo();
        browser->dataBase()->saveLoginInfo(QStringLiteral("13800000000"), QStringLiteral("pw"));
        browser->dataBase()->saveLoginInfo(QStringLiteral("13900000000"), QStringLiteral("pw2"));
    }

    void trustFollowsThePageNotTheView_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<QString>("mainPage");
        QTest::addColumn<bool>("trusted");
        const QUrl base = server.url(QStringLiteral("/x"));
        QUrl otherPort = base;
        otherPort.setPort(base.port() + 1);
        QUrl https = base;
        https.setScheme(QStringLiteral("https"));
        QTest::newRow("service") << base << QString() << true;
        QTest::newRow("other host") << foreignUrl(QStringLiteral("/x")) << QString() << false;
        QTest::newRow("other port") << otherPort << QString() << false;
        QTest::newRow("other scheme") << https << QString() << false;
        QTest::newRow("main page origin") << QUrl(QStringLiteral("https://okr.example.com/a/login"))
                                          << QStringLiteral("https://okr.example.com/a/") << true;
        QTest::newRow("empty") << QUrl() << QString() << false;
        QTest::newRow("file") << QUrl(QStringLiteral("file:///etc/passwd")) << QString() << false;
    }

    void trustFollowsThePageNotTheView()
    {
        QFETCH(QUrl, url);
        QFETCH(QString, mainPage);
        QFETCH(bool, trusted);
        const QString saved = appSettings->defaultMainPage;
        appSettings->defaultMainPage = mainPage;
        QCOMPARE(WebMessageHandler::isTrustedUrl(url), trusted);
        appSettings->defaultMainPage = saved;
    }

    // The bridged first tab follows a link away while the current tab shows the service's login.
    void multiTabForeignPageGetsNoLogins()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::MultiTab, true));
        w->loadUrl(serviceUrl(QStringLiteral("/home")));
        WebView *bridged = w->currentView();
        waitConnected(bridged, QStringLiteral("127.0.0.1"));
        run(bridged, QStringLiteral("document.getElementById('away').click()"));
        waitConnected(bridged, QStringLiteral("localhost"));

        WebView *login = w->tabWidget()->createTab();
        login->setUrl(serviceUrl(QStringLiteral("/login")));
        QTRY_VERIFY_WITH_TIMEOUT(login->loadProgress() == 100, 20000);
        QCOMPARE(w->currentView(), login);

        QSignalSpy lists(w->jsChannel(), &JsChannel::recvLoginInfoInHtml);
        QSignalSpy requests(w->jsChannel(), &JsChannel::recvRequestLoginInfoFromHtml);
        expectIgnored("requestLoginInfoFromHtml");
        expectIgnored("requestLoginInfoFromHtml");
        run(bridged, QStringLiteral("webobj.requestLoginInfoFromHtml();"
                                    "webobj.requestLoginInfoFromHtml();"));
        QTRY_COMPARE(requests.count(), 2);
        w->refreshPageState();
        QCOMPARE(lists.count(), 0);
        QCOMPARE(NorvaTest::runJs(bridged->page(), QStringLiteral("window.lists.length")).toInt(),
                 0);

        // Back on the service's login page, the same tab gets the list again.
        bridged->setUrl(serviceUrl(QStringLiteral("/login")));
        waitConnected(bridged, QStringLiteral("127.0.0.1"));
        run(bridged, QStringLiteral("webobj.requestLoginInfoFromHtml()"));
        QTRY_VERIFY_WITH_TIMEOUT(
            NorvaTest::runJs(bridged->page(), QStringLiteral("window.lists.length")).toInt() >= 1,
            20000);
        QCOMPARE(NorvaTest::runJs(bridged->page(), QStringLiteral("window.lists[0]")).toString(),
                 QStringLiteral("[{\"password\":\"pw\",\"telephone\":\"13800000000\"},"
                                "{\"password\":\"pw2\",\"telephone\":\"13900000000\"}]"));
    }

    // Everything a foreign page asks of the client is refused; the service's page still works.
    void foreignCallsChangeNothing_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("single view") << int(MainWindow::SingleView);
        QTest::newRow("new window from tabs") << int(MainWindow::MultiTab);
    }

    void foreignCallsChangeNothing()
    {
        QFETCH(int, mode);
        QScopedPointer<MainWindow> opener(browser->createWindow(mode, true));
        opener->loadUrl(serviceUrl(QStringLiteral("/home")));
        waitConnected(opener->currentView(), QStringLiteral("127.0.0.1"));
        MainWindow *w = opener.data();
        QScopedPointer<MainWindow> opened;
        if (mode == MainWindow::SingleView) {
            run(w->currentView(), QStringLiteral("document.getElementById('away').click()"));
        } else {
            // A shift-click asks for a new window: in the tab modes a single-view main window.
            const int before = browser->windows().size();
            QWidget *target = opener->currentView()->focusProxy();
            QVERIFY(target);
            QTest::mouseClick(target, Qt::LeftButton, Qt::ShiftModifier, QPoint(40, 40));
            QTRY_COMPARE_WITH_TIMEOUT(browser->windows().size(), before + 1, 20000);
            opened.reset(browser->windows().last());
            w = opened.data();
            QCOMPARE(w->displayMode(), int(MainWindow::SingleView));
        }
        WebView *view = w->currentView();
        waitConnected(view, QStringLiteral("localhost"));

        const Logins before = logins(browser);
        const int popups = browser->notifyManager()->popups().size();
        QSignalSpy balloons(w, &MainWindow::trayMessageShown);
        QSignalSpy unread(w->messages(), &WebMessageHandler::unreadCountChanged);
        QSignalSpy last(w->jsChannel(), &JsChannel::recvNoReadMsgCountFromHtml);
        for (const char *call : {"saveLoginInfoFromHtml", "deleteLoginInfoFromHtml",
                                 "clearLoginInfoFromHtml", "sendMsgFromHtml", "setNoReadMsgCount"})
            expectIgnored(call);
        run(view, QStringLiteral("webobj.saveLoginInfoFromHtml('evil', 'x');"
                                 "webobj.deleteLoginInfoFromHtml('13800000000');"
                                 "webobj.clearLoginInfoFromHtml();"
                                 "webobj.sendMsgFromHtml('%1');"
                                 "webobj.setNoReadMsgCount(5);")
                      .arg(QLatin1String(notice)));
        QTRY_COMPARE(last.count(), 1);
        QCOMPARE(logins(browser), before);
        QCOMPARE(balloons.count(), 0);
        QCOMPARE(unread.count(), 0);
        QCOMPARE(browser->notifyManager()->popups().size(), popups);
        QCOMPARE(w->noticeSoundsPlayed(), 0);
        QVERIFY(w->lastNoticeMessage().isEmpty());

        // The service's page reached again afterwards works as before.
        run(view, QStringLiteral("document.getElementById('away').click()"));
        waitConnected(view, QStringLiteral("127.0.0.1"));
        QSignalSpy lists(w->jsChannel(), &JsChannel::recvLoginInfoInHtml);
        run(view, QStringLiteral("webobj.saveLoginInfoFromHtml('13700000000', 'new');"
                                 "webobj.setNoReadMsgCount(5);"));
        QTRY_COMPARE(unread.count(), 1);
        QCOMPARE(logins(browser).size(), before.size() + 1);
        QCOMPARE(lists.count(), 1);
        QCOMPARE(w->noticeSoundsPlayed(), 0);
        run(view, QStringLiteral("webobj.sendMsgFromHtml('%1')").arg(QLatin1String(notice)));
        QTRY_COMPARE(w->noticeSoundsPlayed(), 1);
        QTRY_COMPARE(browser->notifyManager()->popups().size(), popups + 1);
    }

    // A foreign frame inside a service page would act with the page's trust: it must not see
    // the transport at all.
    void foreignFramesHaveNoBridge()
    {
        server.setHtml(QStringLiteral("/frame"),
                       QStringLiteral("<html><body><script>parent.postMessage((typeof qt !== "
                                      "'undefined' && qt.webChannelTransport) ? 'bridge' : "
                                      "'none', '*');</script></body></html>"));
        server.setHtml(QStringLiteral("/framed"),
                       QStringLiteral("<html><body><script>window.answer = '';"
                                      "addEventListener('message', function (e) { window.answer "
                                      "= e.data; });</script><iframe src=\"%1\"></iframe>"
                                      "</body></html>")
                           .arg(foreignUrl(QStringLiteral("/frame")).toString()));
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, false));
        w->loadUrl(serviceUrl(QStringLiteral("/framed")));
        QTRY_VERIFY_WITH_TIMEOUT(
            !NorvaTest::runJs(w->currentView()->page(), QStringLiteral("window.answer"))
                 .toString()
                 .isEmpty(),
            20000);
        QCOMPARE(
            NorvaTest::runJs(w->currentView()->page(), QStringLiteral("window.answer")).toString(),
            QStringLiteral("none"));
    }

    // The client sends a view showing a foreign page to the service (the update log, the main
    // page); the answer never comes (204), so the foreign document stays while the page's URL
    // already names the service. It gains nothing by that.
    void pendingServiceAddressLendsNoTrust()
    {
        TestHttpServer::Response empty;
        empty.status = 204;
        server.setResponse(QStringLiteral("/empty"), empty);
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, false));
        w->loadUrl(foreignUrl(QStringLiteral("/away")));
        WebView *view = w->currentView();
        waitConnected(view, QStringLiteral("localhost"));
        const Logins before = logins(browser);
        QSignalSpy clears(w->jsChannel(), &JsChannel::recvClearLoginInfoFromHtml);
        QSignalSpy finished(view->page(), &QWebEnginePage::loadFinished);
        view->setUrl(serviceUrl(QStringLiteral("/empty")));
        QCOMPARE(view->page()->url().host(), QStringLiteral("127.0.0.1"));
        run(view, QStringLiteral("webobj.clearLoginInfoFromHtml()"));
        QTRY_COMPARE(clears.count(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(finished.count() > 0, 20000);
        run(view, QStringLiteral("webobj.clearLoginInfoFromHtml()"));
        QTRY_COMPARE(clears.count(), 2);
        QCOMPARE(NorvaTest::runJs(view->page(), QStringLiteral("location.hostname")).toString(),
                 QStringLiteral("localhost"));
        QCOMPARE(logins(browser), before);
    }

    // Notice texts and ids go back only to a page of the service, from a balloon click or a
    // popup's buttons; the window still comes up.
    void noticeAnswersKeptFromForeignPages()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, false));
        w->loadUrl(serviceUrl(QStringLiteral("/home")));
        waitConnected(w->currentView(), QStringLiteral("127.0.0.1"));
        w->handleWebNoticeMsg(QStringLiteral("{\"title\":\"T\",\"content\":\"\"}"));
        run(w->currentView(), QStringLiteral("document.getElementById('away').click()"));
        waitConnected(w->currentView(), QStringLiteral("localhost"));
        QSignalSpy shown(w->jsChannel(), &JsChannel::showMsgNotificationInHtml);
        w->handleSystemTraymessageClicked();
        QCOMPARE(shown.count(), 0);
        QTRY_VERIFY(w->isVisible());
        QVERIFY(w->lastNoticeMessage().isEmpty());

        MainWindow *const before = mainWindow;
        mainWindow = w.data();
        const auto reset = qScopeGuard([&] {
            mainWindow = before;
            browser->setForceNotice(nullptr, popupRules());
        });
        browser->setForceNotice(w->messages(), popupRules());
        QSignalSpy read(w->jsChannel(), &JsChannel::noticeReadInHtml);
        QSignalSpy accepted(w->jsChannel(), &JsChannel::receiveScheduleInHtml);
        for (const auto &[type, button] : {std::pair<int, const char *>{1, "notifyBtnKnown"},
                                           std::pair<int, const char *>{2, "notifyBtnKnown"}}) {
            w->hide();
            NoticeItem item;
            item.targetType = type;
            item.busicId = QStringLiteral("B");
            item.noticeJson = QStringLiteral("J");
            item.notifyId = QStringLiteral("N");
            browser->addNotice(item);
            expectIgnored(type == 1 ? "noticeReadInHtml" : "receiveScheduleInHtml", "Withheld");
            if (type == 2)
                expectIgnored("showMsgNotificationInHtml", "Withheld");
            QTest::mouseClick(
                browser->notifyManager()->popups().last()->findChild<QPushButton *>(button),
                Qt::LeftButton);
            QCOMPARE(w->isVisible(), type == 2);
        }
        QCOMPARE(read.count() + accepted.count() + shown.count(), 0);
    }
};

NORVA_TEST_MAIN(TestTrustBoundary)
#include "tst_trustboundary.moc"
