#pragma once

// What the exporter's tests share: a simulator as a host to watch, and
// certificates for the TLS tests.
#include "exporter/HostTarget.h"
#include "hostsim/HostSim.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

inline HostTarget targetFor(const HostSim& sim)
{
    HostTarget target;
    target.settings.HostAddress = "127.0.0.1";
    target.settings.Port = sim.serverPort();
    target.label = QStringLiteral("127.0.0.1:%1").arg(sim.serverPort());
    return target;
}

// Made by the openssl command in a folder of the test's own: a CA, a server
// certificate and a client certificate it signs (the server's for 127.0.0.1
// and localhost), and a second CA, self-signed, that the server does not know.
namespace TestCertificates {

// Empty when all went well, else what openssl said.
inline QString make(const QString& folder)
{
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (openssl.isEmpty())
        return QStringLiteral("openssl is not installed (scripts/setup.sh installs it)");
    QFile ext(QDir(folder).filePath(QStringLiteral("server.ext")));
    if (!ext.open(QIODevice::WriteOnly))
        return ext.errorString();
    ext.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n");
    ext.close();
    const auto run = [&](const QStringList& arguments) {
        QProcess p;
        p.setWorkingDirectory(folder);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(openssl, arguments);
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit ||
            p.exitCode() != 0)
            return QString::fromLocal8Bit(p.readAll()) + arguments.join(u' ');
        return QString();
    };
    const char* const steps[] = {
        "req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key "
        "-out ca.crt -days 2 -subj /CN=exporter-test-ca",
        "req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout other-ca.key "
        "-out other-ca.crt -days 2 -subj /CN=some-other-ca",
        "req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout server.key "
        "-out server.csr -subj /CN=127.0.0.1",
        "x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out server.crt "
        "-days 2 -extfile server.ext",
        "req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout client.key "
        "-out client.csr -subj /CN=client",
        "x509 -req -in client.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out client.crt "
        "-days 2",
    };
    for (const char* step : steps) {
        const QString said = run(QString::fromLatin1(step).split(u' '));
        if (!said.isEmpty())
            return said;
    }
    return QString();
}

} // namespace TestCertificates
