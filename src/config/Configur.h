#pragma once

#include <QDialog>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;

// The Configure dialog: edits the connection settings (host, port, the three
// logon names with their passwords, the refresh interval). It is created once
// and reused; its boxes keep their contents between runs. It only holds text:
// the main window fills the boxes before each run and takes them back after.
class TConfigureDlg : public QDialog
{
    Q_OBJECT

public:
    explicit TConfigureDlg(QWidget* parent = nullptr);

    // Set by the main window: runs its OpenConfigFile with the given mode.
    // Returns false when the command ended with an error (already shown to
    // the operator); the dialog then stays open.
    std::function<bool(int mode)> OpenConfigFile;

    QLabel* lblHostAddress = nullptr;
    QLabel* lblPort = nullptr;
    QLabel* lblUser = nullptr;
    QLabel* lblAccount = nullptr;
    QLabel* lblGroup = nullptr;
    QLabel* lblJobName = nullptr;
    QLabel* lblUP = nullptr;
    QLabel* lblAP = nullptr;
    QLabel* lblGP = nullptr;
    QLabel* lblInterval = nullptr;
    QLabel* lblSecurity3000 = nullptr;

    QLineEdit* HostAddress = nullptr;
    QLineEdit* Port = nullptr;
    QLineEdit* User = nullptr;
    QLineEdit* Account = nullptr;
    QLineEdit* Group = nullptr;
    QLineEdit* JobName = nullptr;
    QLineEdit* UP = nullptr;
    QLineEdit* AP = nullptr;
    QLineEdit* GP = nullptr;
    QLineEdit* edInterval = nullptr;
    QLineEdit* Security3000 = nullptr;

    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;
    QPushButton* LoadBtn = nullptr;

    // Sizes the dialog from the Load button: its bottom edge plus 60 high,
    // its right edge plus 60 wide (405 x 325 with the design layout).
    void FormCreate();
    // Loads a configuration file into the boxes (through the main window),
    // then ends the dialog with OK, also when the file choice was cancelled.
    void LoadBtnClick();

    // The limit on what the operator types into a box; 0 when there is none.
    static int TypedLimit(const QLineEdit* box);
    // Whether typed letters become upper case in a box.
    static bool TypedUpperCase(const QLineEdit* box);

protected:
    void showEvent(QShowEvent* event) override;
};
