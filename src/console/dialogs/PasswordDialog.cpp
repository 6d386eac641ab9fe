#include "console/dialogs/PasswordDialog.h"

#include "config/ConnectionSettings.h"
#include "console/dialogs/ScreenFit.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace {

const char* const EditNames[] = {"userPasswordEdit", "groupPasswordEdit", "accountPasswordEdit"};
const char* const Captions[] = {"&User Password:", "&Group Password:", "&Account Password:"};

} // namespace

PasswordDialog::PasswordDialog(QWidget* parent)
    : QDialog(parent), m_why(new QLabel(this)),
      m_remember(new QCheckBox(QStringLiteral("&Remember in the keyring"), this))
{
    keepOnScreen(this);
    setObjectName(QStringLiteral("passwordDialog"));
    setWindowTitle(QStringLiteral("Logon Passwords"));
    m_why->setObjectName(QStringLiteral("passwordReason"));
    m_why->setWordWrap(true);
    m_remember->setObjectName(QStringLiteral("rememberBox"));
    auto* form = new QFormLayout;
    for (int i = 0; i < 3; ++i) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QLatin1StringView(EditNames[i]));
        edit->setEchoMode(QLineEdit::Password);
        // Passwords go to the host as single bytes: a character outside
        // Latin-1 would be sent as "?", so it cannot be typed.
        edit->setValidator(new QRegularExpressionValidator(
            QRegularExpression(QStringLiteral("[\\x{0}-\\x{ff}]*")), edit));
        auto* label = new QLabel(QLatin1StringView(Captions[i]), this);
        label->setBuddy(edit);
        form->addRow(label, edit);
        m_edits << edit;
        m_labels << label;
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_why);
    layout->addLayout(form);
    layout->addWidget(m_remember);
    layout->addWidget(buttons);
}

void PasswordDialog::ask(const QString& why, const QList<PasswordKeyring::Level>& levels)
{
    m_levels = levels;
    if (m_levels.isEmpty())
        m_levels = {PasswordKeyring::Level::User, PasswordKeyring::Level::Group,
                    PasswordKeyring::Level::Account};
    m_why->setText(why + QStringLiteral("\nType the passwords for this logon."));
    for (int i = 0; i < 3; ++i) {
        const bool asked = m_levels.contains(PasswordKeyring::Level(i));
        m_edits[i]->clear();
        m_edits[i]->setVisible(asked);
        m_labels[i]->setVisible(asked);
    }
    m_remember->setChecked(false);
}

QLineEdit* PasswordDialog::edit(PasswordKeyring::Level level) const
{
    return m_edits[int(level)];
}

void PasswordDialog::takePasswords(ConnectionSettings& settings) const
{
    for (PasswordKeyring::Level level : m_levels)
        PasswordKeyring::setPassword(settings, level, edit(level)->text().toLatin1());
}

bool PasswordDialog::rememberInKeyring() const
{
    return m_remember->isChecked();
}
