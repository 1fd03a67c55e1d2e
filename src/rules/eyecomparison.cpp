#include "rules/eyecomparison.h"

#include <algorithm>
#include <vector>

namespace EyeComparison {

bool isOccupied(uchar red, uchar green, uchar blue)
{
    return red > OccupiedAbove || green > OccupiedAbove || blue > OccupiedAbove;
}

Occupancy occupancy(const RgbPixels &picture)
{
    Occupancy result;
    if (!picture.isValid())
        return result;
    result.width = picture.width;
    result.height = picture.height;
    const qsizetype count = qsizetype(picture.width) * picture.height;
    result.occupied.resize(count);
    const auto *bytes = reinterpret_cast<const uchar *>(picture.rgb.constData());
    bool *occupied = result.occupied.data();
    for (qsizetype pixel = 0; pixel < count; ++pixel, bytes += 3)
        occupied[pixel] = isOccupied(bytes[0], bytes[1], bytes[2]);
    return result;
}

Opening eyeOpening(const Occupancy &picture)
{
    const int width = picture.width;
    const int height = picture.height;
    const qsizetype count = qsizetype(width) * height;
    Opening opening;
    opening.inside.fill(false, count);
    if (count == 0 || picture.occupied.size() != count)
        return opening;

    // The picture inside a frame one cell wide: a region that reaches the
    // frame touches an edge, and no neighbour needs a bounds check.
    constexpr int Occupied = -1;
    constexpr int Frame = -2;
    const int framedWidth = width + 2;
    std::vector<int> region(size_t(framedWidth) * size_t(height + 2), Frame);
    for (int y = 0; y < height; ++y) {
        int *row = region.data() + size_t(y + 1) * size_t(framedWidth) + 1;
        const bool *occupied = picture.occupied.constData() + qsizetype(y) * width;
        for (int x = 0; x < width; ++x)
            row[x] = occupied[x] ? Occupied : 0;
    }

    // Each unoccupied region is filled from its first cell and numbered, so
    // that the largest is picked out afterwards.
    std::vector<int> stack;
    stack.reserve(size_t(count));
    int regions = 0;
    int largest = 0;
    int *cells = region.data();
    for (size_t start = 0; start < region.size(); ++start) {
        if (cells[start] != 0)
            continue;
        const int number = ++regions;
        qsizetype area = 0;
        bool touchesEdge = false;
        cells[start] = number;
        stack.push_back(int(start));
        while (!stack.empty()) {
            const int cell = stack.back();
            stack.pop_back();
            ++area;
            for (const int neighbour : {cell - 1, cell + 1, cell - framedWidth, cell + framedWidth}) {
                const int value = cells[neighbour];
                if (value == 0) {
                    cells[neighbour] = number;
                    stack.push_back(neighbour);
                } else if (value == Frame) {
                    touchesEdge = true;
                }
            }
        }
        if (!touchesEdge && area > opening.area) {
            opening.area = area;
            largest = number;
        }
    }
    if (largest != 0) {
        bool *inside = opening.inside.data();
        for (int y = 0; y < height; ++y) {
            const int *row = cells + size_t(y + 1) * size_t(framedWidth) + 1;
            for (int x = 0; x < width; ++x)
                inside[qsizetype(y) * width + x] = row[x] == largest;
        }
    }
    return opening;
}

QList<QPoint> openingBoundary(const Opening &opening, int width, int height)
{
    QList<QPoint> boundary;
    if (opening.area == 0 || opening.inside.size() != qsizetype(width) * height)
        return boundary;
    const auto inside = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < width && y < height && opening.inside.at(qsizetype(y) * width + x);
    };
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (inside(x, y)
                && (!inside(x - 1, y) || !inside(x + 1, y) || !inside(x, y - 1) || !inside(x, y + 1)))
                boundary.append(QPoint(x, y));
        }
    }
    return boundary;
}

std::optional<Figures> compare(const Occupancy &reference, const Occupancy &current)
{
    if (reference.width != current.width || reference.height != current.height
        || reference.occupied.size() != current.occupied.size() || reference.occupied.isEmpty())
        return std::nullopt;
    Figures figures;
    figures.referenceOpenArea = eyeOpening(reference).area;
    figures.currentOpenArea = eyeOpening(current).area;
    if (figures.referenceOpenArea > 0)
        figures.openChangePercent
            = (double(figures.currentOpenArea) / double(figures.referenceOpenArea) - 1.0) * 100.0;
    qsizetype changed = 0;
    const bool *before = reference.occupied.constData();
    const bool *now = current.occupied.constData();
    for (qsizetype pixel = 0; pixel < reference.occupied.size(); ++pixel)
        changed += before[pixel] != now[pixel];
    figures.changedPercent = 100.0 * double(changed) / double(reference.occupied.size());
    return figures;
}

bool openAreaMeets(const Figures &figures, double percent)
{
    return double(figures.currentOpenArea) * 100.0 >= percent * double(figures.referenceOpenArea);
}

RgbPixels differencePicture(const Occupancy &reference, const Occupancy &current)
{
    RgbPixels difference;
    if (reference.width != current.width || reference.height != current.height
        || reference.occupied.size() != current.occupied.size())
        return difference;
    difference.width = reference.width;
    difference.height = reference.height;
    difference.rgb.resize(reference.occupied.size() * 3);
    char *bytes = difference.rgb.data();
    for (qsizetype pixel = 0; pixel < reference.occupied.size(); ++pixel, bytes += 3) {
        const bool before = reference.occupied.at(pixel);
        const bool now = current.occupied.at(pixel);
        const uchar red = before && now ? 128 : now ? 230 : 0;
        const uchar green = before && now ? 128 : 0;
        const uchar blue = before && now ? 128 : before ? 230 : 0;
        bytes[0] = char(red);
        bytes[1] = char(green);
        bytes[2] = char(blue);
    }
    return difference;
}

} // namespace EyeComparison
