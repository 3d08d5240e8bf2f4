// NORVA_TEST_WITH_KEYRING: runs against a real, unlocked Secret Service of its own.
#include "bridge/jschannel.h"
#include "bridge/webmessagehandler.h"
#include "store/appsettings.h"
#include "store/database.h"
#include "store/passwordvault.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"

#include <QTemporaryDir>
#include <QWebEngineView>

#include <memory>

namespace {
const char loginPage[] =
    "<html><head><script src=\"qrc:///qtwebchannel/qwebchannel.js\"></script></head><body>\n"
    "<script>\n"
    "window.lists = []; window.norvaConnected = false;\n"
    "new QWebChannel(qt.webChannelTransport, function (ch) {\n"
    "  window.webobj = ch.objects.webobj;\n"
    "  webobj.recvLoginInfoInHtml.connect(function (s) { window.lists.push(s); });\n"
    "  window.norvaConnected = true; });\n"
    "</script></body></html>";
} // namespace

// Right after a start the page asks before the keyring has answered, and gets the list once it has.
class TestLoginKeyring : public QObject
{
    Q_OBJECT

    TestHttpServer server;
    QTemporaryDir m_dir;
    // Made once the service address is set: its defaults read that address, once per process.
    std::unique_ptr<AppSettings> m_settings;
    DataBase *m_store = nullptr;

    // The program's first use of the store after a start.
    DataBase *store()
    {
        if (!m_store) {
            QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
            m_store = new DataBase(m_dir.path() + "/databases/");
            m_store->setVault(new PasswordVault);
        }
        return m_store;
    }
    void restart()
    {
        delete m_store;
        m_store = nullptr;
    }

private slots:
    void initTestCase()
    {
        if (qgetenv("NORVA_TEST_KEYRING") != "yes")
            QSKIP("needs the keyring that tests/support/run-test.sh --keyring starts");
        QVERIFY(server.listen());
        server.setHtml("/login", loginPage);
        qputenv("NORVA_SERVICE_URL", server.url().toString().toUtf8());
        m_settings = std::make_unique<AppSettings>();
        m_settings->defaultMainPage = server.url().toString();
        appSettings = m_settings.get();
    }
    void cleanupTestCase()
    {
        restart();
        appSettings = nullptr;
    }

    void pageGetsTheListOnceTheKeyringAnswers()
    {
        const QString expected = R"([{"password":"Page-Secret-1","telephone":"13800000000"}])";
        QVERIFY(NorvaTest::waitFor([this] { return store()->passwordsReadable(); }));
        QVERIFY(m_store->saveLoginInfo("13800000000", "Page-Secret-1"));
        restart();

        QWebEngineView view;
        auto *handler = new WebMessageHandler(
            view.page(), [this] { return store(); }, nullptr, false, &view);
        QVERIFY(NorvaTest::load(&view, server.url("/login")));
        QVERIFY(NorvaTest::waitFor(
            [&view] { return NorvaTest::runJs(view.page(), "window.norvaConnected").toBool(); }));
        QSignalSpy lists(handler->channel(), &JsChannel::recvLoginInfoInHtml);
        handler->sendLoginInfoToPage();
        QVERIFY(!m_store->passwordsReadable());
        QCOMPARE(lists.count(), 0);
        QVERIFY(lists.wait(20000));
        QCOMPARE(lists.count(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(NorvaTest::runJs(view.page(), "window.lists[0]").toString(),
                                  expected, 20000);
    }
};

NORVA_TEST_MAIN(TestLoginKeyring)
#include "tst_loginkeyring.moc"
