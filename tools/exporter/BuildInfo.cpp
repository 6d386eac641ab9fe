#include "exporter/BuildInfo.h"

#include "exporter/BuildStamp.h"

#include <QtGlobal>

namespace BuildInfo {

QByteArray version()
{
    return QByteArrayLiteral(ORV_VERSION);
}

QByteArray revision()
{
    return QByteArrayLiteral(ORV_REVISION);
}

QByteArray date()
{
    return QByteArrayLiteral(ORV_BUILD_DATE);
}

QByteArray qtVersion()
{
    return QByteArray(qVersion());
}

QByteArray versionText()
{
    // The first line is what it always was; scripts read the version there.
    return "orvanite-exporter " + version() + "\n  revision: " + revision() +
           "\n  build date: " + date() + "\n  Qt version: " + qtVersion() + '\n';
}

} // namespace BuildInfo
