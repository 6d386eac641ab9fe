#pragma once

#include "session/HostSession.h"

#include <QByteArrayView>
#include <QString>

class HostSocket;
class ListenerTableModel;
class ProcessTableModel;

// Reads one list off a host socket's receive buffer into where it belongs:
// the listener table, the process table or a caller's RecordSink. It takes a
// header, then the body the header announced, frame after frame, until the
// closing 0000, a header that is not a length, or one record more than the
// cap; a frame is taken only once all its bytes are there. Records that
// cannot be split are skipped and counted. It neither waits nor sends: the
// session decides when to read and what an end means for the connection.
class ListReader
{
public:
    enum class Target
    {
        Listeners,
        Processes,
        Sink,
    };
    // What taking the next frame found.
    enum class Frame
    {
        Incomplete, // its bytes are not all here yet; nothing was taken
        Header,
        Record,
        End,            // the closing 0000
        BadHeader,      // four bytes that are not a length
        TooManyRecords, // the header of a record past the cap
    };

    ListReader(ListenerTableModel* listeners, ProcessTableModel* processes);

    // Starts a list. The rows gathered for a table replace its rows at
    // finish(); a sink gets each record as it comes.
    void begin(Target target, RecordSink* sink, int cap);
    // Takes the frames buffered, up to the end of the list or a frame whose
    // bytes are not all here, and says what the last one was.
    Frame takeFrame(HostSocket& socket);
    // Ends the pass of takeFrame under way after the record being taken (a
    // slot that record runs stops the list).
    void stopPass() { m_stopPass = true; }
    // Puts the gathered rows in the table, or lets go of the sink. Rows of a
    // list that did not end whole are shown but not compared with the list
    // before: what was not read has not ended.
    void finish(bool whole = true);
    // The list was dropped: the sink is not called any more.
    void forgetSink() { m_sink = nullptr; }

    Target target() const { return m_target; }
    int records() const { return m_records; }
    // True once every so many records, for a long list's progress.
    bool progressDue();

    // Records that could not be split since resetSkipped(), as a notice for
    // the operator; empty when there were none.
    QString skippedText() const;
    void resetSkipped();

    // What the operator is told about a list that ended this way.
    static QString endText(HostSession::ListEnd end, int records, int cap);

private:
    void takeRecord(QByteArrayView body);

    ListenerTableModel* m_listeners;
    ProcessTableModel* m_processes;
    Target m_target = Target::Listeners;
    RecordSink* m_sink = nullptr;
    int m_cap = HostSession::MaxListRecords;
    int m_records = 0;
    int m_bodyLength = -1; // -1 while a header is awaited
    bool m_stopPass = false;
    int m_progressShown = 0;
    int m_skipped = 0;
    QString m_firstSkip;
};
