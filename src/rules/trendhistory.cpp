#include "rules/trendhistory.h"

#include <algorithm>
#include <cmath>

TrendHistory::TrendHistory(qint64 foldAfterMs)
    : m_foldAfterMs(std::max<qint64>(0, foldAfterMs))
{
}

void TrendHistory::setFoldAfterMs(qint64 foldAfterMs)
{
    m_foldAfterMs = std::max<qint64>(0, foldAfterMs);
}

void TrendHistory::add(const MeasurementRow &row)
{
    const quint32 number = m_firstNumber + quint32(m_rows.size());
    const bool startsBlock = number % BlockSize == 0;
    const bool startsLine = m_lineBroken && !isEmpty();
    if (startsLine)
        m_lineStarts.push_back(number);
    m_lineBroken = false;
    if (isEmpty())
        m_firstTimeMs = row.time.toMSecsSinceEpoch();

    m_rows.push_back({row.time.toMSecsSinceEpoch(),
                      {holdText(row.quality), holdText(row.amplitude), holdText(row.eyeHeight),
                       holdText(row.eyeWidth), holdText(row.rate)},
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
            blocks.push_back({number, number, bool(value)});
            continue;
        }
        Block &block = blocks.back();
        if (!value || startsLine)
            block.whole = false;
        if (!block.whole)
            continue;
        // The first of equal values stays, as it does when every reading is looked at.
        if (values.back() < values[block.lowest - m_firstNumber])
            block.lowest = number;
        if (values.back() > values[block.highest - m_firstNumber])
            block.highest = number;
    }

    // The newest reading is never folded, so the horizon is measured from it.
    const qint64 horizon = m_rows.back().timeMs - m_foldAfterMs;
    while (m_rows.size() > 1 && m_rows.front().timeMs < horizon)
        foldOldest();
}

void TrendHistory::foldOldest()
{
    const StoredRow &oldest = m_rows.front();
    const quint32 number = m_firstNumber;
    const double elapsed = m_elapsed.front();
    const qint64 minuteMs = oldest.timeMs - ((oldest.timeMs % MinuteMs) + MinuteMs) % MinuteMs;
    // A clock set back leaves the minutes in the order they were folded.
    if (m_folded.empty() || minuteMs > m_folded.back().minuteMs) {
        m_folded.push_back({minuteMs, elapsed, elapsed, 0, 0, 0, false, {}});
        if ((m_folded.size() - 1) % FoldedBlockSize == 0 && m_folded.size() > 1)
            closeFoldedBlock();
    }
    FoldedMinute &minute = m_folded.back();
    minute.lastElapsed = elapsed;
    ++minute.readings;
    if (!oldest.pass)
        ++minute.misses;
    minute.lampsSeen |= quint8(1u << std::min<quint8>(oldest.lamp, 7));
    if (!m_lineStarts.empty() && m_lineStarts.front() == number) {
        minute.startsLine = true;
        m_lineStarts.pop_front();
    }
    for (int series = 0; series < SeriesCount; ++series) {
        const float value = m_values[size_t(series)].front();
        FoldedRange &range = minute.series[size_t(series)];
        if (std::isfinite(value)) {
            // The row's own text, not the float the plot draws, so the folded
            // figures are those of the readings.
            const std::optional<double> exact
                = MeasurementRow::number(m_texts[oldest.texts[series == Height ? 2 : series == Width ? 3 : 1]]);
            const double reading = exact ? *exact : double(value);
            if (range.count == 0) {
                range.minimum = range.maximum = reading;
                range.highestLast = true;
            } else if (reading < range.minimum) {
                range.minimum = reading;
                range.highestLast = false;
            } else if (reading > range.maximum) {
                range.maximum = reading;
                range.highestLast = true;
            }
            range.sum += reading;
            ++range.count;
        }
        m_values[size_t(series)].pop_front();
        // A block that lost a reading no longer stands for its run.
        std::deque<Block> &blocks = m_blocks[size_t(series)];
        if (number % BlockSize == BlockSize - 1)
            blocks.pop_front();
        else
            blocks.front().whole = false;
    }
    for (quint32 text : oldest.texts)
        releaseText(text);
    ++m_foldedReadings;
    m_rows.pop_front();
    m_elapsed.pop_front();
    ++m_firstNumber;
}

void TrendHistory::closeFoldedBlock()
{
    // The run of minutes that ends before the newest one.
    const size_t first = m_folded.size() - 1 - size_t(FoldedBlockSize);
    for (int series = 0; series < SeriesCount; ++series) {
        Block block {quint32(first), quint32(first), true};
        for (size_t index = first; index < first + size_t(FoldedBlockSize); ++index) {
            const FoldedRange &range = m_folded[index].series[size_t(series)];
            if (range.count == 0 || (index > first && m_folded[index].startsLine)) {
                block.whole = false;
                break;
            }
            if (range.minimum < m_folded[block.lowest].series[size_t(series)].minimum)
                block.lowest = quint32(index);
            if (range.maximum > m_folded[block.highest].series[size_t(series)].maximum)
                block.highest = quint32(index);
        }
        m_foldedBlocks[size_t(series)].push_back(block);
    }
}

