#pragma once

#include <QByteArrayView>
#include <QObject>
#include <QString>

#include <memory>

class QIODevice;

// orvanite-ctl's standard output, buffered: a list of a million records goes
// out in large writes, yet what has been read is printed as soon as the
// program waits for the host again (the buffer is written when it is large,
// and on the next turn of the event loop otherwise).
class CtlOutput : public QObject
{
    Q_OBJECT

public:
    explicit CtlOutput(QIODevice& device, QObject* parent = nullptr);
    ~CtlOutput() override;

    // Room for at most maxBytes: write through the pointer, then hand the
    // end of what was written to commit().
    char* reserve(qsizetype maxBytes)
    {
        if (m_capacity - m_size < maxBytes)
            makeRoom(maxBytes);
        return m_data.get() + m_size;
    }
    void commit(const char* end)
    {
        m_size = end - m_data.get();
        if (m_size >= FlushSize)
            flush();
        else if (!m_flushQueued)
            queueFlush();
    }
    void write(QByteArrayView bytes);

    // Writes what is buffered; false once a write has failed.
    bool flush();
    bool failed() const { return m_failed; }
    QString errorString() const { return m_error; }

Q_SIGNALS:
    // A write failed (the reader went away): nothing more will be printed.
    void writeFailed();

private:
    static constexpr qsizetype FlushSize = 64 * 1024;

    void makeRoom(qsizetype bytes);
    void queueFlush();

    QIODevice& m_device;
    std::unique_ptr<char[]> m_data;
    qsizetype m_size = 0;
    qsizetype m_capacity = 0;
    bool m_flushQueued = false;
    bool m_failed = false;
    QString m_error;
};
