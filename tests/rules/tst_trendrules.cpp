#include "rules/trendhistory.h"
#include "rules/trendstatistics.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QTest>

#include <cmath>

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
    QVERIFY(writeTrendCsv(buffer, history, "# head\n" + csvHeader()));
    QCOMPARE(buffer.data(), expected);
}

QTEST_APPLESS_MAIN(TestTrendRules)
#include "tst_trendrules.moc"
