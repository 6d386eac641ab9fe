// The main window's view around the tables: the status line, the filter
// boxes, sort and column widths, new and stale rows, reconnection, pause,
// preferences, recent files and what is remembered between runs. The parts
// are their own classes; this file wires them to the session.

#include "console/HostView.h"

#include "console/ConsoleSettings.h"
#include "console/ConsoleStatusBar.h"
#include "console/Prompts.h"
#include "console/RecordItemDelegate.h"
#include "console/RecordTableView.h"
#include "console/TableFilterBar.h"
#include "console/TableTransfer.h"
#include "console/WindowPlacement.h"
#include "console/dialogs/PreferencesDialog.h"
#include "session/AuditTrail.h"
#include "session/HostSession.h"
#include "session/ListenerTableModel.h"
#include "session/ProcessTableModel.h"
#include "session/Reconnector.h"
#include "session/RecordSortFilterModel.h"

#include <QAction>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

namespace {

const QString ListenerTableName = QStringLiteral("listeners");
const QString ProcessTableName = QStringLiteral("processes");

QString clock(const QDateTime& time)
{
    return time.toString(QStringLiteral("HH:mm:ss"));
}

} // namespace

void HostView::buildViewParts()
{
    m_session->listeners()->setMarkNewRows(int(ListenerColumn::Pin));
    m_session->processes()->setMarkNewRows(int(ProcessColumn::Pin));

    auto filterFor = [this](RecordTableView* view, QGroupBox* box, const QString& table,
                            const char* noun) {
        auto* bar = new TableFilterBar(view->sortFilter(), QString::fromLatin1(noun), box);
        bar->setObjectName(table + QStringLiteral("FilterBar"));
        bar->edit()->setObjectName(table + QStringLiteral("Filter"));
        connect(bar, &TableFilterBar::filterChanged, this, [this, table](const QString& text) {
            m_store->setFilter(hostKey(), table, text);
            arrangeClient(centralWidget()->size());
        });
        connect(bar, &TableFilterBar::closed, this, [this, view] {
            arrangeClient(centralWidget()->size());
            view->setFocus();
        });
        connect(bar, &TableFilterBar::countChanged, this, &HostView::updateCounts);
        return bar;
    };
    m_listenerFilter = filterFor(m_listenerTable, m_listenerBox, ListenerTableName, "listener");
    m_processFilter = filterFor(m_processTable, m_processBox, ProcessTableName, "process");
    // The filter boxes come after the tables in the tab order.
    setTabOrder(m_processTable, m_listenerFilter->edit());
    setTabOrder(m_listenerFilter->edit(), m_processFilter->edit());

    m_listenerTransfer =
        new TableTransfer(m_listenerTable, m_environment.prompts, ListenerTableName);
    m_processTransfer = new TableTransfer(m_processTable, m_environment.prompts, ProcessTableName);

    // Sort and widths are remembered as soon as the operator sets them.
    for (auto [view, name] : {std::pair{m_listenerTable, ListenerTableName},
                              std::pair{m_processTable, ProcessTableName}}) {
        auto store = [this, view, name] {
            ConsoleSettings::Table t;
            if (view->operatorSized())
                t.widths = view->columnWidths();
            t.sortColumn = view->sortFilter()->sortColumn();
            t.descending = view->sortFilter()->sortOrder() == Qt::DescendingOrder;
            m_store->setTable(name, t);
        };
        connect(view, &RecordTableView::sortChanged, this, store);
        connect(view, &RecordTableView::columnsResized, this, store);
    }

    m_preferencesDialog = new PreferencesDialog(this);

    connect(m_reconnector, &Reconnector::statusChanged, this, &HostView::linkStateChanged);
    connect(m_reconnector, &Reconnector::attemptStarted, this, [this] { m_linkAttempt = true; });
    connect(m_session, &HostSession::linkStateChanged, this, &HostView::linkStateChanged);
    connect(m_session, &HostSession::listenersChanged, this, &HostView::listsRead);
    connect(m_session, &HostSession::processesChanged, this, &HostView::listsRead);
    linkStateChanged();
}

