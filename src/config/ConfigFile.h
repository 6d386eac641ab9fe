#pragma once

#include "config/ConnectionSettings.h"
#include "core/AppErrors.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <random>

// Reading and writing the one-line configuration file (".hcf"): host, port and
// interval in plain text, the seven logon fields scrambled with a one-character
// key stored in the same line.

// Exclusive-or of every byte of text with the first byte of key. An empty text
// gives an empty result; an empty key with a non-empty text throws ERangeError.
QByteArray ScrambleField(QByteArrayView key, QByteArrayView text);

// The longest first line a load reads; no configuration line comes near it.
constexpr qsizetype LongestConfigLine = 64 * 1024;

// A file whose first line is longer than LongestConfigLine: it is not a
// configuration file, and reading on could take the machine's memory. The
// message names the file.
class EConfigLineTooLong : public EAppError
{
public:
    explicit EConfigLineTooLong(const QString& path);
};

// Reads the file at path into settings. A file that cannot be opened, or that
// is not a regular file (a FIFO or a device is never waited on), changes
// nothing. A value that cannot be taken throws EConvertError or ERangeError
// (values taken before it stay taken); a read error throws EInOutError; a
// first line longer than LongestConfigLine throws EConfigLineTooLong before
// any value is taken, and nothing past that bound is read.
// settings.ConfigPath is not touched.
void LoadConfigFile(const QString& path, ConnectionSettings& settings);

// Writes settings to the file at path with a fresh key drawn from rng. Returns
// the empty string on success, else the message to show ("IOResult: N" when
// the file cannot be created or opened, "I/O error N" when writing or
// replacing it fails, a file size limit included, or why the values cannot be
// written, a line longer than LongestConfigLine in LoadConfigFile's words);
// the file is then left as it was. The save goes through a
// temporary file that replaces the target atomically, except where that would
// fail or break a link: a file in a folder that does not let us create or
// replace files, and a file with more than one hard link, are written in
// place (same inode, owner, mode and links). A key that would scramble a
// value into a quote or a line break is never used; a new file is created for
// its owner only (0600), an existing one keeps its mode.
QString SaveConfigFile(const QString& path, const ConnectionSettings& settings, std::mt19937& rng);

// The line SaveConfigFile writes for settings with the given key, ending in
// CR LF. Exposed for tests and for orvanite-ctl.
QByteArray ConfigLine(const ConnectionSettings& settings, char key);

// How a load or a save of the configuration file went: the message to show
// the operator, empty when it went well. A load that failed has taken the
// values before the failing one, as LoadConfigFile does.
struct ConfigResult
{
    QString message;
    bool ok() const { return message.isEmpty(); }
};
ConfigResult loadConfig(const QString& path, ConnectionSettings& settings);
ConfigResult saveConfig(const QString& path, const ConnectionSettings& settings, std::mt19937& rng);
