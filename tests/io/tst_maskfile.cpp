#include "eyepicture.h"
#include "io/maskfile.h"
#include "io/picturefile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace EyeMask;

namespace {

// Lines 1 to 10; each error case changes one thing.
const QByteArray validMask = "protocol: {name: Test, reference: here}\n"
                             "units:\n"
                             "  xscale: ui\n"
                             "  yscale: amplitude\n"
                             "mask:\n"
                             "  - points:\n"
                             "      - {x: -0.25, y: 0}\n"
                             "      - {x: 0, y: 0.25}\n"
                             "      - {x: 0.25, y: 0}\n"
                             "conditions: {hitrate: 1e-12}\n";

QByteArray changed(const char *from, const char *to)
{
    return QByteArray(validMask).replace(from, to);
}

MaskPolygon hexagon(double tip, double corner, double height)
{
    return {{-tip, 0}, {-corner, height}, {corner, height}, {tip, 0}, {corner, -height}, {-corner, -height}};
}

} // namespace

class TestMaskFile : public QObject
{
    Q_OBJECT

private slots:
    void refusedWithLineAndReason_data()
    {
        QTest::addColumn<QByteArray>("yaml");
        QTest::addColumn<QString>("error");
        const auto row = [](const char *name, const char *from, const char *to, const char *error) {
            QTest::newRow(name) << changed(from, to) << QString(error);
        };
        QTest::newRow("empty") << QByteArray() << "line 1: no mask file";
        row("not YAML", "xscale: ui", "xscale: [ui", "line 4: ");
        row("no mask list", "mask:", "masks:", "line 1: no mask list");
        row("mask not a list", "mask:", "mask: 3\nmasks:", "line 5: the mask is a list");
        row("no units", "units:", "unit:", "line 1: no units (xscale and yscale)");
        row("unknown xscale", "ui", "ns", "line 3: unknown xscale \"ns\" (ui or ps)");
        row("unknown yscale", "amplitude", "dB", "line 4: unknown yscale \"dB\" (mv, v or amplitude)");
        row("a point without y", "{x: 0, y: 0.25}", "{x: 0}", "line 8: a point needs x and y");
        row("y no number", "y: 0.25", "y: high", "line 8: y is no number");
        row("x out of range", "x: -0.25", "x: -1e300", "line 7: x is out of range");
        row("two points", "      - {x: 0.25, y: 0}\n", "", "line 7: a polygon needs at least 3 points");
        row("a polygon without points", "- points:", "- corners:", "line 6: a polygon needs points");
    }
    void refusedWithLineAndReason()
    {
        QFETCH(QByteArray, yaml);
        QFETCH(QString, error);
        const MaskFile::Loaded loaded = MaskFile::parse(yaml);
        QVERIFY(!loaded.mask);
        QVERIFY2(loaded.error.startsWith(error), qPrintable(loaded.error));
    }

