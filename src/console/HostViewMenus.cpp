// The host view's menus and the actions behind its commands and buttons.
#include "console/ConsoleStatusBar.h"
#include "console/HostView.h"
#include "console/RecordTableView.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

QAction* HostView::addCommand(QMenu* menu, const char* caption, const char* name,
                              void (HostView::*slot)())
{
    QAction* action = menu->addAction(QString::fromLatin1(caption));
    action->setObjectName(QString::fromLatin1(name));
    connect(action, &QAction::triggered, this, [this, slot] {
        // Once closing, nothing more is asked of the host.
        if (m_closing)
            return;
        guarded([this, slot] { (this->*slot)(); });
        // A command that held the busy state for its dialog lets it go; the
        // session's own work keeps it where the command asked for some.
        if (m_commandRunning) {
            m_commandRunning = false;
            updateBusy();
        }
    });
    return action;
}

void HostView::buildMenus()
{
    m_fileMenu = menuBar()->addMenu(QStringLiteral("&File"));
    m_fileMenu->setObjectName(QStringLiteral("fileMenu"));
    addCommand(m_fileMenu, "&Load", "loadAction", &HostView::loadConfiguration);
    addCommand(m_fileMenu, "&Save", "saveAction", &HostView::saveConfiguration);
    addCommand(m_fileMenu, "Save &As", "saveAsAction", &HostView::saveConfigurationAs);
    addCommand(m_fileMenu, "&Configure", "configureAction", &HostView::configure);
    m_recentMenu = m_fileMenu->addMenu(QStringLiteral("&Recent"));
    m_recentMenu->setObjectName(QStringLiteral("recentMenu"));
    addCommand(m_fileMenu, "Pr&eferences...", "preferencesAction", &HostView::editPreferences);
    m_fileMenu->addSeparator();
    QAction* addHost = m_fileMenu->addAction(QStringLiteral("A&dd Host..."));
    addHost->setObjectName(QStringLiteral("addHostAction"));
    connect(addHost, &QAction::triggered, this, &HostView::addHostRequested);
    addCommand(m_fileMenu, "Close Hos&t", "closeHostAction", &HostView::closeHost);
    m_fileMenu->addSeparator();
    addCommand(m_fileMenu, "S&hutdown Job", "shutdownJobAction", &HostView::shutdownJob);
    m_fileMenu->addSeparator();
    m_exitAction = m_fileMenu->addAction(QStringLiteral("E&xit"));
    m_exitAction->setObjectName(QStringLiteral("exitAction"));
    m_exitAction->setShortcut(QKeySequence(Qt::ALT | Qt::Key_X));
    m_exitAction->setShortcutContext(Qt::WindowShortcut);
    // Exit ends the program: every host, when this view is one of many.
    connect(m_exitAction, &QAction::triggered, this, [this] { window()->close(); });
    addAction(m_exitAction); // the shortcut works while the menu is closed

    m_controlMenu = menuBar()->addMenu(QStringLiteral("C&ontrol"));
    m_controlMenu->setObjectName(QStringLiteral("controlMenu"));
    QAction* refresh =
        addCommand(m_controlMenu, "&Refresh List", "refreshAction", &HostView::refresh);
    refresh->setShortcut(QKeySequence(Qt::Key_F5));
    refresh->setShortcutContext(Qt::WindowShortcut);
    addAction(refresh);
    m_reconnectAction =
        addCommand(m_controlMenu, "Reco&nnect", "reconnectAction", &HostView::reconnect);
    m_pauseAction = m_controlMenu->addAction(QStringLiteral("P&ause"));
    m_pauseAction->setObjectName(QStringLiteral("pauseAction"));
    m_pauseAction->setCheckable(true);
    connect(m_pauseAction, &QAction::toggled, this, &HostView::setPaused);
    QAction* filter = addCommand(m_controlMenu, "&Filter", "filterAction", &HostView::openFilter);
    filter->setShortcut(QKeySequence::Find);
    filter->setShortcutContext(Qt::WindowShortcut);
    addAction(filter);
    m_controlMenu->addSeparator();
    QAction* start = addCommand(m_controlMenu, "&Start Listener", "startListenerAction",
                                &HostView::startListener);
    QAction* killListener =
        addCommand(m_controlMenu, "Kill &Listener", "killListenerAction", &HostView::killListener);
    m_controlMenu->addSeparator();
    QAction* killProcess =
        addCommand(m_controlMenu, "Kill &Process", "killProcessAction", &HostView::killProcess);
    QAction* priority = addCommand(m_controlMenu, "&Change Priority", "changePriorityAction",
                                   &HostView::changePriority);
    // Delete kills what the focused table has selected; Space pauses there.
    killListener->setShortcut(QKeySequence::Delete);
    killListener->setShortcutContext(Qt::WidgetShortcut);
    m_listenerTable->addAction(killListener);
    killProcess->setShortcut(QKeySequence::Delete);
    killProcess->setShortcutContext(Qt::WidgetShortcut);
    m_processTable->addAction(killProcess);
    m_pauseAction->setShortcut(QKeySequence(Qt::Key_Space));
    m_pauseAction->setShortcutContext(Qt::WidgetShortcut);
    m_listenerTable->addAction(m_pauseAction);
    m_processTable->addAction(m_pauseAction);

    m_helpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
    m_helpMenu->setObjectName(QStringLiteral("helpMenu"));
    QAction* about = m_helpMenu->addAction(QStringLiteral("&About..."));
    about->setObjectName(QStringLiteral("aboutAction"));
    connect(about, &QAction::triggered, this, &HostView::aboutRequested);

    // A button and its menu twin are one command.
    const std::pair<QPushButton*, QAction*> twins[] = {
        {m_refreshButton, refresh},           {m_startListenerButton, start},
        {m_killListenerButton, killListener}, {m_killProcessButton, killProcess},
        {m_changePriorityButton, priority},
    };
    for (const auto& [button, action] : twins)
        connect(button, &QPushButton::clicked, action, &QAction::trigger);

    // A long list can be stopped with the Stop button or Esc.
    auto* stop = new QAction(QStringLiteral("Stop"), this);
    stop->setObjectName(QStringLiteral("stopListAction"));
    stop->setShortcut(QKeySequence(Qt::Key_Escape));
    stop->setShortcutContext(Qt::WindowShortcut);
    connect(stop, &QAction::triggered, this, &HostView::stopList);
    connect(m_statusBar->stopButton(), &QPushButton::clicked, stop, &QAction::trigger);
    addAction(stop);
}
