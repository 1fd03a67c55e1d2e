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

static void verifyBitmapHeader(const QByteArray &bytes, int width, int height)
{
    const quint32 size = 54 + (width * 3 + 3) / 4 * 4 * height;
    QVERIFY2(bytes.size() == size && bytes.startsWith("BM"), qPrintable(QString::number(bytes.size())));
    // An uncompressed 24-bit bottom-up bitmap: the fields from offset 2 on, 32 bits each but planes and
    // bits per pixel (16 each), in order file size to colours important.
    QList<quint32> fields;
    for (int offset = 2; offset < 54; offset += 4)
        fields << qFromLittleEndian<quint32>(bytes.constData() + offset);
    const QList<quint32> expected
        = {size, 0, 54, 40, quint32(width), quint32(height), 1 | 24 << 16, 0, 0, 3780, 3780, 0, 0};
    QCOMPARE(fields, expected);
}

class TestPictureCollection : public QObject
{
    Q_OBJECT

private slots:
    void pictureResolves_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("colourType"); // of a PNG file; 0 for the bitmap
        QTest::newRow("Arrow.png") << QSize(527, 527) << 6;
        QTest::newRow("Eye-gr.png") << QSize(525, 524) << 6;
        QTest::newRow("Eye-wt.png") << QSize(509, 297) << 3;
        QTest::newRow("HelpIcon.png") << QSize(527, 550) << 3;
        for (const char *colour : {"Black", "Blue", "Green", "Grey", "Orange", "Purple", "Red", "Yellow"})
            QTest::newRow(qPrintable(QStringLiteral("LED_%1.png").arg(colour))) << QSize(300, 300) << 6;
        QTest::newRow("LambdaIcon.png") << QSize(527, 538) << 3;
        QTest::newRow("Logo.png") << QSize(566, 254) << 6;
        QTest::newRow("Q-White.png") << QSize(527, 527) << 6;
        QTest::newRow("lgplv3-147x51.png") << QSize(147, 51) << 6;
        QTest::newRow("rotated blankcapture.bmp") << QSize(239, 254) << 0;
        QCOMPARE(QDir(Prefix).entryList(QDir::Files).size(), 17); // nothing extra
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
        const QByteArray capture = EyePicture::captureBitmap(731942);
        verifyBitmapHeader(capture, 254, 239); // a capture turned clockwise, as shown, is the eye
        const QImage shown = QImage::fromData(capture).transformed(QTransform().rotate(90));
        QCOMPARE(shown.convertToFormat(QImage::Format_RGB32), eye);
        const QByteArray blank = contents("blankcapture.bmp"); // the template in the working directory
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
            QVERIFY2(contents(output.filePath(name)) == contents(Committed + name), qPrintable(name));
    }
};

QTEST_MAIN(TestPictureCollection)
#include "tst_picturecollection.moc"