    void read()
    {
        const MaskFile::Loaded valid = MaskFile::parse(validMask);
        QVERIFY2(valid.mask, qPrintable(valid.error));
        QCOMPARE(QStringList({valid.mask->name, valid.mask->reference, valid.mask->hitRate}),
                 QStringList({"Test", "here", "1e-12"}));
        QCOMPARE(valid.mask->polygons, QList<MaskPolygon>({{{-0.25, 0}, {0, 0.25}, {0.25, 0}}}));
        QCOMPARE(int(MaskFile::parse(changed("ui", "PS")).mask->xScale), int(XScale::Picoseconds));
        QCOMPARE(int(MaskFile::parse(changed("amplitude", "v")).mask->yScale), int(YScale::Volts));

        // A file without a protocol name is named by its file; a file is
        // loaded by its path, a shipped mask by its name.
        QTemporaryDir dir;
        const QString fileName = dir.filePath("own mask.yaml");
        QFile file(fileName);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(changed("name: Test, ", "")) > 0);
        file.close();
        const MaskFile::Loaded loaded = MaskFile::load(fileName);
        QCOMPARE(loaded.mask ? loaded.mask->name : loaded.error, "own mask");
        QVERIFY(MaskFile::load("no-such-mask").error.contains("nrz-hexagon"));
        QVERIFY(!MaskFile::read(dir.filePath("missing.yaml")).error.isEmpty());
    }

    void shippedMasks_data()
    {
        QTest::addColumn<QString>("protocol");
        QTest::addColumn<int>("yScale");
        QTest::addColumn<MaskPolygon>("centre");
        QTest::addColumn<double>("limit"); // the forbidden regions begin at +-limit
        QTest::newRow("nrz-hexagon")
            << "NRZ hexagon" << int(YScale::Amplitudes) << hexagon(0.25, 0.10, 0.25) << 0.9;
        QTest::newRow("sff8431-host-tx")
            << "SFF-8431 host" << int(YScale::Millivolts) << hexagon(0.38, 0.17, 95) << 350.0;
    }
    void shippedMasks()
    {
        QFETCH(QString, protocol);
        QFETCH(int, yScale);
        QFETCH(MaskPolygon, centre);
        QFETCH(double, limit);
        QCOMPARE(MaskFile::shippedNames(), QStringList({"nrz-hexagon", "sff8431-host-tx"}));
        const MaskFile::Loaded loaded = MaskFile::load(QTest::currentDataTag());
        QVERIFY2(loaded.mask, qPrintable(loaded.error));
        const Mask &mask = *loaded.mask;
        QCOMPARE(mask.name, protocol);
        QVERIFY(!mask.reference.isEmpty());
        QCOMPARE(int(mask.xScale), int(XScale::UnitIntervals));
        QCOMPARE(int(mask.yScale), yScale);
        // The centre, and above and below across the picture (2 UI either way) to 10 times the limit.
        QCOMPARE(mask.polygons,
                 QList<MaskPolygon>({centre, {{-2, limit}, {2, limit}, {2, 10 * limit}, {-2, 10 * limit}},
                                     {{-2, -limit}, {-2, -10 * limit}, {2, -10 * limit}, {2, -limit}}}));
    }

    void renderedEyesJudged()
    {
        const std::optional<Mask> hexagonMask = MaskFile::load("nrz-hexagon").mask;
        const std::optional<Mask> sff = MaskFile::load("sff8431-host-tx").mask;
        QVERIFY(hexagonMask && sff);
        MeasurementRow reading;
        reading.amplitude = "700";
        reading.rate = "10312.5";
        const Scale scale = MaskFile::scaleOf(reading);
        QVERIFY(scale.rateMbps == 10312.5 && scale.amplitudeMv == 700.0);
        reading.amplitude.clear();
        QVERIFY(!MaskFile::scaleOf(reading).amplitudeMv && !MaskFile::scaleOf(std::nullopt).rateMbps);

        for (const quint32 seed : {1u, 11u, 42u}) {
            const QImage eye = EyePicture::renderEye(QSize(239, 254), seed);
            const Result result = MaskFile::judgePicture(eye, *hexagonMask, {});
            QVERIFY2(result.judged() && result.pass, qPrintable(summary(result)));
            // The simulator's crossings lie at a quarter and three quarters of the width.
            QVERIFY(qAbs(result.search.eye->leftCrossing - 59.25) <= 2
                    && qAbs(result.search.eye->rightCrossing - 178.75) <= 2);
            QVERIFY2(result.marginPercent > 10 && result.marginPercent < 100, qPrintable(summary(result)));
            // The margin's search finds what the hits of the grown mask say.
            const EyeComparison::Occupancy occupied = EyeComparison::occupancy(PictureFile::rgbPixels(eye));
            const QPointF eyeCentre = result.search.eye->centre();
            const auto hitsAt = [&](int percent) {
                return countHits(occupied, grown(result.placement.polygons, eyeCentre, percent));
            };
            QVERIFY(hitsAt(result.marginPercent).total == 0 && hitsAt(result.marginPercent + 1).total > 0);
            // 700 mV from level to level puts 350 mV at the levels: the upper
            // and lower halves of their traces are forbidden; at 500 mV none is.
            const Result wide = MaskFile::judgePicture(eye, *sff, scale);
            QVERIFY(!wide.pass && wide.hits.perPolygon[0] == 0 && wide.hits.perPolygon[1] > 1000);
            QVERIFY2(MaskFile::judgePicture(eye, *sff, {{}, 500.0}).pass, qPrintable(summary(wide)));
            QCOMPARE(MaskFile::judgePicture(eye, *sff, {}).placement.error, "the amplitude is not known");
        }
    }
};

QTEST_GUILESS_MAIN(TestMaskFile)
#include "tst_maskfile.moc"
