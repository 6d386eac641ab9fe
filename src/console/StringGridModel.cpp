#include "StringGridModel.h"

#include <QMetaObject>
#include <QString>

#include <algorithm>
#include <span>

StringGridModel::StringGridModel(QObject* parent) : QAbstractTableModel(parent)
{
    m_header.resize(std::size_t(m_colCount));
    m_cells.resize(std::size_t(m_rowCount - 1) * m_colCount);
}

void StringGridModel::SetRowCount(int rows)
{
    // A grid always keeps its header row and one data row.
    rows = std::max(rows, 2);
    if (rows == m_rowCount)
        return;
    const int modelRows = rows - 1;
    if (rows < m_rowCount) {
        if (modelRows < m_published) {
            beginRemoveRows(QModelIndex(), modelRows, m_published - 1);
            m_rowCount = rows;
            m_published = modelRows;
            for (auto& ref : std::span(m_cells).subspan(std::size_t(modelRows) * m_colCount))
                m_liveBytes -= ref.Length;
            m_cells.resize(std::size_t(modelRows) * m_colCount);
            endRemoveRows();
        } else {
            for (auto& ref : std::span(m_cells).subspan(std::size_t(modelRows) * m_colCount))
                m_liveBytes -= ref.Length;
            m_cells.resize(std::size_t(modelRows) * m_colCount);
            m_rowCount = rows;
        }
        if (m_rowCount <= 2)
            CompactIfWasteful();
        return;
    }
    m_cells.resize(std::size_t(modelRows) * m_colCount);
    m_rowCount = rows;
    SchedulePublish();
}

void StringGridModel::SetColCount(int cols)
{
    cols = std::max(cols, 1);
    if (cols == m_colCount)
        return;
    Publish();
    const int rows = m_rowCount - 1;
    std::vector<CellRef> cells(std::size_t(rows) * cols);
    const int keep = std::min(cols, m_colCount);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < keep; ++c)
            cells[std::size_t(r) * cols + c] = m_cells[std::size_t(r) * m_colCount + c];
        for (int c = keep; c < m_colCount; ++c)
            m_liveBytes -= m_cells[std::size_t(r) * m_colCount + c].Length;
    }
    if (cols > m_colCount)
        beginInsertColumns(QModelIndex(), m_colCount, cols - 1);
    else
        beginRemoveColumns(QModelIndex(), cols, m_colCount - 1);
    const bool grew = cols > m_colCount;
    m_cells = std::move(cells);
    m_colCount = cols;
    m_header.resize(std::size_t(cols));
    if (grew)
        endInsertColumns();
    else
        endRemoveColumns();
}

QByteArrayView StringGridModel::Cell(int col, int row) const
{
    if (col < 0 || col >= m_colCount || row < 0 || row >= m_rowCount)
        return {};
    if (row == 0)
        return m_header[std::size_t(col)];
    const CellRef& ref = Ref(col, row);
    return QByteArrayView(m_arena.data() + ref.Offset, ref.Length);
}

StringGridModel::CellRef StringGridModel::Store(QByteArrayView text)
{
    if (text.isEmpty())
        return {};
    CellRef ref{std::uint32_t(m_arena.size()), std::uint32_t(text.size())};
    m_arena.append(text.data(), std::size_t(text.size()));
    m_liveBytes += text.size();
    return ref;
}

void StringGridModel::SetCell(int col, int row, QByteArrayView text)
{
    if (col < 0 || col >= m_colCount || row < 0 || row >= m_rowCount)
        return;
    if (row == 0) {
        m_header[std::size_t(col)] = text.toByteArray();
        Q_EMIT headerDataChanged(Qt::Horizontal, col, col);
        return;
    }
    CellRef& ref = Ref(col, row);
    m_liveBytes -= ref.Length;
    ref = Store(text);
    if (row - 1 < m_published) {
        const QModelIndex at = index(row - 1, col);
        Q_EMIT dataChanged(at, at, {Qt::DisplayRole});
    }
}

void StringGridModel::SetRowCells(int row, std::span<const QByteArrayView> texts)
{
    if (row <= 0 || row >= m_rowCount) {
        // The header row (and any row outside the grid) the ordinary way.
        for (std::size_t c = 0; c < texts.size(); ++c)
            SetCell(int(c), row, texts[c]);
        return;
    }
    const std::size_t count = std::min(texts.size(), std::size_t(m_colCount));
    if (count == 0)
        return;
    CellRef* refs = &Ref(0, row);
    for (std::size_t c = 0; c < count; ++c) {
        m_liveBytes -= refs[c].Length;
        refs[c] = Store(texts[c]);
    }
    if (row - 1 < m_published)
        Q_EMIT dataChanged(index(row - 1, 0), index(row - 1, int(count) - 1), {Qt::DisplayRole});
}

void StringGridModel::ClearRow(int row)
{
    if (row <= 0 || row >= m_rowCount)
        return;
    for (int c = 0; c < m_colCount; ++c) {
        m_liveBytes -= Ref(c, row).Length;
        Ref(c, row) = {};
    }
    if (row - 1 < m_published)
        Q_EMIT dataChanged(index(row - 1, 0), index(row - 1, m_colCount - 1), {Qt::DisplayRole});
}

void StringGridModel::CompactIfWasteful()
{
    // Cells overwritten or cut off leave dead bytes behind; a table that was
    // reset to its empty row drops them.
    if (m_arena.size() < 4096 || std::size_t(m_liveBytes) * 2 > m_arena.size())
        return;
    std::string live;
    live.reserve(std::size_t(m_liveBytes));
    for (CellRef& ref : m_cells) {
        if (ref.Length == 0)
            continue;
        const std::uint32_t at = std::uint32_t(live.size());
        live.append(m_arena.data() + ref.Offset, ref.Length);
        ref.Offset = at;
    }
    // The arena keeps its allocation, as the cell vector does: a table is
    // emptied by a refresh only to be filled again at once to about the same
    // size, and growing the arena anew would copy it a score of times and
    // touch fresh pages on every refresh.
    m_arena.assign(live);
}

void StringGridModel::SchedulePublish()
{
    if (m_publishQueued)
        return;
    m_publishQueued = true;
    QMetaObject::invokeMethod(this, &StringGridModel::Publish, Qt::QueuedConnection);
}

void StringGridModel::Publish()
{
    m_publishQueued = false;
    const int modelRows = m_rowCount - 1;
    if (modelRows <= m_published)
        return;
    beginInsertRows(QModelIndex(), m_published, modelRows - 1);
    m_published = modelRows;
    endInsertRows();
}

int StringGridModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_published;
}

int StringGridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_colCount;
}

QVariant StringGridModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const QByteArrayView text = Cell(index.column(), index.row() + 1);
    // A host can send a field of thousands of characters; laying out all of
    // it on every paint would stall the view. The cell keeps every byte (the
    // commands read it); only what is shown is cut.
    if (text.size() > MaxShownChars)
        return QString::fromLatin1(text.first(MaxShownChars)) + QChar(0x2026);
    return QString::fromLatin1(text);
}

QVariant StringGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    if (section < 0 || section >= m_colCount)
        return {};
    return QString::fromLatin1(m_header[std::size_t(section)]);
}

Qt::ItemFlags StringGridModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}
