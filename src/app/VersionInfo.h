#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

// Reads the version data of a program file (see VersionData.h): the size of
// the data, the data itself, and one value of it by sub-block path. These are
// the three steps the About box takes on its own program file.
class VersionInfo
{
public:
    // Size of the file's version data; 0 when the file has none or cannot be read.
    static qint64 fileVersionInfoSize(const QString& path);
    // Reads the version data into data (at most size bytes); false on failure.
    static bool fileVersionInfo(const QString& path, qint64 size, QByteArray& data);
    // The value of a sub-block ("\", "\VarFileInfo\Translation",
    // "\StringFileInfo\040904E4\LegalCopyright"), matched without regard to
    // case; nullopt when the data does not hold it or is malformed.
    static std::optional<QByteArrayView> queryValue(QByteArrayView data, QStringView subBlock);

    // The largest version data accepted; anything bigger is treated as none.
    static constexpr qint64 MaxSize = 1 << 20;
};
