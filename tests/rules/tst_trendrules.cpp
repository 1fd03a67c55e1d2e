#include "rules/trendhistory.h"
#include "rules/trendstatistics.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QTest>

#include <cmath>
#include <numeric>
#include <set>

using Values = QList<double>;
using Lines = QList<QList<QPointF>>;

namespace {

const double NaN = std::nan("");

MeasurementRow reading(double second, const QString &height, const QString &width = "0.5",
                       const QString &amplitude = "400", LockLamp lamp = LockLamp::Green)
{
    const QDateTime start(QDate(2026, 12, 7), QTime(10, 0), Qt::UTC);
    return {start.addMSecs(qint64(second * 1000)), second, lamp, "12.5", amplitude, height, width, "9953.2"};
}

// Last, minimum, maximum, mean and count.
Values figures(const SeriesStatistics &statistics)
{
    return {statistics.last(), statistics.minimum(), statistics.maximum(), statistics.mean(),
            double(statistics.count())};
}

bool same(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || qFuzzyCompare(1 + a, 1 + b);
}

Lines drawn(const TrendHistory &history, double xFrom, double xTo, int columns)
{
    Lines drawn;
    for (const auto &line : history.linesToDraw(TrendHistory::Height, xFrom, xTo, columns))
        drawn.append(QList<QPointF>(line.begin(), line.end()));
    return drawn;
}

// Minutes at two readings a second with noise, readings without a height, a
// loss at 40 % of the run (mid-minute), dips and a yellow lamp now and then.
QList<MeasurementRow> noisyRun(int minutes, quint32 seed)
{
    QList<MeasurementRow> rows;
    QRandomGenerator random(seed);
    const int count = minutes * 120;
    for (int i = 0; i < count; ++i) {
        const double second = i * 0.5 + (i >= count * 2 / 5 ? 95 : 0);
        const double height = 0.40 + random.bounded(100) / 1000.0 - (i % 997 == 500 ? 0.1 : 0);
        rows << reading(second, i % 331 == 7 ? QString() : QString::number(height, 'f', 3),
                        QString::number(0.45 + random.bounded(50) / 1000.0, 'f', 3),
                        QString::number(380 + random.bounded(400) / 10.0, 'f', 1),
                        i % 613 == 100 ? LockLamp::Yellow : LockLamp::Green);
    }
    return rows;
}

// Adds the rows as the trend window does: judged, a line broken after a gap.
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

class TestTrendRules : public QObject
{
    Q_OBJECT

private slots:
    void seriesFigures_data()
    {
        QTest::addColumn<Values>("added");
        QTest::addColumn<Values>("expected"); // last, minimum, maximum, mean, count

        QTest::newRow("nothing yet") << Values {} << Values {NaN, NaN, NaN, NaN, 0};
        QTest::newRow("one value") << Values {0.45} << Values {0.45, 0.45, 0.45, 0.45, 1};
        QTest::newRow("last is not the largest") << Values {0.4, 0.6, 0.5} << Values {0.5, 0.4, 0.6, 0.5, 3};
        QTest::newRow("lowest comes last") << Values {380, 400, 20} << Values {20, 20, 400, 800.0 / 3, 3};
        QTest::newRow("no number is no value")
            << Values {NaN, 0.3, INFINITY} << Values {0.3, 0.3, 0.3, 0.3, 1};
        QTest::newRow("negative and zero") << Values {0, -2} << Values {-2, -2, 0, -1, 2};
    }
    void seriesFigures()
    {
        QFETCH(Values, added);
        QFETCH(Values, expected);
        SeriesStatistics statistics;
        statistics.add(1e6); // gone with the reset
        statistics.reset();
        for (double value : added)
            statistics.add(value);
        for (int i = 0; i < expected.size(); ++i)
            QVERIFY2(same(figures(statistics).at(i), expected.at(i)), qPrintable(QString::number(i)));
    }
    void latchHoldsTheFirstMissUntilReset_data()
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
            << QList {reading(0, "0.45"), reading(1, "0.45", "0.2"), reading(2, "0.1", "0.1", "10")} << all
            << 1 << QStringList {"width"} << 2;
    }
    void latchHoldsTheFirstMissUntilReset()
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
    void linesKeepEachColumnsExtremes_data()
    {
        QTest::addColumn<Values>("x");
        QTest::addColumn<Values>("y");
        QTest::addColumn<int>("columns");
        QTest::addColumn<Lines>("expected");

        QTest::newRow("outside the span is not drawn")
            << Values {-1, 0, 5, 11} << Values {1, 2, 3, 4} << 10 << Lines {{{0, 2}, {5, 3}}};
        QTest::newRow("the span's end falls in the last column")
            << Values {9.5, 10} << Values {1, 2} << 10 << Lines {{{9.5, 1}, {10, 2}}};
        QTest::newRow("no columns, nothing") << Values {0} << Values {1} << 0 << Lines {};
    }
    void linesKeepEachColumnsExtremes()
    {
        QFETCH(Values, x);
        QFETCH(Values, y);
        QFETCH(int, columns);
        QFETCH(Lines, expected);
        TrendHistory history;
        for (int i = 0; i < x.size(); ++i)
            history.add(reading(x.at(i), QString::number(y.at(i))));
        QCOMPARE(drawn(history, 0, 10, columns), expected);
    }
    void historyExportsTheRowsAsTheLogWritesThem()
    {
        TrendHistory history;
        history.add(reading(0, "0.1")); // gone with the clear
        history.clear();
        QList<MeasurementRow> rows {reading(0, "0.45"), reading(1, "0.45", ""),
                                    reading(2, "0.39", "0.5", "409.5", LockLamp::Yellow)};
        rows[1].pass = false;
        history.add(rows[0]);
        history.add(rows[1]);
        history.breakLine();
        history.breakLine();
        history.add(rows[2]);
        QCOMPARE(history.lineStarts(), std::vector<qsizetype> {2});
        QCOMPARE(history.statistics(TrendHistory::Width).count(), 2);
        QCOMPARE(history.statistics(TrendHistory::Amplitude).maximum(), 409.5);

        QByteArray expected = "# head\n" + csvHeader();
        for (const MeasurementRow &row : rows)
            expected += csvLine(row);
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(writeTrendCsv(buffer, history, "# head\n"));
        QCOMPARE(buffer.data(), expected);
    }
    void foldedHistoryKeepsTheFiguresOfEveryReading_data()
    {
        QTest::addColumn<int>("minutes");
        QTest::addColumn<qint64>("foldAfterMs");
        QTest::newRow("an hour, a fold after 5 minutes") << 60 << qint64(5 * 60000);
        QTest::newRow("half an hour, a fold after a minute") << 30 << qint64(60000);
        QTest::newRow("every reading but the newest folded") << 20 << qint64(0);
        QTest::newRow("a run shorter than the horizon") << 3 << qint64(10 * 60000);
    }
    // The same readings kept whole and folded: the same figures and latch, the
    // newest readings kept whole, each minute the range, mean and count of its own.
    void foldedHistoryKeepsTheFiguresOfEveryReading()
    {
        QFETCH(int, minutes);
        QFETCH(qint64, foldAfterMs);
        const QList<MeasurementRow> rows = noisyRun(minutes, 5);
        TrendHistory whole, folded(foldAfterMs);
        LimitLatch wholeLatch, foldedLatch;
        addJudged(whole, wholeLatch, rows, heightAndLock());
        addJudged(folded, foldedLatch, rows, heightAndLock());

        for (int series = 0; series < TrendHistory::SeriesCount; ++series)
            QCOMPARE(figures(folded.statistics(TrendHistory::Series(series))),
                     figures(whole.statistics(TrendHistory::Series(series))));
        QVERIFY(foldedLatch.isLit());
        QCOMPARE(foldedLatch.firstMiss(), wholeLatch.firstMiss());
        QCOMPARE(foldedLatch.firstMissed(), wholeLatch.firstMissed());
        QCOMPARE(foldedLatch.misses(), wholeLatch.misses());
        QCOMPARE(folded.firstTimeMs(), rows.first().time.toMSecsSinceEpoch());
        QCOMPARE(folded.firstElapsed(), rows.first().elapsedSeconds);
        QCOMPARE(folded.lastElapsed(), rows.last().elapsedSeconds);
        QCOMPARE(folded.readingCount(), qint64(rows.size()));
        const qint64 newestMs = rows.last().time.toMSecsSinceEpoch();
        const qsizetype kept = std::count_if(rows.begin(), rows.end(), [&](const MeasurementRow &row) {
            return row.time.toMSecsSinceEpoch() >= newestMs - foldAfterMs;
        });
        QCOMPARE(folded.size(), kept);
        QCOMPARE(csvLine(folded.row(0)), csvLine(whole.row(rows.size() - kept)));

        qsizetype index = 0;
        for (const TrendHistory::FoldedMinute &minute : folded.folded()) {
            std::array<Values, TrendHistory::SeriesCount> values;
            quint32 readings = 0, misses = 0;
            quint8 lamps = 0;
            const double firstElapsed = whole.row(index).elapsedSeconds;
            for (; index < rows.size() - kept && whole.timeMs(index) / 60000 == minute.minuteMs / 60000;
                 ++index) {
                const MeasurementRow row = whole.row(index);
                ++readings;
                misses += row.pass ? 0 : 1;
                lamps |= quint8(1 << int(row.lamp));
                for (const auto &[series, value] :
                     {std::pair {0, row.heightValue()}, {1, row.widthValue()}, {2, row.amplitudeValue()}})
                    if (value)
                        values[size_t(series)] << *value;
            }
            QCOMPARE(minute.readings, readings);
            QCOMPARE(minute.misses, misses);
            QCOMPARE(minute.lampsSeen, lamps);
            QCOMPARE(minute.firstElapsed, firstElapsed);
            QCOMPARE(minute.lastElapsed, whole.row(index - 1).elapsedSeconds);
            for (int series = 0; series < TrendHistory::SeriesCount; ++series) {
                const TrendHistory::FoldedRange &range = minute.series[size_t(series)];
                const Values &expected = values[size_t(series)];
                QCOMPARE(range.count, quint32(expected.size()));
                QCOMPARE(range.minimum, *std::min_element(expected.begin(), expected.end()));
                QCOMPARE(range.maximum, *std::max_element(expected.begin(), expected.end()));
                QVERIFY(same(range.sum, std::accumulate(expected.begin(), expected.end(), 0.0)));
            }
        }
        QCOMPARE(index, rows.size() - kept);
    }
    void foldedMinutesDrawAsEveryMinuteDoes_data()
    {
        QTest::addColumn<qint64>("foldAfterMs");
        QTest::addColumn<int>("columns");
        for (const qint64 foldAfterMs : {qint64(0), qint64(60 * 60000), TrendHistory::DayMs})
            for (const int columns : {2, 5, 60, 250, 1000})
                QTest::addRow("fold after %lld min, %d columns", foldAfterMs / 60000, columns)
                    << foldAfterMs << columns;
    }
    // Three hours with a loss and a minute without a height: each column draws
    // its first, lowest, highest and last point in order, taken one by one from
    // each folded minute's lowest and highest value and each whole reading.
    void foldedMinutesDrawAsEveryMinuteDoes()
    {
        QFETCH(qint64, foldAfterMs);
        QFETCH(int, columns);
        QList<MeasurementRow> rows = noisyRun(180, 23);
        for (int i = 3000; i < 3120; ++i)
            rows[i].eyeHeight.clear();
        TrendHistory history(foldAfterMs);
        LimitLatch latch;
        addJudged(history, latch, rows, {});
        const double xFrom = history.firstElapsed();
        const double xTo = history.lastElapsed();
        const auto columnOf
            = [&](double x) { return std::min(columns - 1, int((x - xFrom) * columns / (xTo - xFrom))); };

        QList<QPointF> points; // in order, NaN for a break
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
        const std::vector<qsizetype> lineStarts = history.lineStarts();
        for (qsizetype i = 0; i < history.size(); ++i) {
            const double value = history.values(TrendHistory::Height)[size_t(i)];
            if (std::isnan(value) || std::count(lineStarts.begin(), lineStarts.end(), i))
                points << QPointF(NaN, NaN);
            if (!std::isnan(value))
                points << QPointF(history.elapsed()[size_t(i)], value);
        }
        Lines expected;
        std::array<int, 4> column {}; // indices of the first, lowest, highest, last point
        int at = -1;
        const auto endColumn = [&] {
            if (at >= 0)
                for (const int i : std::set<int>(column.begin(), column.end()))
                    expected.last() << points.at(i);
            at = -1;
        };
        bool lineOpen = false;
        for (int i = 0; i < points.size(); ++i) {
            const QPointF point = points.at(i);
            if (std::isnan(point.x())) {
                endColumn();
                lineOpen = false;
            } else if (columnOf(point.x()) != at) {
                endColumn();
                if (!lineOpen)
                    expected << QList<QPointF>();
                lineOpen = true;
                at = columnOf(point.x());
                column = {i, i, i, i};
            } else {
                if (point.y() < points.at(column[1]).y())
                    column[1] = i;
                if (point.y() > points.at(column[2]).y())
                    column[2] = i;
                column[3] = i;
            }
        }
        endColumn();
        QVERIFY(expected.size() >= 3);
        QCOMPARE(drawn(history, xFrom, xTo, columns), expected);
    }
    void foldedHistoryExportsMinutesThenReadings()
    {
        const QList<MeasurementRow> rows = noisyRun(5, 3);
        TrendHistory history(2 * 60000);
        LimitLatch latch;
        addJudged(history, latch, rows, heightAndLock());
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(writeTrendCsv(buffer, history, "# head\n"));
        const QList<QByteArray> lines = buffer.data().split('\n');
        const qsizetype minutes = qsizetype(history.folded().size());
        QCOMPARE(lines.mid(0, 3),
                 QList<QByteArray>({"# head", "# folded: one row a minute, min/max/mean/count",
                                    foldedCsvHeader().trimmed()}));
        QCOMPARE(lines.mid(3 + minutes, 2),
                 QList<QByteArray>({"# readings: one row a reading", csvHeader().trimmed()}));
        QCOMPARE(lines.size(), 5 + minutes + history.size() + 1);
        QCOMPARE(lines.at(lines.size() - 2) + '\n', csvLine(rows.last()));

        // The first minute: its 120 readings, a yellow lamp at the 101st and no
        // height at the 8th, each missing a limit.
        const QList<QByteArray> first = lines.at(3).split(',');
        const QList<QByteArray> names = foldedCsvHeader().trimmed().split(',');
        QCOMPARE(first.size(), names.size());
        const auto cell = [&](const char *name) { return first.at(names.indexOf(name)); };
        QCOMPARE(cell("folded_minute"), QByteArray("2026-12-07T10:00:00.000Z"));
        QCOMPARE(cell("first_elapsed_s") + " " + cell("last_elapsed_s"), QByteArray("0.000 59.500"));
        QCOMPARE(cell("readings") + " " + cell("misses"), QByteArray("120 2"));
        QCOMPARE(cell("lamps_seen"), QByteArray("green+yellow"));
        QCOMPARE(cell("eye_height_ui_count") + " " + cell("amplitude_mv_count"), QByteArray("119 120"));
        QCOMPARE(cell("eye_height_ui_min").toDouble(), history.folded().front().series[0].minimum);
    }
    // A month of amplitudes that all differ holds no more texts than the horizon's readings.
    void textsOfFoldedReadingsAreLetGo()
    {
        TrendHistory history(60000);
        for (int i = 0; i < 20000; ++i)
            history.add(reading(i * 0.5, "0.45", "0.5", QString::number(100 + i * 0.1, 'f', 1)));
        QCOMPARE(history.size(), 121);
        QCOMPARE(history.textsHeld(), 121 + 4); // an amplitude each; height, width, quality, rate shared
        QCOMPARE(history.row(0).amplitude, QString::number(100 + (20000 - 121) * 0.1, 'f', 1));
    }
};

QTEST_APPLESS_MAIN(TestTrendRules)
#include "tst_trendrules.moc"
