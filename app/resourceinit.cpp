#include "app/resourceinit.h"

#include <QtGlobal>

void initNorvaResources()
{
    // Objects of a static library are only linked when referenced; this references them.
    Q_INIT_RESOURCE(resources);
    Q_INIT_RESOURCE(translations);
}
