#include "rules/trendhistory.h"
#include "rules/trendstatistics.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QTest>

#include <cmath>
#include <numeric>

using Values = QList<double>;
using Lines = QList<QList<QPointF>>;

namespace {

const double NaN = std::nan("");

// A reading at `second` of the run with these texts.
MeasurementRow reading(double second, const QString &height, const QString &width = "0.5",
                       const QString &amplitude = "400", LockLamp lamp = LockLamp::Green)
{
    MeasurementRow row;
    row.time = QDateTime(QDate(2026, 12, 7), QTime(10, 0), Qt::UTC).addMSecs(qint64(second * 1000));
    row.elapsedSeconds = second;
    row.lamp = lamp;
    row.quality = "12.5";
    row.amplitude = amplitude;
    row.eyeHeight = height;
    row.eyeWidth = width;
    row.rate = "9953.2";
    return row;
}

// Eye heights y at seconds x, with a loss before each of the line starts.
TrendHistory heights(const Values &x, const Values &y, const QList<qsizetype> &lineStarts = {})
{
    TrendHistory history;
    for (int i = 0; i < x.size(); ++i) {
        if (lineStarts.contains(i))
            history.breakLine();
        history.add(reading(x.at(i), std::isnan(y.at(i)) ? QString() : QString::number(y.at(i), 'g', 9)));
    }
    return history;
}

bool same(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || qFuzzyCompare(1 + a, 1 + b);
}

} // namespace

class TestTrendRules : public QObject
{
    Q_OBJECT

private slots:
    void seriesFigures_data();
    void seriesFigures();
    void latchHoldsTheFirstMissUntilReset_data();
    void latchHoldsTheFirstMissUntilReset();
    void linesKeepEachColumnsExtremes_data();
    void linesKeepEachColumnsExtremes();
    void aDayOfReadingsDrawsEveryColumnsRange();
    void historyExportsTheRowsAsTheLogWritesThem();
    void foldedHistoryKeepsTheFiguresOfEveryReading_data();
    void foldedHistoryKeepsTheFiguresOfEveryReading();
    void foldedMinutesDrawTheRangeOfTheirReadings();
    void foldedMinutesDrawAsEveryMinuteDoes_data();
    void foldedMinutesDrawAsEveryMinuteDoes();
    void foldedHistoryExportsMinutesThenReadings();
    void textsOfFoldedReadingsAreLetGo();
};

void TestTrendRules::seriesFigures_data()
{
    QTest::addColumn<Values>("added");
    QTest::addColumn<Values>("expected"); // last, minimum, maximum, mean, count

    QTest::newRow("nothing yet") << Values {} << Values {NaN, NaN, NaN, NaN, 0};
    QTest::newRow("one value") << Values {0.45} << Values {0.45, 0.45, 0.45, 0.45, 1};
    QTest::newRow("last is not the largest") << Values {0.4, 0.6, 0.5} << Values {0.5, 0.4, 0.6, 0.5, 3};
    QTest::newRow("lowest comes last") << Values {380, 400, 20} << Values {20, 20, 400, 800.0 / 3, 3};
    QTest::newRow("no number is no value") << Values {NaN, 0.3, INFINITY} << Values {0.3, 0.3, 0.3, 0.3, 1};
    QTest::newRow("negative and zero") << Values {0, -2} << Values {-2, -2, 0, -1, 2};
}

void TestTrendRules::seriesFigures()
{
    QFETCH(Values, added);
    QFETCH(Values, expected);
    SeriesStatistics statistics;
    statistics.add(1e6); // gone with the reset
    statistics.reset();
    for (double value : added)
        statistics.add(value);
    const Values figures {statistics.last(), statistics.minimum(), statistics.maximum(), statistics.mean(),
                          double(statistics.count())};
    for (int i = 0; i < figures.size(); ++i)
        QVERIFY2(same(figures.at(i), expected.at(i)),
                 qPrintable(QString("figure %1: %2").arg(i).arg(figures.at(i))));
}

