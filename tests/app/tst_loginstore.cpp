#include "app/browser.h"
#include "mainwindow/mainwindow.h"
#include "store/database.h"
#include "store/passwordcodec.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/testlogins.h"
#include "tests/support/testsupport.h"
#include "web/webview.h"

#include <QSqlQuery>
#include <QWebEngineProfile>

using NorvaTest::Logins;

namespace {

// A bridged page that opens a WebSQL database and writes to it when asked.
const char webSqlPage[] =
    "<html><head><script src=\"qrc:///qtwebchannel/qwebchannel.js\"></script></head><body>\n"
    "<script>\n"
    "window.norvaConnected = false; window.webSql = '';\n"
    "if (typeof qt !== 'undefined') new QWebChannel(qt.webChannelTransport, function (ch) {\n"
    "  window.webobj = ch.objects.webobj; window.norvaConnected = true; });\n"
    "window.useWebSql = function () {\n"
    "  openDatabase('notes', '1.0', 'notes', 1 << 20).transaction(function (tx) {\n"
    "    tx.executeSql('CREATE TABLE IF NOT EXISTS t (x)');\n"
    "    tx.executeSql('INSERT INTO t VALUES (1)');\n"
    "  }, function (e) { window.webSql = 'error: ' + e.message; },\n"
    "     function () { window.webSql = 'done'; }); };\n"
    "</script></body></html>";

// The logins in a file, read through a connection of its own.
Logins loginsIn(const QString &file)
{
    Logins list;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "check");
        db.setDatabaseName(file);
        const bool open = db.open();
        QSqlQuery query(db);
        if (open)
            query.exec("SELECT name, password FROM user ORDER BY id");
        while (query.next()) {
            QString password;
            decodePassword(query.value(1).toString(), password);
            list << qMakePair(query.value(0).toString(), password);
        }
    }
    QSqlDatabase::removeDatabase("check");
    return list;
}

QVariant run(WebView *view, const QString &script)
{
    return NorvaTest::runJs(view->page(), script);
}

// Opens the page, waits for its bridge, and has it use WebSQL.
void useWebSql(MainWindow *window, const QUrl &url)
{
    WebView *view = window->currentView();
    window->loadUrl(url);
    QTRY_VERIFY_WITH_TIMEOUT(run(view, "window.norvaConnected && location.hostname") ==
                                     url.host() &&
                                 view->loadProgress() == 100,
                             20000);
    run(view, "useWebSql()");
    QTRY_COMPARE_WITH_TIMEOUT(run(view, "window.webSql").toString(), QString("done"), 20000);
}

} // namespace

// The saved logins live in a file of their own, where no page's WebSQL reaches them: the logins
// of older versions come over at the first start, and stay in place across restarts.
class TestLoginStore : public QObject
{
    Q_OBJECT

    TestHttpServer server;
    const Logins m_old = {{"13800000000", "old'one"}, {"张三", "密码pw"}};
    QString m_oldFile;

    QUrl foreignUrl() const
    {
        QUrl url = server.url("/websql");
        url.setHost("localhost");
        return url;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        server.setHtml("/websql", webSqlPage);
        qputenv("NORVA_SERVICE_URL", server.url().toString().toUtf8());
        m_oldFile = Browser::loginStoreDirectory(
                        QWebEngineProfile::defaultProfile()->persistentStoragePath()) +
                    "Databases.db";
        QVERIFY(NorvaTest::writeOldLoginFile(m_oldFile, m_old));
    }

    void webSqlLeavesSavedLoginsAlone()
    {
        const QString file = Browser::loginStoreFile();
        const QByteArray oldBytes = NorvaTest::fileBytes(m_oldFile);
        QVERIFY(!QFileInfo::exists(file));
        Logins expected = m_old;
        {
            Browser browser;
            QCOMPARE(loginsIn(file), m_old); // copied at start, before any page
            // Without a keyring the old file keeps its passwords: it was only read.
            QVERIFY(NorvaTest::waitFor([&] { return browser.dataBase()->passwordsReadable(); }));
            QCOMPARE(NorvaTest::fileBytes(m_oldFile), oldBytes);
            QScopedPointer<MainWindow> window(browser.createWindow(MainWindow::SingleView, true));
            useWebSql(window.data(), server.url("/websql"));
            run(window->currentView(),
                "webobj.saveLoginInfoFromHtml('13900000000', 'saved by the page')");
            expected << qMakePair(QString("13900000000"), QString("saved by the page"));
            QTRY_COMPARE(loginsIn(file), expected);

            useWebSql(window.data(), foreignUrl());
            useWebSql(window.data(), server.url("/websql"));
            QVERIFY(browser.dataBase()->saveLoginInfo("13700000000", "after"));
            expected << qMakePair(QString("13700000000"), QString("after"));
            QCOMPARE(loginsIn(file), expected);
        }
        // The next start finds them all, and copies nothing again.
        Browser browser;
        QCOMPARE(NorvaTest::logins(browser.dataBase()), expected);
        QScopedPointer<MainWindow> window(browser.createWindow(MainWindow::SingleView, false));
        useWebSql(window.data(), foreignUrl());
        QCOMPARE(loginsIn(file), expected);
    }
};

NORVA_TEST_MAIN(TestLoginStore)
#include "tst_loginstore.moc"
