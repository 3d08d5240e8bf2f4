#include "app/browser.h"
#include "bridge/jschannel.h"
#include "bridge/noticemessage.h"
#include "mainwindow/mainwindow.h"
#include "store/appsettings.h"
#include "store/database.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"
#include "web/tabwidget.h"
#include "web/webview.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QMediaPlayer>

namespace {
const char bridgePage[] =
    "<html><head><title>%1</title>\n"
    "<script src=\"qrc:///qtwebchannel/qwebchannel.js\"></script></head><body><script>\n"
    "window.norvaConnected = false;\n"
    "if (typeof qt !== 'undefined') new QWebChannel(qt.webChannelTransport, function (ch) {\n"
    "  window.webobj = ch.objects.webobj;\n"
    "  window.norvaConnected = true; });\n"
    "</script></body></html>";
}

// The bridge object on a real page and the main window's handling of its traffic.
class TestWebMessages : public QObject
{
    Q_OBJECT

    TestHttpServer server;
    TestHttpServer foreign;
    Browser *browser = nullptr;

    static QString page(const QString &title) { return QString::fromLatin1(bridgePage).arg(title); }

    void waitConnected(WebView *view)
    {
        QTRY_VERIFY_WITH_TIMEOUT(
            NorvaTest::runJs(view->page(), QStringLiteral("window.norvaConnected === true"))
                .toBool(),
            20000);
    }

    // Records the names of the client-to-page signals in the order they are emitted.
    static QStringList *record(JsChannel *channel)
    {
        auto *names = new QStringList;
        QObject::connect(channel, &JsChannel::setClientVersionInHtml, channel,
                         [names](const QString &v) { *names << QStringLiteral("version:") + v; });
        QObject::connect(channel, &JsChannel::enableWebNotice, channel,
                         [names](bool b) { *names << QStringLiteral("notice:%1").arg(b); });
        QObject::connect(channel, &JsChannel::enableSaveLoginInfoInHtml, channel,
                         [names](bool b) { *names << QStringLiteral("save:%1").arg(b); });
        QObject::connect(channel, &JsChannel::recvLoginInfoInHtml, channel,
                         [names](const QString &s) { *names << QStringLiteral("logins:") + s; });
        return names;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        QVERIFY(foreign.listen());
        for (const QString &path :
             {QStringLiteral("/"), QStringLiteral("/login"), QStringLiteral("/other")}) {
            server.setHtml(path, page(path));
            foreign.setHtml(path, page(path));
        }
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
        w->loadUrl(server.url(QStringLiteral("/other")));
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
        NorvaTest::runJs(w->currentView()->page(),
                         QStringLiteral("\n"
                                        "            webobj.sendJsonMsgFromHtml({a: 1});\n"
                                        "            webobj.sendMsgFromHtml(\"not json\");\n"
                                        "            webobj.saveLoginInfoFromHtml(\"\", \"x\");\n"
                                        "            webobj.requestLoginInfoFromHtml();\n"
                                        "            webobj.deleteLoginInfoFromHtml(\"o'brien\");\n"
                                        "            webobj.clearLoginInfoFromHtml();\n"
                                        "            webobj.setNoReadMsgCount(7);"));
        QTRY_COMPARE(count.count(), 1);
        QCOMPARE(json.count(), 1);
        QCOMPARE(json.at(0).at(0).toJsonObject().value(QStringLiteral("a")).toInt(), 1);
        QCOMPARE(msg.count(), 1);
        QCOMPARE(msg.at(0).at(0).toString(), QStringLiteral("not json"));
        QCOMPARE(flag.count(), 0);
        QCOMPARE(login.count(), 1);
        QCOMPARE(login.at(0), (QList<QVariant>{QString(), QStringLiteral("x")}));
        QCOMPARE(request.count(), 1);
        QCOMPARE(del.count(), 1);
        QCOMPARE(del.at(0).at(0).toString(), QStringLiteral("o'brien"));
        QCOMPARE(clear.count(), 1);
        QCOMPARE(count.at(0).at(0).toInt(), 7);
    }

