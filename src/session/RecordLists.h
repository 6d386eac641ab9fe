#pragma once

#include "session/HostSession.h"
#include "session/RecordWriter.h"

#include <QByteArray>

#include <vector>

class ListenerTableModel;
class ProcessTableModel;
class RecordTableModel;

// The listener and process lists: their titles and keys, and their records
// from the wire (orvanite-ctl) or from a table (the console) as the same
// rows and values.
namespace RecordLists {

// With hostColumn each row begins with the host's name ("Host", key "host").
RecordShape listenerShape(bool hostColumn = false);
RecordShape processShape(bool hostColumn = false);

// The decimal separator of the CPU time in the table formats (the locale's).
char decimalSeparator();

void writeListener(RecordWriter& writer, const Wire::ListenerFields& fields);
// separator: of the CPU time in the row.
void writeProcess(RecordWriter& writer, const Wire::ProcessFields& fields, char separator);
void writeListener(RecordWriter& writer, const ListenerTableModel& table, int row);
void writeProcess(RecordWriter& writer, const ProcessTableModel& table, int row);

// Rows of a listener or process table (its own row numbers, in the order
// given) in one format, UTF-8: the bytes orvanite-ctl writes for the same
// records. Tsv (what Copy puts on the clipboard) has the columns shown only.
QByteArray tableRows(const RecordTableModel& table, const std::vector<int>& rows,
                     RecordFormat format);

} // namespace RecordLists

// Writes the records of a listener or process list as they are read.
class ListWriterSink : public RecordSink
{
public:
    explicit ListWriterSink(RecordWriter& writer)
        : m_writer(writer), m_separator(RecordLists::decimalSeparator())
    {
    }
    void record(const Wire::SplitResult& record, QByteArrayView body) override;

private:
    RecordWriter& m_writer;
    char m_separator;
};
