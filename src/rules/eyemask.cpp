#include "rules/eyemask.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace EyeMask {

namespace {

using EyeComparison::Occupancy;

// A point this close to a polygon's edge (in pixels) lies on it: placed
// corners are computed, so an edge through pixel centres is only nearly so.
constexpr double OnEdge = 1e-7;

struct Crossing
{
    double x = 0;
    double row = 0;
};

// The crossing on one side of the opening: the opening narrows toward it to
// a tip (the rows where it reaches furthest that way), and through the tip
// the traces of both edges meet in one run of occupied pixels, whose middle
// is where they cross. `reach` holds per row the opening's outermost column
// on that side (-1 for a row without opening); `step` is -1 for the left,
// +1 for the right.
std::optional<Crossing> crossingBeside(const Occupancy &picture, const std::vector<int> &reach, int step)
{
    int tip = -1;
    int firstRow = -1;
    int lastRow = -1;
    for (int y = 0; y < picture.height; ++y) {
        if (reach[size_t(y)] < 0)
            continue;
        if (firstRow < 0)
            firstRow = y;
        lastRow = y;
        if (tip < 0 || (step < 0 ? reach[size_t(y)] < tip : reach[size_t(y)] > tip))
            tip = reach[size_t(y)];
    }
    if (tip < 0)
        return std::nullopt;

    double columns = 0;
    double rows = 0;
    int tipRows = 0;
    int firstTipRow = -1;
    int lastTipRow = -1;
    for (int y = firstRow; y <= lastRow; ++y) {
        if (reach[size_t(y)] != tip)
            continue;
        int end = tip + step;
        while (end >= 0 && end < picture.width && picture.at(end, y))
            end += step;
        // The run reaches the picture's edge: the crossing is cut off.
        if (end < 0 || end >= picture.width)
            return std::nullopt;
        columns += (tip + end) / 2.0; // the run is tip + step ... end - step
        rows += y;
        ++tipRows;
        if (firstTipRow < 0)
            firstTipRow = y;
        lastTipRow = y;
    }
    // A tip: the opening draws back from it both above and below, and it is
    // not a straight side (a box has no crossing).
    const int openingRows = lastRow - firstRow + 1;
    if (firstTipRow == firstRow || lastTipRow == lastRow || 2 * tipRows > openingRows)
        return std::nullopt;
    return Crossing {columns / tipRows, rows / tipRows};
}

// The occupied pixels of each row, their columns in order: the hit search
// looks only at the occupied pixels inside a polygon's bounding box.
struct OccupiedRows
{
    explicit OccupiedRows(const Occupancy &picture)
        : width(picture.width)
        , height(picture.height)
        , rowStart(size_t(std::max(0, picture.height)) + 1, 0)
    {
        const bool *occupied = picture.occupied.constData();
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                if (occupied[qsizetype(y) * width + x])
                    columns.push_back(x);
            }
            rowStart[size_t(y) + 1] = int(columns.size());
        }
    }

    int width;
    int height;
    std::vector<int> rowStart;
    std::vector<int> columns;
};

// The pixels whose centres the polygon's bounding box holds, within the
// picture; empty (left > right or top > bottom) when none.
struct PixelBox
{
    int left, top, right, bottom;
};

PixelBox pixelBox(const PixelPolygon &polygon, int width, int height)
{
    if (polygon.isEmpty())
        return {0, 0, -1, -1};
    double minX = polygon.first().x(), maxX = minX, minY = polygon.first().y(), maxY = minY;
    for (const QPointF &corner : polygon) {
        minX = std::min(minX, corner.x());
        maxX = std::max(maxX, corner.x());
        minY = std::min(minY, corner.y());
        maxY = std::max(maxY, corner.y());
    }
    // Slightly wider than the polygon, so that a centre on its edge is not
    // left out; contains() decides.
    const auto low = [](double value, int limit) {
        return int(std::max(0.0, std::min(double(limit), std::ceil(value - 1e-6))));
    };
    const auto high = [](double value, int limit) {
        return int(std::max(-1.0, std::min(double(limit), std::floor(value + 1e-6))));
    };
    return {low(minX, width), low(minY, height), high(maxX, width - 1), high(maxY, height - 1)};
}

bool anyHit(const OccupiedRows &rows, const QList<PixelPolygon> &polygons)
{
    for (const PixelPolygon &polygon : polygons) {
        const PixelBox box = pixelBox(polygon, rows.width, rows.height);
        for (int y = box.top; y <= box.bottom; ++y) {
            const auto first = rows.columns.begin() + rows.rowStart[size_t(y)];
            const auto last = rows.columns.begin() + rows.rowStart[size_t(y) + 1];
            for (auto x = std::lower_bound(first, last, box.left); x != last && *x <= box.right; ++x) {
                if (contains(polygon, QPointF(*x, y)))
                    return true;
            }
        }
    }
    return false;
}

} // namespace

