#pragma once

#include "session/TrendHistory.h"

#include <QByteArray>
#include <QWidget>

class QChart;
class QChartView;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

// The trends below the tables: for the selected listener and for the whole
// host, the number of processes and the CPU time used per minute over the
// session, one point per refresh. Hovering a line shows the sample's time and
// values.
class TrendsPane : public QWidget
{
    Q_OBJECT

public:
    explicit TrendsPane(const TrendHistory* history, QWidget* parent = nullptr);

    // The listener whose trend is shown, and how it is named above it.
    void setListener(const QByteArray& pin, const QString& caption);
    // Draws the history again (after a sample).
    void updateCharts();

    // What hovering the sample shows: "14:02:11  12 processes, CPU 3.4 s/min".
    static QString sampleText(const TrendHistory::Sample& sample);
    // The text of the sample nearest to timeMs in chart 0 (listener) or 1
    // (host); empty when there is none.
    QString textNear(int chart, qint64 timeMs) const;
    // The text for the mouse at viewportPos over chart 0 or 1: the sample
    // nearest in time, empty outside the plot area.
    QString textAt(int chart, const QPoint& viewportPos) const;
    QWidget* chartViewport(int chart) const;
    // The plot area of chart 0 or 1, in the chart's coordinates.
    QRectF plotArea(int chart) const;

    // High enough for a plot of about 200 pixels under its title and above
    // its time axis; a short window may squeeze it, down to a third of that
    // (the page sets its height between the two).
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Chart
    {
        QChart* chart = nullptr;
        QChartView* view = nullptr;
        QLineSeries* processes = nullptr;
        QLineSeries* cpu = nullptr;
        QDateTimeAxis* time = nullptr;
        QValueAxis* count = nullptr;
        QValueAxis* cpuAxis = nullptr;
    };
    Chart makeChart(const QString& objectName);
    void fill(Chart& chart, const TrendHistory::Ring* ring, const QString& title);
    const TrendHistory::Ring* ring(int chart) const;
    // The charts take the widget's palette: dark under a dark one.
    void applyPalette();
    // A series' colour as text on the chart's background.
    QColor textColour(const QLineSeries* series) const;

    const TrendHistory* m_history;
    QByteArray m_listenerPin;
    QString m_listenerCaption;
    Chart m_charts[2];
};
