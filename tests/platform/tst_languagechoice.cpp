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
        // Automatic: the system's language where a catalogue exists, else Chinese.
        QTest::newRow("auto C") << 0 << "C"
                                << "zh_CN";
        QTest::newRow("auto POSIX") << 0 << "POSIX"
                                    << "zh_CN";
        QTest::newRow("auto de_DE") << 0 << "de_DE"
                                    << "zh_CN";
        QTest::newRow("auto en_GB") << 0 << "en_GB"
                                    << "en";
        QTest::newRow("auto en_US.UTF-8") << 0 << "en_US.UTF-8"
                                          << "en";
        QTest::newRow("auto zh_TW") << 0 << "zh_TW"
                                    << "zh_CN";
        QTest::newRow("auto eo") << 0 << "eo"
                                 << "zh_CN";
        QTest::newRow("auto english") << 0 << "english"
                                      << "zh_CN";
        // Explicit choices ignore the locale; an unknown value is automatic.
        QTest::newRow("chinese on en_GB") << 1 << "en_GB"
                                          << "zh_CN";
        QTest::newRow("english on zh_TW") << 2 << "zh_TW"
                                          << "en";
        QTest::newRow("unknown on en_GB") << 9 << "en_GB"
                                          << "en";
    }

    void rule()
    {
        QFETCH(int, currentLang);
        QFETCH(QString, locale);
        QFETCH(QString, catalogue);
        QCOMPARE(LanguageChoice::catalogueFor(currentLang, locale), catalogue);
    }

    // The installed catalogue is the chosen one.
    void install_data()
    {
        QTest::addColumn<int>("currentLang");
        QTest::addColumn<QString>("fileMenu");
        QTest::newRow("english") << 2 << "File";
        QTest::newRow("chinese") << 1 << "文件";
    }

    void install()
    {
        QFETCH(int, currentLang);
        QFETCH(QString, fileMenu);
        QTranslator *translator = LanguageChoice::install(currentLang, QStringLiteral("en_GB"));
        QVERIFY(translator);
        QCOMPARE(QCoreApplication::translate("WindowMenus", "文件"), fileMenu);
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
};

NORVA_TEST_MAIN(TestLanguageChoice)
#include "tst_languagechoice.moc"
