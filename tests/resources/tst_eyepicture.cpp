#include "bitmapcheck.h"
#include "eyepicture.h"

#include <QElapsedTimer>
#include <QImage>
#include <QTransform>
#include <QtTest>

#include <algorithm>

namespace {

// A picture whose every pixel differs from its neighbours, so that a swapped
// channel, a flipped row order or a shifted row shows.
QImage patternImage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 37 + y * 11) & 0xFF, (x * 5 + y * 71 + 13) & 0xFF, (x * 101 + y * 3 + 200) & 0xFF));
    return image;
}

bool isBlack(QRgb pixel)
{
    return qRed(pixel) == 0 && qGreen(pixel) == 0 && qBlue(pixel) == 0;
}

int hitRowsInColumn(const QImage &image, int x)
{
    int hits = 0;
    for (int y = 0; y < image.height(); ++y)
        hits += isBlack(image.pixel(x, y)) ? 0 : 1;
    return hits;
}

} // namespace

class EyePictureTest : public QObject
{
    Q_OBJECT

private slots:
    void bitmapHasTheWindowsLayout_data();
    void bitmapHasTheWindowsLayout();
    void bitmapStoresBottomRowFirstInBlueGreenRed_data();
    void bitmapStoresBottomRowFirstInBlueGreenRed();

    void eyeIsTheSameForTheSameSeed_data();
    void eyeIsTheSameForTheSameSeed();
    void eyeHasRailsCrossingsAndAnOpenCentre_data();
    void eyeHasRailsCrossingsAndAnOpenCentre();
    void eyeUsesTheWholeColourRamp();
    void eyeRendersFastEnoughForEveryScan();

    void captureIsTheEyeTurnedBack_data();
    void captureIsTheEyeTurnedBack();
};

void EyePictureTest::bitmapHasTheWindowsLayout_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("fileSize");

    QTest::newRow("1 x 1, 1 padding byte") << 1 << 1 << 58;
    QTest::newRow("2 x 3, 2 padding bytes") << 2 << 3 << 78;
    QTest::newRow("3 x 2, 3 padding bytes") << 3 << 2 << 78;
    QTest::newRow("4 x 5, no padding") << 4 << 5 << 114;
    QTest::newRow("example eye 239 x 254") << 239 << 254 << 182934;
    QTest::newRow("capture 254 x 239") << 254 << 239 << 182650;
}

void EyePictureTest::bitmapHasTheWindowsLayout()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, fileSize);

    const QByteArray bytes = EyePicture::bmp24(patternImage(width, height));
    QCOMPARE(bytes.size(), fileSize);
    verifyBitmap24Layout(bytes, width, height);
    if (QTest::currentTestFailed())
        return;

    // Qt's own reader agrees with every pixel.
    const QImage decoded = QImage::fromData(bytes, "BMP");
    QCOMPARE(decoded.size(), QSize(width, height));
    QCOMPARE(decoded.convertToFormat(QImage::Format_RGB32), patternImage(width, height));
}

void EyePictureTest::bitmapStoresBottomRowFirstInBlueGreenRed_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");

    QTest::newRow("top left") << 0 << 0;
    QTest::newRow("top right") << 6 << 0;
    QTest::newRow("bottom left") << 0 << 4;
    QTest::newRow("bottom right") << 6 << 4;
    QTest::newRow("inside") << 3 << 2;
}

void EyePictureTest::bitmapStoresBottomRowFirstInBlueGreenRed()
{
    QFETCH(int, x);
    QFETCH(int, y);

    const QImage image = patternImage(7, 5); // rows of 21 bytes padded to 24
    const QByteArray bytes = EyePicture::bmp24(image);
    const int offset = 54 + (4 - y) * 24 + x * 3;
    const QRgb pixel = image.pixel(x, y);
    QCOMPARE(quint8(bytes.at(offset)), quint8(qBlue(pixel)));
    QCOMPARE(quint8(bytes.at(offset + 1)), quint8(qGreen(pixel)));
    QCOMPARE(quint8(bytes.at(offset + 2)), quint8(qRed(pixel)));
}

void EyePictureTest::eyeIsTheSameForTheSameSeed_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<QSize>("size");

    QTest::newRow("seed 0") << 0u << QSize(239, 254);
    QTest::newRow("seed 1") << 1u << QSize(239, 254);
    QTest::newRow("largest seed") << 0xFFFFFFFFu << QSize(239, 254);
    QTest::newRow("wider picture") << 42u << QSize(400, 300);
}

void EyePictureTest::eyeIsTheSameForTheSameSeed()
{
    QFETCH(quint32, seed);
    QFETCH(QSize, size);

    const QImage first = EyePicture::renderEye(size, seed);
    QCOMPARE(first.size(), size);
    QCOMPARE(EyePicture::renderEye(size, seed), first);
    QVERIFY2(EyePicture::renderEye(size, seed + 1) != first, "a different seed gives the same picture");
}

void EyePictureTest::eyeHasRailsCrossingsAndAnOpenCentre_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<QSize>("size");

    QTest::newRow("display size") << 731942u << QSize(239, 254);
    QTest::newRow("another seed") << 5u << QSize(239, 254);
    QTest::newRow("wide and low") << 9u << QSize(400, 200);
}

