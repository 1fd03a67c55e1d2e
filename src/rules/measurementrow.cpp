#include "rules/measurementrow.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

std::optional<double> MeasurementRow::number(const QString &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return value;
}

bool parseLimit(const QString &text, std::optional<double> &limit, QString *error)
{
    if (text.isEmpty())
        return true;
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < 0) {
        if (error)
            *error = QStringLiteral("\"%1\" is no limit: give a number of 0 or more").arg(text);
        return false;
    }
    limit = value;
    return true;
}

QStringList missedLimits(const MeasurementRow &row, const MeasurementLimits &limits)
{
    const auto misses = [](const std::optional<double> &value, const std::optional<double> &minimum) {
        return minimum && !(value && *value >= *minimum);
    };
    QStringList missed;
    if (misses(row.heightValue(), limits.minHeight))
        missed << QStringLiteral("height");
    if (misses(row.widthValue(), limits.minWidth))
        missed << QStringLiteral("width");
    if (misses(row.amplitudeValue(), limits.minAmplitude))
        missed << QStringLiteral("amplitude");
    if (limits.requireLock && row.lamp != LockLamp::Green)
        missed << QStringLiteral("lock");
    return missed;
}

MeasurementRow measurementRow(const MeasurementReading &reading, const QDateTime &time, double elapsedSeconds,
                              const MeasurementLimits &limits)
{
    MeasurementRow row;
    row.time = time.toUTC();
    row.elapsedSeconds = elapsedSeconds;
    row.lamp = reading.lamp;
    row.quality = reading.quality;
    row.amplitude = reading.amplitude;
    // The window shows "0." before the digits even when there are none;
    // an empty field stays an empty cell.
    row.eyeHeight
        = reading.eyeHeightDigits.isEmpty() ? QString() : QLatin1String("0.") + reading.eyeHeightDigits;
    row.eyeWidth
        = reading.eyeWidthDigits.isEmpty() ? QString() : QLatin1String("0.") + reading.eyeWidthDigits;
    row.rate = reading.rate;
    row.pass = missedLimits(row, limits).isEmpty();
    return row;
}

QString lampName(LockLamp lamp)
{
    switch (lamp) {
    case LockLamp::Green:
        return QStringLiteral("green");
    case LockLamp::Yellow:
        return QStringLiteral("yellow");
    case LockLamp::Grey:
        break;
    }
    return QStringLiteral("grey");
}

LogFormat logFormatForFileName(const QString &fileName)
{
    const QString lower = fileName.toLower();
    return lower.endsWith(QLatin1String(".jsonl")) || lower.endsWith(QLatin1String(".json"))
        ? LogFormat::JsonLines
        : LogFormat::Csv;
}

QString logTime(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

QByteArray csvHeader()
{
    return "time,elapsed_s,lamp,quality_pct,amplitude_mv,eye_height_ui,eye_width_ui,rate_mbps,pass\n";
}

QByteArray csvLine(const MeasurementRow &row)
{
    // The values hold only digits and '.', so no cell needs quoting.
    const QStringList cells {logTime(row.time),
                             QString::number(row.elapsedSeconds, 'f', 3),
                             lampName(row.lamp),
                             row.quality,
                             row.amplitude,
                             row.eyeHeight,
                             row.eyeWidth,
                             row.rate,
                             row.pass ? QStringLiteral("1") : QStringLiteral("0")};
    return cells.join(QLatin1Char(',')).toLatin1() + '\n';
}

QByteArray jsonLine(const MeasurementRow &row)
{
    const auto value = [](const QString &text) {
        const std::optional<double> number = MeasurementRow::number(text);
        return number ? QJsonValue(*number) : QJsonValue(QJsonValue::Null);
    };
    // Keys in the order of the CSV columns: QJsonObject sorts them, so the
    // line is put together here.
    const QList<QPair<QString, QJsonValue>> fields {
        {QStringLiteral("time"), logTime(row.time)},
        {QStringLiteral("elapsed_s"), QString::number(row.elapsedSeconds, 'f', 3).toDouble()},
        {QStringLiteral("lamp"), lampName(row.lamp)},
        {QStringLiteral("quality_pct"), value(row.quality)},
        {QStringLiteral("amplitude_mv"), value(row.amplitude)},
        {QStringLiteral("eye_height_ui"), value(row.eyeHeight)},
        {QStringLiteral("eye_width_ui"), value(row.eyeWidth)},
        {QStringLiteral("rate_mbps"), value(row.rate)},
        {QStringLiteral("pass"), row.pass ? 1 : 0},
    };
    QByteArray line = "{";
    for (const auto &[key, field] : fields) {
        if (line.size() > 1)
            line += ",";
        QJsonObject one {{key, field}};
        QByteArray text = QJsonDocument(one).toJson(QJsonDocument::Compact);
        line += text.mid(1, text.size() - 2); // without the braces
    }
    return line + "}\n";
}