void TrendHistory::breakLine()
{
    m_lineBroken = true;
}

void TrendHistory::clear()
{
    *this = TrendHistory(m_foldAfterMs);
}

MeasurementRow TrendHistory::row(qsizetype index) const
{
    const StoredRow &stored = m_rows[size_t(index)];
    MeasurementRow row;
    row.time = QDateTime::fromMSecsSinceEpoch(stored.timeMs, Qt::UTC);
    row.elapsedSeconds = m_elapsed[size_t(index)];
    row.lamp = LockLamp(stored.lamp);
    row.quality = m_texts[stored.texts[0]];
    row.amplitude = m_texts[stored.texts[1]];
    row.eyeHeight = m_texts[stored.texts[2]];
    row.eyeWidth = m_texts[stored.texts[3]];
    row.rate = m_texts[stored.texts[4]];
    row.pass = stored.pass;
    return row;
}

double TrendHistory::firstElapsed() const
{
    return !m_folded.empty() ? m_folded.front().firstElapsed : m_elapsed.empty() ? 0 : m_elapsed.front();
}

double TrendHistory::lastElapsed() const
{
    return !m_elapsed.empty() ? m_elapsed.back() : m_folded.empty() ? 0 : m_folded.back().lastElapsed;
}

qint64 TrendHistory::firstTimeMs() const
{
    return isEmpty() ? 0 : m_firstTimeMs;
}

qint64 TrendHistory::lastTimeMs() const
{
    return m_rows.empty() ? 0 : m_rows.back().timeMs;
}

std::vector<qsizetype> TrendHistory::lineStarts() const
{
    std::vector<qsizetype> starts;
    starts.reserve(m_lineStarts.size());
    for (quint32 number : m_lineStarts)
        starts.push_back(qsizetype(number - m_firstNumber));
    return starts;
}

quint32 TrendHistory::holdText(const QString &text)
{
    const auto found = m_textIndices.constFind(text);
    if (found != m_textIndices.constEnd()) {
        ++m_textUses[*found];
        return *found;
    }
    quint32 index;
    if (!m_freeTexts.empty()) {
        index = m_freeTexts.back();
        m_freeTexts.pop_back();
        m_texts[index] = text;
        m_textUses[index] = 1;
    } else {
        index = quint32(m_texts.size());
        m_texts.push_back(text);
        m_textUses.push_back(1);
    }
    m_textIndices.insert(text, index);
    return index;
}

