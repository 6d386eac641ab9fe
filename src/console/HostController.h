#pragma once

#include "config/ConnectionSettings.h"
#include "keyring/PasswordKeyring.h"
#include "session/HostCensus.h"

#include <QByteArray>
#include <QColor>
#include <QDateTime>
#include <QFlags>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

class QTimer;
class QWidget;

class CommandAudit;
class ConfigureDialog;
class ConsoleSettings;
class EventLog;
class HostFileStore;
class HostSession;
class KnownHostAdder;
class Notifier;
class Prompts;
class Reconnector;
class TrendCollector;

// One host as the console keeps it: its session, the reconnector, the
// notifier, the audit trail and the trends, its connection settings and
// configuration file, the refresh timer and the busy state. It runs the
// connection control and the file commands; what the operator sees of the
// host (tables, buttons, status line) is its HostPage, which listens to it.
class HostController : public QObject
{
    Q_OBJECT

public:
    // What a host needs from outside.
    struct Environment
    {
        Prompts* prompts = nullptr;       // required
        EventLog* eventLog = nullptr;     // required
        QStringList arguments;            // command-line arguments, without the program name
        QString programPath;              // full path of the program's own file
        ConsoleSettings* store = nullptr; // required: what is remembered, shared by every host
    };

    // What holds the busy state: while any is set the refresh timer stands,
    // Refresh is disabled and the hourglass shows over the host's page.
    enum class BusyReason
    {
        Connecting = 0x1, // a connection until its first refresh is done
        Command = 0x2,    // a command's dialog or confirmation
        Session = 0x4,    // the session's own work
        Closing = 0x8,    // the host is closing
    };
    Q_DECLARE_FLAGS(Busy, BusyReason)

    // Dialogs the controller runs are made over dialogParent.
    HostController(const Environment& environment, QWidget* dialogParent);
    ~HostController() override;

    HostSession* session() const { return m_session; }
    Reconnector* reconnector() const { return m_reconnector; }
    Notifier* notifier() const { return m_notifier; }
    CommandAudit* audit() const { return m_audit; }
    TrendCollector* trends() const { return m_trendCollector; }
    ConsoleSettings* store() const { return m_store; }
    Prompts* prompts() const { return m_environment.prompts; }

    const ConnectionSettings& settings() const { return m_settings; }
    // Settings before the first connection (a host to connect to without asking).
    void setSettings(const ConnectionSettings& settings) { m_settings = settings; }

    Busy busyReasons() const { return m_busy; }
    bool isBusy() const { return m_busy != Busy(); }
    bool isClosing() const { return m_busy.testFlag(BusyReason::Closing); }
    bool isPaused() const { return m_paused; }
    bool connected() const;
    // The link has been up once and is down now: the rows on show are old.
    bool linkDown() const;
    // The last time both lists were read whole; invalid: never.
    QDateTime lastRead() const { return m_lastRead; }
    // What the window's caption shows for this host.
    QString caption() const { return m_caption; }

    // Whether the host's page is the one on show (true unless the window
    // says otherwise). The host on show tells its errors in message boxes;
    // a host in the background never opens one over it: its errors go to
    // its status line and tab (unseenError), and a connection that fails
    // leaves it open with its link down instead of closing it unseen.
    void setShown(bool shown);
    bool isShown() const { return m_shown; }
    // The last error told while the host was in the background; empty once
    // it has been shown.
    QString unseenError() const { return m_unseenError; }

    // Starts the first connection from the event loop (once).
    void start();
    // The caption the window carries when it is first shown (the program's
    // title): this host's until its connection sequence sets its own, as
    // the logon reply is awaited.
    void setStartCaption(const QString& caption) { setCaption(caption); }
    // Ends the host: Quit to it, nothing more asked, closed() once done.
    void close();
    // Runs an operator command: nothing once closing; an error that ends it
    // is shown; a busy state held for its dialog is let go afterwards.
    void run(const std::function<void()>& command);
    // A command's dialog or confirmation is open: busy until it returns.
    void holdBusy();

    // Control and File commands.
    void refresh();
    // Ends the list being read; the refresh stays paused (and the link
    // down) until the operator refreshes or resumes.
    void stopList();
    void reconnect();
    void setPaused(bool paused);
    void loadConfiguration();
    void saveConfiguration();
    void saveConfigurationAs();
    void configure();
    void openRecent(const QString& path);

    // The host's name for tabs and captions: the .hcf file's name without
    // its suffix, else the address and port; empty before either is known.
    QString hostName() const;
    // What identifies the host: the .hcf file's absolute path, else the
    // address and port.
    QString hostKey() const;
    // The address and port, empty before an address is known.
    QString hostAddress() const;
    // "via DEST" for a host reached through an SSH route; empty when direct.
    QString routeText() const;
    // A colour of the host's own, from its file (or address) alone: the
    // same on every run, whichever hosts are open beside it.
    QColor accent() const;

