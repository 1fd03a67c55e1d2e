#include "rules/eyemask.h"

#include <QLineF>
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

// The pixels whose centre lies within thickness / 2 of a line.
Occupancy drawn(Occupancy picture, const QList<QLineF> &lines, double thickness = 1)
{
    for (qsizetype i = 0; i < picture.occupied.size(); ++i) {
        const QPointF p(i % picture.width, i / picture.width);
        for (const QLineF &line : lines) {
            const QPointF d = line.p2() - line.p1();
            const double length = std::max(QPointF::dotProduct(d, d), 1e-300);
            const double t = std::clamp(QPointF::dotProduct(p - line.p1(), d) / length, 0.0, 1.0);
            const QPointF gap = p - line.pointAt(t);
            picture.occupied[i] = picture.occupied[i] || std::hypot(gap.x(), gap.y()) <= thickness / 2 + 1e-9;
        }
    }
    return picture;
}

// Eyes as drawn: the one and zero levels across the picture, and at each
// crossing x a rising edge from (x - a, zero) to (x + b, one) and a falling
// one from (x - b, one) to (x + a, zero): they cross at x, a / (a + b) of
// the amplitude above the zero level.
Occupancy eyes(QList<int> crossings, int one, int zero, int a, int b, double thickness, int width = 160,
               int height = 120)
{
    QList<QLineF> lines {QLineF(0, one, width - 1, one), QLineF(0, zero, width - 1, zero)};
    for (const int x : crossings)
        lines << QLineF(x - a, zero, x + b, one) << QLineF(x - b, one, x + a, zero);
    return drawn(blank(width, height), lines, thickness);
}

Occupancy withPixels(Occupancy picture, const QList<QPoint> &pixels)
{
    for (const QPoint &pixel : pixels)
        picture.occupied[qsizetype(pixel.y()) * picture.width + pixel.x()] = true;
    return picture;
}

using Polygons = QList<PixelPolygon>;
using Pixels = QList<QPoint>;
using Counts = QList<qsizetype>;

PixelPolygon rectangle(double left, double top, double right, double bottom)
{
    return {{left, top}, {right, top}, {right, bottom}, {left, bottom}};
}

const EyeGeometry knownEye {40, 120, 20, 100, 60};

} // namespace

Q_DECLARE_METATYPE(Occupancy)
Q_DECLARE_METATYPE(EyeGeometry)
Q_DECLARE_METATYPE(Scale)
Q_DECLARE_METATYPE(Mask)

class TestEyeMask : public QObject
{
    Q_OBJECT

private slots:
    void eyeFound_data()
    {
        QTest::addColumn<Occupancy>("picture");
        QTest::addColumn<EyeGeometry>("eye");
        QTest::addColumn<QString>("noEye");
        const auto row = [](const char *name, Occupancy picture, EyeGeometry eye, const char *no = "") {
            QTest::newRow(name) << picture << eye << QString(no);
        };
        row("thin traces", eyes({40, 120}, 20, 100, 10, 10, 1), knownEye);
        row("thick traces", eyes({40, 120}, 20, 100, 10, 10, 5), knownEye);
        row("steep edges", eyes({40, 120}, 20, 100, 3, 3, 2), knownEye);
        row("two eyes: the larger", eyes({20, 120, 200}, 30, 220, 12, 12, 3, 239, 254),
            {20, 120, 30, 220, 125});
        row("a thin trace across", drawn(eyes({40, 120}, 20, 100, 10, 10, 3), {{0, 30, 159, 40}}), knownEye);
        row("crossing at 30 %", eyes({40, 120}, 20, 100, 6, 14, 1), {40, 120, 20, 100, 76});
        row("crossing at 70 %, thick", eyes({40, 120}, 20, 100, 14, 6, 4), {40, 120, 20, 100, 44});
        // Crossings at 30 % on the left, 70 % on the right: no one eye's.
        row("crossings at different levels",
            drawn(eyes({40}, 20, 100, 6, 14, 1), {{106, 100, 126, 20}, {114, 20, 134, 100}}), {},
            "the crossings lie at different levels");
        row("levels alone", eyes({}, 20, 100, 10, 10, 1), {}, "no opening");
        const QList<QLineF> box {{20, 20, 80, 20}, {80, 20, 80, 60}, {80, 60, 20, 60}, {20, 60, 20, 20}};
        row("a box", drawn(blank(100, 80), box), {}, "no crossing on the left");
        row("a side instead of a crossing", drawn(eyes({40}, 20, 100, 10, 10, 1), {{120, 20, 120, 100}}), {},
            "no crossing on the right");
        row("crossing at the edge", eyes({0, 120}, 20, 100, 10, 10, 1), {}, "no crossing on the left");
    }
    void eyeFound()
    {
        QFETCH(Occupancy, picture);
        QFETCH(EyeGeometry, eye);
        QFETCH(QString, noEye);
        const EyeSearch search = findEye(picture);
        QCOMPARE(search.noEyeReason, noEye);
        QCOMPARE(bool(search.eye), noEye.isEmpty());
        const auto figures = [](const EyeGeometry &e) {
            return QList<double> {e.leftCrossing, e.rightCrossing, e.oneLevel, e.zeroLevel, e.crossingRow};
        };
        const QList<double> found = figures(search.eye.value_or(EyeGeometry())), wanted = figures(eye);
        for (qsizetype i = 0; i < found.size(); ++i)
            QVERIFY2(std::abs(found[i] - wanted[i]) <= 2,
                     qPrintable(QStringLiteral("figure %1: %2, not %3").arg(i).arg(found[i]).arg(wanted[i])));
    }