void TrendHistory::releaseText(quint32 index)
{
    if (--m_textUses[index] > 0)
        return;
    m_textIndices.remove(m_texts[index]);
    m_texts[index] = QString();
    m_freeTexts.push_back(index);
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

    // `order` places a point among all the others: two for each folded
    // minute, then one for each whole reading.
    struct Point
    {
        size_t order;
        double x;
        double y;
        bool operator<(const Point &other) const { return order < other.order; }
        bool operator==(const Point &other) const { return order == other.order; }
    };
    const size_t wholeOrder = 2 * m_folded.size();
    const auto pointAt
        = [&](size_t index) { return Point {wholeOrder + index, m_elapsed[index], double(values[index])}; };
    bool lineOpen = false;
    int column = -1;
    std::array<Point, 4> kept {}; // first, lowest, highest, last of the column
    const auto endColumn = [&] {
        if (column < 0)
            return;
        std::sort(kept.begin(), kept.end());
        const auto end = std::unique(kept.begin(), kept.end());
        for (auto point = kept.begin(); point != end; ++point)
            lines.back().emplace_back(point->x, point->y);
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
    const auto takeIfInSpan = [&](const Point &point) {
        if (std::isnan(point.y) || !(point.x >= xFrom && point.x <= xTo))
            endLine();
        else
            take(point, columnOf(point.x));
    };

    // A folded minute is its lowest and highest value, in the order they came.
    const auto lowOf = [&](size_t index) {
        const FoldedMinute &minute = m_folded[index];
        const FoldedRange &range = minute.series[size_t(series)];
        return Point {2 * index + (range.highestLast ? 0 : 1),
                      range.highestLast ? minute.firstElapsed : minute.lastElapsed, range.minimum};
    };
    const auto highOf = [&](size_t index) {
        const FoldedMinute &minute = m_folded[index];
        const FoldedRange &range = minute.series[size_t(series)];
        return Point {2 * index + (range.highestLast ? 1 : 0),
                      range.highestLast ? minute.lastElapsed : minute.firstElapsed, range.maximum};
    };
    const auto firstOf = [&](size_t index) {
        return m_folded[index].series[size_t(series)].highestLast ? lowOf(index) : highOf(index);
    };
    const auto lastOf = [&](size_t index) {
        return m_folded[index].series[size_t(series)].highestLast ? highOf(index) : lowOf(index);
    };
    const std::deque<Block> &foldedBlocks = m_foldedBlocks[series];
    size_t minute = 0;
    while (minute < m_folded.size()) {
        if (m_folded[minute].startsLine)
            endLine();
        if (minute % FoldedBlockSize == 0 && minute / FoldedBlockSize < foldedBlocks.size()) {
            const Block &block = foldedBlocks[minute / FoldedBlockSize];
            const Point first = firstOf(minute);
            const Point last = lastOf(minute + FoldedBlockSize - 1);
            if (block.whole && first.x >= xFrom && last.x <= xTo && columnOf(first.x) == columnOf(last.x)) {
                const int at = columnOf(first.x);
                for (const Point &point : {first, lowOf(block.lowest), highOf(block.highest), last})
                    take(point, at);
                minute += FoldedBlockSize;
                continue;
            }
        }
        if (m_folded[minute].series[size_t(series)].count == 0) {
            endLine();
            ++minute;
            continue;
        }
        takeIfInSpan(firstOf(minute));
        takeIfInSpan(lastOf(minute));
        ++minute;
    }

    auto nextStart = m_lineStarts.begin();
    size_t index = 0;
    while (index < count) {
        const quint32 number = m_firstNumber + quint32(index);
        while (nextStart != m_lineStarts.end() && *nextStart <= number) {
            if (*nextStart == number)
                endLine();
            ++nextStart;
        }
        if (number % BlockSize == 0 && index + BlockSize <= count) {
            const Block &block = blocks[number / BlockSize - m_firstNumber / BlockSize];
            const Point first = pointAt(index);
            const Point last = pointAt(index + BlockSize - 1);
            if (block.whole && first.x >= xFrom && last.x <= xTo && columnOf(first.x) == columnOf(last.x)) {
                const int at = columnOf(first.x);
                for (const Point &point : {first, pointAt(block.lowest - m_firstNumber),
                                           pointAt(block.highest - m_firstNumber), last})
                    take(point, at);
                index += BlockSize;
                continue;
            }
        }
        takeIfInSpan(pointAt(index++));
    }
    endColumn();
    return lines;
}

QByteArray foldedCsvHeader()
{
    QByteArray header = "folded_minute,first_elapsed_s,last_elapsed_s,readings,misses,lamps_seen";
    for (const char *name : {"eye_height_ui", "eye_width_ui", "amplitude_mv"})
        for (const char *figure : {"_min", "_max", "_mean", "_count"})
            header += QByteArray(",") + name + figure;
    return header + '\n';
}

QByteArray foldedCsvLine(const TrendHistory::FoldedMinute &minute)
{
    QStringList lamps;
    for (LockLamp lamp : {LockLamp::Green, LockLamp::Yellow, LockLamp::Grey})
        if (minute.lampsSeen & (1u << int(lamp)))
            lamps << lampName(lamp);
    QStringList cells {logTime(QDateTime::fromMSecsSinceEpoch(minute.minuteMs, Qt::UTC)),
                       QString::number(minute.firstElapsed, 'f', 3),
                       QString::number(minute.lastElapsed, 'f', 3),
                       QString::number(minute.readings),
                       QString::number(minute.misses),
                       lamps.join(QLatin1Char('+'))};
    // Height and width, then amplitude, as in the header.
    for (int series : {TrendHistory::Height, TrendHistory::Width, TrendHistory::Amplitude}) {
        const TrendHistory::FoldedRange &range = minute.series[size_t(series)];
        if (range.count == 0) {
            cells << QString() << QString() << QString() << QStringLiteral("0");
            continue;
        }
        cells << QString::number(range.minimum, 'g', 12) << QString::number(range.maximum, 'g', 12)
              << QString::number(range.sum / range.count, 'g', 12) << QString::number(range.count);
    }
    return cells.join(QLatin1Char(',')).toLatin1() + '\n';
}

bool writeTrendCsv(QIODevice &device, const TrendHistory &history, const QByteArray &head)
{
    QByteArray text = head;
    // Written in pieces: a day of readings is some 13 MB of text.
    constexpr qsizetype PieceBytes = 64 * 1024;
    const auto written = [&] {
        if (text.size() < PieceBytes)
            return true;
        const bool whole = device.write(text) == text.size();
        text.clear();
        return whole;
    };
    if (!history.folded().empty()) {
        text += "# folded: one row a minute, min/max/mean/count\n" + foldedCsvHeader();
        for (const TrendHistory::FoldedMinute &minute : history.folded()) {
            text += foldedCsvLine(minute);
            if (!written())
                return false;
        }
        text += "# readings: one row a reading\n";
    }
    text += csvHeader();
    for (qsizetype index = 0; index < history.size(); ++index) {
        text += csvLine(history.row(index));
        if (!written())
            return false;
    }
    return device.write(text) == text.size();
}