void TestTrendRules::latchHoldsTheFirstMissUntilReset_data()
{
    QTest::addColumn<QList<MeasurementRow>>("rows");
    QTest::addColumn<MeasurementLimits>("limits");
    QTest::addColumn<int>("firstMiss"); // index of the first row that misses, -1 for none
    QTest::addColumn<QStringList>("missed");
    QTest::addColumn<int>("misses");

    MeasurementLimits height;
    height.minHeight = 0.4;
    MeasurementLimits all = height;
    all.minWidth = 0.5;
    all.minAmplitude = 300;
    all.requireLock = true;

    QTest::newRow("no limits, nothing misses")
        << QList {reading(0, "0.1"), reading(1, "")} << MeasurementLimits() << -1 << QStringList() << 0;
    QTest::newRow("a brief dip stays lit")
        << QList {reading(0, "0.45"), reading(1, "0.39"), reading(2, "0.45"), reading(3, "0.5")} << height
        << 1 << QStringList {"height"} << 1;
    QTest::newRow("the first miss is kept, later ones counted")
        << QList {reading(0, "0.45"), reading(1, "0.45", "0.2"), reading(2, "0.1", "0.1", "10")} << all << 1
        << QStringList {"width"} << 2;
}

void TestTrendRules::latchHoldsTheFirstMissUntilReset()
{
    QFETCH(QList<MeasurementRow>, rows);
    QFETCH(MeasurementLimits, limits);
    QFETCH(int, firstMiss);
    QFETCH(QStringList, missed);
    QFETCH(int, misses);

    LimitLatch latch;
    for (const MeasurementRow &row : rows)
        QCOMPARE(latch.judge(row, limits), !missedLimits(row, limits).isEmpty());
    QCOMPARE(latch.isLit(), firstMiss >= 0);
    QCOMPARE(latch.firstMiss(), firstMiss >= 0 ? rows.at(firstMiss).time : QDateTime());
    QCOMPARE(latch.firstMissed(), missed);
    QCOMPARE(latch.misses(), misses);

    latch.reset();
    QVERIFY(!latch.isLit());
    QCOMPARE(latch.misses(), 0);
    QVERIFY(!latch.judge(reading(9, "0.9", "0.9", "900"), limits));
    QVERIFY(!latch.isLit());
}

void TestTrendRules::linesKeepEachColumnsExtremes_data()
{
    QTest::addColumn<Values>("x");
    QTest::addColumn<Values>("y");
    QTest::addColumn<QList<qsizetype>>("lineStarts");
    QTest::addColumn<int>("columns");
    QTest::addColumn<Lines>("expected");

    // Ten seconds over [0, 10]: one column a second with 10 columns, two
    // seconds with 5.
    const Values x {0, 0.5, 1, 1.5, 2, 2.5, 3, 3.5, 4, 4.5};
    QTest::newRow("a point a column, all kept") << Values {0, 1, 2} << Values {5, 6, 7} << QList<qsizetype>()
                                                << 10 << Lines {{{0, 5}, {1, 6}, {2, 7}}};
    QTest::newRow("first, lowest, highest, last in order")
        << Values {0, 0.2, 0.4, 0.6, 0.8, 1.5} << Values {3, 9, 1, 4, 2, 8} << QList<qsizetype>() << 10
        << Lines {{{0, 3}, {0.2, 9}, {0.4, 1}, {0.8, 2}, {1.5, 8}}};
    QTest::newRow("many points in one wide column")
        << x << Values {1, 2, 3, 4, 5, 0, 1, 2, 3, 2} << QList<qsizetype>() << 2
        << Lines {{{0, 1}, {2, 5}, {2.5, 0}, {4.5, 2}}};
    QTest::newRow("a loss starts a new line")
        << Values {0, 1, 2, 3} << Values {1, 2, 3, 4} << QList<qsizetype> {2} << 10
        << Lines {{{0, 1}, {1, 2}}, {{2, 3}, {3, 4}}};
    QTest::newRow("a loss inside a column splits it")
        << Values {0, 0.3, 0.6, 0.9} << Values {1, 7, 2, 8} << QList<qsizetype> {2} << 10
        << Lines {{{0, 1}, {0.3, 7}}, {{0.6, 2}, {0.9, 8}}};
    QTest::newRow("no number breaks the line")
        << Values {0, 1, 2, 3} << Values {1, NaN, 3, 4} << QList<qsizetype>() << 10
        << Lines {{{0, 1}}, {{2, 3}, {3, 4}}};
    QTest::newRow("outside the span is not drawn") << Values {-1, 0, 5, 11} << Values {1, 2, 3, 4}
                                                   << QList<qsizetype>() << 10 << Lines {{{0, 2}, {5, 3}}};
    QTest::newRow("the span's end falls in the last column")
        << Values {9.5, 10} << Values {1, 2} << QList<qsizetype>() << 10 << Lines {{{9.5, 1}, {10, 2}}};
    QTest::newRow("no columns, nothing") << Values {0} << Values {1} << QList<qsizetype>() << 0 << Lines {};
}

