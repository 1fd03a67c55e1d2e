#include "io/labview.h"

#include "io/capturefile.h"
#include "io/eyeoverlay.h"
#include "io/instrumentsession.h"
#include "rules/scpi.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

struct LabView::Served
{
    InstrumentSession *session = nullptr;
    QString name;
    std::deque<TrendPoint> trend;
    QByteArray capturePng;
    QDateTime captureTime; // the session's capture the picture is of
    int pictureVersion = 0; // made again for each capture and each judgement of it

    QString device() const { return session->device().isEmpty() ? name : session->device(); }
};

namespace {

using MetricsText::Family;
using MetricsText::Labels;
using MetricsText::Type;

QJsonValue optionalNumber(const std::optional<double> &value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

QString linkState(const InstrumentSession &session)
{
    switch (session.link()) {
    case InstrumentSession::Link::Polling:
        return QStringLiteral("polling");
    case InstrumentSession::Link::Identifying:
        return QStringLiteral("identifying");
    case InstrumentSession::Link::None:
        break;
    }
    return session.device().isEmpty() ? QStringLiteral("waiting") : QStringLiteral("lost");
}

QString timeText(const QDateTime &time)
{
    return time.isValid() ? logTime(time) : QString();
}

} // namespace

LabView::LabView(QObject *parent)
    : QObject(parent)
{
}

LabView::~LabView() = default;

void LabView::addSession(InstrumentSession *session, const QString &name)
{
    auto served = std::make_unique<Served>();
    served->session = session;
    served->name = name;
    Served *one = served.get();
    connect(session, &InstrumentSession::readingAccepted, this, [this, one] { keepReading(*one); });
    connect(session, &InstrumentSession::lost, this, [one] {
        if (!one->trend.empty())
            one->trend.back().lineBreak = true;
    });
    connect(session, &InstrumentSession::scanEnded, this, [this, one] { keepCapture(*one); });
    // The mask's judgement is drawn over the picture: a new judgement makes
    // it again, and so does no mask (a mask set is judged at once).
    connect(session, &InstrumentSession::maskJudged, this, [this, one] { keepCapture(*one, true); });
    connect(session, &InstrumentSession::maskChanged, this, [this, one] {
        if (!one->session->mask())
            keepCapture(*one, true);
    });
    connect(session, &QObject::destroyed, this, [this, one] {
        m_served.erase(std::remove_if(m_served.begin(), m_served.end(),
                                      [one](const std::unique_ptr<Served> &served) { return served.get() == one; }),
                       m_served.end());
    });
    m_served.push_back(std::move(served));
}

void LabView::keepReading(Served &served)
{
    const std::optional<MeasurementRow> row = served.session->lastReading();
    if (!row)
        return;
    TrendPoint point;
    point.timeMs = row->time.toMSecsSinceEpoch();
    point.height = row->heightValue();
    point.width = row->widthValue();
    point.amplitude = row->amplitudeValue();
    served.trend.push_back(point);
    while (!served.trend.empty()
           && (served.trend.size() > TrendMaximumPoints || served.trend.front().timeMs < point.timeMs - TrendSpanMs))
        served.trend.pop_front();
}

// Made once a scan ends: the session keeps the picture, and a scan after it
// fills the capture again from the template. With a mask in use, the picture
// is annotated as the window shows it; the mask's judgement of a capture
// that just ended comes before the scan's end, and makes it then.
void LabView::keepCapture(Served &served, bool judgedAgain)
{
    const InstrumentSession &session = *served.session;
    const QImage shown = session.lastCapturePicture();
    if (shown.isNull() || (!judgedAgain && session.lastCaptureTime() == served.captureTime))
        return;
    const std::optional<EyeMask::Mask> mask = session.mask();
    const std::optional<EyeMask::Result> result = session.maskResult();
    const QImage picture
        = mask && result ? EyeOverlay::annotated(shown, EyeOverlay::maskLayers(*result, *mask)) : shown;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (picture.save(&buffer, "PNG")) {
        served.capturePng = png;
        served.captureTime = session.lastCaptureTime();
        ++served.pictureVersion;
    }
}

const LabView::Served *LabView::find(const QString &device) const
{
    for (const auto &served : m_served) {
        if (device.isEmpty() || served->device() == device)
            return served.get();
    }
    return nullptr;
}

QList<MetricsText::Family> LabView::metricFamilies() const
{
    auto gauge = [](const char *name, const QString &help) {
        return Family {name, help, Type::Gauge, {}};
    };
    auto counter = [](const char *name, const QString &help) {
        return Family {name, help, Type::Counter, {}};
    };
    Family up = gauge("zentaval_up", QStringLiteral("1 while the instrument is connected and polled, else 0."));
    Family info = gauge("zentaval_instrument_info",
                        QStringLiteral("The instrument's identification, once identified (kept while it is lost)."));
    Family height = gauge("zentaval_eye_height_unit_intervals", QStringLiteral("Eye height of the latest reading, in unit intervals."));
    Family width = gauge("zentaval_eye_width_unit_intervals", QStringLiteral("Eye width of the latest reading, in unit intervals."));
    Family amplitude = gauge("zentaval_amplitude_volts", QStringLiteral("Amplitude of the latest reading, in volts (the instrument reports mV)."));
    Family rate = gauge("zentaval_data_rate_bytes_per_second",
                        QStringLiteral("Data rate of the latest reading, in bytes per second (the instrument reports Mb/s)."));
    Family quality = gauge("zentaval_quality_ratio", QStringLiteral("Quality of the latest reading, 0 to 1 (the instrument reports %)."));
    Family locked = gauge("zentaval_locked", QStringLiteral("1 when the latest reading's lock lamp is green, else 0."));
    Family limitsMet = gauge("zentaval_limits_met", QStringLiteral("1 when the latest reading meets every limit set, else 0."));
    Family lastReading = gauge("zentaval_last_reading_timestamp_seconds",
                               QStringLiteral("When the latest reading was accepted, in seconds since the epoch."));
    Family readings = counter("zentaval_readings_total", QStringLiteral("Readings accepted."));
    Family misses = counter("zentaval_limit_misses_total", QStringLiteral("Readings that missed a limit."));
    Family scans = counter("zentaval_scans_total",
                           QStringLiteral("Scans ended: with the capture whole, with part of it, or with none kept."));
    Family losses = counter("zentaval_connection_losses_total", QStringLiteral("Times the connected instrument went away."));
    Family maskHits = gauge("zentaval_mask_hits",
                            QStringLiteral("Pixels of the last capture's traces inside the mask in use."));
    Family maskMargin = gauge("zentaval_mask_margin_ratio",
                              QStringLiteral("How far the mask in use grows before its first hit on the last capture, "
                                             "-1 to 1 (the margin in % / 100; below 0 with hits as placed)."));

    for (const auto &served : m_served) {
        const InstrumentSession &session = *served->session;
        const Labels device {{"device", served->device()}};
        auto add = [&device](Family &family, const std::optional<double> &value, double scale = 1) {
            if (value)
                family.samples.append({device, *value * scale});
        };
        up.samples.append({device, session.link() == InstrumentSession::Link::Polling ? 1.0 : 0.0});
        if (!session.identificationAnswer().isEmpty()) {
            const QList<QByteArray> fields = Scpi::identity(session.identificationAnswer()).split(',');
            info.samples.append({device + Labels {{"model", QString::fromLatin1(fields.value(1))},
                                                  {"serial", QString::fromLatin1(fields.value(2))},
                                                  {"firmware", QString::fromLatin1(fields.value(3))}},
                                 1});
        }
        if (const std::optional<MeasurementRow> row = session.lastReading()) {
            add(height, row->heightValue());
            add(width, row->widthValue());
            add(amplitude, row->amplitudeValue(), 1e-3);
            add(rate, MeasurementRow::number(row->rate), 1e6 / 8);
            add(quality, MeasurementRow::number(row->quality), 1e-2);
            locked.samples.append({device, row->lamp == LockLamp::Green ? 1.0 : 0.0});
            if (session.limits().any())
                limitsMet.samples.append({device, row->pass ? 1.0 : 0.0});
            lastReading.samples.append({device, row->time.toMSecsSinceEpoch() / 1000.0});
        }
        const InstrumentSession::Counts counts = session.counts();
        readings.samples.append({device, double(counts.readings)});
        misses.samples.append({device, double(counts.limitMisses)});
        scans.samples.append({device + Labels {{"outcome", QStringLiteral("complete")}}, double(counts.scansComplete)});
        scans.samples.append({device + Labels {{"outcome", QStringLiteral("incomplete")}}, double(counts.scansIncomplete)});
        scans.samples.append({device + Labels {{"outcome", QStringLiteral("failed")}}, double(counts.scansFailed)});
        losses.samples.append({device, double(counts.connectionLosses)});
        const std::optional<EyeMask::Result> mask = session.maskResult();
        if (mask && mask->judged()) {
            maskHits.samples.append({device, double(mask->hits.total)});
            maskMargin.samples.append({device, mask->marginPercent / 100.0});
        }
    }
    return {up, info, height, width, amplitude, rate, quality, locked, limitsMet, lastReading,
            readings, misses, scans, losses, maskHits, maskMargin};
}

QByteArray LabView::readingJson(const QString &device) const
{
    QJsonArray instruments;
    for (const auto &served : m_served) {
        if (!device.isEmpty() && served->device() != device)
            continue;
        const InstrumentSession &session = *served->session;
        QJsonObject instrument {{"device", served->device()},
                                {"state", linkState(session)},
                                {"identification", session.identification()},
                                {"lastReadingTime", timeText(session.lastReadingTime())}};
        if (!session.identificationAnswer().isEmpty()) {
            const QList<QByteArray> fields = Scpi::identity(session.identificationAnswer()).split(',');
            instrument.insert("model", QString::fromLatin1(fields.value(1)));
            instrument.insert("serial", QString::fromLatin1(fields.value(2)));
            instrument.insert("firmware", QString::fromLatin1(fields.value(3)));
        }
        const MeasurementLimits limits = session.limits();
        if (limits.any())
            instrument.insert("limits", QJsonObject {{"minHeightUI", optionalNumber(limits.minHeight)},
                                                     {"minWidthUI", optionalNumber(limits.minWidth)},
                                                     {"minAmplitudeMv", optionalNumber(limits.minAmplitude)},
                                                     {"requireLock", limits.requireLock}});
        if (const std::optional<MeasurementRow> row = session.lastReading()) {
            QJsonObject reading {{"time", timeText(row->time)},
                                 {"eyeHeightUI", optionalNumber(row->heightValue())},
                                 {"eyeWidthUI", optionalNumber(row->widthValue())},
                                 {"amplitudeMv", optionalNumber(row->amplitudeValue())},
                                 {"rateMbps", optionalNumber(MeasurementRow::number(row->rate))},
                                 {"qualityPercent", optionalNumber(MeasurementRow::number(row->quality))},
                                 {"lock", lampName(row->lamp)}};
            if (limits.any()) {
                reading.insert("pass", row->pass);
                reading.insert("missed", QJsonArray::fromStringList(missedLimits(*row, limits)));
            }
            instrument.insert("reading", reading);
        } else {
            instrument.insert("reading", QJsonValue::Null);
        }
        const InstrumentSession::Counts counts = session.counts();
        instrument.insert("counts", QJsonObject {{"readings", double(counts.readings)},
                                                 {"limitMisses", double(counts.limitMisses)},
                                                 {"scansComplete", double(counts.scansComplete)},
                                                 {"scansIncomplete", double(counts.scansIncomplete)},
                                                 {"scansFailed", double(counts.scansFailed)},
                                                 {"connectionLosses", double(counts.connectionLosses)}});
        instrument.insert("scanning", session.scan() != InstrumentSession::Scan::Idle);
        instrument.insert("captureTime", timeText(served->captureTime));
        instrument.insert("pictureVersion", served->pictureVersion);
        if (const std::optional<EyeMask::Result> mask = session.maskResult())
            instrument.insert("mask", QJsonObject {{"name", mask->maskName},
                                                   {"judged", mask->judged()},
                                                   {"hits", double(mask->hits.total)},
                                                   {"marginPercent", mask->marginPercent},
                                                   {"pass", mask->pass},
                                                   {"summary", EyeMask::summary(*mask)}});
        instruments.append(instrument);
    }
    return QJsonDocument(QJsonObject {{"instruments", instruments}}).toJson(QJsonDocument::Compact);
}

QByteArray LabView::trendJson(const QString &device) const
{
    QJsonArray instruments;
    for (const auto &served : m_served) {
        if (!device.isEmpty() && served->device() != device)
            continue;
        // [time ms, height UI, width UI, amplitude mV]; a null row where the
        // instrument was lost.
        QJsonArray points;
        for (const TrendPoint &point : served->trend) {
            points.append(QJsonArray {double(point.timeMs), optionalNumber(point.height), optionalNumber(point.width),
                                      optionalNumber(point.amplitude)});
            if (point.lineBreak)
                points.append(QJsonValue::Null);
        }
        instruments.append(QJsonObject {{"device", served->device()}, {"points", points}});
    }
    return QJsonDocument(QJsonObject {{"spanSeconds", double(TrendSpanMs / 1000)}, {"instruments", instruments}})
        .toJson(QJsonDocument::Compact);
}

QByteArray LabView::eyePng(const QString &device) const
{
    const Served *served = find(device);
    return served ? served->capturePng : QByteArray();
}

QByteArray LabView::page()
{
    QFile file(QStringLiteral(":/http/page.html"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
