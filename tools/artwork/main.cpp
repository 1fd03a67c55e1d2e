// zentaval-artwork FOLDER
//
// Draws the picture collection and the capture template into FOLDER. The
// output depends only on this program and the font file, so that running it
// again reproduces the committed files byte for byte.

#include "drawings.h"
#include "eyepicture.h"
#include "pngencoder.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QRawFont>

#include <cstdio>
#include <functional>

namespace {

// The example eye of the collection and of the template.
constexpr quint32 ExampleEyeSeed = 731942;

struct Picture
{
    const char *fileName;
    std::function<QByteArray()> draw;
};

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "zentaval-artwork: cannot write %s: %s\n", qPrintable(path),
                     qPrintable(file.errorString()));
        return false;
    }
    return true;
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
        return [colour, lit] { return PngEncoder::rgba(Drawings::lamp(QSize(300, 300), colour, lit)); };
    };

    const QImage exampleEye = EyePicture::renderEye(
        QSize(EyePicture::DisplayWidth, EyePicture::DisplayHeight), ExampleEyeSeed);

    const Picture pictures[] = {
        {"Eye-gr.png", [] { return PngEncoder::rgba(Drawings::eyeIcon(QSize(525, 524))); }},
        {"Logo.png", [&font] { return PngEncoder::rgba(Drawings::logo(QSize(566, 254), font)); }},
        {"HelpIcon.png", [&font] { return PngEncoder::palette(Drawings::helpIcon(QSize(527, 550), font)); }},
        {"Arrow.png", [] { return PngEncoder::rgba(Drawings::arrowIcon(QSize(527, 527))); }},
        {"LED_Grey.png", lamp(QColor(150, 152, 158), false)},
        {"LED_Green.png", lamp(QColor(40, 205, 60), true)},
        {"LED_Yellow.png", lamp(QColor(245, 210, 30), true)},
        {"rotated blankcapture.bmp", [&exampleEye] { return EyePicture::bmp24(exampleEye); }},
        {"lgplv3-147x51.png", [&font] { return PngEncoder::rgba(Drawings::licenceBadge(QSize(147, 51), font)); }},
        {"LED_Red.png", lamp(QColor(225, 35, 35), true)},
        {"LED_Blue.png", lamp(QColor(40, 110, 235), true)},
        {"LED_Orange.png", lamp(QColor(250, 140, 20), true)},
        {"LED_Purple.png", lamp(QColor(150, 60, 200), true)},
        {"LED_Black.png", lamp(QColor(38, 38, 42), false)},
        {"Eye-wt.png", [] { return PngEncoder::palette(Drawings::eyePattern(QSize(509, 297))); }},
        {"LambdaIcon.png", [&font] { return PngEncoder::palette(Drawings::lambdaIcon(QSize(527, 538), font)); }},
        {"Q-White.png", [&font] { return PngEncoder::rgba(Drawings::initial(QSize(527, 527), font)); }},
        // The capture template, read by the program from its working directory:
        // the same eye in the instrument's capture format.
        {"blankcapture.bmp", [] { return EyePicture::captureBitmap(ExampleEyeSeed); }},
    };

    const QDir target(folder);
    for (const Picture &picture : pictures) {
        if (!writeFile(target.filePath(QString::fromLatin1(picture.fileName)), picture.draw()))
            return 1;
    }
    return 0;
}
