#include "hostsim/SimPopulation.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>

namespace {

struct Product
{
    const char* number;
    const char* port;
    const char* program;     // the listener's program
    const char* userProgram; // what its users' processes run
};

// The products a listener can serve, with the port and program they usually get.
constexpr Product Products[] = {
    {"2", "30001", "PCLSRVR", "PCLXFER"},    {"3", "30003", "DDPSRVR", "DDPCLNT"},
    {"4", "30006", "TABSRVR", "TABSESS"},    {"5", "30005", "QRYSRVR", "QRYSESS"},
    {"8", "30002", "CNDSRVR", "CNDSESS"},    {"16", "30004", "VGDSRVR", "VGDSESS"},
    {"18", "30018", "BASESRVR", "BASESESS"},
};

constexpr const char* UserNames[] = {
    "JSMITH",    "MGARCIA",  "AKOWALSKI", "LNGUYEN", "PMUELLER", "SROSSI",  "KTANAKA", "DOBRIEN",
    "EJOHANSEN", "FDUBOIS",  "HSCHMIDT",  "ILARSEN", "RPATEL",   "CWONG",   "BMARTIN", "TANDERSON",
    "OPETROV",   "NSILVA",   "GKIM",      "VNOVAK",  "WBROWN",   "YCOHEN",  "ZHUANG",  "ALOPEZ",
    "MFISCHER",  "JHANSEN",  "KMURPHY",   "RSANTOS", "SBERG",    "DKOVAC",  "EWEBER",  "LMORENO",
    "PHOLM",     "CRICHTER", "TNAKAMURA", "OKELLY",  "AVOGEL",   "BCLARKE", "MROMERO", "HJENSEN",
};

const Product* productOf(const SimListener& listener)
{
    for (const Product& p : Products)
        if (listener.Product == p.number)
            return &p;
    return nullptr;
}

QByteArray userProgramOf(const SimListener& listener)
{
    const Product* p = productOf(listener);
    return p ? QByteArray(p->userProgram) : listener.Program;
}

// Listeners whose users are reported with a dispatching queue.
bool reportsPriority(const SimListener& listener)
{
    return listener.Product == "4" || listener.Product == "5" || listener.Product == "8" ||
           listener.Product == "18";
}

qint64 pinNumber(const QByteArray& pin)
{
    bool ok = false;
    const qint64 n = pin.toLongLong(&ok);
    return ok ? n : 0;
}

} // namespace

SimPopulation::SimPopulation() : m_random(20240517u)
{
    for (const char* name : UserNames)
        m_users.append(QByteArray(name));
}

QList<SimListener> SimPopulation::standardListeners(int count, qint64 firstPin)
{
    QList<SimListener> listeners;
    constexpr int kinds = int(std::size(Products));
    for (int i = 0; i < count; ++i) {
        const Product& p = Products[i % kinds];
        listeners.append({QByteArray::number(firstPin + i),
                          i < kinds ? QByteArray(p.port) : QByteArray::number(30100 + i - kinds),
                          p.program,
                          p.number,
                          "0",
                          {}});
    }
    return listeners;
}

QByteArray SimPopulation::freshPin(const QList<SimListener>& listeners,
                                   const QList<SimProcess>& processes)
{
    // The lists are public and may have been changed behind our back, so the
    // counter is checked against them each time.
    qint64 highest = 0;
    for (const SimListener& l : listeners)
        highest = std::max(highest, pinNumber(l.Pin));
    for (const SimProcess& p : processes)
        highest = std::max(highest, pinNumber(p.Pin));
    m_nextPin = std::max(m_nextPin, highest + 1);
    return QByteArray::number(m_nextPin++);
}

SimProcess SimPopulation::demoProcess(const SimListener& listener, const QByteArray& pin)
{
    SimProcess p;
    p.ListenerPin = listener.Pin;
    p.MainPin = listener.Pin;
    p.Pin = pin;
    p.Program = userProgramOf(listener);
    p.User = m_users[m_random.bounded(int(m_users.size()))];
    p.CpuMs = m_random.bounded(200, 900000);
    if (reportsPriority(listener) && m_random.bounded(10) < 8)
        p.Priority = 2 + m_random.bounded(3); // CS, DS or ES
    return p;
}

void SimPopulation::loadDemo(QList<SimListener>& listeners, QList<SimProcess>& processes)
{
    listeners = {
        {"1042", "30001", "PCLSRVR", "2", "0", {}},   {"1057", "30003", "DDPSRVR", "3", "25", {}},
        {"1063", "30006", "TABSRVR", "4", "0", {}},   {"1071", "30005", "QRYSRVR", "5", "50", {}},
        {"1088", "30002", "CNDSRVR", "8", "0", {}},   {"1096", "30004", "VGDSRVR", "16", "10", {}},
        {"1104", "30018", "BASESRVR", "18", "0", {}},
    };
    processes.clear();
    m_nextPin = 2001;
    const int perListener[] = {5, 3, 7, 4, 6, 3, 4};
    for (int i = 0; i < int(listeners.size()); ++i)
        for (int k = 0; k < perListener[i]; ++k)
            processes.append(demoProcess(listeners[i], freshPin(listeners, processes)));
    // Housekeeping processes of the job itself carry no main PIN.
    SimProcess monitor;
    monitor.ListenerPin = "1088";
    monitor.Pin = freshPin(listeners, processes);
    monitor.Program = "CNDMON";
    monitor.User = "OPERATOR";
    monitor.CpuMs = 1250400;
    monitor.Priority = 1; // BS
    processes.append(monitor);
    SimProcess spooler = monitor;
    spooler.ListenerPin = "1042";
    spooler.Pin = freshPin(listeners, processes);
    spooler.Program = "PCLSPOOL";
    spooler.CpuMs = 38120;
    spooler.Priority = 0;
    processes.append(spooler);
}

