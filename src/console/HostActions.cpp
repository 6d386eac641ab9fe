#include "console/HostActions.h"

#include "console/ConsoleSettings.h"
#include "console/ConsoleStatusBar.h"
#include "console/HostCommands.h"
#include "console/HostController.h"
#include "console/HostPage.h"
#include "console/Notifier.h"
#include "console/RecordTableView.h"
#include "session/HostSession.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QWidget>

HostActions::HostActions(QMenuBar* menuBar, QWidget* window, ConsoleSettings* store,
                         CurrentPage current, AllPages all)
    : QObject(window), m_window(window), m_store(store), m_current(std::move(current)),
      m_all(std::move(all))
{
    buildFileMenu(menuBar);
    buildControlMenu(menuBar);
    buildViewMenu(menuBar);
    buildHelpMenu(menuBar);
    // A long list can be stopped with the Stop button or Esc.
    m_stopList = new QAction(QStringLiteral("Stop"), this);
    m_stopList->setObjectName(QStringLiteral("stopListAction"));
    m_stopList->setShortcut(QKeySequence(Qt::Key_Escape));
    m_stopList->setShortcutContext(Qt::WindowShortcut);
    connect(m_stopList, &QAction::triggered, this, [this] {
        if (HostPage* page = m_current())
            page->controller()->stopList();
    });
    window->addAction(m_stopList);
    fillRecentMenu();
}

QAction* HostActions::command(QMenu* menu, const char* caption, const char* name,
                              std::function<void(HostPage*)> call)
{
    QAction* action = menu->addAction(QString::fromLatin1(caption));
    action->setObjectName(QString::fromLatin1(name));
    connect(action, &QAction::triggered, this, [this, call] {
        HostPage* page = m_current();
        if (page)
            page->controller()->run([page, &call] { call(page); });
    });
    return action;
}

void HostActions::buildFileMenu(QMenuBar* bar)
{
    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("fileMenu"));
    command(file, "&Load", "loadAction", [](HostPage* p) { p->controller()->loadConfiguration(); });
    command(file, "&Save", "saveAction", [](HostPage* p) { p->controller()->saveConfiguration(); });
    command(file, "Save &As", "saveAsAction",
            [](HostPage* p) { p->controller()->saveConfigurationAs(); });
    command(file, "&Configure", "configureAction",
            [](HostPage* p) { p->controller()->configure(); });
    m_recentMenu = file->addMenu(QStringLiteral("&Recent"));
    m_recentMenu->setObjectName(QStringLiteral("recentMenu"));
    // Another window's files may have joined the list since.
    connect(m_recentMenu, &QMenu::aboutToShow, this, &HostActions::fillRecentMenu);
    command(file, "Pr&eferences...", "preferencesAction",
            [](HostPage* p) { p->editPreferences(); });
    file->addSeparator();
    QAction* addHost = file->addAction(QStringLiteral("A&dd Host..."));
    addHost->setObjectName(QStringLiteral("addHostAction"));
    connect(addHost, &QAction::triggered, this, &HostActions::addHostRequested);
    command(file, "Close Hos&t", "closeHostAction", [](HostPage* p) { p->controller()->close(); });
    file->addSeparator();
    command(file, "S&hutdown Job", "shutdownJobAction",
            [](HostPage* p) { p->commands()->shutdownJob(); });
    file->addSeparator();
    QAction* exit = file->addAction(QStringLiteral("E&xit"));
    exit->setObjectName(QStringLiteral("exitAction"));
    exit->setShortcut(QKeySequence(Qt::ALT | Qt::Key_X));
    exit->setShortcutContext(Qt::WindowShortcut);
    // Exit ends the program: every host.
    connect(exit, &QAction::triggered, this, &HostActions::exitRequested);
    m_window->addAction(exit); // the shortcut works while the menu is closed
}

void HostActions::buildControlMenu(QMenuBar* bar)
{
    QMenu* control = bar->addMenu(QStringLiteral("C&ontrol"));
    control->setObjectName(QStringLiteral("controlMenu"));
    m_refresh = command(control, "&Refresh List", "refreshAction",
                        [](HostPage* p) { p->controller()->refresh(); });
    m_refresh->setShortcut(QKeySequence(Qt::Key_F5));
    m_refresh->setShortcutContext(Qt::WindowShortcut);
    m_window->addAction(m_refresh);
    command(control, "Reco&nnect", "reconnectAction",
            [](HostPage* p) { p->controller()->reconnect(); });
    m_pause = control->addAction(QStringLiteral("P&ause"));
    m_pause->setObjectName(QStringLiteral("pauseAction"));
    m_pause->setCheckable(true);
    connect(m_pause, &QAction::toggled, this, &HostActions::setPaused);
    QAction* filter =
        command(control, "&Filter", "filterAction", [](HostPage* p) { p->openFilter(); });
    filter->setShortcut(QKeySequence::Find);
    filter->setShortcutContext(Qt::WindowShortcut);
    m_window->addAction(filter);
    control->addSeparator();
    m_startListener = command(control, "&Start Listener", "startListenerAction",
                              [](HostPage* p) { p->commands()->startListener(); });
    m_killListener = command(control, "Kill &Listener", "killListenerAction",
                             [](HostPage* p) { p->commands()->killListener(); });
    control->addSeparator();
    m_killProcess = command(control, "Kill &Process", "killProcessAction",
                            [](HostPage* p) { p->commands()->killProcess(); });
    m_changePriority = command(control, "&Change Priority", "changePriorityAction",
                               [](HostPage* p) { p->commands()->changePriority(); });
    // Delete kills what the focused table has selected. Space pauses
    // wherever the focus is in the window, a button included, which it never
    // presses; a text box still takes it as text.
    m_killListener->setShortcut(QKeySequence::Delete);
    m_killListener->setShortcutContext(Qt::WidgetShortcut);
    m_killProcess->setShortcut(QKeySequence::Delete);
    m_killProcess->setShortcutContext(Qt::WidgetShortcut);
    m_pause->setShortcut(QKeySequence(Qt::Key_Space));
    m_pause->setShortcutContext(Qt::WindowShortcut);
    m_window->addAction(m_pause);
}

