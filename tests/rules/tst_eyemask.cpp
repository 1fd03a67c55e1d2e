#include "rules/eyemask.h"

#include <QTest>

#include <algorithm>
#include <cmath>

using namespace EyeMask;
using EyeComparison::Occupancy;

namespace {

Occupancy blank(int width, int height)
{
    Occupancy picture {width, height, {}};
    picture.occupied.fill(false, qsizetype(width) * height);
    return picture;
}

// Marks the pixels whose centre lies within thickness / 2 of the segment.
void segment(Occupancy &picture, QPointF a, QPointF b, double thickness = 1)
{
    const QPointF d = b - a;
    const double lengthSquared = QPointF::dotProduct(d, d);
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const QPointF p(x, y);
            const double t
                = lengthSquared > 0 ? std::clamp(QPointF::dotProduct(p - a, d) / lengthSquared, 0.0, 1.0) : 0;
            const QPointF gap = p - (a + t * d);
            if (std::hypot(gap.x(), gap.y()) <= thickness / 2 + 1e-9)
                picture.occupied[qsizetype(y) * picture.width + x] = true;
        }
    }
}

// Eyes as drawn: the one and zero levels across the picture, and at each
// crossing x a rising edge from (x - a, zero) to (x + b, one) and a falling
// one from (x - b, one) to (x + a, zero): they cross at x, a / (a + b) of
// the amplitude above the zero level.
Occupancy eyes(QList<int> crossings, int one, int zero, int a, int b, double thickness, int width = 160,
               int height = 120)
{
    Occupancy picture = blank(width, height);
    segment(picture, QPointF(0, one), QPointF(width - 1, one), thickness);
    segment(picture, QPointF(0, zero), QPointF(width - 1, zero), thickness);
    for (const int x : crossings) {
        segment(picture, QPointF(x - a, zero), QPointF(x + b, one), thickness);
        segment(picture, QPointF(x - b, one), QPointF(x + a, zero), thickness);
    }
    return picture;
}

Occupancy withPixels(Occupancy picture, const QList<QPoint> &pixels)
{
    for (const QPoint &pixel : pixels)
        picture.occupied[qsizetype(pixel.y()) * picture.width + pixel.x()] = true;
    return picture;
}

using Polygons = QList<PixelPolygon>;

PixelPolygon rectangle(double left, double top, double right, double bottom)
{
    return {{left, top}, {right, top}, {right, bottom}, {left, bottom}};
}

// An eye found at crossings 40 and 120, levels at rows 20 and 100.
const EyeGeometry knownEye {40, 120, 20, 100, 60};

} // namespace

Q_DECLARE_METATYPE(Occupancy)
Q_DECLARE_METATYPE(EyeGeometry)
Q_DECLARE_METATYPE(Scale)

class TestEyeMask : public QObject
{
    Q_OBJECT

private slots:
    void eyeFound_data();
    void eyeFound();
    void noEye_data();
    void noEye();
    void placed_data();
    void placed();
    void hits_data();
    void hits();
    void margin_data();
    void margin();
    void marginNeverGrowsWithATrace();
    void judgedAndSummarised();
};

void TestEyeMask::eyeFound_data()
{
    QTest::addColumn<Occupancy>("picture");
    QTest::addColumn<EyeGeometry>("drawn");
    QTest::newRow("one eye, thin traces")
        << eyes({40, 120}, 20, 100, 10, 10, 1) << EyeGeometry {40, 120, 20, 100, 60};
    QTest::newRow("one eye, thick traces")
        << eyes({40, 120}, 20, 100, 10, 10, 5) << EyeGeometry {40, 120, 20, 100, 60};
    QTest::newRow("one eye, steep edges")
        << eyes({40, 120}, 20, 100, 3, 3, 2) << EyeGeometry {40, 120, 20, 100, 60};
    // The larger opening is the eye.
    QTest::newRow("two eyes") << eyes({20, 120, 200}, 30, 220, 12, 12, 3, 239, 254)
                              << EyeGeometry {20, 120, 30, 220, 125};
    Occupancy stray = eyes({40, 120}, 20, 100, 10, 10, 3);
    segment(stray, QPointF(0, 30), QPointF(159, 40));
    QTest::newRow("a thin trace across, thick levels") << stray << EyeGeometry {40, 120, 20, 100, 60};
    QTest::newRow("crossing at 30 %")
        << eyes({40, 120}, 20, 100, 6, 14, 1) << EyeGeometry {40, 120, 20, 100, 76};
    QTest::newRow("crossing at 70 %, thick")
        << eyes({40, 120}, 20, 100, 14, 6, 4) << EyeGeometry {40, 120, 20, 100, 44};
}

