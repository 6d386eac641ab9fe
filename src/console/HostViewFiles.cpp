// The main window's file commands (Load, Save, Save As) and the Configure
// command with the dialog run that edits the settings.

#include "console/HostView.h"

#include "config/ConfigFile.h"
#include "console/ConsoleSettings.h"
#include "console/Notifier.h"
#include "console/Prompts.h"
#include "console/dialogs/ConfigureDialog.h"
#include "keyring/PasswordKeyring.h"
#include "session/HostSession.h"
#include "session/Reconnector.h"

#include <QDialog>
#include <QFileInfo>
#include <QScopedValueRollback>
#include <QTimer>

namespace {

// Both file dialogs (Load and Save As) start the same way: in the program's
// folder, on the configuration file in use.
FileDialogSetup configFileDialogSetup(const QString& programPath, const QString& configPath)
{
    FileDialogSetup setup;
    setup.title = QStringLiteral("Open Configuration File");
    QString folder = QFileInfo(programPath).absolutePath();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    setup.folder = folder;
    setup.fileName = configPath;
    setup.filters = {QStringLiteral("HCF Cfg Files(*.hcf)"), QStringLiteral("All Files(*.*)")};
    setup.defaultSuffix = QStringLiteral("HCF");
    return setup;
}

} // namespace

void HostView::showConfigPath()
{
    if (!m_settings.ConfigPath.isEmpty())
        setWindowTitle(QStringLiteral("Orvanite Server Console - ") + m_settings.ConfigPath);
}

bool HostView::loadConfigFile()
{
    if (m_settings.ConfigPath.isEmpty())
        return true;
    const ConfigResult result = loadConfig(m_settings.ConfigPath, m_settings);
    if (!result.ok()) {
        // The interval is the last value taken: an error leaves it (and the
        // timer) as they were.
        m_environment.prompts->showMessage(result.message);
        return false;
    }
    m_refreshTimer->setInterval(m_settings.RefreshInterval);
    loadConsoleSideSettings();
    rememberFile();
    return true;
}

void HostView::saveConfigFile()
{
    if (m_settings.ConfigPath.isEmpty())
        return;
    if (!m_store->keyringPasswords() || PasswordKeyring::noPasswords(m_settings)) {
        writeConfigFile(m_settings);
        return;
    }
    // The passwords go to the keyring first; the file is written once it has
    // answered, without them, or with them when no keyring took them.
    const ConnectionSettings saved = m_settings;
    PasswordKeyring::store(saved.ConfigPath, PasswordKeyring::passwordsOf(saved), this,
                           [this, saved](const PasswordKeyring::Result& r) {
                               ConnectionSettings written = saved;
                               if (r.outcome == PasswordKeyring::Outcome::Done)
                                   PasswordKeyring::setPasswords(written, {});
                               else
                                   m_environment.prompts->showMessage(
                                       PasswordKeyring::notStoredText(r.message));
                               writeConfigFile(written);
                           });
}

// --- Kept beside the file, not in it: the SSH tunnel (the console's
// settings) and the passwords (the desktop keyring, when chosen).

void HostView::writeConfigFile(const ConnectionSettings& settings)
{
    const ConfigResult result = saveConfig(settings.ConfigPath, settings, m_random);
    if (!result.ok()) {
        m_environment.prompts->showMessage(result.message);
        return;
    }
    m_store->setSshDestination(settings.ConfigPath, settings.SshDestination);
    rememberFile();
}

void HostView::loadConsoleSideSettings()
{
    m_settings.SshDestination = m_store->sshDestination(m_settings.ConfigPath);
    m_keyringLookupDue = m_store->keyringPasswords() && PasswordKeyring::noPasswords(m_settings);
}

bool HostView::keyringLookupFirst()
{
    if (!m_keyringLookupDue)
        return false;
    // A file saved with its passwords in the keyring: they are looked up
    // before the connection is made, which goes on once the keyring answered
    // (without them if it holds none or none answered).
    m_keyringLookupDue = false;
    const QString path = m_settings.ConfigPath;
    PasswordKeyring::lookup(path, this, [this, path](const PasswordKeyring::Result& r) {
        if (m_closing || m_settings.ConfigPath != path)
            return;
        if (r.outcome == PasswordKeyring::Outcome::Done && PasswordKeyring::noPasswords(m_settings))
            PasswordKeyring::setPasswords(m_settings, r.passwords);
        connectAndLogon();
    });
    return true;
}

bool HostView::editSettings()
{
    m_configureDialog->showSettings(m_settings);
    if (m_environment.prompts->runDialog(*m_configureDialog) != QDialog::Accepted) {
        close();
        return false;
    }
    // A value that cannot be taken ends the command with its message; the
    // values before it stay taken.
    m_configureDialog->takeSettings(m_settings);
    m_refreshTimer->setInterval(m_settings.RefreshInterval);
    return true;
}

bool HostView::openConfigFile(OpenMode mode)
{
    const bool wasRunning = m_commandRunning;
    holdBusy();
    const QString chosen = m_environment.prompts->chooseOpenFile(
        configFileDialogSetup(m_environment.programPath, m_settings.ConfigPath));
    bool ok = true;
    if (!chosen.isEmpty()) {
        if (mode == OpenMode::Reconnect) {
            m_reconnector->hold(); // the link goes down on purpose
            m_notifier->expectLinkEnd();
            m_session->quit();
        }
        m_settings.ConfigPath = QFileInfo(chosen).absoluteFilePath();
        showConfigPath();
        ok = loadConfigFile();
        if (ok && mode == OpenMode::Reconnect)
            connectAndLogon();
        else if (ok)
            m_configureDialog->showSettings(m_settings);
    }
    m_commandRunning = wasRunning;
    updateBusy();
    return ok;
}

void HostView::loadConfiguration()
{
    openConfigFile(OpenMode::Reconnect);
}

void HostView::saveConfiguration()
{
    if (m_settings.ConfigPath.isEmpty()) {
        saveConfigurationAs();
        return;
    }
    holdBusy();
    saveConfigFile();
}

void HostView::saveConfigurationAs()
{
    holdBusy();
    const QString chosen = m_environment.prompts->chooseSaveFile(
        configFileDialogSetup(m_environment.programPath, m_settings.ConfigPath));
    if (!chosen.isEmpty()) {
        m_settings.ConfigPath = QFileInfo(chosen).absoluteFilePath();
        saveConfigFile();
    }
}

void HostView::configure()
{
    m_reconnector->hold(); // the link goes down on purpose
    if (connected()) {
        m_notifier->expectLinkEnd();
        m_session->disconnectFromHost();
    }
    // No refresh runs while the dialog is open; the busy state is left as it is.
    QScopedValueRollback<bool> open(m_dialogOpen, true);
    // A cancelled dialog has closed the window: no new connection on the way out.
    if (!editSettings() || m_closing)
        return;
    connectAndLogon();
}
