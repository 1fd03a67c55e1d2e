// zentaval-artwork FOLDER
//
// Draws the picture collection and the capture template into FOLDER. The
// output depends only on this program, the font file and the libraries it
// draws and compresses with (Qt, FreeType, libpng and zlib of Debian 12), not
// on the processor or the screen, so that running it again reproduces the
// committed files byte for byte.

#include "drawings.h"
#include "eyepicture.h"
#include "pictureformat.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QRawFont>

#include <cstdio>
#include <functional>

namespace {

// The example eye of the collection, the one shown at start.
constexpr quint32 ExampleEyeSeed = 731942;

enum class Encoding { PngRgba, PngPalette, Bitmap };

struct Picture
{
    const char *fileName;
    Encoding encoding;
    std::function<QImage()> draw;
};

bool writeFile(const QString &path, const QByteArray &bytes, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

bool write(const Picture &picture, const QString &path, QString *error)
{
    const QImage image = picture.draw();
    switch (picture.encoding) {
    case Encoding::PngRgba:
        return PictureFormat::savePng(PictureFormat::straightAlpha(image), path, error);
    case Encoding::PngPalette:
        return PictureFormat::savePng(PictureFormat::paletted(image), path, error);
    case Encoding::Bitmap:
        return writeFile(path, EyePicture::bmp24(image), error);
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    // Drawing needs no display; the offscreen platform keeps the output the
    // same whether or not one is there.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);

    const QStringList arguments = QGuiApplication::arguments();
    if (arguments.size() != 2) {
        std::fprintf(stderr, "usage: zentaval-artwork FOLDER\n");
        return 2;
    }
    const QString folder = arguments.at(1);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "zentaval-artwork: cannot create %s\n", qPrintable(folder));
        return 1;
    }

    const QRawFont font(QStringLiteral(ZENTAVAL_ARTWORK_FONT), 1000, QFont::PreferNoHinting);
    if (!font.isValid()) {
        std::fprintf(stderr, "zentaval-artwork: cannot load the font %s (Debian package fonts-liberation2)\n",
                     ZENTAVAL_ARTWORK_FONT);
        return 1;
    }

    auto lamp = [](QColor colour, bool lit) {
        return [colour, lit] { return Drawings::lamp(QSize(300, 300), colour, lit); };
    };

    const QImage exampleEye
        = EyePicture::renderEye(QSize(EyePicture::DisplayWidth, EyePicture::DisplayHeight), ExampleEyeSeed);

    using E = Encoding;
    const Picture pictures[] = {
        {"Eye-gr.png", E::PngRgba, [] { return Drawings::eyeIcon(QSize(525, 524)); }},
        {"Logo.png", E::PngRgba, [&font] { return Drawings::logo(QSize(566, 254), font); }},
        {"HelpIcon.png", E::PngPalette, [&font] { return Drawings::helpIcon(QSize(527, 550), font); }},
        {"Arrow.png", E::PngRgba, [] { return Drawings::arrowIcon(QSize(527, 527)); }},
        {"LED_Grey.png", E::PngRgba, lamp(QColor(150, 152, 158), false)},
        {"LED_Green.png", E::PngRgba, lamp(QColor(40, 205, 60), true)},
        {"LED_Yellow.png", E::PngRgba, lamp(QColor(245, 210, 30), true)},
        {"rotated blankcapture.bmp", E::Bitmap, [&exampleEye] { return exampleEye; }},
        {"lgplv3-147x51.png", E::PngRgba, [&font] { return Drawings::licenceBadge(QSize(147, 51), font); }},
        {"LED_Red.png", E::PngRgba, lamp(QColor(225, 35, 35), true)},
        {"LED_Blue.png", E::PngRgba, lamp(QColor(40, 110, 235), true)},
        {"LED_Orange.png", E::PngRgba, lamp(QColor(250, 140, 20), true)},
        {"LED_Purple.png", E::PngRgba, lamp(QColor(150, 60, 200), true)},
        {"LED_Black.png", E::PngRgba, lamp(QColor(38, 38, 42), false)},
        {"Eye-wt.png", E::PngPalette, [] { return Drawings::eyePattern(QSize(509, 297)); }},
        {"LambdaIcon.png", E::PngPalette, [&font] { return Drawings::lambdaIcon(QSize(527, 538), font); }},
        {"Q-White.png", E::PngRgba, [&font] { return Drawings::initial(QSize(527, 527), font); }},
        // The capture template, read by the program from its working directory:
        // a capture in the instrument's format (the eye turned a quarter turn
        // counter-clockwise) with every pixel black. A capture starts as a
        // copy of it, so the bytes a scan has not delivered yet stay black.
        {"blankcapture.bmp", E::Bitmap,
         [] {
             QImage blank(EyePicture::DisplayHeight, EyePicture::DisplayWidth, QImage::Format_RGB32);
             blank.fill(Qt::black);
             return blank;
         }},
    };

    const QDir target(folder);
    for (const Picture &picture : pictures) {
        const QString path = target.filePath(QString::fromLatin1(picture.fileName));
        QString error;
        if (!write(picture, path, &error)) {
            std::fprintf(stderr, "zentaval-artwork: cannot write %s: %s\n", qPrintable(path),
                         qPrintable(error));
            return 1;
        }
    }
    return 0;
}