    // What the fleet overview shows of this host: the host's census once
    // every listener has been counted, else the listeners and the selected
    // listener's processes of the last refresh.
    struct Summary
    {
        QString name;
        QString link;
        CensusSummary census;
        bool everyListener = false; // the census covers every listener
        int reconnections = 0;
        QColor accent;
        QString route; // the SSH destination the host is reached through; empty: direct
    };
    Summary summary() const;
    // While on, every listener's processes are counted after each refresh,
    // for the All hosts summary or for the trends.
    void setCountingEveryListener(bool on);
    void setTrendsShown(bool shown);

Q_SIGNALS:
    void busyChanged(bool busy);
    void pausedChanged(bool paused);
    void captionChanged(const QString& caption);
    // A connection has logged on and filled the tables' first refresh.
    void connectionReady();
    // Another host (file or address) is about to be reached: what was
    // remembered of the previous one no longer applies.
    void hostChanged();
    // Both lists were read (or one of them).
    void listsRead();
    void recentFilesChanged();
    void statusMessage(const QString& text);
    // unseenError() changed (set by a background error, cleared on show).
    void unseenErrorChanged(const QString& text);
    // What summary() returns may have changed.
    void summaryChanged();
    void closed();

private:
    // How the link is dropped on purpose.
    enum class Drop
    {
        WithQuit,    // Load, Recent, Reconnect: the host hears Quit
        WithoutQuit, // Configure: the socket is only closed
    };

    void connectSession();
    void startUp();
    void connectAndLogon();
    void connectFinished(bool loggedOn);
    void showProgress(int step);
    void showSocketError(int code, const QString& text);
    void showTunnelError(const QString& text);
    // The route's jump host has a key not in known_hosts: the operator may
    // accept its fingerprint, and the host is connected again once it is added.
    void offerHostKey(const QString& destination, const QString& fingerprint, const QString& host,
                      quint16 port);
    // An error for the operator: a message box while the host is on show,
    // else its status line and unseenError.
    void tellError(const QString& text);
    // A list for a table ended: a whole one is the host's figures and time.
    void tableListEnded(int end, bool listeners);
    void setBusyReason(BusyReason reason, bool on);
    void updateBusy();
    void applyBusy(bool busy);
    void guarded(const std::function<void()>& command);
    void setCaption(const QString& caption);
    void showConfigPath();
    void noteListsRead();
    // Drops the link on purpose, with no link-lost notice and no automatic
    // attempt, before the same or another host is reached again.
    void relink(Drop drop);
    // Takes the configuration file at path and connects with it.
    void switchToFile(const QString& path);
    // Chooses a file and loads it: to connect with it (Load), or into the
    // open Configure dialog (its Load button). False when the file could
    // not be taken (the dialog then stays open).
    bool openConfigFile(bool reconnect);
    bool loadConfigFile();
    // Starts the keyring lookup a loaded file needs, which connects when it
    // ends; false when none is due.
    bool keyringLookupFirst();
    // Asks for the passwords the keyring could not give; false when the
    // operator gave none.
    bool askPasswords(const PasswordKeyring::Result& result);
    // Runs the Configure dialog: false when it was cancelled (the host then
    // closes) or the new host's route cannot be read (nothing connects).
    bool editSettings();

    Environment m_environment;
    ConsoleSettings* m_store;
    HostSession* m_session = nullptr;
    Reconnector* m_reconnector = nullptr;
    Notifier* m_notifier = nullptr;
    CommandAudit* m_audit = nullptr;
    TrendCollector* m_trendCollector = nullptr;
    HostFileStore* m_files = nullptr;
    ConnectionSettings m_settings;
    QTimer* m_refreshTimer = nullptr;
    QPointer<ConfigureDialog> m_configureDialog;
    QString m_caption;

    // Why the configuration file named on the command line cannot be found;
    // the start-up says so and ends instead of connecting.
    QString m_missingConfig;
    Busy m_busy = BusyReason::Connecting;
    bool m_busyShown = false;
    bool m_dialogOpen = false; // the Configure dialog: no refresh meanwhile
    bool m_startQueued = false;
    bool m_started = false; // the first connection's start-up has run
    bool m_paused = false;
    // The operator stopped a list: the refresh stays paused until they
    // refresh or resume.
    bool m_listStopped = false;
    // The connection in hand was started by the reconnector or by Reconnect:
    // its failure leaves the host open and its errors go to the status line.
    bool m_linkAttempt = false;
    bool m_everLoggedOn = false;
    bool m_trendsShown = false;
    QSet<QString> m_toldTunnelCauses; // host and text of each tunnel fault shown in a box
    KnownHostAdder* m_hostKeys = nullptr;
    bool m_keyOffered = false; // the tunnel's message that follows goes to the status line
    bool m_countingEveryListener = false;
    int m_appliedInterval = 5000;
    QDateTime m_lastRead;
    bool m_shown = true;
    QString m_unseenError;
    bool m_unseenInWork = false; // told during the session's work in hand
    // The figures of the last whole lists, for the summary until every
    // listener has been counted.
    qint64 m_readListeners = 0;
    qint64 m_readProcesses = 0;
    qint64 m_readCpuMs = 0;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(HostController::Busy)
