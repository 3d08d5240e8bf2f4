#include "app/browser.h"
#include "mainwindow/mainwindow.h"
#include "store/database.h"
#include "store/passwordcodec.h"
#include "tests/support/testhttpserver.h"
#include "tests/support/testsupport.h"
#include "web/webview.h"

#include <QSqlQuery>
#include <QWebEngineProfile>

namespace {

// A bridged page that opens a WebSQL database and writes to it when asked.
const char webSqlPage[] =
    "<html><head><script src=\"qrc:///qtwebchannel/qwebchannel.js\"></script></head><body>\n"
    "<script>\n"
    "window.norvaConnected = false; window.webSql = '';\n"
    "if (typeof qt !== 'undefined') new QWebChannel(qt.webChannelTransport, function (ch) {\n"
    "  window.webobj = ch.objects.webobj; window.norvaConnected = true; });\n"
    "window.useWebSql = function () {\n"
    "  var db = openDatabase('notes', '1.0', 'notes', 1024 * 1024);\n"
    "  db.transaction(function (tx) {\n"
    "    tx.executeSql('CREATE TABLE IF NOT EXISTS note (text)');\n"
    "    tx.executeSql('INSERT INTO note VALUES (?)', ['hello']);\n"
    "  }, function (e) { window.webSql = 'error: ' + e.message; },\n"
    "     function () { window.webSql = 'done'; });\n"
    "};\n"
    "</script></body></html>";

using Logins = QList<QPair<QString, QString>>;

// The logins in a file, read through a connection of its own.
Logins loginsIn(const QString &file)
{
    Logins list;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "check");
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery query("SELECT name, password FROM user ORDER BY id", db);
            while (query.next()) {
                QString password;
                decodePassword(query.value(1).toString(), password);
                list << qMakePair(query.value(0).toString(), password);
            }
        }
    }
    QSqlDatabase::removeDatabase("check");
    return list;
}

} // namespace

// The saved logins live in a file of their own, where no page's WebSQL reaches them: the
// logins of older versions come over at the first start, and what pages do with WebSQL leaves
// them all in place, across restarts.
class TestLoginStore : public QObject
{
    Q_OBJECT

    TestHttpServer server;
    Logins m_old = {{"13800000000", "old'one"}, {"张三", "密码pw"}};
    QString m_oldFile;
    QByteArray m_oldBytes;

    QUrl foreignUrl(const QString &path) const
    {
        QUrl url = server.url(path);
        url.setHost("localhost");
        return url;
    }

    static QVariant run(WebView *view, const QString &script)
    {
        return NorvaTest::runJs(view->page(), script);
    }

    // Opens the page, waits for its bridge, and has it use WebSQL.
    static void useWebSql(MainWindow *window, const QUrl &url)
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

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        server.setHtml("/websql", webSqlPage);
        qputenv("NORVA_SERVICE_URL", server.url().toString().toUtf8());

        // What an older version left in the profile.
        const QString dir = Browser::loginStoreDirectory(
            QWebEngineProfile::defaultProfile()->persistentStoragePath());
        QVERIFY(QDir().mkpath(dir));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "old");
            db.setDatabaseName(dir + "Databases.db");
            QVERIFY(db.open());
            QSqlQuery query(db);
            QVERIFY(query.exec("CREATE TABLE user (id INTEGER PRIMARY KEY NOT NULL, name "
                               "VARCHAR(40) NOT NULL, password VARCHAR(100) NOT NULL, url "
                               "VARCHAR(255), ext VARCHAR(255), createdate DATE)"));
            for (const auto &login : m_old) {
                QString stored;
                QVERIFY(encodePassword(login.second, stored));
                QVERIFY(query.prepare("INSERT INTO user (name, password, createdate) VALUES "
                                      "(?, ?, '2020-01-01 00:00:00')"));
                query.addBindValue(login.first);
                query.addBindValue(stored);
                QVERIFY(query.exec());
            }
        }
        QSqlDatabase::removeDatabase("old");
        m_oldFile = dir + "Databases.db";
        m_oldBytes = NorvaTest::fileBytes(m_oldFile);
        QVERIFY(!m_oldBytes.isEmpty());
    }

    void webSqlLeavesSavedLoginsAlone()
    {
        const QString file = Browser::loginStoreFile();
        QVERIFY(!QFileInfo::exists(file));
        Logins expected = m_old;
        {
            Browser browser;
            QCOMPARE(loginsIn(file), m_old); // copied at start, before any page
            QCOMPARE(NorvaTest::fileMode(file), 0600);
            QCOMPARE(NorvaTest::fileMode(QFileInfo(file).path()), 0700);
            // Without a keyring the old file keeps its passwords: it was only read.
            QVERIFY(NorvaTest::waitFor([&] { return browser.dataBase()->passwordsReadable(); }));
            QCOMPARE(NorvaTest::fileBytes(m_oldFile), m_oldBytes);
            QScopedPointer<MainWindow> window(browser.createWindow(MainWindow::SingleView, true));
            WebView *view = window->currentView();
            useWebSql(window.data(), server.url("/websql"));
            run(view, "webobj.saveLoginInfoFromHtml('13900000000', 'saved by the page')");
            expected << qMakePair(QString("13900000000"), QString("saved by the page"));
            QTRY_COMPARE(loginsIn(file), expected);

            useWebSql(window.data(), foreignUrl("/websql"));
            useWebSql(window.data(), server.url("/websql"));
            QVERIFY(browser.dataBase()->saveLoginInfo("13700000000", "after"));
            expected << qMakePair(QString("13700000000"), QString("after"));
            QCOMPARE(loginsIn(file), expected);
        }
        // The next start finds them all, and copies nothing again.
        Browser browser;
        Logins list;
        QVERIFY(browser.dataBase()->getLoginInfos(list));
        QCOMPARE(list, expected);
        QScopedPointer<MainWindow> window(browser.createWindow(MainWindow::SingleView, false));
        useWebSql(window.data(), foreignUrl("/websql"));
        QCOMPARE(loginsIn(file), expected);
    }
};

NORVA_TEST_MAIN(TestLoginStore)
#include "tst_loginstore.moc"
