#pragma once

#include "exporter/HostSample.h"

#include <QByteArray>

#include <vector>

struct ProcessMetrics;

// The Prometheus text exposition format (version 0.0.4) of a set of host
// samples: every family with its HELP and TYPE lines, its samples together,
// hosts in the order given. Bytes from the host are Latin-1 and become UTF-8;
// label values are escaped as the format wants (backslash, quote, line feed).
// The whole text is written into one buffer reserved for it up front, each
// label value escaped straight into it.
namespace Exposition {

inline constexpr const char* ContentType = "text/plain; version=0.0.4; charset=utf-8";

// With self, the exporter's own series follow the hosts':
// orvanite_exporter_build_info and the process_* families.
QByteArray write(const std::vector<const HostSample*>& hosts, bool withProcesses,
                 const ProcessMetrics* self = nullptr);

// A label value in the format's quoting, from UTF-8 text.
QByteArray escapeLabel(QByteArrayView utf8);
// Whole milliseconds as seconds, exactly: 1500 -> "1.5", 0 -> "0".
QByteArray millisecondsAsSeconds(qint64 ms);

} // namespace Exposition
