#pragma once

#include "CtlCommandLine.h"

#include <QByteArray>
#include <QList>

// One value of a record as scripts see it: a text (bytes from the host or a
// configuration file, Latin-1), a number (its literal, ASCII) or null.
struct CtlValue
{
    enum class Kind
    {
        Text,
        Number,
        Null
    };
    Kind kind = Kind::Null;
    QByteArray bytes;

    static CtlValue Text(QByteArray latin1) { return {Kind::Text, std::move(latin1)}; }
    static CtlValue Number(QByteArray literal) { return {Kind::Number, std::move(literal)}; }
    static CtlValue Null() { return {Kind::Null, {}}; }
};

// A short output kept whole before it is printed (the settings of a file), in
// two views: the rows an operator reads in the table format and the records a
// script reads as JSON or CSV (fixed keys, typed values). The views may differ
// in shape: the settings of a file are one record but a row per key. Lists
// from the host are printed as they come by a RecordWriter instead.
class CtlListing
{
public:
    CtlListing(QList<QByteArray> titles, QList<QByteArray> keys);

    // Columns whose texts are aligned to the right (numbers).
    void SetRightAligned(int column);
    // A column left out of the table when no row has a text in it.
    void SetOptional(int column);
    // JSON prints the one record as an object, not as an array of objects.
    void SetSingleRecord(bool single) { m_single = single; }

    void AddRow(QList<QByteArray> texts);
    void AddRecord(QList<CtlValue> values);

    qsizetype RecordCount() const { return m_records.size(); }

    // The whole output in UTF-8; headers: the title line of the table, the
    // CSV and the TSV; terminal: CSV shows control characters escaped, as the
    // table does; crlf: CSV lines end in CR LF.
    QByteArray Render(CtlFormat format, bool headers = true, bool terminal = false,
                      bool crlf = false) const;

private:
    QByteArray RenderTable(bool headers) const;
    QByteArray RenderJson() const;
    // CSV, or TSV with tabs.
    QByteArray RenderCsv(bool headers, bool terminal, bool tabs, bool crlf) const;
    QByteArray JsonObject(const QList<CtlValue>& values) const;

    QList<QByteArray> m_titles;
    QList<QByteArray> m_keys;
    QList<bool> m_rightAligned;
    QList<bool> m_optional;
    bool m_single = false;
    QList<QList<QByteArray>> m_rows;
    QList<QList<CtlValue>> m_records;
};
