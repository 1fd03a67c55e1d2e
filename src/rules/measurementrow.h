#pragma once

#include "rules/measurementreply.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

// One accepted measurement as it is kept: logged by the window and by
// zentaval-cli, plotted by the trend window.

// Limits a reading must meet; an unset one is not checked.
struct MeasurementLimits
{
    std::optional<double> minHeight;    // UI
    std::optional<double> minWidth;     // UI
    std::optional<double> minAmplitude; // mV
    bool requireLock = false;           // green lock lamp

    bool any() const { return minHeight || minWidth || minAmplitude || requireLock; }
};

struct MeasurementRow
{
    QDateTime time;            // UTC
    double elapsedSeconds = 0; // since the first "read\r\n" of the run
    LockLamp lamp = LockLamp::Grey;
    // The values as the window shows them, without their units; an empty
    // text is a field the instrument left empty. Eye height and width are
    // "0." and the instrument's digits.
    QString quality;
    QString amplitude;
    QString eyeHeight;
    QString eyeWidth;
    QString rate;
    bool pass = true; // every limit met

    // A value as a number; nothing when the field is empty or no number
    // ("1.2.3").
    static std::optional<double> number(const QString &text);
    std::optional<double> heightValue() const { return number(eyeHeight); }
    std::optional<double> widthValue() const { return number(eyeWidth); }
    std::optional<double> amplitudeValue() const { return number(amplitude); }
};

// Reads a limit given on a command line: a number of zero or more. An empty
// text leaves the limit unset. On a bad value returns false and says why.
bool parseLimit(const QString &text, std::optional<double> &limit, QString *error);

// The limits a row misses, by name ("height", "width", "amplitude", "lock"),
// in that order; empty when it meets them all. A missing or unreadable value
// misses the limit set on it.
QStringList missedLimits(const MeasurementRow &row, const MeasurementLimits &limits);

// The row of a decoded reply, judged against the limits: it passes when it
// misses none.
MeasurementRow measurementRow(const MeasurementReading &reading, const QDateTime &time, double elapsedSeconds,
                              const MeasurementLimits &limits = {});

// "green", "yellow" or "grey".
QString lampName(LockLamp lamp);

// The log's two formats: CSV with "#" comment lines, or JSON Lines.
enum class LogFormat { Csv, JsonLines };

// ".jsonl" and ".json" are JSON Lines, anything else CSV.
LogFormat logFormatForFileName(const QString &fileName);

// "time,elapsed_s,lamp,quality_pct,amplitude_mv,eye_height_ui,eye_width_ui,rate_mbps,pass"
QByteArray csvHeader();
// One line each, ending in "\n".
QByteArray csvLine(const MeasurementRow &row);
QByteArray jsonLine(const MeasurementRow &row);
// A row's time as the log writes it: UTC, ISO 8601 with milliseconds and "Z".
QString logTime(const QDateTime &time);
