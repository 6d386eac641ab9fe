// The host's operator commands: each checks its guard, confirms where it
// destroys something or runs its dialog, and hands one request to the
// session, which records it in the audit trail, encodes it and lists the
// tables again afterwards.

#include "console/HostCommands.h"

#include "console/HostController.h"
#include "console/Notifier.h"
#include "console/Prompts.h"
#include "console/RecordTableView.h"
#include "console/dialogs/AddListenerDialog.h"
#include "console/dialogs/ChangePriorityDialog.h"
#include "session/HostCommand.h"
#include "session/HostSession.h"
#include "session/ListenerTableModel.h"
#include "session/ProcessTableModel.h"

#include <QDialog>

namespace {

QString latin1(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes);
}

} // namespace

HostCommands::HostCommands(HostController* controller, RecordTableView* listenerTable,
                           RecordTableView* processTable, QWidget* dialogParent)
    : QObject(controller), m_controller(controller), m_listenerTable(listenerTable),
      m_processTable(processTable), m_addListenerDialog(new AddListenerDialog(dialogParent)),
      m_changePriorityDialog(new ChangePriorityDialog(dialogParent))
{
}

void HostCommands::startListener()
{
    if (m_controller->isClosing() || !m_controller->connected())
        return;
    m_controller->holdBusy();
    if (m_controller->prompts()->runDialog(*m_addListenerDialog) == QDialog::Accepted) {
        const AddListenerDialog& d = *m_addListenerDialog;
        m_controller->session()->send(
            HostCommand::startListener(d.product(), d.port(), d.users(), d.command()));
    } else {
        m_controller->session()->refresh();
    }
}

void HostCommands::killListener()
{
    const ListenerTableModel* listeners = m_controller->session()->listeners();
    const int row = m_listenerTable->targetRow();
    const QByteArray pin = listeners->cell(row, ListenerColumn::Pin).toByteArray();
    if (m_controller->isClosing() || !m_controller->connected() || pin.isEmpty())
        return;
    m_controller->holdBusy();
    const QString text = QStringLiteral("This will abort all users connected via this listener!\r"
                                        "Kill listener for port:") +
                         latin1(listeners->cell(row, ListenerColumn::Port)) + QLatin1Char('\r') +
                         latin1(listeners->cell(row, ListenerColumn::Product)) + QLatin1Char('\r') +
                         latin1(listeners->cell(row, ListenerColumn::Program));
    if (m_controller->prompts()->confirm(text)) {
        m_controller->notifier()->expectListenerGone(pin);
        m_controller->session()->send(
            HostCommand::killListener(pin, listeners->cell(row, ListenerColumn::Port).toByteArray(),
                                      listeners->cell(row, ListenerColumn::Program).toByteArray()));
    } else
        m_controller->session()->refresh();
}

void HostCommands::killProcess()
{
    const ProcessTableModel* processes = m_controller->session()->processes();
    const int row = m_processTable->targetRow();
    const QByteArray mainPin = processes->cell(row, ProcessColumn::Main).toByteArray();
    if (m_controller->isClosing() || !m_controller->connected() || mainPin.isEmpty())
        return;
    m_controller->holdBusy();
    const QByteArray pin = processes->cell(row, ProcessColumn::Pin).toByteArray();
    const QString text =
        QStringLiteral("This will abort the user connected to this process!\rKill Process:") +
        latin1(pin) + QLatin1Char('\r') + latin1(processes->cell(row, ProcessColumn::Program)) +
        QLatin1Char('\r') + latin1(processes->cell(row, ProcessColumn::User));
    if (m_controller->prompts()->confirm(text)) {
        m_controller->session()->send(
            HostCommand::killProcess(m_controller->session()->selectedListener(), mainPin, pin,
                                     processes->cell(row, ProcessColumn::Program).toByteArray(),
                                     processes->cell(row, ProcessColumn::User).toByteArray()));
    } else
        m_controller->session()->refresh();
}

void HostCommands::changePriority()
{
    const ProcessTableModel* processes = m_controller->session()->processes();
    const int row = m_processTable->targetRow();
    const QByteArray pin = processes->cell(row, ProcessColumn::Pin).toByteArray();
    if (m_controller->isClosing() || !m_controller->connected() || pin.isEmpty())
        return;
    m_controller->holdBusy();
    m_changePriorityDialog->showProcess(pin, processes->cell(row, ProcessColumn::Program),
                                        processes->cell(row, ProcessColumn::User),
                                        processes->cell(row, ProcessColumn::Priority));
    if (m_controller->prompts()->runDialog(*m_changePriorityDialog) == QDialog::Accepted) {
        m_controller->session()->send(HostCommand::setPriority(
            m_controller->session()->selectedListener(), pin, m_changePriorityDialog->queueCode(),
            processes->cell(row, ProcessColumn::Program).toByteArray(),
            processes->cell(row, ProcessColumn::User).toByteArray()));
    } else
        m_controller->session()->refresh();
}

void HostCommands::shutdownJob()
{
    if (m_controller->isClosing())
        return;
    if (!m_controller->connected()) {
        // Nothing to shut down: the window closes and nothing is sent.
        m_controller->close();
        return;
    }
    m_controller->holdBusy();
    if (m_controller->prompts()->confirm(
            QStringLiteral("WARNING: This will abort all users!\rAre you sure?"))) {
        // A shutdown that could not be recorded (with the preference) was
        // not sent: the window stays, the reason in its status line.
        bool refused = false;
        HostSession* session = m_controller->session();
        const QMetaObject::Connection watch =
            connect(session, &HostSession::commandNotSent, this, [&refused] { refused = true; });
        session->send(HostCommand::shutdownJob());
        disconnect(watch);
        if (!refused)
            m_controller->close();
    }
}