void EyePictureTest::eyeHasRailsCrossingsAndAnOpenCentre()
{
    QFETCH(quint32, seed);
    QFETCH(QSize, size);

    const QImage eye = EyePicture::renderEye(size, seed);
    const int width = eye.width();
    const int height = eye.height();

    // Black above the upper and below the lower level.
    for (int x = 0; x < width; ++x) {
        QVERIFY2(isBlack(eye.pixel(x, 0)), qPrintable(QStringLiteral("top row hit at x %1").arg(x)));
        QVERIFY2(isBlack(eye.pixel(x, height - 1)), qPrintable(QStringLiteral("bottom row hit at x %1").arg(x)));
    }

    // The centre of the middle eye is open: black from the middle row up and
    // down until the traces of the two levels.
    const int centre = width / 2;
    int up = height / 2;
    while (up > 0 && isBlack(eye.pixel(centre, up)))
        --up;
    int down = height / 2;
    while (down < height - 1 && isBlack(eye.pixel(centre, down)))
        ++down;
    QVERIFY2(up > 0 && down < height - 1, "no trace above or below the eye centre");
    QVERIFY2(down - up > height / 2, qPrintable(QStringLiteral("eye opening only %1 rows").arg(down - up)));

    // Time runs horizontally: the crossings at a quarter and three quarters of
    // the width are hit at mid height, and traces there spread over far more
    // rows than in the middle of the eye, where only the two levels pass.
    QVERIFY(!isBlack(eye.pixel(width / 4, height / 2)));
    QVERIFY(!isBlack(eye.pixel(3 * width / 4, height / 2)));
    QVERIFY(hitRowsInColumn(eye, width / 4) > 2 * hitRowsInColumn(eye, centre));
    QVERIFY(hitRowsInColumn(eye, 3 * width / 4) > 2 * hitRowsInColumn(eye, centre));
}

void EyePictureTest::eyeUsesTheWholeColourRamp()
{
    const QImage eye = EyePicture::renderEye(QSize(239, 254), 731942);
    int darkBlue = 0;
    int green = 0;
    int red = 0;
    int white = 0;
    for (int y = 0; y < eye.height(); ++y) {
        for (int x = 0; x < eye.width(); ++x) {
            const QRgb pixel = eye.pixel(x, y);
            const int r = qRed(pixel);
            const int g = qGreen(pixel);
            const int b = qBlue(pixel);
            if (b > 0 && b < 200 && r == 0 && g < b / 2)
                ++darkBlue;
            if (g > 150 && r < 80 && b < 80)
                ++green;
            if (r > 220 && g < 100 && b < 60)
                ++red;
            if (r > 230 && g > 230 && b > 230)
                ++white;
        }
    }
    QVERIFY2(darkBlue > 0, "no dark blue fringe");
    QVERIFY2(green > 0, "no green");
    QVERIFY2(red > 0, "no red");
    QVERIFY2(white > 0, "no white at the densest places");
}

void EyePictureTest::eyeRendersFastEnoughForEveryScan()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("timing is meaningless under the address sanitizer");
#endif
    // The simulated instrument renders a fresh eye for every scan. The best
    // of three runs keeps a busy machine from failing the test.
    qint64 best = -1;
    for (quint32 seed = 1; seed <= 3; ++seed) {
        QElapsedTimer timer;
        timer.start();
        const QImage eye = EyePicture::renderEye(QSize(239, 254), seed);
        const qint64 elapsed = timer.elapsed();
        QVERIFY(!eye.isNull());
        best = best < 0 ? elapsed : std::min(best, elapsed);
    }
    qInfo("best render time of 239 x 254: %lld ms", static_cast<long long>(best));
    QVERIFY2(best < 200, qPrintable(QStringLiteral("rendering took %1 ms").arg(best)));
}

void EyePictureTest::captureIsTheEyeTurnedBack_data()
{
    QTest::addColumn<quint32>("seed");

    QTest::newRow("seed 1") << 1u;
    QTest::newRow("seed 2") << 2u;
    QTest::newRow("example seed") << 731942u;
    QTest::newRow("largest seed") << 0xFFFFFFFFu;
}

void EyePictureTest::captureIsTheEyeTurnedBack()
{
    QFETCH(quint32, seed);

    const QByteArray capture = EyePicture::captureBitmap(seed);
    QCOMPARE(capture.size(), 182650);
    verifyBitmap24Layout(capture, 254, 239);
    if (QTest::currentTestFailed())
        return;

    // The program turns the capture a quarter turn clockwise to show it.
    const QImage shown = QImage::fromData(capture, "BMP")
                             .transformed(QTransform().rotate(90), Qt::FastTransformation)
                             .convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown, EyePicture::renderEye(QSize(239, 254), seed));

    QVERIFY2(EyePicture::captureBitmap(seed + 1) != capture, "two seeds give the same capture");
}

QTEST_GUILESS_MAIN(EyePictureTest)
#include "tst_eyepicture.moc"
