#pragma once

#include "keyring/PasswordKeyring.h"

#include <QDialog>
#include <QList>

class QCheckBox;
class QLabel;
class QLineEdit;

// Asks for the logon passwords of a host whose passwords are kept in the
// desktop keyring when the keyring cannot give them (none on the bus,
// locked, or without them): one box for each level kept there, and
// "Remember in the keyring" to put what is typed back in it. Without an
// answer no logon is made.
class PasswordDialog : public QDialog
{
    Q_OBJECT

public:
    explicit PasswordDialog(QWidget* parent = nullptr);

    // why: the message telling the operator why the keyring cannot be read.
    void ask(const QString& why, const QList<PasswordKeyring::Level>& levels);
    // The passwords typed into settings (the levels asked for).
    void takePasswords(ConnectionSettings& settings) const;
    bool rememberInKeyring() const;

private:
    QLineEdit* edit(PasswordKeyring::Level level) const;

    QLabel* m_why;
    QList<QLineEdit*> m_edits; // user, group, account
    QList<QLabel*> m_labels;
    QCheckBox* m_remember;
    QList<PasswordKeyring::Level> m_levels;
};