    void placed_data()
    {
        QTest::addColumn<Mask>("mask");
        QTest::addColumn<Scale>("scale");
        QTest::addColumn<Polygons>("polygons"); // placed, when there is no error
        QTest::addColumn<QString>("error");
        const auto row = [](const char *name, XScale x, YScale y, Scale scale, QPointF corner, QPointF pixel,
                            const char *error = "") {
            QTest::newRow(name) << Mask {{}, {}, x, y, {{corner, corner, corner}}, {}} << scale
                                << Polygons {{pixel, pixel, pixel}} << QString(error);
        };
        // The eye: unit interval 80 px, amplitude 80 px, centre (80, 60).
        row("UI, amplitude", XScale::UnitIntervals, YScale::Amplitudes, {}, {0.25, 0.5}, {100, 20});
        row("ps at 10 Gb/s", XScale::Picoseconds, YScale::Amplitudes, {10000.0, {}}, {25, -0.5}, {100, 100});
        row("mV of 400 mV", XScale::UnitIntervals, YScale::Millivolts, {{}, 400.0}, {-0.5, 100}, {40, 40});
        row("V of 400 mV", XScale::UnitIntervals, YScale::Volts, {{}, 400.0}, {0, -0.1}, {80, 80});
        row("ps without a rate", XScale::Picoseconds, YScale::Amplitudes, {{}, 400.0}, {}, {},
            "the data rate is not known");
        row("mV without an amplitude", XScale::UnitIntervals, YScale::Millivolts, {10000.0, {}}, {}, {},
            "the amplitude is not known");
        row("V of 0 mV", XScale::UnitIntervals, YScale::Volts, {{}, 0.0}, {}, {},
            "the amplitude is not known");
    }
    void placed()
    {
        QFETCH(Mask, mask);
        QFETCH(Scale, scale);
        QFETCH(Polygons, polygons);
        QFETCH(QString, error);
        const Placement placement = place(mask, knownEye, scale);
        QCOMPARE(placement.error, error);
        if (error.isEmpty())
            QCOMPARE(placement.polygons, polygons);
    }

