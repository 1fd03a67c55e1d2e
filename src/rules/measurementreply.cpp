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

std::optional<MeasurementDisplay> decodeMeasurementReply(const QByteArray &buffer, qint64 available)
{
    if (!buffer.startsWith("read") || !buffer.endsWith('\0'))
        return std::nullopt;

    const int examined
        = int(std::clamp<qint64>(std::min<qint64>(available, buffer.size()), 0, MeasurementBytesExamined));
    unsigned char table[MeasurementBytesExamined];
    for (int i = 0; i < examined; ++i)
        table[i] = static_cast<unsigned char>(buffer.at(i));

    MeasurementDisplay display;
    const auto statusIsSet
        = [&buffer](int position) { return buffer.size() > position && buffer.at(position) == '1'; };
    if (statusIsSet(8))
        display.lamp = LockLamp::Green;
    else if (statusIsSet(5))
        display.lamp = LockLamp::Yellow;

    FieldReader reader(table, examined);
    display.fields[0] = reader.field();
    display.qualityText = display.fields[0] + QLatin1Char('%');
    reader.skipSeparator();
    const QString amplitude = display.fields[1] = reader.field();
    bool ok = false;
    display.amplitude = amplitude.toInt(&ok, 10);
    if (!ok)
        display.amplitude = 0;
    display.amplitudeText = amplitude + QLatin1String(" mV");
    reader.skipSeparator();
    display.fields[2] = reader.field();
    display.heightText = QLatin1String("Height: 0.") + display.fields[2] + QLatin1String(" UI");
    reader.skipSeparator();
    display.fields[3] = reader.field();
    display.widthText = QLatin1String("Width: 0.") + display.fields[3] + QLatin1String(" UI");
    reader.skipSeparator();
    display.fields[4] = reader.field();
    display.rateText = display.fields[4] + QLatin1String(" Mb");
    return display;
}