void SimPopulation::tickDemo(const QList<SimListener>& listeners, QList<SimProcess>& processes)
{
    for (SimProcess& p : processes)
        if (p.RawRecord.isEmpty() && m_random.bounded(10) < 7)
            p.CpuMs += m_random.bounded(1500);
    // Now and then a user leaves (never the housekeeping processes) ...
    if (processes.size() > 20 && m_random.bounded(3) == 0) {
        const int at = m_random.bounded(int(processes.size()));
        if (!processes[at].MainPin.isEmpty())
            processes.removeAt(at);
    }
    // ... and another logs on, within the listener's user limit.
    if (!listeners.isEmpty() && processes.size() < 45 && m_random.bounded(3) == 0) {
        const SimListener& l = listeners[m_random.bounded(int(listeners.size()))];
        const qsizetype users =
            std::count_if(processes.cbegin(), processes.cend(),
                          [&](const SimProcess& p) { return p.ListenerPin == l.Pin; });
        const qint64 limit = pinNumber(l.UserLimit);
        if (limit == 0 || users < limit) {
            SimProcess p = demoProcess(l, freshPin(listeners, processes));
            p.CpuMs = m_random.bounded(50, 2000); // just logged on
            processes.append(p);
        }
    }
}

void SimPopulation::populate(const QList<SimListener>& listeners, QList<SimProcess>& processes,
                             int n)
{
    processes.clear();
    if (listeners.isEmpty() || n <= 0)
        return;
    processes.reserve(n);
    qint64 pin = 0;
    for (const SimListener& l : listeners)
        pin = std::max(pin, pinNumber(l.Pin));
    pin = std::max<qint64>(pin + 1, 100000);
    // Byte arrays that many records hold alike are shared, not copied: a
    // record then costs one allocation, its own PIN.
    QList<QByteArray> programs;
    for (const SimListener& l : listeners)
        programs.append(userProgramOf(l));
    const int count = int(listeners.size());
    quint32 cpu = 12345;
    for (int li = 0; li < count; ++li) {
        const SimListener& l = listeners[li];
        const int share = n / count + (li < n % count ? 1 : 0);
        for (int k = 0; k < share; ++k, ++pin) {
            SimProcess p;
            p.ListenerPin = l.Pin;
            p.MainPin = (pin % 50 == 0) ? QByteArray() : l.Pin;
            p.Pin = QByteArray::number(pin);
            p.Program = programs[li];
            p.User = m_users[pin % m_users.size()];
            cpu = cpu * 1664525u + 1013904223u; // cheap and repeatable
            p.CpuMs = cpu % 3600000u;
            p.Priority = (pin % 10 == 0) ? 0 : int(2 + pin % 3);
            processes.append(std::move(p));
        }
    }
}

namespace {

// Reads one JSON value as bytes: strings one byte per character, numbers as
// their integer digits. False with a reason on anything else.
bool toBytes(const QJsonValue& value, QByteArray* out, QString* why)
{
    if (value.isDouble()) {
        const double d = value.toDouble();
        if (d != double(qint64(d))) {
            *why = QStringLiteral("%1 is not a whole number").arg(d);
            return false;
        }
        *out = QByteArray::number(qint64(d));
        return true;
    }
    if (!value.isString()) {
        *why = QStringLiteral("expected a string or a number");
        return false;
    }
    const QString text = value.toString();
    out->clear();
    out->reserve(text.size());
    for (QChar c : text) {
        if (c.unicode() > 0xFF) {
            *why = QStringLiteral("character U+%1 is not a single byte")
                       .arg(c.unicode(), 4, 16, QLatin1Char('0'));
            return false;
        }
        out->append(char(c.unicode()));
    }
    return true;
}

// Takes the listed keys of one object; every other key is an error.
bool takeFields(const QJsonObject& object, const QStringList& required, const QStringList& optional,
                QHash<QString, QByteArray>* fields, QString* why)
{
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!required.contains(it.key()) && !optional.contains(it.key())) {
            *why = QStringLiteral("unknown key \"%1\"").arg(it.key());
            return false;
        }
        QByteArray bytes;
        QString reason;
        if (!toBytes(it.value(), &bytes, &reason)) {
            *why = QStringLiteral("\"%1\": %2").arg(it.key(), reason);
            return false;
        }
        fields->insert(it.key(), bytes);
    }
    for (const QString& key : required) {
        if (!fields->contains(key)) {
            *why = QStringLiteral("\"%1\" is missing").arg(key);
            return false;
        }
    }
    return true;
}