void TestEyeMask::eyeFound()
{
    QFETCH(Occupancy, picture);
    QFETCH(EyeGeometry, drawn);
    const EyeSearch search = findEye(picture);
    QVERIFY2(search.eye, qPrintable(search.noEyeReason));
    const EyeGeometry &found = *search.eye;
    const QList<double> foundFigures {found.leftCrossing, found.rightCrossing, found.oneLevel,
                                      found.zeroLevel, found.crossingRow};
    const QList<double> drawnFigures {drawn.leftCrossing, drawn.rightCrossing, drawn.oneLevel,
                                      drawn.zeroLevel, drawn.crossingRow};
    for (qsizetype i = 0; i < foundFigures.size(); ++i)
        QVERIFY2(std::abs(foundFigures[i] - drawnFigures[i]) <= 2,
                 qPrintable(QStringLiteral("figure %1: %2, drawn at %3")
                                .arg(i)
                                .arg(foundFigures[i])
                                .arg(drawnFigures[i])));
}

void TestEyeMask::noEye_data()
{
    QTest::addColumn<Occupancy>("picture");
    QTest::addColumn<QString>("reason");
    Occupancy box = blank(100, 80);
    for (const auto &[a, b] : {std::pair {QPointF(20, 20), QPointF(80, 20)},
                               {QPointF(80, 20), QPointF(80, 60)},
                               {QPointF(80, 60), QPointF(20, 60)},
                               {QPointF(20, 60), QPointF(20, 20)}})
        segment(box, a, b);
    Occupancy halfBox = eyes({40}, 20, 100, 10, 10, 1);
    segment(halfBox, QPointF(120, 20), QPointF(120, 100));
    // Crossings at 30 % on the left, 70 % on the right: no one eye's.
    Occupancy uneven = eyes({40}, 20, 100, 6, 14, 1);
    const Occupancy right = eyes({120}, 20, 100, 14, 6, 1);
    for (qsizetype i = 0; i < uneven.occupied.size(); ++i)
        uneven.occupied[i] = uneven.occupied[i] || right.occupied[i];
    QTest::newRow("crossings at different levels")
        << uneven << QStringLiteral("the crossings lie at different levels");
    QTest::newRow("nothing drawn") << blank(50, 40) << QStringLiteral("no opening");
    QTest::newRow("levels alone") << eyes({}, 20, 100, 10, 10, 1) << QStringLiteral("no opening");
    QTest::newRow("a box") << box << QStringLiteral("no crossing on the left");
    QTest::newRow("a side instead of a crossing") << halfBox << QStringLiteral("no crossing on the right");
    QTest::newRow("crossing at the picture's edge")
        << eyes({0, 120}, 20, 100, 10, 10, 1) << QStringLiteral("no crossing on the left");
}

void TestEyeMask::noEye()
{
    QFETCH(Occupancy, picture);
    QFETCH(QString, reason);
    const EyeSearch search = findEye(picture);
    QVERIFY(!search.eye);
    QCOMPARE(search.noEyeReason, reason);
}

void TestEyeMask::placed_data()
{
    QTest::addColumn<int>("xScale");
    QTest::addColumn<int>("yScale");
    QTest::addColumn<Scale>("scale");
    QTest::addColumn<QPointF>("corner");
    QTest::addColumn<QPointF>("pixel");
    QTest::addColumn<QString>("error");
    const auto row = [](const char *name, XScale x, YScale y, Scale scale, QPointF corner, QPointF pixel,
                        const QString &error = {}) {
        QTest::newRow(name) << int(x) << int(y) << scale << corner << pixel << error;
    };
    // The eye: unit interval 80 px, amplitude 80 px, centre (80, 60).
    row("UI, amplitude", XScale::UnitIntervals, YScale::Amplitudes, {}, {0.25, 0.5}, {100, 20});
    row("ps at 10 Gb/s", XScale::Picoseconds, YScale::Amplitudes, {10000.0, {}}, {25, -0.5}, {100, 100});
    row("mV of 400 mV", XScale::UnitIntervals, YScale::Millivolts, {{}, 400.0}, {-0.5, 100}, {40, 40});
    row("V of 400 mV", XScale::UnitIntervals, YScale::Volts, {{}, 400.0}, {0, -0.1}, {80, 80});
    row("ps without a rate", XScale::Picoseconds, YScale::Amplitudes, {{}, 400.0}, {}, {},
        QStringLiteral("the data rate is not known"));
    row("mV without an amplitude", XScale::UnitIntervals, YScale::Millivolts, {10000.0, {}}, {}, {},
        QStringLiteral("the amplitude is not known"));
    row("V of 0 mV", XScale::UnitIntervals, YScale::Volts, {{}, 0.0}, {}, {},
        QStringLiteral("the amplitude is not known"));
}

