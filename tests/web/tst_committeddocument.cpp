#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"
#include "web/committeddocument.h"

#include <QWebChannel>
#include <QWebEngineHistory>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

namespace {
// Every document reports its own address through the channel as fast as it can, and once more
// in a burst when it is being left.
const char reportingPage[] =
    "<html><head><script src=\"qrc:///qtwebchannel/qwebchannel.js\"></script></head><body>%1"
    "<script>\n"
    "new QWebChannel(qt.webChannelTransport, function (ch) { window.r = ch.objects.reports;\n"
    "  r.report(location.href); setInterval(function () { r.report(location.href); }, 2); });\n"
    "addEventListener('beforeunload', function () {\n"
    "  if (window.r) for (var i = 0; i < 20; ++i) r.report(location.href); });\n"
    "</script></body></html>";

QString originOf(const QUrl &url)
{
    return url.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment).toString();
}
} // namespace

// Receives the documents' reports and weighs each against what the page says at that moment.
class Reports : public QObject
{
    Q_OBJECT
public:
    QWebEnginePage *page = nullptr;
    QStringList senders;      // every reporting address, in order
    int committedWrong = 0;   // reports from a document other than the committed one's origin
    int urlWrong = 0;         // ... than url()'s
    int currentItemWrong = 0; // ... than history()->currentItem()'s

    void clear()
    {
        senders.clear();
        committedWrong = urlWrong = currentItemWrong = 0;
    }
    int from(const QUrl &url) const { return senders.count(url.toString()); }

public slots:
    void report(const QString &href)
    {
        const QString origin = originOf(QUrl(href));
        senders << href;
        committedWrong += origin != originOf(CommittedDocument::url(page));
        urlWrong += origin != originOf(page->url());
        currentItemWrong += origin != originOf(page->history()->currentItem().url());
    }
};

// Which document the engine has committed, told at every moment of a navigation: the documents
// themselves report their address while the client and they navigate, and no report may come
// from another origin than the committed document's. The service is 127.0.0.1, the other site
// localhost, on the same test server.
class TestCommittedDocument : public QObject
{
    Q_OBJECT

    TestHttpServer server;
    QWebEngineView *view = nullptr;
    QWebEnginePage *page = nullptr;
    Reports reports;
    int backRequests = 0;

    QUrl foreign(const QString &path) const
    {
        QUrl url = server.url(path);
        url.setHost("localhost");
        return url;
    }

