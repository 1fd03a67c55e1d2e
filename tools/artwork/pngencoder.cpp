#include "pngencoder.h"

#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

namespace PngEncoder {

namespace {

constexpr int MaxPaletteSize = 256;

quint32 crc32(const QByteArray &bytes)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> entries{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entries[n] = c;
        }
        return entries;
    }();
    quint32 crc = 0xFFFFFFFFu;
    for (char byte : bytes)
        crc = table[(crc ^ quint8(byte)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

void appendBigEndian(QByteArray &bytes, quint32 value)
{
    char buffer[4];
    qToBigEndian(value, buffer);
    bytes.append(buffer, 4);
}

void appendChunk(QByteArray &file, const char *type, const QByteArray &data)
{
    appendBigEndian(file, quint32(data.size()));
    QByteArray typed(type, 4);
    typed.append(data);
    file.append(typed);
    appendBigEndian(file, crc32(typed));
}

QByteArray fileOf(int width, int height, quint8 colourType, const QByteArray &rows,
                  const QByteArray &paletteChunk = {}, const QByteArray &transparencyChunk = {})
{
    QByteArray file("\x89PNG\r\n\x1A\n", 8);

    QByteArray header;
    appendBigEndian(header, quint32(width));
    appendBigEndian(header, quint32(height));
    header.append(char(8));          // bit depth
    header.append(char(colourType));
    header.append(char(0));          // deflate
    header.append(char(0));          // adaptive filtering
    header.append(char(0));          // no interlace
    appendChunk(file, "IHDR", header);
    if (!paletteChunk.isEmpty())
        appendChunk(file, "PLTE", paletteChunk);
    if (!transparencyChunk.isEmpty())
        appendChunk(file, "tRNS", transparencyChunk);

    // qCompress gives a zlib stream behind a four-byte length of its own.
    appendChunk(file, "IDAT", qCompress(rows, 9).mid(4));
    appendChunk(file, "IEND", {});
    return file;
}

int paeth(int left, int up, int upLeft)
{
    const int estimate = left + up - upLeft;
    const int toLeft = std::abs(estimate - left);
    const int toUp = std::abs(estimate - up);
    const int toUpLeft = std::abs(estimate - upLeft);
    if (toLeft <= toUp && toLeft <= toUpLeft)
        return left;
    return toUp <= toUpLeft ? up : upLeft;
}

// Applies each of the five row filters and keeps the one with the smallest
// sum of absolute values, the usual heuristic for small deflate output.
QByteArray filteredRows(const std::vector<quint8> &raw, int rowLength, int height, int bytesPerPixel)
{
    QByteArray rows;
    rows.reserve((rowLength + 1) * height);
    std::vector<quint8> zeroRow(size_t(rowLength), 0);
    std::vector<quint8> candidate(static_cast<size_t>(rowLength));
    std::vector<quint8> best(static_cast<size_t>(rowLength));
    for (int y = 0; y < height; ++y) {
        const quint8 *line = raw.data() + size_t(y) * size_t(rowLength);
        const quint8 *above = y > 0 ? line - rowLength : zeroRow.data();
        long bestScore = -1;
        int bestFilter = 0;
        for (int filter = 0; filter < 5; ++filter) {
            long score = 0;
            for (int i = 0; i < rowLength; ++i) {
                const int left = i >= bytesPerPixel ? line[i - bytesPerPixel] : 0;
                const int upLeft = i >= bytesPerPixel ? above[i - bytesPerPixel] : 0;
                int predicted = 0;
                switch (filter) {
                case 1: predicted = left; break;
                case 2: predicted = above[i]; break;
                case 3: predicted = (left + above[i]) / 2; break;
                case 4: predicted = paeth(left, above[i], upLeft); break;
                default: break;
                }
                const quint8 value = quint8(line[i] - predicted);
                candidate[size_t(i)] = value;
                score += value < 128 ? value : 256 - value;
            }
            if (bestScore < 0 || score < bestScore) {
                bestScore = score;
                bestFilter = filter;
                best.swap(candidate);
            }
        }
        rows.append(char(bestFilter));
        rows.append(reinterpret_cast<const char *>(best.data()), rowLength);
    }
    return rows;
}

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

QRgb normalised(QRgb pixel)
{
    return qAlpha(pixel) == 0 ? qRgba(0, 0, 0, 0) : pixel;
}

// Median cut in premultiplied space: the box with the widest channel is split
// at the pixel-weighted median of that channel until the palette is full.
std::vector<QRgb> medianCut(std::vector<Colour> colours, int boxesWanted)
{
    struct Box { size_t begin; size_t end; };
    std::vector<Box> boxes{{0, colours.size()}};

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
        const Box upper{split, box.end};
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

QByteArray rgba(const QImage &image)
{
    const QImage source = image.convertToFormat(QImage::Format_ARGB32);
    const int width = source.width();
    const int height = source.height();
    std::vector<quint8> raw(size_t(width) * size_t(height) * 4);
    size_t at = 0;
    for (int y = 0; y < height; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(source.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            const QRgb pixel = normalised(line[x]);
            raw[at++] = quint8(qRed(pixel));
            raw[at++] = quint8(qGreen(pixel));
            raw[at++] = quint8(qBlue(pixel));
            raw[at++] = quint8(qAlpha(pixel));
        }
    }
    return fileOf(width, height, 6, filteredRows(raw, width * 4, height, 4));
}

QByteArray palette(const QImage &image)
{
    const QImage source = image.convertToFormat(QImage::Format_ARGB32);
    const int width = source.width();
    const int height = source.height();

    std::vector<QRgb> pixels;
    pixels.reserve(size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(source.constScanLine(y));
        for (int x = 0; x < width; ++x)
            pixels.push_back(normalised(line[x]));
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
        // The fully transparent colour keeps an exact entry of its own.
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

    // Translucent entries first, so that the tRNS chunk can stop at the last one.
    std::sort(entries.begin(), entries.end(), [](QRgb a, QRgb b) {
        if (qAlpha(a) != qAlpha(b))
            return qAlpha(a) < qAlpha(b);
        return a < b;
    });
    entries.erase(std::unique(entries.begin(), entries.end()), entries.end());

    std::vector<std::array<int, 4>> entryChannels;
    for (QRgb entry : entries)
        entryChannels.push_back(premultiplied(entry));
    std::vector<quint8> indexOfDistinct(distinct.size());
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
        indexOfDistinct[i] = quint8(nearest);
    }

    QByteArray rows;
    rows.reserve((width + 1) * height);
    for (int y = 0; y < height; ++y) {
        rows.append(char(0)); // palette indices are not predictable; no filter
        for (int x = 0; x < width; ++x) {
            const QRgb pixel = pixels[size_t(y) * size_t(width) + size_t(x)];
            const auto found = std::lower_bound(distinct.begin(), distinct.end(), pixel);
            rows.append(char(indexOfDistinct[size_t(found - distinct.begin())]));
        }
    }

    QByteArray paletteChunk;
    QByteArray transparencyChunk;
    for (QRgb entry : entries) {
        paletteChunk.append(char(qRed(entry)));
        paletteChunk.append(char(qGreen(entry)));
        paletteChunk.append(char(qBlue(entry)));
        if (qAlpha(entry) < 255)
            transparencyChunk.append(char(qAlpha(entry)));
    }
    // Reading programs treat a palette file without tRNS as opaque; keep the
    // chunk even when every entry is opaque so the file type stays the same.
    if (transparencyChunk.isEmpty())
        transparencyChunk.append(char(255));
    return fileOf(width, height, 3, rows, paletteChunk, transparencyChunk);
}

} // namespace PngEncoder
