#include "bridge/jschannel.h"
#include "bridge/quietwebchannel.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"

#include <QAbstractEventDispatcher>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace {
const char bridgePage[] =
    "<html><head><script src=\"qrc:///qtwebchannel/qwebchannel.js\"></script></head><body>\n"
    "<script>\n"
    "window.norvaConnected = false;\n"
    "new QWebChannel(qt.webChannelTransport, function (ch) {\n"
    "  window.webobj = ch.objects.webobj;\n"
    "  webobj.recvMsgInHtml.connect(function (m) { window.got = m; });\n"
    "  window.norvaConnected = true; });\n"
    "</script></body></html>";

// Counts the timer events of the object it watches; installed after the channel's own filter,
// so it sees them first.
struct TimerWatch : QObject
{
    int ticks = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Timer)
            ++ticks;
        return false;
    }
};
} // namespace

class TestQuietWebChannel : public QObject
{
    Q_OBJECT

private slots:
    // Once the page's client has reported idle, no timer of the channel keeps running, also
    // after a reload brings a new client; calls and signals still pass both ways.
    void idleClientLeavesNoTimer()
    {
        TestHttpServer server;
        QVERIFY(server.listen());
        server.setHtml("/", bridgePage);
        QWebEngineView view;
        QuietWebChannel channel;
        JsChannel bridge;
        channel.registerObject("webobj", &bridge);
        view.page()->setWebChannel(&channel);
        QObject *publisher = channel.publisher();
        QVERIFY(publisher);
        TimerWatch watch;
        publisher->installEventFilter(&watch);
        const auto timers = [publisher] {
            return QAbstractEventDispatcher::instance()->registeredTimers(publisher).size();
        };
        QSignalSpy fromPage(&bridge, &JsChannel::recvMsgFromHtml);

        for (int load = 0; load < 2; ++load) {
            fromPage.clear();
            QVERIFY(NorvaTest::load(&view, server.url("/")));
            QTRY_VERIFY_WITH_TIMEOUT(
                NorvaTest::runJs(view.page(), "window.norvaConnected === true").toBool(), 20000);
            // The client sent its idle report before this call, on the same transport.
            NorvaTest::runJs(view.page(), "webobj.sendMsgFromHtml('hi')");
            QTRY_COMPARE_WITH_TIMEOUT(fromPage.count(), 1, 20000);
            QCOMPARE(fromPage.first().at(0).toString(), QString("hi"));
            if (load == 0) // Qt's timer ran once, then stopped
                QTRY_VERIFY(watch.ticks > 0 && timers() == 0);
            else // the new client's idle report started nothing
                QCOMPARE(timers(), 0);

            emit bridge.recvMsgInHtml(QString("back %1").arg(load));
            QTRY_COMPARE_WITH_TIMEOUT(NorvaTest::runJs(view.page(), "window.got").toString(),
                                      QString("back %1").arg(load), 20000);
        }
        QCOMPARE(watch.ticks, 1);
    }
};

NORVA_TEST_MAIN(TestQuietWebChannel)
#include "tst_quietwebchannel.moc"
