#pragma once

#include <QList>
#include <QString>
#include <QStyledItemDelegate>

// How a record table's cells look beyond their text: rows kept after the
// link dropped are greyed (their tooltip tells when they were read), rows
// new since the last list are bold, and while the view has the keyboard
// focus its current row is framed, so the operator sees where Delete and
// Space would act. A cell whose text is cut to its width shows the whole
// text as its tooltip.
class RecordItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit RecordItemDelegate(QObject* parent = nullptr);

    // The tooltip of stale rows ("Read at 14:02:11, before the link dropped").
    void setStaleNote(const QString& note) { m_staleNote = note; }
    void setMarkNewRows(bool mark) { m_markNew = mark; }
    // Columns of numbers, drawn right-aligned so that their decimal points
    // line up (their texts are not changed).
    void setRightAligned(const QList<int>& columns) { m_rightAligned = columns; }
    // The least column width in view that shows text whole, bold or not.
    static int wholeWidth(const QWidget* view, const QString& text);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    // The text is cut short in a cell drawn with option.
    bool isElided(const QStyleOptionViewItem& option, const QModelIndex& index) const;

protected:
    // The part of the cell the text is drawn in (all of it unless a subclass
    // draws something beside the text).
    virtual QRect textArea(const QStyleOptionViewItem& option, const QModelIndex& index) const;
    // The frame round the current row, over a cell drawn at option.rect.
    void paintRowFrame(QPainter* painter, const QStyleOptionViewItem& option,
                       const QModelIndex& index) const;
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    QString m_staleNote;
    QList<int> m_rightAligned;
    bool m_markNew = true;
};
