#pragma once

#include "config/ConnectionSettings.h"
#include "session/HostCensus.h"

#include <QByteArray>
#include <QColor>
#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <QDateTime>

#include <functional>
#include <memory>
#include <random>

class QAction;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QTimer;

class AddListenerDialog;
class AuditDialog;
class CommandAudit;
class ChangePriorityDialog;
class ConfigureDialog;
class ConsoleSettings;
class ConsoleStatusBar;
class EventLog;
class HostSession;
class PreferencesDialog;
class Notifier;
class Prompts;
class Reconnector;
class RecordTableView;
class SparklineDelegate;
class SplitterBar;
class TableFilterBar;
class TableTransfer;
class TrendCollector;
class TrendsPane;

// The console's view of one host session: the listener and process
// tables, the buttons and menus whose commands become session calls, the
// busy state, the file commands and the layout. Every command is a private
// slot behind a named QAction (the buttons trigger the same actions); the
// host is only ever talked to through the session, which never makes the
// window wait. Standing alone it is a window; inside MainWindow it is one of
// its hosts, with its own session, timer, busy state, reconnection and
// settings, and its hourglass over itself only.
class HostView : public QMainWindow
{
    Q_OBJECT

public:
    // What the window needs from outside.
    struct Environment
    {
        Prompts* prompts = nullptr;   // required
        EventLog* eventLog = nullptr; // required
        QStringList arguments;        // command-line arguments, without the program name
        QString programPath;          // full path of the program's own file
        QString settingsFile;         // an INI file instead of the user's settings (tests)
    };

    explicit HostView(const Environment& environment, QWidget* parent = nullptr);
    ~HostView() override;

    HostSession* session() const { return m_session; }
    Reconnector* reconnector() const { return m_reconnector; }
    // The operator paused the refresh timer.
    bool isPaused() const { return m_paused; }
    const ConnectionSettings& settings() const { return m_settings; }
    // Settings before the first show (a host to connect to without asking).
    void setSettings(const ConnectionSettings& settings) { m_settings = settings; }
    // The refresh timer is stopped, Refresh is disabled and the hourglass shows.
    bool isBusy() const { return m_busy; }
    bool isClosing() const { return m_closing; }

    // Starts the first connection now instead of at the first show (a host
    // that is not the one shown connects all the same).
    void start();
    // The host's name for tabs and captions: the .hcf file's name without
    // its suffix, else the address and port; empty before either is known.
    QString hostName() const;
    // What identifies the host: the .hcf file's absolute path, else the
    // address and port.
    QString hostKey() const;
    // A colour of the host's own, the same for the same file on every run.
    static QColor accentFor(const QString& key);
    // The colour this host is told apart by among the hosts open with it
    // (HostPalette::assign); until set, accentFor(hostKey()).
    void setAccent(const QColor& colour);
    QColor accent() const;
    // Shows the host's name in its accent colour in the status line (while
    // more than one host is open), or nothing.
    void setAccentShown(bool shown);

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
    };
    Summary summary() const;
    // While on, every listener's processes are counted after each refresh
    // (as the trends do), so that summary() covers the whole host.
    void setCountingEveryListener(bool on);

Q_SIGNALS:
    // Help, About... was chosen.
    void aboutRequested();
    // File, Add Host... was chosen.
    void addHostRequested();
    // The view has closed (Close Host, Shutdown Job, a failed start).
    void closed();
    // What summary() returns may have changed.
    void summaryChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private Q_SLOTS:
    void refresh();
    void startListener();
    void killListener();
    void killProcess();
    void changePriority();
    void shutdownJob();
    void stopList();
    void loadConfiguration();
    void saveConfiguration();
    void saveConfigurationAs();
    void configure();
    void reconnect();
    void setPaused(bool paused);
    void openFilter();
    void editPreferences();
    void closeHost();

