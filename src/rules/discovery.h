#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The decisions of discovery: what a probe's answer means, which ports came
// and went between two looks at the system's ports, and which may be probed.
namespace Discovery {

// Rows of the port list: row 0 is the prompt ("Select a Device"), so at most
// FoundPortsSize - 1 instruments can be listed.
constexpr int FoundPortsSize = 30;

enum class Verdict {
    NoInstrument, // no answer, or one without the model number
    ListRow,      // a new instrument: list it
    ListFull,     // an instrument, but every row is taken
    Reconnect,    // the lost instrument answers on its port again
};

// What the answer to "?\r\n" on a port means, with rows up to `foundCount`
// taken. `lostInstrumentsPort` says the port is the one the connected
// instrument was lost on.
Verdict judgeAnswer(const QByteArray &answer, int foundCount, bool lostInstrumentsPort);

// What changed between two looks at the ports (their system locations).
struct PortChanges
{
    QStringList appeared;
    QStringList vanished;
};
PortChanges comparePorts(const QStringList &before, const QStringList &now);

// The rows to take out of the port list, last first, given the port location of
// every row (row 0, the prompt, has none): each row whose port vanished, but
// `keptRow`, the instrument connected or waited for.
QList<int> rowsToRemove(const QStringList &rowLocations, const QStringList &vanished, int keptRow);

// A port by its location and the device file that location leads to (a
// /dev/serial/by-id link leads to /dev/ttyUSB0); the device is empty when it
// does not exist.
struct PortIdentity
{
    QString location;
    QString device;
};

// Whether a port may be probed: never the connected instrument's port, under
// whatever name it is reached. `connected` is empty when none is.
bool mayProbe(const PortIdentity &port, const PortIdentity &connected);

} // namespace Discovery
