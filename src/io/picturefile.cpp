#include "io/picturefile.h"

#include "io/capturefile.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>

#include <cstring>

namespace PictureFile {

namespace {

// The width and height of the instrument's bitmap; shown turned.
constexpr int CaptureWidth = 254;
constexpr int CaptureHeight = 239;

const QStringList ReadingColumns {
    QStringLiteral("time"),         QStringLiteral("elapsed_s"),    QStringLiteral("lamp"),
    QStringLiteral("quality_pct"),  QStringLiteral("amplitude_mv"), QStringLiteral("eye_height_ui"),
    QStringLiteral("eye_width_ui"), QStringLiteral("rate_mbps"),
};

QStringList knownKeys()
{
    return QStringList {QStringLiteral("Software"), QStringLiteral("Instrument"), QStringLiteral("Device"),
                        QStringLiteral("Time")}
    + ReadingColumns + QStringList {QStringLiteral("limits"), QStringLiteral("pass")};
}

} // namespace

QString describeLimits(const MeasurementLimits &limits)
{
    QStringList parts;
    const auto atLeast = [&parts](const char *column, const std::optional<double> &limit) {
        if (limit)
            parts << QStringLiteral("%1>=%2").arg(QLatin1String(column)).arg(*limit);
    };
    atLeast("eye_height_ui", limits.minHeight);
    atLeast("eye_width_ui", limits.minWidth);
    atLeast("amplitude_mv", limits.minAmplitude);
    if (limits.requireLock)
        parts << QStringLiteral("lamp=green");
    return parts.join(QLatin1Char(' '));
}

TextEntries contextEntries(const PictureContext &context)
{
    TextEntries entries;
    const auto add = [&entries](const QString &key, const QString &value) {
        if (!value.isEmpty())
            entries.append({key, value});
    };
    add(QStringLiteral("Software"), context.software);
    add(QStringLiteral("Instrument"), context.identification);
    add(QStringLiteral("Device"), context.device);
    if (context.time.isValid())
        add(QStringLiteral("Time"), logTime(context.time));
    if (context.reading) {
        // The very cells the log writes for this reading.
        const QStringList cells
            = QString::fromLatin1(csvLine(*context.reading)).trimmed().split(QLatin1Char(','));
        for (qsizetype column = 0; column < ReadingColumns.size() && column < cells.size(); ++column)
            add(ReadingColumns.at(column), cells.at(column));
    }
    if (context.limits.any()) {
        add(QStringLiteral("limits"), describeLimits(context.limits));
        if (context.reading)
            add(QStringLiteral("pass"),
                missedLimits(*context.reading, context.limits).isEmpty() ? QStringLiteral("1") : QStringLiteral("0"));
    }
    if (context.mask) {
        add(QStringLiteral("mask"), context.mask->maskName);
        if (context.mask->judged()) {
            add(QStringLiteral("mask_hits"), QString::number(context.mask->hits.total));
            add(QStringLiteral("mask_margin_pct"), QString::number(context.mask->marginPercent));
        }
        add(QStringLiteral("mask_pass"), context.mask->pass ? QStringLiteral("1") : QStringLiteral("0"));
    }
    return entries;
}

bool savePng(const QImage &picture, const QString &fileName, const PictureContext &context, QString *error)
{
    QImage withText = picture;
    for (const auto &[key, value] : contextEntries(context))
        withText.setText(key, value);
    QSaveFile file(fileName);
    file.setDirectWriteFallback(true);
    const auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    QImageWriter writer(&file, "PNG");
    if (!writer.write(withText))
        return fail(writer.errorString());
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

LoadedPicture loadCapturePicture(const QString &fileName)
{
    LoadedPicture loaded;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        loaded.error = QStringLiteral("%1 cannot be read: %2").arg(fileName, file.errorString());
        return loaded;
    }
    // Told apart by their content, not their names.
    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    const QByteArray format = reader.format();
    if (format.isEmpty()) {
        loaded.error = QStringLiteral("%1 is no picture: %2").arg(fileName, reader.errorString());
        return loaded;
    }
    // The size is known from the header: a picture of another size is not
    // decoded at all, however large it claims to be.
    const QSize size = reader.size();
    const bool capture = (format == "bmp" && size == QSize(CaptureWidth, CaptureHeight))
        || (format == "png" && size == QSize(CaptureHeight, CaptureWidth));
    const QImage read = capture ? reader.read() : QImage();
    if (capture && read.isNull()) {
        loaded.error = QStringLiteral("%1 is no picture: %2").arg(fileName, reader.errorString());
        return loaded;
    }
    if (capture && format == "bmp") {
        loaded.picture = Capture::shownPicture(read);
    } else if (capture) {
        loaded.picture = read;
    } else {
        loaded.error
            = QStringLiteral("%1 is no capture picture: a %2 of %3 x %4 pixels, where a capture is a "
                             "BMP of %5 x %6 or a PNG of %6 x %5")
                  .arg(fileName, QString::fromLatin1(format).toUpper())
                  .arg(size.width())
                  .arg(size.height())
                  .arg(CaptureWidth)
                  .arg(CaptureHeight);
        return loaded;
    }
    QStringList keys = read.textKeys();
    for (const QString &key : knownKeys()) {
        if (keys.removeAll(key) > 0)
            loaded.entries.append({key, read.text(key)});
    }
    for (const QString &key : std::as_const(keys))
        loaded.entries.append({key, read.text(key)});
    return loaded;
}

EyeComparison::RgbPixels rgbPixels(const QImage &picture)
{
    EyeComparison::RgbPixels pixels;
    if (picture.isNull())
        return pixels;
    // Pictures shown and decoded are 32 bits a pixel: read as they are, not
    // converted first.
    const QImage rgb = picture.format() == QImage::Format_ARGB32 || picture.format() == QImage::Format_RGB32
        ? picture
        : picture.convertToFormat(QImage::Format_RGB32);
    pixels.width = rgb.width();
    pixels.height = rgb.height();
    pixels.rgb.resize(qsizetype(rgb.width()) * rgb.height() * 3);
    auto *bytes = reinterpret_cast<uchar *>(pixels.rgb.data());
    for (int y = 0; y < rgb.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x, bytes += 3) {
            bytes[0] = uchar(qRed(line[x]));
            bytes[1] = uchar(qGreen(line[x]));
            bytes[2] = uchar(qBlue(line[x]));
        }
    }
    return pixels;
}

QImage image(const EyeComparison::RgbPixels &pixels)
{
    if (!pixels.isValid())
        return QImage();
    QImage result(pixels.width, pixels.height, QImage::Format_RGB888);
    const qsizetype rowBytes = qsizetype(pixels.width) * 3;
    for (int y = 0; y < pixels.height; ++y)
        std::memcpy(result.scanLine(y), pixels.rgb.constData() + y * rowBytes, size_t(rowBytes));
    return result;
}

} // namespace PictureFile
