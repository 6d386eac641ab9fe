#pragma once

// What the exporter's tests share: a simulator as a host to watch, and
// certificates for the TLS tests.
#include "exporter/HostTarget.h"
#include "hostsim/HostSim.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

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
    using namespace Qt::StringLiterals;
    const QString openssl = QStandardPaths::findExecutable(u"openssl"_s);
    if (openssl.isEmpty())
        return u"openssl is not installed (scripts/setup.sh installs it)"_s;
    QFile ext(QDir(folder).filePath(u"server.ext"_s));
    if (!ext.open(QIODevice::WriteOnly))
        return ext.errorString();
    ext.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n");
    ext.close();
    const QString newKey = u"-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"_s;
    const QString signedByCa = u" -CA ca.crt -CAkey ca.key -CAcreateserial -days 2"_s;
    const QString steps[] = {
        u"req -x509 "_s + newKey +
            u" -keyout ca.key -out ca.crt -days 2 -subj /CN=exporter-test-ca"_s,
        u"req -x509 "_s + newKey +
            u" -keyout other-ca.key -out other-ca.crt -days 2 -subj /CN=some-other-ca"_s,
        u"req "_s + newKey + u" -keyout server.key -out server.csr -subj /CN=127.0.0.1"_s,
        u"x509 -req -in server.csr -out server.crt -extfile server.ext"_s + signedByCa,
        u"req "_s + newKey + u" -keyout client.key -out client.csr -subj /CN=client"_s,
        u"x509 -req -in client.csr -out client.crt"_s + signedByCa};
    for (const QString& step : steps) {
        QProcess p;
        p.setWorkingDirectory(folder);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(openssl, step.split(u' '));
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit ||
            p.exitCode() != 0)
            return QString::fromLocal8Bit(p.readAll()) + step;
    }
    return QString();
}

} // namespace TestCertificates