void TestTrendRules::linesKeepEachColumnsExtremes()
{
    QFETCH(Values, x);
    QFETCH(Values, y);
    QFETCH(QList<qsizetype>, lineStarts);
    QFETCH(int, columns);
    QFETCH(Lines, expected);

    const auto lines = heights(x, y, lineStarts).linesToDraw(TrendHistory::Height, 0, 10, columns);
    Lines drawn;
    for (const auto &line : lines)
        drawn.append(QList<QPointF>(line.begin(), line.end()));
    QCOMPARE(drawn, expected);
}

// A day of noisy readings, with a loss and a few readings without a height:
// each column's lowest and highest reading are drawn, no more than four
// points a column, and each line from its first reading to its last.
void TestTrendRules::aDayOfReadingsDrawsEveryColumnsRange()
{
    constexpr int Count = 172800;
    constexpr int Columns = 700;
    const QList<int> noHeight {1000, 1001, 90017, 150000};
    Values x, y;
    QRandomGenerator random(17);
    for (int i = 0; i < Count; ++i) {
        x << i * 0.5;
        y << (noHeight.contains(i) ? NaN : 0.4 + 0.1 * random.bounded(1000) / 1000.0);
    }
    const TrendHistory history = heights(x, y, {50000});
    const double xTo = x.last();
    const auto columnOf = [&](double at) { return std::min(Columns - 1, int(at / xTo * Columns)); };
    std::vector<float> low(Columns, INFINITY), high(Columns, -INFINITY);
    for (int i = 0; i < Count; ++i) {
        const float value = history.values(TrendHistory::Height)[size_t(i)];
        if (!std::isnan(value)) {
            low[size_t(columnOf(x.at(i)))] = std::min(low[size_t(columnOf(x.at(i)))], value);
            high[size_t(columnOf(x.at(i)))] = std::max(high[size_t(columnOf(x.at(i)))], value);
        }
    }

    const auto lines = history.linesToDraw(TrendHistory::Height, 0, xTo, Columns);
    QList<double> ends;
    std::vector<float> drawnLow(Columns, INFINITY), drawnHigh(Columns, -INFINITY);
    size_t points = 0;
    for (const auto &line : lines) {
        ends << line.front().x() << line.back().x();
        points += line.size();
        for (const QPointF &point : line) {
            drawnLow[size_t(columnOf(point.x()))]
                = std::min(drawnLow[size_t(columnOf(point.x()))], float(point.y()));
            drawnHigh[size_t(columnOf(point.x()))]
                = std::max(drawnHigh[size_t(columnOf(point.x()))], float(point.y()));
        }
    }
    QCOMPARE(ends, QList<double>({0, 499.5, 501, 24999.5, 25000, 45008, 45009, 74999.5, 75000.5, xTo}));
    QVERIFY(points <= size_t(4 * Columns + 4 * lines.size()));
    QVERIFY(drawnLow == low);
    QVERIFY(drawnHigh == high);
}

void TestTrendRules::historyExportsTheRowsAsTheLogWritesThem()
{
    TrendHistory history;
    history.add(reading(0, "0.1")); // gone with the clear
    history.clear();
    QList<MeasurementRow> rows {reading(0, "0.45"), reading(1, "0.45", ""),
                                reading(2, "0.39", "0.5", "409.5")};
    rows[1].pass = false;
    rows[2].lamp = LockLamp::Yellow;
    history.add(rows[0]);
    history.add(rows[1]);
    history.breakLine();
    history.breakLine();
    history.add(rows[2]);

    QCOMPARE(history.size(), 3);
    QCOMPARE(history.lineStarts(), std::vector<qsizetype> {2});
    QCOMPARE(history.statistics(TrendHistory::Height).count(), 3);
    QCOMPARE(history.statistics(TrendHistory::Width).count(), 2);
    QCOMPARE(history.statistics(TrendHistory::Amplitude).maximum(), 409.5);
    QVERIFY(std::isnan(history.values(TrendHistory::Width)[1]));

    QByteArray expected = "# head\n" + csvHeader();
    for (const MeasurementRow &row : rows)
        expected += csvLine(row);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(writeTrendCsv(buffer, history, "# head\n"));
    QCOMPARE(buffer.data(), expected);
}

