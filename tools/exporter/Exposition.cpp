#include "exporter/Exposition.h"

#include <QString>

namespace {

const char* const ErrorNames[CollectErrorCount] = {
    "connect", "logon_refused", "logon_failed",     "timeout",
    "closed",  "bad_reply",     "malformed_record",
};

QByteArray latin1(const QByteArray& bytes)
{
    // Host bytes are single-byte text; the format is UTF-8.
    for (const char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80)
            return QString::fromLatin1(bytes).toUtf8();
    return bytes;
}

// Appends the lines of one family; each sample is written by the caller
// between header() and the next family.
class Writer
{
public:
    explicit Writer(QByteArray& out) : m_out(out) {}

    void header(const char* name, const char* type, const char* help)
    {
        m_out += "# HELP ";
        m_out += name;
        m_out += ' ';
        m_out += help;
        m_out += "\n# TYPE ";
        m_out += name;
        m_out += ' ';
        m_out += type;
        m_out += '\n';
        m_name = name;
    }

    // name{k1="v1",...} value
    Writer& begin()
    {
        m_out += m_name;
        m_first = true;
        return *this;
    }
    Writer& label(const char* key, const QByteArray& utf8Value)
    {
        m_out += m_first ? '{' : ',';
        m_first = false;
        m_out += key;
        m_out += "=\"";
        m_out += Exposition::escapeLabel(utf8Value);
        m_out += '"';
        return *this;
    }
    void value(const QByteArray& text)
    {
        if (!m_first)
            m_out += '}';
        m_out += ' ';
        m_out += text;
        m_out += '\n';
    }

private:
    QByteArray& m_out;
    const char* m_name = "";
    bool m_first = true;
};

} // namespace

const char* collectErrorName(CollectError error)
{
    return ErrorNames[static_cast<int>(error)];
}

namespace Exposition {

QByteArray escapeLabel(QByteArrayView utf8)
{
    QByteArray out;
    out.reserve(utf8.size());
    for (const char c : utf8) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

QByteArray millisecondsAsSeconds(qint64 ms)
{
    QByteArray out;
    quint64 magnitude = ms < 0 ? 0 - quint64(ms) : quint64(ms);
    if (ms < 0)
        out += '-';
    out += QByteArray::number(magnitude / 1000);
    unsigned fraction = unsigned(magnitude % 1000);
    if (fraction != 0) {
        char digits[4] = {char('0' + fraction / 100), char('0' + fraction / 10 % 10),
                          char('0' + fraction % 10), 0};
        int length = 3;
        while (digits[length - 1] == '0')
            --length;
        out += '.';
        out.append(digits, length);
    }
    return out;
}

namespace {

// The per-process families, and what the per-host limit left out of them.
void writeProcesses(Writer& w, const std::vector<const HostSample*>& hosts,
                    const std::vector<QByteArray>& labels)
{
    w.header("orvanite_process_cpu_seconds", "gauge", "CPU time of one user process in seconds.");
    for (size_t i = 0; i < hosts.size(); ++i)
        for (const ProcessSample& p : hosts[i]->processes)
            w.begin()
                .label("host", labels[i])
                .label("listener", latin1(p.listener))
                .label("pin", latin1(p.pin))
                .label("user", latin1(p.user))
                .label("program", latin1(p.program))
                .value(millisecondsAsSeconds(p.cpuMs));
    w.header("orvanite_process_series_omitted", "gauge",
             "User processes of the host left out of orvanite_process_cpu_seconds by the "
             "per-host limit in the last collection.");
    for (size_t i = 0; i < hosts.size(); ++i)
        w.begin().label("host", labels[i]).value(QByteArray::number(hosts[i]->processesOmitted));
}

} // namespace

QByteArray write(const std::vector<const HostSample*>& hosts, bool withProcesses)
{
    QByteArray out;
    Writer w(out);
    std::vector<QByteArray> labels;
    labels.reserve(hosts.size());
    for (const HostSample* host : hosts)
        labels.push_back(host->host.toUtf8());

    w.header("orvanite_up", "gauge",
             "1 when the exporter is logged on to the host and its last list was read, else 0.");
    for (size_t i = 0; i < hosts.size(); ++i) {
        // A host reached through an SSH route names it in a label of its own.
        Writer& line = w.begin().label("host", labels[i]);
        if (!hosts[i]->via.isEmpty())
            line.label("via", hosts[i]->via.toUtf8());
        line.value(hosts[i]->up ? "1" : "0");
    }

    w.header("orvanite_listener_info", "gauge",
             "A listener of the host's server job: its product, program and port. Always 1.");
    for (size_t i = 0; i < hosts.size(); ++i)
        for (const ListenerSample& l : hosts[i]->listeners)
            w.begin()
                .label("host", labels[i])
                .label("pin", latin1(l.pin))
                .label("product", latin1(l.product))
                .label("program", latin1(l.program))
                .label("port", latin1(l.port))
                .value("1");

    w.header("orvanite_listener_max_users", "gauge",
             "The listener's user limit; 0 when it is unlimited.");
    for (size_t i = 0; i < hosts.size(); ++i)
        for (const ListenerSample& l : hosts[i]->listeners)
            w.begin()
                .label("host", labels[i])
                .label("pin", latin1(l.pin))
                .value(QByteArray::number(l.maxUsers));

    w.header("orvanite_listener_processes", "gauge", "User processes of the listener.");
    for (size_t i = 0; i < hosts.size(); ++i)
        for (const ListenerSample& l : hosts[i]->listeners)
            w.begin()
                .label("host", labels[i])
                .label("pin", latin1(l.pin))
                .value(QByteArray::number(l.processes));

    w.header("orvanite_listener_cpu_seconds", "gauge",
             "CPU time of the listener's user processes, summed, in seconds.");
    for (size_t i = 0; i < hosts.size(); ++i)
        for (const ListenerSample& l : hosts[i]->listeners)
            w.begin()
                .label("host", labels[i])
                .label("pin", latin1(l.pin))
                .value(millisecondsAsSeconds(l.cpuMs));

    if (withProcesses)
        writeProcesses(w, hosts, labels);

    w.header("orvanite_collect_duration_seconds", "gauge",
             "How long the last collection from the host took, in seconds.");
    for (size_t i = 0; i < hosts.size(); ++i)
        w.begin()
            .label("host", labels[i])
            .value(QByteArray::number(hosts[i]->durationSeconds, 'f', 6));

    w.header("orvanite_collect_errors_total", "counter",
             "Collections from the host that failed, by reason.");
    for (size_t i = 0; i < hosts.size(); ++i)
        for (int r = 0; r < CollectErrorCount; ++r)
            w.begin()
                .label("host", labels[i])
                .label("reason", ErrorNames[r])
                .value(QByteArray::number(hosts[i]->errors[size_t(r)]));
    return out;
}

} // namespace Exposition
