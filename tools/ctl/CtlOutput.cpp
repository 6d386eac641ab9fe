#include "CtlOutput.h"

#include <QIODevice>
#include <QTimer>

#include <cstring>

CtlOutput::CtlOutput(QIODevice& device, QObject* parent) : QObject(parent), m_device(device)
{
    makeRoom(2 * FlushSize);
}

CtlOutput::~CtlOutput()
{
    flush();
}

void CtlOutput::write(QByteArrayView bytes)
{
    char* p = reserve(bytes.size());
    std::memcpy(p, bytes.data(), size_t(bytes.size()));
    commit(p + bytes.size());
}

void CtlOutput::makeRoom(qsizetype bytes)
{
    flush();
    if (m_capacity >= bytes)
        return;
    m_capacity = std::max(bytes, 2 * FlushSize);
    m_data = std::make_unique_for_overwrite<char[]>(size_t(m_capacity));
}

void CtlOutput::queueFlush()
{
    m_flushQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_flushQueued = false;
        flush();
    });
}

bool CtlOutput::flush()
{
    const qsizetype size = m_size;
    m_size = 0;
    if (m_failed)
        return false;
    qsizetype done = 0;
    while (done < size) {
        const qint64 n = m_device.write(m_data.get() + done, size - done);
        if (n <= 0) {
            m_failed = true;
            m_error = m_device.errorString();
            Q_EMIT writeFailed();
            return false;
        }
        done += n;
    }
    return true;
}