namespace {

// A run of `minutes` at two readings a second with noise, readings without a
// height, a loss (at 40 % of the run, mid-minute) and dips below `limits`.
QList<MeasurementRow> noisyRun(int minutes, quint32 seed)
{
    QList<MeasurementRow> rows;
    QRandomGenerator random(seed);
    const int count = minutes * 120;
    for (int i = 0; i < count; ++i) {
        const double second = i * 0.5 + (i >= count * 2 / 5 ? 95 : 0);
        const double height = 0.40 + random.bounded(100) / 1000.0 - (i % 997 == 500 ? 0.1 : 0);
        MeasurementRow row = reading(second, i % 331 == 7 ? QString() : QString::number(height, 'f', 3),
                                     QString::number(0.45 + random.bounded(50) / 1000.0, 'f', 3),
                                     QString::number(380 + random.bounded(400) / 10.0, 'f', 1),
                                     i % 613 == 100 ? LockLamp::Yellow : LockLamp::Green);
        rows << row;
    }
    return rows;
}

// Adds the rows as the trend window does: judged by the latch, with a line
// broken before the first row after a gap of more than a second.
void addJudged(TrendHistory &history, LimitLatch &latch, const QList<MeasurementRow> &rows,
               const MeasurementLimits &limits)
{
    for (int i = 0; i < rows.size(); ++i) {
        if (i > 0 && rows.at(i).elapsedSeconds - rows.at(i - 1).elapsedSeconds > 1)
            history.breakLine();
        MeasurementRow judged = rows.at(i);
        judged.pass = !latch.judge(judged, limits);
        history.add(judged);
    }
}

MeasurementLimits heightAndLock()
{
    MeasurementLimits limits;
    limits.minHeight = 0.35;
    limits.requireLock = true;
    return limits;
}

} // namespace

void TestTrendRules::foldedHistoryKeepsTheFiguresOfEveryReading_data()
{
    QTest::addColumn<int>("minutes");
    QTest::addColumn<qint64>("foldAfterMs");

    QTest::newRow("an hour, a fold after 5 minutes") << 60 << qint64(5 * 60000);
    QTest::newRow("half an hour, a fold after a minute") << 30 << qint64(60000);
    QTest::newRow("every reading but the newest folded") << 20 << qint64(0);
    QTest::newRow("a run shorter than the horizon") << 3 << qint64(10 * 60000);
}

