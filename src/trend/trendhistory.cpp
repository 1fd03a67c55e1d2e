#include "trend/trendhistory.h"

#include <algorithm>
#include <cmath>

void TrendHistory::add(const MeasurementRow &row)
{
    if (m_lineBroken && !m_rows.empty())
        m_lineStarts.push_back(size());
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
        m_values[size_t(series)].push_back(value ? float(*value) : std::nanf(""));
        if (value)
            m_statistics[size_t(series)].add(*value);
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

std::vector<std::vector<QPointF>> linesToDraw(const std::deque<double> &x, const std::deque<float> &y,
                                              const std::vector<qsizetype> &lineStarts, double xFrom,
                                              double xTo, int columns)
{
    std::vector<std::vector<QPointF>> lines;
    if (columns <= 0 || !(xTo > xFrom))
        return lines;
    const double columnsPerSecond = columns / (xTo - xFrom);
    const size_t count = std::min(x.size(), y.size());

    struct Point
    {
        size_t index;
        double x;
        float y;
        bool operator<(const Point &other) const { return index < other.index; }
        bool operator==(const Point &other) const { return index == other.index; }
    };
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

    // Walked with iterators: a deque's are quick, its indexing is not.
    auto nextStart = lineStarts.begin();
    auto xAt = x.begin();
    auto yAt = y.begin();
    for (size_t index = 0; index < count; ++index, ++xAt, ++yAt) {
        while (nextStart != lineStarts.end() && *nextStart <= qsizetype(index)) {
            if (*nextStart == qsizetype(index))
                endLine();
            ++nextStart;
        }
        const Point point {index, *xAt, *yAt};
        if (std::isnan(point.y) || !(point.x >= xFrom && point.x <= xTo)) {
            endLine();
            continue;
        }
        const int at = std::min(columns - 1, int((point.x - xFrom) * columnsPerSecond));
        if (at != column) {
            endColumn();
            if (!lineOpen) {
                lines.emplace_back();
                lineOpen = true;
            }
            column = at;
            kept = {point, point, point, point};
            continue;
        }
        if (point.y < kept[1].y)
            kept[1] = point;
        if (point.y > kept[2].y)
            kept[2] = point;
        kept[3] = point;
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