void HostView::restoreSettings()
{
    // Inside the window of many hosts the window keeps its own geometry.
    const QByteArray geometry = isWindow() ? m_store->geometry() : QByteArray();
    if (!geometry.isEmpty() && restoreGeometry(geometry))
        WindowPlacement::keepReachable(*this);
    if (const int height = m_store->listenerBoxHeight(); height > 0) {
        m_listenerBoxHeight = height;
        arrangeClient(centralWidget()->size());
    }
    for (auto [view, name] : {std::pair{m_listenerTable, ListenerTableName},
                              std::pair{m_processTable, ProcessTableName}}) {
        const ConsoleSettings::Table t = m_store->table(name);
        view->restoreColumnWidths(t.widths);
        if (t.sortColumn >= 0)
            view->sortBy(t.sortColumn, t.descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    }
    m_reconnector->setEnabled(m_store->autoReconnect());
    m_markNewRows = m_store->markNewRows();
    m_listenerTable->itemDelegate()->setMarkNewRows(m_markNewRows);
    m_processTable->itemDelegate()->setMarkNewRows(m_markNewRows);
    fillRecentMenu();
}

void HostView::saveSettings()
{
    if (isWindow())
        m_store->setGeometry(saveGeometry());
    m_store->setListenerBoxHeight(m_listenerBoxHeight);
    m_store->sync();
}

QString HostView::hostKey() const
{
    if (!m_settings.ConfigPath.isEmpty())
        return QFileInfo(m_settings.ConfigPath).absoluteFilePath();
    if (m_settings.HostAddress.isEmpty())
        return QString();
    return QString::fromLatin1(m_settings.HostAddress) + QLatin1Char(':') +
           QString::number(m_settings.Port);
}

void HostView::restoreFilters()
{
    const QString host = hostKey();
    m_listenerFilter->setText(m_store->filter(host, ListenerTableName));
    m_processFilter->setText(m_store->filter(host, ProcessTableName));
    m_statusBar->setHost(host.isEmpty() ? QString()
                                        : QString::fromLatin1(m_settings.HostAddress) +
                                              QLatin1Char(':') + QString::number(m_settings.Port));
    arrangeClient(centralWidget()->size());
    setAccentShown(m_accentShown);
    Q_EMIT summaryChanged();
}

void HostView::linkStateChanged()
{
    const bool up = m_session->linkState() == HostSession::LinkState::LoggedOn;
    if (up)
        m_everLoggedOn = true;
    m_statusBar->setLink(m_reconnector->statusText(), up || !m_everLoggedOn);
    const bool stale = m_session->listeners()->isStale();
    const QString note =
        stale && m_lastRead.isValid()
            ? QStringLiteral("Read at %1, before the link dropped").arg(clock(m_lastRead))
            : QString();
    m_listenerTable->itemDelegate()->setStaleNote(note);
    m_processTable->itemDelegate()->setStaleNote(note);
    if (stale && m_lastRead.isValid())
        m_statusBar->setRefreshed(QStringLiteral("Rows read at %1").arg(clock(m_lastRead)));
    updateCommands();
    Q_EMIT summaryChanged();
}

void HostView::updateCommands()
{
    // While the link is down the rows are only a picture of the past:
    // nothing may be asked of the host on their strength.
    const bool down = m_everLoggedOn && m_session->linkState() != HostSession::LinkState::LoggedOn;
    // (Shutdown Job without a link closes the window and sends nothing.)
    for (const char* name :
         {"startListenerAction", "killListenerAction", "killProcessAction", "changePriorityAction"})
        if (auto* a = findChild<QAction*>(QString::fromLatin1(name)))
            a->setEnabled(!down);
    for (QPushButton* b :
         {m_startListenerButton, m_killListenerButton, m_killProcessButton, m_changePriorityButton})
        b->setEnabled(!down);
}

void HostView::updateCounts()
{
    if (!m_listenerFilter || !m_processFilter)
        return;
    m_statusBar->setCounts(m_listenerFilter->countText() + QStringLiteral(" \u00b7 ") +
                           m_processFilter->countText());
}

void HostView::listsRead()
{
    if (!m_session->listeners()->isStale() &&
        m_session->linkState() == HostSession::LinkState::LoggedOn) {
        m_lastRead = QDateTime::currentDateTime();
        m_statusBar->setRefreshed(QStringLiteral("Refreshed %1").arg(clock(m_lastRead)));
    }
    const ProcessTableModel* processes = m_session->processes();
    const bool changed = processes->rowsStarted() > 0 || processes->rowsEnded() > 0;
    m_statusBar->setChanges(m_changesKnown && changed ? QStringLiteral("%1 started, %2 ended")
                                                            .arg(processes->rowsStarted())
                                                            .arg(processes->rowsEnded())
                                                      : QString());
    updateCounts();
    Q_EMIT summaryChanged();
}

void HostView::reconnect()
{
    if (m_closing)
        return;
    m_linkAttempt = true;
    m_session->setSettings(m_settings);
    m_reconnector->reconnectNow();
}

void HostView::setPaused(bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    m_pauseAction->setChecked(paused);
    m_statusBar->setPaused(paused);
    updateBusy();
    if (!paused && m_listStopped) {
        // Resumed after a stopped list: the link comes back and lists now.
        m_listStopped = false;
        refresh();
    }
}

void HostView::openFilter()
{
    TableFilterBar* bar = m_listenerTable->hasFocus() || m_listenerFilter->edit()->hasFocus()
                              ? m_listenerFilter
                              : m_processFilter;
    bar->open();
    arrangeClient(centralWidget()->size());
}

void HostView::editPreferences()
{
    m_preferencesDialog->showPreferences(m_reconnector->isEnabled(), m_markNewRows,
                                         m_store->reopenHosts());
    m_preferencesDialog->setRequireAudit(m_audit->isRequired());
    m_preferencesDialog->setKeyringPasswords(m_store->keyringPasswords());
    if (m_environment.prompts->runDialog(*m_preferencesDialog) != QDialog::Accepted)
        return;
    m_store->setRequireAudit(m_preferencesDialog->requireAudit());
    m_audit->setRequired(m_preferencesDialog->requireAudit());
    m_store->setKeyringPasswords(m_preferencesDialog->keyringPasswords());
    m_store->setAutoReconnect(m_preferencesDialog->autoReconnect());
    m_store->setMarkNewRows(m_preferencesDialog->markNewRows());
    m_store->setReopenHosts(m_preferencesDialog->reopenHosts());
    m_reconnector->setEnabled(m_preferencesDialog->autoReconnect());
    m_markNewRows = m_preferencesDialog->markNewRows();
    m_listenerTable->itemDelegate()->setMarkNewRows(m_markNewRows);
    m_processTable->itemDelegate()->setMarkNewRows(m_markNewRows);
    m_listenerTable->viewport()->update();
    m_processTable->viewport()->update();
}

void HostView::rememberFile()
{
    if (m_settings.ConfigPath.isEmpty())
        return;
    m_store->addRecentFile(QFileInfo(m_settings.ConfigPath).absoluteFilePath());
    fillRecentMenu();
}

void HostView::fillRecentMenu()
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
            if (!m_closing)
                guarded([this, path] { openRecent(path); });
        });
    }
    m_recentMenu->setEnabled(!files.isEmpty());
}

void HostView::openRecent(const QString& path)
{
    // As File, Load with the file already chosen.
    holdBusy();
    m_reconnector->hold();
    m_session->quit();
    m_settings.ConfigPath = path;
    showConfigPath();
    if (loadConfigFile())
        connectAndLogon();
    m_commandRunning = false;
    updateBusy();
}
