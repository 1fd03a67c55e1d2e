#include "eyepicture.h"

#include <QTransform>
#include <QtTest> // with the whole of QtCore

static const QString Prefix = QStringLiteral(":/new/prefix1/"),
                     Committed = QStringLiteral(ZENTAVAL_RESOURCES_DIR "/");

static QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every header field of an uncompressed 24-bit bottom-up bitmap of this size.
static void verifyBitmapHeader(const QByteArray &bytes, int width, int height)
{
    const quint32 size = 54 + (width * 3 + 3) / 4 * 4 * height;
    QCOMPARE(quint32(bytes.size()), size);
    const struct
    {
        int offset, length;
        quint32 value;
    } fields[] = {{0, 2, 'B' | 'M' << 8},
                  {2, 4, size},
                  {6, 4, 0},
                  {10, 4, 54},
                  {14, 4, 40},
                  {18, 4, quint32(width)},
                  {22, 4, quint32(height)},
                  {26, 2, 1},
                  {28, 2, 24},
                  {30, 4, 0},
                  {34, 4, 0},
                  {38, 4, 3780},
                  {42, 4, 3780},
                  {46, 4, 0},
                  {50, 4, 0}};
    for (const auto &[offset, length, expected] : fields) {
        const char *at = bytes.constData() + offset;
        const quint32 value = length == 2 ? qFromLittleEndian<quint16>(at) : qFromLittleEndian<quint32>(at);
        QVERIFY2(value == expected, qPrintable(QStringLiteral("offset %1: %2").arg(offset).arg(value)));
    }
}

class TestPictureCollection : public QObject
{
    Q_OBJECT

private slots:
    void pictureResolves_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("colourType"); // of a PNG file; 0 for the bitmap
        const struct
        {
            const char *name;
            int width, height, colourType;
        } pictures[] = {{"Arrow.png", 527, 527, 6},
                        {"Eye-gr.png", 525, 524, 6},
                        {"Eye-wt.png", 509, 297, 3},
                        {"HelpIcon.png", 527, 550, 3},
                        {"LED_Black.png", 300, 300, 6},
                        {"LED_Blue.png", 300, 300, 6},
                        {"LED_Green.png", 300, 300, 6},
                        {"LED_Grey.png", 300, 300, 6},
                        {"LED_Orange.png", 300, 300, 6},
                        {"LED_Purple.png", 300, 300, 6},
                        {"LED_Red.png", 300, 300, 6},
                        {"LED_Yellow.png", 300, 300, 6},
                        {"LambdaIcon.png", 527, 538, 3},
                        {"Logo.png", 566, 254, 6},
                        {"Q-White.png", 527, 527, 6},
                        {"lgplv3-147x51.png", 147, 51, 6},
                        {"rotated blankcapture.bmp", 239, 254, 0}};
        for (const auto &picture : pictures)
            QTest::newRow(picture.name) << QSize(picture.width, picture.height) << picture.colourType;
        QCOMPARE(QDir(Prefix).entryList(QDir::Files).size(), int(std::size(pictures))); // nothing extra
    }
    void pictureResolves()
    {
        QFETCH(QSize, size);
        QFETCH(int, colourType);
        const QByteArray bytes = contents(Prefix + QString::fromLatin1(QTest::currentDataTag()));
        QCOMPARE(QImage::fromData(bytes).size(), size);
        if (colourType == 0)
            return verifyBitmapHeader(bytes, size.width(), size.height());
        QCOMPARE(int(bytes.at(25)), colourType); // in the header chunk, which comes first
        if (colourType == 3)                     // a palette needs its transparency before the image data
            QVERIFY(bytes.indexOf("tRNS") > 0 && bytes.indexOf("tRNS") < bytes.indexOf("IDAT"));
    }
    void bitmapsHoldTheExampleEyeAndABlankTemplate()
    {
        const QByteArray example = contents(Prefix + "rotated blankcapture.bmp");
        const QImage eye = EyePicture::renderEye(QSize(239, 254), 731942);
        QCOMPARE(QImage::fromData(example).convertToFormat(QImage::Format_RGB32), eye);
        // A capture, turned a quarter turn clockwise as the program shows it, is the eye upright.
        const QByteArray capture = EyePicture::captureBitmap(731942);
        verifyBitmapHeader(capture, 254, 239);
        QCOMPARE(QImage::fromData(capture)
                     .transformed(QTransform().rotate(90))
                     .convertToFormat(QImage::Format_RGB32),
                 eye);
        // The template beside the programs, as the program reads it from its working directory.
        const QByteArray blank = contents(QStringLiteral("blankcapture.bmp"));
        QCOMPARE(blank, contents(Committed + "blankcapture.bmp"));
        verifyBitmapHeader(blank, 254, 239);
        QCOMPARE(blank.mid(54), QByteArray(182650 - 54, '\0')); // 182,650 bytes, every pixel black, padding 0
    }
    void artworkReproducesEveryCommittedByte()
    {
        QTemporaryDir output;
        QProcess artwork;
        artwork.start(QStringLiteral(ZENTAVAL_ARTWORK_PROGRAM), {output.path()});
        QVERIFY(artwork.waitForFinished(100000) && artwork.exitCode() == 0);
        const QStringList drawn = QDir(output.path()).entryList(QDir::Files, QDir::Name);
        QCOMPARE(drawn, QDir(Committed).entryList({"*.png", "*.bmp"}, QDir::Files, QDir::Name));
        for (const QString &name : drawn)
            QVERIFY2(contents(output.filePath(name)) == contents(Committed + name),
                     qPrintable(name + " differs"));
    }
};

QTEST_MAIN(TestPictureCollection)
#include "tst_picturecollection.moc"
