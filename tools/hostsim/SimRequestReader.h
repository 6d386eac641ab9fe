#pragma once

#include <QByteArray>

#include <optional>

// Reads what a console sends to the simulated server job: first the unframed
// logon (six digits of logon kind and 112 bytes of fields), then framed
// requests, each a one-letter frame and, for the letters that take one, an
// argument frame. Bytes may arrive split in any way; a request is handed out
// only once all of it (argument included) is there. This reader is the
// simulator's own and strict on purpose: a header must be exactly four ASCII
// digits, so that a console framing fault is seen, not forgiven.
class SimRequestReader
{
public:
    static constexpr qsizetype LogonSize = 6 + 7 * 16;

    struct Item
    {
        enum Kind
        {
            Logon,     // bytes: the 118 logon bytes
            Request,   // letter and argument
            BadHeader, // bytes: the four header bytes that are not a number; nothing more is read
        };
        Kind kind = Request;
        QByteArray bytes;
        QByteArray letter;
        QByteArray argument;
        bool hasArgument = false;
    };

    void append(const QByteArray& bytes);
    // The next complete item, or none while more bytes are needed.
    std::optional<Item> next();
    // Whether the letter is followed by an argument frame.
    static bool takesArgument(const QByteArray& letter);
    qsizetype buffered() const { return m_buffer.size() - m_offset; }

private:
    // The next frame's body when it is all there; none when more bytes are needed.
    // Sets m_broken on a header that is not four digits.
    std::optional<QByteArray> peekFrame(qsizetype at, qsizetype* end);
    void consume(qsizetype count);

    QByteArray m_buffer;
    qsizetype m_offset = 0; // bytes of m_buffer already handed out
    bool m_loggedOn = false;
    bool m_broken = false;
    QByteArray m_badHeader;
};
