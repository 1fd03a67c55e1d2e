#include "rules/trendstatistics.h"

#include <cmath>

void SeriesStatistics::add(double value)
{
    if (!std::isfinite(value))
        return;
    m_minimum = m_count == 0 ? value : std::min(m_minimum, value);
    m_maximum = m_count == 0 ? value : std::max(m_maximum, value);
    m_last = value;
    m_sum += value;
    ++m_count;
}

double SeriesStatistics::mean() const
{
    return m_count == 0 ? None : m_sum / double(m_count);
}

bool LimitLatch::judge(const MeasurementRow &row, const MeasurementLimits &limits)
{
    const QStringList missed = missedLimits(row, limits);
    if (missed.isEmpty())
        return false;
    ++m_misses;
    if (!m_lit) {
        m_lit = true;
        m_firstMiss = row.time;
        m_firstMissed = missed;
    }
    return true;
}
