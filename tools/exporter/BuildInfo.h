#pragma once

#include <QByteArray>

// What the exporter was built from: its version, the git revision ("unknown"
// when built outside a git checkout), the build date and the Qt it runs on.
namespace BuildInfo {

QByteArray version();
QByteArray revision();
QByteArray date(); // ISO 8601, UTC
QByteArray qtVersion();

// The text of --version.
QByteArray versionText();

} // namespace BuildInfo
