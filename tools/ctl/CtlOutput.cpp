#include "CtlOutput.h"

#include <QIODevice>
#include <QTimer>

namespace {
constexpr qsizetype FlushSize = 64 * 1024;
}

CtlOutput::CtlOutput(QIODevice& device, QObject* parent) : QObject(parent), m_device(device)
{
    m_buffer.reserve(FlushSize + 4096);
}

CtlOutput::~CtlOutput()
{
    flush();
}

void CtlOutput::written()
{
    if (m_buffer.size() >= FlushSize) {
        flush();
        return;
    }
    if (!m_flushQueued && !m_buffer.isEmpty()) {
        m_flushQueued = true;
        QTimer::singleShot(0, this, [this] {
            m_flushQueued = false;
            flush();
        });
    }
}

bool CtlOutput::flush()
{
    if (m_failed) {
        m_buffer.resize(0); // keeps the allocation
        return false;
    }
    qsizetype done = 0;
    while (done < m_buffer.size()) {
        const qint64 n = m_device.write(m_buffer.constData() + done, m_buffer.size() - done);
        if (n <= 0) {
            m_failed = true;
            m_error = m_device.errorString();
            m_buffer.resize(0); // keeps the allocation
            Q_EMIT writeFailed();
            return false;
        }
        done += n;
    }
    m_buffer.resize(0); // keeps the allocation
    return true;
}
