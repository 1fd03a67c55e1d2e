#include "rules/measurementreply.h"

#include <algorithm>

namespace {

// Only the bytes 0x30-0x39 are digits, whatever the locale.
bool isFieldByte(int byte)
{
    return (byte >= '0' && byte <= '9') || byte == '.';
}

class FieldReader
{
public:
    FieldReader(const unsigned char *bytes, int length)
        : m_bytes(bytes)
        , m_length(length)
    {
    }

    QString field()
    {
        QString text;
        while (m_index < m_length && isFieldByte(m_bytes[m_index]))
            text.append(QLatin1Char(char(m_bytes[m_index++])));
        return text;
    }

    void skipSeparator()
    {
        while (m_index < m_length && !isFieldByte(m_bytes[m_index]))
            ++m_index;
    }

private:
    const unsigned char *m_bytes;
    int m_length;
    int m_index = 11;
};

} // namespace

std::optional<MeasurementReading> decodeMeasurementReply(const QByteArray &buffer, qint64 available)
{
    if (!buffer.startsWith("read") || !buffer.endsWith('\0'))
        return std::nullopt;

    const int examined
        = int(std::clamp<qint64>(std::min<qint64>(available, buffer.size()), 0, MeasurementBytesExamined));
    unsigned char table[MeasurementBytesExamined];
    for (int i = 0; i < examined; ++i)
        table[i] = static_cast<unsigned char>(buffer.at(i));

    MeasurementReading reading;
    const auto statusIsSet
        = [&buffer](int position) { return buffer.size() > position && buffer.at(position) == '1'; };
    if (statusIsSet(8))
        reading.lamp = LockLamp::Green;
    else if (statusIsSet(5))
        reading.lamp = LockLamp::Yellow;

    FieldReader reader(table, examined);
    reading.quality = reader.field();
    reader.skipSeparator();
    reading.amplitude = reader.field();
    reader.skipSeparator();
    reading.eyeHeightDigits = reader.field();
    reader.skipSeparator();
    reading.eyeWidthDigits = reader.field();
    reader.skipSeparator();
    reading.rate = reader.field();

    bool ok = false;
    reading.amplitudeBar = reading.amplitude.toInt(&ok, 10);
    if (!ok)
        reading.amplitudeBar = 0;
    return reading;
}

MeasurementLabels labelTexts(const MeasurementReading &reading)
{
    // "0." stands before the eye's digits even when there are none.
    return {reading.quality + QLatin1Char('%'), reading.amplitude + QLatin1String(" mV"),
            QLatin1String("Height: 0.") + reading.eyeHeightDigits + QLatin1String(" UI"),
            QLatin1String("Width: 0.") + reading.eyeWidthDigits + QLatin1String(" UI"),
            reading.rate + QLatin1String(" Mb")};
}
