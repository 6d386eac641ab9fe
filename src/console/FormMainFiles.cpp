// The main window's file commands (Load, Save, Save As), the Configure command
// with the dialog run that edits the settings, and Help, About...

#include "FormMain.h"

#include "AppErrors.h"
#include "ConfigFile.h"
#include "Configur.h"
#include "HostSocket.h"
#include "Prompts.h"
#include "Wire.h"

#include <QDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>

namespace {

QString FromBytes(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes);
}

// The boxes hold only Latin-1 text (typed characters outside it are dropped
// as they are typed), so this conversion loses nothing.
QByteArray ToBytes(const QLineEdit* box)
{
    return box->text().toLatin1();
}

int ClampInterval(int seconds)
{
    return std::clamp(seconds, 5, 60);
}

// Both file dialogs (Load and Save As) start the same way: in the program's
// folder, on the configuration file in use.
FileDialogSetup ConfigFileDialogSetup(const QString& programPath, const QString& configPath)
{
    FileDialogSetup setup;
    setup.Title = QStringLiteral("Open Configuration File");
    QString folder = QFileInfo(programPath).absolutePath();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    setup.Folder = folder;
    setup.FileName = configPath;
    setup.Filters = {QStringLiteral("HCF Cfg Files(*.hcf)"), QStringLiteral("All Files(*.*)")};
    setup.DefaultSuffix = QStringLiteral("HCF");
    return setup;
}

} // namespace

void TMainAppForm::LoadConfigFile()
{
    if (Settings.ConfigPath.isEmpty())
        return;
    ::LoadConfigFile(Settings.ConfigPath, Settings);
    // The interval is the last value taken: an error leaves it (and the
    // timer) as they were.
    if (Timer1)
        Timer1->setInterval(Settings.RefreshInterval);
}

void TMainAppForm::SaveConfigFile()
{
    if (Settings.ConfigPath.isEmpty())
        return;
    const QString message = ::SaveConfigFile(Settings.ConfigPath, Settings, Random);
    if (!message.isEmpty())
        m_deps.Prompts->ShowMessage(message);
}

void TMainAppForm::FillConfigureDlg()
{
    TConfigureDlg& dlg = *ConfigureDlg;
    dlg.HostAddress->setText(FromBytes(Settings.HostAddress));
    dlg.Port->setText(QString::number(Settings.Port));
    dlg.User->setText(FromBytes(Settings.User));
    dlg.UP->setText(FromBytes(Settings.UserPassword));
    dlg.Group->setText(FromBytes(Settings.Group));
    dlg.GP->setText(FromBytes(Settings.GroupPassword));
    dlg.Account->setText(FromBytes(Settings.Account));
    dlg.AP->setText(FromBytes(Settings.AccountPassword));
    dlg.edInterval->setText(QString::number(Settings.RefreshInterval / 1000));
}

void TMainAppForm::EditSettings()
{
    TConfigureDlg& dlg = *ConfigureDlg;
    // The dialog's Load button comes back here. An error of that load is
    // shown at once, and the dialog stays open for another try.
    dlg.OpenConfigFile = [this](int mode) {
        try {
            OpenConfigFile(mode);
            return true;
        } catch (const EAppError& e) {
            m_deps.Prompts->ShowMessage(e.message());
            return false;
        }
    };
    FillConfigureDlg();

    if (m_deps.Prompts->RunDialog(dlg) != QDialog::Accepted) {
        close();
        return;
    }

    // Each value replaces its setting at once: a conversion error leaves the
    // values taken before it changed.
    Settings.User = ToBytes(dlg.User);
    Settings.UserPassword = ToBytes(dlg.UP);
    Settings.AccountPassword = ToBytes(dlg.AP);
    Settings.GroupPassword = ToBytes(dlg.GP);
    Settings.Account = ToBytes(dlg.Account);
    Settings.Group = ToBytes(dlg.Group);
    const std::int32_t port = StrToInt(ToBytes(dlg.Port));
    if (port < 0 || port > 65535)
        throw ERangeError();
    Settings.Port = quint16(port);
    Settings.HostAddress = ToBytes(dlg.HostAddress);
    Settings.RefreshInterval = ClampInterval(StrToInt(ToBytes(dlg.edInterval))) * 1000;
    if (Timer1)
        Timer1->setInterval(Settings.RefreshInterval);
}

void TMainAppForm::OpenConfigFile(int mode)
{
    SetBusy(true);
    try {
        const QString chosen = m_deps.Prompts->ChooseOpenFile(
            ConfigFileDialogSetup(m_deps.ProgramPath, Settings.ConfigPath));
        if (!chosen.isEmpty()) {
            if (mode == 1) {
                SendRequest(QByteArrayView(&Wire::Quit, 1));
                Socket().Disconnect();
            }
            Settings.ConfigPath = QFileInfo(chosen).absoluteFilePath();
            if (!Settings.ConfigPath.isEmpty())
                setWindowTitle(QStringLiteral("Orvanite Server Console - ") + Settings.ConfigPath);
            LoadConfigFile();
            if (mode == 1)
                ConnectAndLogon();
            else if (ConfigureDlg)
                FillConfigureDlg();
        }
    } catch (...) {
        // The command ends with the error; the operator is not left with a
        // dead Refresh button.
        SetBusy(false);
        throw;
    }
    SetBusy(false);
}

void TMainAppForm::menuConfigLoadClick()
{
    OpenConfigFile(1);
}

void TMainAppForm::menuConfigSaveClick()
{
    SetBusy(true);
    if (Settings.ConfigPath.isEmpty()) {
        menuSaveAsClick();
        return;
    }
    SaveConfigFile();
    SetBusy(false);
}

void TMainAppForm::menuSaveAsClick()
{
    SetBusy(true);
    const QString chosen = m_deps.Prompts->ChooseSaveFile(
        ConfigFileDialogSetup(m_deps.ProgramPath, Settings.ConfigPath));
    if (!chosen.isEmpty()) {
        Settings.ConfigPath = QFileInfo(chosen).absoluteFilePath();
        SaveConfigFile();
    }
    SetBusy(false);
}

void TMainAppForm::menuConfigureClick()
{
    if (Socket().State() == hsConnected)
        Socket().Disconnect();
    EditSettings();
    // A cancelled dialog has closed the window: no new connection on the way out.
    if (IsClosing())
        return;
    ConnectAndLogon();
}

void TMainAppForm::menuAboutClick()
{
    if (!AboutBox)
        return;
    AboutBox->SetCountdown(10000);
    AboutBox->ShowModal();
}
