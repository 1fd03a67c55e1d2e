#include "bitmapcheck.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTransform>
#include <QtEndian>
#include <QtTest>

namespace {

const QString Prefix = QStringLiteral(":/new/prefix1/");

enum class Encoding { PngRgba, PngPalette, Bitmap };

struct Entry
{
    const char *fileName;
    Encoding encoding;
    int width;
    int height;
};

// The collection: every file with its format and pixel size.
const Entry Collection[] = {
    {"Eye-gr.png", Encoding::PngRgba, 525, 524},
    {"Logo.png", Encoding::PngRgba, 566, 254},
    {"HelpIcon.png", Encoding::PngPalette, 527, 550},
    {"Arrow.png", Encoding::PngRgba, 527, 527},
    {"LED_Grey.png", Encoding::PngRgba, 300, 300},
    {"LED_Green.png", Encoding::PngRgba, 300, 300},
    {"LED_Yellow.png", Encoding::PngRgba, 300, 300},
    {"rotated blankcapture.bmp", Encoding::Bitmap, 239, 254},
    {"lgplv3-147x51.png", Encoding::PngRgba, 147, 51},
    {"LED_Red.png", Encoding::PngRgba, 300, 300},
    {"LED_Blue.png", Encoding::PngRgba, 300, 300},
    {"LED_Orange.png", Encoding::PngRgba, 300, 300},
    {"LED_Purple.png", Encoding::PngRgba, 300, 300},
    {"LED_Black.png", Encoding::PngRgba, 300, 300},
    {"Eye-wt.png", Encoding::PngPalette, 509, 297},
    {"LambdaIcon.png", Encoding::PngPalette, 527, 538},
    {"Q-White.png", Encoding::PngRgba, 527, 527},
};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

struct PngChunk
{
    QByteArray type;
    QByteArray data;
};

// The chunks of a PNG file, or an empty list if the file is not one.
QList<PngChunk> pngChunks(const QByteArray &bytes)
{
    QList<PngChunk> chunks;
    if (!bytes.startsWith(QByteArray("\x89PNG\r\n\x1A\n", 8)))
        return chunks;
    qsizetype at = 8;
    while (at + 12 <= bytes.size()) {
        const quint32 length = qFromBigEndian<quint32>(bytes.constData() + at);
        if (at + 12 + qsizetype(length) > bytes.size())
            return {};
        chunks.append({bytes.mid(at + 4, 4), bytes.mid(at + 8, length)});
        at += 12 + qsizetype(length);
    }
    return chunks;
}

QStringList fileNames(bool withTemplate)
{
    QStringList names;
    for (const Entry &entry : Collection)
        names << QString::fromLatin1(entry.fileName);
    if (withTemplate)
        names << QStringLiteral("blankcapture.bmp");
    names.sort();
    return names;
}

QImage upright(const QByteArray &capture)
{
    return QImage::fromData(capture, "BMP")
        .transformed(QTransform().rotate(90), Qt::FastTransformation)
        .convertToFormat(QImage::Format_RGB32);
}

} // namespace

class PictureCollectionTest : public QObject
{
    Q_OBJECT

private slots:
    void collectionHoldsExactlyTheListedFiles();
    void pictureLoadsWithItsPixelSize_data();
    void pictureLoadsWithItsPixelSize();
    void pictureHasItsFileFormat_data();
    void pictureHasItsFileFormat();
    void lampShowsItsColour_data();
    void lampShowsItsColour();

    void exampleEyeHeaderField_data();
    void exampleEyeHeaderField();
    void exampleEyeIsTheWholeUncompressedBitmap();

    void templateBesideTheProgramsHasTheCaptureFormat();
    void templateIsTheExampleEyeTurnedBack();

    void artworkProgramReproducesTheCommittedFiles();

private:
    void collectionTable();
};

void PictureCollectionTest::collectionTable()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QSize>("size");
    for (const Entry &entry : Collection) {
        QTest::newRow(entry.fileName) << Prefix + QString::fromLatin1(entry.fileName) << int(entry.encoding)
                                      << QSize(entry.width, entry.height);
    }
}

void PictureCollectionTest::collectionHoldsExactlyTheListedFiles()
{
    QStringList present = QDir(Prefix).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    present.sort();
    QCOMPARE(present, fileNames(false));
}

