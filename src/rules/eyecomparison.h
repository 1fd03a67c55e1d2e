#pragma once

#include <QByteArray>
#include <QList>
#include <QPoint>

#include <optional>

// Two eye pictures compared pixel for pixel: which pixels a trace reached,
// the eye's opening, and how much the current picture differs from a
// reference. Every capture has the same size on the same axes, so the
// figures of two captures are comparable.
namespace EyeComparison {

// A channel above this (of 255) makes a pixel occupied; the template and a
// picture's background are black.
constexpr int OccupiedAbove = 40;

// A picture as red, green and blue bytes, three a pixel, rows top first,
// without padding.
struct RgbPixels
{
    int width = 0;
    int height = 0;
    QByteArray rgb;

    bool isValid() const { return width > 0 && height > 0 && rgb.size() == qsizetype(width) * height * 3; }
};

// Which pixels a trace reached, row by row.
struct Occupancy
{
    int width = 0;
    int height = 0;
    QList<bool> occupied;

    bool at(int x, int y) const { return occupied.at(qsizetype(y) * width + x); }
};

bool isOccupied(uchar red, uchar green, uchar blue);
Occupancy occupancy(const RgbPixels &picture);

// The eye's opening: the largest 4-connected region of unoccupied pixels
// that touches no edge of the picture. A region that reaches an edge is the
// space around the traces, not an eye.
struct Opening
{
    qsizetype area = 0; // its pixel count; 0 when there is none
    QList<bool> inside; // per pixel, row by row; all false when there is none
};
Opening eyeOpening(const Occupancy &picture);

// The opening's pixels that have a 4-neighbour outside it, row by row: where
// the opening ends, for drawing its outline.
QList<QPoint> openingBoundary(const Opening &opening, int width, int height);

struct Figures
{
    qsizetype referenceOpenArea = 0;
    qsizetype currentOpenArea = 0;
    // current / reference - 1, in %; none when the reference has no opening.
    std::optional<double> openChangePercent;
    // The share of pixels whose occupancy differs, in %.
    double changedPercent = 0;
};

// None when the two pictures are not of one size.
std::optional<Figures> compare(const Occupancy &reference, const Occupancy &current);

// Whether the current opening is at least `percent` % of the reference's.
bool openAreaMeets(const Figures &figures, double percent);

// The difference of two pictures of one size: red where only the current is
// occupied, blue where only the reference is, grey where both are, black
// where neither is. An invalid picture when the sizes differ.
RgbPixels differencePicture(const Occupancy &reference, const Occupancy &current);

} // namespace EyeComparison
