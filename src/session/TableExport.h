#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <vector>

class RecordTableModel;

// Rows of a listener or process table written out for other programs: as
// tab-separated text with a header line of column titles (what the operator
// copies), and as CSV or JSON records with the fixed keys and typed values
// that orvanite-ctl prints, so one script reads both. Rows are the table's
// own row numbers, in the order given; output is UTF-8.
namespace TableExport {

enum class Format
{
    Csv,
    Json,
};

QByteArray tabSeparated(const RecordTableModel& table, const std::vector<int>& rows);
QByteArray records(const RecordTableModel& table, const std::vector<int>& rows, Format format);

// Pieces: a Latin-1 text as a JSON string and as a CSV field, both UTF-8.
QByteArray jsonString(QByteArrayView latin1);
QByteArray csvField(QByteArrayView latin1);

} // namespace TableExport