void PictureCollectionTest::pictureLoadsWithItsPixelSize_data()
{
    collectionTable();
}

void PictureCollectionTest::pictureLoadsWithItsPixelSize()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);

    QVERIFY(QFile::exists(path));
    const QImage image(path); // format found from the data, as the program loads it
    QVERIFY2(!image.isNull(), qPrintable(path));
    QCOMPARE(image.size(), size);
}

void PictureCollectionTest::pictureHasItsFileFormat_data()
{
    collectionTable();
}

void PictureCollectionTest::pictureHasItsFileFormat()
{
    QFETCH(QString, path);
    QFETCH(int, encoding);
    QFETCH(QSize, size);

    const QByteArray bytes = readAll(path);
    if (Encoding(encoding) == Encoding::Bitmap) {
        verifyBitmap24Layout(bytes, size.width(), size.height());
        return;
    }

    const QList<PngChunk> chunks = pngChunks(bytes);
    QVERIFY2(!chunks.isEmpty(), "not a PNG file");
    QCOMPARE(chunks.first().type, QByteArray("IHDR"));
    const QByteArray header = chunks.first().data;
    QCOMPARE(header.size(), 13);
    QCOMPARE(int(qFromBigEndian<quint32>(header.constData())), size.width());
    QCOMPARE(int(qFromBigEndian<quint32>(header.constData() + 4)), size.height());
    QCOMPARE(int(quint8(header.at(8))), 8); // bits per sample
    const int colourType = quint8(header.at(9));

    bool transparencyBeforeData = false;
    for (const PngChunk &chunk : chunks) {
        if (chunk.type == "IDAT")
            break;
        if (chunk.type == "tRNS")
            transparencyBeforeData = true;
    }
    if (Encoding(encoding) == Encoding::PngRgba) {
        QCOMPARE(colourType, 6);
    } else {
        QCOMPARE(colourType, 3);
        QVERIFY2(transparencyBeforeData, "palette without transparency");
    }

    // Every picture of the collection lies on a transparent background.
    const QImage image = QImage::fromData(bytes);
    QVERIFY(image.hasAlphaChannel());
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(image.pixel(image.width() - 1, image.height() - 1)), 0);
}

void PictureCollectionTest::lampShowsItsColour_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("hue");      // -1: no colour
    QTest::addColumn<int>("minValue"); // HSV value at the middle of the lamp
    QTest::addColumn<int>("maxValue");

    QTest::newRow("grey") << Prefix + "LED_Grey.png" << -1 << 100 << 255;
    QTest::newRow("black") << Prefix + "LED_Black.png" << -1 << 0 << 90;
    QTest::newRow("green") << Prefix + "LED_Green.png" << 125 << 150 << 255;
    QTest::newRow("yellow") << Prefix + "LED_Yellow.png" << 52 << 150 << 255;
    QTest::newRow("red") << Prefix + "LED_Red.png" << 0 << 150 << 255;
    QTest::newRow("blue") << Prefix + "LED_Blue.png" << 218 << 150 << 255;
    QTest::newRow("orange") << Prefix + "LED_Orange.png" << 30 << 150 << 255;
    QTest::newRow("purple") << Prefix + "LED_Purple.png" << 280 << 150 << 255;
}

void PictureCollectionTest::lampShowsItsColour()
{
    QFETCH(QString, path);
    QFETCH(int, hue);
    QFETCH(int, minValue);
    QFETCH(int, maxValue);

    const QImage lamp(path);
    QVERIFY(!lamp.isNull());
    const QColor middle = lamp.pixelColor(lamp.width() / 2, lamp.height() / 2);
    QCOMPARE(middle.alpha(), 255);
    QVERIFY2(middle.value() >= minValue && middle.value() <= maxValue,
             qPrintable(QStringLiteral("value %1").arg(middle.value())));
    if (hue < 0) {
        QVERIFY2(middle.hsvSaturation() < 40, qPrintable(QStringLiteral("saturation %1").arg(middle.hsvSaturation())));
    } else {
        const int distance = std::abs(middle.hsvHue() - hue);
        QVERIFY2(std::min(distance, 360 - distance) <= 15,
                 qPrintable(QStringLiteral("hue %1, expected about %2").arg(middle.hsvHue()).arg(hue)));
        QVERIFY2(middle.hsvSaturation() > 60, qPrintable(QStringLiteral("saturation %1").arg(middle.hsvSaturation())));
    }
}

