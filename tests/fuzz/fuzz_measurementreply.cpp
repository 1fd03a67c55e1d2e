// Feeds arbitrary bytes, with an arbitrary "bytes available" count, to the decoder of the
// instrument's answer to "read\r\n", and compares the display with one worked out here.
// Input: a mode byte, then the bytes read. Available is, for mode % 4 == 0: the bytes read;
// 1: those minus the next byte; 2: those plus the next byte; 3: the next 8 bytes, little-endian.
// The bytes are read in place (fromRawData): a read past them is one past libFuzzer's buffer.

#include "rules/measurementreply.h"

#include <QStringList>
#include <QtEndian>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>

namespace {

// What the window shows of a reply: the lamp, the bar and the five label texts.
struct Shown
{
    LockLamp lamp = LockLamp::Grey;
    int amplitudeBar = 0;
    QString labels[5];

    bool operator==(const Shown &other) const
    {
        return lamp == other.lamp && amplitudeBar == other.amplitudeBar
            && std::equal(std::begin(labels), std::end(labels), std::begin(other.labels));
    }
};

std::optional<Shown> shown(const std::optional<MeasurementReading> &reading)
{
    if (!reading)
        return std::nullopt;
    const MeasurementLabels labels = labelTexts(*reading);
    return Shown {reading->lamp,
                  reading->amplitudeBar,
                  {labels.quality, labels.amplitude, labels.eyeHeight, labels.eyeWidth, labels.rate}};
}

// What is shown, from the reply's layout alone: "read" first, a NUL last, status bytes at 8 (green)
// and 5 (yellow), five fields of digits and '.', each after a run of other bytes, from byte 11
// within the first min(available, bytes read, 100) bytes.
std::optional<Shown> expectedShown(const QByteArray &buffer, qint64 available)
{
    const qsizetype size = buffer.size();
    if (size < 4 || std::memcmp(buffer.constData(), "read", 4) != 0 || buffer[size - 1] != '\0')
        return std::nullopt;
    Shown d;
    if (size > 8 && buffer[8] == '1')
        d.lamp = LockLamp::Green;
    else if (size > 5 && buffer[5] == '1')
        d.lamp = LockLamp::Yellow;
    const qint64 examined = std::clamp<qint64>(std::min<qint64>(available, size), 0, 100);
    const auto isFieldByte = [](char byte) { return (byte >= '0' && byte <= '9') || byte == '.'; };
    QByteArray fields[5];
    for (qint64 index = 11, field = 0; field < 5; ++field) {
        while (field > 0 && index < examined && !isFieldByte(buffer[index]))
            ++index;
        while (index < examined && isFieldByte(buffer[index]))
            fields[field] += buffer[index++];
    }
    d.labels[0] = QString::fromLatin1(fields[0] + "%");
    // The amplitude is its field as a base-10 int; anything else (empty, a '.', too large) is 0.
    const auto [end, error] = std::from_chars(fields[1].cbegin(), fields[1].cend(), d.amplitudeBar);
    if (error != std::errc() || end != fields[1].cend())
        d.amplitudeBar = 0;
    d.labels[1] = QString::fromLatin1(fields[1] + " mV");
    d.labels[2] = QString::fromLatin1("Height: 0." + fields[2] + " UI");
    d.labels[3] = QString::fromLatin1("Width: 0." + fields[3] + " UI");
    d.labels[4] = QString::fromLatin1(fields[4] + " Mb");
    return d;
}

QByteArray describe(const std::optional<Shown> &d)
{
    if (!d)
        return "rejected";
    return QStringList({QString::number(int(d->lamp)), d->labels[0], QString::number(d->amplitudeBar),
                        d->labels[1], d->labels[2], d->labels[3], d->labels[4]})
        .join(" | ")
        .toUtf8();
}

void check(const QByteArray &buffer, qint64 available)
{
    const std::optional<Shown> display = shown(decodeMeasurementReply(buffer, available));
    const auto require = [&](const std::optional<Shown> &expected, const char *what) {
        if (display == expected)
            return;
        std::fprintf(stderr, "fuzz_measurementreply: %s\n  available=%lld bytes=%s\n  got  %s\n  want %s\n",
                     what, static_cast<long long>(available), buffer.toHex(' ').constData(),
                     describe(display).constData(), describe(expected).constData());
        std::abort();
    };
    require(expectedShown(buffer, available), "the display follows the reply's layout");
    if (!display || buffer.size() <= 101)
        return;
    // Bytes past the first 100 never reach the display (the closing NUL, which decides acceptance,
    // stays in place), nor does an available count past them.
    for (const char filler : {'7', '.', ' ', '\x80'}) {
        QByteArray changed(buffer.constData(), buffer.size());
        std::memset(changed.data() + 100, filler, std::size_t(buffer.size() - 101));
        require(shown(decodeMeasurementReply(changed, available)), "bytes past 100 change the display");
    }
    if (available >= 100)
        require(shown(decodeMeasurementReply(buffer, std::numeric_limits<qint64>::max())),
                "an available count past 100 changes the display");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const int mode = size > 0 ? data[0] % 4 : 0;
    const std::size_t header = mode == 0 ? 1 : mode == 3 ? 9 : 2;
    if (size < header)
        return 0;
    const QByteArray buffer
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data) + header, qsizetype(size - header));
    const qint64 delta = mode == 1 ? -data[1] : mode == 2 ? data[1] : 0;
    const qint64 available = mode == 3 ? qFromLittleEndian<qint64>(data + 1) : buffer.size() + delta;
    check(buffer, available);
    return 0;
}
