#include "store/serviceurl.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"
#include "web/webpage.h"
#include "web/webview.h"

#include <QMessageBox>
#include <QWebEngineProfile>

#include <memory>
#include <tuple>

class TestWebPage : public QObject
{
    Q_OBJECT

    TestHttpServer server;
    std::unique_ptr<WebView> view = std::make_unique<WebView>();
    WebPage *page = new WebPage(QWebEngineProfile::defaultProfile(), view.get());

    QVariant js(const QString &script) { return NorvaTest::runJs(page, script); }

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        server.setHtml("/", "<html><body>page</body></html>");
        server.setResponse("/private", {401,
                                        "text/html",
                                        "<html><body>locked out</body></html>",
                                        {{"WWW-Authenticate", "Basic realm=\"norva\""}}});
        view->setPage(page);
        view->show();
    }

    // The decoded host fills in %1; an unlisted feature is denied at once.
    void permissionQuestions()
    {
        using P = QWebEnginePage;
        const QPair<P::Feature, QString> questions[] = {
            {P::Notifications, "Allow %1 to show notification on your desktop?"},
            {P::Geolocation, "Allow %1 to access your location information?"},
            {P::MediaAudioCapture, "Allow %1 to access your microphone?"},
            {P::MediaVideoCapture, "Allow %1 to access your webcam?"},
            {P::MediaAudioVideoCapture, "Allow %1 to access your microphone and webcam?"},
            {P::MouseLock, "Allow %1 to lock your mouse cursor?"},
            {P::DesktopVideoCapture, "Allow %1 to capture video of your desktop?"},
            {P::DesktopAudioVideoCapture, "Allow %1 to capture audio and video of your desktop?"}};
        const QUrl origin("https://b%C3%BCcher.de:8443/");
        for (const auto &[feature, question] : questions) {
            NorvaTest::BoxSeen seen;
            NorvaTest::answerNextBox("&No", &seen);
            emit page->featurePermissionRequested(origin, feature);
            QVERIFY2(seen.seen, qPrintable(question));
            QCOMPARE(seen.title, QString("Permission Request"));
            QCOMPARE(seen.text, question.arg("bücher.de"));
            QCOMPARE(seen.buttons.size(), 2);
        }
    }

    // The answer reaches the page: notifications granted or denied, a mailto handler installed
    // only on "Yes". A fresh profile each time: the engine keeps a decision for its life.
    void answersReachThePage()
    {
        const QString notify = "Notification.requestPermission().then(r => window.answer = r);";
        const QString mailto = "navigator.registerProtocolHandler('mailto', "
                               "location.origin + '/mail?to=%s', 'Mail');";
        const std::tuple<QString, QString, QString> cases[] = {{"&Yes", notify, "granted"},
                                                               {"&No", notify, "denied"},
                                                               {"&Yes", mailto, ""},
                                                               {"&No", mailto, ""}};
        for (const auto &[answer, script, result] : cases) {
            const bool isNotify = script == notify;
            std::unique_ptr<QWebEngineProfile> profile(
                isNotify ? new QWebEngineProfile : new QWebEngineProfile("scheme" + answer.mid(1)));
            WebView asking;
            auto *askingPage = new WebPage(profile.get(), &asking);
            asking.setPage(askingPage);
            asking.show();
            QVERIFY(NorvaTest::load(&asking, server.url()));
            NorvaTest::BoxSeen seen;
            NorvaTest::answerNextBox(answer, &seen);
            NorvaTest::runJs(askingPage, script);
            QTRY_VERIFY_WITH_TIMEOUT(seen.seen, 20000);
            QCOMPARE(seen.text, QString("Allow 127.0.0.1 to %1?")
                                    .arg(isNotify ? "show notification on your desktop"
                                                  : "open all mailto links"));
            if (isNotify) {
                QTRY_COMPARE_WITH_TIMEOUT(NorvaTest::runJs(askingPage, "window.answer").toString(),
                                          result, 20000);
            } else if (answer == "&Yes") {
                NorvaTest::runJs(askingPage, "location.href = 'mailto:someone';");
                QTRY_VERIFY_WITH_TIMEOUT(server.requests().contains("/mail?to=mailto%3Asomeone"),
                                         20000);
            }
        }
    }

    // A client certificate goes to the service's own https origin only, as the engine names the
    // server asking (host and port, no scheme).
    void clientCertificatesOnlyForTheService()
    {
        qputenv("NORVA_SERVICE_URL", "https://okr.example.com:8443/app/");
        QCOMPARE(ServiceUrl::base(), QString("https://okr.example.com:8443/app/"));
        const auto asking = [](const char *host, int port) {
            QUrl url;
            url.setHost(host);
            url.setPort(port);
            return WebPage::offersClientCertificateTo(url);
        };
        QVERIFY(asking("okr.example.com", 8443));
        QVERIFY(asking("OKR.example.com", 8443));
        QVERIFY(!asking("okr.example.com", 443));
        QVERIFY(!asking("evil.example.com", 8443));
        QVERIFY(!asking("okr.example.com.evil.example", 8443));
        QVERIFY(!WebPage::offersClientCertificateTo(QUrl()));
    }

    // No credentials and no dialog: cancelled after the first challenge, not retried.
    void authenticationGetsNoCredentials()
    {
        int unexpectedBoxes = 0;
        QTimer boxWatch; // counts and closes boxes nobody should see
        connect(&boxWatch, &QTimer::timeout, &boxWatch, [&unexpectedBoxes] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
                ++unexpectedBoxes, box->reject();
        });
        boxWatch.start(10);
        int asked = 0;
        connect(page, &QWebEnginePage::authenticationRequired, &boxWatch, [&asked] { ++asked; });
        QVERIFY(NorvaTest::load(view.get(), server.url("/private")));
        QCOMPARE(asked, 1);
        QTRY_COMPARE_WITH_TIMEOUT(js("document.body.innerText").toString(), QString("locked out"),
                                  20000);
        QCOMPARE(server.requests().count("/private"), 1);
        QCOMPARE(unexpectedBoxes, 0);
    }
};

NORVA_TEST_MAIN(TestWebPage)
#include "tst_webpage.moc"
