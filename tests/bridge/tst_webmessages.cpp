#include "app/browser.h"
#include "bridge/jschannel.h"
#include "bridge/noticemessage.h"
#include "bridge/webmessagehandler.h"
#include "mainwindow/mainwindow.h"
#include "notify/notifymanager.h"
#include "store/appsettings.h"
#include "store/database.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"
#include "web/tabwidget.h"
#include "web/webview.h"

#include <QJsonDocument>
#include <QLineEdit>
#include <QMediaPlayer>

namespace {
// Every page records the login lists it is given and links to the other origin.
const char bridgePage[] =
    "<html><head><script src=\"qrc:///qtwebchannel/qwebchannel.js\"></script></head><body>\n"
    "<a id=\"away\" href=\"%1\" style=\"display:block;width:300px;height:100px\">away</a>\n"
    "<script>\n"
    "window.lists = []; window.norvaConnected = false;\n"
    "if (typeof qt !== 'undefined') new QWebChannel(qt.webChannelTransport, function (ch) {\n"
    "  window.webobj = ch.objects.webobj;\n"
    "  webobj.recvLoginInfoInHtml.connect(function (s) { window.lists.push(s); });\n"
    "  window.norvaConnected = true; });\n"
    "</script></body></html>";

const char notice[] = R"({"title":"T","content":"C","extras":{"busicType":2}})";

using Logins = QList<QPair<QString, QString>>;
} // namespace

// The bridge object on real pages, the window's handling of its traffic, and the trust rule: a
// page of another origin that a bridged view reaches keeps the bridge, but not the trust. The
// service is served as 127.0.0.1, the foreign pages by the same server as localhost.
class TestWebMessages : public QObject
{
    Q_OBJECT

    TestHttpServer server;
    Browser *browser = nullptr;
    QStringList names; // client-to-page signals in the order they were emitted

    QUrl serviceUrl(const QString &path) const { return server.url(path); }
    QUrl foreignUrl(const QString &path) const
    {
        QUrl url = server.url(path);
        url.setHost("localhost");
        return url;
    }

    // Waits for the document itself, not only the page's URL, which names a pending target.
    static void waitConnected(WebView *view, const QString &host = "127.0.0.1")
    {
        QTRY_VERIFY_WITH_TIMEOUT(
            view->page()->url().host() == host &&
                run(view, "window.norvaConnected && location.hostname").toString() == host &&
                view->loadProgress() == 100,
            20000);
    }

    static QVariant run(WebView *view, const QString &script)
    {
        return NorvaTest::runJs(view->page(), script);
    }

    void record(JsChannel *channel)
    {
        names.clear();
        connect(channel, &JsChannel::setClientVersionInHtml, channel,
                [this](const QString &v) { names << "version:" + v; });
        connect(channel, &JsChannel::enableWebNotice, channel,
                [this](bool b) { names << QString("notice:%1").arg(b); });
        connect(channel, &JsChannel::enableSaveLoginInfoInHtml, channel,
                [this](bool b) { names << QString("save:%1").arg(b); });
        connect(channel, &JsChannel::recvLoginInfoInHtml, channel,
                [this](const QString &s) { names << "logins:" + s; });
    }

    Logins logins() const
    {
        Logins list;
        browser->dataBase()->getLoginInfos(list);
        return list;
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
        for (const char *path : {"/home", "/login", "/login/", "/other"})
            server.setHtml(path, QString(bridgePage).arg(foreignUrl("/away").toString()));
        server.setHtml("/away", QString(bridgePage).arg(serviceUrl("/home").toString()));
        qputenv("NORVA_SERVICE_URL", server.url().toString().toUtf8());
        browser = new Browser;
        QVERIFY(QSystemTrayIcon::isSystemTrayAvailable());
    }

    void cleanupTestCase() { delete browser; }

    void init()
    {
        appSettings->isSysNotice = true;
        appSettings->isSysNoticeVoice = true;
        appSettings->allowSavePassword = true;
        browser->dataBase()->clearLoginInfo();
    }

