#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

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

    // Append here, then call written().
    QByteArray& buffer() { return m_buffer; }
    void written();
    void write(QByteArrayView bytes)
    {
        m_buffer.append(bytes);
        written();
    }
    // Writes what is buffered; false once a write has failed.
    bool flush();
    bool failed() const { return m_failed; }
    QString errorString() const { return m_error; }

Q_SIGNALS:
    // A write failed (the reader went away): nothing more will be printed.
    void writeFailed();

private:
    QIODevice& m_device;
    QByteArray m_buffer;
    bool m_flushQueued = false;
    bool m_failed = false;
    QString m_error;
};
