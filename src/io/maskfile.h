#pragma once

#include "rules/eyemask.h"
#include "rules/measurementrow.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

#include <optional>

// Mask files: YAML as scope users share their masks (protocol, units, mask
// polygons, optional conditions), read with yaml-cpp; the masks shipped with
// the program, found by name; and a shown eye picture judged by a mask.
namespace MaskFile {

// A mask read, or why the text is no mask ("line 7: ...").
struct Loaded
{
    std::optional<EyeMask::Mask> mask;
    QString error;
};
Loaded parse(const QByteArray &yaml);
Loaded read(const QString &fileName);

// The folder of the shipped masks: share/zentaval/masks beside the
// program's bin folder (installed, or in the build tree).
QString shippedFolder();
// The shipped masks by name (the file name without ".yaml"), sorted.
QStringList shippedNames();
// A shipped mask's name, or a file: read.
Loaded load(const QString &nameOrFile);

// The scale a reading gives a mask in picoseconds or volts.
EyeMask::Scale scaleOf(const std::optional<MeasurementRow> &reading);

// A picture as the window shows it (239 x 254) judged by the mask.
EyeMask::Result judgePicture(const QImage &shownPicture, const EyeMask::Mask &mask, const EyeMask::Scale &scale,
                             qsizetype maxHits = 0);

} // namespace MaskFile
