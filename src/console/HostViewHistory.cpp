// What the main window keeps of the past: the trends pane and the listener
// table's sparklines over a trend collector, desktop notifications, and the
// audit trail of the commands that change the host with its viewer.

#include "console/ConsoleSettings.h"
#include "console/HostView.h"

#include "console/Notifier.h"
#include "console/Prompts.h"
#include "console/RecordTableView.h"
#include "console/SparklineDelegate.h"
#include "console/TrendsPane.h"
#include "console/dialogs/AuditDialog.h"
#include "session/AuditTrail.h"
#include "session/HostSession.h"
#include "session/ListenerTableModel.h"
#include "session/TrendCollector.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace {

const QString TrendsKey = QStringLiteral("trends");

} // namespace

void HostView::buildHistory()
{
    m_audit = new CommandAudit(m_session, QStringLiteral("orvanite-console"), this);
    m_audit->setObjectName(QStringLiteral("commandAudit"));
    // A line that cannot be written is told in the status line, and the
    // first time for each cause in a message box naming the file and why.
    // With the preference the command is not sent at all.
    m_audit->setRequired(m_store->requireAudit());
    connect(m_audit, &CommandAudit::writeFailed, this, &HostView::showStatus);
    connect(
        m_audit, &CommandAudit::writeFailedFirstTime, this,
        [this](const QString& text) { m_environment.prompts->showMessage(text); },
        Qt::QueuedConnection);

    m_trendCollector = new TrendCollector(m_session, this);
    m_trendCollector->setObjectName(QStringLiteral("trendCollector"));
    // The pane and its charts are made when the trends are first shown.
    // The listener table's delegate also draws the sparklines; it takes over
    // what the plain one was told.
    m_sparklines = new SparklineDelegate(&m_trendCollector->history(), int(ListenerColumn::Pin),
                                         int(ListenerColumn::MaxUsers), this);
    m_sparklines->setMarkNewRows(m_markNewRows);
    m_listenerTable->setRecordDelegate(m_sparklines);
    connect(m_trendCollector, &TrendCollector::sampled, this, &HostView::trendsSampled);
    connect(m_session, &HostSession::processListRequested, this, &HostView::updateTrendListener);

    m_notifier = new Notifier(m_session, this);
    m_notifier->setObjectName(QStringLiteral("notifier"));

    m_viewMenu = new QMenu(QStringLiteral("&View"), this);
    m_viewMenu->setObjectName(QStringLiteral("viewMenu"));
    menuBar()->insertMenu(m_helpMenu->menuAction(), m_viewMenu);
    QAction* trends = m_viewMenu->addAction(QStringLiteral("&Trends"));
    trends->setObjectName(QStringLiteral("trendsAction"));
    trends->setCheckable(true);
    connect(trends, &QAction::toggled, this, &HostView::setTrendsShown);
    m_viewMenu->addSeparator();
    QMenu* notify = m_viewMenu->addMenu(QStringLiteral("&Notify When"));
    notify->setObjectName(QStringLiteral("notifyMenu"));
    for (int k = 0; k < Notifier::KindCount; ++k) {
        const auto kind = Notifier::Kind(k);
        QAction* a = notify->addAction(Notifier::kindTitle(kind));
        a->setObjectName(QStringLiteral("notify") +
                         Notifier::kindTitle(kind).remove(QLatin1Char(' ')) +
                         QStringLiteral("Action"));
        a->setCheckable(true);
        const QString key = Notifier::settingsKey(kind);
        m_notifier->setEnabled(kind, m_store->preference(key, true));
        a->setChecked(m_notifier->isEnabled(kind));
        connect(a, &QAction::toggled, this, [this, kind, key](bool on) {
            m_notifier->setEnabled(kind, on);
            m_store->setPreference(key, on);
        });
    }

    QAction* audit = new QAction(QStringLiteral("Audit &Trail..."), this);
    audit->setObjectName(QStringLiteral("auditTrailAction"));
    const QList<QAction*> help = m_helpMenu->actions();
    QAction* before = help.isEmpty() ? nullptr : help.first();
    m_helpMenu->insertAction(before, audit);
    m_helpMenu->insertSeparator(before);
    connect(audit, &QAction::triggered, this, &HostView::showAuditTrail);

    // The pane is hidden until the operator asks for it, and stays as left.
    trends->setChecked(m_store->preference(TrendsKey, false));
}

void HostView::setTrendsShown(bool shown)
{
    m_store->setPreference(TrendsKey, shown);
    if (shown && !m_trendsPane) {
        m_trendsPane = new TrendsPane(&m_trendCollector->history(), centralWidget());
        m_trendsPane->setObjectName(QStringLiteral("trendsPane"));
    }
    if (m_trendsPane)
        m_trendsPane->setVisible(shown);
    m_sparklines->setActive(shown);
    // Every listener's processes are listed after each refresh only while
    // the trends (or the All hosts summary) need them.
    m_trendsOn = shown;
    m_trendCollector->setEnabled(shown || m_countingEveryListener);
    if (shown) {
        updateTrendListener();
        m_trendsPane->updateCharts();
    }
    arrangeClient(centralWidget()->size());
    m_listenerTable->viewport()->update();
}

void HostView::setCountingEveryListener(bool on)
{
    m_countingEveryListener = on;
    m_trendCollector->setEnabled(m_trendsOn || on);
    Q_EMIT summaryChanged();
}

void HostView::trendsSampled()
{
    QHash<QByteArray, int> counts;
    for (const ListenerCensus& l : m_trendCollector->census().summary().perListener)
        counts.insert(l.pin, int(l.processes));
    m_notifier->setListenerCounts(counts);
    Q_EMIT summaryChanged();
    if (!m_trendsPane || m_trendsPane->isHidden())
        return;
    updateTrendListener();
    m_trendsPane->updateCharts();
    m_listenerTable->viewport()->update();
}

void HostView::updateTrendListener()
{
    if (!m_trendsPane || m_trendsPane->isHidden())
        return;
    const QByteArray pin = m_session->selectedListener();
    const ListenerTableModel* listeners = m_session->listeners();
    const int row = listeners->findPin(pin);
    const QString caption =
        row < 0 ? QString::fromLatin1(pin)
                : QStringLiteral("%1 (%2, port %3)")
                      .arg(QString::fromLatin1(pin),
                           QString::fromLatin1(listeners->cell(row, ListenerColumn::Program)),
                           QString::fromLatin1(listeners->cell(row, ListenerColumn::Port)));
    m_trendsPane->setListener(pin, caption);
}

void HostView::showAuditTrail()
{
    if (!m_auditDialog)
        m_auditDialog = new AuditDialog(m_audit->trail().path(), this);
    // Not modal: the operator may keep it open beside the tables.
    if (m_auditDialog->isVisible())
        m_auditDialog->reload();
    m_auditDialog->show();
    m_auditDialog->raise();
    m_auditDialog->activateWindow();
}
