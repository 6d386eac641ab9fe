#pragma once

#include "config/ConnectionSettings.h"

#include <QString>

// One host the exporter watches: the settings read from its configuration
// file, and the label its series carry.
struct HostTarget
{
    QString label; // "address:port"
    ConnectionSettings settings;
};
