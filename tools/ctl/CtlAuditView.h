#pragma once

#include "session/RecordWriter.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

#include "CtlOutput.h"

// The audit trail as orvanite-ctl prints it: each command joined with the
// effect written after it, newest first, in the table, JSON or CSV.
namespace CtlAuditView {

// entries: the trail's lines, oldest first. filter: only the commands with
// the text in any column (any case); limit: the newest so many of those.
// Returns how many were printed.
qsizetype print(const QList<QJsonObject>& entries, const RecordStyle& style,
                const std::optional<QString>& filter, std::optional<int> limit, CtlOutput& out);

} // namespace CtlAuditView
