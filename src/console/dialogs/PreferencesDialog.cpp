#include "console/dialogs/PreferencesDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QVBoxLayout>

PreferencesDialog::PreferencesDialog(QWidget* parent)
    : QDialog(parent), m_autoReconnect(new QCheckBox(
                           QStringLiteral("&Reconnect automatically when the link drops"), this)),
      m_markNewRows(
          new QCheckBox(QStringLiteral("&Mark the rows new since the last refresh"), this)),
      m_reopenHosts(
          new QCheckBox(QStringLiteral("&Open the hosts of the last run at start"), this)),
      m_requireAudit(new QCheckBox(QStringLiteral("Send no command that cannot be recorded"), this))
{
    setObjectName(QStringLiteral("preferencesDialog"));
    setWindowTitle(QStringLiteral("Preferences"));
    m_autoReconnect->setObjectName(QStringLiteral("autoReconnectBox"));
    m_markNewRows->setObjectName(QStringLiteral("markNewRowsBox"));
    m_reopenHosts->setObjectName(QStringLiteral("reopenHostsBox"));
    m_requireAudit->setObjectName(QStringLiteral("requireAuditBox"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_autoReconnect);
    layout->addWidget(m_markNewRows);
    layout->addWidget(m_reopenHosts);
    layout->addWidget(m_requireAudit);
    layout->addStretch();
    layout->addWidget(buttons);
}

void PreferencesDialog::showPreferences(bool autoReconnect, bool markNewRows, bool reopenHosts)
{
    m_reopenHosts->setChecked(reopenHosts);
    m_autoReconnect->setChecked(autoReconnect);
    m_markNewRows->setChecked(markNewRows);
}

bool PreferencesDialog::autoReconnect() const
{
    return m_autoReconnect->isChecked();
}

bool PreferencesDialog::markNewRows() const
{
    return m_markNewRows->isChecked();
}

bool PreferencesDialog::reopenHosts() const
{
    return m_reopenHosts->isChecked();
}

void PreferencesDialog::setRequireAudit(bool on)
{
    m_requireAudit->setChecked(on);
}

bool PreferencesDialog::requireAudit() const
{
    return m_requireAudit->isChecked();
}
