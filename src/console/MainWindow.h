#pragma once

#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class ConsoleSettings;
class EventLog;
class HostPrompts;
class HostSummaryModel;
class HostView;
class Prompts;
class QStackedWidget;
class QTabBar;
class QTableView;

// The console's window: one or more hosts, each a HostView with its own
// session, timer, busy state, reconnection and settings, shown one at a
// time. With one host the window is that host's view and nothing more; with
// two or more, a tab per host (in the host's accent colour) and an "All
// hosts" tab with a row per host sit above the tables.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    struct Environment
    {
        Prompts* prompts = nullptr;   // required
        EventLog* eventLog = nullptr; // required
        QStringList arguments;        // the file arguments: the first host's .hcf file
        QStringList added;            // more hosts' .hcf files (--add)
        QString programPath;          // full path of the program's own file
        QString settingsFile;         // an INI file instead of the user's settings (tests)
    };

    explicit MainWindow(const Environment& environment, QWidget* parent = nullptr);
    ~MainWindow() override;

    int hostCount() const { return int(m_hosts.size()); }
    HostView* host(int index) const;
    // The host shown; none while the All hosts tab is.
    HostView* currentHost() const;
    // Another host from its .hcf file (empty: asked for in its Configure
    // dialog); it connects at the window's first show, or at once after it.
    // A file already open only brings its tab forward.
    HostView* addHost(const QString& file);
    void showHost(int index);
    void showAllHosts();
    HostSummaryModel* summaries() const { return m_summaries; }

Q_SIGNALS:
    // Help, About... was chosen.
    void aboutRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    HostView* createHost(const QStringList& arguments);
    void buildAllHostsPage();
    void chooseHostFile();
    void hostClosed(HostView* view);
    void hostChanged(HostView* view);
    void tabChosen(int index);
    void updateTabs();
    // Gives each open host its colour and its tab the colour's spot.
    void assignAccents();
    void updateTitle();
    int indexOf(const HostView* view) const;

    Environment m_environment;
    std::unique_ptr<ConsoleSettings> m_store;
    std::vector<HostView*> m_hosts; // in tab order
    QString m_lastHostFolder;       // where Add Host last found a file
    std::vector<std::unique_ptr<HostPrompts>> m_prompts;
    QTabBar* m_tabs = nullptr;
    QStackedWidget* m_stack = nullptr;
    QMainWindow* m_allHostsPage = nullptr;
    QTableView* m_allHostsTable = nullptr;
    HostSummaryModel* m_summaries = nullptr;
    bool m_shown = false;
    bool m_closing = false;
    bool m_updatingTabs = false;
};
