// The main window's layout: the listener box and the splitter at the top, the
// button bar at the bottom, the process box in what is left, and the column
// widths as shares of each table's width.

#include "console/HostView.h"

#include "console/RecordTableView.h"
#include "console/SplitterBar.h"
#include "console/TableFilterBar.h"
#include "console/TrendsPane.h"
#include "session/TableColumns.h"

#include <QAbstractItemModel>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QStatusBar>

#include <algorithm>

namespace {

constexpr int ButtonBarHeight = 40;
constexpr int SplitterHeight = 8;
constexpr int TrendsHeight = 200;
constexpr int MinProcessBoxHeight = 76;

} // namespace

int HostView::menuBarHeight() const
{
    QMenuBar* bar = menuBar();
    if (!bar || bar->isHidden() || bar->isNativeMenuBar())
        return 0;
    const int h = bar->heightForWidth(width());
    return h < 0 ? bar->sizeHint().height() : h;
}

int HostView::chromeHeight() const
{
    const QStatusBar* bar = m_statusBar ? statusBar() : nullptr;
    const int status =
        !bar || bar->isHidden() ? 0 : (bar->isVisible() ? bar->height() : bar->sizeHint().height());
    return menuBarHeight() + status;
}

QSize HostView::clientSize() const
{
    return QSize(width(), height() - chromeHeight());
}

void HostView::arrangeClient(QSize client)
{
    // Top-aligned listener box and splitter, bottom-aligned button bar, and
    // the process box in what is left between them (possibly nothing).
    const int w = client.width();
    const int h = client.height();
    const int top = m_listenerBoxHeight;
    m_listenerBox->setGeometry(0, 0, w, top);
    m_splitter->setGeometry(0, top, w, SplitterHeight);
    m_buttonBar->setGeometry(0, h - ButtonBarHeight, w, ButtonBarHeight);
    // The trends, when shown, sit above the button bar; the process box
    // keeps a few rows, or half the room when there is less.
    const int below = std::max(0, h - ButtonBarHeight - top - SplitterHeight);
    int trendsHeight = 0;
    if (m_trendsPane && !m_trendsPane->isHidden()) {
        trendsHeight = std::min(TrendsHeight, std::max(below / 2, below - MinProcessBoxHeight));
        m_trendsPane->setGeometry(0, h - ButtonBarHeight - trendsHeight, w, trendsHeight);
    }
    m_processBox->setGeometry(0, top + SplitterHeight, w, below - trendsHeight);
    // Inside a box: 2 pixels on each side, the caption's height above, and
    // the filter box (while open) above the table.
    auto inside = [](QGroupBox* box, TableFilterBar* filter, QWidget* child) {
        int top = box->fontMetrics().height() + 2;
        const int width = std::max(0, box->width() - 4);
        if (filter && !filter->isHidden()) {
            const int h = filter->sizeHint().height();
            filter->setGeometry(2, top, width, h);
            top += h + 2;
        }
        child->setGeometry(2, top, width, std::max(0, box->height() - top - 2));
    };
    inside(m_listenerBox, m_listenerFilter, m_listenerTable);
    inside(m_processBox, m_processFilter, m_processTable);
}

void HostView::splitterDragged(int top)
{
    const int h = clientSize().height();
    const int min = SplitterBar::MinimumBoxHeight;
    const int max = h - ButtonBarHeight - SplitterHeight - min; // leaves room for the process box
    if (max < min)
        return;
    m_listenerBoxHeight = std::clamp(top, min, max);
    arrangeClient(centralWidget()->size());
}

void HostView::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    QSize client = clientSize();
    const Qt::WindowStates state = windowState();
    const bool minimized = state & Qt::WindowMinimized;
    const bool normal =
        !(state & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
    if (normal && isWindow()) {
        // The window's size as the window system sees it, frame included.
        // (A view inside the window of many hosts takes what it is given.)
        const QSize outer =
            isWindow() && testAttribute(Qt::WA_WState_Created) ? frameGeometry().size() : size();
        QSize wanted = outer;
        if (wanted.width() < 400)
            wanted.setWidth(400);
        if (wanted.height() < 300)
            wanted.setHeight(300);
        if (wanted != outer) {
            // The rest works with the corrected size at once, whenever the
            // window system gets round to applying it.
            const QSize grow = wanted - outer;
            client += grow;
            resize(size() + grow);
        }
    }
    const int h = client.height();
    if (h - 120 < m_listenerBoxHeight)
        m_listenerBoxHeight = std::max(0, h - 127);
    arrangeClient(client);
    if (!minimized)
        fitColumns();
}

void HostView::fitColumns()
{
    // The shares apply until the operator sets a width of his own.
    m_listenerTable->fitColumns();
    m_processTable->fitColumns();
}

bool HostView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == centralWidget() && event->type() == QEvent::Resize)
        arrangeClient(centralWidget()->size());
    return QMainWindow::eventFilter(watched, event);
}
