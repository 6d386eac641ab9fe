#include "config/ConfigLocation.h"

#include <QFileInfo>

namespace {

QString inFolder(QString folder, const QString& name)
{
    if (!folder.endsWith(u'/'))
        folder += u'/';
    return folder + name;
}

// A folder of that name is not the file.
bool isThere(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

} // namespace

ConfigLocation LocateConfigFile(const QString& name, const QString& programPath,
                                const QString& currentFolder)
{
    if (name.contains(u'/'))
        return {name, {}};
    const QString besideProgram = inFolder(QFileInfo(programPath).absolutePath(), name);
    if (isThere(besideProgram))
        return {besideProgram, {}};
    const QString inCurrent = inFolder(currentFolder, name);
    if (isThere(inCurrent))
        return {inCurrent, {}};
    return {besideProgram,
            QStringLiteral("Cannot find the configuration file %1: it is neither beside the "
                           "program (%2) nor in the current folder (%3).")
                .arg(name, besideProgram, inCurrent)};
}
