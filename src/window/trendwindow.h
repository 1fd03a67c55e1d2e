#pragma once

#include "rules/measurementrow.h"
#include "rules/trendhistory.h"
#include "rules/trendstatistics.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class TrendPlot;

// "Zentaval Trend": every reading accepted since the connection (or since
// Reset) as a strip chart, each series' figures beside it, the limits, and
// an indicator that stays lit from the first reading that missed one until
// Reset. Readings of the same instrument after a loss continue after a gap;
// another instrument starts afresh.
class TrendWindow : public QWidget
{
    Q_OBJECT

public:
    explicit TrendWindow(const MeasurementLimits &limits, QWidget *parent = nullptr);

    const TrendHistory &history() const { return m_history; }
    const LimitLatch &latch() const { return m_latch; }
    MeasurementLimits limits() const { return m_limits; }
    // Readings older than this before the newest are folded into one row a
    // minute (a day unless set).
    void setFoldAfterMs(qint64 foldAfterMs) { m_history.setFoldAfterMs(foldAfterMs); }

public slots:
    void instrumentConnected(const QString &identification, const QString &device,
                             const QString &lineSettings);
    void addReading(const MeasurementRow &row);
    void instrumentLost(const QString &reason);
    void reset();
    void exportCsvAs();

private:
    // Writes the readings since Reset to `fileName`; on failure says why.
    bool exportCsv(const QString &fileName, QString *error) const;
    QLineEdit *addLimitEdit(const QString &name, const std::optional<double> &limit);
    void readLimit(QLineEdit *edit, std::optional<double> &limit);
    void showFigures();
    void showIndicator();

    TrendHistory m_history;
    LimitLatch m_latch;
    MeasurementLimits m_limits;
    QString m_identification;
    QString m_device;
    QString m_lineSettings;

    TrendPlot *m_plot;
    QLabel *m_source;
    QLabel *m_figures[TrendHistory::SeriesCount][5] = {}; // last, minimum, maximum, mean, count
    QLineEdit *m_minHeight;
    QLineEdit *m_minWidth;
    QLineEdit *m_minAmplitude;
    QLabel *m_indicator;
    QLabel *m_firstMiss;
};
