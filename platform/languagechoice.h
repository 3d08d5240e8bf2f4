#pragma once

#include <QLocale>
#include <QString>

class QTranslator;

// Which translation catalogue the program runs with. Chinese is the product's own language:
// English is used only when chosen or when the system's language is English.
class LanguageChoice
{
public:
    enum Choice { Automatic = 0, Chinese = 1, English = 2 };

    // "zh_CN" or "en" for the stored choice and the system locale name ("de_DE", "en_GB.UTF-8",
    // "C"). Automatic (and any unknown value) follows the locale's language where a catalogue
    // exists for it: Chinese for zh*, English for en*; every other locale gets Chinese.
    static QString catalogueFor(int currentLang, const QString &systemLocaleName);
    // The compiled-in catalogue, ":zh_CN.qm" or ":en.qm".
    static QString resourcePath(const QString &catalogue);

    // Loads and installs the chosen catalogue; null (and nothing installed) when it cannot be
    // loaded. The caller owns the translator and keeps it for the life of the application.
    static QTranslator *install(int currentLang,
                                const QString &systemLocaleName = QLocale::system().name());
};
