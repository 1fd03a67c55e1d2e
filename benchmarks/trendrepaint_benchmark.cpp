// The trend window after a day at two readings a second (172,800 readings a
// series), and after a month (5,184,000 a series, all but the last day folded
// into one row a minute): the cost of one reading arriving and the plot being
// painted again, and the memory the window holds. The same day is also drawn with Qt Charts,
// with every point and with the points the window draws, when Qt Charts is
// there to build against.

#include "processusage.h"
#include "window/trendplot.h"
#include "window/trendwindow.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QWindow>

#include <cmath>
#include <memory>

#ifdef ZENTAVAL_HAVE_QT_CHARTS
#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <QValueAxis>
#endif

namespace {

constexpr int DayOfReadings = 24 * 60 * 60 * 2;
constexpr int MonthOfReadings = 30 * DayOfReadings;

// Reading `index` of the day, with the texts the instrument gives: eye
// height and width to two decimals, amplitude in whole mV.
MeasurementRow reading(int index)
{
    static const QDateTime start = QDateTime::currentDateTimeUtc();
    const double second = index * 0.5;
    const double wobble = std::sin(second / 900) + 0.3 * std::sin(index * 0.37);
    MeasurementRow row;
    row.time = start.addMSecs(qint64(index) * 500);
    row.elapsedSeconds = second;
    row.lamp = LockLamp::Green;
    row.quality = QStringLiteral("12.5");
    row.amplitude = QString::number(380 + std::lround(8 * wobble));
    row.eyeHeight = QString::number(0.45 + 0.02 * wobble, 'f', 2);
    row.eyeWidth = QString::number(0.52 + 0.01 * std::cos(second / 600), 'f', 2);
    row.rate = QStringLiteral("9953.2");
    return row;
}

bool showAndWait(QWidget &widget)
{
    widget.show();
    QElapsedTimer waited;
    waited.start();
    while (!(widget.windowHandle() && widget.windowHandle()->isExposed()) && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return widget.windowHandle() && widget.windowHandle()->isExposed();
}

// What building something added to the heap and to resident memory, in MB.
struct MemoryUse
{
    qint64 heapBefore = ProcessUsage::heapInUseBytes();
    qint64 residentBefore = ProcessUsage::residentKiB();
    double heapMB = 0;
    double residentMB = 0;
    void measure()
    {
        heapMB = double(ProcessUsage::heapInUseBytes() - heapBefore) / 1e6;
        residentMB = double(ProcessUsage::residentKiB() - residentBefore) * 1024 / 1e6;
    }
    void report(benchmark::State &state) const
    {
        state.counters["heap_MB"] = heapMB;
        state.counters["resident_MB"] = residentMB;
    }
};

// Loads what any window of the program has loaded before the trend window
// opens (fonts, style, the platform's backing store), so that the memory
// measured is the trend window's own.
void warmUp()
{
    static const bool warm = [] {
        TrendWindow window({});
        showAndWait(window);
        window.repaint();
        return true;
    }();
    Q_UNUSED(warm);
}

// The real trend window, fed a day (or a month) of readings as the main
// window feeds it, and shown at a size like a screen's half.
struct WindowRun
{
    MemoryUse memory;
    double emptyWindowHeapMB = 0;
    double feedSeconds = 0;
    std::unique_ptr<TrendWindow> window;
    TrendPlot *plot = nullptr;
    bool shown = false;
    int next = 0;

    explicit WindowRun(int readings)
    {
        MeasurementLimits limits;
        limits.minHeight = 0.44;
        window = std::make_unique<TrendWindow>(limits);
        window->resize(1000, 480);
        plot = window->findChild<TrendPlot *>();
        shown = showAndWait(*window);
        plot->repaint();
        memory.measure();
        emptyWindowHeapMB = memory.heapMB;
        QElapsedTimer feeding;
        feeding.start();
        for (; next < readings; ++next)
            window->addReading(reading(next));
        feedSeconds = double(feeding.elapsed()) / 1000;
        plot->repaint();
        memory.measure();
    }
    static WindowRun &day()
    {
        warmUp();
        static WindowRun day(DayOfReadings);
        return day;
    }
    static WindowRun &month()
    {
        warmUp();
        static WindowRun month(MonthOfReadings);
        return month;
    }
};

void readingAndRepaint(benchmark::State &state, WindowRun &run)
{
    if (!run.shown) {
        state.SkipWithError("trend window not exposed");
        return;
    }
    for (auto _ : state) {
        run.window->addReading(reading(run.next++));
        run.plot->repaint();
    }
    run.memory.report(state);
    const TrendHistory &history = run.window->history();
    state.counters["empty_window_heap_MB"] = run.emptyWindowHeapMB;
    state.counters["readings"] = double(history.readingCount());
    state.counters["whole_readings"] = double(history.size());
    state.counters["folded_minutes"] = double(history.folded().size());
    state.counters["feed_s"] = run.feedSeconds;
    state.counters["plot_width"] = run.plot->width();
}

void TrendReadingAndRepaint(benchmark::State &state)
{
    readingAndRepaint(state, WindowRun::day());
}
BENCHMARK(TrendReadingAndRepaint)->Unit(benchmark::kMillisecond)->UseRealTime();

// A month: the last day whole, the 29 days before it folded.
void TrendMonthReadingAndRepaint(benchmark::State &state)
{
    readingAndRepaint(state, WindowRun::month());
}
BENCHMARK(TrendMonthReadingAndRepaint)->Unit(benchmark::kMillisecond)->UseRealTime();

// The plot's repaint alone, and the points it draws.
void repaint(benchmark::State &state, WindowRun &run)
{
    for (auto _ : state)
        run.plot->repaint();
    size_t points = 0;
    const auto &history = run.window->history();
    for (const auto series : {TrendHistory::Height, TrendHistory::Width, TrendHistory::Amplitude}) {
        for (const auto &line : history.linesToDraw(series, history.firstElapsed(), history.lastElapsed(),
                                                    run.plot->width() - 112))
            points += line.size();
    }
    state.counters["points_drawn"] = double(points);
}

void TrendRepaint(benchmark::State &state)
{
    repaint(state, WindowRun::day());
}
BENCHMARK(TrendRepaint)->Unit(benchmark::kMillisecond)->UseRealTime();

void TrendMonthRepaint(benchmark::State &state)
{
    repaint(state, WindowRun::month());
}
BENCHMARK(TrendMonthRepaint)->Unit(benchmark::kMillisecond)->UseRealTime();

// The points the window keeps for the plot, chosen for one repaint.
void TrendLinesToDraw(benchmark::State &state)
{
    const TrendHistory &history = WindowRun::day().window->history();
    for (auto _ : state) {
        for (const auto series : {TrendHistory::Height, TrendHistory::Width, TrendHistory::Amplitude})
            benchmark::DoNotOptimize(
                history.linesToDraw(series, history.firstElapsed(), history.lastElapsed(), 888));
    }
}
BENCHMARK(TrendLinesToDraw)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef ZENTAVAL_HAVE_QT_CHARTS

// The same day in a Qt Charts view of the plot's size: three line series, the
// UI axis on the left and the mV axis on the right. With `allPoints` each
// series holds every reading; otherwise it holds the points the window draws,
// chosen again for every reading as the window does.
struct ChartsDay
{
    MemoryUse memory;
    TrendHistory history;
    QChartView view;
    QLineSeries *series[TrendHistory::SeriesCount] = {};
    bool allPoints;
    bool shown = false;
    int next = 0;

    explicit ChartsDay(bool allPoints)
        : allPoints(allPoints)
    {
        auto *chart = new QChart;
        chart->setAnimationOptions(QChart::NoAnimation);
        chart->legend()->hide();
        auto *time = new QValueAxis;
        auto *ui = new QValueAxis;
        auto *mv = new QValueAxis;
        chart->addAxis(time, Qt::AlignBottom);
        chart->addAxis(ui, Qt::AlignLeft);
        chart->addAxis(mv, Qt::AlignRight);
        ui->setRange(0.36, 0.56);
        mv->setRange(360, 400);
        time->setRange(0, DayOfReadings / 2.0);
        for (int index = 0; index < TrendHistory::SeriesCount; ++index) {
            series[index] = new QLineSeries;
            series[index]->setColor(TrendPlot::seriesColor(TrendHistory::Series(index)));
            chart->addSeries(series[index]);
            series[index]->attachAxis(time);
            series[index]->attachAxis(index == TrendHistory::Amplitude ? mv : ui);
        }
        view.setChart(chart);
        view.resize(888, 480);
        for (; next < DayOfReadings; ++next)
            history.add(reading(next));
        if (allPoints) {
            for (int index = 0; index < TrendHistory::SeriesCount; ++index) {
                QList<QPointF> points;
                points.reserve(DayOfReadings);
                const auto &values = history.values(TrendHistory::Series(index));
                for (size_t at = 0; at < values.size(); ++at)
                    points.append(QPointF(history.elapsed()[at], double(values[at])));
                series[index]->replace(points);
            }
        } else {
            choosePoints();
        }
        shown = showAndWait(view);
        view.repaint();
        memory.measure();
    }

    void choosePoints()
    {
        for (int index = 0; index < TrendHistory::SeriesCount; ++index) {
            QList<QPointF> points;
            for (const auto &line : history.linesToDraw(
                     TrendHistory::Series(index), history.elapsed().front(), history.elapsed().back(), 888))
                points.append(QList<QPointF>(line.begin(), line.end()));
            series[index]->replace(points);
        }
    }

    void addReadingAndRepaint()
    {
        const MeasurementRow row = reading(next++);
        history.add(row);
        if (allPoints) {
            series[TrendHistory::Height]->append(row.elapsedSeconds, *row.heightValue());
            series[TrendHistory::Width]->append(row.elapsedSeconds, *row.widthValue());
            series[TrendHistory::Amplitude]->append(row.elapsedSeconds, *row.amplitudeValue());
        } else {
            choosePoints();
        }
        view.repaint();
    }
};

void chartsReadingAndRepaint(benchmark::State &state, ChartsDay &day)
{
    if (!day.shown) {
        state.SkipWithError("chart not exposed");
        return;
    }
    for (auto _ : state)
        day.addReadingAndRepaint();
    day.memory.report(state);
}

void ChartsAllPointsReadingAndRepaint(benchmark::State &state)
{
    warmUp();
    static ChartsDay day(true);
    chartsReadingAndRepaint(state, day);
}
BENCHMARK(ChartsAllPointsReadingAndRepaint)->Unit(benchmark::kMillisecond)->UseRealTime();

void ChartsChosenPointsReadingAndRepaint(benchmark::State &state)
{
    warmUp();
    static ChartsDay day(false);
    chartsReadingAndRepaint(state, day);
}
BENCHMARK(ChartsChosenPointsReadingAndRepaint)->Unit(benchmark::kMillisecond)->UseRealTime();

#endif

} // namespace
