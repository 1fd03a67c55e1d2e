#include "rules/eyecomparison.h"

#include <algorithm>

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
    for (qsizetype pixel = 0; pixel < count; ++pixel, bytes += 3)
        result.occupied[pixel] = isOccupied(bytes[0], bytes[1], bytes[2]);
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

    // Each unoccupied region is filled from its first pixel; a region gets
    // the number of its fill, so that the largest is picked out afterwards.
    QList<int> region(count, 0);
    QList<qsizetype> stack;
    int regions = 0;
    int largest = 0;
    for (qsizetype start = 0; start < count; ++start) {
        if (picture.occupied.at(start) || region.at(start) != 0)
            continue;
        const int number = ++regions;
        qsizetype area = 0;
        bool touchesEdge = false;
        region[start] = number;
        stack.append(start);
        while (!stack.isEmpty()) {
            const qsizetype pixel = stack.takeLast();
            ++area;
            const int x = int(pixel % width);
            const int y = int(pixel / width);
            if (x == 0 || y == 0 || x == width - 1 || y == height - 1)
                touchesEdge = true;
            const auto visit = [&](qsizetype neighbour) {
                if (!picture.occupied.at(neighbour) && region.at(neighbour) == 0) {
                    region[neighbour] = number;
                    stack.append(neighbour);
                }
            };
            if (x > 0)
                visit(pixel - 1);
            if (x < width - 1)
                visit(pixel + 1);
            if (y > 0)
                visit(pixel - width);
            if (y < height - 1)
                visit(pixel + width);
        }
        if (!touchesEdge && area > opening.area) {
            opening.area = area;
            largest = number;
        }
    }
    if (largest != 0) {
        for (qsizetype pixel = 0; pixel < count; ++pixel)
            opening.inside[pixel] = region.at(pixel) == largest;
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
    for (qsizetype pixel = 0; pixel < reference.occupied.size(); ++pixel)
        changed += reference.occupied.at(pixel) != current.occupied.at(pixel);
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
