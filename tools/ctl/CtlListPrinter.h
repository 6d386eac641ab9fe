#pragma once

#include "CtlCommandLine.h"

#include <QByteArray>
#include <QByteArrayView>

#include <memory>
#include <span>

class CtlOutput;

// One value of a record as scripts see it: a text (bytes from the host or a
// file, Latin-1), a number (its literal, ASCII) or null. The bytes are a view
// that lives for the call it is passed to.
struct CtlCell
{
    enum class Kind
    {
        Text,
        Number,
        Null
    };
    Kind kind = Kind::Null;
    QByteArrayView bytes;

    static CtlCell text(QByteArrayView latin1) { return {Kind::Text, latin1}; }
    static CtlCell number(QByteArrayView literal) { return {Kind::Number, literal}; }
    static CtlCell null() { return {Kind::Null, {}}; }
};

// The columns of a list: the table's titles (the console's) and the keys
// scripts read in JSON and CSV. The two views may differ in shape.
struct CtlListShape
{
    std::span<const char* const> titles;
    std::span<const char* const> keys;
    int rightAligned = -1; // a table column aligned to the right (numbers)
    int optional = -1;     // a table column left out when no row has a text in it
};

// How a list is printed.
struct CtlPrintStyle
{
    CtlFormat format = CtlFormat::Table;
    bool noHeaders = false;
    bool noAlign = false;
    bool jsonLines = false; // a JSON list as one line (--watch into a pipe)
};

// Prints one list record by record as it is read. JSON, CSV and the
// unaligned table write each record at once; the aligned table needs every
// width first, so it keeps the rows' display texts in one compact store and
// prints at finish(). What has been printed is valid on its own at any
// finish(): a list cut short still closes its JSON array.
class CtlListPrinter
{
public:
    virtual ~CtlListPrinter() = default;

    // row: the table's cells (Latin-1), one per title; values: one per key.
    // A table printer reads only the row, the others only the values, so a
    // caller may leave the other side empty (see printsRows()).
    virtual void record(std::span<const QByteArrayView> row, std::span<const CtlCell> values) = 0;
    virtual bool printsRows() const { return false; }
    virtual void finish() = 0;

    static std::unique_ptr<CtlListPrinter> create(const CtlPrintStyle& style,
                                                  const CtlListShape& shape, CtlOutput& out);
};

// The texts of the output formats, appended to a buffer.
namespace CtlText {

// A JSON string of Latin-1 bytes, written as UTF-8, control characters escaped.
void appendJsonString(QByteArray& out, QByteArrayView latin1);
// One CSV field (RFC 4180) of Latin-1 bytes, written as UTF-8.
void appendCsvField(QByteArray& out, QByteArrayView latin1);
// Latin-1 to UTF-8 with control characters shown as "?": a name from the host
// must not move the cursor or recolour the operator's terminal.
void appendTerminalText(QByteArray& out, QByteArrayView latin1);

} // namespace CtlText
