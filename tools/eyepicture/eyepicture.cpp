#include "eyepicture.h"

#include <QTransform>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace EyePicture {

namespace {

constexpr double Pi = 3.14159265358979323846;

// splitmix64: small, fast and the same on every platform, unlike the standard
// distributions whose output differs between libraries.
class Random
{
public:
    explicit Random(quint64 seed)
        : m_state(seed)
    {
    }

    quint64 next()
    {
        quint64 z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Uniform in [0, 1).
    double uniform() { return double(next() >> 11) * (1.0 / 9007199254740992.0); }

    // Standard normal (Box-Muller, both values used).
    double gaussian()
    {
        if (m_hasSpare) {
            m_hasSpare = false;
            return m_spare;
        }
        double u1 = uniform();
        const double u2 = uniform();
        if (u1 < 1e-300)
            u1 = 1e-300;
        const double radius = std::sqrt(-2.0 * std::log(u1));
        m_spare = radius * std::sin(2.0 * Pi * u2);
        m_hasSpare = true;
        return radius * std::cos(2.0 * Pi * u2);
    }

private:
    quint64 m_state;
    double m_spare = 0.0;
    bool m_hasSpare = false;
};

// PRBS7 (x^7 + x^6 + 1), the usual test pattern of serial links.
class Prbs7
{
public:
    explicit Prbs7(quint32 seed)
        : m_state(quint8(seed % 127u + 1u))
    {
    }

    int nextBit()
    {
        const int bit = ((m_state >> 6) ^ (m_state >> 5)) & 1;
        m_state = quint8(((m_state << 1) | bit) & 0x7F);
        return bit;
    }

private:
    quint8 m_state;
};

// The signal model, in unit intervals (UI) and in amplitude units where the
// settled levels are -1 and +1.
constexpr double TransitionTime = 0.62;   // raised-cosine edge, start to end
constexpr double SlowShare = 0.18;        // part of a step that settles slowly (gives ISI)
constexpr double SlowTimeConstant = 0.6;  // settling time constant of that part
constexpr double RandomJitter = 0.018;    // sigma of the random edge jitter
constexpr double DutyCycleJitter = 0.025; // rising edges late, falling edges early
constexpr double PeriodicJitter = 0.03;   // amplitude of a sinusoidal edge modulation
constexpr double PeriodicJitterPeriod = 23.7;
constexpr double VerticalNoise = 0.025; // sigma of the additive noise
constexpr double LevelScale = 0.36;     // settled levels at 14 % and 86 % of the height
constexpr int Bits = 2600;              // bits folded into the picture
constexpr int SamplesPerColumn = 3;
constexpr int EdgesInMemory = 6; // edges that still move a sample; older ones have settled

// Step response from 0 to 1 of an edge at time 0, sampled on a fine table:
// a raised-cosine transition plus a slowly settling share.
class StepResponse
{
public:
    static constexpr double Start = -TransitionTime / 2.0;
    static constexpr double End = EdgesInMemory - 1.0; // after this the step counts as settled
    static constexpr int Entries = 8192;

    StepResponse()
    {
        for (int i = 0; i < Entries; ++i) {
            const double t = Start + (End - Start) * i / (Entries - 1);
            const double fast
                = t >= TransitionTime / 2.0 ? 1.0 : 0.5 + 0.5 * std::sin(Pi * t / TransitionTime);
            const double slow = 1.0 - std::exp(-(t - Start) / SlowTimeConstant);
            m_table[size_t(i)] = (1.0 - SlowShare) * fast + SlowShare * slow;
        }
    }

