#pragma once

#include "ConnectionSettings.h"

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

// Reads the file at path into settings. A file that cannot be opened changes
// nothing. A value that cannot be taken throws EConvertError or ERangeError
// (values taken before it stay taken); a read error throws EInOutError.
// settings.ConfigPath is not touched.
void LoadConfigFile(const QString& path, ConnectionSettings& settings);

// Writes settings to the file at path with a fresh key drawn from rng, through
// a temporary file that replaces the target atomically. Returns the empty
// string on success, else the message to show ("IOResult: N" when the file
// cannot be created, "I/O error N" when writing or replacing it fails, or why
// the values cannot be written); the file is then left as it was. A key that
// would scramble a value into a quote or a line break is never used; a new
// file is created for its owner only (0600), an existing one keeps its mode.
QString SaveConfigFile(const QString& path, const ConnectionSettings& settings, std::mt19937& rng);

// The line SaveConfigFile writes for settings with the given key, ending in
// CR LF. Exposed for tests and for orvanite-ctl.
QByteArray ConfigLine(const ConnectionSettings& settings, char key);
