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
    for (const QString &row : rows) {
        for (const QChar cell : row) {
            for (const uchar channel : trace)
                picture.rgb.append(char(cell == QLatin1Char('#') ? channel : 0));
        }
    }
    return picture;
}

// A width x height picture with a ring of traces one pixel wide around a
// black rectangle of inner width x inner height, its top left corner at
// (left, top).
QStringList ring(int width, int height, int left, int top, int innerWidth, int innerHeight)
{
    QStringList rows(height, QString(width, QLatin1Char('.')));
    for (int y = top - 1; y <= top + innerHeight; ++y) {
        for (int x = left - 1; x <= left + innerWidth; ++x) {
            const bool inside = x >= left && x < left + innerWidth && y >= top && y < top + innerHeight;
            if (!inside)
                rows[y][x] = QLatin1Char('#');
        }
    }
    return rows;
}

QStringList with(QStringList rows, const QList<QPoint> &points, QChar cell)
{
    for (const QPoint &point : points)
        rows[point.y()][point.x()] = cell;
    return rows;
}

} // namespace

class TestEyeComparison : public QObject
{
    Q_OBJECT

private slots:
    void openArea_data();
    void openArea();
    void occupiedAboveTheThreshold_data();
    void occupiedAboveTheThreshold();
    void figures_data();
    void figures();
    void boundaryIsWhereTheOpeningEnds_data();
    void boundaryIsWhereTheOpeningEnds();
    void differenceColours();
};

void TestEyeComparison::openArea_data()
{
    QTest::addColumn<QStringList>("picture");
    QTest::addColumn<qsizetype>("area");

    QTest::newRow("ring around a 6 x 4 rectangle") << ring(20, 16, 5, 5, 6, 4) << qsizetype(24);
    QTest::newRow("ring around a 1 x 1 rectangle") << ring(5, 5, 2, 2, 1, 1) << qsizetype(1);
    QTest::newRow("ring whose rectangle lies one pixel from the edge")
        << ring(10, 10, 1, 1, 8, 8) << qsizetype(64);
    // The ring's left side is the picture's edge: the region inside it
    // reaches the edge through the gap.
    QTest::newRow("opening that touches an edge")
        << with(ring(10, 10, 1, 1, 8, 8), {QPoint(0, 4)}, '.') << qsizetype(0);
    QTest::newRow("ring open at its side")
        << with(ring(20, 16, 5, 5, 6, 4), {QPoint(4, 6)}, '.') << qsizetype(0);
    // The rectangle meets the outside at a corner only: 4-connected, the
    // two are apart.
    QTest::newRow("corner of the ring missing")
        << with(ring(20, 16, 5, 5, 6, 4), {QPoint(4, 4)}, '.') << qsizetype(24);
    QTest::newRow("no traces at all") << QStringList(8, QString(9, '.')) << qsizetype(0);
    QTest::newRow("traces everywhere") << QStringList(8, QString(9, '#')) << qsizetype(0);
    QTest::newRow("one pixel wide opening") << QStringList {"#####", "#.#.#", "#####"} << qsizetype(1);
    // Two openings: the larger is the eye; a trace through the rectangle
    // splits it.
    QTest::newRow("rectangle split by a trace")
        << with(ring(20, 16, 5, 5, 6, 4), {QPoint(7, 5), QPoint(7, 6), QPoint(7, 7), QPoint(7, 8)}, '#')
        << qsizetype(12);
    QTest::newRow("a pixel of trace inside")
        << with(ring(20, 16, 5, 5, 6, 4), {QPoint(8, 7)}, '#') << qsizetype(23);
}

void TestEyeComparison::openArea()
{
    QFETCH(QStringList, picture);
    QFETCH(qsizetype, area);
    const Occupancy occupied = occupancy(drawn(picture));
    const Opening opening = eyeOpening(occupied);
    QCOMPARE(opening.area, area);
    QCOMPARE(opening.inside.count(true), area);
}

void TestEyeComparison::occupiedAboveTheThreshold_data()
{
    QTest::addColumn<QList<uchar>>("trace");
    QTest::addColumn<qsizetype>("area");
    const QList<uchar> black {0, 0, 0};
    QTest::newRow("red 41") << QList<uchar> {41, 0, 0} << qsizetype(24);
    QTest::newRow("green 41") << QList<uchar> {0, 41, 0} << qsizetype(24);
    QTest::newRow("blue 41") << QList<uchar> {0, 0, 41} << qsizetype(24);
    QTest::newRow("white") << QList<uchar> {255, 255, 255} << qsizetype(24);
    // A faint ring is background: nothing is enclosed.
    QTest::newRow("all three 40") << QList<uchar> {40, 40, 40} << qsizetype(0);
    QTest::newRow("red 40") << QList<uchar> {40, 0, 0} << qsizetype(0);
}

void TestEyeComparison::occupiedAboveTheThreshold()
{
    QFETCH(QList<uchar>, trace);
    QFETCH(qsizetype, area);
    QCOMPARE(eyeOpening(occupancy(drawn(ring(20, 16, 5, 5, 6, 4), trace))).area, area);
}

