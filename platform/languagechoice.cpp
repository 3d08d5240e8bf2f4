#include "platform/languagechoice.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTranslator>

Q_LOGGING_CATEGORY(lcLanguage, "norva.language")

namespace {
const QString chinese = QStringLiteral("zh_CN");
const QString english = QStringLiteral("en");
} // namespace

QString LanguageChoice::catalogueFor(int currentLang, const QString &systemLocaleName)
{
    if (currentLang == Chinese)
        return chinese;
    if (currentLang == English)
        return english;
    // "en_GB.UTF-8", "en-US", "en@euro": the language is what comes before the first separator.
    const QString language = systemLocaleName.trimmed()
                                 .section(QRegularExpression(QStringLiteral("[_.@-]")), 0, 0)
                                 .toLower();
    return language == QLatin1String("en") ? english : chinese;
}

QString LanguageChoice::resourcePath(const QString &catalogue)
{
    return QStringLiteral(":%1.qm").arg(catalogue);
}

QTranslator *LanguageChoice::install(int currentLang, const QString &systemLocaleName)
{
    const QString path = resourcePath(catalogueFor(currentLang, systemLocaleName));
    auto *translator = new QTranslator;
    if (!translator->load(path, QString(), QString(), QString()) ||
        !QCoreApplication::installTranslator(translator)) {
        qCWarning(lcLanguage) << "Translation catalogue not loaded:" << path;
        delete translator;
        return nullptr;
    }
    return translator;
}
