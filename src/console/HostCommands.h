#pragma once

#include <QObject>

class AddListenerDialog;
class ChangePriorityDialog;
class HostController;
class QWidget;
class RecordTableView;

// One host's operator commands: each checks its guard, confirms where it
// destroys something or runs its dialog, and hands one request to the
// session, which lists the tables again afterwards. The rows acted on are
// those selected in the host's tables.
class HostCommands : public QObject
{
    Q_OBJECT

public:
    // The dialogs are made over dialogParent.
    HostCommands(HostController* controller, RecordTableView* listenerTable,
                 RecordTableView* processTable, QWidget* dialogParent);

    void startListener();
    void killListener();
    void killProcess();
    void changePriority();
    void shutdownJob();

private:
    HostController* m_controller;
    RecordTableView* m_listenerTable;
    RecordTableView* m_processTable;
    AddListenerDialog* m_addListenerDialog;
    ChangePriorityDialog* m_changePriorityDialog;
};
