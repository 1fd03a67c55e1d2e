#pragma once

#include "rules/eyecomparison.h"

#include <QList>
#include <QPoint>
#include <QPointF>
#include <QString>

#include <optional>

// The eye mask test on an eye picture as it is shown (time to the right, y
// down): the eye found in the picture (its crossings, levels and centre), a
// mask of forbidden regions placed on it, the traces that enter the mask
// (hits) and how far the mask could grow before the first hit (the margin).
// Pixels are occupied as the comparison has them.
namespace EyeMask {

// The eye examined: the one around the picture's eye opening, in pixels of
// the picture (a pixel's centre is at its column and row index).
struct EyeGeometry
{
    double leftCrossing = 0;  // x where the edges that bound the opening on the left cross
    double rightCrossing = 0; // the same on the right
    double oneLevel = 0;      // mean row of the traces above the opening, 0.4 to 0.6 UI
    double zeroLevel = 0;     // the same below the opening
    double crossingRow = 0;   // y where the edges cross

    double unitInterval() const { return rightCrossing - leftCrossing; }
    double amplitude() const { return zeroLevel - oneLevel; }
    QPointF centre() const { return {(leftCrossing + rightCrossing) / 2, (oneLevel + zeroLevel) / 2}; }
    // 0 at the zero level, 100 at the one level.
    double crossingPercent() const { return 100 * (zeroLevel - crossingRow) / amplitude(); }
};

// The eye, or why the picture has none ("no opening", ...).
struct EyeSearch
{
    std::optional<EyeGeometry> eye;
    QString noEyeReason;
};
EyeSearch findEye(const EyeComparison::Occupancy &picture);

enum class XScale { UnitIntervals, Picoseconds };
enum class YScale { Amplitudes, Millivolts, Volts };

// A polygon's corners in the mask's units: x from the eye centre, y from the
// centre's level, positive up. Closed implicitly, filled.
using MaskPolygon = QList<QPointF>;

// A mask as its file gives it.
struct Mask
{
    QString name;      // the file's protocol name, shown ("SFF-8431 host")
    QString reference; // the file's source for it
    XScale xScale = XScale::UnitIntervals;
    YScale yScale = YScale::Amplitudes;
    QList<MaskPolygon> polygons;
    // The file's own condition (conditions: hitrate), as written; shown, not
    // applied: the picture holds no sample counts. Empty when none.
    QString hitRate;
};

// What a mask in picoseconds or volts needs to be placed: the data rate
// (Mb/s) and the amplitude (mV) of the reading the picture was taken with.
struct Scale
{
    std::optional<double> rateMbps;
    std::optional<double> amplitudeMv;
};

// Corners in picture pixels.
using PixelPolygon = QList<QPointF>;

// The mask placed on an eye, or why it cannot be (the value it needs that is
// not known: "the data rate is not known").
struct Placement
{
    QList<PixelPolygon> polygons;
    QString error;
};
Placement place(const Mask &mask, const EyeGeometry &eye, const Scale &scale);

// Whether a point lies inside the polygon or on its edge.
bool contains(const PixelPolygon &polygon, QPointF point);

// Occupied pixels whose centre lies inside a polygon (its edge counts).
struct Hits
{
    QList<qsizetype> perPolygon;
    qsizetype total = 0;     // pixels inside any polygon, each once
    QList<QPoint> pixels;    // those pixels, row by row
};
Hits countHits(const EyeComparison::Occupancy &picture, const QList<PixelPolygon> &polygons);

// The polygons at step `percent` of the margin search, scaled about the
// centre: those that contain it by (1 + percent/100), the others by
// (1 - percent/100), so that they move toward it.
QList<PixelPolygon> grown(const QList<PixelPolygon> &polygons, QPointF centre, int percent);

// How far the mask grows before its first hit, in %: with no hit as placed,
// the last step 1, 2, ... 100 before the first step with a hit (100 when
// none has one); with hits as placed, the first step -1, -2, ... -100 with
// none (-100 when every step has one).
int margin(const EyeComparison::Occupancy &picture, const QList<PixelPolygon> &polygons, QPointF centre);

// One picture judged by one mask.
struct Result
{
    QString maskName;
    EyeSearch search;
    Placement placement;   // empty when there is no eye
    Hits hits;
    int marginPercent = 0;
    bool pass = false;     // an eye, the mask placed, and at most maxHits hits

    bool hasEye() const { return search.eye.has_value(); }
    bool judged() const { return hasEye() && placement.error.isEmpty(); }
};
Result judge(const EyeComparison::Occupancy &picture, const Mask &mask, const Scale &scale,
             qsizetype maxHits = 0);

// The line shown over the eye: "SFF-8431 host: PASS, 0 hits, margin 23 %",
// "SFF-8431 host: FAIL, 12 hits, margin -4 %", "SFF-8431 host: no eye (no
// opening)", "SFF-8431 host: the data rate is not known".
QString summary(const Result &result);

} // namespace EyeMask