// The same readings kept whole and folded after minutes: the same figures and
// latch, every reading either kept or counted in its minute, each minute the
// range, mean and count of its readings, and no more whole readings kept than
// the horizon holds.
void TestTrendRules::foldedHistoryKeepsTheFiguresOfEveryReading()
{
    QFETCH(int, minutes);
    QFETCH(qint64, foldAfterMs);
    const QList<MeasurementRow> rows = noisyRun(minutes, 5);
    const MeasurementLimits limits = heightAndLock();
    TrendHistory whole;
    TrendHistory folded(foldAfterMs);
    LimitLatch wholeLatch, foldedLatch;
    addJudged(whole, wholeLatch, rows, limits);
    addJudged(folded, foldedLatch, rows, limits);

    QCOMPARE(whole.size(), rows.size());
    QVERIFY(whole.folded().empty());
    for (int series = 0; series < TrendHistory::SeriesCount; ++series) {
        const SeriesStatistics &expected = whole.statistics(TrendHistory::Series(series));
        const SeriesStatistics &got = folded.statistics(TrendHistory::Series(series));
        QCOMPARE(got.count(), expected.count());
        QCOMPARE(got.last(), expected.last());
        QCOMPARE(got.minimum(), expected.minimum());
        QCOMPARE(got.maximum(), expected.maximum());
        QCOMPARE(got.mean(), expected.mean());
    }
    QVERIFY(foldedLatch.isLit());
    QCOMPARE(foldedLatch.firstMiss(), wholeLatch.firstMiss());
    QCOMPARE(foldedLatch.firstMissed(), wholeLatch.firstMissed());
    QCOMPARE(foldedLatch.misses(), wholeLatch.misses());
    QCOMPARE(folded.firstTimeMs(), rows.first().time.toMSecsSinceEpoch());
    QCOMPARE(folded.firstElapsed(), rows.first().elapsedSeconds);
    QCOMPARE(folded.lastElapsed(), rows.last().elapsedSeconds);

    // The whole readings kept are the newest, those within the horizon.
    QCOMPARE(folded.readingCount(), qint64(rows.size()));
    const qint64 newestMs = rows.last().time.toMSecsSinceEpoch();
    const qsizetype kept = std::count_if(rows.begin(), rows.end(), [&](const MeasurementRow &row) {
        return row.time.toMSecsSinceEpoch() >= newestMs - foldAfterMs;
    });
    QCOMPARE(folded.size(), kept);
    QCOMPARE(folded.row(0).time, rows.at(rows.size() - kept).time);
    QCOMPARE(csvLine(folded.row(folded.size() - 1)), csvLine(whole.row(whole.size() - 1)));

    // Each folded minute against the whole readings of that minute.
    qsizetype index = 0;
    for (const TrendHistory::FoldedMinute &minute : folded.folded()) {
        std::array<Values, TrendHistory::SeriesCount> values;
        quint32 readings = 0, misses = 0;
        quint8 lamps = 0;
        double firstElapsed = whole.row(index).elapsedSeconds, lastElapsed = firstElapsed;
        for (; index < rows.size() - kept && whole.timeMs(index) / 60000 == minute.minuteMs / 60000; ++index) {
            const MeasurementRow row = whole.row(index);
            ++readings;
            misses += row.pass ? 0 : 1;
            lamps |= quint8(1 << int(row.lamp));
            lastElapsed = row.elapsedSeconds;
            for (const auto &[series, value] :
                 {std::pair {0, row.heightValue()}, {1, row.widthValue()}, {2, row.amplitudeValue()}})
                if (value)
                    values[size_t(series)] << *value;
        }
        QCOMPARE(minute.readings, readings);
        QCOMPARE(minute.misses, misses);
        QCOMPARE(minute.lampsSeen, lamps);
        QCOMPARE(minute.firstElapsed, firstElapsed);
        QCOMPARE(minute.lastElapsed, lastElapsed);
        for (int series = 0; series < TrendHistory::SeriesCount; ++series) {
            const TrendHistory::FoldedRange &range = minute.series[size_t(series)];
            const Values &expected = values[size_t(series)];
            QCOMPARE(range.count, quint32(expected.size()));
            QCOMPARE(range.minimum, *std::min_element(expected.begin(), expected.end()));
            QCOMPARE(range.maximum, *std::max_element(expected.begin(), expected.end()));
            QVERIFY(same(range.sum / range.count, std::accumulate(expected.begin(), expected.end(), 0.0)
                                                      / expected.size()));
        }
    }
    QCOMPARE(index, rows.size() - kept);
}

