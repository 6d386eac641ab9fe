#include "exporter/WebReloader.h"

#include "exporter/BasicAuth.h"
#include "exporter/MetricsServer.h"

#include <QFile>
#include <QSocketNotifier>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

namespace {

// The signal handler's end of a pipe the event loop reads.
int hangupPipe[2] = {-1, -1};

void onHangup(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(hangupPipe[1], &byte, 1);
    errno = saved;
}

void say(const QString& text)
{
    std::fprintf(stderr, "orvanite-exporter: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

} // namespace

WebReloader::WebReloader(const QString& path, const WebConfig& current, MetricsServer& server,
                         QObject* parent)
    : QObject(parent), m_path(path), m_server(server),
      m_files(current.tls ? current.tls->files : QStringList())
{
    m_stamps = stampsOf(m_files);
    connect(&m_server, &MetricsServer::connectionIncoming, this, &WebReloader::reloadIfChanged);
}

WebReloader::~WebReloader()
{
    if (m_hangup)
        ::signal(SIGHUP, SIG_DFL);
}

bool WebReloader::reloadOnHangup()
{
    if (hangupPipe[0] < 0 && ::pipe2(hangupPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onHangup;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::sigaction(SIGHUP, &action, nullptr) != 0)
        return false;
    m_hangup = new QSocketNotifier(hangupPipe[0], QSocketNotifier::Read, this);
    connect(m_hangup, &QSocketNotifier::activated, this, [this] {
        char bytes[64];
        while (::read(hangupPipe[0], bytes, sizeof bytes) > 0) {
        }
        reload();
    });
    return true;
}

std::vector<WebReloader::Stamp> WebReloader::stampsOf(const QStringList& files)
{
    std::vector<Stamp> stamps;
    for (const QString& file : files) {
        Stamp stamp;
        struct stat info = {};
        if (::stat(QFile::encodeName(file).constData(), &info) == 0) {
            stamp.mtimeNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
            stamp.ctimeNs = qint64(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
            stamp.size = info.st_size;
            stamp.inode = info.st_ino;
        }
        stamps.push_back(stamp);
    }
    return stamps;
}

void WebReloader::reloadIfChanged()
{
    if (m_files.isEmpty())
        return;
    std::vector<Stamp> now = stampsOf(m_files);
    if (now == m_stamps)
        return;
    // A file that does not load is reported once, not at every connection.
    m_stamps = std::move(now);
    reload();
}

bool WebReloader::reload()
{
    WebConfig fresh;
    QString error;
    if (!fresh.load(m_path, error)) {
        say(QStringLiteral("the web configuration was not reloaded, the previous one is still "
                           "served: %1")
                .arg(error));
        Q_EMIT reloaded(false);
        return false;
    }
    m_server.setUsers(BasicAuth(fresh.users));
    m_server.setTls(fresh.tls);
    m_files = fresh.tls ? fresh.tls->files : QStringList();
    m_stamps = stampsOf(m_files);
    say(QStringLiteral("reloaded the web configuration %1").arg(m_path));
    Q_EMIT reloaded(true);
    return true;
}