    double operator()(double t) const
    {
        if (t <= Start)
            return 0.0;
        if (t >= End)
            return 1.0;
        const double position = (t - Start) * ((Entries - 1) / (End - Start));
        const int index = int(position);
        const double fraction = position - index;
        const double *entry = m_table.data() + index;
        return entry[0] + fraction * (entry[1] - entry[0]);
    }

private:
    std::array<double, Entries> m_table {};
};

QRgb rampColour(double value)
{
    struct Stop
    {
        double at;
        int red, green, blue;
    };
    static const Stop stops[] = {
        {0.00, 0, 0, 80},    {0.18, 0, 40, 210}, {0.40, 0, 200, 50},
        {0.60, 235, 220, 0}, {0.80, 255, 40, 0}, {1.00, 255, 255, 255},
    };
    value = std::clamp(value, 0.0, 1.0);
    size_t i = 1;
    while (i + 1 < std::size(stops) && value > stops[i].at)
        ++i;
    const Stop &a = stops[i - 1];
    const Stop &b = stops[i];
    const double f = (value - a.at) / (b.at - a.at);
    auto mix = [f](int from, int to) { return int(std::lround(from + f * (to - from))); };
    return qRgb(mix(a.red, b.red), mix(a.green, b.green), mix(a.blue, b.blue));
}

} // namespace

QImage renderEye(QSize size, quint32 seed)
{
    const int width = size.width();
    const int height = size.height();
    if (width <= 0 || height <= 0)
        return {};

    static const StepResponse step;
    Random random(quint64(seed) * 0x2545F4914F6CDD1Dull + 0x1234567ull);
    Prbs7 pattern(seed);

    // Levels and jittered edge times; edge k lies between bit k-1 and bit k,
    // nominally at time k.
    std::vector<signed char> level(Bits);
    std::vector<double> edge(Bits);
    const double jitterPhase = 2.0 * Pi * random.uniform();
    for (int k = 0; k < Bits; ++k) {
        level[size_t(k)] = pattern.nextBit() ? 1 : -1;
        double shift = RandomJitter * random.gaussian()
            + PeriodicJitter * std::sin(2.0 * Pi * k / PeriodicJitterPeriod + jitterPhase);
        if (k > 0 && level[size_t(k)] != level[size_t(k - 1)])
            shift += level[size_t(k)] > 0 ? DutyCycleJitter : -DutyCycleJitter;
        edge[size_t(k)] = k + shift;
    }

    // Two unit intervals across the picture, crossings at a quarter and three
    // quarters of the width.
    const double columnsPerUi = width / 2.0;
    const int samplesPerUi = std::max(1, int(std::ceil(columnsPerUi * SamplesPerColumn)));
    const double rowsPerUnit = height * LevelScale;
    const double middleRow = height / 2.0;

    std::vector<float> hitStore(size_t(width) * size_t(height), 0.0f);
    float *const hits = hitStore.data();
    const double sampleStep = 1.0 / samplesPerUi;
    for (int n = EdgesInMemory; n + 1 < Bits; ++n) {
        // The edges that still move the signal during bit n; older ones have
        // settled into the starting level.
        const int firstEdge = n - EdgesInMemory + 2;
        const double settled = level[size_t(firstEdge - 1)];
        double changes[EdgesInMemory];
        double times[EdgesInMemory];
        int moving = 0;
        for (int k = firstEdge; k <= n + 1; ++k) {
            const int change = level[size_t(k)] - level[size_t(k - 1)];
            if (change != 0) {
                changes[moving] = change;
                times[moving] = edge[size_t(k)];
                ++moving;
            }
        }

        // Bit n starts half a UI or one and a half UI into the folded window.
        const double folded = (n % 2 == 0) ? 0.5 : 1.5;
        for (int j = 0; j < samplesPerUi; ++j) {
            const double t = n + (j + 0.5) * sampleStep;
            double v = settled;
            for (int m = 0; m < moving; ++m)
                v += changes[m] * step(t - times[m]);
            v += VerticalNoise * random.gaussian();

            double position = folded + (j + 0.5) * sampleStep;
            if (position >= 2.0)
                position -= 2.0;
            const int x = std::min(width - 1, int(position * columnsPerUi));
            const double y = middleRow - v * rowsPerUnit - 0.5;
            const int row = int(std::floor(y));
            const float below = float(y - row);
            if (row >= 0 && row < height)
                hits[row * width + x] += 1.0f - below;
            if (row + 1 >= 0 && row + 1 < height)
                hits[(row + 1) * width + x] += below;
        }
    }

    // Scale so that the densest pixels (the top 0.2 %) are white.
    std::vector<float> nonZero;
    nonZero.reserve(hitStore.size());
    for (float h : hitStore)
        if (h > 0.0f)
            nonZero.push_back(h);
    float full = 1.0f;
    if (!nonZero.empty()) {
        const size_t rank = size_t(double(nonZero.size() - 1) * 0.998);
        std::nth_element(nonZero.begin(), nonZero.begin() + std::ptrdiff_t(rank), nonZero.end());
        full = std::max(nonZero[rank], 1e-6f);
    }

    QImage image(width, height, QImage::Format_RGB32);
    for (int row = 0; row < height; ++row) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(row));
        for (int x = 0; x < width; ++x) {
            const float h = hits[row * width + x];
            line[x] = h > 0.0f ? rampColour(std::sqrt(double(h / full))) : qRgb(0, 0, 0);
        }
    }
    return image;
}

QByteArray bmp24(const QImage &image)
{
    const QImage source = image.convertToFormat(QImage::Format_RGB32);
    const int width = source.width();
    const int height = source.height();
    const int rowBytes = (width * 3 + 3) & ~3;
    const quint32 fileSize = quint32(BitmapHeaderSize) + quint32(rowBytes) * quint32(height);

    QByteArray bytes(int(fileSize), '\0');
    char *header = bytes.data();
    header[0] = 'B';
    header[1] = 'M';
    qToLittleEndian<quint32>(fileSize, header + 2);
    qToLittleEndian<quint32>(BitmapHeaderSize, header + 10); // offset of the pixel data
    qToLittleEndian<quint32>(40, header + 14);               // size of the information header
    qToLittleEndian<qint32>(width, header + 18);
    qToLittleEndian<qint32>(height, header + 22); // positive: bottom row first
    qToLittleEndian<quint16>(1, header + 26);     // planes
    qToLittleEndian<quint16>(24, header + 28);    // bits per pixel
    qToLittleEndian<qint32>(3780, header + 38);   // pixels per metre, across
    qToLittleEndian<qint32>(3780, header + 42);   // and down
    // Reserved words, compression, image size and colour counts stay 0.

    char *out = bytes.data() + BitmapHeaderSize;
    for (int row = height - 1; row >= 0; --row) {
        const auto *line = reinterpret_cast<const QRgb *>(source.constScanLine(row));
        for (int x = 0; x < width; ++x) {
            out[3 * x] = char(qBlue(line[x]));
            out[3 * x + 1] = char(qGreen(line[x]));
            out[3 * x + 2] = char(qRed(line[x]));
        }
        out += rowBytes;
    }
    return bytes;
}

QByteArray captureBitmap(quint32 seed)
{
    const QImage upright = renderEye(QSize(DisplayWidth, DisplayHeight), seed);
    return bmp24(upright.transformed(QTransform().rotate(-90)));
}

} // namespace EyePicture
