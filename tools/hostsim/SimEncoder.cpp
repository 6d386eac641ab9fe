#include "hostsim/SimEncoder.h"

#include "hostsim/HostSim.h"

bool SimEncoder::appendFrame(QByteArray& out, const QByteArray& body)
{
    if (body.size() > MaxBody)
        return false;
    out.append(header(body.size()));
    out.append(body);
    return true;
}

void SimEncoder::appendEnd(QByteArray& out)
{
    out.append("0000", 4);
}

QByteArray SimEncoder::header(qsizetype length)
{
    Q_ASSERT(length >= 0 && length <= MaxBody);
    char digits[4];
    qsizetype rest = length;
    for (int i = 3; i >= 0; --i) {
        digits[i] = char('0' + rest % 10);
        rest /= 10;
    }
    return QByteArray(digits, 4);
}

QByteArray SimEncoder::logonField(const QByteArray& value)
{
    QByteArray field = value.left(16);
    field.append(16 - field.size(), ' ');
    return field;
}

void SimEncoder::appendNumber(QByteArray& out, qint64 value)
{
    // Decimal digits without going through a temporary string: lists of a
    // million records spend most of their time here.
    char buf[24];
    int at = sizeof buf;
    bool negative = value < 0;
    quint64 rest = negative ? quint64(0) - quint64(value) : quint64(value);
    do {
        buf[--at] = char('0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    if (negative)
        buf[--at] = '-';
    out.append(buf + at, qsizetype(sizeof buf) - at);
}

void SimEncoder::patchHeader(QByteArray& out, qsizetype headerAt, qsizetype length)
{
    char* p = out.data() + headerAt;
    for (int i = 3; i >= 0; --i) {
        p[i] = char('0' + length % 10);
        length /= 10;
    }
}

QByteArray SimEncoder::listenerBody(const SimListener& listener)
{
    QByteArray body;
    body.reserve(16 + listener.Pin.size() + listener.Port.size() + listener.Program.size() +
                 listener.Product.size() + listener.UserLimit.size() + listener.Tail.size());
    body.append('S');
    body.append(listener.Pin);
    body.append('|');
    body.append(listener.Port);
    body.append(' ');
    body.append(listener.Program);
    body.append('|');
    body.append(listener.Product);
    body.append('|');
    body.append(listener.UserLimit);
    body.append(listener.Tail);
    return body;
}

bool SimEncoder::appendListener(QByteArray& out, const SimListener& listener)
{
    return appendFrame(out, listenerBody(listener));
}

void SimEncoder::appendProcessBody(QByteArray& out, const SimProcess& process)
{
    if (!process.RawRecord.isEmpty()) {
        out.append(process.RawRecord);
        return;
    }
    out.append('P');
    if (process.MainPin.isEmpty()) {
        out.append('1');
    } else {
        out.append('0');
        out.append(process.MainPin);
    }
    out.append('|');
    out.append(process.Pin);
    out.append('|');
    out.append(process.Program);
    out.append('|');
    out.append(process.User);
    out.append('|');
    appendNumber(out, process.CpuMs);
    if (process.Priority > 0) {
        out.append('|');
        appendNumber(out, process.Priority);
    }
}

QByteArray SimEncoder::processBody(const SimProcess& process)
{
    QByteArray body;
    appendProcessBody(body, process);
    return body;
}

bool SimEncoder::appendProcess(QByteArray& out, const SimProcess& process)
{
    // The body is written in place behind a header placeholder, then the
    // header is filled in: no temporary body per record.
    const qsizetype headerAt = out.size();
    out.append("0000", 4);
    appendProcessBody(out, process);
    const qsizetype length = out.size() - headerAt - 4;
    if (length > MaxBody) {
        out.truncate(headerAt);
        return false;
    }
    patchHeader(out, headerAt, length);
    return true;
}
