#include "pictureformat.h"

#include <QImageWriter>

#include <algorithm>
#include <array>
#include <vector>

namespace PictureFormat {

namespace {

constexpr int MaxPaletteSize = 256;
// 96 dots per inch, recorded the same whatever screen the program runs on.
constexpr int DotsPerMetre = 3780;

// A colour with premultiplied components, and how many pixels have it.
struct Colour
{
    int channel[4]; // red, green, blue, alpha
    quint32 count;
};

std::array<int, 4> premultiplied(QRgb pixel)
{
    const int alpha = qAlpha(pixel);
    auto scale = [alpha](int component) { return (component * alpha + 127) / 255; };
    return {scale(qRed(pixel)), scale(qGreen(pixel)), scale(qBlue(pixel)), alpha};
}

// Median cut in premultiplied space: the box with the widest channel is split
// at the pixel-weighted median of that channel until the palette is full.
std::vector<QRgb> medianCut(std::vector<Colour> colours, int boxesWanted)
{
    struct Box
    {
        size_t begin;
        size_t end;
    };
    std::vector<Box> boxes {{0, colours.size()}};

    auto widestChannel = [&colours](const Box &box, int *range) {
        int widest = 0;
        *range = -1;
        for (int c = 0; c < 4; ++c) {
            int low = 255;
            int high = 0;
            for (size_t i = box.begin; i < box.end; ++i) {
                low = std::min(low, colours[i].channel[c]);
                high = std::max(high, colours[i].channel[c]);
            }
            if (high - low > *range) {
                *range = high - low;
                widest = c;
            }
        }
        return widest;
    };

    while (int(boxes.size()) < boxesWanted) {
        size_t chosen = boxes.size();
        int chosenRange = 0;
        int chosenChannel = 0;
        for (size_t b = 0; b < boxes.size(); ++b) {
            int range = 0;
            const int channel = widestChannel(boxes[b], &range);
            if (range > chosenRange) {
                chosen = b;
                chosenRange = range;
                chosenChannel = channel;
            }
        }
        if (chosen == boxes.size())
            break; // every box holds a single colour

        Box &box = boxes[chosen];
        std::sort(colours.begin() + std::ptrdiff_t(box.begin), colours.begin() + std::ptrdiff_t(box.end),
                  [chosenChannel](const Colour &a, const Colour &b) {
                      if (a.channel[chosenChannel] != b.channel[chosenChannel])
                          return a.channel[chosenChannel] < b.channel[chosenChannel];
                      return std::lexicographical_compare(a.channel, a.channel + 4, b.channel, b.channel + 4);
                  });
        quint64 total = 0;
        for (size_t i = box.begin; i < box.end; ++i)
            total += colours[i].count;
        quint64 running = 0;
        size_t split = box.begin + 1;
        for (size_t i = box.begin; i < box.end; ++i) {
            running += colours[i].count;
            if (2 * running >= total) {
                split = i + 1;
                break;
            }
        }
        split = std::clamp(split, box.begin + 1, box.end - 1);
        const Box upper {split, box.end};
        box.end = split;
        boxes.push_back(upper);
    }

    std::vector<QRgb> palette;
    for (const Box &box : boxes) {
        double sum[4] = {0, 0, 0, 0};
        double weight = 0;
        for (size_t i = box.begin; i < box.end; ++i) {
            for (int c = 0; c < 4; ++c)
                sum[c] += double(colours[i].channel[c]) * colours[i].count;
            weight += colours[i].count;
        }
        const int alpha = int(sum[3] / weight + 0.5);
        if (alpha == 0) {
            palette.push_back(qRgba(0, 0, 0, 0));
            continue;
        }
        auto straight = [&](int c) { return std::min(255, int(sum[c] / weight * 255.0 / alpha + 0.5)); };
        palette.push_back(qRgba(straight(0), straight(1), straight(2), alpha));
    }
    return palette;
}

int squaredDistance(const std::array<int, 4> &a, const std::array<int, 4> &b)
{
    int sum = 0;
    for (int c = 0; c < 4; ++c)
        sum += (a[size_t(c)] - b[size_t(c)]) * (a[size_t(c)] - b[size_t(c)]);
    return sum;
}

} // namespace

QImage straightAlpha(const QImage &picture)
{
    QImage image = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage straight(image.size(), QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        const auto *in = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        auto *out = reinterpret_cast<QRgb *>(straight.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            // qUnpremultiply() is plain integer arithmetic, rounded to nearest.
            out[x] = qAlpha(in[x]) == 0 ? qRgba(0, 0, 0, 0) : qUnpremultiply(in[x]);
        }
    }
    return straight;
}

QImage paletted(const QImage &picture)
{
    const QImage source = straightAlpha(picture);
    const int width = source.width();
    const int height = source.height();

    std::vector<QRgb> pixels;
    pixels.reserve(size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(source.constScanLine(y));
        pixels.insert(pixels.end(), line, line + width);
    }

    // Distinct colours, sorted, with their pixel counts.
    std::vector<QRgb> distinct = pixels;
    std::sort(distinct.begin(), distinct.end());
    std::vector<quint32> counts;
    {
        std::vector<QRgb> unique;
        for (QRgb colour : distinct) {
            if (unique.empty() || unique.back() != colour) {
                unique.push_back(colour);
                counts.push_back(0);
            }
            ++counts.back();
        }
        distinct.swap(unique);
    }

    std::vector<QRgb> entries;
    if (distinct.size() <= size_t(MaxPaletteSize)) {
        entries = distinct;
    } else {
        const bool hasTransparent = distinct.front() == qRgba(0, 0, 0, 0);
        std::vector<Colour> colours;
        for (size_t i = hasTransparent ? 1 : 0; i < distinct.size(); ++i) {
            const auto channels = premultiplied(distinct[i]);
            colours.push_back({{channels[0], channels[1], channels[2], channels[3]}, counts[i]});
        }
        entries = medianCut(colours, MaxPaletteSize - (hasTransparent ? 1 : 0));
        if (hasTransparent)
            entries.push_back(qRgba(0, 0, 0, 0));
    }

    // Translucent entries first, so that the PNG transparency chunk can stop
    // at the last of them.
    std::sort(entries.begin(), entries.end(), [](QRgb a, QRgb b) {
        if (qAlpha(a) != qAlpha(b))
            return qAlpha(a) < qAlpha(b);
        return a < b;
    });
    entries.erase(std::unique(entries.begin(), entries.end()), entries.end());

    std::vector<std::array<int, 4>> entryChannels;
    for (QRgb entry : entries)
        entryChannels.push_back(premultiplied(entry));
    std::vector<uchar> indexOfDistinct(distinct.size());
    for (size_t i = 0; i < distinct.size(); ++i) {
        const auto channels = premultiplied(distinct[i]);
        size_t nearest = 0;
        int nearestDistance = squaredDistance(channels, entryChannels[0]);
        for (size_t e = 1; e < entries.size() && nearestDistance > 0; ++e) {
            const int distance = squaredDistance(channels, entryChannels[e]);
            if (distance < nearestDistance) {
                nearest = e;
                nearestDistance = distance;
            }
        }
        indexOfDistinct[i] = uchar(nearest);
    }

    QImage indexed(width, height, QImage::Format_Indexed8);
    indexed.setColorTable(QList<QRgb>(entries.begin(), entries.end()));
    for (int y = 0; y < height; ++y) {
        uchar *line = indexed.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const QRgb pixel = pixels[size_t(y) * size_t(width) + size_t(x)];
            const auto found = std::lower_bound(distinct.begin(), distinct.end(), pixel);
            line[x] = indexOfDistinct[size_t(found - distinct.begin())];
        }
    }
    return indexed;
}

bool savePng(QImage image, const QString &path, QString *error)
{
    image.setDotsPerMeterX(DotsPerMetre);
    image.setDotsPerMeterY(DotsPerMetre);
    QImageWriter writer(path, "png");
    // For PNG the quality only sets the deflate effort: 0 is level 9.
    writer.setQuality(0);
    if (writer.write(image))
        return true;
    *error = writer.errorString();
    return false;
}

} // namespace PictureFormat
