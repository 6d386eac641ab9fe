#pragma once

#include "session/RecordValue.h"

#include <QByteArray>
#include <QByteArrayView>

#include <memory>
#include <span>
#include <vector>

namespace Wire {
struct ListenerFields;
struct ProcessFields;
} // namespace Wire

// Where a RecordWriter's bytes go: a buffer the writer fills through a
// pointer, drained into a file, a device or a byte array when it is large and
// at flush(). A million records go out in large writes without a call per
// field.
class RecordOutput
{
public:
    RecordOutput();
    virtual ~RecordOutput();
    RecordOutput(const RecordOutput&) = delete;
    RecordOutput& operator=(const RecordOutput&) = delete;

    // Room for at most maxBytes: write through the pointer, then hand the
    // end of what was written to commit().
    char* reserve(qsizetype maxBytes)
    {
        if (m_capacity - m_size < maxBytes)
            makeRoom(maxBytes);
        return m_data.get() + m_size;
    }
    void commit(const char* end)
    {
        m_size = end - m_data.get();
        if (m_size >= FlushSize)
            flush();
        else
            committed();
    }
    void write(QByteArrayView bytes);

    // Drains what is buffered; false once draining has failed.
    bool flush();
    bool failed() const { return m_failed; }

protected:
    static constexpr qsizetype FlushSize = 64 * 1024;
    // Takes the bytes; false when they cannot be written (nothing more is).
    virtual bool drain(const char* data, qsizetype size) = 0;
    // A commit left bytes in the buffer.
    virtual void committed() {}

private:
    void makeRoom(qsizetype bytes);

    std::unique_ptr<char[]> m_data;
    qsizetype m_size = 0;
    qsizetype m_capacity = 0;
    bool m_failed = false;
};

// Output gathered in memory (the console's Copy and Export).
class ByteArrayOutput : public RecordOutput
{
public:
    ~ByteArrayOutput() override;
    // Everything written, flushed.
    QByteArray take();

protected:
    bool drain(const char* data, qsizetype size) override;

private:
    QByteArray m_bytes;
};

// The columns of a list: the titles of the table formats (the console's)
// and the keys of JSON and CSV. The two may differ in shape.
struct RecordShape
{
    std::span<const char* const> titles;
    std::span<const char* const> keys;
    int rightAligned = -1; // a table column aligned to the right (numbers)
    int optional = -1;     // an aligned-table column left out when no row has a text in it
};

enum class RecordFormat
{
    Table, // aligned columns, or tab-separated with noAlign
    Json,
    Csv,
    Tsv, // tab-separated, a title line first: what Copy puts on the clipboard
    // Tab-separated values with CSV's keys and values (for scripts): a key
    // line first, texts with their tabs, line ends and backslashes escaped.
    KeyedTsv,
};

struct RecordStyle
{
    RecordFormat format = RecordFormat::Table;
    bool noHeaders = false;
    bool noAlign = false;
    bool jsonLines = false; // a JSON list as one line (--watch into a pipe)
    bool terminal = false;  // the output is a terminal: CSV escapes control characters too
    bool crlf = false;      // CSV lines end in CR LF instead of LF
};

// Writes one list record by record, in one of the formats, with one set of
// keys and value types for every program. Each record comes as its row (the
// display texts, one per title, for the table formats) and its values (one
// per key, for JSON and CSV); a caller may leave out the side the writer does
// not read (printsRows()).
//
// Numbers are JSON numbers and bare CSV fields; texts are Latin-1, written as
// UTF-8. No format puts a control character (0x00-0x1f, 0x7f-0x9f) from a
// record in front of a reader: JSON escapes them as JSON does (\u001b);
// the table formats, and CSV written to a terminal, show each as \x and two
// lower-case hex digits ("\x1b"). CSV fields are quoted per RFC 4180 when
// they hold a comma, a quote, CR or LF, and also when they begin or end with
// a blank, so that no reader trims them; each CSV line ends in LF (CR LF on
// request). KeyedTsv writes what CSV does, a tab between fields, with no
// quotes: a tab, CR, LF or backslash in a text is written \t, \r, \n or
// \\. JSON, CSV and the tab-separated formats write each record at once;
// the aligned table needs every width first, so it keeps the rows' texts in
// one compact store until finish(). What has been written is valid on its
// own at any finish(): a list cut short still closes its JSON array.
class RecordWriter
{
public:
    virtual ~RecordWriter() = default;

    virtual void record(std::span<const QByteArrayView> row,
                        std::span<const RecordValue> values) = 0;
    virtual bool printsRows() const { return false; }
    virtual void finish() = 0;

    static std::unique_ptr<RecordWriter> create(const RecordStyle& style, const RecordShape& shape,
                                                RecordOutput& out);
};

// Puts one host's name before every row and record it passes on to the
// writer that many hosts share. finish() is the shared writer's business.
class HostColumnWriter : public RecordWriter
{
public:
    HostColumnWriter(RecordWriter& next, QByteArray hostName)
        : m_next(next), m_host(std::move(hostName))
    {
    }
    void record(std::span<const QByteArrayView> row, std::span<const RecordValue> values) override;
    bool printsRows() const override { return m_next.printsRows(); }
    void finish() override {}

private:
    RecordWriter& m_next;
    QByteArray m_host;
};

// The texts of the formats, appended to a buffer.
namespace RecordText {

// A JSON string of Latin-1 bytes, written as UTF-8, control characters escaped.
void appendJsonString(QByteArray& out, QByteArrayView latin1);
// One CSV field (RFC 4180) of Latin-1 bytes, written as UTF-8.
void appendCsvField(QByteArray& out, QByteArrayView latin1, bool terminal = false);
// One field of tab-separated values (KeyedTsv) of Latin-1 bytes, as UTF-8.
void appendTsvField(QByteArray& out, QByteArrayView latin1);
// Latin-1 to UTF-8 with control characters shown as "\x1b": a name from the
// host must not move the cursor or recolour the operator's terminal.
void appendTerminalText(QByteArray& out, QByteArrayView latin1);

} // namespace RecordText
