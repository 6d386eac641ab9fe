#pragma once

#include "config/ConfigFile.h"
#include "hostsim/HostSim.h"

#include <QFile>
#include <QMetaObject>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QThread>

#include <cstdio>
#include <memory>
#include <vector>

// Simulated hosts on a thread of their own, so that they answer while the
// benchmark's thread waits: made on that thread, and destroyed there with
// this object.
class SimThread
{
public:
    SimThread()
    {
        m_thread.start();
        m_context.moveToThread(&m_thread);
    }
    ~SimThread()
    {
        QMetaObject::invokeMethod(
            &m_context, [this] { m_sims.clear(); }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    SimThread(const SimThread&) = delete;
    SimThread& operator=(const SimThread&) = delete;

    // One more host, set up by setUp(HostSim&) before it listens: its port,
    // 0 when it could not listen.
    template <typename SetUp> quint16 add(SetUp setUp)
    {
        quint16 port = 0;
        QMetaObject::invokeMethod(
            &m_context,
            [&] {
                auto sim = std::make_unique<HostSim>();
                setUp(*sim);
                if (sim->listen())
                    port = sim->serverPort();
                m_sims.push_back(std::move(sim));
            },
            Qt::BlockingQueuedConnection);
        return port;
    }

private:
    QThread m_thread;
    QObject m_context;
    std::vector<std::unique_ptr<HostSim>> m_sims;
};

// The host file orvanite-exporter reads for a simulator on this machine's
// port.
inline bool writeExporterHostFile(const QString& path, quint16 port)
{
    ConnectionSettings s;
    s.HostAddress = "127.0.0.1";
    s.Port = port;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(ConfigLine(s, '5')) >= 0;
}

// Starts bin/orvanite-exporter on loopback with the host files of configDir
// and any further arguments: the port it listens on, read from its first
// line; 0, after saying why (as benchmark), when it did not start.
inline quint16 startExporter(QProcess& exporter, const QString& bin, const QString& configDir,
                             const QStringList& more, const char* benchmark)
{
    exporter.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    exporter.start(bin + QStringLiteral("/orvanite-exporter"),
                   QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                               QStringLiteral("--config-dir"), configDir} +
                       more);
    if (!exporter.waitForStarted() || !exporter.waitForReadyRead(10000)) {
        std::fprintf(stderr, "%s: orvanite-exporter did not start\n", benchmark);
        return 0;
    }
    const QByteArray line = exporter.readLine();
    return line.mid(line.indexOf(':') + 1).split(',').first().toUShort();
}
