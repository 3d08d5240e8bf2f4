#include "platform/languagechoice.h"
#include "tests/support/testsupport.h"

#include <QTranslator>

class TestLanguageChoice : public QObject
{
    Q_OBJECT

private slots:
    void rule_data()
    {
        QTest::addColumn<int>("currentLang");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("catalogue");

        const char *const zh = "zh_CN";
        const char *const en = "en";
        // Automatic: the system's language where a catalogue exists, else Chinese.
        QTest::newRow("auto C") << 0 << "C" << zh;
        QTest::newRow("auto POSIX") << 0 << "POSIX" << zh;
        QTest::newRow("auto empty") << 0 << "" << zh;
        QTest::newRow("auto de_DE") << 0 << "de_DE" << zh;
        QTest::newRow("auto en_GB") << 0 << "en_GB" << en;
        QTest::newRow("auto en_US.UTF-8") << 0 << "en_US.UTF-8" << en;
        QTest::newRow("auto en-AU") << 0 << "en-AU" << en;
        QTest::newRow("auto bare en") << 0 << "en" << en;
        QTest::newRow("auto zh_TW") << 0 << "zh_TW" << zh;
        QTest::newRow("auto zh_CN") << 0 << "zh_CN" << zh;
        QTest::newRow("auto eo (not en)") << 0 << "eo" << zh;
        QTest::newRow("auto english word") << 0 << "english" << zh;
        // Explicit choices ignore the locale.
        QTest::newRow("chinese on en_GB") << 1 << "en_GB" << zh;
        QTest::newRow("chinese on C") << 1 << "C" << zh;
        QTest::newRow("english on zh_TW") << 2 << "zh_TW" << en;
        QTest::newRow("english on C") << 2 << "C" << en;
        // A stored value outside the list behaves as automatic.
        QTest::newRow("unknown on en_GB") << 9 << "en_GB" << en;
        QTest::newRow("unknown on de_DE") << -1 << "de_DE" << zh;
    }

    void rule()
    {
        QFETCH(int, currentLang);
        QFETCH(QString, locale);
        QFETCH(QString, catalogue);
        QCOMPARE(LanguageChoice::catalogueFor(currentLang, locale), catalogue);
    }

    // The installed catalogue is the chosen one, and only one is installed per call.
    void install_data()
    {
        QTest::addColumn<int>("currentLang");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("fileMenu");
        QTest::newRow("english") << 2 << "C"
                                 << "File";
        QTest::newRow("auto english") << 0 << "en_GB"
                                      << "File";
        QTest::newRow("chinese") << 1 << "en_GB"
                                 << "文件";
        QTest::newRow("auto other") << 0 << "de_DE"
                                    << "文件";
    }

    void install()
    {
        QFETCH(int, currentLang);
        QFETCH(QString, locale);
        QFETCH(QString, fileMenu);
        QTranslator *translator = LanguageChoice::install(currentLang, locale);
        QVERIFY(translator);
        QCOMPARE(QCoreApplication::translate("MainWindow", "文件"), fileMenu);
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
};

NORVA_TEST_MAIN(TestLanguageChoice)
#include "tst_languagechoice.moc"
