#include "rules/eyecomparison.h"

#include <QTest>

using namespace EyeComparison;

namespace {

// A picture drawn in text, one string a row: '#' a pixel of colour `trace`,
// anything else black.
RgbPixels drawn(const QStringList &rows, QList<uchar> trace = {200, 120, 30})
{
    RgbPixels picture;
    picture.height = int(rows.size());
    picture.width = rows.isEmpty() ? 0 : int(rows.first().size());
    for (const QChar cell : rows.join(QString()))
        for (const uchar channel : trace)
            picture.rgb.append(char(cell == QLatin1Char('#') ? channel : 0));
    return picture;
}

// The pixels of a rectangle's edge, row by row.
QList<QPoint> edgeOf(int left, int top, int width, int height)
{
    QList<QPoint> edge;
    for (int y = top; y < top + height; ++y)
        for (int x = left; x < left + width; ++x)
            if (x == left || x == left + width - 1 || y == top || y == top + height - 1)
                edge << QPoint(x, y);
    return edge;
}

QStringList with(QStringList rows, const QList<QPoint> &points, QChar cell)
{
    for (const QPoint &point : points)
        rows[point.y()][point.x()] = cell;
    return rows;
}

// A width x height picture with a ring of traces one pixel wide around a
// black rectangle of inner width x inner height, its top left corner at
// (left, top).
QStringList ring(int width, int height, int left, int top, int innerWidth, int innerHeight)
{
    return with(QStringList(height, QString(width, QLatin1Char('.'))),
                edgeOf(left - 1, top - 1, innerWidth + 2, innerHeight + 2), QLatin1Char('#'));
}

} // namespace

