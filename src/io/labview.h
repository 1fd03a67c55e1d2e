#pragma once

#include "rules/metricstext.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

#include <deque>
#include <memory>
#include <optional>

class InstrumentSession;

// What the HTTP endpoint serves of the instruments, built afresh from their
// sessions at each request: the Prometheus metrics, the latest reading and
// state of each as JSON, the last ten minutes of eye height, width and
// amplitude, the last capture as the window shows it (PNG), and the page
// that shows them. It observes the sessions and asks them; it holds only the
// ten-minute trend of each and its last capture's picture.
class LabView : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 TrendSpanMs = 10 * 60 * 1000;
    // Ten minutes of readings at the shortest interval (500 ms), and room.
    static constexpr qsizetype TrendMaximumPoints = 1300;

    explicit LabView(QObject *parent = nullptr);
    ~LabView() override;

    // Serves the session, named by its device once it has one and by `name`
    // until then (a device named on the command line, not found yet).
    void addSession(InstrumentSession *session, const QString &name = QString());
    int sessionCount() const { return int(m_served.size()); }

    // The Prometheus families of every session, in order.
    QList<MetricsText::Family> metricFamilies() const;
    QByteArray metrics() const { return MetricsText::render(metricFamilies()); }
    // {"instruments": [...]}: every session, or the one of that device.
    QByteArray readingJson(const QString &device = QString()) const;
    QByteArray trendJson(const QString &device = QString()) const;
    // The last capture of the device (the first session's when empty) as
    // PNG; empty before its first capture or for a device not served.
    QByteArray eyePng(const QString &device = QString()) const;
    // The live page (HTML with its script and style; no other resource).
    static QByteArray page();

    struct TrendPoint
    {
        qint64 timeMs = 0; // since the epoch, UTC
        std::optional<double> height;
        std::optional<double> width;
        std::optional<double> amplitude;
        bool lineBreak = false; // the instrument was lost here
    };

private:
    struct Served;
    const Served *find(const QString &device) const;
    void keepReading(Served &served);
    void keepCapture(Served &served, bool judgedAgain = false);

    std::vector<std::unique_ptr<Served>> m_served;
};