EyeSearch findEye(const Occupancy &picture)
{
    EyeSearch search;
    const EyeComparison::Opening opening = EyeComparison::eyeOpening(picture);
    if (opening.area == 0) {
        search.noEyeReason = QStringLiteral("no opening");
        return search;
    }
    const int width = picture.width;
    const int height = picture.height;
    std::vector<int> leftmost(size_t(height), -1), rightmost(size_t(height), -1);
    std::vector<int> topmost(size_t(width), -1), bottommost(size_t(width), -1);
    for (int y = 0; y < height; ++y) {
        const bool *inside = opening.inside.constData() + qsizetype(y) * width;
        for (int x = 0; x < width; ++x) {
            if (!inside[x])
                continue;
            if (leftmost[size_t(y)] < 0)
                leftmost[size_t(y)] = x;
            rightmost[size_t(y)] = x;
            if (topmost[size_t(x)] < 0)
                topmost[size_t(x)] = y;
            bottommost[size_t(x)] = y;
        }
    }

    const std::optional<Crossing> left = crossingBeside(picture, leftmost, -1);
    if (!left) {
        search.noEyeReason = QStringLiteral("no crossing on the left");
        return search;
    }
    const std::optional<Crossing> right = crossingBeside(picture, rightmost, +1);
    if (!right) {
        search.noEyeReason = QStringLiteral("no crossing on the right");
        return search;
    }

    // The levels: the traces above and below the opening, 0.4 to 0.6 UI
    // after the left crossing.
    const double unitInterval = right->x - left->x;
    const int firstColumn = std::max(0, int(std::ceil(left->x + 0.4 * unitInterval)));
    const int lastColumn = std::min(width - 1, int(std::floor(left->x + 0.6 * unitInterval)));
    double aboveRows = 0, belowRows = 0;
    qsizetype above = 0, below = 0;
    for (int x = firstColumn; x <= lastColumn; ++x) {
        if (topmost[size_t(x)] < 0)
            continue;
        const auto level = [&](int from, int step, double &rows, qsizetype &count) {
            // The thickest run of traces that way (the nearest of equals): a
            // stray trace across the opening is thinner than the level's.
            int bestStart = from, bestLength = 0;
            for (int y = from; y >= 0 && y < height;) {
                int end = y;
                while (end >= 0 && end < height && picture.at(x, end))
                    end += step;
                const int length = std::abs(end - y);
                if (length > bestLength) {
                    bestStart = y;
                    bestLength = length;
                }
                y = end + (length == 0 ? step : 0);
            }
            for (int i = 0; i < bestLength; ++i)
                rows += bestStart + i * step;
            count += bestLength;
        };
        level(topmost[size_t(x)] - 1, -1, aboveRows, above);
        level(bottommost[size_t(x)] + 1, +1, belowRows, below);
    }
    if (above == 0 || below == 0) {
        search.noEyeReason = QStringLiteral("no level above and below the opening");
        return search;
    }

    EyeGeometry eye;
    eye.leftCrossing = left->x;
    eye.rightCrossing = right->x;
    eye.oneLevel = aboveRows / double(above);
    eye.zeroLevel = belowRows / double(below);
    eye.crossingRow = (left->row + right->row) / 2;
    if (!(eye.crossingRow > eye.oneLevel && eye.crossingRow < eye.zeroLevel)) {
        search.noEyeReason = QStringLiteral("the crossings lie outside the levels");
        return search;
    }
    // The edges of one eye cross at one level; a stray trace across the
    // opening meets an edge in a tip of its own, at another level.
    if (std::abs(left->row - right->row) > 0.2 * eye.amplitude()) {
        search.noEyeReason = QStringLiteral("the crossings lie at different levels");
        return search;
    }
    search.eye = eye;
    return search;
}

Placement place(const Mask &mask, const EyeGeometry &eye, const Scale &scale)
{
    Placement placement;
    const auto known
        = [](const std::optional<double> &value) { return value && std::isfinite(*value) && *value > 0; };
    double pixelsPerX = eye.unitInterval();
    if (mask.xScale == XScale::Picoseconds) {
        if (!known(scale.rateMbps)) {
            placement.error = QStringLiteral("the data rate is not known");
            return placement;
        }
        const double unitIntervalPs = 1e6 / *scale.rateMbps;
        pixelsPerX = eye.unitInterval() / unitIntervalPs;
    }
    double pixelsPerY = eye.amplitude();
    if (mask.yScale != YScale::Amplitudes) {
        if (!known(scale.amplitudeMv)) {
            placement.error = QStringLiteral("the amplitude is not known");
            return placement;
        }
        pixelsPerY = eye.amplitude() / *scale.amplitudeMv * (mask.yScale == YScale::Volts ? 1000.0 : 1.0);
    }
    const QPointF centre = eye.centre();
    for (const MaskPolygon &polygon : mask.polygons) {
        PixelPolygon placed;
        placed.reserve(polygon.size());
        for (const QPointF &corner : polygon)
            placed.append(
                QPointF(centre.x() + corner.x() * pixelsPerX, centre.y() - corner.y() * pixelsPerY));
        placement.polygons.append(placed);
    }
    return placement;
}

