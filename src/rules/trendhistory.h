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
// kept small enough for a month of them. The readings of the last day (the
// fold horizon) are kept whole: the plotted values as numbers, and each row's
// texts once per distinct text, so that an export writes them exactly as the
// log would have. Older readings are folded into one row a minute holding
// each series' lowest, highest, sum and count, the lamps seen and the
// readings that missed a limit. The figures count every reading since the
// reset, folded or not. The readings are held in blocks (deques), which grow
// without copying what is there, give their room back as the oldest readings
// are folded, and keep no spare room for readings that may never come.
class TrendHistory
{
public:
    enum Series { Height, Width, Amplitude };
    static constexpr int SeriesCount = 3;
    static constexpr qint64 DayMs = 24 * 3600 * 1000;
    static constexpr qint64 MinuteMs = 60 * 1000;

    // Readings older than `foldAfterMs` before the newest one are folded.
    explicit TrendHistory(qint64 foldAfterMs = DayMs);

    void add(const MeasurementRow &row);
    // The instrument was lost: the next reading starts a new line.
    void breakLine();
    // Forgets every reading; the fold horizon stays.
    void clear();
    // A new horizon folds the readings past it when the next one is added.
    void setFoldAfterMs(qint64 foldAfterMs);
    qint64 foldAfterMs() const { return m_foldAfterMs; }

    // One minute of folded readings.
    struct FoldedRange
    {
        double minimum = 0;
        double maximum = 0;
        double sum = 0;
        quint32 count = 0;       // readings with a number in this series
        bool highestLast = true; // the highest reading came after the lowest
    };
    struct FoldedMinute
    {
        qint64 minuteMs;       // the minute's start, milliseconds since the epoch (UTC)
        double firstElapsed;   // elapsed seconds of its first and last reading
        double lastElapsed;
        quint32 readings = 0;
        quint32 misses = 0;    // readings that missed a limit
        quint8 lampsSeen = 0;  // bit (1 << LockLamp) for each lamp seen
        bool startsLine = false; // a loss came before or among its readings
        std::array<FoldedRange, SeriesCount> series;
    };

    // The readings kept whole, oldest first; row(0) is the oldest of them.
    qsizetype size() const { return qsizetype(m_rows.size()); }
    // No reading since the reset, whole or folded.
    bool isEmpty() const { return m_rows.empty() && m_folded.empty(); }
    // Every reading since the reset, whole and folded.
    qint64 readingCount() const { return m_foldedReadings + qint64(m_rows.size()); }
    MeasurementRow row(qsizetype index) const;
    const std::deque<FoldedMinute> &folded() const { return m_folded; }
    // Distinct texts the whole readings hold.
    qsizetype textsHeld() const { return m_textIndices.size(); }
    const SeriesStatistics &statistics(Series series) const { return m_statistics[series]; }

    // The span of the readings since the reset, folded ones included: the
    // first and last reading's elapsed seconds and time; 0 when there are none.
    double firstElapsed() const;
    double lastElapsed() const;
    qint64 firstTimeMs() const;
    qint64 lastTimeMs() const;

    // The whole readings the plot draws: each one's elapsed seconds, each
    // series' value (NaN when the field held no number), and the readings
    // that start a new line after a loss (indices as row() takes them).
    const std::deque<double> &elapsed() const { return m_elapsed; }
    const std::deque<float> &values(Series series) const { return m_values[series]; }
    std::vector<qsizetype> lineStarts() const;
    qint64 timeMs(qsizetype index) const { return m_rows[size_t(index)].timeMs; }

    // The points of a series worth drawing across `columns` pixel columns
    // that span [xFrom, xTo] seconds: in each column its first, lowest,
    // highest and last reading in their order, which draws the same picture
    // as every reading does; a folded minute gives its lowest and highest at
    // its first and last reading's time, in the order they came. A line ends
    // before a line start, at a value that is no number (a folded minute
    // without one) and at a reading outside the span. Points are (elapsed
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
    quint32 holdText(const QString &text);
    void releaseText(quint32 index);
    void foldOldest();

    // Each series' lowest and highest reading in every run of BlockSize
    // readings, so that a day is drawn without looking at each reading: a
    // block that falls in one pixel column stands for all its readings.
    // Readings are numbered from the reset on, folded ones included.
    static constexpr qsizetype BlockSize = 32;
    struct Block
    {
        quint32 lowest;
        quint32 highest;
        bool whole; // every reading kept whole, no value that is no number, no line start after its first
    };

    qint64 m_foldAfterMs;
    qint64 m_firstTimeMs = 0; // the first reading's time since the reset
    std::deque<StoredRow> m_rows;
    std::deque<double> m_elapsed;
    std::array<std::deque<float>, SeriesCount> m_values;
    std::array<std::deque<Block>, SeriesCount> m_blocks;
    quint32 m_firstNumber = 0;       // the number of m_rows.front()
    std::deque<quint32> m_lineStarts; // numbers of whole readings that start a line
    bool m_lineBroken = false;
    std::deque<FoldedMinute> m_folded;
    // The same for every run of FoldedBlockSize folded minutes once the
    // minute after them has begun (a month spans some 64 minutes a column): lowest and highest are the minutes holding the
    // run's lowest and highest value, and a run is whole when each of its
    // minutes has a value and none after its first starts a line.
    static constexpr qsizetype FoldedBlockSize = 8;
    std::array<std::deque<Block>, SeriesCount> m_foldedBlocks;
    void closeFoldedBlock();
    qint64 m_foldedReadings = 0;
    std::array<SeriesStatistics, SeriesCount> m_statistics;
    // The texts of the whole readings, each once, with the readings using it;
    // a text no reading uses any more gives its place to the next new one.
    std::vector<QString> m_texts;
    std::vector<quint32> m_textUses;
    std::vector<quint32> m_freeTexts;
    QHash<QString, quint32> m_textIndices;
};

// The column names of a folded minute's row in an export, and its line.
QByteArray foldedCsvHeader();
QByteArray foldedCsvLine(const TrendHistory::FoldedMinute &minute);

// Writes `head` (the comment lines of the measurement log's CSV), then the
// folded minutes, if any, under a "# folded" comment and their own header
// row, then the log's header row and one CSV line a whole reading, as the log
// writes them. Returns false when the device did not take them all.
bool writeTrendCsv(QIODevice &device, const TrendHistory &history, const QByteArray &head);
