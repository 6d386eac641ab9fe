#pragma once

#include "ConnectionSettings.h"
#include "ConsoleProtocol.h"

#include <QByteArray>
#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <random>

class QAction;
class QFileDialog;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QTimer;
class QWidget;

class IEventLog;
class IPrompts;
class SplitterBar;
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
    IPrompts* Prompts = nullptr;   // required
    IEventLog* EventLog = nullptr; // required
    QStringList Arguments;         // command-line arguments, without the program name
    QString ProgramPath;           // full path of the program's own file
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
    SplitterBar* Splitter1 = nullptr; // the drag bar between the two boxes
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
    QLabel* StatusLine =
        nullptr; // right of the buttons: renewed connection, cut lists, skipped records

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
    // Where the splitter's top edge sits (the height of GroupBox1).
    int ListenerBoxHeight() const { return m_listenerBoxHeight; }
    // The splitter was dragged: moves the boundary, keeping both boxes at
    // least 80 pixels high.
    void SplitterDragged(int top);
    // The window's size as the window system sees it, frame included.
    QSize OuterSize() const;

    // --- Exchanges --------------------------------------------------------------
    // True while an exchange with the host (or a command around one) runs.
    bool IsExchanging() const { return m_exchanging; }
    bool IsClosing() const { return m_closing; }
    // Commands waiting for the running exchange to end.
    int PendingCount() const { return int(m_pending.size()); }
    // A line for the operator in the button bar (empty clears it).
    void ShowStatus(const QString& text);

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
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    MainFormDeps m_deps;
    THostSocket* m_socket = nullptr;
    std::unique_ptr<TConsoleProtocol> m_protocol;

    // What a waiting piece of work is, so that repeats can be merged.
    enum class HostWork
    {
        Refresh,
        ListenerClick,
        Command
    };
    struct PendingWork
    {
        HostWork Kind;
        std::function<void()> Job;
    };

    void BuildControls();
    void ArrangeClient(QSize client);
    QSize ClientSize() const;
    int MenuBarHeight() const;
    bool Connected() const;
    // Runs job now when no exchange runs, else after the running one ends.
    void WithHost(HostWork kind, std::function<void()> job);
    // Runs job as the one exchange, then whatever was queued meanwhile.
    void RunExclusive(const std::function<void()>& job);
    void RunOne(const std::function<void()>& job);
    // Shows an EAppError that ends a command; the program goes on.
    void Guarded(const std::function<void()>& job);
    void CommandTail();
    void ResetSkipReport();
    void ReportSkipped();
    // Before an exchange: a connection that fell out of step with the host is
    // renewed (nothing is resent) and the operator is told once.
    void StayInStep();
    // After a list: why it ended early, when the socket has not said so itself.
    void NoteListEnd();
    // Puts the current row back on pin (the cell in column col), or, when
    // that PIN is gone, on the remembered row number if the table is long
    // enough; returns the row that is current afterwards.
    int RestoreRow(StringGrid* grid, int col, const QByteArray& pin, int foundRow,
                   int rememberedRow);
    void SelectWholeRow(StringGrid* grid, int row);

    // Why the configuration file named on the command line cannot be found;
    // the first show says so and ends instead of connecting.
    QString m_missingConfig;
    bool m_busy = false;
    bool m_cursorSet = false;
    int m_appliedInterval = 5000;
    bool m_exchanging = false;
    bool m_closing = false;
    bool m_quitPending = false;
    bool m_showQueued = false;
    std::deque<PendingWork> m_pending;

    // The rows the operator chose, by PIN, so that a refresh finds them again
    // wherever they moved.
    QByteArray m_listenerPin;
    QByteArray m_processPin;
    int m_foundListenerRow = 0;
    int m_foundProcessRow = 0;
    bool m_listenerPassDone = false;
    char m_decimalSeparator = '.';

    // Records of the last refresh that could not be placed.
    int m_skipped = 0;
    QString m_firstSkipReason;
    // Lines for the status label gathered since it was last written: renewed
    // connections and lists that ended early. Shown together with the skipped
    // records when the refresh ends, then dropped.
    QStringList m_notices;

    int m_listenerBoxHeight = 169;
};
