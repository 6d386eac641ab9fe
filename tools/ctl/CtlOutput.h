#pragma once

#include "session/RecordWriter.h"

#include <QByteArrayView>
#include <QObject>
#include <QString>

class QIODevice;

// orvanite-ctl's standard output, buffered: a list of a million records goes
// out in large writes, yet what has been read is printed as soon as the
// program waits for the host again (the buffer is written when it is large,
// and on the next turn of the event loop otherwise).
class CtlOutput : public QObject, public RecordOutput
{
    Q_OBJECT

public:
    explicit CtlOutput(QIODevice& device, QObject* parent = nullptr);
    ~CtlOutput() override;

    QString errorString() const { return m_error; }
    // The write failed because nobody reads the output any more (a pipe
    // whose reader has ended, as `| head` does).
    bool readerGone() const { return m_readerGone; }

Q_SIGNALS:
    // A write failed (the reader went away, the file reached its size
    // limit): nothing more will be printed.
    void writeFailed();

protected:
    bool drain(const char* data, qsizetype size) override;
    void committed() override
    {
        if (!m_flushQueued)
            queueFlush();
    }

private:
    void queueFlush();

    QIODevice& m_device;
    bool m_flushQueued = false;
    bool m_readerGone = false;
    QString m_error;
};