// A plot over an hour folded after ten minutes: the folded span shows the
// same lowest and highest values as the whole readings, the loss still
// leaves a gap, and no column draws more than four points.
void TestTrendRules::foldedMinutesDrawTheRangeOfTheirReadings()
{
    const QList<MeasurementRow> rows = noisyRun(60, 11);
    TrendHistory whole;
    TrendHistory folded(10 * 60000);
    LimitLatch latch;
    addJudged(whole, latch, rows, {});
    addJudged(folded, latch, rows, {});
    QVERIFY(!folded.folded().empty());
    constexpr int Columns = 120; // 30 s a column, or more
    const double xFrom = whole.firstElapsed();
    const double xTo = whole.lastElapsed();
    QCOMPARE(folded.firstElapsed(), xFrom);
    QCOMPARE(folded.lastElapsed(), xTo);
    const double foldedUpTo = folded.folded().back().lastElapsed;

    for (int series = 0; series < TrendHistory::SeriesCount; ++series) {
        float wholeLow = INFINITY, wholeHigh = -INFINITY;
        for (qsizetype index = 0; index < whole.size() && whole.elapsed()[size_t(index)] <= foldedUpTo; ++index) {
            const float value = whole.values(TrendHistory::Series(series))[size_t(index)];
            if (!std::isnan(value)) {
                wholeLow = std::min(wholeLow, value);
                wholeHigh = std::max(wholeHigh, value);
            }
        }
        const auto foldedLines = folded.linesToDraw(TrendHistory::Series(series), xFrom, xTo, Columns);
        double foldedLow = INFINITY, foldedHigh = -INFINITY;
        for (const auto &line : foldedLines)
            for (const QPointF &point : line)
                if (point.x() <= foldedUpTo) {
                    foldedLow = std::min(foldedLow, point.y());
                    foldedHigh = std::max(foldedHigh, point.y());
                }
        QCOMPARE(float(foldedLow), wholeLow);
        QCOMPARE(float(foldedHigh), wholeHigh);
        size_t points = 0;
        for (const auto &line : foldedLines)
            points += line.size();
        QVERIFY(points <= size_t(4 * Columns + 4 * foldedLines.size()));
        // The gap of the loss, which fell in the folded span.
        bool gapDrawn = false;
        for (size_t line = 1; line < foldedLines.size(); ++line)
            gapDrawn |= foldedLines[line].front().x() - foldedLines[line - 1].back().x() > 60;
        QVERIFY(gapDrawn);
    }
}

void TestTrendRules::foldedMinutesDrawAsEveryMinuteDoes_data()
{
    QTest::addColumn<int>("columns");
    QTest::newRow("many minutes a column") << 2;
    QTest::newRow("a run of minutes a column, or less") << 5;
    QTest::newRow("some minutes a column") << 60;
    QTest::newRow("about a minute a column") << 250;
    QTest::newRow("several columns a minute") << 1000;
}

