#include "hostsim/SimRequestReader.h"

#include <utility>

void SimRequestReader::append(const QByteArray& bytes)
{
    if (m_broken)
        return;
    // Drop what was handed out before growing, so that the buffer holds
    // at most what is unread plus one read's worth (no copy per request).
    if (m_offset > 0 && m_offset >= m_buffer.size() / 2) {
        m_buffer.remove(0, m_offset);
        m_offset = 0;
    }
    m_buffer.append(bytes);
}

void SimRequestReader::consume(qsizetype count)
{
    m_offset += count;
    if (m_offset == m_buffer.size()) {
        m_buffer.clear();
        m_offset = 0;
    }
}

bool SimRequestReader::takesArgument(const QByteArray& letter)
{
    return letter == "H" || letter == "S" || letter == "K" || letter == "P";
}

std::optional<QByteArray> SimRequestReader::peekFrame(qsizetype at, qsizetype* end)
{
    if (m_buffer.size() - at < 4)
        return std::nullopt;
    const char* h = m_buffer.constData() + at;
    qsizetype length = 0;
    for (int i = 0; i < 4; ++i) {
        if (h[i] < '0' || h[i] > '9') {
            m_broken = true;
            m_badHeader = QByteArray(h, 4);
            return std::nullopt;
        }
        length = length * 10 + (h[i] - '0');
    }
    if (m_buffer.size() - at - 4 < length)
        return std::nullopt;
    *end = at + 4 + length;
    return m_buffer.mid(at + 4, length);
}

std::optional<SimRequestReader::Item> SimRequestReader::next()
{
    if (m_broken) {
        if (m_badHeader.isEmpty())
            return std::nullopt;
        Item item;
        item.kind = Item::BadHeader;
        item.bytes = std::exchange(m_badHeader, QByteArray());
        return item;
    }
    if (!m_loggedOn) {
        if (buffered() < LogonSize)
            return std::nullopt;
        Item item;
        item.kind = Item::Logon;
        item.bytes = m_buffer.mid(m_offset, LogonSize);
        consume(LogonSize);
        m_loggedOn = true;
        return item;
    }
    qsizetype letterEnd = 0;
    std::optional<QByteArray> letter = peekFrame(m_offset, &letterEnd);
    if (!letter)
        return m_broken ? next() : std::nullopt;
    Item item;
    item.letter = *letter;
    if (takesArgument(item.letter)) {
        qsizetype argumentEnd = 0;
        std::optional<QByteArray> argument = peekFrame(letterEnd, &argumentEnd);
        if (!argument)
            return m_broken ? next() : std::nullopt;
        item.argument = *argument;
        item.hasArgument = true;
        consume(argumentEnd - m_offset);
    } else {
        consume(letterEnd - m_offset);
    }
    return item;
}
