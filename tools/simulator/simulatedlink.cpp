#include "simulatedlink.h"

#include <algorithm>

namespace {

QByteArray tenths(int value)
{
    return QByteArray::number(value / 10) + '.' + QByteArray::number(value % 10);
}

QByteArray twoDigits(int value)
{
    return QByteArray::number(value).rightJustified(2, '0');
}

} // namespace

SimulatedLink::SimulatedLink(quint32 seed)
    : m_random(seed)
{
    m_reading.qualityTenths = profile(LinkState::Locked).quality.target;
    m_reading.amplitude = profile(LinkState::Locked).amplitude.target;
    m_reading.eyeHeight = profile(LinkState::Locked).eyeHeight.target;
    m_reading.eyeWidth = profile(LinkState::Locked).eyeWidth.target;
    m_reading.dataRateTenths = profile(LinkState::Locked).dataRate.target;
    enter(LinkState::Locked);
}

// At 2 readings a second (the program's poll), a locked spell lasts 20 to 80 s,
// a loss of lock 1 to 3 s and settling 2 to 5 s. The ranges of neighbouring
// states meet, so that the eye opens gradually but closes at once.
const SimulatedLink::StateProfile &SimulatedLink::profile(LinkState state)
{
    static const StateProfile unlocked
        = {{0, 0, 0, 0}, {0, 150, 40, 15}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, 2, 6};
    static const StateProfile settling = {{0, 60, 30, 6},
                                          {150, 409, 380, 30},
                                          {10, 30, 20, 3},
                                          {15, 38, 25, 3},
                                          {99400, 99650, 99532, 30},
                                          4,
                                          10};
    static const StateProfile locked = {{60, 250, 125, 4},
                                        {300, 409, 380, 5},
                                        {30, 60, 45, 2},
                                        {38, 66, 52, 2},
                                        {99520, 99545, 99532, 2},
                                        40,
                                        160};
    switch (state) {
    case LinkState::Unlocked:
        return unlocked;
    case LinkState::Settling:
        return settling;
    case LinkState::Locked:
        break;
    }
    return locked;
}

int SimulatedLink::wander(int value, const Range &range)
{
    const int step = range.step > 0 ? m_random.bounded(-range.step, range.step + 1) : 0;
    // A pull of a fifth of the distance keeps the walk near its target.
    const int pull = (range.target - value) / 5;
    return std::clamp(value + step + pull, range.low, range.high);
}

void SimulatedLink::enter(LinkState state)
{
    m_reading.state = state;
    const StateProfile &stay = profile(state);
    m_readingsLeftInState = m_random.bounded(stay.shortestStay, stay.longestStay + 1);
}

LinkReading SimulatedLink::next()
{
    if (m_readingsLeftInState <= 0) {
        switch (m_reading.state) {
        case LinkState::Locked:
            enter(LinkState::Unlocked);
            break;
        case LinkState::Unlocked:
            enter(LinkState::Settling);
            break;
        case LinkState::Settling:
            enter(LinkState::Locked);
            break;
        }
    }
    --m_readingsLeftInState;

    const StateProfile &now = profile(m_reading.state);
    m_reading.qualityTenths = wander(m_reading.qualityTenths, now.quality);
    m_reading.amplitude = wander(m_reading.amplitude, now.amplitude);
    m_reading.eyeHeight = wander(m_reading.eyeHeight, now.eyeHeight);
    m_reading.eyeWidth = wander(m_reading.eyeWidth, now.eyeWidth);
    m_reading.dataRateTenths = wander(m_reading.dataRateTenths, now.dataRate);
    return m_reading;
}

QByteArray formatMeasurementReply(const LinkReading &reading)
{
    const char settling = reading.state == LinkState::Settling ? '1' : '0';
    const char locked = reading.state == LinkState::Locked ? '1' : '0';
    QByteArray reply = "read ";
    reply += settling;
    reply += ", ";
    reply += locked;
    reply += ", ";
    reply += tenths(reading.qualityTenths) + ' ' + QByteArray::number(reading.amplitude) + ' '
        + twoDigits(reading.eyeHeight) + ' ' + twoDigits(reading.eyeWidth) + ' '
        + tenths(reading.dataRateTenths);
    reply += '\0';
    return reply;
}
