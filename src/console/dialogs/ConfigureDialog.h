#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;
class QShowEvent;
struct ConnectionSettings;

// The Configure dialog: edits the connection settings (host, port, the three
// logon names with their passwords, the refresh interval, and the SSH
// destination the host is reached through). It is created once
// and reused; its boxes keep their contents between runs. It only holds
// text: the main window fills the boxes before each run and takes them back
// after.
class ConfigureDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ConfigureDialog(QWidget* parent = nullptr);

    // Fills the boxes from settings.
    void showSettings(const ConnectionSettings& settings);
    // Takes the boxes into settings, one value at a time: a text that is not
    // a number throws EConvertError, a port outside 0..65535 ERangeError, and
    // the values taken before it stay taken. The interval is clamped to 5..60
    // seconds.
    void takeSettings(ConnectionSettings& settings) const;

    // The limit on what the operator types into a box; 0 when there is none.
    static int typedLimit(const QLineEdit* box);
    // Whether typed letters become upper case in a box.
    static bool typedUpperCase(const QLineEdit* box);

Q_SIGNALS:
    // Load was pressed. The window loads a file into the boxes and then ends
    // the dialog with OK (also when the file choice was cancelled); a load
    // that failed with an error leaves it open for another try.
    void loadRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLineEdit* m_hostAddressEdit = nullptr;
    QLineEdit* m_portEdit = nullptr;
    QLineEdit* m_userEdit = nullptr;
    QLineEdit* m_accountEdit = nullptr;
    QLineEdit* m_groupEdit = nullptr;
    QLineEdit* m_jobNameEdit = nullptr;
    QLineEdit* m_userPasswordEdit = nullptr;
    QLineEdit* m_accountPasswordEdit = nullptr;
    QLineEdit* m_groupPasswordEdit = nullptr;
    QLineEdit* m_intervalEdit = nullptr;
    QLineEdit* m_securityEdit = nullptr;
    QLineEdit* m_sshEdit = nullptr;
    QPushButton* m_okButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QPushButton* m_loadButton = nullptr;
};
