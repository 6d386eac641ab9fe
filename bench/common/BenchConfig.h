#pragma once

#include "config/ConfigFile.h"

#include <QString>

#include <cstdio>
#include <random>

// Writes the host file of a simulator on this machine's port, refreshed every
// refreshMs; false, after saying why, when it could not be written.
inline bool writeHostFile(const QString& path, quint16 port, int refreshMs, std::mt19937& rng)
{
    ConnectionSettings settings;
    settings.HostAddress = "127.0.0.1";
    settings.Port = port;
    settings.RefreshInterval = refreshMs;
    if (const QString error = SaveConfigFile(path, settings, rng); !error.isEmpty()) {
        std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(path), qPrintable(error));
        return false;
    }
    return true;
}
