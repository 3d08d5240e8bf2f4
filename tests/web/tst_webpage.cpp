#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"
#include "web/webpage.h"
#include "web/webview.h"

#include <QMessageBox>
#include <QWebEngineProfile>

#include <memory>

namespace {

// Fake capture devices, so camera and microphone requests reach the page object at all (the
// engine does not ask for devices that do not exist). Runs before main() sets up the engine.
const bool fakeMediaDevices = [] {
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (flags.isEmpty())
        flags = "--disable-gpu";
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags + " --use-fake-device-for-media-stream");
    return true;
}();

// Closes any modal box that shows while it lives and remembers that one did.
class BoxWatch : public QObject
{
public:
    BoxWatch()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                ++shown;
                box->reject();
            }
        });
        m_timer.start(10);
    }
    int shown = 0;

private:
    QTimer m_timer;
};

struct Tab
{
    std::unique_ptr<QWidget> window{new QWidget};
    WebView *view = new WebView(window.get());
    WebPage *page = new WebPage(QWebEngineProfile::defaultProfile(), view);
    Tab()
    {
        view->setPage(page);
        window->resize(400, 300);
        view->resize(400, 300);
        window->show();
    }
};

} // namespace

class TestWebPage : public QObject
{
    Q_OBJECT

    // Each case gets its own origin (its own port): the engine keeps a decision per origin.
    std::unique_ptr<TestHttpServer> freshServer()
    {
        auto server = std::make_unique<TestHttpServer>();
        server->listen();
        server->setHtml(QStringLiteral("/"), QStringLiteral("<html><body>page</body></html>"));
        return server;
    }

    static void loadAndWait(WebView *view, const QUrl &url)
    {
        QSignalSpy finished(view, &QWebEngineView::loadFinished);
        view->setUrl(url);
        QVERIFY(finished.wait(20000));
    }

private slots:
    void permissionQuestions_data()
    {
        QTest::addColumn<int>("feature");
        QTest::addColumn<QString>("question");
        QTest::newRow("notifications") << int(QWebEnginePage::Notifications)
                                       << "Allow %1 to show notification on your desktop?";
        QTest::newRow("geolocation")
            << int(QWebEnginePage::Geolocation) << "Allow %1 to access your location information?";
        QTest::newRow("microphone")
            << int(QWebEnginePage::MediaAudioCapture) << "Allow %1 to access your microphone?";
        QTest::newRow("webcam") << int(QWebEnginePage::MediaVideoCapture)
                                << "Allow %1 to access your webcam?";
        QTest::newRow("both") << int(QWebEnginePage::MediaAudioVideoCapture)
                              << "Allow %1 to access your microphone and webcam?";
        QTest::newRow("mouse lock")
            << int(QWebEnginePage::MouseLock) << "Allow %1 to lock your mouse cursor?";
        QTest::newRow("desktop video") << int(QWebEnginePage::DesktopVideoCapture)
                                       << "Allow %1 to capture video of your desktop?";
        QTest::newRow("desktop audio and video")
            << int(QWebEnginePage::DesktopAudioVideoCapture)
            << "Allow %1 to capture audio and video of your desktop?";
    }

    // Every listed feature asks with its own question, the host in place of %1, under the
    // fixed title; no default button.
    void permissionQuestions()
    {
        QFETCH(int, feature);
        QFETCH(QString, question);
        Tab tab;
        for (const QString &answer : {QStringLiteral("&Yes"), QStringLiteral("&No")}) {
            NorvaTest::BoxSeen seen;
            NorvaTest::answerNextBox(answer, &seen);
            QMetaObject::invokeMethod(
                tab.page, "handleFeaturePermissionRequested",
                Q_ARG(QUrl, QUrl(QStringLiteral("https://b%C3%BCcher.de:8443/"))),
                Q_ARG(QWebEnginePage::Feature, QWebEnginePage::Feature(feature)));
            QVERIFY(seen.seen);
            QCOMPARE(seen.title, QStringLiteral("Permission Request"));
            QCOMPARE(seen.text, question.arg(QStringLiteral("bücher.de")));
            QCOMPARE(seen.buttons.size(), 2);
        }
    }

    void unlistedFeatureIsDeniedWithoutAsking()
    {
        Tab tab;
        BoxWatch watch;
        QMetaObject::invokeMethod(tab.page, "handleFeaturePermissionRequested",
                                  Q_ARG(QUrl, QUrl(QStringLiteral("http://127.0.0.1/"))),
                                  Q_ARG(QWebEnginePage::Feature, QWebEnginePage::Feature(4711)));
        QCOMPARE(watch.shown, 0);
        QVERIFY(WebPage::permissionQuestion(QWebEnginePage::Feature(4711)).isEmpty());
    }

