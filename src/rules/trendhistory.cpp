#include "rules/trendhistory.h"

#include <algorithm>
#include <cmath>

void TrendHistory::add(const MeasurementRow &row)
{
    const quint32 index = quint32(size());
    const bool startsBlock = index % BlockSize == 0;
    const bool startsLine = m_lineBroken && index > 0;
    if (startsLine)
        m_lineStarts.push_back(index);
    m_lineBroken = false;

    m_rows.push_back({row.time.toMSecsSinceEpoch(),
                      {textIndex(row.quality), textIndex(row.amplitude), textIndex(row.eyeHeight),
                       textIndex(row.eyeWidth), textIndex(row.rate)},
                      quint8(row.lamp),
                      row.pass});
    m_elapsed.push_back(row.elapsedSeconds);
    const std::array<std::optional<double>, SeriesCount> values {row.heightValue(), row.widthValue(),
                                                                 row.amplitudeValue()};
    for (int series = 0; series < SeriesCount; ++series) {
        const std::optional<double> &value = values[size_t(series)];
        std::deque<float> &values = m_values[size_t(series)];
        values.push_back(value ? float(*value) : std::nanf(""));
        if (value)
            m_statistics[size_t(series)].add(*value);

        std::deque<Block> &blocks = m_blocks[size_t(series)];
        if (startsBlock) {
            blocks.push_back({index, index, bool(value)});
            continue;
        }
        Block &block = blocks.back();
        if (!value || startsLine)
            block.whole = false;
        if (!block.whole)
            continue;
        // The first of equal values stays, as it does when every reading is looked at.
        if (values.back() < values[block.lowest])
            block.lowest = index;
        if (values.back() > values[block.highest])
            block.highest = index;
    }
}

void TrendHistory::breakLine()
{
    m_lineBroken = true;
}

void TrendHistory::clear()
{
    *this = TrendHistory();
}

MeasurementRow TrendHistory::row(qsizetype index) const
{
    const StoredRow &stored = m_rows[size_t(index)];
    MeasurementRow row;
    row.time = QDateTime::fromMSecsSinceEpoch(stored.timeMs, Qt::UTC);
    row.elapsedSeconds = m_elapsed[size_t(index)];
    row.lamp = LockLamp(stored.lamp);
    row.quality = m_texts.at(stored.texts[0]);
    row.amplitude = m_texts.at(stored.texts[1]);
    row.eyeHeight = m_texts.at(stored.texts[2]);
    row.eyeWidth = m_texts.at(stored.texts[3]);
    row.rate = m_texts.at(stored.texts[4]);
    row.pass = stored.pass;
    return row;
}

quint32 TrendHistory::textIndex(const QString &text)
{
    const auto found = m_textIndices.constFind(text);
    if (found != m_textIndices.constEnd())
        return *found;
    const quint32 index = quint32(m_texts.size());
    m_texts.append(text);
    m_textIndices.insert(text, index);
    return index;
}

std::vector<std::vector<QPointF>> TrendHistory::linesToDraw(Series series, double xFrom, double xTo,
                                                            int columns) const
{
    std::vector<std::vector<QPointF>> lines;
    if (columns <= 0 || !(xTo > xFrom))
        return lines;
    const double columnsPerSecond = columns / (xTo - xFrom);
    const auto columnOf
        = [&](double x) { return std::min(columns - 1, int((x - xFrom) * columnsPerSecond)); };
    const std::deque<float> &values = m_values[series];
    const std::deque<Block> &blocks = m_blocks[series];
    const size_t count = values.size();

    struct Point
    {
        size_t index;
        double x;
        float y;
        bool operator<(const Point &other) const { return index < other.index; }
        bool operator==(const Point &other) const { return index == other.index; }
    };
    const auto pointAt = [&](size_t index) { return Point {index, m_elapsed[index], values[index]}; };
    bool lineOpen = false;
    int column = -1;
    std::array<Point, 4> kept {}; // first, lowest, highest, last of the column
    const auto endColumn = [&] {
        if (column < 0)
            return;
        std::sort(kept.begin(), kept.end());
        const auto end = std::unique(kept.begin(), kept.end());
        for (auto point = kept.begin(); point != end; ++point)
            lines.back().emplace_back(point->x, double(point->y));
        column = -1;
    };
    const auto endLine = [&] {
        endColumn();
        lineOpen = false;
    };
    // A reading in the span, in column `at`.
    const auto take = [&](const Point &point, int at) {
        if (at != column) {
            endColumn();
            if (!lineOpen) {
                lines.emplace_back();
                lineOpen = true;
            }
            column = at;
            kept = {point, point, point, point};
            return;
        }
        if (point.y < kept[1].y)
            kept[1] = point;
        if (point.y > kept[2].y)
            kept[2] = point;
        kept[3] = point;
    };

    auto nextStart = m_lineStarts.begin();
    size_t index = 0;
    while (index < count) {
        while (nextStart != m_lineStarts.end() && *nextStart <= qsizetype(index)) {
            if (*nextStart == qsizetype(index))
                endLine();
            ++nextStart;
        }
        if (index % BlockSize == 0 && index + BlockSize <= count) {
            const Block &block = blocks[index / size_t(BlockSize)];
            const Point first = pointAt(index);
            const Point last = pointAt(index + BlockSize - 1);
            if (block.whole && first.x >= xFrom && last.x <= xTo && columnOf(first.x) == columnOf(last.x)) {
                const int at = columnOf(first.x);
                for (const Point &point : {first, pointAt(block.lowest), pointAt(block.highest), last})
                    take(point, at);
                index += BlockSize;
                continue;
            }
        }
        const Point point = pointAt(index++);
        if (std::isnan(point.y) || !(point.x >= xFrom && point.x <= xTo))
            endLine();
        else
            take(point, columnOf(point.x));
    }
    endColumn();
    return lines;
}

bool writeTrendCsv(QIODevice &device, const TrendHistory &history, const QByteArray &head)
{
    QByteArray text = head;
    // Written in pieces: a day of readings is some 13 MB of text.
    constexpr qsizetype PieceBytes = 64 * 1024;
    for (qsizetype index = 0; index < history.size(); ++index) {
        text += csvLine(history.row(index));
        if (text.size() >= PieceBytes) {
            if (device.write(text) != text.size())
                return false;
            text.clear();
        }
    }
    return device.write(text) == text.size();
}