    void showAndWait(const QUrl &url)
    {
        QSignalSpy finished(page, &QWebEnginePage::loadFinished);
        page->setUrl(url);
        QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty() && reports.from(url) > 3, 20000);
        QCOMPARE(CommittedDocument::url(page), url);
    }

    // Lets the document being left report a while during the pending navigation.
    void letReport(const QUrl &from)
    {
        const int before = reports.from(from);
        QTRY_VERIFY_WITH_TIMEOUT(reports.from(from) > before + 30, 20000);
    }

    static TestHttpServer::Response held(const QString &extra = QString())
    {
        TestHttpServer::Response r;
        r.hold = true;
        r.body = QString(reportingPage).arg(extra).toUtf8();
        return r;
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<QWebEnginePage::RenderProcessTerminationStatus>();
        QVERIFY(server.listen());
        server.setHtml("/page", QString(reportingPage).arg(QString()));
        TestHttpServer::Response image;
        image.hold = true;
        image.contentType = "image/png";
        server.setResponse("/image", image);
        server.setHtml("/loading", QString(reportingPage).arg("<img src=\"/image\">"));
        server.setResponse("/empty", {204, "text/plain", {}, {}});
        // A page that must come from the network again when the history returns to it.
        server.setHandler("/again", [this](const QByteArray &) {
            TestHttpServer::Response r = held();
            r.headers << qMakePair(QByteArray("Cache-Control"), QByteArray("no-store"));
            r.hold = ++backRequests > 1;
            return r;
        });

        view = new QWebEngineView;
        page = new QWebEnginePage(QWebEngineProfile::defaultProfile(), view);
        view->setPage(page);
        auto *channel = new QWebChannel(page);
        channel->registerObject("reports", &reports);
        page->setWebChannel(channel);
        reports.page = page;
        view->resize(300, 200);
        view->show();
        QVERIFY(CommittedDocument::url(page).isEmpty());
    }

    void cleanupTestCase() { delete view; }

    void init() { reports.clear(); }

    void cleanup() { QCOMPARE(reports.committedWrong, 0); }

    // setUrl() names the new address at once, long before its document commits, also when it
    // replaces a load still under way (which brings no loadStarted). Committed is the new
    // document from its commit on, not only once it has finished loading; a load stopped
    // before its commit leaves the old document in place.
    void newAddress_data()
    {
        QTest::addColumn<QString>("leaving");
        QTest::addColumn<bool>("stopBeforeCommit");
        QTest::newRow("finished page") << "/page" << false;
        QTest::newRow("page still loading") << "/loading" << false;
        QTest::newRow("stopped before commit") << "/page" << true;
    }

    void newAddress()
    {
        QFETCH(QString, leaving);
        QFETCH(bool, stopBeforeCommit);
        const QUrl from = foreign(leaving);
        page->setUrl(from);
        QTRY_VERIFY_WITH_TIMEOUT(reports.from(from) > 3, 20000);
        const QUrl to = server.url(QString("/hold%1%2").arg(leaving).arg(stopBeforeCommit));
        server.setResponse(to.path(), held("<img src=\"/image\">"));
        QSignalSpy started(page, &QWebEnginePage::loadStarted);
        QSignalSpy finished(page, &QWebEnginePage::loadFinished);
        page->setUrl(to);
        QCOMPARE(page->url(), to);
        QCOMPARE(CommittedDocument::url(page), from);
        QTRY_VERIFY_WITH_TIMEOUT(server.requests().contains(to.path()), 20000);
        letReport(from);
        QVERIFY(reports.urlWrong > 0);
        QCOMPARE(started.count(), leaving == "/page" ? 1 : 0);
        if (stopBeforeCommit) {
            page->triggerAction(QWebEnginePage::Stop);
            QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty() && page->url() == from, 20000);
            QCOMPARE(CommittedDocument::url(page), from);
            server.release(to.path(), false);
            return;
        }
        server.release(to.path());
        QTRY_VERIFY_WITH_TIMEOUT(reports.from(to) > 3, 20000);
        QCOMPARE(CommittedDocument::url(page), to);
        QCOMPARE(finished.count(), 0);
        page->triggerAction(QWebEnginePage::Stop);
        QCOMPARE(CommittedDocument::url(page), to);
    }

    // A load answered with 204 leaves the document in place; a failed one commits the engine's
    // error page at the address that failed.
    void emptyAndFailedLoads()
    {
        const QUrl from = foreign("/page");
        showAndWait(from);
        QSignalSpy finished(page, &QWebEnginePage::loadFinished);
        page->setUrl(server.url("/empty"));
        QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty() && page->url() == from, 20000);
        letReport(from);
        QCOMPARE(CommittedDocument::url(page), from);

        finished.clear();
        const QUrl refused("http://127.0.0.1:1/nothing");
        page->setUrl(refused);
        QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 20000);
        QCOMPARE(finished.last().at(0).toBool(), false);
        QCOMPARE(CommittedDocument::url(page), refused);
    }

    // A history step points currentItem() at its target at once, while the document being
    // left runs on (and runs its unload handlers) until the target commits; the same when the
    // document itself steps back.
    void historySteps()
    {
        const QUrl service = server.url("/again");
        const QUrl away = foreign("/page");
        showAndWait(service);
        showAndWait(away);

        const auto stepBack = [&](const std::function<void()> &step) {
            reports.clear();
            const int requests = backRequests;
            step();
            QTRY_VERIFY_WITH_TIMEOUT(backRequests > requests, 20000);
            QCOMPARE(page->history()->currentItem().url(), service);
            QCOMPARE(CommittedDocument::url(page), away);
            letReport(away);
            QVERIFY(reports.currentItemWrong > 0);
            server.release("/again");
            QTRY_VERIFY_WITH_TIMEOUT(reports.from(service) > 3, 20000);
            QCOMPARE(CommittedDocument::url(page), service);
        };
        stepBack([this] { page->triggerAction(QWebEnginePage::Back); });

        reports.clear();
        page->triggerAction(QWebEnginePage::Forward);
        QCOMPARE(page->history()->currentItem().url(), away);
        QTRY_VERIFY_WITH_TIMEOUT(reports.from(away) > 3, 20000);
        QCOMPARE(CommittedDocument::url(page), away);

        stepBack([this] { page->runJavaScript("history.back()"); });
    }

    // A fragment is a commit of its own; a reload commits the same address again; after the
    // render process ends the entry stays what it was, and the reload commits it anew.
    void fragmentReloadAndCrash()
    {
        const QUrl service = server.url("/page");
        showAndWait(service);
        page->runJavaScript("location.hash = 'part'");
        QUrl part = service;
        part.setFragment("part");
        QTRY_COMPARE(CommittedDocument::url(page), part);

        QSignalSpy finished(page, &QWebEnginePage::loadFinished);
        page->triggerAction(QWebEnginePage::Reload);
        QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 20000);
        QCOMPARE(CommittedDocument::url(page), part);

        QSignalSpy ended(page, &QWebEnginePage::renderProcessTerminated);
        page->setUrl(QUrl("chrome://kill"));
        QTRY_VERIFY_WITH_TIMEOUT(!ended.isEmpty(), 20000);
        QCOMPARE(CommittedDocument::url(page), part);
        reports.clear();
        page->triggerAction(QWebEnginePage::Reload);
        QTRY_VERIFY_WITH_TIMEOUT(reports.from(part) > 3, 20000);
        QCOMPARE(CommittedDocument::url(page), part);
    }
};

NORVA_TEST_MAIN(TestCommittedDocument)
#include "tst_committeddocument.moc"
