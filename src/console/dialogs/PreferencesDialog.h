#pragma once

#include <QDialog>

class QCheckBox;

// The console's own preferences (kept in the settings store): automatic
// reconnection after the link drops, and marking the rows new since the
// last refresh, opening the hosts of the last run again at start, and
// sending no command whose audit line cannot be written.
class PreferencesDialog : public QDialog
{
    Q_OBJECT

public:
    explicit PreferencesDialog(QWidget* parent = nullptr);

    void showPreferences(bool autoReconnect, bool markNewRows, bool reopenHosts);
    bool autoReconnect() const;
    bool markNewRows() const;
    bool reopenHosts() const;
    // "Send no command that cannot be recorded" in the audit trail.
    void setRequireAudit(bool on);
    bool requireAudit() const;
    // Saves put the logon passwords in the desktop keyring.
    void setKeyringPasswords(bool on);
    bool keyringPasswords() const;

private:
    QCheckBox* m_autoReconnect;
    QCheckBox* m_markNewRows;
    QCheckBox* m_reopenHosts;
    QCheckBox* m_requireAudit;
    QCheckBox* m_keyringPasswords;
};