void PictureCollectionTest::exampleEyeHeaderField_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("size");
    QTest::addColumn<quint32>("value");

    QTest::newRow("signature") << 0 << 2 << quint32('B' | ('M' << 8));
    QTest::newRow("file size") << 2 << 4 << 182934u;
    QTest::newRow("first reserved") << 6 << 2 << 0u;
    QTest::newRow("second reserved") << 8 << 2 << 0u;
    QTest::newRow("offset of the pixel data") << 10 << 4 << 54u;
    QTest::newRow("header size") << 14 << 4 << 40u;
    QTest::newRow("width") << 18 << 4 << 239u;
    QTest::newRow("height, bottom row first") << 22 << 4 << 254u;
    QTest::newRow("planes") << 26 << 2 << 1u;
    QTest::newRow("bits per pixel") << 28 << 2 << 24u;
    QTest::newRow("compression") << 30 << 4 << 0u;
    QTest::newRow("image size") << 34 << 4 << 0u;
    QTest::newRow("horizontal pixels per metre") << 38 << 4 << 3780u;
    QTest::newRow("vertical pixels per metre") << 42 << 4 << 3780u;
    QTest::newRow("colours used") << 46 << 4 << 0u;
    QTest::newRow("important colours") << 50 << 4 << 0u;
}

void PictureCollectionTest::exampleEyeHeaderField()
{
    QFETCH(int, offset);
    QFETCH(int, size);
    QFETCH(quint32, value);

    const QByteArray bytes = readAll(Prefix + "rotated blankcapture.bmp");
    QVERIFY(bytes.size() >= 54);
    QCOMPARE(bitmapField(bytes, offset, size), value);
}

void PictureCollectionTest::exampleEyeIsTheWholeUncompressedBitmap()
{
    // Whatever rcc stored, the bytes read are those of the file.
    const QByteArray bytes = readAll(Prefix + "rotated blankcapture.bmp");
    QCOMPARE(bytes.size(), 182934);
    QCOMPARE(bytes, readAll(QStringLiteral(ZENTAVAL_RESOURCES_DIR "/rotated blankcapture.bmp")));
    verifyBitmap24Layout(bytes, 239, 254);
}

void PictureCollectionTest::templateBesideTheProgramsHasTheCaptureFormat()
{
    // The program reads the template by this name from its working directory.
    const QByteArray bytes = readAll(QStringLiteral("blankcapture.bmp"));
    QCOMPARE(bytes.size(), 182650);
    verifyBitmap24Layout(bytes, 254, 239);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(QImage::fromData(bytes).size(), QSize(254, 239));
}

void PictureCollectionTest::templateIsTheExampleEyeTurnedBack()
{
    const QImage shown = upright(readAll(QStringLiteral("blankcapture.bmp")));
    const QImage example = QImage(Prefix + "rotated blankcapture.bmp").convertToFormat(QImage::Format_RGB32);
    QVERIFY(!example.isNull());
    QCOMPARE(shown, example);
}

void PictureCollectionTest::artworkProgramReproducesTheCommittedFiles()
{
    QTemporaryDir output;
    QVERIFY(output.isValid());

    QProcess artwork;
    artwork.start(QStringLiteral(ZENTAVAL_ARTWORK_PROGRAM), {output.path()});
    QVERIFY2(artwork.waitForFinished(100000), "zentaval-artwork did not finish");
    QVERIFY2(artwork.exitStatus() == QProcess::NormalExit && artwork.exitCode() == 0,
             artwork.readAllStandardError().constData());

    QStringList written = QDir(output.path()).entryList(QDir::Files);
    written.sort();
    QCOMPARE(written, fileNames(true));

    for (const QString &name : written) {
        const QByteArray drawn = readAll(output.filePath(name));
        const QByteArray committed = readAll(QStringLiteral(ZENTAVAL_RESOURCES_DIR "/") + name);
        QVERIFY2(!committed.isEmpty(), qPrintable(name + " is missing from resources/"));
        QVERIFY2(drawn == committed, qPrintable(name + " differs from the committed file"));
    }
}

QTEST_MAIN(PictureCollectionTest)
#include "tst_picturecollection.moc"
