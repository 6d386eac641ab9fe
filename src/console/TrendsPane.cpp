#include "console/TrendsPane.h"

#include "core/Plural.h"

#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QGraphicsLayout>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLineSeries>
#include <QLocale>
#include <QToolTip>
#include <QValueAxis>

#include <algorithm>

namespace {

// The top of an axis: a little above the largest value, at least 1.
qreal axisTop(qreal largest)
{
    return std::max<qreal>(1.0, largest * 1.15);
}

bool paletteIsDark(const QPalette& palette)
{
    return palette.color(QPalette::Base).lightness() < 128;
}

} // namespace

TrendsPane::TrendsPane(const TrendHistory* history, QWidget* parent)
    : QWidget(parent), m_history(history)
{
    setObjectName(QStringLiteral("trendsPane"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    m_charts[0] = makeChart(QStringLiteral("listenerTrend"));
    m_charts[1] = makeChart(QStringLiteral("hostTrend"));
    for (Chart& c : m_charts) {
        layout->addWidget(c.view);
        // Anywhere over the curves, not only on a line a pixel or two wide.
        c.view->viewport()->installEventFilter(this);
    }
    applyPalette();
    updateCharts();
}

QSize TrendsPane::sizeHint() const
{
    return QSize(400, 290);
}

QSize TrendsPane::minimumSizeHint() const
{
    return QSize(0, 100);
}

void TrendsPane::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        applyPalette();
        updateCharts();
    }
}

QColor TrendsPane::textColour(const QLineSeries* series) const
{
    const QColor colour = series->pen().color();
    return paletteIsDark(palette()) ? colour.lighter(130) : colour.darker(130);
}

void TrendsPane::applyPalette()
{
    const QPalette p = palette();
    const QColor text = p.color(QPalette::Text);
    const QColor grid = p.color(QPalette::Mid);
    for (Chart& c : m_charts) {
        c.chart->setBackgroundBrush(p.base());
        c.chart->setBackgroundPen(Qt::NoPen);
        c.chart->setPlotAreaBackgroundVisible(false);
        c.chart->setTitleBrush(text);
        c.view->setBackgroundBrush(p.base());
        for (QValueAxis* axis : {c.count, c.cpuAxis})
            axis->setGridLineColor(grid);
        c.time->setGridLineColor(grid);
        c.time->setLinePenColor(grid);
        c.time->setLabelsColor(text);
        c.count->setLabelsColor(textColour(c.processes));
        c.cpuAxis->setLabelsColor(textColour(c.cpu));
    }
}

QRectF TrendsPane::plotArea(int chart) const
{
    return m_charts[chart].chart->plotArea();
}

TrendsPane::Chart TrendsPane::makeChart(const QString& objectName)
{
    Chart c;
    c.chart = new QChart;
    c.chart->setMargins(QMargins(2, 0, 2, 0));
    c.chart->layout()->setContentsMargins(0, 0, 0, 0);
    c.chart->setBackgroundRoundness(0);
    // The title names the lines in their colours: a legend would take the
    // room of the curves.
    c.chart->legend()->hide();
    // A little smaller than the window's text, however that is sized.
    QFont small = font();
    if (small.pixelSize() > 0)
        small.setPixelSize(std::max(9, small.pixelSize() * 85 / 100));
    else
        small.setPointSizeF(small.pointSizeF() * 0.85);
    c.chart->legend()->setFont(small);
    c.chart->setTitleFont(small);

    c.processes = new QLineSeries;
    c.processes->setName(QStringLiteral("Processes"));
    c.cpu = new QLineSeries;
    c.cpu->setName(QStringLiteral("CPU s/min"));
    c.chart->addSeries(c.processes);
    c.chart->addSeries(c.cpu);

    c.time = new QDateTimeAxis;
    c.time->setFormat(QStringLiteral("HH:mm"));
    c.time->setTickCount(5);
    c.time->setLabelsFont(small);
    c.count = new QValueAxis;
    c.count->setLabelFormat(QStringLiteral("%d"));
    c.count->setLabelsFont(small);
    c.count->setTickCount(3);
    c.cpuAxis = new QValueAxis;
    c.cpuAxis->setLabelsFont(small);
    c.cpuAxis->setTickCount(3);
    c.chart->addAxis(c.time, Qt::AlignBottom);
    c.chart->addAxis(c.count, Qt::AlignLeft);
    c.chart->addAxis(c.cpuAxis, Qt::AlignRight);
    c.processes->attachAxis(c.time);
    c.processes->attachAxis(c.count);
    c.cpu->attachAxis(c.time);
    c.cpu->attachAxis(c.cpuAxis);
    c.count->setLinePenColor(c.processes->pen().color());
    c.cpuAxis->setLinePenColor(c.cpu->pen().color());

    c.view = new QChartView(c.chart, this);
    c.view->setObjectName(objectName);
    c.view->setRenderHint(QPainter::Antialiasing);
    c.view->setMinimumSize(0, 0);
    return c;
}

void TrendsPane::setListener(const QByteArray& pin, const QString& caption)
{
    if (pin == m_listenerPin && caption == m_listenerCaption)
        return;
    m_listenerPin = pin;
    m_listenerCaption = caption;
    updateCharts();
}