    void geolocationAnswerReachesThePage_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("denied");
        QTest::newRow("yes") << "&Yes" << false;
        QTest::newRow("no") << "&No" << true;
    }

    void geolocationAnswerReachesThePage()
    {
        QFETCH(QString, button);
        QFETCH(bool, denied);
        auto server = freshServer();
        Tab tab;
        loadAndWait(tab.view, server->url());
        NorvaTest::BoxSeen seen;
        NorvaTest::answerNextBox(button, &seen);
        // Error code 1 is PERMISSION_DENIED; anything else means the engine went on.
        NorvaTest::runJs(tab.page, QStringLiteral("window.answer = null;"
                                                  "navigator.geolocation.getCurrentPosition("
                                                  "  p => window.answer = 'position',"
                                                  "  e => window.answer = 'error' + e.code,"
                                                  "  {timeout: 5000});"));
        QTRY_VERIFY_WITH_TIMEOUT(
            !NorvaTest::runJs(tab.page, QStringLiteral("window.answer")).isNull(), 20000);
        const QString answer =
            NorvaTest::runJs(tab.page, QStringLiteral("window.answer")).toString();
        QCOMPARE(answer == QStringLiteral("error1"), denied);
        QVERIFY(seen.seen);
        QCOMPARE(seen.text, QStringLiteral("Allow 127.0.0.1 to access your location information?"));

        // Nothing is remembered: the same origin asking again is asked again.
        NorvaTest::BoxSeen again;
        NorvaTest::answerNextBox(QStringLiteral("&No"), &again);
        NorvaTest::runJs(tab.page, QStringLiteral("window.answer = null;"
                                                  "navigator.geolocation.getCurrentPosition("
                                                  "  p => window.answer = 'position',"
                                                  "  e => window.answer = 'error' + e.code,"
                                                  "  {timeout: 5000});"));
        QTRY_VERIFY_WITH_TIMEOUT(again.seen, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(NorvaTest::runJs(tab.page, QStringLiteral("window.answer")),
                                  QVariant(QStringLiteral("error1")), 20000);
    }

    void captureAnswerReachesThePage_data()
    {
        QTest::addColumn<QString>("constraints");
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("outcome");
        const QString mic = QStringLiteral("Allow 127.0.0.1 to access your microphone?");
        const QString cam = QStringLiteral("Allow 127.0.0.1 to access your webcam?");
        const QString both =
            QStringLiteral("Allow 127.0.0.1 to access your microphone and webcam?");
        QTest::newRow("microphone, yes") << "{audio: true}" << mic << "&Yes"
                                         << "stream";
        QTest::newRow("microphone, no") << "{audio: true}" << mic << "&No"
                                        << "NotAllowedError";
        QTest::newRow("webcam, yes") << "{video: true}" << cam << "&Yes"
                                     << "stream";
        QTest::newRow("webcam, no") << "{video: true}" << cam << "&No"
                                    << "NotAllowedError";
        QTest::newRow("both, yes") << "{audio: true, video: true}" << both << "&Yes"
                                   << "stream";
        QTest::newRow("both, no") << "{audio: true, video: true}" << both << "&No"
                                  << "NotAllowedError";
    }

    void captureAnswerReachesThePage()
    {
        QFETCH(QString, constraints);
        QFETCH(QString, question);
        QFETCH(QString, button);
        QFETCH(QString, outcome);
        auto server = freshServer();
        Tab tab;
        loadAndWait(tab.view, server->url());
        NorvaTest::BoxSeen seen;
        NorvaTest::answerNextBox(button, &seen);
        NorvaTest::runJs(tab.page, QStringLiteral("window.answer = null;"
                                                  "navigator.mediaDevices.getUserMedia(%1)"
                                                  ".then(s => window.answer = 'stream',"
                                                  "      e => window.answer = e.name);")
                                       .arg(constraints));
        QTRY_COMPARE_WITH_TIMEOUT(NorvaTest::runJs(tab.page, QStringLiteral("window.answer")),
                                  QVariant(outcome), 20000);
        QVERIFY(seen.seen);
        QCOMPARE(seen.title, QStringLiteral("Permission Request"));
        QCOMPARE(seen.text, question);
    }

    void schemeHandlerQuestion()
    {
        auto server = freshServer();
        Tab tab;
        loadAndWait(tab.view, server->url());
        NorvaTest::BoxSeen seen;
        NorvaTest::answerNextBox(QStringLiteral("&No"), &seen);
        NorvaTest::runJs(tab.page, QStringLiteral("navigator.registerProtocolHandler('mailto',"
                                                  " location.origin + '/mail?to=%s', 'Mail');"));
        QTRY_VERIFY_WITH_TIMEOUT(seen.seen, 20000);
        QCOMPARE(seen.title, QStringLiteral("Permission Request"));
        QCOMPARE(seen.text, QStringLiteral("Allow 127.0.0.1 to open all mailto links?"));
        QCOMPARE(seen.buttons.size(), 2);
    }

    // No credentials and no dialog: the request is cancelled after the first challenge (not
    // answered with empty credentials again and again) and the page shows the server's answer.
    void authenticationGetsNoCredentials()
    {
        auto server = freshServer();
        TestHttpServer::Response challenge;
        challenge.status = 401;
        challenge.body = "<html><body>locked out</body></html>";
        challenge.headers << qMakePair(QByteArray("WWW-Authenticate"),
                                       QByteArray("Basic realm=\"norva\""));
        server->setResponse(QStringLiteral("/private"), challenge);
        Tab tab;
        BoxWatch watch;
        int asked = 0;
        connect(tab.page, &QWebEnginePage::authenticationRequired, this, [&asked] { ++asked; });
        loadAndWait(tab.view, server->url(QStringLiteral("/private")));
        QCOMPARE(asked, 1);
        QTRY_COMPARE_WITH_TIMEOUT(
            NorvaTest::runJs(tab.page, QStringLiteral("document.body.innerText")).toString(),
            QStringLiteral("locked out"), 20000);
        QCOMPARE(server->requests().count(QStringLiteral("/private")), 1);
        QCOMPARE(watch.shown, 0);
    }
};

NORVA_TEST_MAIN(TestWebPage)
#include "tst_webpage.moc"
