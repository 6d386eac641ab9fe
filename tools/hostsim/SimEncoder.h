#pragma once

#include <QByteArray>

struct SimListener;
struct SimProcess;

// Writes what the simulated server job sends: frames ("%.4d" header and
// body) and the two record kinds. It is written on its own, apart from the
// console's reader, so that a framing mistake on one side shows up as a
// failure instead of being undone by the same mistake on the other. Every
// function appends to the caller's buffer, so a whole list is built in one
// buffer with amortised constant work per record.
class SimEncoder
{
public:
    static constexpr qsizetype MaxBody = 9999; // what four decimal digits can announce

    // Appends header and body. False (and nothing appended) when the body
    // cannot be announced in four digits.
    static bool appendFrame(QByteArray& out, const QByteArray& body);
    // Appends the empty message that ends a list.
    static void appendEnd(QByteArray& out);
    // "S" PIN "|" port " " program "|" product "|" user limit, then the tail.
    static QByteArray listenerBody(const SimListener& listener);
    // Kind 'P', flag '0' and the main PIN (or flag '1' when there is none),
    // "|" PIN "|" program "|" user "|" CPU ms, and "|" digit when the priority
    // is set. The raw record instead when it is set.
    static QByteArray processBody(const SimProcess& process);
    // Appends the framed record; false when it is too long to frame (nothing appended).
    static bool appendListener(QByteArray& out, const SimListener& listener);
    static bool appendProcess(QByteArray& out, const SimProcess& process);
    // The four header digits of a length 0..9999.
    static QByteArray header(qsizetype length);
    // One logon field as the console sends it: cut to 16 bytes, space-filled to 16.
    static QByteArray logonField(const QByteArray& value);

private:
    static void appendNumber(QByteArray& out, qint64 value);
    static void appendProcessBody(QByteArray& out, const SimProcess& process);
    static void patchHeader(QByteArray& out, qsizetype headerAt, qsizetype length);
};
