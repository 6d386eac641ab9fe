#pragma once

#include "hostsim/HostSim.h"

#include <QByteArray>
#include <QList>
#include <QRandomGenerator>
#include <QString>

// The people and listeners of the simulated server job: the demo population
// that lives and changes over time, the large generated ones for benchmarks,
// and exact ones read from a scenario file.
//
// Scenario file (JSON, UTF-8):
//
//   {
//     "listeners": [
//       { "pin": "1042", "port": "30001", "program": "PCLSRVR", "product": "2",
//         "userLimit": "0", "tail": "|X" }
//     ],
//     "processes": [
//       { "listener": "1042", "main": "1042", "pin": "2001", "program": "PCLXFER",
//         "user": "JSMITH", "cpuMs": 2500, "priority": 3 },
//       { "listener": "1042", "raw": "P0123|456|PROG|USER|2500|5" }
//     ]
//   }
//
// Listeners need pin, port, program and product; userLimit defaults to "0",
// tail (sent verbatim after the user limit) to nothing. Processes need
// listener (the PIN of their listener) and either raw (the record sent
// verbatim) or pin, program, user and cpuMs; main is the main PIN (absent or
// empty: the record says there is none) and priority the queue digit (absent
// or 0: no priority field). Text values may be given as JSON numbers too.
// Every string becomes bytes one character each, U+0000 to U+00FF, so that
// "\u00e9" is the byte 0xE9 and "\u0000" a NUL; anything above is an error,
// as is an unknown key (a misspelt key would otherwise go unnoticed).
class SimPopulation
{
public:
    SimPopulation();

    // `count` listeners over the seven products with their usual ports and
    // programs (ports past the seventh count on from 30100), PINs from firstPin.
    static QList<SimListener> standardListeners(int count, qint64 firstPin);

    void loadDemo(QList<SimListener>& listeners, QList<SimProcess>& processes);
    // One step of the demo's life: CPU times grow, users leave and arrive.
    void tickDemo(const QList<SimListener>& listeners, QList<SimProcess>& processes);
    // Replaces the processes by n spread evenly over the listeners.
    void populate(const QList<SimListener>& listeners, QList<SimProcess>& processes, int n);
    // Replaces both lists only when the whole file is valid.
    static bool loadScenario(const QString& path, QList<SimListener>& listeners,
                             QList<SimProcess>& processes, QString* error);
    // A PIN that no listener or process uses.
    QByteArray freshPin(const QList<SimListener>& listeners, const QList<SimProcess>& processes);

private:
    SimProcess demoProcess(const SimListener& listener, const QByteArray& pin);

    QRandomGenerator m_random;
    QList<QByteArray> m_users;
    qint64 m_nextPin = 1;
};
