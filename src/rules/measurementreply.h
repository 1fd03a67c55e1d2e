#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Decoding of the instrument's answer to "read\r\n": "read", status bytes at
// 5 (settling) and 8 (locked), five measurement fields from byte 11 on, and a
// closing NUL byte.

enum class LockLamp { Grey, Yellow, Green };

struct MeasurementDisplay
{
    LockLamp lamp = LockLamp::Grey;
    QString qualityText;   // QFactorLabel
    int amplitude = 0;     // AmplitudeBar
    QString amplitudeText; // VoltageLabel
    QString heightText;    // HeightLabel
    QString widthText;     // WidthLabel
    QString rateText;      // RateLabel
    // The five fields as the instrument wrote them (digits and '.', possibly
    // empty): quality, amplitude, eye height and width digits, data rate.
    QString fields[5];
};

// At most this many bytes of a reply are examined.
constexpr int MeasurementBytesExamined = 100;

// Decodes the bytes read in one pass. `available` is the count the port
// reported before the read. Returns nothing when the reply is not accepted
// (wrong prefix or no closing NUL).
std::optional<MeasurementDisplay> decodeMeasurementReply(const QByteArray &buffer, qint64 available);
