#pragma once

#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <cstdio>

// Starts orvanite-hostsim (program) with arguments in sim and returns the
// port it listens on, read from its first line; 0, after saying why on
// stderr, when it did not start. The simulator's log is dropped unless the
// caller has set sim's channels before.
inline quint16 startHostsim(QProcess& sim, const QString& program, const QStringList& arguments,
                            int startMs = 60000)
{
    if (sim.processChannelMode() != QProcess::MergedChannels)
        sim.setStandardErrorFile(QProcess::nullDevice());
    sim.start(program, QStringList{QStringLiteral("--port"), QStringLiteral("0")} + arguments);
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(startMs)) {
        std::fprintf(stderr, "orvanite-hostsim did not start\n");
        return 0;
    }
    const QString line = QString::fromLatin1(sim.readLine());
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("listening on [^:]+:(\\d+)")).match(line);
    if (!m.hasMatch()) {
        std::fprintf(stderr, "orvanite-hostsim: unexpected first line: %s\n", qPrintable(line));
        return 0;
    }
    return quint16(m.captured(1).toUInt());
}