    void everySlotRelaysOnceWithItsArguments()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, true));
        w->loadUrl(serviceUrl("/other"));
        waitConnected(w->currentView());
        JsChannel *ch = w->jsChannel();
        QSignalSpy json(ch, &JsChannel::recvJsonMsgFromHtml);
        QSignalSpy msg(ch, &JsChannel::recvMsgFromHtml);
        QSignalSpy flag(ch, &JsChannel::recvBoolMsgFromHtml);
        QSignalSpy login(ch, &JsChannel::recvLoginInfoFromHtml);
        QSignalSpy request(ch, &JsChannel::recvRequestLoginInfoFromHtml);
        QSignalSpy del(ch, &JsChannel::recvDeleteLoginInfoFromHtml);
        QSignalSpy clear(ch, &JsChannel::recvClearLoginInfoFromHtml);
        QSignalSpy count(ch, &JsChannel::recvNoReadMsgCountFromHtml);
        run(w->currentView(), "webobj.sendJsonMsgFromHtml({a: 1});"
                              "webobj.sendMsgFromHtml(\"not json\");"
                              "webobj.saveLoginInfoFromHtml(\"\", \"x\");"
                              "webobj.requestLoginInfoFromHtml();"
                              "webobj.deleteLoginInfoFromHtml(\"o'brien\");"
                              "webobj.clearLoginInfoFromHtml();"
                              "webobj.setNoReadMsgCount(7);");
        QTRY_COMPARE(count.count(), 1);
        QCOMPARE(QVector<int>({json.count(), msg.count(), flag.count(), login.count(),
                               request.count(), del.count(), clear.count()}),
                 QVector<int>({1, 1, 0, 1, 1, 1, 1}));
        QCOMPARE(json.at(0).at(0).toJsonObject(), (QJsonObject{{"a", 1}}));
        QCOMPARE(msg.at(0), QVariantList{"not json"});
        QCOMPARE(login.at(0), (QVariantList{QString(), "x"}));
        QCOMPARE(del.at(0), QVariantList{"o'brien"});
        QCOMPARE(count.at(0), QVariantList{7});
    }

    void onlyTheFirstPageCarriesTheBridge()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::MultiTab, true));
        w->loadUrl(serviceUrl("/other"));
        waitConnected(w->currentView());
        WebView *second = w->tabWidget()->createTab();
        second->setUrl(serviceUrl("/other"));
        QTRY_VERIFY_WITH_TIMEOUT(second->loadProgress() == 100, 20000);
        QCOMPARE(run(second, "typeof qt").toString(), QString("undefined"));
    }

    void noticeMessageParsing()
    {
        // Absent and mistyped keys read as their defaults.
        const NoticeMessage m = NoticeMessage::parse(
            R"({"title":5,"content":"C","extras":{"busicType":"6","busicId":7}})");
        QVERIFY(m.parsed);
        QVERIFY(m.title.isEmpty());
        QCOMPARE(m.busicType, 0);
        QVERIFY(m.busicId.isEmpty());
        QCOMPARE(NoticeMessage::shortened("一二三四五六七八九十一二三四五"),
                 QString("一二三四五六七八九十一二三四五"));
    }

    void noticesBecomeBalloonsWithSound()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, false));
        QSignalSpy balloons(w.data(), &MainWindow::trayMessageShown);
        // The sound's media back end is built at the first notice, not at start.
        w->initNoticeSound();
        QVERIFY(!w->noticePlayer());
        // Whether the message started the sound: the player is stopped first, so only a play
        // for this very message leaves it playing.
        const auto heard = [&w](const QString &message) {
            if (QMediaPlayer *player = w->noticePlayer())
                player->stop();
            w->handleWebNoticeMsg(message);
            return w->noticePlayer() && w->noticePlayer()->state() == QMediaPlayer::PlayingState;
        };

        QVERIFY(!heard("not json {"));
        QCOMPARE(balloons.count(), 0);
        QVERIFY(w->lastNoticeMessage().isEmpty());

        // A task reminder without forced-notice rules is a balloon, not a popup.
        const QString task = R"({"title":"一二三四五六七八九十一二三四五六",)"
                             R"("content":"内容","extras":{"busicType":2}})";
        QVERIFY(heard(task));
        QCOMPARE(balloons.count(), 1);
        QCOMPARE(balloons.at(0),
                 (QList<QVariant>{"一二三四五六七八九十一二三四五...", "内容", 3000}));
        QCOMPARE(w->lastNoticeMessage(), task);
        QCOMPARE(w->noticePlayer()->media().request().url(), QUrl("qrc:/notice.mp3"));

        // Empty content: nothing shown, but remembered and still heard.
        const QString empty = R"({"title":"T","content":""})";
        QVERIFY(heard(empty));
        QCOMPARE(balloons.count(), 1);
        QCOMPARE(w->lastNoticeMessage(), empty);

        // A JSON array passes the parse: nothing shown, the sound plays.
        QVERIFY(heard("[1]"));
        QCOMPARE(balloons.count(), 1);

        appSettings->isSysNoticeVoice = false;
        QVERIFY(!heard(task));
        QCOMPARE(balloons.count(), 2);
        QVERIFY(!heard(QString()));
        QCOMPARE(balloons.count(), 2);
    }

    // A balloon click hands the last notice back once, and only to a page of the service.
    void noticeAnswersOnlyToTheService()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, false));
        w->loadUrl(serviceUrl("/home"));
        waitConnected(w->currentView());
        QSignalSpy shown(w->jsChannel(), &JsChannel::showMsgNotificationInHtml);
        w->handleWebNoticeMsg(notice);
        w->handleSystemTraymessageClicked();
        QCOMPARE(shown.count(), 1);
        QCOMPARE(shown.at(0).at(0).toString(), QString(notice));
        QTRY_VERIFY(w->isVisible());
        w->hide();
        w->handleSystemTraymessageClicked();
        QCOMPARE(shown.count(), 1);
        QVERIFY(!w->isVisible());

        w->handleWebNoticeMsg(notice);
        run(w->currentView(), "document.getElementById('away').click()");
        waitConnected(w->currentView(), "localhost");
        w->handleSystemTraymessageClicked();
        QCOMPARE(shown.count(), 1);
        QTRY_VERIFY(w->isVisible());
        QVERIFY(w->lastNoticeMessage().isEmpty());
    }

    void refreshOrderAndLoginSuffix_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("ownOrigin");
        QTest::addColumn<bool>("settingsOn");
        QTest::addColumn<bool>("expectList");
        QTest::newRow("login") << "/login" << true << true << true;
        QTest::newRow("query") << "/login?x=1" << true << true << false;
        QTest::newRow("fragment") << "/login#top" << true << true << false;
        QTest::newRow("slash") << "/login/" << true << true << false;
        QTest::newRow("foreign login") << "/login" << false << true << false;
        QTest::newRow("settings off") << "/login" << true << false << false;
    }

    void refreshOrderAndLoginSuffix()
    {
        QFETCH(QString, path);
        QFETCH(bool, ownOrigin);
        QFETCH(bool, settingsOn);
        QFETCH(bool, expectList);
        appSettings->isSysNotice = appSettings->allowSavePassword = settingsOn;
        browser->dataBase()->saveLoginInfo("13800000000", "pw\"1");
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, true));
        record(w->jsChannel());
        QSignalSpy finished(w->currentView()->page(), &QWebEnginePage::loadFinished);
        w->loadUrl(ownOrigin ? serviceUrl(path) : foreignUrl(path));
        QTRY_VERIFY_WITH_TIMEOUT(
            !finished.isEmpty() && (names.size() >= (settingsOn ? 3 : 1) || !ownOrigin), 20000);
        if (!ownOrigin || !settingsOn) {
            // Not even the page state goes outside the service; with the settings off only the
            // version goes, and the page's own request for the list is refused.
            w->refreshPageState();
            w->handleRequestLoginInfo();
            QCOMPARE(names.filter(QRegularExpression("^(?!version:)")), QStringList());
            QCOMPARE(names.isEmpty(), !ownOrigin);
            return;
        }
        QCOMPARE(names.mid(0, 3), (QStringList{"version:1.7.5", "notice:1", "save:1"}));
        const QString list = "logins:[{\"password\":\"pw\\\"1\",\"telephone\":\"13800000000\"}]";
        QCOMPARE(names.contains(list), expectList);
        if (!expectList)
            QVERIFY(names.filter("logins:").isEmpty());
    }

    void savingDeletingAndClearing()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, false));
        QVERIFY(NorvaTest::load(w->webView(), serviceUrl("/login")));
        QSignalSpy lists(w->jsChannel(), &JsChannel::recvLoginInfoInHtml);
        w->handleSaveLoginInfo("a", QString());
        w->handleSaveLoginInfo(QString(), "p");
        QCOMPARE(lists.count(), 0);
        w->handleSaveLoginInfo("a", "1");
        w->handleSaveLoginInfo("b", "2");
        w->handleSaveLoginInfo("a", "3");
        QCOMPARE(lists.count(), 3);
        QCOMPARE(lists.last().at(0).toString(),
                 QString(R"([{"password":"3","telephone":"a"},{"password":"2","telephone":"b"}])"));
        w->handleDeleteLoginInfo("a");
        w->handleRequestLoginInfo();
        QCOMPARE(lists.last().at(0).toString(), QString(R"([{"password":"2","telephone":"b"}])"));
        w->handleClearLoginInfo();
        w->handleRequestLoginInfo();
        QCOMPARE(lists.count(), 4); // an empty store sends nothing
    }

    void unreadCountBadge()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, false));
        mainWindow = w.data();
        const auto image = [&w] { return w->trayIcon()->icon().pixmap(64, 64).toImage(); };
        const QImage plain = image();
        QVERIFY(!plain.isNull());
        w->handleSetAppilicationIconBadgeNumber(5);
        QVERIFY(image() != plain);
        w->handleSetAppilicationIconBadgeNumber(0);
        QCOMPARE(image(), plain);
        mainWindow = nullptr;
    }

    void trustFollowsThePageNotTheView_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<QString>("mainPage");
        QTest::addColumn<bool>("trusted");
        const QUrl base = serviceUrl("/x");
        QUrl otherPort = base;
        otherPort.setPort(base.port() + 1);
        QUrl https = base;
        https.setScheme("https");
        QTest::newRow("service") << base << QString() << true;
        QTest::newRow("other host") << foreignUrl("/x") << QString() << false;
        QTest::newRow("other port") << otherPort << QString() << false;
        QTest::newRow("other scheme") << https << QString() << false;
        // The main page never widens the trust: it is of the service's origin or not used.
        QTest::newRow("main page elsewhere")
            << QUrl("https://okr.example.com/a/login") << "https://okr.example.com/a/" << false;
        QTest::newRow("empty") << QUrl() << QString() << false;
        QTest::newRow("file") << QUrl("file:///etc/passwd") << QString() << false;
    }

    void trustFollowsThePageNotTheView()
    {
        QFETCH(QUrl, url);
        QFETCH(QString, mainPage);
        QFETCH(bool, trusted);
        const QString saved = std::exchange(appSettings->defaultMainPage, mainPage);
        QCOMPARE(WebMessageHandler::isTrustedUrl(url), trusted);
        appSettings->defaultMainPage = saved;
    }

    // Everything a foreign page asks of the client is refused, even while the current tab shows
    // the service's login; the service's page reached again works as before.
    void foreignCallsChangeNothing_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("shiftClick");
        QTest::newRow("single view") << int(MainWindow::SingleView) << false;
        QTest::newRow("new window from tabs") << int(MainWindow::MultiTab) << true;
        QTest::newRow("tab beside the login") << int(MainWindow::MultiTab) << false;
    }

    void foreignCallsChangeNothing()
    {
        QFETCH(int, mode);
        QFETCH(bool, shiftClick);
        browser->setForceNotice(popupRules());
        const auto noRules = qScopeGuard([this] { browser->setForceNotice({}); });
        browser->dataBase()->saveLoginInfo("13800000000", "pw");
        QScopedPointer<MainWindow> opener(browser->createWindow(mode, true)), opened;
        opener->loadUrl(serviceUrl("/home"));
        waitConnected(opener->currentView());
        MainWindow *w = opener.data();
        WebView *view = w->currentView();
        if (shiftClick) { // asks for a new window: in the tab modes a single-view main window
            const int before = browser->windows().size();
            QTest::mouseClick(view->focusProxy(), Qt::LeftButton, Qt::ShiftModifier, {40, 40});
            QTRY_COMPARE_WITH_TIMEOUT(browser->windows().size(), before + 1, 20000);
            opened.reset(w = browser->windows().last());
            view = w->currentView();
            QCOMPARE(w->displayMode(), int(MainWindow::SingleView));
        } else {
            run(view, "document.getElementById('away').click()");
        }
        waitConnected(view, "localhost");
        if (mode == MainWindow::MultiTab && !shiftClick) {
            WebView *login = w->tabWidget()->createTab();
            login->setUrl(serviceUrl("/login"));
            QTRY_VERIFY_WITH_TIMEOUT(login->loadProgress() == 100, 20000);
            QCOMPARE(w->currentView(), login);
        }

        const Logins before = logins();
        const int popups = browser->notifyManager()->popups().size();
        QSignalSpy balloons(w, &MainWindow::trayMessageShown);
        QSignalSpy unread(w->messages(), &WebMessageHandler::unreadCountChanged);
        QSignalSpy last(w->jsChannel(), &JsChannel::recvNoReadMsgCountFromHtml);
        QSignalSpy lists(w->jsChannel(), &JsChannel::recvLoginInfoInHtml);
        for (const char *call :
             {"requestLoginInfoFromHtml", "saveLoginInfoFromHtml", "deleteLoginInfoFromHtml",
              "clearLoginInfoFromHtml", "sendMsgFromHtml", "setNoReadMsgCount"})
            QTest::ignoreMessage(
                QtWarningMsg,
                QRegularExpression(
                    QString("^Ignored %1 from a page outside the service: http://localhost:")
                        .arg(call)));
        run(view, QString("webobj.requestLoginInfoFromHtml(); webobj.requestLoginInfoFromHtml();"
                          "webobj.saveLoginInfoFromHtml('evil', 'x');"
                          "webobj.deleteLoginInfoFromHtml('13800000000');"
                          "webobj.clearLoginInfoFromHtml();"
                          "webobj.sendMsgFromHtml('%1');"
                          "webobj.setNoReadMsgCount(5);")
                      .arg(notice));
        QTRY_COMPARE(last.count(), 1);
        w->refreshPageState();
        QCOMPARE(lists.count(), 0);
        QCOMPARE(run(view, "window.lists.length").toInt(), 0);
        QCOMPARE(logins(), before);
        QCOMPARE(balloons.count(), 0);
        QCOMPARE(unread.count(), 0);
        QCOMPARE(browser->notifyManager()->popups().size(), popups);
        QCOMPARE(w->noticeSoundsPlayed(), 0);
        QVERIFY(w->lastNoticeMessage().isEmpty());

        // The service's page reached again is heard: its notice pops up with its sound.
        run(view, "document.getElementById('away').click()");
        waitConnected(view);
        run(view, QString("webobj.sendMsgFromHtml('%1')").arg(notice));
        QTRY_COMPARE(w->noticeSoundsPlayed(), 1);
        QTRY_COMPARE(browser->notifyManager()->popups().size(), popups + 1);
    }

    // A foreign page that never finishes loading calls the bridge in a loop while the client
    // sends its view to the service in each of the five ways it does that. The foreign document
    // stays until the service's (held back) commits: it gets nothing, changes nothing, each
    // member is logged once; the service's document is heard from its commit and after a stop.
    void serviceAddressIntoAForeignPage_data()
    {
        QTest::addColumn<QString>("way");
        QTest::newRow("version file's main page") << "main-page";
        QTest::newRow("update log") << "update-log";
        QTest::newRow("cache clearing") << "cache";
        QTest::newRow("typed address") << "typed";
        QTest::newRow("loadUrl") << "loadUrl";
    }

    void serviceAddressIntoAForeignPage()
    {
        QFETCH(QString, way);
        TestHttpServer::Response held;
        held.hold = true;
        held.contentType = "image/png";
        server.setResponse("/never", held);
        server.setHtml(
            "/busy",
            QString(bridgePage).arg(serviceUrl("/home").toString()) +
                QString(
                    "<img src=\"/never\"><script>setInterval(function () {"
                    "  if (!window.webobj || window.lists.length) return;"
                    "  webobj.requestLoginInfoFromHtml(); webobj.saveLoginInfoFromHtml('evil', "
                    "'x');"
                    "  webobj.deleteLoginInfoFromHtml('13800000000'); "
                    "webobj.clearLoginInfoFromHtml();"
                    "  webobj.sendMsgFromHtml('%1'); webobj.setNoReadMsgCount(9); }, 5);</script>")
                    .arg(notice));
        const QString path = way == "update-log" ? "/updates_new"
                             : way == "cache"    ? "/"
                                                 : "/servicemain";
        held.contentType = "text/html; charset=utf-8";
        held.body =
            (QString(bridgePage).arg(foreignUrl("/away").toString()) + "<img src=\"/never\">")
                .toUtf8();
        server.setResponse(path, held);
        const auto restore = qScopeGuard([&, saved = appSettings->defaultMainPage] {
            appSettings->defaultMainPage = saved;
            browser->setForceNotice({});
            server.release(path, false);
            server.setHtml(path, QString());
        });
        browser->setForceNotice(popupRules());
        browser->dataBase()->saveLoginInfo("13800000000", "pw");
        const Logins before = logins();

        QScopedPointer<MainWindow> w(browser->createWindow(
            way == "typed" ? MainWindow::BrowserMode : MainWindow::SingleView, true));
        WebView *view = w->currentView();
        static QHash<QString, int> refusals; // counted, not printed
        refusals.clear();
        static QtMessageHandler previous = nullptr;
        previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &context, const QString &text) {
                if (text.startsWith("Ignored ") || text.startsWith("Withheld "))
                    ++refusals[text.section(' ', 0, 1)];
                else
                    previous(type, context, text);
            });
        const auto uninstall = qScopeGuard([] { qInstallMessageHandler(previous); });

        QSignalSpy calls(w->jsChannel(), &JsChannel::recvRequestLoginInfoFromHtml);
        w->loadUrl(foreignUrl("/busy"));
        QTRY_VERIFY_WITH_TIMEOUT(calls.count() > 5, 20000);
        QCOMPARE(run(view, "document.readyState").toString(), QString("interactive"));

        QSignalSpy balloons(w.data(), &MainWindow::trayMessageShown);
        QSignalSpy unread(w->messages(), &WebMessageHandler::unreadCountChanged);
        const int popups = browser->notifyManager()->popups().size();
        const int requests = server.requests().count(path);
        if (way == "main-page" || way == "cache") {
            appSettings->clearCacheVersion.clear();
            const QJsonObject version =
                way == "cache"
                    ? QJsonObject{{"cache", QJsonObject{{"clear", "true"}, {"ver", "7"}}}}
                    : QJsonObject{{"win", QJsonObject{{"latest-version", "1.7.5"},
                                                      {"main-page", serviceUrl(path).toString()}}}};
            server.setHtml("/kst-client/updates/version.json",
                           QJsonDocument(QJsonObject{{"version", version}}).toJson());
            w->checkVersion(true);
        } else if (way == "update-log") {
            w->handleViewUpdateLog();
        } else if (way == "typed") {
            auto *address = w->findChild<QLineEdit *>();
            address->setText(serviceUrl(path).toString());
            QTest::keyClick(address, Qt::Key_Return);
        } else {
            w->loadUrl(serviceUrl(path));
        }
        QTRY_VERIFY_WITH_TIMEOUT(server.requests().count(path) > requests, 20000);
        QCOMPARE(view->page()->url(), serviceUrl(path));
        const int seen = calls.count(); // the loop stops at the first list it gets
        QTRY_VERIFY_WITH_TIMEOUT(
            calls.count() > seen + 30 || run(view, "window.lists.length").toInt() > 0, 20000);

        QCOMPARE(run(view, "window.lists.length + ' ' + location.hostname").toString(),
                 QString("0 localhost"));
        QCOMPARE(logins(), before);
        QCOMPARE(balloons.count(), 0);
        QCOMPARE(unread.count(), 0);
        QCOMPARE(browser->notifyManager()->popups().size(), popups);
        QCOMPARE(w->noticeSoundsPlayed(), 0);
        for (const char *member :
             {"requestLoginInfoFromHtml", "saveLoginInfoFromHtml", "deleteLoginInfoFromHtml",
              "clearLoginInfoFromHtml", "sendMsgFromHtml", "setNoReadMsgCount"})
            QCOMPARE(refusals.value(QString("Ignored ") + member), 1);

        server.release(path);
        QTRY_COMPARE_WITH_TIMEOUT(run(view, "window.norvaConnected && location.hostname"),
                                  QVariant("127.0.0.1"), 20000);
        QCOMPARE(run(view, "document.readyState").toString(), QString("interactive"));
        run(view, "webobj.requestLoginInfoFromHtml()");
        QTRY_VERIFY_WITH_TIMEOUT(run(view, "window.lists.length").toInt() >= 1, 20000);
        QSignalSpy stopped(view->page(), &QWebEnginePage::loadFinished);
        view->page()->triggerAction(QWebEnginePage::Stop);
        QTRY_VERIFY_WITH_TIMEOUT(!stopped.isEmpty(), 20000);
        run(view, "webobj.saveLoginInfoFromHtml('13700000000', 'new'); "
                  "webobj.setNoReadMsgCount(3);");
        QTRY_COMPARE_WITH_TIMEOUT(unread.count(), 1, 20000);
        QCOMPARE(logins().size(), before.size() + 1);
        QCOMPARE(refusals.value("Withheld showMsgNotificationInHtml"), 0);
    }
};

NORVA_TEST_MAIN(TestWebMessages)
#include "tst_webmessages.moc"