    void hits_data()
    {
        QTest::addColumn<Polygons>("polygons");
        QTest::addColumn<Pixels>("pixels");
        QTest::addColumn<Counts>("perPolygon");
        QTest::addColumn<Pixels>("hitPixels");
        const PixelPolygon square = rectangle(10, 10, 20, 20);
        const PixelPolygon diamond {{30, 10}, {35, 15}, {30, 20}, {25, 15}};
        // A U: two legs joined at the top, the notch between them open below.
        const PixelPolygon u {{10, 10}, {30, 10}, {30, 30}, {25, 30}, {25, 15}, {15, 15}, {15, 30}, {10, 30}};
        QTest::newRow("on an edge and a corner")
            << Polygons {square, diamond} << Pixels {{10, 15}, {20, 20}, {33, 13}, {35, 15}} << Counts {2, 2}
            << Pixels {{33, 13}, {10, 15}, {35, 15}, {20, 20}};
        QTest::newRow("concave: the legs, not the notch")
            << Polygons {u} << Pixels {{12, 25}, {20, 25}, {20, 15}, {27, 29}, {20, 31}} << Counts {3}
            << Pixels {{20, 15}, {12, 25}, {27, 29}};
        QTest::newRow("in two polygons: counted once in all")
            << Polygons {square, rectangle(15, 15, 40, 40)} << Pixels {{17, 17}, {30, 30}} << Counts {1, 2}
            << Pixels {{17, 17}, {30, 30}};
        QTest::newRow("beyond the picture") << Polygons {rectangle(-50, -50, 100, 5)}
            << Pixels {{0, 0}, {49, 5}} << Counts {2} << Pixels {{0, 0}, {49, 5}};
    }
    void hits()
    {
        QFETCH(Polygons, polygons);
        QFETCH(Pixels, pixels);
        QFETCH(Counts, perPolygon);
        QFETCH(Pixels, hitPixels);
        const Hits hits = countHits(withPixels(blank(50, 40), pixels), polygons);
        QCOMPARE(hits.perPolygon, perPolygon);
        QCOMPARE(hits.pixels, hitPixels);
        QCOMPARE(hits.total, hitPixels.size());
    }

    void margin_data()
    {
        QTest::addColumn<Polygons>("polygons");
        QTest::addColumn<Pixels>("pixels");
        QTest::addColumn<int>("margin");
        // Around the centre (50, 50): a box of traces at rows 20 and 80 and
        // columns 10 and 90. A square of half side 20 reaches row 20 at 1.5 times its size;
        // a region ending 40 above the centre reaches it at 0.75 times.
        const PixelPolygon square = rectangle(30, 30, 70, 70);
        const PixelPolygon above = rectangle(-100, -1000, 200, 10);
        QTest::newRow("square: first hit at 50 %") << Polygons {square} << Pixels {} << 49;
        QTest::newRow("region above: first hit at 25 %") << Polygons {above} << Pixels {} << 24;
        QTest::newRow("both") << Polygons {above, square} << Pixels {} << 24;
        // Half side 35: hit as placed; none once below 30 / 35 of its size.
        QTest::newRow("square over the traces: none at -15 %")
            << Polygons {rectangle(15, 15, 85, 85)} << Pixels {} << -15;
        QTest::newRow("nothing near") << Polygons {rectangle(45, 45, 55, 55)} << Pixels {} << 100;
        QTest::newRow("a trace at the centre")
            << Polygons {rectangle(0, 0, 5, 5), rectangle(45, 45, 55, 55)} << Pixels {{50, 50}} << -100;
    }
    void margin()
    {
        QFETCH(Polygons, polygons);
        QFETCH(Pixels, pixels);
        QFETCH(int, margin);
        const QList<QLineF> box {{0, 20, 100, 20}, {0, 80, 100, 80}, {10, 20, 10, 80}, {90, 20, 90, 80}};
        const Occupancy picture = drawn(withPixels(blank(101, 101), pixels), box);
        QCOMPARE(EyeMask::margin(picture, polygons, QPointF(50, 50)), margin);
    }

    void judgedAndSummarised()
    {
        const Occupancy eye = eyes({40, 120}, 20, 100, 10, 10, 1);
        Mask mask {"Hexagon", {}, XScale::UnitIntervals, YScale::Amplitudes,
                   {{{-0.25, 0}, {-0.1, 0.25}, {0.1, 0.25}, {0.25, 0}, {0.1, -0.25}, {-0.1, -0.25}}}, {}};
        const Result result = judge(eye, mask, {});
        QVERIFY(result.judged() && result.pass && result.marginPercent > 20);
        QCOMPARE(summary(result), QString("Hexagon: PASS, 0 hits, margin %1 %").arg(result.marginPercent));
        const Occupancy hit = withPixels(eye, {QPoint(80, 60)});
        QCOMPARE(summary(judge(hit, mask, {}, 0)), QStringLiteral("Hexagon: FAIL, 1 hit, margin -100 %"));
        QVERIFY(judge(hit, mask, {}, 1).pass);
        QCOMPARE(summary(judge(blank(20, 20), mask, {})), QStringLiteral("Hexagon: no eye (no opening)"));
        mask.xScale = XScale::Picoseconds;
        QCOMPARE(summary(judge(eye, mask, {})), QStringLiteral("Hexagon: the data rate is not known"));
    }
};

QTEST_GUILESS_MAIN(TestEyeMask)
#include "tst_eyemask.moc"
