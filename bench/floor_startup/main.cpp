// The floor of the console's start-up: a fresh process that creates an
// application, shows an empty QTableView and stops the clock when the view
// is first painted. Timed as bench-startup times the console: the clock
// starts just before the process is started (CLOCK_MONOTONIC, the same in
// every process) and the child prints when it painted. Prints the median of
// several runs, then one JSON line.

#include "../common/BenchFigures.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardItemModel>
#include <QTableView>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Notes the first paint of the view's viewport and ends the event loop.
class PaintWatch : public QObject
{
public:
    qint64 paintedAt = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && paintedAt == 0) {
            paintedAt = monotonicNs();
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return QObject::eventFilter(watched, event);
    }
};

int runChild(QApplication& app, qint64 t0)
{
    QStandardItemModel model(0, 5);
    QTableView view;
    view.setModel(&model);
    PaintWatch watch;
    view.viewport()->installEventFilter(&watch);
    view.resize(640, 480);
    view.show();
    QTimer::singleShot(30000, &app, &QCoreApplication::quit);
    app.exec();
    if (watch.paintedAt == 0) {
        std::fprintf(stderr, "the view was never painted\n");
        return 1;
    }
    std::printf("painted_ms %.3f\n", double(watch.paintedAt - t0) / 1e6);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("runs"), QStringLiteral("Start-ups timed."),
                      QStringLiteral("N"), QStringLiteral("7")});
    parser.addOption({QStringLiteral("t0"), QStringLiteral("(internal) Run one timed start-up."),
                      QStringLiteral("NS")});
    parser.process(app);
    if (parser.isSet(QStringLiteral("t0")))
        return runChild(app, parser.value(QStringLiteral("t0")).toLongLong());

    const int runs = std::max(1, parser.value(QStringLiteral("runs")).toInt());
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const qint64 t0 = monotonicNs();
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--t0"), QString::number(t0)});
        if (!child.waitForFinished(60000) || child.exitCode() != 0) {
            std::fprintf(stderr, "run %d: the timed start-up failed\n", i);
            return 1;
        }
        const QRegularExpressionMatch painted =
            QRegularExpression(QStringLiteral("painted_ms ([0-9.]+)"))
                .match(QString::fromLatin1(child.readAllStandardOutput()));
        if (!painted.hasMatch()) {
            std::fprintf(stderr, "run %d: no time reported\n", i);
            return 1;
        }
        times.push_back(painted.captured(1).toDouble());
    }
    const double median = medianOf(times);
    const QString each = joinRuns(times, 1);
    std::printf("start-up floor: an empty QTableView painted, median %.1f ms (%s)\n", median,
                qPrintable(each));
    std::printf(
        "{\"benchmark\":\"floor_startup\",\"runs\":%d,\"startup_ms\":%.1f,\"runs_ms\":[%s]}\n",
        runs, median, qPrintable(each));
    return 0;
}
