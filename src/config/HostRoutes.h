#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The SSH route of each host, kept apart from the host's .hcf file (whose
// line has no room for it) in one small file that the console, orvanite-ctl
// and orvanite-exporter all read: $XDG_CONFIG_HOME/orvanite/routes. A route
// belongs to the host, found by its address and port, so a renamed or copied
// file keeps it.
//
// One route a line, "HOST:PORT DESTINATION" (an IPv6 address in brackets);
// blank lines and lines starting with "#" are skipped. A file that exists but
// cannot be read, or a line that does not parse, is an error: no host may
// then be reached directly, since its route may be the one lost.
class HostRoutes
{
public:
    struct Route
    {
        QByteArray host; // as the .hcf file gives it; names compared without case
        quint16 port = 0;
        QString destination;
    };

    // The user's routes file.
    static QString defaultPath();
    // The key a host's route is stored under: "host:port", "[v6]:port".
    static QString key(const QByteArray& host, quint16 port);

    explicit HostRoutes(const QString& path = defaultPath());

    // Reads the file; a missing file is an empty book. False with error()
    // when it cannot be read or a line does not parse.
    bool load();
    // Writes the file whole (atomically); false with error().
    bool save();
    QString error() const { return m_error; }
    QString path() const { return m_path; }

    // The route of host:port; empty when it has none.
    QString route(const QByteArray& host, quint16 port) const;
    // Sets (or, with an empty destination, removes) a route; true when that
    // changed the book.
    bool setRoute(const QByteArray& host, quint16 port, const QString& destination);
    const QList<Route>& routes() const { return m_routes; }

    // The route the programs use for host:port, read from the user's file:
    // false with why when the file cannot be read.
    static bool lookUp(const QByteArray& host, quint16 port, QString& destination, QString& why);

private:
    // A route's line in the file, and the route a line reads as (false when
    // it is not "HOST:PORT DESTINATION"): a save writes only lines that read
    // back as the same route.
    static QByteArray lineOf(const Route& r);
    static bool readRoute(QByteArrayView line, Route& r);

    QString m_path;
    QString m_error;
    QList<Route> m_routes;
};