class TestEyeComparison : public QObject
{
    Q_OBJECT

private slots:
    void openArea_data()
    {
        QTest::addColumn<QStringList>("picture");
        QTest::addColumn<QList<uchar>>("trace");
        QTest::addColumn<qsizetype>("area");
        const QStringList eye = ring(20, 16, 5, 5, 6, 4);
        const auto row
            = [](const char *name, const QStringList &picture, qsizetype area,
                 QList<uchar> trace = {200, 120, 30}) { QTest::newRow(name) << picture << trace << area; };
        row("ring around a 6 x 4 rectangle", eye, 24);
        row("ring around a 1 x 1 rectangle", ring(5, 5, 2, 2, 1, 1), 1);
        row("ring whose rectangle lies one pixel from the edge", ring(10, 10, 1, 1, 8, 8), 64);
        // The ring's left side is the picture's edge: the region inside it
        // reaches the edge through the gap.
        row("opening that touches an edge", with(ring(10, 10, 1, 1, 8, 8), {QPoint(0, 4)}, '.'), 0);
        row("ring open at its side", with(eye, {QPoint(4, 6)}, '.'), 0);
        // The rectangle meets the outside at a corner only: 4-connected, apart.
        row("corner of the ring missing", with(eye, {QPoint(4, 4)}, '.'), 24);
        row("no traces at all", QStringList(8, QString(9, '.')), 0);
        row("traces everywhere", QStringList(8, QString(9, '#')), 0);
        row("one pixel wide opening", {"#####", "#.#.#", "#####"}, 1);
        // Two openings: the larger is the eye.
        row("rectangle split by a trace",
            with(eye, {QPoint(7, 5), QPoint(7, 6), QPoint(7, 7), QPoint(7, 8)}, '#'), 12);
        row("a pixel of trace inside", with(eye, {QPoint(8, 7)}, '#'), 23);
        // A pixel is occupied when a channel is above 40: a faint ring is
        // background and encloses nothing.
        row("red 41", eye, 24, {41, 0, 0});
        row("green 41", eye, 24, {0, 41, 0});
        row("blue 41", eye, 24, {0, 0, 41});
        row("all three 40", eye, 0, {40, 40, 40});
        row("red 40", eye, 0, {40, 0, 0});
    }
    void openArea()
    {
        QFETCH(QStringList, picture);
        QFETCH(QList<uchar>, trace);
        QFETCH(qsizetype, area);
        const Opening opening = eyeOpening(occupancy(drawn(picture, trace)));
        QCOMPARE(opening.area, area);
        QCOMPARE(opening.inside.count(true), area);
    }
    void figures_data()
    {
        QTest::addColumn<QStringList>("reference");
        QTest::addColumn<QStringList>("current");
        QTest::addColumn<qsizetype>("referenceArea");
        QTest::addColumn<qsizetype>("currentArea");
        QTest::addColumn<double>("openChange"); // NaN: none
        QTest::addColumn<double>("changed");    // % of 320 pixels

        const QStringList eye = ring(20, 16, 5, 5, 6, 4);
        QTest::newRow("the same picture") << eye << eye << qsizetype(24) << qsizetype(24) << 0.0 << 0.0;
        QTest::newRow("one pixel changed inside") << eye << with(eye, {QPoint(8, 7)}, '#') << qsizetype(24)
                                                  << qsizetype(23) << -100.0 / 24 << 100.0 / 320;
        QTest::newRow("one pixel changed outside")
            << eye << with(eye, {QPoint(0, 0)}, '#') << qsizetype(24) << qsizetype(24) << 0.0 << 100.0 / 320;
        QTest::newRow("eye opened wider") << ring(20, 16, 5, 5, 6, 3) << eye << qsizetype(18) << qsizetype(24)
                                          << 100.0 / 3 << 14.0 * 100 / 320;
        QTest::newRow("eye closed") << eye << with(eye, {QPoint(4, 6)}, '.') << qsizetype(24) << qsizetype(0)
                                    << -100.0 << 100.0 / 320;
        QTest::newRow("reference without an opening")
            << QStringList(16, QString(20, '.')) << eye << qsizetype(0) << qsizetype(24) << qQNaN()
            << 24.0 * 100 / 320;
    }
    void figures()
    {
        QFETCH(QStringList, reference);
        QFETCH(QStringList, current);
        QFETCH(qsizetype, referenceArea);
        QFETCH(qsizetype, currentArea);
        QFETCH(double, openChange);
        QFETCH(double, changed);
        const std::optional<Figures> figures
            = compare(occupancy(drawn(reference)), occupancy(drawn(current)));
        QVERIFY(figures);
        QCOMPARE(figures->referenceOpenArea, referenceArea);
        QCOMPARE(figures->currentOpenArea, currentArea);
        QCOMPARE(figures->openChangePercent.has_value(), !qIsNaN(openChange));
        QVERIFY(!figures->openChangePercent || qAbs(*figures->openChangePercent - openChange) < 1e-9);
        QVERIFY(qAbs(figures->changedPercent - changed) < 1e-9);
        // The limit on the open area: at least this share of the reference's.
        if (referenceArea > 0) {
            const double share = 100.0 * double(currentArea) / double(referenceArea);
            QVERIFY(openAreaMeets(*figures, share));
            QVERIFY(!openAreaMeets(*figures, share + 0.01));
        }
    }
    void boundaryIsWhereTheOpeningEnds_data()
    {
        QTest::addColumn<QStringList>("picture");
        QTest::addColumn<QList<QPoint>>("boundary");
        QTest::newRow("3 x 3 rectangle: all but its centre") << ring(7, 7, 2, 2, 3, 3) << edgeOf(2, 2, 3, 3);
        QTest::newRow("one pixel") << ring(5, 5, 2, 2, 1, 1) << QList<QPoint> {QPoint(2, 2)};
        QTest::newRow("no opening") << QStringList(5, QString(5, '.')) << QList<QPoint> {};
        QTest::newRow("6 x 4 rectangle: its 16 edge pixels")
            << ring(20, 16, 5, 5, 6, 4) << edgeOf(5, 5, 6, 4);
    }
    void boundaryIsWhereTheOpeningEnds()
    {
        QFETCH(QStringList, picture);
        QFETCH(QList<QPoint>, boundary);
        const Occupancy occupied = occupancy(drawn(picture));
        QCOMPARE(openingBoundary(eyeOpening(occupied), occupied.width, occupied.height), boundary);
    }
    void differenceColours()
    {
        // Left to right: both occupied, only the reference, only the current,
        // neither.
        const Occupancy reference = occupancy(drawn({"##.."}));
        const Occupancy current = occupancy(drawn({"#.#."}));
        const RgbPixels difference = differencePicture(reference, current);
        QVERIFY(difference.isValid());
        QCOMPARE(difference.rgb, QByteArray("\200\200\200\000\000\346\346\000\000\000\000\000", 12));

        QVERIFY(!differencePicture(reference, occupancy(drawn({"#.#"}))).isValid());
        QVERIFY(!compare(reference, occupancy(drawn({"#.#"}))));
    }
};

QTEST_GUILESS_MAIN(TestEyeComparison)
#include "tst_eyecomparison.moc"