void HostActions::buildViewMenu(QMenuBar* bar)
{
    QMenu* view = bar->addMenu(QStringLiteral("&View"));
    view->setObjectName(QStringLiteral("viewMenu"));
    m_trends = view->addAction(QStringLiteral("&Trends"));
    m_trends->setObjectName(QStringLiteral("trendsAction"));
    m_trends->setCheckable(true);
    m_trends->setChecked(m_store->preference(QStringLiteral("trends"), false));
    connect(m_trends, &QAction::toggled, this, &HostActions::setTrendsShown);
    view->addSeparator();
    QMenu* notify = view->addMenu(QStringLiteral("&Notify When"));
    notify->setObjectName(QStringLiteral("notifyMenu"));
    for (int k = 0; k < Notifier::KindCount; ++k) {
        const auto kind = Notifier::Kind(k);
        QAction* a = notify->addAction(Notifier::kindTitle(kind));
        a->setObjectName(QStringLiteral("notify") +
                         Notifier::kindTitle(kind).remove(QLatin1Char(' ')) +
                         QStringLiteral("Action"));
        a->setCheckable(true);
        const QString key = Notifier::settingsKey(kind);
        a->setChecked(m_store->preference(key, true));
        // The choice is the operator's, for every host.
        connect(a, &QAction::toggled, this, [this, kind, key](bool on) {
            m_store->setPreference(key, on);
            for (HostPage* page : m_all())
                page->controller()->notifier()->setEnabled(kind, on);
        });
    }
}

void HostActions::buildHelpMenu(QMenuBar* bar)
{
    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("helpMenu"));
    QAction* audit = help->addAction(QStringLiteral("Audit &Trail..."));
    audit->setObjectName(QStringLiteral("auditTrailAction"));
    connect(audit, &QAction::triggered, this, [this] {
        if (HostPage* page = m_current())
            page->showAuditTrail();
    });
    help->addSeparator();
    QAction* about = help->addAction(QStringLiteral("&About..."));
    about->setObjectName(QStringLiteral("aboutAction"));
    connect(about, &QAction::triggered, this, &HostActions::aboutRequested);
}

void HostActions::attach(HostPage* page)
{
    // A button and its menu twin are one command.
    const std::pair<QPushButton*, QAction*> twins[] = {
        {page->refreshButton(), m_refresh},
        {page->startListenerButton(), m_startListener},
        {page->killListenerButton(), m_killListener},
        {page->killProcessButton(), m_killProcess},
        {page->changePriorityButton(), m_changePriority},
    };
    for (const auto& [button, action] : twins)
        connect(button, &QPushButton::clicked, action, &QAction::trigger);
    page->listenerTable()->addAction(m_killListener);
    page->processTable()->addAction(m_killProcess);
    connect(page->statusBar()->stopButton(), &QPushButton::clicked, m_stopList, &QAction::trigger);
    HostController* controller = page->controller();
    connect(page, &HostPage::commandsAllowedChanged, this, &HostActions::sync);
    connect(controller, &HostController::pausedChanged, this, &HostActions::sync);
    connect(controller, &HostController::recentFilesChanged, this, &HostActions::fillRecentMenu);
    page->setTrendsShown(m_trends->isChecked());
}

void HostActions::sync()
{
    HostPage* page = m_current();
    const bool allowed = !page || page->commandsAllowed();
    for (QAction* a : {m_startListener, m_killListener, m_killProcess, m_changePriority})
        a->setEnabled(allowed);
    m_pause->setChecked(page && page->controller()->isPaused());
}

void HostActions::setPaused(bool paused)
{
    if (HostPage* page = m_current())
        page->controller()->setPaused(paused);
    else if (paused)
        m_pause->setChecked(false); // nothing to pause on the All hosts tab
}

void HostActions::setTrendsShown(bool shown)
{
    m_store->setPreference(QStringLiteral("trends"), shown);
    for (HostPage* page : m_all())
        page->setTrendsShown(shown);
}

void HostActions::fillRecentMenu()
{
    m_recentMenu->clear();
    const QStringList files = m_store->recentFiles();
    int n = 0;
    for (const QString& path : files) {
        ++n;
        QAction* a = m_recentMenu->addAction(QStringLiteral("&%1 %2").arg(n % 10).arg(
            QString(path).replace(QLatin1Char('&'), QStringLiteral("&&"))));
        a->setObjectName(QStringLiteral("recentFile%1").arg(n));
        connect(a, &QAction::triggered, this, [this, path] {
            if (HostPage* page = m_current())
                page->controller()->run([page, &path] { page->controller()->openRecent(path); });
        });
    }
    m_recentMenu->setEnabled(!files.isEmpty());
}
