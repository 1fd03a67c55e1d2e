#include "window/trendplot.h"

#include <QDateTime>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

// Room for the axes' labels around the plotting area.
constexpr int LeftMargin = 56;
constexpr int RightMargin = 56;
constexpr int TopMargin = 22;
constexpr int BottomMargin = 26;
// The time axis spans at least this much, so the first readings do not
// stretch across the whole width.
constexpr double ShortestSpanSeconds = 60;

// A value axis from `low` to `high` in steps of 1, 2 or 5 times a power of
// ten, about `ticks` of them.
struct Axis
{
    double low = 0;
    double high = 1;
    double step = 0.2;
};

Axis valueAxis(double low, double high, int ticks)
{
    if (!std::isfinite(low) || !std::isfinite(high))
        return {};
    // A little room above and below, so no line runs along the frame.
    const double margin = high - low < 1e-9 ? std::max(std::abs(high) * 0.05, 0.01) : (high - low) * 0.04;
    low -= margin;
    high += margin;
    const double rough = (high - low) / std::max(1, ticks);
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = power;
    for (double factor : {1.0, 2.0, 5.0, 10.0}) {
        step = factor * power;
        if (step >= rough)
            break;
    }
    return {std::floor(low / step) * step, std::ceil(high / step) * step, step};
}

// The lowest and highest value the axis must show: the readings and the
// limits drawn against it.
std::pair<double, double> extent(std::initializer_list<const SeriesStatistics *> series,
                                 std::initializer_list<std::optional<double>> limits)
{
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    for (const SeriesStatistics *statistics : series) {
        if (statistics->count() > 0) {
            low = std::min(low, statistics->minimum());
            high = std::max(high, statistics->maximum());
        }
    }
    for (const std::optional<double> &limit : limits) {
        if (limit) {
            low = std::min(low, *limit);
            high = std::max(high, *limit);
        }
    }
    return {low, high};
}

// Steps of the time axis, in seconds: round ones on a clock.
double timeStep(double span, int ticks)
{
    static const double steps[]
        = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 10800, 21600, 43200};
    for (double step : steps) {
        if (span / step <= ticks)
            return step;
    }
    return 86400;
}

QString valueText(double value, double step)
{
    const int decimals = std::clamp(int(std::ceil(-std::log10(step))), 0, 6);
    return QString::number(value, 'f', decimals);
}

} // namespace

TrendPlot::TrendPlot(const TrendHistory &history, QWidget *parent)
    : QWidget(parent)
    , m_history(history)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TrendPlot::setLimits(const MeasurementLimits &limits)
{
    m_limits = limits;
    update();
}

QColor TrendPlot::seriesColor(TrendHistory::Series series)
{
    switch (series) {
    case TrendHistory::Height:
        return QColor(31, 119, 180);
    case TrendHistory::Width:
        return QColor(44, 160, 44);
    case TrendHistory::Amplitude:
        break;
    }
    return QColor(230, 120, 10);
}

