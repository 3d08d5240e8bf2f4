#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"
#include "web/webpage.h"
#include "web/webview.h"

#include <QMessageBox>
#include <QWebEngineProfile>

#include <memory>

class TestWebPage : public QObject
{
    Q_OBJECT

    TestHttpServer server;
    std::unique_ptr<WebView> view = std::make_unique<WebView>();
    WebPage *page = new WebPage(QWebEngineProfile::defaultProfile(), view.get());
    QTimer boxWatch; // counts and closes boxes nobody should see
    int unexpectedBoxes = 0;

    QVariant js(const QString &script) { return NorvaTest::runJs(page, script); }

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        server.setHtml(QStringLiteral("/"), QStringLiteral("<html><body>page</body></html>"));
        server.setResponse(QStringLiteral("/private"),
                           {401,
                            "text/html",
                            "<html><body>locked out</body></html>",
                            {{"WWW-Authenticate", "Basic realm=\"norva\""}}});
        view->setPage(page);
        view->show();
        connect(&boxWatch, &QTimer::timeout, this, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
                ++unexpectedBoxes, box->reject();
        });
        boxWatch.setInterval(10);
    }

    // The decoded host fills in %1, answered either way; an unlisted feature is denied at once.
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
        const QUrl origin(QStringLiteral("https://b%C3%BCcher.de:8443/"));
        for (const auto &[feature, question] : questions) {
            for (const QString &answer : {QStringLiteral("&Yes"), QStringLiteral("&No")}) {
                NorvaTest::BoxSeen seen;
                NorvaTest::answerNextBox(answer, &seen);
                emit page->featurePermissionRequested(origin, feature);
                QVERIFY2(seen.seen, qPrintable(question));
                QCOMPARE(seen.title, QStringLiteral("Permission Request"));
                QCOMPARE(seen.text, question.arg(QStringLiteral("bücher.de")));
                QCOMPARE(seen.buttons.size(), 2);
            }
        }
    }

    // The answer reaches the page: "Yes" grants, "No" denies. A fresh profile per answer, since
    // the engine keeps a decision for the rest of the profile's life.
    void permissionAnswerReachesThePage_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("result");
        QTest::newRow("yes") << QStringLiteral("&Yes") << QStringLiteral("granted");
        QTest::newRow("no") << QStringLiteral("&No") << QStringLiteral("denied");
    }
    void permissionAnswerReachesThePage()
    {
        QFETCH(QString, answer);
        QFETCH(QString, result);
        QWebEngineProfile profile;
        {
            WebView asking;
            auto *askingPage = new WebPage(&profile, &asking);
            asking.setPage(askingPage);
            asking.show();
            QSignalSpy finished(&asking, &QWebEngineView::loadFinished);
            asking.setUrl(server.url());
            QVERIFY(finished.wait(20000));
            NorvaTest::BoxSeen seen;
            NorvaTest::answerNextBox(answer, &seen);
            NorvaTest::runJs(askingPage, QStringLiteral("Notification.requestPermission()"
                                                        ".then(r => window.answer = r);"));
            QTRY_COMPARE_WITH_TIMEOUT(
                NorvaTest::runJs(askingPage, QStringLiteral("window.answer")).toString(), result,
                20000);
            QCOMPARE(seen.text,
                     QStringLiteral("Allow 127.0.0.1 to show notification on your desktop?"));
        }
    }

    // Real requests: "No" reaches the page as a denial; a scheme handler is asked about too.
    void requestsFromThePage()
    {
        QSignalSpy finished(view.get(), &QWebEngineView::loadFinished);
        view->setUrl(server.url());
        QVERIFY(finished.wait(20000));
        NorvaTest::BoxSeen no, scheme;
        NorvaTest::answerNextBox(QStringLiteral("&No"), &no);
        js(QStringLiteral("navigator.geolocation.getCurrentPosition(p => window.answer = 'p',"
                          " e => window.answer = 'error' + e.code, {timeout: 5000});"));
        QTRY_COMPARE_WITH_TIMEOUT(js(QStringLiteral("window.answer")).toString(),
                                  QStringLiteral("error1"), 20000);
        QCOMPARE(no.text, QStringLiteral("Allow 127.0.0.1 to access your location information?"));

        NorvaTest::answerNextBox(QStringLiteral("&No"), &scheme);
        js(QStringLiteral("navigator.registerProtocolHandler('mailto',"
                          " location.origin + '/mail?to=%s', 'Mail');"));
        QTRY_VERIFY_WITH_TIMEOUT(scheme.seen, 20000);
        QCOMPARE(scheme.text, QStringLiteral("Allow 127.0.0.1 to open all mailto links?"));
    }

    // No credentials and no dialog: cancelled after the first challenge, not retried.
    void authenticationGetsNoCredentials()
    {
        boxWatch.start();
        int asked = 0;
        connect(page, &QWebEnginePage::authenticationRequired, this, [&asked] { ++asked; });
        QSignalSpy finished(view.get(), &QWebEngineView::loadFinished);
        view->setUrl(server.url(QStringLiteral("/private")));
        QVERIFY(finished.wait(20000));
        QCOMPARE(asked, 1);
        QTRY_COMPARE_WITH_TIMEOUT(js(QStringLiteral("document.body.innerText")).toString(),
                                  QStringLiteral("locked out"), 20000);
        QCOMPARE(server.requests().count(QStringLiteral("/private")), 1);
        QCOMPARE(unexpectedBoxes, 0);
    }
};

NORVA_TEST_MAIN(TestWebPage)
#include "tst_webpage.moc"