const TrendHistory::Ring* TrendsPane::ring(int chart) const
{
    if (chart == 1)
        return &m_history->host();
    return m_listenerPin.isEmpty() ? nullptr : m_history->listener(m_listenerPin);
}

void TrendsPane::updateCharts()
{
    fill(m_charts[0], ring(0),
         m_listenerPin.isEmpty() ? QStringLiteral("No listener selected")
                                 : QStringLiteral("Listener %1").arg(m_listenerCaption));
    fill(m_charts[1], ring(1), QStringLiteral("Whole host"));
}

void TrendsPane::fill(Chart& c, const TrendHistory::Ring* ring, const QString& title)
{
    c.chart->setTitle(
        QStringLiteral("%1: <span style=\"color:%2\">processes</span>, "
                       "<span style=\"color:%3\">CPU s/min</span>")
            .arg(title.toHtmlEscaped(), textColour(c.processes).name(), textColour(c.cpu).name()));
    QList<QPointF> counts;
    QList<QPointF> cpu;
    qreal maxCount = 0;
    qreal maxCpu = 0;
    const int n = ring ? ring->size() : 0;
    counts.reserve(n);
    cpu.reserve(n);
    for (int i = 0; i < n; ++i) {
        const TrendHistory::Sample& s = ring->at(i);
        const qreal x = qreal(s.time) * 1000.0;
        counts.append(QPointF(x, s.processes));
        maxCount = std::max<qreal>(maxCount, s.processes);
        if (s.hasCpu()) {
            cpu.append(QPointF(x, s.cpuPerMinute));
            maxCpu = std::max<qreal>(maxCpu, s.cpuPerMinute);
        }
    }
    c.processes->replace(counts);
    c.cpu->replace(cpu);
    qint64 first = QDateTime::currentSecsSinceEpoch() - 60;
    qint64 last = first + 60;
    if (n > 0) {
        first = ring->at(0).time;
        last = std::max<qint64>(ring->last().time, first + 60);
    }
    c.time->setRange(QDateTime::fromSecsSinceEpoch(first), QDateTime::fromSecsSinceEpoch(last));
    // Seconds only where minutes would repeat; the day once it changes.
    const qint64 span = last - first;
    c.time->setFormat(span < 10 * 60        ? QStringLiteral("HH:mm:ss")
                      : span > 24 * 60 * 60 ? QStringLiteral("dd HH:mm")
                                            : QStringLiteral("HH:mm"));
    c.count->setRange(0, axisTop(maxCount));
    c.count->applyNiceNumbers();
    c.cpuAxis->setRange(0, axisTop(maxCpu));
    c.cpuAxis->applyNiceNumbers();
    c.cpuAxis->setLabelFormat(c.cpuAxis->max() >= 10 ? QStringLiteral("%.0f")
                                                     : QStringLiteral("%.1f"));
}

QString TrendsPane::sampleText(const TrendHistory::Sample& sample)
{
    const QString time = QDateTime::fromSecsSinceEpoch(sample.time)
                             .toLocalTime()
                             .toString(QStringLiteral("HH:mm:ss"));
    QString text = QStringLiteral("%1  %2 %3")
                       .arg(time)
                       .arg(sample.processes)
                       .arg(Plural::noun(sample.processes, "process", "processes"));
    if (sample.hasCpu())
        text += QStringLiteral(", CPU %1 s/min")
                    .arg(QLocale::c().toString(double(sample.cpuPerMinute), 'f', 1));
    return text;
}

QString TrendsPane::textNear(int chart, qint64 timeMs) const
{
    const TrendHistory::Ring* r = ring(chart);
    if (!r || r->isEmpty())
        return {};
    // The samples are in time order: the nearest is one of the two around
    // it; of samples in the same second, the newest.
    const qint64 seconds = timeMs / 1000;
    int low = 0;
    int high = r->size();
    while (low < high) {
        const int mid = (low + high) / 2;
        if (qint64(r->at(mid).time) <= seconds)
            low = mid + 1;
        else
            high = mid;
    }
    if (low == r->size() ||
        (low > 0 && seconds - qint64(r->at(low - 1).time) <= qint64(r->at(low).time) - seconds))
        --low;
    return sampleText(r->at(low));
}

QString TrendsPane::textAt(int chart, const QPoint& viewportPos) const
{
    const Chart& c = m_charts[chart];
    const QPointF inChart = c.chart->mapFromScene(c.view->mapToScene(viewportPos));
    if (!c.chart->plotArea().contains(inChart))
        return {};
    const QPointF value = c.chart->mapToValue(inChart, c.processes);
    return textNear(chart, qint64(value.x()));
}

bool TrendsPane::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QWidget::eventFilter(watched, event);
    for (int c = 0; c < 2; ++c) {
        if (watched != m_charts[c].view->viewport())
            continue;
        const auto* help = static_cast<QHelpEvent*>(event);
        const QString text = textAt(c, help->pos());
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, m_charts[c].view->viewport());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

QWidget* TrendsPane::chartViewport(int chart) const
{
    return m_charts[chart].view->viewport();
}