void TestEyeComparison::figures_data()
{
    QTest::addColumn<QStringList>("reference");
    QTest::addColumn<QStringList>("current");
    QTest::addColumn<qsizetype>("referenceArea");
    QTest::addColumn<qsizetype>("currentArea");
    QTest::addColumn<double>("openChange"); // NaN: none
    QTest::addColumn<double>("changed");

    const QStringList eye = ring(20, 16, 5, 5, 6, 4); // 320 pixels, 24 open
    QTest::newRow("the same picture") << eye << eye << qsizetype(24) << qsizetype(24) << 0.0 << 0.0;
    QTest::newRow("one pixel changed inside") << eye << with(eye, {QPoint(8, 7)}, '#') << qsizetype(24)
                                              << qsizetype(23) << -100.0 / 24 << 100.0 / 320;
    QTest::newRow("one pixel changed outside")
        << eye << with(eye, {QPoint(0, 0)}, '#') << qsizetype(24) << qsizetype(24) << 0.0 << 100.0 / 320;
    QTest::newRow("eye opened wider")
        << ring(20, 16, 5, 5, 6, 3) << eye << qsizetype(18) << qsizetype(24) << 100.0 / 3 << 14.0 * 100 / 320;
    QTest::newRow("eye closed") << eye << with(eye, {QPoint(4, 6)}, '.') << qsizetype(24) << qsizetype(0)
                                << -100.0 << 100.0 / 320;
    QTest::newRow("reference without an opening") << QStringList(16, QString(20, '.')) << eye << qsizetype(0)
                                                  << qsizetype(24) << qQNaN() << 24.0 * 100 / 320;
}

void TestEyeComparison::figures()
{
    QFETCH(QStringList, reference);
    QFETCH(QStringList, current);
    QFETCH(qsizetype, referenceArea);
    QFETCH(qsizetype, currentArea);
    QFETCH(double, openChange);
    QFETCH(double, changed);
    const std::optional<Figures> figures = compare(occupancy(drawn(reference)), occupancy(drawn(current)));
    QVERIFY(figures);
    QCOMPARE(figures->referenceOpenArea, referenceArea);
    QCOMPARE(figures->currentOpenArea, currentArea);
    QCOMPARE(figures->openChangePercent.has_value(), !qIsNaN(openChange));
    if (figures->openChangePercent)
        QVERIFY2(qAbs(*figures->openChangePercent - openChange) < 1e-9,
                 qPrintable(QString::number(*figures->openChangePercent)));
    QVERIFY2(qAbs(figures->changedPercent - changed) < 1e-9,
             qPrintable(QString::number(figures->changedPercent)));

    // The limit on the open area: at least this share of the reference's.
    if (referenceArea > 0) {
        const double share = 100.0 * double(currentArea) / double(referenceArea);
        QVERIFY(openAreaMeets(*figures, share));
        QVERIFY(!openAreaMeets(*figures, share + 0.01));
    }
}

void TestEyeComparison::boundaryIsWhereTheOpeningEnds_data()
{
    QTest::addColumn<QStringList>("picture");
    QTest::addColumn<QList<QPoint>>("boundary");
    QList<QPoint> square;
    for (int y = 2; y <= 4; ++y) {
        for (int x = 2; x <= 4; ++x) {
            if (x != 3 || y != 3)
                square << QPoint(x, y);
        }
    }
    QTest::newRow("3 x 3 rectangle: all but its centre") << ring(7, 7, 2, 2, 3, 3) << square;
    QTest::newRow("one pixel") << ring(5, 5, 2, 2, 1, 1) << QList<QPoint> {QPoint(2, 2)};
    QTest::newRow("no opening") << QStringList(5, QString(5, '.')) << QList<QPoint> {};
    QList<QPoint> perimeter;
    for (int y = 5; y < 9; ++y) {
        for (int x = 5; x < 11; ++x) {
            if (x == 5 || x == 10 || y == 5 || y == 8)
                perimeter << QPoint(x, y);
        }
    }
    QTest::newRow("6 x 4 rectangle: its 16 edge pixels") << ring(20, 16, 5, 5, 6, 4) << perimeter;
}

void TestEyeComparison::boundaryIsWhereTheOpeningEnds()
{
    QFETCH(QStringList, picture);
    QFETCH(QList<QPoint>, boundary);
    const Occupancy occupied = occupancy(drawn(picture));
    QCOMPARE(openingBoundary(eyeOpening(occupied), occupied.width, occupied.height), boundary);
}

void TestEyeComparison::differenceColours()
{
    // Left to right: both occupied, only the reference, only the current,
    // neither.
    const Occupancy reference = occupancy(drawn({"##.."}));
    const Occupancy current = occupancy(drawn({"#.#."}));
    const RgbPixels difference = differencePicture(reference, current);
    QVERIFY(difference.isValid());
    QCOMPARE(difference.rgb,
             QByteArray("\x80\x80\x80"
                        "\x00\x00\xe6"
                        "\xe6\x00\x00"
                        "\x00\x00\x00",
                        12));

    QVERIFY(!differencePicture(reference, occupancy(drawn({"#.#"}))).isValid());
    QVERIFY(!compare(reference, occupancy(drawn({"#.#"}))));
}

QTEST_GUILESS_MAIN(TestEyeComparison)
#include "tst_eyecomparison.moc"
