#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class QSettings;

// What the console remembers between runs, in the platform's settings store
// (never in the .hcf file, whose format is fixed): the window's geometry and
// splitter, each table's column widths and sort, the filters of each host,
// the recent configuration files and the preferences.
class ConsoleSettings
{
public:
    // file: an INI file to use instead of the user's settings (tests).
    explicit ConsoleSettings(const QString& file = QString());
    ~ConsoleSettings();

    struct Table
    {
        QList<int> widths; // empty: the shares of the width apply
        int sortColumn = -1;
        bool descending = false;
    };

    QByteArray geometry() const;
    void setGeometry(const QByteArray& geometry);
    int listenerBoxHeight() const; // 0: none stored
    void setListenerBoxHeight(int height);

    Table table(const QString& name) const;
    void setTable(const QString& name, const Table& table);

    // The filters of the tables for one host (its .hcf file's absolute path,
    // or its address when no file is in use).
    QString filter(const QString& host, const QString& table) const;
    void setFilter(const QString& host, const QString& table, const QString& text);

    // At most this many recent files are kept and read back, however many
    // a settings file holds.
    static constexpr int MaxRecentFiles = 8;
    QStringList recentFiles() const;
    // Puts path first in the list.
    void addRecentFile(const QString& path);

    // An on/off preference of the window by name (the trends pane, each
    // kind of notification).
    bool preference(const QString& name, bool fallback) const;
    void setPreference(const QString& name, bool on);

    bool autoReconnect() const;
    void setAutoReconnect(bool on);
    // A command whose audit line cannot be written is not sent (off unless chosen).
    bool requireAudit() const;
    void setRequireAudit(bool on);
    bool markNewRows() const;
    void setMarkNewRows(bool on);

    // The hosts open when the window last closed (their .hcf files), and
    // whether they are opened again at start (off unless chosen).
    bool reopenHosts() const;
    void setReopenHosts(bool on);
    // At most MaxReopenedHosts files, the first ones stored.
    static constexpr int MaxReopenedHosts = 50;
    QStringList lastHosts() const;
    void setLastHosts(const QStringList& files);

    // SSH destinations as earlier versions kept them, by the configuration
    // file's absolute path (routes are now the host's, in HostRoutes): the
    // paths that still have one, the destination of one, and its removal
    // once it has moved.
    QStringList pathRouteFiles() const;
    QString sshDestination(const QString& configPath) const;
    void setSshDestination(const QString& configPath, const QString& destination);
    // Saves put the logon passwords in the desktop keyring (off unless chosen).
    bool keyringPasswords() const;
    void setKeyringPasswords(bool on);

    void sync();

private:
    std::unique_ptr<QSettings> m_store;
};
