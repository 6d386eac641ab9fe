#pragma once

#include "CtlCommands.h"
#include "CtlListPrinter.h"
#include "session/HostSession.h"

#include <QByteArray>

#include <array>

// The listener and process lists as orvanite-ctl prints them: their columns
// and keys, and the sinks that turn each record read into the printer's row
// and values as it comes.
namespace CtlPrint {

// The columns of a list; with hostColumn each row begins with the host's name
// ("Host" in the table, "host" in JSON and CSV).
CtlListShape shape(CtlListKind kind, bool hostColumn = false);

// The decimal separator of the CPU time in the table (the locale's).
char decimalSeparator();
// A field the host sends as decimal text: a number when it is one as it
// stands, else the host's text.
CtlCell decimalCell(QByteArrayView text);
// The CPU time's text without the blanks that align it in the window.
QByteArrayView withoutBlanks(QByteArrayView text);

} // namespace CtlPrint

// Turns the records of a listener list into the printer's rows and values.
class ListenerPrintSink : public RecordSink
{
public:
    explicit ListenerPrintSink(CtlListPrinter& printer) : m_printer(printer) {}
    void record(const Wire::SplitResult& r, QByteArrayView) override;

private:
    CtlListPrinter& m_printer;
};

// Turns the records of a process list into the printer's rows and values,
// without allocating: a list may hold a million.
class ProcessPrintSink : public RecordSink
{
public:
    explicit ProcessPrintSink(CtlListPrinter& printer);
    void record(const Wire::SplitResult& r, QByteArrayView) override;

private:
    CtlListPrinter& m_printer;
    bool m_rows;
    char m_separator;
    std::array<QByteArray, 4> m_priorities; // "BS" ... "ES", made once
};

// Puts one host's name before every row and record it passes on to the
// printer that many hosts share. finish() is the shared printer's business.
class HostColumnPrinter : public CtlListPrinter
{
public:
    HostColumnPrinter(CtlListPrinter& next, QByteArray hostName)
        : m_next(next), m_host(std::move(hostName))
    {
    }
    void record(std::span<const QByteArrayView> row, std::span<const CtlCell> values) override;
    bool printsRows() const override { return m_next.printsRows(); }
    void finish() override {}

private:
    CtlListPrinter& m_next;
    QByteArray m_host;
};
