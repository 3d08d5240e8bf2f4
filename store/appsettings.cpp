#include "store/appsettings.h"

#include "store/serviceurl.h"

#include <QStandardPaths>

AppSettings *appSettings = nullptr;

AppSettings::AppSettings()
    : version(QStringLiteral(NORVA_VERSION)),
      downloadPath(QStandardPaths::writableLocation(QStandardPaths::DownloadLocation)),
      openSoftware(QStringLiteral("Ctrl+Alt+R")), quickSearch(QStringLiteral("Ctrl+Alt+S")),
      font(QStringLiteral("微软雅黑")), defaultMainPage(ServiceUrl::base())
{}

int startupDisplayMode(const AppSettings &settings)
{
    if (settings.isBowserMultiTab)
        return 2;
    if (settings.isMultiTab)
        return 1;
    return 0;
}
