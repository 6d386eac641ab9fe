#pragma once

#include <QSplitter>

// The bar between the listener and the process box: a vertical splitter
// whose handle is 8 pixels high and purple, and whose drags stop where either
// box would be lower than MinimumBoxHeight. Heights set by the page itself
// (as when the window becomes too short) are not bound by that minimum.
class PageSplitter : public QSplitter
{
    Q_OBJECT

public:
    explicit PageSplitter(QWidget* parent = nullptr);

    static constexpr int HandleHeight = 8;
    // The least height a drag leaves either box.
    static constexpr int MinimumBoxHeight = 80;

    // Where a drag that would put the handle's top at top stops.
    int boundedTop(int top) const;

protected:
    QSplitterHandle* createHandle() override;
};
