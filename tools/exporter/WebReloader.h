#pragma once

#include "exporter/WebConfig.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <vector>

class MetricsServer;
class QSocketNotifier;

// Keeps a running exporter's web configuration current. SIGHUP reads the
// file again (users and TLS); a TLS file (certificate, key, client CAs)
// changed on disk reads it again before the next connection is accepted, so
// that connection gets the new certificate. A file that does not load leaves
// the one serving in place and says why on stderr, once for each change.
class WebReloader : public QObject
{
    Q_OBJECT

public:
    // path: the file current was read from; server: where it applies.
    WebReloader(const QString& path, const WebConfig& current, MetricsServer& server,
                QObject* parent = nullptr);
    ~WebReloader() override;

    // SIGHUP reloads from now on instead of ending the program; false when
    // the signal cannot be watched.
    bool reloadOnHangup();

    // Reads the file and serves what it says; false, with the old one kept
    // and the reason on stderr, when it does not load.
    bool reload();
    // reload() when one of the TLS files changed since it was last read.
    void reloadIfChanged();

Q_SIGNALS:
    void reloaded(bool ok);

private:
    struct Stamp
    {
        qint64 mtimeNs = -1;
        qint64 ctimeNs = -1;
        qint64 size = -1;
        quint64 inode = 0;
        bool operator==(const Stamp&) const = default;
    };
    static std::vector<Stamp> stampsOf(const QStringList& files);

    QString m_path;
    MetricsServer& m_server;
    QStringList m_files;         // the TLS files of the configuration serving
    std::vector<Stamp> m_stamps; // theirs when last read
    QSocketNotifier* m_hangup = nullptr;
};