    void onlyTheFirstPageCarriesTheBridge()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::MultiTab, true));
        w->loadUrl(server.url(QStringLiteral("/other")));
        waitConnected(w->currentView());
        WebView *second = w->tabWidget()->createTab();
        second->setUrl(server.url(QStringLiteral("/other")));
        QTRY_VERIFY_WITH_TIMEOUT(second->loadProgress() == 100, 20000);
        QCOMPARE(NorvaTest::runJs(second->page(), QStringLiteral("typeof qt")).toString(),
                 QStringLiteral("undefined"));
    }

    void noticeMessageParsing()
    {
        NoticeMessage m = NoticeMessage::parse(QStringLiteral(
            "{\"title\":\"T\",\"content\":\"C\",\"type\":\"invite\",\"extras\":{\"busicType\":6,"
            "\"busicId\":\"b1\",\"startTime\":\"15分钟\",\"endTime\":\"E\",\"notifyId\":\"n1\"}}"));
        QCOMPARE(m.busicType, 6);
        QCOMPARE(m.notifyId, QStringLiteral("n1"));
        // Absent and mistyped keys read as their defaults.
        m = NoticeMessage::parse(QStringLiteral(
            "{\"title\":5,\"content\":\"C\",\"extras\":{\"busicType\":\"6\",\"busicId\":7}}"));
        QVERIFY(m.parsed);
        QVERIFY(m.title.isEmpty());
        QCOMPARE(m.busicType, 0);
        QVERIFY(m.busicId.isEmpty());
        QCOMPARE(NoticeMessage::shortened(QStringLiteral("一二三四五六七八九十一二三四五")),
                 QStringLiteral("一二三四五六七八九十一二三四五"));
    }

    void noticesBecomeBalloonsWithSound()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, false));
        QSignalSpy balloons(w.data(), &MainWindow::trayMessageShown);

        w->handleWebNoticeMsg(QStringLiteral("not json {"));
        QCOMPARE(balloons.count(), 0);
        QCOMPARE(w->noticeSoundsPlayed(), 0);
        QVERIFY(w->lastNoticeMessage().isEmpty());

        // A task reminder without forced-notice rules is a balloon, not a popup.
        const QString task = QStringLiteral("{\"title\":\"一二三四五六七八九十一二三四五六\","
                                            "\"content\":\"内容\",\"extras\":{\"busicType\":2}}");
        w->handleWebNoticeMsg(task);
        QCOMPARE(balloons.count(), 1);
        QCOMPARE(balloons.at(0).at(0).toString(),
                 QStringLiteral("一二三四五六七八九十一二三四五..."));
        QCOMPARE(balloons.at(0).at(1).toString(), QStringLiteral("内容"));
        QCOMPARE(balloons.at(0).at(2).toInt(), 3000);
        QCOMPARE(w->noticeSoundsPlayed(), 1);
        QCOMPARE(w->lastNoticeMessage(), task);

        // Empty content: nothing shown, but remembered and still heard.
        const QString empty = QStringLiteral("{\"title\":\"T\",\"content\":\"\"}");
        w->handleWebNoticeMsg(empty);
        QCOMPARE(balloons.count(), 1);
        QCOMPARE(w->noticeSoundsPlayed(), 2);
        QCOMPARE(w->lastNoticeMessage(), empty);

        // A JSON array passes the parse: nothing shown, the sound plays.
        w->handleWebNoticeMsg(QStringLiteral("[1]"));
        QCOMPARE(balloons.count(), 1);
        QCOMPARE(w->noticeSoundsPlayed(), 3);

        appSettings->isSysNoticeVoice = false;
        w->handleWebNoticeMsg(task);
        QCOMPARE(balloons.count(), 2);
        QCOMPARE(w->noticeSoundsPlayed(), 3);
        w->handleWebNoticeMsg(QString());
        QCOMPARE(balloons.count(), 2);
    }

    // The sound's media back end is built at the first notice, not at start.
    void noticeSoundLoadsAtFirstUse()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, false));
        w->initNoticeSound();
        QVERIFY(!w->noticePlayer());
        w->handleWebNoticeMsg(QStringLiteral("{\"title\":\"T\",\"content\":\"\"}"));
        QVERIFY(w->noticePlayer());
        QCOMPARE(w->noticePlayer()->media().request().url(),
                 QUrl(QStringLiteral("qrc:/notice.mp3")));
    }

    void balloonClickHandsTheNoticeBack()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, false));
        w->loadUrl(server.url(QStringLiteral("/other")));
        QTRY_VERIFY_WITH_TIMEOUT(w->currentView()->loadProgress() == 100, 20000);
        QSignalSpy shown(w->jsChannel(), &JsChannel::showMsgNotificationInHtml);
        const QString notice = QStringLiteral("{\"title\":\"T\",\"content\":\"C\"}");
        w->handleWebNoticeMsg(notice);
        w->handleSystemTraymessageClicked();
        QCOMPARE(shown.count(), 1);
        QCOMPARE(shown.at(0).at(0).toString(), notice);
        QTRY_VERIFY(w->isVisible());
        w->hide();
        w->handleSystemTraymessageClicked();
        QCOMPARE(shown.count(), 1);
        QVERIFY(!w->isVisible());
    }

    void refreshOrderAndLoginSuffix_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("ownOrigin");
        QTest::addColumn<bool>("expectList");
        QTest::newRow("login") << QStringLiteral("/login") << true << true;
        QTest::newRow("query") << QStringLiteral("/login?x=1") << true << false;
        QTest::newRow("fragment") << QStringLiteral("/login#top") << true << false;
        QTest::newRow("slash") << QStringLiteral("/login/") << true << false;
        QTest::newRow("foreign login") << QStringLiteral("/login") << false << false;
    }

    void refreshOrderAndLoginSuffix()
    {
        QFETCH(QString, path);
        QFETCH(bool, ownOrigin);
        QFETCH(bool, expectList);
        browser->dataBase()->saveLoginInfo(QStringLiteral("13800000000"), QStringLiteral("pw\"1"));
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, true));
        QScopedPointer<QStringList> names(record(w->jsChannel()));
        const QUrl url = (ownOrigin ? server : foreign).url(path);
        w->loadUrl(url);
        QTRY_VERIFY_WITH_TIMEOUT(names->size() >= 3 && w->currentView()->loadProgress() == 100,
                                 20000);
        QCOMPARE(names->mid(0, 3),
                 (QStringList{QStringLiteral("version:1.7.5"), QStringLiteral("notice:1"),
                              QStringLiteral("save:1")}));
        const QString list =
            QStringLiteral("logins:[{\"password\":\"pw\\\"1\",\"telephone\":\"13800000000\"}]");
        QCOMPARE(names->contains(list), expectList);
        if (!expectList)
            QVERIFY(names->filter(QStringLiteral("logins:")).isEmpty());
    }

    void settingsOffSendNothing()
    {
        appSettings->isSysNotice = false;
        appSettings->allowSavePassword = false;
        browser->dataBase()->saveLoginInfo(QStringLiteral("u"), QStringLiteral("p"));
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, false));
        QScopedPointer<QStringList> names(record(w->jsChannel()));
        w->webView()->setUrl(server.url(QStringLiteral("/login")));
        QTRY_VERIFY_WITH_TIMEOUT(w->currentView()->loadProgress() == 100, 20000);
        w->refreshPageState();
        QVERIFY(!names->isEmpty());
        for (const QString &n : *names)
            QVERIFY2(n.startsWith(QStringLiteral("version:")), qPrintable(n));
        // The page's own request is refused too while saving passwords is off.
        w->handleRequestLoginInfo();
        QVERIFY(names->filter(QStringLiteral("logins:")).isEmpty());
    }

    void savingDeletingAndClearing()
    {
        QScopedPointer<MainWindow> w(browser->createWindow(MainWindow::SingleView, false));
        w->webView()->setUrl(server.url(QStringLiteral("/login")));
        QTRY_VERIFY_WITH_TIMEOUT(w->currentView()->loadProgress() == 100, 20000);
        QSignalSpy lists(w->jsChannel(), &JsChannel::recvLoginInfoInHtml);
        w->handleSaveLoginInfo(QStringLiteral("a"), QString());
        w->handleSaveLoginInfo(QString(), QStringLiteral("p"));
        QCOMPARE(lists.count(), 0);
        w->handleSaveLoginInfo(QStringLiteral("a"), QStringLiteral("1"));
        w->handleSaveLoginInfo(QStringLiteral("b"), QStringLiteral("2"));
        w->handleSaveLoginInfo(QStringLiteral("a"), QStringLiteral("3"));
        QCOMPARE(lists.count(), 3);
        QCOMPARE(lists.last().at(0).toString(),
                 QStringLiteral("[{\"password\":\"3\",\"telephone\":\"a\"},"
                                "{\"password\":\"2\",\"telephone\":\"b\"}]"));
        w->handleDeleteLoginInfo(QStringLiteral("a"));
        w->handleRequestLoginInfo();
        QCOMPARE(lists.last().at(0).toString(),
                 QStringLiteral("[{\"password\":\"2\",\"telephone\":\"b\"}]"));
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
};

NORVA_TEST_MAIN(TestWebMessages)
#include "tst_webmessages.moc"
