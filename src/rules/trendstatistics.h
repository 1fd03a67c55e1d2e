#pragma once

#include "rules/measurementrow.h"

#include <QDateTime>
#include <QStringList>

#include <limits>

// The arithmetic of the trend window, apart from any widget: the figures kept
// for each series and the indicator that remembers a missed limit.

// Last, lowest, highest and mean of every value added since the last reset.
class SeriesStatistics
{
public:
    void add(double value);
    void reset() { *this = SeriesStatistics(); }

    qint64 count() const { return m_count; }
    // Each is NaN while count() is 0.
    double last() const { return m_last; }
    double minimum() const { return m_minimum; }
    double maximum() const { return m_maximum; }
    double mean() const;

private:
    static constexpr double None = std::numeric_limits<double>::quiet_NaN();
    qint64 m_count = 0;
    double m_sum = 0;
    double m_last = None;
    double m_minimum = None;
    double m_maximum = None;
};

// Lights at the first reading that misses a limit and stays lit until reset,
// so that a brief dip is never missed.
class LimitLatch
{
public:
    // Judges one reading by missedLimits(); returns true when it missed one.
    bool judge(const MeasurementRow &row, const MeasurementLimits &limits);
    void reset() { *this = LimitLatch(); }

    bool isLit() const { return m_lit; }
    // The time of the first reading that missed, and what it missed.
    QDateTime firstMiss() const { return m_firstMiss; }
    QStringList firstMissed() const { return m_firstMissed; }
    // Readings that missed since the reset.
    qint64 misses() const { return m_misses; }

private:
    bool m_lit = false;
    QDateTime m_firstMiss;
    QStringList m_firstMissed;
    qint64 m_misses = 0;
};