void TestEyeMask::placed()
{
    QFETCH(int, xScale);
    QFETCH(int, yScale);
    QFETCH(Scale, scale);
    QFETCH(QPointF, corner);
    QFETCH(QPointF, pixel);
    QFETCH(QString, error);
    Mask mask;
    mask.xScale = XScale(xScale);
    mask.yScale = YScale(yScale);
    mask.polygons = {{corner, corner, corner}};
    const Placement placement = place(mask, knownEye, scale);
    QCOMPARE(placement.error, error);
    if (error.isEmpty())
        QCOMPARE(placement.polygons, QList<PixelPolygon>({{pixel, pixel, pixel}}));
}

void TestEyeMask::hits_data()
{
    QTest::addColumn<QList<PixelPolygon>>("polygons");
    QTest::addColumn<QList<QPoint>>("pixels");
    QTest::addColumn<QList<qsizetype>>("perPolygon");
    QTest::addColumn<QList<QPoint>>("hitPixels");
    const PixelPolygon square = rectangle(10, 10, 20, 20);
    const PixelPolygon diamond {{30, 10}, {35, 15}, {30, 20}, {25, 15}};
    // A U: two legs joined at the top, the notch between them open below.
    const PixelPolygon u {{10, 10}, {30, 10}, {30, 30}, {25, 30}, {25, 15}, {15, 15}, {15, 30}, {10, 30}};
    QTest::newRow("inside") << Polygons {square} << QList {QPoint(15, 15)} << QList<qsizetype> {1}
                            << QList {QPoint(15, 15)};
    QTest::newRow("outside") << Polygons {square} << QList {QPoint(21, 15), QPoint(15, 9)}
                             << QList<qsizetype> {0} << QList<QPoint> {};
    QTest::newRow("on an edge and a corner")
        << Polygons {square, diamond}
        << QList {QPoint(10, 15), QPoint(20, 20), QPoint(33, 13), QPoint(35, 15)} << QList<qsizetype> {2, 2}
        << QList {QPoint(33, 13), QPoint(10, 15), QPoint(35, 15), QPoint(20, 20)};
    QTest::newRow("concave: the legs, not the notch")
        << Polygons {u}
        << QList {QPoint(12, 25), QPoint(20, 25), QPoint(20, 15), QPoint(27, 29), QPoint(20, 31)}
        << QList<qsizetype> {3} << QList {QPoint(20, 15), QPoint(12, 25), QPoint(27, 29)};
    QTest::newRow("in two polygons: counted once in all")
        << Polygons {square, rectangle(15, 15, 40, 40)} << QList {QPoint(17, 17), QPoint(30, 30)}
        << QList<qsizetype> {1, 2} << QList {QPoint(17, 17), QPoint(30, 30)};
    QTest::newRow("beyond the picture")
        << Polygons {rectangle(-50, -50, 100, 5)} << QList {QPoint(0, 0), QPoint(49, 5)}
        << QList<qsizetype> {2} << QList {QPoint(0, 0), QPoint(49, 5)};
}

void TestEyeMask::hits()
{
    QFETCH(QList<PixelPolygon>, polygons);
    QFETCH(QList<QPoint>, pixels);
    QFETCH(QList<qsizetype>, perPolygon);
    QFETCH(QList<QPoint>, hitPixels);
    const Hits hits = countHits(withPixels(blank(50, 40), pixels), polygons);
    QCOMPARE(hits.perPolygon, perPolygon);
    QCOMPARE(hits.pixels, hitPixels);
    QCOMPARE(hits.total, hitPixels.size());
}