bool contains(const PixelPolygon &polygon, QPointF point)
{
    const qsizetype count = polygon.size();
    if (count == 0)
        return false;
    const double px = point.x();
    const double py = point.y();
    bool inside = false;
    for (qsizetype i = 0, j = count - 1; i < count; j = i++) {
        const double ax = polygon[j].x(), ay = polygon[j].y();
        const double bx = polygon[i].x(), by = polygon[i].y();
        const double dx = bx - ax, dy = by - ay;
        // On the edge: within its box, and no further than OnEdge from its line.
        if (px >= std::min(ax, bx) - OnEdge && px <= std::max(ax, bx) + OnEdge
            && py >= std::min(ay, by) - OnEdge && py <= std::max(ay, by) + OnEdge) {
            const double cross = dx * (py - ay) - dy * (px - ax);
            if (cross * cross <= OnEdge * OnEdge * std::max(dx * dx + dy * dy, 1.0))
                return true;
        }
        if ((ay > py) != (by > py) && px < ax + (py - ay) * dx / dy)
            inside = !inside;
    }
    return inside;
}

Hits countHits(const Occupancy &picture, const QList<PixelPolygon> &polygons)
{
    Hits hits;
    hits.perPolygon.fill(0, polygons.size());
    if (picture.occupied.size() != qsizetype(picture.width) * picture.height || polygons.isEmpty())
        return hits;
    std::vector<PixelBox> boxes;
    int top = picture.height, bottom = -1;
    for (const PixelPolygon &polygon : polygons) {
        boxes.push_back(pixelBox(polygon, picture.width, picture.height));
        top = std::min(top, boxes.back().top);
        bottom = std::max(bottom, boxes.back().bottom);
    }
    for (int y = top; y <= bottom; ++y) {
        // Only the columns of the boxes across this row.
        int left = picture.width, right = -1;
        for (const PixelBox &box : boxes) {
            if (y >= box.top && y <= box.bottom && box.left <= box.right) {
                left = std::min(left, box.left);
                right = std::max(right, box.right);
            }
        }
        for (int x = left; x <= right; ++x) {
            if (!picture.at(x, y))
                continue;
            bool hit = false;
            for (qsizetype i = 0; i < polygons.size(); ++i) {
                const PixelBox &box = boxes[size_t(i)];
                if (x >= box.left && x <= box.right && y >= box.top && y <= box.bottom
                    && contains(polygons[i], QPointF(x, y))) {
                    ++hits.perPolygon[i];
                    hit = true;
                }
            }
            if (hit) {
                ++hits.total;
                hits.pixels.append(QPoint(x, y));
            }
        }
    }
    return hits;
}

QList<PixelPolygon> grown(const QList<PixelPolygon> &polygons, QPointF centre, int percent)
{
    QList<PixelPolygon> result;
    result.reserve(polygons.size());
    for (const PixelPolygon &polygon : polygons) {
        const double factor = contains(polygon, centre) ? 1.0 + percent / 100.0 : 1.0 - percent / 100.0;
        PixelPolygon scaled;
        scaled.reserve(polygon.size());
        for (const QPointF &corner : polygon)
            scaled.append(centre + factor * (corner - centre));
        result.append(scaled);
    }
    return result;
}

int margin(const Occupancy &picture, const QList<PixelPolygon> &polygons, QPointF centre)
{
    if (picture.occupied.size() != qsizetype(picture.width) * picture.height)
        return 0;
    // Each step is searched whole: a polygon that moves toward the centre
    // may leave a trace behind as it enters another, so a step's hits say
    // nothing of the next step's, and the steps are taken in order.
    const OccupiedRows rows(picture);
    const auto hitAt = [&](int percent) { return anyHit(rows, grown(polygons, centre, percent)); };
    if (!hitAt(0)) {
        for (int percent = 1; percent <= 100; ++percent) {
            if (hitAt(percent))
                return percent - 1;
        }
        return 100;
    }
    for (int percent = -1; percent >= -100; --percent) {
        if (!hitAt(percent))
            return percent;
    }
    return -100;
}

Result judge(const Occupancy &picture, const Mask &mask, const Scale &scale, qsizetype maxHits)
{
    Result result;
    result.maskName = mask.name;
    result.search = findEye(picture);
    if (!result.hasEye())
        return result;
    result.placement = place(mask, *result.search.eye, scale);
    if (!result.placement.error.isEmpty())
        return result;
    result.hits = countHits(picture, result.placement.polygons);
    result.marginPercent = margin(picture, result.placement.polygons, result.search.eye->centre());
    result.pass = result.hits.total <= maxHits;
    return result;
}

QString summary(const Result &result)
{
    QString line = result.maskName + QStringLiteral(": ");
    if (!result.hasEye())
        return line + QStringLiteral("no eye (%1)").arg(result.search.noEyeReason);
    if (!result.placement.error.isEmpty())
        return line + result.placement.error;
    return line
        + QStringLiteral("%1, %2 %3, margin %4 %")
              .arg(result.pass ? QStringLiteral("PASS") : QStringLiteral("FAIL"))
              .arg(result.hits.total)
              .arg(result.hits.total == 1 ? QStringLiteral("hit") : QStringLiteral("hits"))
              .arg(result.marginPercent);
}

} // namespace EyeMask