// Three hours, all folded but the newest reading, with a loss and a minute
// without a height: the plot draws what taking each folded minute's lowest
// and highest value, one by one, draws, however the minutes are gathered.
void TestTrendRules::foldedMinutesDrawAsEveryMinuteDoes()
{
    QFETCH(int, columns);
    QList<MeasurementRow> rows = noisyRun(180, 23);
    for (int i = 3000; i < 3120; ++i)
        rows[i].eyeHeight.clear();
    TrendHistory history(0);
    LimitLatch latch;
    addJudged(history, latch, rows, {});
    QCOMPARE(history.size(), 1);
    const double xFrom = history.firstElapsed();
    const double xTo = history.lastElapsed();
    const auto columnOf = [&](double x) { return std::min(columns - 1, int((x - xFrom) * columns / (xTo - xFrom))); };

    // Every point in order, NaN for a break.
    QList<QPointF> points;
    for (const TrendHistory::FoldedMinute &minute : history.folded()) {
        const TrendHistory::FoldedRange &range = minute.series[TrendHistory::Height];
        if (minute.startsLine || range.count == 0)
            points << QPointF(NaN, NaN);
        if (range.count == 0)
            continue;
        const QPointF low(range.highestLast ? minute.firstElapsed : minute.lastElapsed, range.minimum);
        const QPointF high(range.highestLast ? minute.lastElapsed : minute.firstElapsed, range.maximum);
        points << (range.highestLast ? low : high) << (range.highestLast ? high : low);
    }
    // The newest reading, whole, drawn as the float it is kept as.
    points << QPointF(history.row(0).elapsedSeconds, double(history.values(TrendHistory::Height)[0]));
    Lines expected;
    QList<QPointF> column; // first, lowest, highest, last; their indices below
    QList<int> order;
    int at = -1;
    const auto endColumn = [&] {
        if (at < 0)
            return;
        QList<std::pair<int, QPointF>> kept;
        for (int i = 0; i < 4; ++i)
            if (!std::any_of(kept.begin(), kept.end(), [&](const auto &k) { return k.first == order[i]; }))
                kept << std::pair {order[i], column[i]};
        std::sort(kept.begin(), kept.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
        for (const auto &k : kept)
            expected.last() << k.second;
        at = -1;
    };
    bool lineOpen = false;
    for (int i = 0; i < points.size(); ++i) {
        const QPointF point = points.at(i);
        if (std::isnan(point.x())) {
            endColumn();
            lineOpen = false;
            continue;
        }
        if (columnOf(point.x()) != at) {
            endColumn();
            if (!lineOpen)
                expected << QList<QPointF>();
            lineOpen = true;
            at = columnOf(point.x());
            column = {point, point, point, point};
            order = {i, i, i, i};
            continue;
        }
        if (point.y() < column[1].y())
            column[1] = point, order[1] = i;
        if (point.y() > column[2].y())
            column[2] = point, order[2] = i;
        column[3] = point, order[3] = i;
    }
    endColumn();

    Lines drawn;
    for (const auto &line : history.linesToDraw(TrendHistory::Height, xFrom, xTo, columns))
        drawn.append(QList<QPointF>(line.begin(), line.end()));
    QCOMPARE(drawn.size(), expected.size());
    QCOMPARE(drawn, expected);
}

void TestTrendRules::foldedHistoryExportsMinutesThenReadings()
{
    const QList<MeasurementRow> rows = noisyRun(5, 3);
    TrendHistory history(2 * 60000);
    LimitLatch latch;
    addJudged(history, latch, rows, heightAndLock());
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(writeTrendCsv(buffer, history, "# head\n"));
    const QList<QByteArray> lines = buffer.data().split('\n');

    QCOMPARE(lines.at(0), QByteArray("# head"));
    QCOMPARE(lines.at(1), QByteArray("# folded: one row a minute, min/max/mean/count"));
    QCOMPARE(lines.at(2) + '\n', foldedCsvHeader());
    const qsizetype minutes = qsizetype(history.folded().size());
    QCOMPARE(lines.at(3 + minutes), QByteArray("# readings: one row a reading"));
    QCOMPARE(lines.at(4 + minutes) + '\n', csvHeader());
    QCOMPARE(lines.size(), 5 + minutes + history.size() + 1);
    QCOMPARE(lines.at(5 + minutes) + '\n', csvLine(history.row(0)));
    QCOMPARE(lines.at(lines.size() - 2) + '\n', csvLine(rows.last()));

    // The first folded minute: 10:00, its 120 readings, a yellow lamp at the
    // 101st, a height of 0.3xx at the 8th reading missing a limit.
    const QList<QByteArray> first = lines.at(3).split(',');
    const QList<QByteArray> names = foldedCsvHeader().trimmed().split(',');
    QCOMPARE(first.size(), names.size());
    const auto cell = [&](const char *name) { return first.at(names.indexOf(name)); };
    QCOMPARE(cell("folded_minute"), QByteArray("2026-12-07T10:00:00.000Z"));
    QCOMPARE(cell("first_elapsed_s"), QByteArray("0.000"));
    QCOMPARE(cell("last_elapsed_s"), QByteArray("59.500"));
    QCOMPARE(cell("readings"), QByteArray("120"));
    QCOMPARE(cell("lamps_seen"), QByteArray("green+yellow"));
    QCOMPARE(cell("misses"), QByteArray("2")); // no height at the 8th, a yellow lamp at the 101st
    QCOMPARE(cell("eye_height_ui_count"), QByteArray("119"));
    QCOMPARE(cell("amplitude_mv_count"), QByteArray("120"));
    QCOMPARE(cell("eye_height_ui_min").toDouble(), history.folded().front().series[0].minimum);
}

// Texts of readings folded away leave the history: a month of amplitudes
// that all differ holds no more texts than the day's readings.
void TestTrendRules::textsOfFoldedReadingsAreLetGo()
{
    TrendHistory history(60000);
    for (int i = 0; i < 20000; ++i)
        history.add(reading(i * 0.5, "0.45", "0.5", QString::number(100 + i * 0.1, 'f', 1)));
    QCOMPARE(history.size(), 121);
    // One amplitude a reading, and the shared height, width, quality and rate.
    QCOMPARE(history.textsHeld(), 121 + 4);
    QCOMPARE(history.row(0).amplitude, QString::number(100 + (20000 - 121) * 0.1, 'f', 1));
}

QTEST_APPLESS_MAIN(TestTrendRules)
#include "tst_trendrules.moc"
