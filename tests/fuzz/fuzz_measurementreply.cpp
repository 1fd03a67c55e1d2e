// Feeds arbitrary bytes, with an arbitrary "bytes available" count, to the
// decoder of the instrument's answer to "read\r\n".
//
// Input: one mode byte that says where the available count comes from, then
// the bytes read in the pass.
//   mode % 4 == 0: available = the number of bytes read
//   mode % 4 == 1: available = bytes read minus the next byte (may be < 0)
//   mode % 4 == 2: available = bytes read plus the next byte
//   mode % 4 == 3: available = the next 8 bytes, little-endian, any value
//
// The read bytes are looked at in place (QByteArray::fromRawData), so any read
// past their end is a read past libFuzzer's exact-size buffer.

#include "measurement/measurementreply.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace {

[[noreturn]] void fail(const char *what, const QByteArray &buffer, qint64 available)
{
    std::fprintf(stderr, "fuzz_measurementreply: %s\n  available=%lld bytes=%s\n", what,
                 static_cast<long long>(available), buffer.toHex(' ').constData());
    std::abort();
}

#define REQUIRE(condition)                                                                   \
    do {                                                                                     \
        if (!(condition))                                                                    \
            fail(#condition, buffer, available);                                             \
    } while (false)

bool isFieldByte(unsigned char byte)
{
    return (byte >= '0' && byte <= '9') || byte == '.';
}

bool onlyFieldBytes(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0x7f || !isFieldByte(static_cast<unsigned char>(c.unicode())))
            return false;
    }
    return true;
}

// The display as the reply format describes it, written without the decoder's
// help: fields read over the first min(available, size, 100) bytes from byte 11.
struct ExpectedDisplay
{
    bool accepted = false;
    LockLamp lamp = LockLamp::Grey;
    std::string fields[5];
};

ExpectedDisplay expectedDisplay(const unsigned char *bytes, std::size_t size, qint64 available)
{
    ExpectedDisplay expected;
    expected.accepted = size >= 4 && std::memcmp(bytes, "read", 4) == 0 && bytes[size - 1] == 0;
    if (!expected.accepted)
        return expected;

    if (size > 8 && bytes[8] == '1')
        expected.lamp = LockLamp::Green;
    else if (size > 5 && bytes[5] == '1')
        expected.lamp = LockLamp::Yellow;

    qint64 examined = available < 0 ? 0 : available;
    if (examined > qint64(size))
        examined = qint64(size);
    if (examined > 100)
        examined = 100;

    qint64 index = 11;
    for (int field = 0; field < 5; ++field) {
        if (field > 0) {
            while (index < examined && !isFieldByte(bytes[index]))
                ++index;
        }
        while (index < examined && isFieldByte(bytes[index]))
            expected.fields[field].push_back(char(bytes[index++]));
    }
    return expected;
}

// The amplitude is the field as a base-10 int; anything else (empty, a '.',
// out of range) gives 0.
int expectedAmplitude(const std::string &field)
{
    if (field.empty())
        return 0;
    long long value = 0;
    for (const char c : field) {
        if (c < '0' || c > '9')
            return 0;
        value = value * 10 + (c - '0');
        if (value > std::numeric_limits<int>::max())
            return 0;
    }
    return int(value);
}

QString withoutSuffix(const QString &text, const char *suffix)
{
    return text.left(text.size() - qsizetype(std::strlen(suffix)));
}

bool sameDisplay(const MeasurementDisplay &a, const MeasurementDisplay &b)
{
    return a.lamp == b.lamp && a.qualityText == b.qualityText && a.amplitude == b.amplitude
           && a.amplitudeText == b.amplitudeText && a.heightText == b.heightText
           && a.widthText == b.widthText && a.rateText == b.rateText;
}

void checkReply(const QByteArray &buffer, qint64 available)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(buffer.constData());
    const std::size_t size = std::size_t(buffer.size());
    const auto display = decodeMeasurementReply(buffer, available);
    const ExpectedDisplay expected = expectedDisplay(bytes, size, available);

    REQUIRE(display.has_value() == expected.accepted);
    if (!display)
        return;

    REQUIRE(display->lamp == expected.lamp);
    REQUIRE(display->qualityText.endsWith(QLatin1String("%")));
    REQUIRE(display->amplitudeText.endsWith(QLatin1String(" mV")));
    REQUIRE(display->heightText.startsWith(QLatin1String("Height: 0.")));
    REQUIRE(display->heightText.endsWith(QLatin1String(" UI")));
    REQUIRE(display->widthText.startsWith(QLatin1String("Width: 0.")));
    REQUIRE(display->widthText.endsWith(QLatin1String(" UI")));
    REQUIRE(display->rateText.endsWith(QLatin1String(" Mb")));

    const QString fields[5] = {
        withoutSuffix(display->qualityText, "%"),
        withoutSuffix(display->amplitudeText, " mV"),
        withoutSuffix(display->heightText, " UI").mid(10),
        withoutSuffix(display->widthText, " UI").mid(9),
        withoutSuffix(display->rateText, " Mb"),
    };
    int fieldBytes = 0;
    for (int i = 0; i < 5; ++i) {
        REQUIRE(onlyFieldBytes(fields[i]));
        REQUIRE(fields[i] == QLatin1String(expected.fields[i].c_str()));
        fieldBytes += int(fields[i].size());
    }
    // Fields come from bytes 11 to 99 only.
    REQUIRE(fieldBytes <= 100 - 11);
    REQUIRE(display->amplitude == expectedAmplitude(expected.fields[1]));

    if (size <= 101)
        return;

    // Bytes past the first 100 never reach the display (the closing NUL, which
    // decides acceptance, stays in place).
    for (const char filler : {'7', '.', ' ', '\x80'}) {
        QByteArray changed(buffer.constData(), buffer.size());
        std::memset(changed.data() + 100, filler, size - 101);
        const auto again = decodeMeasurementReply(changed, available);
        REQUIRE(again.has_value() && sameDisplay(*again, *display));
    }
    // Nor does an available count beyond them.
    if (available >= 100) {
        const auto larger = decodeMeasurementReply(buffer, std::numeric_limits<qint64>::max());
        REQUIRE(larger.has_value() && sameDisplay(*larger, *display));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::uint8_t mode = data[0] % 4;
    std::size_t header = 1;
    qint64 delta = 0;
    qint64 fixedCount = 0;
    if (mode == 1 || mode == 2) {
        if (size < 2)
            return 0;
        delta = data[1];
        header = 2;
    } else if (mode == 3) {
        if (size < 9)
            return 0;
        std::uint64_t raw = 0;
        for (int i = 7; i >= 0; --i)
            raw = (raw << 8) | data[1 + i];
        std::memcpy(&fixedCount, &raw, sizeof fixedCount);
        header = 9;
    }

    const QByteArray buffer = QByteArray::fromRawData(reinterpret_cast<const char *>(data) + header,
                                                      qsizetype(size - header));
    qint64 available = buffer.size();
    if (mode == 1)
        available -= delta;
    else if (mode == 2)
        available += delta;
    else if (mode == 3)
        available = fixedCount;

    checkReply(buffer, available);
    return 0;
}
