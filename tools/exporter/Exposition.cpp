#include "exporter/Exposition.h"

#include "exporter/BuildInfo.h"
#include "exporter/ProcessMetrics.h"

#include <QString>

#include <charconv>

namespace {

const char* const ErrorNames[CollectErrorCount] = {
    "connect", "logon_refused", "logon_failed",     "timeout",
    "closed",  "bad_reply",     "malformed_record",
};

enum class Text
{
    Utf8,   // our own text (the host label)
    Latin1, // bytes from the host
};

// The bytes a label value cannot hold as they are: backslash, quote and line
// feed, and for Latin-1 text every byte past ASCII.
struct EscapeTable
{
    bool utf8[256] = {};
    bool latin1[256] = {};
    constexpr EscapeTable()
    {
        for (const unsigned char c : {'\\', '"', '\n'})
            utf8[c] = latin1[c] = true;
        for (int c = 0x80; c < 256; ++c)
            latin1[c] = true;
    }
};
constexpr EscapeTable Escapes;

// Appends the value to out in the format's label quoting; Latin-1 bytes
// become UTF-8 on the way. Runs of bytes that need nothing are copied whole.
void appendEscaped(QByteArray& out, QByteArrayView value, Text text)
{
    const bool* special = text == Text::Latin1 ? Escapes.latin1 : Escapes.utf8;
    const char* run = value.data();
    const char* const end = run + value.size();
    for (const char* p = run; p != end; ++p) {
        const auto byte = static_cast<unsigned char>(*p);
        if (!special[byte])
            continue;
        out.append(run, p - run);
        run = p + 1;
        if (byte == '\\') {
            out.append("\\\\", 2);
        } else if (byte == '"') {
            out.append("\\\"", 2);
        } else if (byte == '\n') {
            out.append("\\n", 2);
        } else {
            const char utf8[2] = {char(0xc0 | (byte >> 6)), char(0x80 | (byte & 0x3f))};
            out.append(utf8, 2);
        }
    }
    out.append(run, end - run);
}

void appendMilliseconds(QByteArray& out, qint64 ms)
{
    const quint64 magnitude = ms < 0 ? 0 - quint64(ms) : quint64(ms);
    char digits[32];
    char* end = digits;
    if (ms < 0)
        *end++ = '-';
    end = std::to_chars(end, digits + sizeof digits, magnitude / 1000).ptr;
    const unsigned fraction = unsigned(magnitude % 1000);
    if (fraction != 0) {
        *end++ = '.';
        *end++ = char('0' + fraction / 100);
        *end++ = char('0' + fraction / 10 % 10);
        *end++ = char('0' + fraction % 10);
        while (end[-1] == '0')
            --end;
    }
    out.append(digits, end - digits);
}

// Appends the lines of one family; each sample is written by the caller
// between header() and the next family.
class Writer
{
public:
    explicit Writer(QByteArray& out) : m_out(out) {}

    void header(const char* name, const char* type, const char* help)
    {
        m_out.append("# HELP ");
        m_out.append(name);
        m_out.append(' ');
        m_out.append(help);
        m_out.append("\n# TYPE ");
        m_out.append(name);
        m_out.append(' ');
        m_out.append(type);
        m_out.append('\n');
        m_name = QByteArrayView(name);
    }

    // name{k1="v1",...} value
    Writer& begin()
    {
        m_out.append(m_name);
        m_first = true;
        return *this;
    }
    // A line that begins with text written before (the name and the first
    // labels, the same for many lines), without its closing brace.
    Writer& beginWith(QByteArrayView start)
    {
        m_out.append(start);
        m_first = false;
        return *this;
    }
    Writer& label(const char* key, QByteArrayView value, Text text = Text::Latin1)
    {
        m_out.append(m_first ? '{' : ',');
        m_first = false;
        m_out.append(QByteArrayView(key));
        m_out.append("=\"", 2);
        appendEscaped(m_out, value, text);
        m_out.append('"');
        return *this;
    }
    void value(QByteArrayView text)
    {
        close();
        m_out.append(text);
        m_out.append('\n');
    }
    template <typename Integer> void number(Integer n)
    {
        close();
        char digits[24];
        m_out.append(digits, std::to_chars(digits, digits + sizeof digits, n).ptr - digits);
        m_out.append('\n');
    }
    void real(double x)
    {
        close();
        char digits[32];
        m_out.append(digits, std::to_chars(digits, digits + sizeof digits, x).ptr - digits);
        m_out.append('\n');
    }
    void milliseconds(qint64 ms)
    {
        close();
        appendMilliseconds(m_out, ms);
        m_out.append('\n');
    }

private:
    void close()
    {
        if (!m_first)
            m_out.append('}');
        m_out.append(' ');
    }