private:
    // How a chosen configuration file is used.
    enum class OpenMode
    {
        Reconnect,  // File, Load: Quit, load, connect again
        FillDialog, // the Configure dialog's Load: load into its boxes
    };

    void buildWidgets();
    void buildMenus();
    void connectSession();
    QAction* addCommand(QMenu* menu, const char* caption, const char* name,
                        void (HostView::*slot)());

    // Layout (HostViewLayout.cpp).
    void arrangeClient(QSize client);
    void fitColumns();
    void splitterDragged(int top);
    QSize clientSize() const;
    int menuBarHeight() const;
    // Menu bar and status line: what the client area does not get.
    int chromeHeight() const;

    // Connection control.
    void startUp();
    void connectAndLogon();
    void connectFinished(bool loggedOn);
    void showProgress(int step);
    void showSocketError(int code, const QString& text);
    void updateBusy();
    // A command's dialog is open: busy until the command returns.
    void holdBusy();
    void setBusy(bool busy);
    bool connected() const;
    // Runs a command; an error that ends it is shown and the window goes on.
    void guarded(const std::function<void()>& command);

    // The view around the tables (HostViewView.cpp): status line, filters,
    // sort, column widths, reconnection, pause and what is remembered.
    void buildViewParts();
    void restoreSettings();
    void saveSettings();
    void restoreFilters();
    void linkStateChanged();
    void updateCommands();
    void updateCounts();
    void listsRead();
    void fillRecentMenu();
    void openRecent(const QString& path);
    void rememberFile();

    // Tables.
    void listenerChosen(int row);
    void listenersChanged();
    void processesChanged();
    void processListRequested(const QByteArray& listenerPin);
    void showStatus(const QString& text);

    // Trends, notifications and the audit trail (HostViewHistory.cpp).
    void buildHistory();
    void setTrendsShown(bool shown);
    void trendsSampled();
    void updateTrendListener();
    void showAuditTrail();

    // File commands (HostViewFiles.cpp).
    bool openConfigFile(OpenMode mode);
    bool loadConfigFile();
    void saveConfigFile();
    void writeConfigFile(const ConnectionSettings& settings);
    // What the console keeps for a file outside it: its SSH tunnel, and
    // whether its passwords are to be looked up in the keyring.
    void loadConsoleSideSettings();
    // Starts the keyring lookup a loaded file needs, which connects when it
    // ends; false when none is due.
    bool keyringLookupFirst();
    bool m_keyringLookupDue = false;
    bool editSettings();
    void showConfigPath();

    Environment m_environment;
    HostSession* m_session = nullptr;
    ConnectionSettings m_settings;
    std::mt19937 m_random; // seeded once at creation; draws the configuration file key

    QGroupBox* m_listenerBox = nullptr;
    SplitterBar* m_splitter = nullptr;
    QGroupBox* m_processBox = nullptr;
    QWidget* m_buttonBar = nullptr;
    RecordTableView* m_listenerTable = nullptr;
    RecordTableView* m_processTable = nullptr;
    QPushButton* m_refreshButton = nullptr;
    QPushButton* m_startListenerButton = nullptr;
    QPushButton* m_killListenerButton = nullptr;
    QPushButton* m_killProcessButton = nullptr;
    QPushButton* m_changePriorityButton = nullptr;
    ConsoleStatusBar* m_statusBar = nullptr;
    TableFilterBar* m_listenerFilter = nullptr;
    TableFilterBar* m_processFilter = nullptr;
    TableTransfer* m_listenerTransfer = nullptr;
    TableTransfer* m_processTransfer = nullptr;
    Reconnector* m_reconnector = nullptr;
    std::unique_ptr<ConsoleSettings> m_store;
    PreferencesDialog* m_preferencesDialog = nullptr;
    QAction* m_pauseAction = nullptr;
    QAction* m_reconnectAction = nullptr;
    QMenu* m_recentMenu = nullptr;
    QMenu* m_fileMenu = nullptr;
    QMenu* m_controlMenu = nullptr;
    QMenu* m_helpMenu = nullptr;
    QAction* m_exitAction = nullptr;
    QTimer* m_refreshTimer = nullptr;
    AddListenerDialog* m_addListenerDialog = nullptr;
    ChangePriorityDialog* m_changePriorityDialog = nullptr;
    ConfigureDialog* m_configureDialog = nullptr;
    CommandAudit* m_audit = nullptr;
    Notifier* m_notifier = nullptr;
    TrendCollector* m_trendCollector = nullptr;
    bool m_trendsOn = false;
    bool m_countingEveryListener = false;
    TrendsPane* m_trendsPane = nullptr;
    SparklineDelegate* m_sparklines = nullptr;
    AuditDialog* m_auditDialog = nullptr; // made when first asked for
    QMenu* m_viewMenu = nullptr;

    // Why the configuration file named on the command line cannot be found;
    // the first show says so and ends instead of connecting.
    QString m_missingConfig;
    bool m_firstShow = true;
    bool m_startQueued = false;
    bool m_started = false; // the first connection's start-up has run
    bool m_accentShown = false;
    // The operator stopped a list: the refresh stays paused, and the link
    // down, until they refresh or resume.
    bool m_listStopped = false;
    QColor m_accent;
    bool m_closing = false;
    // The busy state and what holds it besides the session's work: a
    // connection until its first refresh is done, a command's dialog.
    bool m_busy = false;
    bool m_connecting = true;
    bool m_commandRunning = false;
    bool m_dialogOpen = false; // the Configure dialog: no refresh meanwhile
    bool m_cursorSet = false;
    int m_appliedInterval = 5000;

    // The process the operator chose, by PIN; empty: the first one listed.
    QByteArray m_processPin;
    QByteArray m_listedPin; // the listener whose processes are shown
    bool m_restoringSelection = false;

    int m_listenerBoxHeight = 169;

    bool m_paused = false;
    // The connection in hand was started by the reconnector or by Reconnect:
    // its failure leaves the window open and its errors go to the status line.
    bool m_linkAttempt = false;
    bool m_everLoggedOn = false;
    bool m_markNewRows = true;
    // The processes listed are of the same listener as before: what started
    // and ended is worth telling.
    bool m_changesKnown = false;
    QDateTime m_lastRead; // the last list read whole
};
