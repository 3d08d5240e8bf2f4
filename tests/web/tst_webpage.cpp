#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"
#include "web/webpage.h"
#include "web/webview.h"

#include <QMessageBox>
#include <QWebEngineProfile>

namespace {

// Closes any modal box that shows while it lives and counts them.
struct BoxWatch : QObject
{
    int shown = 0;
    QTimer timer;
    BoxWatch()
    {
        connect(&timer, &QTimer::timeout, this, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                ++shown;
                box->reject();
            }
        });
        timer.start(10);
    }
};

// A shown view with its page, served by its own server: a fresh origin each time, since the
// engine keeps a decision per origin.
struct Tab
{
    TestHttpServer server;
    WebView view;
    WebPage *page = new WebPage(QWebEngineProfile::defaultProfile(), &view);
    Tab()
    {
        server.listen();
        server.setHtml(QStringLiteral("/"), QStringLiteral("<html><body>page</body></html>"));
        view.setPage(page);
        view.resize(400, 300);
        view.show();
    }
    bool load(const QString &path = QStringLiteral("/"))
    {
        QSignalSpy finished(&view, &QWebEngineView::loadFinished);
        view.setUrl(server.url(path));
        return finished.wait(20000);
    }
    QVariant js(const QString &script) { return NorvaTest::runJs(page, script); }
    // Asks for the location, answers the box and returns what the page got ("error1" is
    // PERMISSION_DENIED; anything else means the engine went on).
    QString askLocation(const QString &button, NorvaTest::BoxSeen *seen)
    {
        NorvaTest::answerNextBox(button, seen);
        js(QStringLiteral("window.answer = null; navigator.geolocation.getCurrentPosition("
                          "p => window.answer = 'position', e => window.answer = 'error' + e.code,"
                          "{timeout: 5000});"));
        NorvaTest::waitFor([this] { return !js(QStringLiteral("window.answer")).isNull(); });
        return js(QStringLiteral("window.answer")).toString();
    }
};

} // namespace

class TestWebPage : public QObject
{
    Q_OBJECT

private slots:
    void permissionQuestions_data()
    {
        QTest::addColumn<int>("feature");
        QTest::addColumn<QString>("question");
        using P = QWebEnginePage;
        const auto row = [](P::Feature feature, const char *text) {
            QTest::newRow(text) << int(feature) << QString::fromUtf8(text);
        };
        row(P::Notifications, "Allow %1 to show notification on your desktop?");
        row(P::Geolocation, "Allow %1 to access your location information?");
        row(P::MediaAudioCapture, "Allow %1 to access your microphone?");
        row(P::MediaVideoCapture, "Allow %1 to access your webcam?");
        row(P::MediaAudioVideoCapture, "Allow %1 to access your microphone and webcam?");
        row(P::MouseLock, "Allow %1 to lock your mouse cursor?");
        row(P::DesktopVideoCapture, "Allow %1 to capture video of your desktop?");
        row(P::DesktopAudioVideoCapture, "Allow %1 to capture audio and video of your desktop?");
    }

    // The decoded host in place of %1, under the fixed title, answered either way; a feature
    // without a question is denied at once.
    void permissionQuestions()
    {
        QFETCH(int, feature);
        QFETCH(QString, question);
        Tab tab;
        const QUrl origin(QStringLiteral("https://b%C3%BCcher.de:8443/"));
        for (const QString &answer : {QStringLiteral("&Yes"), QStringLiteral("&No")}) {
            NorvaTest::BoxSeen seen;
            NorvaTest::answerNextBox(answer, &seen);
            emit tab.page->featurePermissionRequested(origin, QWebEnginePage::Feature(feature));
            QVERIFY(seen.seen);
            QCOMPARE(seen.title, QStringLiteral("Permission Request"));
            QCOMPARE(seen.text, question.arg(QStringLiteral("bücher.de")));
            QCOMPARE(seen.buttons.size(), 2);
        }

        BoxWatch watch;
        emit tab.page->featurePermissionRequested(origin, QWebEnginePage::Feature(4711));
        QCOMPARE(watch.shown, 0);
        QVERIFY(WebPage::permissionQuestion(QWebEnginePage::Feature(4711)).isEmpty());
    }

    // Real requests from a page: the answer reaches it, nothing is remembered, and a page
    // registering a scheme handler is asked about too.
    void requestsFromThePage()
    {
        Tab tab;
        QVERIFY(tab.load());
        NorvaTest::BoxSeen yes, no, scheme;
        QVERIFY(tab.askLocation(QStringLiteral("&Yes"), &yes) != QStringLiteral("error1"));
        QCOMPARE(yes.text, QStringLiteral("Allow 127.0.0.1 to access your location information?"));
        QCOMPARE(tab.askLocation(QStringLiteral("&No"), &no), QStringLiteral("error1"));
        QVERIFY(no.seen);

        NorvaTest::answerNextBox(QStringLiteral("&No"), &scheme);
        tab.js(QStringLiteral("navigator.registerProtocolHandler('mailto',"
                              " location.origin + '/mail?to=%s', 'Mail');"));
        QTRY_VERIFY_WITH_TIMEOUT(scheme.seen, 20000);
        QCOMPARE(scheme.text, QStringLiteral("Allow 127.0.0.1 to open all mailto links?"));
    }

    // No credentials and no dialog: cancelled after the first challenge (not answered with
    // empty credentials again and again), and the page shows the server's answer.
    void authenticationGetsNoCredentials()
    {
        Tab tab;
        tab.server.setResponse(QStringLiteral("/private"),
                               {401,
                                "text/html",
                                "<html><body>locked out</body></html>",
                                {{"WWW-Authenticate", "Basic realm=\"norva\""}}});
        BoxWatch watch;
        int asked = 0;
        connect(tab.page, &QWebEnginePage::authenticationRequired, this, [&asked] { ++asked; });
        QVERIFY(tab.load(QStringLiteral("/private")));
        QCOMPARE(asked, 1);
        QTRY_COMPARE_WITH_TIMEOUT(tab.js(QStringLiteral("document.body.innerText")).toString(),
                                  QStringLiteral("locked out"), 20000);
        QCOMPARE(tab.server.requests().count(QStringLiteral("/private")), 1);
        QCOMPARE(watch.shown, 0);
    }
};

NORVA_TEST_MAIN(TestWebPage)
#include "tst_webpage.moc"
