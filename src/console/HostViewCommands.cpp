// The main window's operator commands: each checks its guard, confirms where
// it destroys something or runs its dialog, and hands one request to the
// session, which records it in the audit trail, encodes it and lists the
// tables again afterwards.

#include "console/HostView.h"

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

void HostView::refresh()
{
    if (m_closing)
        return;
    if (m_listStopped) {
        m_listStopped = false;
        setPaused(false);
    }
    m_session->refresh();
}

void HostView::startListener()
{
    if (m_closing || !connected())
        return;
    holdBusy();
    if (m_environment.prompts->runDialog(*m_addListenerDialog) == QDialog::Accepted) {
        const AddListenerDialog& d = *m_addListenerDialog;
        m_session->send(HostCommand::startListener(d.product(), d.port(), d.users(), d.command()));
    } else {
        m_session->refresh();
    }
}

void HostView::killListener()
{
    const ListenerTableModel* listeners = m_session->listeners();
    const int row = m_listenerTable->selectedRow();
    const QByteArray pin = listeners->cell(row, ListenerColumn::Pin).toByteArray();
    if (m_closing || !connected() || pin.isEmpty())
        return;
    holdBusy();
    const QString text = QStringLiteral("This will abort all users connected via this listener!\r"
                                        "Kill listener for port:") +
                         latin1(listeners->cell(row, ListenerColumn::Port)) + QLatin1Char('\r') +
                         latin1(listeners->cell(row, ListenerColumn::Product)) + QLatin1Char('\r') +
                         latin1(listeners->cell(row, ListenerColumn::Program));
    if (m_environment.prompts->confirm(text)) {
        m_notifier->expectListenerGone(pin);
        m_session->send(
            HostCommand::killListener(pin, listeners->cell(row, ListenerColumn::Port).toByteArray(),
                                      listeners->cell(row, ListenerColumn::Program).toByteArray()));
    } else
        m_session->refresh();
}

void HostView::killProcess()
{
    const ProcessTableModel* processes = m_session->processes();
    const int row = m_processTable->selectedRow();
    const QByteArray mainPin = processes->cell(row, ProcessColumn::Main).toByteArray();
    if (m_closing || !connected() || mainPin.isEmpty())
        return;
    holdBusy();
    const QByteArray pin = processes->cell(row, ProcessColumn::Pin).toByteArray();
    const QString text =
        QStringLiteral("This will abort the user connected to this process!\rKill Process:") +
        latin1(pin) + QLatin1Char('\r') + latin1(processes->cell(row, ProcessColumn::Program)) +
        QLatin1Char('\r') + latin1(processes->cell(row, ProcessColumn::User));
    if (m_environment.prompts->confirm(text)) {
        m_session->send(
            HostCommand::killProcess(m_session->selectedListener(), mainPin, pin,
                                     processes->cell(row, ProcessColumn::Program).toByteArray(),
                                     processes->cell(row, ProcessColumn::User).toByteArray()));
    } else
        m_session->refresh();
}

void HostView::changePriority()
{
    const ProcessTableModel* processes = m_session->processes();
    const int row = m_processTable->selectedRow();
    const QByteArray pin = processes->cell(row, ProcessColumn::Pin).toByteArray();
    if (m_closing || !connected() || pin.isEmpty())
        return;
    holdBusy();
    m_changePriorityDialog->showProcess(pin, processes->cell(row, ProcessColumn::Program),
                                        processes->cell(row, ProcessColumn::User),
                                        processes->cell(row, ProcessColumn::Priority));
    if (m_environment.prompts->runDialog(*m_changePriorityDialog) == QDialog::Accepted) {
        m_session->send(HostCommand::setPriority(
            m_session->selectedListener(), pin, m_changePriorityDialog->queueCode(),
            processes->cell(row, ProcessColumn::Program).toByteArray(),
            processes->cell(row, ProcessColumn::User).toByteArray()));
    } else
        m_session->refresh();
}

void HostView::shutdownJob()
{
    if (m_closing)
        return;
    if (!connected()) {
        // Nothing to shut down: the window closes and nothing is sent.
        close();
        return;
    }
    holdBusy();
    if (m_environment.prompts->confirm(
            QStringLiteral("WARNING: This will abort all users!\rAre you sure?"))) {
        // A shutdown that could not be recorded (with the preference) was
        // not sent: the window stays, the reason in its status line.
        bool refused = false;
        const QMetaObject::Connection watch =
            connect(m_session, &HostSession::commandNotSent, this, [&refused] { refused = true; });
        m_session->send(HostCommand::shutdownJob());
        disconnect(watch);
        if (!refused)
            close();
    }
}
