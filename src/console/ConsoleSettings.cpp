#include "console/ConsoleSettings.h"

#include <QSettings>
#include <QUrl>

namespace {

// A host's key as one settings group: its path's separators must not open
// groups of their own.
QString hostGroup(const QString& host)
{
    return QStringLiteral("hosts/") + QString::fromLatin1(QUrl::toPercentEncoding(host));
}

} // namespace

ConsoleSettings::ConsoleSettings(const QString& file)
    : m_store(file.isEmpty()
                  ? std::make_unique<QSettings>(QSettings::UserScope, QStringLiteral("orvanite"),
                                                QStringLiteral("orvanite-console"))
                  : std::make_unique<QSettings>(file, QSettings::IniFormat))
{
}

ConsoleSettings::~ConsoleSettings() = default;

QStringList ConsoleSettings::pathRouteFiles() const
{
    QStringList paths;
    m_store->beginGroup(QStringLiteral("hosts"));
    const QStringList groups = m_store->childGroups();
    for (const QString& g : groups)
        if (m_store->contains(g + QStringLiteral("/sshTunnel")))
            paths << QUrl::fromPercentEncoding(g.toLatin1());
    m_store->endGroup();
    return paths;
}

QString ConsoleSettings::sshDestination(const QString& configPath) const
{
    return m_store->value(hostGroup(configPath) + QStringLiteral("/sshTunnel")).toString();
}

void ConsoleSettings::setSshDestination(const QString& configPath, const QString& destination)
{
    const QString key = hostGroup(configPath) + QStringLiteral("/sshTunnel");
    if (destination.isEmpty())
        m_store->remove(key);
    else
        m_store->setValue(key, destination);
}

bool ConsoleSettings::keyringPasswords() const
{
    return m_store->value(QStringLiteral("preferences/keyringPasswords"), false).toBool();
}

void ConsoleSettings::setKeyringPasswords(bool on)
{
    m_store->setValue(QStringLiteral("preferences/keyringPasswords"), on);
}

QByteArray ConsoleSettings::geometry() const
{
    return m_store->value(QStringLiteral("window/geometry")).toByteArray();
}

void ConsoleSettings::setGeometry(const QByteArray& geometry)
{
    m_store->setValue(QStringLiteral("window/geometry"), geometry);
}

int ConsoleSettings::listenerBoxHeight() const
{
    return m_store->value(QStringLiteral("window/listenerBoxHeight"), 0).toInt();
}

void ConsoleSettings::setListenerBoxHeight(int height)
{
    m_store->setValue(QStringLiteral("window/listenerBoxHeight"), height);
}

ConsoleSettings::Table ConsoleSettings::table(const QString& name) const
{
    Table t;
    m_store->beginGroup(QStringLiteral("tables/") + name);
    for (const QVariant& w : m_store->value(QStringLiteral("widths")).toList())
        t.widths.append(w.toInt());
    t.sortColumn = m_store->value(QStringLiteral("sortColumn"), -1).toInt();
    t.descending = m_store->value(QStringLiteral("descending"), false).toBool();
    m_store->endGroup();
    return t;
}

void ConsoleSettings::setTable(const QString& name, const Table& table)
{
    m_store->beginGroup(QStringLiteral("tables/") + name);
    QVariantList widths;
    for (int w : table.widths)
        widths.append(w);
    if (widths.isEmpty())
        m_store->remove(QStringLiteral("widths"));
    else
        m_store->setValue(QStringLiteral("widths"), widths);
    m_store->setValue(QStringLiteral("sortColumn"), table.sortColumn);
    m_store->setValue(QStringLiteral("descending"), table.descending);
    m_store->endGroup();
}

QString ConsoleSettings::filter(const QString& host, const QString& table) const
{
    if (host.isEmpty())
        return QString();
    return m_store->value(hostGroup(host) + QStringLiteral("/filter-") + table).toString();
}

void ConsoleSettings::setFilter(const QString& host, const QString& table, const QString& text)
{
    if (host.isEmpty())
        return;
    const QString key = hostGroup(host) + QStringLiteral("/filter-") + table;
    if (text.isEmpty())
        m_store->remove(key);
    else
        m_store->setValue(key, text);
}

QStringList ConsoleSettings::recentFiles() const
{
    return m_store->value(QStringLiteral("recentFiles")).toStringList().mid(0, MaxRecentFiles);
}

void ConsoleSettings::addRecentFile(const QString& path)
{
    QStringList files = recentFiles();
    files.removeAll(path);
    files.prepend(path);
    while (files.size() > MaxRecentFiles)
        files.removeLast();
    m_store->setValue(QStringLiteral("recentFiles"), files);
}

bool ConsoleSettings::preference(const QString& name, bool fallback) const
{
    return m_store->value(QStringLiteral("preferences/") + name, fallback).toBool();
}

void ConsoleSettings::setPreference(const QString& name, bool on)
{
    m_store->setValue(QStringLiteral("preferences/") + name, on);
}

bool ConsoleSettings::requireAudit() const
{
    return m_store->value(QStringLiteral("preferences/requireAudit"), false).toBool();
}

void ConsoleSettings::setRequireAudit(bool on)
{
    m_store->setValue(QStringLiteral("preferences/requireAudit"), on);
}

bool ConsoleSettings::autoReconnect() const
{
    return m_store->value(QStringLiteral("preferences/autoReconnect"), true).toBool();
}

void ConsoleSettings::setAutoReconnect(bool on)
{
    m_store->setValue(QStringLiteral("preferences/autoReconnect"), on);
}

bool ConsoleSettings::markNewRows() const
{
    return m_store->value(QStringLiteral("preferences/markNewRows"), true).toBool();
}

void ConsoleSettings::setMarkNewRows(bool on)
{
    m_store->setValue(QStringLiteral("preferences/markNewRows"), on);
}

bool ConsoleSettings::reopenHosts() const
{
    return m_store->value(QStringLiteral("preferences/reopenHosts"), false).toBool();
}

void ConsoleSettings::setReopenHosts(bool on)
{
    m_store->setValue(QStringLiteral("preferences/reopenHosts"), on);
}

QStringList ConsoleSettings::lastHosts() const
{
    return m_store->value(QStringLiteral("hosts/last")).toStringList().mid(0, MaxReopenedHosts);
}

void ConsoleSettings::setLastHosts(const QStringList& files)
{
    m_store->setValue(QStringLiteral("hosts/last"), files);
}

void ConsoleSettings::sync()
{
    m_store->sync();
}
