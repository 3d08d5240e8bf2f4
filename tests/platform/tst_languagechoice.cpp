#include "platform/languagechoice.h"
#include "tests/support/testsupport.h"

#include <QTranslator>

#include <tuple>

class TestLanguageChoice : public QObject
{
    Q_OBJECT

private slots:
    void rule()
    {
        // setting, system locale, catalogue. Automatic (0): the system's language where a
        // catalogue exists, else Chinese. Explicit choices ignore the locale; an unknown value
        // is automatic.
        const std::tuple<int, const char *, const char *> cases[] = {
            {0, "C", "zh_CN"},  {0, "POSIX", "zh_CN"},    {0, "de_DE", "zh_CN"},
            {0, "en_GB", "en"}, {0, "en_US.UTF-8", "en"}, {0, "zh_TW", "zh_CN"},
            {0, "eo", "zh_CN"}, {0, "english", "zh_CN"},  {1, "en_GB", "zh_CN"},
            {2, "zh_TW", "en"}, {9, "en_GB", "en"}};
        for (const auto &[currentLang, locale, catalogue] : cases)
            QVERIFY2(LanguageChoice::catalogueFor(currentLang, locale) == catalogue, locale);
    }

    // The installed catalogue is the chosen one.
    void install()
    {
        for (const auto &[currentLang, fileMenu] :
             {std::pair<int, QString>{2, "File"}, {1, "文件"}}) {
            QTranslator *translator = LanguageChoice::install(currentLang, "en_GB");
            QVERIFY(translator);
            QCOMPARE(QCoreApplication::translate("WindowMenus", "文件"), fileMenu);
            QCoreApplication::removeTranslator(translator);
            delete translator;
        }
    }
};

NORVA_TEST_MAIN(TestLanguageChoice)
#include "tst_languagechoice.moc"
