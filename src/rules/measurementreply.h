#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Decoding of the instrument's answer to "read\r\n": "read", status bytes at
// 5 (settling) and 8 (locked), five measurement fields from byte 11 on, and a
// closing NUL byte.

enum class LockLamp { Grey, Yellow, Green };

// One accepted reply: the lock lamp and the five fields as the instrument
// wrote them (digits and '.', possibly empty).
struct MeasurementReading
{
    LockLamp lamp = LockLamp::Grey;
    QString quality;         // percent
    QString amplitude;       // mV
    QString eyeHeightDigits; // the digits after "0." of the eye height in UI
    QString eyeWidthDigits;  // the digits after "0." of the eye width in UI
    QString rate;            // Mb/s
    // The amplitude as a whole number of mV for the amplitude bar; 0 when
    // the field is none (empty, with a '.', beyond int).
    int amplitudeBar = 0;
};

// The texts the window shows for a reading, each with its unit.
struct MeasurementLabels
{
    QString quality;   // "12.5%"
    QString amplitude; // "380 mV"
    QString eyeHeight; // "Height: 0.45 UI"
    QString eyeWidth;  // "Width: 0.52 UI"
    QString rate;      // "9953.2 Mb"
};

// At most this many bytes of a reply are examined.
constexpr int MeasurementBytesExamined = 100;

// Decodes the bytes read in one pass. `available` is the count the port
// reported before the read. Returns nothing when the reply is not accepted
// (wrong prefix or no closing NUL).
std::optional<MeasurementReading> decodeMeasurementReply(const QByteArray &buffer, qint64 available);

MeasurementLabels labelTexts(const MeasurementReading &reading);