void TrendPlot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    const QRect area = rect().adjusted(LeftMargin, TopMargin, -RightMargin, -BottomMargin);
    if (area.width() < 10 || area.height() < 10)
        return;
    const QFontMetrics metrics = painter.fontMetrics();
    const QColor text = palette().color(QPalette::Text);
    const QColor grid = palette().color(QPalette::Mid);

    // The value axes.
    const int valueTicks = std::max(2, area.height() / 40);
    const auto [uiLow, uiHigh]
        = extent({&m_history.statistics(TrendHistory::Height), &m_history.statistics(TrendHistory::Width)},
                 {m_limits.minHeight, m_limits.minWidth});
    const Axis ui = std::isfinite(uiLow) ? valueAxis(uiLow, uiHigh, valueTicks) : Axis {0, 1, 0.2};
    const auto [mvLow, mvHigh]
        = extent({&m_history.statistics(TrendHistory::Amplitude)}, {m_limits.minAmplitude});
    const Axis mv = std::isfinite(mvLow) ? valueAxis(mvLow, mvHigh, valueTicks) : Axis {0, 500, 100};
    const auto yOf = [&area](const Axis &axis, double value) {
        return area.bottom() - (value - axis.low) / (axis.high - axis.low) * area.height();
    };

    painter.setPen(QPen(grid, 0, Qt::DotLine));
    for (double value = ui.low; value <= ui.high + ui.step / 2; value += ui.step) {
        const int y = int(std::lround(yOf(ui, value)));
        painter.drawLine(area.left(), y, area.right(), y);
    }
    painter.setPen(text);
    for (double value = ui.low; value <= ui.high + ui.step / 2; value += ui.step) {
        const int y = int(std::lround(yOf(ui, value)));
        painter.drawText(QRect(0, y - 10, LeftMargin - 6, 20), Qt::AlignRight | Qt::AlignVCenter,
                         valueText(value, ui.step));
    }
    for (double value = mv.low; value <= mv.high + mv.step / 2; value += mv.step) {
        const int y = int(std::lround(yOf(mv, value)));
        painter.drawText(QRect(area.right() + 6, y - 10, RightMargin - 6, 20),
                         Qt::AlignLeft | Qt::AlignVCenter, valueText(value, mv.step));
    }
    painter.drawText(QRect(0, 0, LeftMargin - 6, TopMargin), Qt::AlignRight | Qt::AlignVCenter, tr("UI"));
    painter.drawText(QRect(area.right() + 6, 0, RightMargin - 6, TopMargin), Qt::AlignLeft | Qt::AlignVCenter,
                     tr("mV"));
    painter.drawRect(area.adjusted(0, 0, -1, -1));

    if (m_history.isEmpty()) {
        painter.drawText(area, Qt::AlignCenter, tr("No readings since the connection or the last Reset"));
        return;
    }

    // The time axis: seconds since the first reading, labelled with the
    // local time of day.
    const double xFrom = m_history.firstElapsed();
    const double xTo = std::max(m_history.lastElapsed(), xFrom + ShortestSpanSeconds);
    const auto xOf = [&](double x) { return area.left() + (x - xFrom) / (xTo - xFrom) * area.width(); };
    const qint64 lastMs = m_history.lastTimeMs();
    const QDateTime last = QDateTime::fromMSecsSinceEpoch(lastMs);
    // Local clock seconds at elapsed 0.
    const double clockAtZero = (lastMs / 1000.0 + last.offsetFromUtc()) - m_history.lastElapsed();
    const int labelWidth = metrics.horizontalAdvance(QStringLiteral("00:00:00")) + 16;
    const double step = timeStep(xTo - xFrom, std::max(1, area.width() / labelWidth));
    const QString format = step < 60 ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm");
    for (double clock = std::ceil((clockAtZero + xFrom) / step) * step; clock <= clockAtZero + xTo;
         clock += step) {
        const int x = int(std::lround(xOf(clock - clockAtZero)));
        painter.setPen(QPen(grid, 0, Qt::DotLine));
        painter.drawLine(x, area.top(), x, area.bottom());
        painter.setPen(text);
        const QString label = QTime(0, 0).addSecs(int(std::fmod(clock, 86400.0))).toString(format);
        painter.drawText(QRect(x - labelWidth / 2, area.bottom() + 4, labelWidth, BottomMargin - 4),
                         Qt::AlignHCenter | Qt::AlignTop, label);
    }

    // Limits, then the readings over them.
    painter.setClipRect(area);
    const auto drawLimit
        = [&](const std::optional<double> &limit, const Axis &axis, TrendHistory::Series series) {
              if (!limit)
                  return;
              painter.setPen(QPen(seriesColor(series), 1.5, Qt::DashLine));
              const double y = yOf(axis, *limit);
              painter.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
          };
    drawLimit(m_limits.minHeight, ui, TrendHistory::Height);
    drawLimit(m_limits.minWidth, ui, TrendHistory::Width);
    drawLimit(m_limits.minAmplitude, mv, TrendHistory::Amplitude);

    for (const TrendHistory::Series series :
         {TrendHistory::Amplitude, TrendHistory::Width, TrendHistory::Height}) {
        const Axis &axis = series == TrendHistory::Amplitude ? mv : ui;
        painter.setPen(QPen(seriesColor(series), 1));
        const auto lines = m_history.linesToDraw(series, xFrom, xTo, area.width());
        QPolygonF polyline;
        for (const std::vector<QPointF> &line : lines) {
            polyline.resize(qsizetype(line.size()));
            for (size_t index = 0; index < line.size(); ++index)
                polyline[qsizetype(index)] = QPointF(xOf(line[index].x()), yOf(axis, line[index].y()));
            // A line with more points than the plot has columns is a band of
            // vertical strokes, where smoothing only costs time (a month's
            // plot took twice as long to paint with it).
            painter.setRenderHint(QPainter::Antialiasing, polyline.size() <= area.width());
            if (polyline.size() == 1)
                painter.drawEllipse(polyline.front(), 1.5, 1.5);
            else
                painter.drawPolyline(polyline);
        }
    }
}
