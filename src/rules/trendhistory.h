#pragma once

#include "rules/measurementrow.h"
#include "rules/trendstatistics.h"

#include <QByteArray>
#include <QHash>
#include <QIODevice>
#include <QPointF>
#include <QStringList>

#include <array>
#include <deque>
#include <vector>

// Every reading the trend window shows and exports since its last reset,
// kept small enough for a day of them: the plotted values as numbers, and
// each row's texts once per distinct text, so that an export writes them
// exactly as the log would have. The readings are held in blocks (deques),
// which grow without copying what is there and without spare room for
// readings that may never come.
class TrendHistory
{
public:
    enum Series { Height, Width, Amplitude };
    static constexpr int SeriesCount = 3;

    void add(const MeasurementRow &row);
    // The instrument was lost: the next reading starts a new line.
    void breakLine();
    void clear();

    qsizetype size() const { return qsizetype(m_rows.size()); }
    bool isEmpty() const { return m_rows.empty(); }
    MeasurementRow row(qsizetype index) const;
    const SeriesStatistics &statistics(Series series) const { return m_statistics[series]; }

    // What the plot draws: each reading's elapsed seconds, each series' value
    // (NaN when the field held no number), and the readings that start a new
    // line after a loss.
    const std::deque<double> &elapsed() const { return m_elapsed; }
    const std::deque<float> &values(Series series) const { return m_values[series]; }
    const std::vector<qsizetype> &lineStarts() const { return m_lineStarts; }
    qint64 timeMs(qsizetype index) const { return m_rows[size_t(index)].timeMs; }

    // The points of a series worth drawing across `columns` pixel columns
    // that span [xFrom, xTo] seconds: in each column its first, lowest,
    // highest and last reading in their order, which draws the same picture
    // as every reading does. A line ends before a line start, at a value that
    // is no number and at a reading outside the span. Points are (elapsed
    // seconds, value).
    std::vector<std::vector<QPointF>> linesToDraw(Series series, double xFrom, double xTo, int columns) const;

private:
    struct StoredRow
    {
        qint64 timeMs;
        std::array<quint32, 5> texts; // indices into m_texts: quality, amplitude, height, width, rate
        quint8 lamp;                  // a LockLamp
        bool pass;
    };
    quint32 textIndex(const QString &text);

    // Each series' lowest and highest reading in every run of BlockSize
    // readings, so that a day is drawn without looking at each reading: a
    // block that falls in one pixel column stands for all its readings.
    static constexpr qsizetype BlockSize = 32;
    struct Block
    {
        quint32 lowest;
        quint32 highest;
        bool whole; // no value that is no number, no line start after its first reading
    };

    std::deque<StoredRow> m_rows;
    std::deque<double> m_elapsed;
    std::array<std::deque<float>, SeriesCount> m_values;
    std::array<std::deque<Block>, SeriesCount> m_blocks;
    std::vector<qsizetype> m_lineStarts;
    bool m_lineBroken = false;
    std::array<SeriesStatistics, SeriesCount> m_statistics;
    QStringList m_texts;
    QHash<QString, quint32> m_textIndices;
};

// Writes `head` (the comment lines and header row of the measurement log's
// CSV) and then one CSV line a reading, as the log writes them. Returns false
// when the device did not take them all.
bool writeTrendCsv(QIODevice &device, const TrendHistory &history, const QByteArray &head);
