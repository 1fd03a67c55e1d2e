#pragma once

#include "rules/eyecomparison.h"
#include "rules/eyemask.h"
#include "rules/measurementrow.h"

#include <QDateTime>
#include <QImage>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

// Eye pictures on disk: saved as PNG with what was known when they were
// taken, and read back as captures to compare.
namespace PictureFile {

// What is known of a picture when it is saved: the instrument, its device,
// the time, the reading shown at that moment and the limits it was judged
// by.
struct PictureContext
{
    QString software; // such as "zentaval 1.0"
    QString identification;
    QString device;
    QDateTime time;
    std::optional<MeasurementRow> reading;
    MeasurementLimits limits;
    // The picture judged by the mask in use; none without a mask.
    std::optional<EyeMask::Result> mask;
};

using TextEntries = QList<QPair<QString, QString>>;

// The PNG text entries of a context, in this order: "Software",
// "Instrument", "Device", "Time" (UTC, ISO 8601), the reading in the
// measurement log's columns ("time", "elapsed_s", "lamp", "quality_pct",
// "amplitude_mv", "eye_height_ui", "eye_width_ui", "rate_mbps"), then, when
// limits are set, "limits" and the reading's verdict "pass", then, with a
// mask, "mask" (its name), "mask_hits", "mask_margin_pct" (both only when
// the mask could be placed on an eye) and "mask_pass" (1 or 0). Unknown
// parts are left out.
TextEntries contextEntries(const PictureContext &context);

// The limits in the log's column names: "eye_height_ui>=0.4 lamp=green".
QString describeLimits(const MeasurementLimits &limits);

// Writes the picture as PNG with the context's text entries. A file of that
// name is replaced only once the picture is written whole. False, with the
// reason, when it cannot be written.
bool savePng(const QImage &picture, const QString &fileName, const PictureContext &context,
             QString *error = nullptr);

// A picture file read as a capture: the instrument's 254 x 239 bitmap, or
// the 239 x 254 picture the window and zentaval-cli save, as the window
// shows it (turned) with the text entries it carries, known ones first in
// contextEntries()'s order. `error` says why a file is no capture picture.
struct LoadedPicture
{
    QImage picture; // as shown, 239 x 254; null on error
    TextEntries entries;
    QString error;
};
LoadedPicture loadCapturePicture(const QString &fileName);

// Between QImage and the comparison's plain pixels.
EyeComparison::RgbPixels rgbPixels(const QImage &picture);
QImage image(const EyeComparison::RgbPixels &pixels);

} // namespace PictureFile
