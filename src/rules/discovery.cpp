#include "rules/discovery.h"

#include "rules/identification.h"

namespace Discovery {

Verdict judgeAnswer(const QByteArray &answer, int foundCount, bool lostInstrumentsPort)
{
    if (!Identification::identifiesInstrument(answer))
        return Verdict::NoInstrument;
    if (lostInstrumentsPort)
        return Verdict::Reconnect;
    return foundCount < FoundPortsSize ? Verdict::ListRow : Verdict::ListFull;
}

PortChanges comparePorts(const QStringList &before, const QStringList &now)
{
    PortChanges changes;
    for (const QString &location : now) {
        if (!before.contains(location) && !changes.appeared.contains(location))
            changes.appeared << location;
    }
    for (const QString &location : before) {
        if (!now.contains(location) && !changes.vanished.contains(location))
            changes.vanished << location;
    }
    return changes;
}

QList<int> rowsToRemove(const QStringList &rowLocations, const QStringList &vanished, int keptRow)
{
    QList<int> rows;
    for (int row = int(rowLocations.size()) - 1; row >= 1; --row) {
        if (row != keptRow && vanished.contains(rowLocations.at(row)))
            rows << row;
    }
    return rows;
}

bool mayProbe(const PortIdentity &port, const PortIdentity &connected)
{
    if (connected.location.isEmpty())
        return true;
    if (port.location == connected.location)
        return false;
    return port.device.isEmpty() || port.device != connected.device;
}

} // namespace Discovery
