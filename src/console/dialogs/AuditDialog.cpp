#include "console/dialogs/AuditDialog.h"

#include "console/dialogs/ScreenFit.h"
#include "core/Plural.h"

#include "session/AuditTrail.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

#include <utility>

namespace {

QString text(const QJsonObject& entry, const char* key)
{
    const QJsonValue value = entry.value(QLatin1String(key));
    return value.isDouble() ? QString::number(value.toInteger()) : value.toString();
}

// "pin 101, program PROG, user USER" in the order an operator reads them.
QString fieldsText(const QJsonObject& fields)
{
    static const char* const keys[] = {"listener", "pin", "program", "user", "port", "queue"};
    QStringList parts;
    for (const char* key : keys)
        if (fields.contains(QLatin1String(key)))
            parts.append(QLatin1String(key) + QLatin1Char(' ') + text(fields, key));
    return parts.join(QStringLiteral(", "));
}

QString localTime(const QString& iso)
{
    const QDateTime time = QDateTime::fromString(iso, Qt::ISODateWithMs);
    return time.isValid() ? time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                          : iso;
}

// "3 of 12 commands", "1 of 1 command".
QString countText(int shown, int all)
{
    return QStringLiteral("%1 of %2 %3")
        .arg(shown)
        .arg(all)
        .arg(Plural::noun(all, "command", "commands"));
}

} // namespace

AuditDialog::AuditDialog(QString trailPath, QWidget* parent)
    : QDialog(parent), m_path(std::move(trailPath)), m_model(new QStandardItemModel(this)),
      m_filter(new QSortFilterProxyModel(this))
{
    setObjectName(QStringLiteral("auditDialog"));
    keepOnScreen(this);
    setWindowTitle(QStringLiteral("Audit Trail"));
    resize(1060, 420);

    m_model->setHorizontalHeaderLabels({QStringLiteral("Time"), QStringLiteral("User"),
                                        QStringLiteral("Program"), QStringLiteral("Host"),
                                        QStringLiteral("Command"), QStringLiteral("Argument"),
                                        QStringLiteral("Target"), QStringLiteral("Effect")});
    m_filter->setSourceModel(m_model);
    m_filter->setFilterKeyColumn(-1);
    m_filter->setFilterCaseSensitivity(Qt::CaseInsensitive);

    m_filterEdit = new QLineEdit(this);
    m_filterEdit->setObjectName(QStringLiteral("auditFilter"));
    m_filterEdit->setPlaceholderText(QStringLiteral("Filter"));
    m_filterEdit->setClearButtonEnabled(true);
    connect(m_filterEdit, &QLineEdit::textChanged, this, [this](const QString& filter) {
        m_filter->setFilterFixedString(filter);
        m_count->setText(countText(shownRows(), m_model->rowCount()));
    });
    m_count = new QLabel(this);
    m_count->setObjectName(QStringLiteral("auditCount"));

    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("auditTable"));
    m_table->setModel(m_filter);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    const int widths[] = {145, 60, 115, 115, 95, 85, 300};
    for (int c = 0; c < int(std::size(widths)); ++c)
        m_table->setColumnWidth(c, widths[c]);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* reloadButton =
        buttons->addButton(QStringLiteral("&Reload"), QDialogButtonBox::ActionRole);
    reloadButton->setObjectName(QStringLiteral("auditReload"));
    connect(reloadButton, &QPushButton::clicked, this, &AuditDialog::reload);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* top = new QHBoxLayout;
    top->addWidget(m_filterEdit, 1);
    top->addWidget(m_count);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_table, 1);
    layout->addWidget(buttons);
}

void AuditDialog::showEvent(QShowEvent* event)
{
    reload();
    QDialog::showEvent(event);
}

void AuditDialog::reload()
{
    const QList<QJsonObject> entries = AuditTrail(m_path).entries();
    // Effects refer to their command; the latest effect of a command wins.
    QHash<QString, QString> effects;
    for (const QJsonObject& entry : entries) {
        const QString refersTo = text(entry, "refers_to");
        if (refersTo.isEmpty())
            continue;
        QString effect = text(entry, "effect");
        const QJsonObject seen = entry.value(QLatin1String("seen")).toObject();
        if (!seen.isEmpty())
            effect += QStringLiteral(" (") + fieldsText(seen) + QLatin1Char(')');
        effects.insert(refersTo, effect);
    }
    m_model->removeRows(0, m_model->rowCount());
    // The file is in the order the lines were written: newest last.
    for (auto it = entries.crbegin(); it != entries.crend(); ++it) {
        const QJsonObject& entry = *it;
        if (!entry.contains(QLatin1String("command")))
            continue;
        QString host = text(entry, "host");
        if (entry.contains(QLatin1String("port")))
            host += QLatin1Char(':') + text(entry, "port");
        const QString cells[ColumnCount] = {
            localTime(text(entry, "time")),
            text(entry, "user"),
            text(entry, "program"),
            host,
            text(entry, "command"),
            text(entry, "argument"),
            fieldsText(entry.value(QLatin1String("target")).toObject()),
            effects.value(text(entry, "id"), QStringLiteral("(pending)")),
        };
        QList<QStandardItem*> row;
        for (const QString& cell : cells) {
            auto* item = new QStandardItem(cell);
            item->setToolTip(cell);
            row.append(item);
        }
        m_model->appendRow(row);
    }
    m_count->setText(countText(shownRows(), m_model->rowCount()));
}

int AuditDialog::shownRows() const
{
    return m_filter->rowCount();
}

QString AuditDialog::cellText(int row, Column column) const
{
    return m_filter->index(row, column).data().toString();
}
