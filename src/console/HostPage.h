#pragma once

#include "console/ConsoleStatusBar.h"

#include <QByteArray>
#include <QPointer>
#include <QWidget>

class AuditDialog;
class HostCommands;
class HostController;
class PageSplitter;
class PreferencesDialog;
class QGroupBox;
class QPushButton;
class RecordTableView;
class SparklineDelegate;
class TableFilterBar;
class TrendsPane;

// What the operator sees of one host: the listener box, the purple splitter,
// the process box and the button bar, in layouts, with the host's status
// line (shown by the window below the pages). The page follows its
// HostController: it shows the tables, the selection, the busy state and the
// link, and turns the operator's clicks into the controller's and the
// commands' calls.
class HostPage : public QWidget
{
    Q_OBJECT

public:
    explicit HostPage(HostController* controller, QWidget* parent = nullptr);
    ~HostPage() override;

    HostController* controller() const { return m_controller; }
    HostCommands* commands() const { return m_commands; }
    ConsoleStatusBar* statusBar() const { return m_statusBar; }
    RecordTableView* listenerTable() const { return m_listenerTable; }
    RecordTableView* processTable() const { return m_processTable; }
    QPushButton* refreshButton() const { return m_refreshButton; }
    QPushButton* startListenerButton() const { return m_startListenerButton; }
    QPushButton* killListenerButton() const { return m_killListenerButton; }
    QPushButton* killProcessButton() const { return m_killProcessButton; }
    QPushButton* changePriorityButton() const { return m_changePriorityButton; }

    // The commands that ask something of the host may be given (the link
    // is up, or was never up).
    bool commandsAllowed() const;
    bool trendsShown() const { return m_trendsShown; }
    void setTrendsShown(bool shown);
    // Shows the host's name in its accent colour in the status line (while
    // more than one host is open), or nothing.
    void setAccentShown(bool shown);
    // Opens the filter box of the table in use.
    void openFilter();
    void editPreferences();
    void showAuditTrail();

Q_SIGNALS:
    // What commandsAllowed() returns may have changed.
    void commandsAllowedChanged();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildTables();
    void buildButtonBar();
    void buildFilters();
    void connectController();
    void restoreSettings();
    void fitBoxMargins();
    void fitColumns();
    void widenCpuColumn();
    void applySplit();
    void splitterMoved(int top);
    void fitTrends();
    void showBusy(bool busy);
    void setButtonEnabled(QPushButton* button, bool enabled);
    void restoreFilters();
    void linkStateChanged();
    void updateCounts();
    void listsRead();
    void listenerChosen(int row);
    void listenersChanged();
    void processesChanged();
    void processListRequested(const QByteArray& listenerPin);
    void priorityColumnAdded();
    void trendsSampled();
    void updateTrendListener();

    HostController* m_controller;
    HostCommands* m_commands = nullptr;
    QGroupBox* m_listenerBox = nullptr;
    PageSplitter* m_splitter = nullptr;
    QGroupBox* m_processBox = nullptr;
    QWidget* m_buttonBar = nullptr;
    RecordTableView* m_listenerTable = nullptr;
    RecordTableView* m_processTable = nullptr;
    QPushButton* m_refreshButton = nullptr;
    QPushButton* m_startListenerButton = nullptr;
    QPushButton* m_killListenerButton = nullptr;
    QPushButton* m_killProcessButton = nullptr;
    QPushButton* m_changePriorityButton = nullptr;
    // Shown by the window, which may outlive the page's place in it.
    QPointer<ConsoleStatusBar> m_statusBar;
    TableFilterBar* m_listenerFilter = nullptr;
    TableFilterBar* m_processFilter = nullptr;
    PreferencesDialog* m_preferencesDialog = nullptr;
    SparklineDelegate* m_sparklines = nullptr;
    TrendsPane* m_trendsPane = nullptr;   // made when first shown
    AuditDialog* m_auditDialog = nullptr; // made when first asked for

    // The process the operator chose, by PIN; empty: the first one listed.
    QByteArray m_processPin;
    QByteArray m_listedPin; // the listener whose processes are shown
    bool m_restoringSelection = false;
    // The height of the listener box: the operator sets it with the
    // splitter, and a window too short lowers it.
    int m_listenerBoxHeight = 169;
    bool m_markNewRows = true;
    bool m_trendsShown = false;
    bool m_accentShown = false;  // the host's name in its colour in the status line
    bool m_focusRefresh = false; // the first connection is ready: Refresh takes the focus once free
    bool m_firstConnection = true; // no connection has been made yet
    // The processes listed are of the same listener as before: what started
    // and ended is worth telling.
    bool m_changesKnown = false;
};