// One listener of a scenario, appended to listeners; false with why when
// it is not one.
bool readListener(const QJsonValue& value, QList<SimListener>& listeners, QString* why)
{
    if (!value.isObject()) {
        *why = QStringLiteral("not an object");
        return false;
    }
    QHash<QString, QByteArray> f;
    if (!takeFields(value.toObject(),
                    {QStringLiteral("pin"), QStringLiteral("port"), QStringLiteral("program"),
                     QStringLiteral("product")},
                    {QStringLiteral("userLimit"), QStringLiteral("tail")}, &f, why))
        return false;
    listeners.append({f.value(QStringLiteral("pin")), f.value(QStringLiteral("port")),
                      f.value(QStringLiteral("program")), f.value(QStringLiteral("product")),
                      f.value(QStringLiteral("userLimit"), "0"), f.value(QStringLiteral("tail"))});
    return true;
}

// One process of a scenario: its fields, or the raw record sent as it
// stands; appended to processes, or false with why.
bool readProcess(const QJsonValue& value, QList<SimProcess>& processes, QString* why)
{
    auto fail = [why](const QString& text) {
        *why = text;
        return false;
    };
    if (!value.isObject())
        return fail(QStringLiteral("not an object"));
    const QJsonObject object = value.toObject();
    const bool raw = object.contains(u"raw");
    QHash<QString, QByteArray> f;
    const QStringList required =
        raw ? QStringList{QStringLiteral("listener"), QStringLiteral("raw")}
            : QStringList{QStringLiteral("listener"), QStringLiteral("pin"),
                          QStringLiteral("program"), QStringLiteral("user"),
                          QStringLiteral("cpuMs")};
    const QStringList optional = {QStringLiteral("main"), QStringLiteral("priority"),
                                  QStringLiteral("pin"),  QStringLiteral("program"),
                                  QStringLiteral("user"), QStringLiteral("cpuMs")};
    if (!takeFields(object, required, optional, &f, why))
        return false;
    SimProcess p;
    p.ListenerPin = f.value(QStringLiteral("listener"));
    p.MainPin = f.value(QStringLiteral("main"));
    p.Pin = f.value(QStringLiteral("pin"));
    p.Program = f.value(QStringLiteral("program"));
    p.User = f.value(QStringLiteral("user"));
    p.RawRecord = f.value(QStringLiteral("raw"));
    bool ok = true;
    if (f.contains(QStringLiteral("cpuMs"))) {
        p.CpuMs = f.value(QStringLiteral("cpuMs")).toLongLong(&ok);
        if (!ok || p.CpuMs < 0)
            return fail(QStringLiteral("\"cpuMs\" must be a whole number from 0"));
    }
    if (f.contains(QStringLiteral("priority"))) {
        p.Priority = f.value(QStringLiteral("priority")).toInt(&ok);
        if (!ok || p.Priority < 0 || p.Priority > 9)
            return fail(QStringLiteral("\"priority\" must be a digit 0 to 9"));
    }
    if (raw && p.RawRecord.isEmpty())
        return fail(QStringLiteral("\"raw\" is empty"));
    processes.append(p);
    return true;
}

} // namespace

bool SimPopulation::loadScenario(const QString& path, QList<SimListener>& listeners,
                                 QList<SimProcess>& processes, QString* error)
{
    auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, why);
        return false;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    const QByteArray text = file.readAll();
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        const int line = int(text.left(parseError.offset).count('\n')) + 1;
        return fail(QStringLiteral("line %1: %2").arg(line).arg(parseError.errorString()));
    }
    if (!document.isObject())
        return fail(QStringLiteral("the file must hold one JSON object"));
    const QJsonObject root = document.object();
    for (const QString& key : root.keys())
        if (key != u"listeners" && key != u"processes")
            return fail(QStringLiteral("unknown key \"%1\"").arg(key));
    if (!root.value(u"listeners").isArray() && root.contains(u"listeners"))
        return fail(QStringLiteral("\"listeners\" must be an array"));
    if (!root.value(u"processes").isArray() && root.contains(u"processes"))
        return fail(QStringLiteral("\"processes\" must be an array"));

    QList<SimListener> newListeners;
    const QJsonArray listenerArray = root.value(u"listeners").toArray();
    for (qsizetype i = 0; i < listenerArray.size(); ++i) {
        QString why;
        if (!readListener(listenerArray[i], newListeners, &why))
            return fail(QStringLiteral("listener %1: ").arg(i + 1) + why);
    }
    QList<SimProcess> newProcesses;
    const QJsonArray processArray = root.value(u"processes").toArray();
    for (qsizetype i = 0; i < processArray.size(); ++i) {
        QString why;
        if (!readProcess(processArray[i], newProcesses, &why))
            return fail(QStringLiteral("process %1: ").arg(i + 1) + why);
    }
    listeners = std::move(newListeners);
    processes = std::move(newProcesses);
    return true;
}
