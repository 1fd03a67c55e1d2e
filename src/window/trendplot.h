#pragma once

#include "rules/measurementrow.h"
#include "rules/trendhistory.h"

#include <QColor>
#include <QWidget>

// The trend window's strip chart: eye height and width in UI against the left
// axis, amplitude in mV against the right, over the time since the first
// reading; the limits as dashed lines. Every reading counts, but each pixel
// column draws only the few points that shape it, so a day of readings
// paints as quickly as a minute.
class TrendPlot : public QWidget
{
    Q_OBJECT

public:
    explicit TrendPlot(const TrendHistory &history, QWidget *parent = nullptr);

    void setLimits(const MeasurementLimits &limits);
    static QColor seriesColor(TrendHistory::Series series);

    QSize sizeHint() const override { return {720, 400}; }
    QSize minimumSizeHint() const override { return {320, 200}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    const TrendHistory &m_history;
    MeasurementLimits m_limits;
};
