#pragma once

#include "ConnectionSettings.h"
#include "ConsoleProtocol.h"

#include <QByteArray>
#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <memory>
#include <random>

class QAction;
class QFileDialog;
class QGroupBox;
class QMenu;
class QPushButton;
class QSplitter;
class QTimer;
class QWidget;

class IEventLog;
class IPrompts;
class StringGrid;
class TAddListener;
class TConfigureDlg;
class THostSocket;
class TProcessPri;

// The About box as the main window sees it; the box belongs to the program frame.
class IAboutBox
{
public:
    virtual ~IAboutBox() = default;
    // Writing a nonzero interval starts the countdown, 0 stops it.
    virtual void SetCountdown(int milliseconds) = 0;
    // Shows the box modally; returns when it closes.
    virtual void ShowModal() = 0;
};

// Everything the main window needs from outside, handed over at creation.
struct MainFormDeps
{
    IPrompts* Prompts = nullptr;     // required
    IEventLog* EventLog = nullptr;   // required
    QStringList Arguments;           // command-line arguments, without the program name
    QString ProgramPath;             // full path of the program's own file
};

// The main window: connection control and busy state, the listener and process
// tables, the operator commands, the file commands and the window layout. It
// owns the one host socket and the connection settings.
class TMainAppForm : public QMainWindow
{
    Q_OBJECT

public:
    explicit TMainAppForm(const MainFormDeps& deps, QWidget* parent = nullptr);
    ~TMainAppForm() override;

    // Dialogs created by the program entry once and reused; set before the first show.
    TAddListener* AddListener = nullptr;
    TProcessPri* ProcessPri = nullptr;
    TConfigureDlg* ConfigureDlg = nullptr;
    IAboutBox* AboutBox = nullptr;

    // --- State ---------------------------------------------------------------
    ConnectionSettings Settings;
    bool FirstShow = true;
    int ListenerRows = 1;
    int ProcessRows = 1;
    int SelectedListenerRow = 1;
    int SelectedProcessRow = 1;
    std::mt19937 Random; // seeded once at creation; draws the configuration file key

    THostSocket& Socket() { return *m_socket; }
    TConsoleProtocol& Protocol() { return *m_protocol; }
    bool IsBusy() const;

    // --- Controls --------------------------------------------------------------
    QGroupBox* GroupBox1 = nullptr;
    QSplitter* Splitter1 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QWidget* Panel1 = nullptr;
    StringGrid* ListenerArray = nullptr;
    StringGrid* ProcessArray = nullptr;
    QPushButton* btnManualRefresh = nullptr;
    QPushButton* btnStartListener = nullptr;
    QPushButton* btnKillListener = nullptr;
    QPushButton* btnKillProcess = nullptr;
    QPushButton* BtnChangePri = nullptr;
    QMenu* File1 = nullptr;
    QAction* menuConfigLoad = nullptr;
    QAction* menuConfigSave = nullptr;
    QAction* menuSaveAs = nullptr;
    QAction* menuConfigure = nullptr;
    QAction* menuShutdownJob = nullptr;
    QAction* menuExit = nullptr;
    QMenu* Control1 = nullptr;
    QAction* RefreshList1 = nullptr;
    QAction* StartListener1 = nullptr;
    QAction* KillListener1 = nullptr;
    QAction* KillProcess1 = nullptr;
    QAction* ChangePriority1 = nullptr;
    QMenu* Help1 = nullptr;
    QAction* menuAbout = nullptr;
    QTimer* Timer1 = nullptr;
    QFileDialog* dlgOpen = nullptr;
    QFileDialog* dlgSave = nullptr;

    // --- Connection control ---------------------------------------------------
    void FormCreate();
    void FormShow();
    void FormClose();
    void FormDestroy();
    void SetBusy(bool busy);
    void ShowProgress(const QString& text);
    void LogEvent(const QString& text, quint16 type, quint16 category, quint32 id);
    void SocketError(THostSocket* sender, int code, const QString& text);
    void ConnectAndLogon();
    void menuExitClick();

    // --- Protocol (delegates to TConsoleProtocol) --------------------------------
    bool Logon();
    void SendRequest(QByteArrayView text);
    int ReadReply(QByteArray& body);

    // --- Tables ---------------------------------------------------------------
    void RefreshListeners();
    void RefreshProcesses();
    void AddRecordRow(const QByteArray& body);
    void Timer1Timer();
    void ListenerArrayClick();
    void ProcessArrayClick();

    // --- Operator commands ----------------------------------------------------
    void btnManualRefreshClick();
    void btnStartListenerClick();
    void btnKillListenerClick();
    void btnKillProcessClick();
    void BtnChangePriClick();
    void menuShutdownJobClick();

    // --- Layout ---------------------------------------------------------------
    void FormResize();

    // --- File commands, Configure, About (FormMainFiles.cpp) -----------------
    void LoadConfigFile();
    void SaveConfigFile();
    void EditSettings();
    void OpenConfigFile(int mode);
    void menuConfigLoadClick();
    void menuConfigSaveClick();
    void menuSaveAsClick();
    void menuConfigureClick();
    void menuAboutClick();
    // Fills the Configure dialog's boxes from the settings.
    void FillConfigureDlg();
    // --- end of file commands --------------------------------------------------

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    MainFormDeps m_deps;
    THostSocket* m_socket = nullptr;
    std::unique_ptr<TConsoleProtocol> m_protocol;
    bool m_settingsCancelled = false; // EditSettings ended with Cancel: the window is closing
};
