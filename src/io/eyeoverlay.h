#pragma once

#include "rules/eyemask.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QRectF>
#include <QSize>
#include <QString>

#include <optional>

class QPainter;

// What is drawn over an eye picture, in one place for the window's EyePlot,
// zentaval-cli's annotated pictures and the remote-control server's: the
// reference's opening outline, the mask placed on the eye (outlined, lightly
// filled), the hit pixels in red, the crossings and levels found as short
// ticks at the picture's edges, and one line in the top left corner. Each
// layer is drawn from geometry the rules worked out; nothing here decides.
namespace EyeOverlay {

struct Layers
{
    // The reference opening's boundary pixels (EyeComparison::openingBoundary);
    // empty: no outline.
    QList<QPoint> referenceOutline;
    // The picture judged by the mask in use; none: no mask layers.
    std::optional<EyeMask::Result> mask;
    // The mask file's own hit-rate condition, shown as not applied; empty
    // when the file has none.
    QString maskHitRate;
    // The outline and the hits as one picture-sized layer (pixelLayer()),
    // for a painter that keeps it between repaints; made at each paint when
    // null.
    QImage pixels;
};

// The reference outline and the hits, opaque over transparent pixels, at
// the picture's size; null when there are neither.
QImage pixelLayer(QSize pictureSize, const Layers &layers);

// The layers of a picture judged by `mask` (with its file's hit rate).
Layers maskLayers(const EyeMask::Result &result, const EyeMask::Mask &mask);

// The line in the top left corner: the mask's summary ("SFF-8431 host: PASS,
// 0 hits, margin 23 %"), then "(file's hit rate 1e-12 not applied)" when the
// file has one; empty without a mask.
QString cornerLine(const Layers &layers);

// The colours, none of them a colour of an eye picture (dark blue through
// green and red to white): the reference outline, the mask's outline (its
// fill is the same, light), the hits, the ticks.
inline const QColor OutlineColour {255, 40, 255};
inline const QColor MaskColour {0, 230, 255};
constexpr int MaskFillAlpha = 80;
inline const QColor HitColour {255, 0, 0};
inline const QColor TickColour {255, 255, 255};

// Draws the layers over a picture of pictureSize pixels shown in `target`
// (each picture pixel a target.width() / pictureSize.width() wide block).
// The corner line is drawn only in a QGuiApplication (on the offscreen
// platform without a display): text needs its fonts.
void paint(QPainter &painter, const QRectF &target, QSize pictureSize, const Layers &layers);

// Annotated pictures are shown as the window shows the eye: at twice their
// size, so that the corner line is legible.
constexpr int AnnotatedScale = 2;

// The picture as shown (239 x 254) at AnnotatedScale, scaled smoothly, with
// the layers over it: EyePlot's picture, pixel for pixel.
QImage annotated(const QImage &shown, const Layers &layers);

} // namespace EyeOverlay