    QByteArray& m_out;
    QByteArrayView m_name;
    bool m_first = true;
};

// An upper bound (short of escapes) of the text the hosts give: reserved at
// once, so that the buffer is never copied as it grows.
qsizetype estimateSize(const std::vector<const HostSample*>& hosts,
                       const std::vector<QByteArray>& labels, bool withProcesses)
{
    // The families' HELP and TYPE lines, and the exporter's own series.
    qsizetype size = 4096;
    for (size_t i = 0; i < hosts.size(); ++i) {
        const qsizetype host = labels[i].size() + 16; // host="...", a separator
        // up, duration, omitted, next logon, the error reasons.
        size += (6 + CollectErrorCount) * (host + 64);
        for (const ListenerSample& l : hosts[i]->listeners)
            size += 5 * (host + l.pin.size() + 64) + l.product.size() + l.program.size() +
                    l.port.size() + 64;
        if (withProcesses)
            size +=
                hosts[i]->processText.size() + qsizetype(hosts[i]->processes.size()) * (host + 96);
    }
    return size;
}

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
    appendEscaped(out, utf8, Text::Utf8);
    return out;
}

QByteArray millisecondsAsSeconds(qint64 ms)
{
    QByteArray out;
    appendMilliseconds(out, ms);
    return out;
}

namespace {

// The per-process families, and what the per-host limit left out of them.
void writeProcesses(Writer& w, const std::vector<const HostSample*>& hosts,
                    const std::vector<QByteArray>& labels)
{
    w.header("orvanite_process_cpu_seconds_total", "counter",
             "CPU time of one user process in seconds.");
    QByteArray start;
    for (size_t i = 0; i < hosts.size(); ++i) {
        // The name and the host label, escaped once for all its processes.
        start = "orvanite_process_cpu_seconds_total{host=\"";
        appendEscaped(start, labels[i], Text::Utf8);
        start += '"';
        for (const ProcessSample& p : hosts[i]->processes)
            w.beginWith(start)
                .label("listener", hosts[i]->listenerOf(p))
                .label("pin", hosts[i]->pinOf(p))
                .label("user", hosts[i]->userOf(p))
                .label("program", hosts[i]->programOf(p))
                .milliseconds(p.cpuMs);
    }
    w.header("orvanite_process_series_omitted", "gauge",
             "User processes of the host left out of orvanite_process_cpu_seconds_total by the "
             "per-host limit in the last collection.");
    for (size_t i = 0; i < hosts.size(); ++i)
        w.begin().label("host", labels[i], Text::Utf8).number(hosts[i]->processesOmitted);
}

// The exporter's own series, named as every exporter names them.
void writeSelf(Writer& w, const ProcessMetrics& p)
{
    w.header("orvanite_exporter_build_info", "gauge",
             "The exporter's version, the git revision it was built from and its Qt. Always 1.");
    w.begin()
        .label("version", BuildInfo::version(), Text::Utf8)
        .label("revision", BuildInfo::revision(), Text::Utf8)
        .label("qt", BuildInfo::qtVersion(), Text::Utf8)
        .value("1");
    if (!p.ok)
        return;
    w.header("process_cpu_seconds_total", "counter",
             "Total user and system CPU time spent in seconds.");
    w.begin().real(p.cpuSeconds);
    w.header("process_max_fds", "gauge", "Maximum number of open file descriptors.");
    w.begin().real(p.maxFds);
    w.header("process_open_fds", "gauge", "Number of open file descriptors.");
    w.begin().number(p.openFds);
    w.header("process_resident_memory_bytes", "gauge", "Resident memory size in bytes.");
    w.begin().number(p.residentBytes);
    w.header("process_start_time_seconds", "gauge",
             "Start time of the process since unix epoch in seconds.");
    w.begin().real(p.startTimeSeconds);
    w.header("process_virtual_memory_bytes", "gauge", "Virtual memory size in bytes.");
    w.begin().number(p.virtualBytes);
}

} // namespace

