#pragma once

#include <QList>
#include <QObject>

#include <functional>

class ConsoleSettings;
class HostPage;
class QAction;
class QMenu;
class QMenuBar;
class QWidget;

// The window's commands as actions in its one menu bar (File, Control, View,
// Help): each host command goes to the host shown, through its controller,
// and does nothing while the All hosts tab is shown. A host page's buttons
// and its tables' keys trigger the same actions.
class HostActions : public QObject
{
    Q_OBJECT

public:
    // The shown page (null: none) and every page, as the window knows them.
    using CurrentPage = std::function<HostPage*()>;
    using AllPages = std::function<QList<HostPage*>()>;

    // Fills menuBar; the actions with shortcuts are added to window so that
    // the keys work while the menus are closed.
    HostActions(QMenuBar* menuBar, QWidget* window, ConsoleSettings* store, CurrentPage current,
                AllPages all);

    // Wires a new page's buttons and tables to the actions.
    void attach(HostPage* page);
    // The shown page changed, or its state did: checks and enabled states
    // follow it.
    void sync();
    // The recent files' menu again from the settings.
    void fillRecentMenu();

Q_SIGNALS:
    void addHostRequested();
    void aboutRequested();
    void exitRequested();

private:
    QAction* command(QMenu* menu, const char* caption, const char* name,
                     std::function<void(HostPage*)> call);
    void buildFileMenu(QMenuBar* bar);
    void buildControlMenu(QMenuBar* bar);
    void buildViewMenu(QMenuBar* bar);
    void buildHelpMenu(QMenuBar* bar);
    void setPaused(bool paused);
    void setTrendsShown(bool shown);

    QWidget* m_window;
    ConsoleSettings* m_store;
    CurrentPage m_current;
    AllPages m_all;
    QMenu* m_recentMenu = nullptr;
    QAction* m_refresh = nullptr;
    QAction* m_pause = nullptr;
    QAction* m_trends = nullptr;
    QAction* m_startListener = nullptr;
    QAction* m_killListener = nullptr;
    QAction* m_killProcess = nullptr;
    QAction* m_changePriority = nullptr;
    QAction* m_stopList = nullptr;
};
