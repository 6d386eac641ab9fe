#include "session/ListReader.h"

#include "core/Plural.h"
#include "host_link/HostSocket.h"
#include "host_link/Wire.h"
#include "session/ListenerTableModel.h"
#include "session/ProcessTableModel.h"

#include <QLocale>

namespace {

// A list this long shows its progress; shorter ones come and go unseen.
constexpr int ProgressStep = 2000;

} // namespace

ListReader::ListReader(ListenerTableModel* listeners, ProcessTableModel* processes)
    : m_listeners(listeners), m_processes(processes)
{
}

void ListReader::begin(Target target, RecordSink* sink, int cap)
{
    m_target = target;
    m_sink = target == Target::Sink ? sink : nullptr;
    m_cap = cap;
    m_records = 0;
    m_progressShown = 0;
    m_bodyLength = -1;
    if (target == Target::Listeners) {
        m_listeners->beginFill();
    } else if (target == Target::Processes) {
        m_processes->setDecimalSeparator(QLocale().decimalPoint().at(0).toLatin1());
        m_processes->beginFill();
    }
}

ListReader::Frame ListReader::takeFrame(HostSocket& socket)
{
    // Every whole frame the buffer holds is taken in one pass and the bytes
    // are consumed once at its end; the last frame taken is reported.
    const QByteArrayView buffered = socket.buffered();
    m_stopPass = false;
    qsizetype used = 0;
    Frame last = Frame::Incomplete;
    for (;;) {
        const QByteArrayView rest = buffered.sliced(used);
        if (m_bodyLength < 0) {
            if (rest.size() < Wire::HeaderLength)
                break;
            const std::optional<int> length = Wire::parseHeader(rest.first(Wire::HeaderLength));
            used += Wire::HeaderLength;
            last = !length ? Frame::BadHeader : *length == 0 ? Frame::End : Frame::Header;
            // A list of exactly the cap still ends normally; one record more
            // does not.
            if (last == Frame::Header && m_records >= m_cap)
                last = Frame::TooManyRecords;
            if (last != Frame::Header)
                break;
            m_bodyLength = *length;
        }
        if (buffered.size() - used < m_bodyLength)
            break;
        takeRecord(buffered.sliced(used, m_bodyLength));
        used += m_bodyLength;
        ++m_records;
        m_bodyLength = -1;
        last = Frame::Record;
        if (m_stopPass)
            break;
        // A sink that acted on the socket ends the pass with its record.
        if (m_target == Target::Sink) {
            const QByteArrayView now = socket.buffered();
            if (now.data() != buffered.data() || now.size() != buffered.size())
                break;
        }
    }
    socket.consume(used);
    return last;
}

void ListReader::takeRecord(QByteArrayView body)
{
    const Wire::SplitResult record = Wire::splitRecord(body);
    if (m_target == Target::Sink) {
        if (m_sink)
            m_sink->record(record, body);
        return;
    }
    if (!record.ok()) {
        // Skipped and counted; the rows around it are placed and the list is
        // read to its end, so the replies stay in step.
        if (m_skipped++ == 0)
            m_firstSkip = Wire::errorText(record);
        return;
    }
    // Records go by their first character, whatever was asked: a listener
    // in a process list joins the listener table. A process in the listener
    // list is not kept: the process list that follows replaces that table;
    // a priority it carries still says the host reports them.
    if (record.kind == Wire::RecordKind::Listener) {
        if (m_target == Target::Listeners)
            m_listeners->appendRecord(record.listener);
        else
            m_listeners->appendRecordNow(record.listener);
    } else if (m_target == Target::Processes) {
        m_processes->appendRecord(record.process);
    } else if (record.process.priority != 0) {
        m_processes->showPriorityColumn();
    }
}

void ListReader::finish(bool whole)
{
    if (m_target == Target::Listeners) {
        m_listeners->commitFill(whole);
    } else if (m_target == Target::Processes) {
        m_processes->commitFill(whole);
        m_processes->showPendingColumns();
    }
    m_sink = nullptr;
}

bool ListReader::progressDue()
{
    if (m_records - m_progressShown < ProgressStep)
        return false;
    m_progressShown = m_records;
    return true;
}

QString ListReader::skippedText() const
{
    if (m_skipped == 1)
        return QStringLiteral("1 record skipped: %1").arg(m_firstSkip);
    if (m_skipped > 1)
        return QStringLiteral("%1 records skipped, the first: %2").arg(m_skipped).arg(m_firstSkip);
    return QString();
}

void ListReader::resetSkipped()
{
    m_skipped = 0;
    m_firstSkip.clear();
}

QString ListReader::endText(HostSession::ListEnd end, int records, int cap)
{
    using ListEnd = HostSession::ListEnd;
    switch (end) {
    case ListEnd::TooManyRecords:
        return QStringLiteral("The host sent more than %1 %2 in one list. The list was cut "
                              "off there and the connection will be renewed.")
            .arg(QLocale::c().toString(cap), Plural::noun(cap, "record", "records"));
    case ListEnd::BadHeader:
        return QStringLiteral("The host sent a reply that does not start with a length. The "
                              "list ends there and the connection will be renewed.");
    case ListEnd::Closed:
        return QStringLiteral("The host closed the connection in the middle of a list.");
    case ListEnd::Stopped:
        // Nothing more happens until the operator lists again: the
        // connection is renewed then, not before.
        return QStringLiteral("The list was stopped after %1 %2; the connection was ended until "
                              "the next refresh.")
            .arg(QLocale::c().toString(records), Plural::noun(records, "record", "records"));
    case ListEnd::Complete:
    case ListEnd::NotConnected:
    case ListEnd::NoSelection:
    case ListEnd::TimedOut:
        break;
    }
    return QString();
}