QByteArray write(const std::vector<const HostSample*>& hosts, bool withProcesses,
                 const ProcessMetrics* self)
{
    std::vector<QByteArray> labels;
    labels.reserve(hosts.size());
    for (const HostSample* host : hosts)
        labels.push_back(host->host.toUtf8());
    QByteArray out;
    out.reserve(estimateSize(hosts, labels, withProcesses));
    Writer w(out);

    w.header("orvanite_up", "gauge",
             "1 when the exporter is logged on to the host and its last list was read, else 0.");
    for (size_t i = 0; i < hosts.size(); ++i) {
        // A host reached through an SSH route names it in a label of its own.
        Writer& line = w.begin().label("host", labels[i], Text::Utf8);
        if (!hosts[i]->via.isEmpty())
            line.label("via", hosts[i]->via.toUtf8());
        line.value(hosts[i]->up ? "1" : "0");
    }

    w.header("orvanite_listener_info", "gauge",
             "A listener of the host's server job: its product, program and port. Always 1.");
    for (size_t i = 0; i < hosts.size(); ++i)
        for (const ListenerSample& l : hosts[i]->listeners)
            w.begin()
                .label("host", labels[i], Text::Utf8)
                .label("pin", l.pin)
                .label("product", l.product)
                .label("program", l.program)
                .label("port", l.port)
                .value("1");

    w.header("orvanite_listener_max_users", "gauge",
             "The listener's user limit; 0 when it is unlimited.");
    for (size_t i = 0; i < hosts.size(); ++i)
        for (const ListenerSample& l : hosts[i]->listeners)
            w.begin().label("host", labels[i], Text::Utf8).label("pin", l.pin).number(l.maxUsers);

    w.header("orvanite_listener_processes", "gauge", "User processes of the listener.");
    for (size_t i = 0; i < hosts.size(); ++i)
        for (const ListenerSample& l : hosts[i]->listeners)
            w.begin().label("host", labels[i], Text::Utf8).label("pin", l.pin).number(l.processes);

    w.header("orvanite_listener_cpu_seconds", "gauge",
             "CPU time of the listener's user processes, summed, in seconds.");
    for (size_t i = 0; i < hosts.size(); ++i)
        for (const ListenerSample& l : hosts[i]->listeners)
            w.begin()
                .label("host", labels[i], Text::Utf8)
                .label("pin", l.pin)
                .milliseconds(l.cpuMs);

    if (withProcesses)
        writeProcesses(w, hosts, labels);

    w.header("orvanite_collect_duration_seconds", "gauge",
             "How long the last collection from the host took, in seconds.");
    for (size_t i = 0; i < hosts.size(); ++i)
        w.begin()
            .label("host", labels[i], Text::Utf8)
            .value(QByteArray::number(hosts[i]->durationSeconds, 'f', 6));

    w.header("orvanite_collect_errors_total", "counter",
             "Collections from the host that failed, by reason.");
    for (size_t i = 0; i < hosts.size(); ++i)
        for (int r = 0; r < CollectErrorCount; ++r)
            w.begin()
                .label("host", labels[i], Text::Utf8)
                .label("reason", ErrorNames[r], Text::Utf8)
                .number(hosts[i]->errors[size_t(r)]);

    w.header("orvanite_next_logon_timestamp_seconds", "gauge",
             "When the exporter logs on to a host that refused its logon again, in seconds "
             "since the epoch; only for hosts it is waiting for.");
    for (size_t i = 0; i < hosts.size(); ++i)
        if (hosts[i]->nextLogonMs > 0)
            w.begin().label("host", labels[i], Text::Utf8).milliseconds(hosts[i]->nextLogonMs);

    if (self)
        writeSelf(w, *self);
    return out;
}

} // namespace Exposition
