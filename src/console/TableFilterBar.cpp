#include "console/TableFilterBar.h"

#include "session/RecordSortFilterModel.h"
#include "session/RecordTableModel.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>

namespace {

QString number(int n)
{
    return QLocale(QLocale::English).toString(n);
}

} // namespace

TableFilterBar::TableFilterBar(RecordSortFilterModel* rows, const QString& noun, QWidget* parent)
    : QWidget(parent), m_rows(rows), m_noun(noun), m_edit(new QLineEdit(this)),
      m_count(new QLabel(this))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // No access letter: Alt+F is the File menu's, and Ctrl+F reaches the box.
    auto* caption = new QLabel(QStringLiteral("Filter:"), this);
    caption->setBuddy(m_edit);
    m_edit->setClearButtonEnabled(true);
    m_edit->setPlaceholderText(QStringLiteral("text in any column"));
    m_count->setObjectName(QStringLiteral("filterCount"));
    layout->addWidget(caption);
    layout->addWidget(m_edit, 1);
    layout->addWidget(m_count);
    m_edit->installEventFilter(this);
    connect(m_edit, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (!text.isEmpty())
            show(); // a filter in force is always in sight
        m_rows->setFilterText(text);
        updateCount();
        Q_EMIT filterChanged(text);
    });
    connect(m_rows, &QAbstractItemModel::modelReset, this, &TableFilterBar::updateCount);
    connect(m_rows, &QAbstractItemModel::layoutChanged, this, &TableFilterBar::updateCount);
    connect(m_rows, &QAbstractItemModel::rowsInserted, this, &TableFilterBar::updateCount);
    connect(m_rows, &QAbstractItemModel::rowsRemoved, this, &TableFilterBar::updateCount);
    hide();
    updateCount();
}

void TableFilterBar::open()
{
    show();
    m_edit->setFocus(Qt::ShortcutFocusReason);
    m_edit->selectAll();
}

QString TableFilterBar::text() const
{
    return m_edit->text();
}

void TableFilterBar::setText(const QString& text)
{
    // Shown first: whoever lays the box out on filterChanged sees it open.
    if (!text.isEmpty())
        show();
    m_edit->setText(text);
}

bool TableFilterBar::isFiltering() const
{
    return !m_rows->filterText().isEmpty();
}

QString TableFilterBar::countOf(int count, const QString& noun)
{
    if (count == 1)
        return QStringLiteral("1 ") + noun;
    const bool sibilant = noun.endsWith(QLatin1Char('s')) || noun.endsWith(QLatin1Char('x')) ||
                          noun.endsWith(QLatin1String("sh")) || noun.endsWith(QLatin1String("ch"));
    return number(count) + QLatin1Char(' ') + noun +
           (sibilant ? QStringLiteral("es") : QStringLiteral("s"));
}

QString TableFilterBar::countText() const
{
    const int all = m_rows->table() ? m_rows->table()->rows() : 0;
    if (!isFiltering())
        return countOf(all, m_noun);
    return QStringLiteral("%1 of %2 shown").arg(number(m_rows->rowCount()), countOf(all, m_noun));
}

void TableFilterBar::updateCount()
{
    m_count->setText(isFiltering() ? countText() : QString());
    Q_EMIT countChanged();
}

bool TableFilterBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_edit &&
        (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress)) {
        // Esc belongs to the box while it has the focus, not to Stop.
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape) {
            event->accept();
            if (event->type() == QEvent::KeyPress) {
                m_edit->clear();
                hide();
                Q_EMIT closed();
            }
            return event->type() == QEvent::KeyPress;
        }
    }
    return QWidget::eventFilter(watched, event);
}
