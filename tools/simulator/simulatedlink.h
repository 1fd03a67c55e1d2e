#pragma once

#include <QByteArray>
#include <QRandomGenerator>

// The optical link as the simulated instrument measures it. The link is locked
// most of the time; now and then it loses lock (the eye closes), then settles
// for a few readings before it locks again. Every reading moves the values a
// small random step, so that a series of readings wanders like a real one.
// One reading is one step of the link; the same seed gives the same readings.

enum class LinkState { Unlocked, Settling, Locked };

struct LinkReading
{
    LinkState state = LinkState::Locked;
    int qualityTenths = 0;  // the percentage figure, in tenths of a percent
    int amplitude = 0;      // mV, 0 to 409
    int eyeHeight = 0;      // hundredths of a unit interval, 0 to 99
    int eyeWidth = 0;       // hundredths of a unit interval, 0 to 99
    int dataRateTenths = 0; // tenths of Mb/s
};

class SimulatedLink
{
public:
    explicit SimulatedLink(quint32 seed);

    LinkReading next();

private:
    struct Range
    {
        int low;
        int high;
        int target;
        int step;
    };
    struct StateProfile
    {
        Range quality;
        Range amplitude;
        Range eyeHeight;
        Range eyeWidth;
        Range dataRate;
        int shortestStay;
        int longestStay;
    };

    static const StateProfile &profile(LinkState state);
    int wander(int value, const Range &range);
    void enter(LinkState state);

    QRandomGenerator m_random;
    LinkReading m_reading;
    int m_readingsLeftInState = 0;
};

// The answer to "read\r\n" for a reading: "read", status bytes 4 to 10 with the
// settling flag at byte 5 and the locked flag at byte 8, the five fields from
// byte 11 separated by single spaces, and a closing NUL byte.
QByteArray formatMeasurementReply(const LinkReading &reading);
