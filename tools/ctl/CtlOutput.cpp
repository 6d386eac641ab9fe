#include "CtlOutput.h"

#include <QIODevice>
#include <QTimer>

#include <cerrno>

CtlOutput::CtlOutput(QIODevice& device, QObject* parent) : QObject(parent), m_device(device) {}

CtlOutput::~CtlOutput()
{
    flush();
}

void CtlOutput::queueFlush()
{
    m_flushQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_flushQueued = false;
        flush();
    });
}

bool CtlOutput::drain(const char* data, qsizetype size)
{
    qsizetype done = 0;
    while (done < size) {
        errno = 0;
        const qint64 n = m_device.write(data + done, size - done);
        if (n <= 0) {
            m_readerGone = errno == EPIPE;
            m_error = m_device.errorString();
            Q_EMIT writeFailed();
            return false;
        }
        done += n;
    }
    return true;
}