void TestEyeMask::margin_data()
{
    QTest::addColumn<QList<PixelPolygon>>("polygons");
    QTest::addColumn<QList<QPoint>>("pixels");
    QTest::addColumn<int>("margin");
    // Around the centre (50, 50): a box of traces at rows 20 and 80 and
    // columns 10 and 90. A square of half side 20 reaches row 20 at 1.5 times its size;
    // a region ending 40 above the centre reaches it at 0.75 times.
    const PixelPolygon square = rectangle(30, 30, 70, 70);
    const PixelPolygon above = rectangle(-100, -1000, 200, 10);
    const QList<QPoint> none;
    QTest::newRow("square: first hit at 50 %") << Polygons {square} << none << 49;
    QTest::newRow("region above: first hit at 25 %") << Polygons {above} << none << 24;
    QTest::newRow("both") << Polygons {above, square} << none << 24;
    // Half side 35: hit as placed; none once below 30 / 35 of its size.
    QTest::newRow("square over the traces: none at -15 %")
        << Polygons {rectangle(15, 15, 85, 85)} << none << -15;
    QTest::newRow("nothing near") << Polygons {rectangle(45, 45, 55, 55)} << none << 100;
    QTest::newRow("a trace at the centre")
        << Polygons {rectangle(0, 0, 5, 5), rectangle(45, 45, 55, 55)} << QList {QPoint(50, 50)} << -100;
}

void TestEyeMask::margin()
{
    QFETCH(QList<PixelPolygon>, polygons);
    QFETCH(QList<QPoint>, pixels);
    QFETCH(int, margin);
    Occupancy picture = withPixels(blank(101, 101), pixels);
    segment(picture, QPointF(0, 20), QPointF(100, 20));
    segment(picture, QPointF(0, 80), QPointF(100, 80));
    segment(picture, QPointF(10, 20), QPointF(10, 80));
    segment(picture, QPointF(90, 20), QPointF(90, 80));
    QCOMPARE(EyeMask::margin(picture, polygons, QPointF(50, 50)), margin);
}

void TestEyeMask::marginNeverGrowsWithATrace()
{
    Occupancy picture = eyes({40, 120}, 20, 100, 10, 10, 1);
    const QList<PixelPolygon> mask {{{60, 60}, {70, 50}, {90, 50}, {100, 60}, {90, 70}, {70, 70}},
                                    rectangle(-100, -500, 300, 5),
                                    rectangle(-100, 115, 300, 500)};
    int before = EyeMask::margin(picture, mask, {80, 60});
    // The outer regions, 55 px from the centre, reach the levels 40 px from it.
    QCOMPARE(before, 27);
    for (int trace = 0; trace < 12; ++trace) {
        segment(picture, QPointF(trace * 13 % 160, 10 + trace * 7),
                QPointF(trace * 29 % 160, 110 - trace * 5));
        const int after = EyeMask::margin(picture, mask, {80, 60});
        QVERIFY2(after <= before,
                 qPrintable(QStringLiteral("trace %1: %2 after %3").arg(trace).arg(after).arg(before)));
        before = after;
    }
    QVERIFY(before < 0);
}

void TestEyeMask::judgedAndSummarised()
{
    const Occupancy eye = eyes({40, 120}, 20, 100, 10, 10, 1);
    Mask mask {QStringLiteral("Hexagon"),
               {},
               XScale::UnitIntervals,
               YScale::Amplitudes,
               {{{-0.25, 0}, {-0.1, 0.25}, {0.1, 0.25}, {0.25, 0}, {0.1, -0.25}, {-0.1, -0.25}}},
               {}};
    Result result = judge(eye, mask, {});
    QVERIFY(result.judged() && result.pass);
    QCOMPARE(summary(result), QStringLiteral("Hexagon: PASS, 0 hits, margin %1 %").arg(result.marginPercent));
    QVERIFY(result.marginPercent > 20);

    result = judge(withPixels(eye, {QPoint(80, 60)}), mask, {}, 0);
    QCOMPARE(summary(result), QStringLiteral("Hexagon: FAIL, 1 hit, margin -100 %"));
    QVERIFY(judge(withPixels(eye, {QPoint(80, 60)}), mask, {}, 1).pass);

    QCOMPARE(summary(judge(blank(20, 20), mask, {})), QStringLiteral("Hexagon: no eye (no opening)"));
    mask.xScale = XScale::Picoseconds;
    QCOMPARE(summary(judge(eye, mask, {})), QStringLiteral("Hexagon: the data rate is not known"));
}

QTEST_GUILESS_MAIN(TestEyeMask)
#include "tst_eyemask.moc"
