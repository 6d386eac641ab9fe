#pragma once

#include <QColor>
#include <QHash>
#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class AllHostsTable;
class ConsoleSettings;
class EventLog;
class HostActions;
class HostController;
class HostPage;
class HostPrompts;
class HostSummaryModel;
class Prompts;
class QStackedWidget;
class QTabWidget;

// The console's window: one menu bar at the top, the hosts' pages in tabs
// below it (the tab bar, with an "All hosts" tab, only while two or more
// hosts are open), and the status line of the host shown at the bottom.
// Each host keeps its own session, timer, busy state, reconnection and
// settings in its HostController.
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

    int hostCount() const { return int(m_pages.size()); }
    HostPage* host(int index) const;
    // The host shown; none while the All hosts tab is.
    HostPage* currentHost() const;
    // Another host from its .hcf file (empty: asked for in its Configure
    // dialog); it connects at the window's first show, or at once after it.
    // A file already open only brings its tab forward.
    HostPage* addHost(const QString& file);
    void showHost(int index);
    void showAllHosts();
    HostSummaryModel* summaries() const { return m_summaries; }

Q_SIGNALS:
    // Help, About... was chosen.
    void aboutRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    HostPage* createHost(const QStringList& arguments);
    void buildAllHostsPage();
    void buildHostSwitching();
    void placeOnScreen();
    // Tells the window manager the least size, 400 x 300 with the frame.
    void fitMinimumSize();
    void chooseHostFile();
    void hostClosed(HostPage* page);
    void hostChanged(HostPage* page);
    void tabChosen(int index);
    void updateTabs();
    // Shows a host's name, link, pause and colour on its tab.
    void updateTab(int index);
    void updateTitle();
    int indexOf(const HostPage* page) const;

    Environment m_environment;
    std::unique_ptr<ConsoleSettings> m_store;
    std::vector<HostPage*> m_pages; // in tab order
    QString m_lastHostFolder;       // where Add Host last found a file
    QString m_startTitle;           // the title the window was first shown with
    std::vector<std::unique_ptr<HostPrompts>> m_prompts;
    HostActions* m_actions = nullptr;
    QTabWidget* m_tabs = nullptr;
    QStackedWidget* m_statusLines = nullptr;
    QWidget* m_allHostsPage = nullptr;
    QWidget* m_allHostsStatus = nullptr;
    AllHostsTable* m_allHostsTable = nullptr;
    HostSummaryModel* m_summaries = nullptr;
    // What each host's tab shows, so that only what changed is set again.
    struct TabLook
    {
        QString text;
        QString toolTip;
        QRgb colour = 0;
        int link = -1;
        bool paused = false;
    };
    QHash<const HostPage*, TabLook> m_tabLooks;
    bool m_shown = false;
    bool m_closing = false;
    bool m_updatingTabs = false;
};
