#include "instrument/serialports.h"

#include <QSerialPort>
#include <QSerialPortInfo>

SystemSerialPorts::SystemSerialPorts(const QStringList &extraDevicePaths, Enumeration enumeration)
    : m_extraDevicePaths(extraDevicePaths)
    , m_enumeration(enumeration)
{
}

QList<SerialPortEntry> SystemSerialPorts::availablePorts() const
{
    QList<SerialPortEntry> ports;
    if (m_enumeration == Enumeration::SystemAndExtra) {
        const auto infos = QSerialPortInfo::availablePorts();
        for (const QSerialPortInfo &info : infos)
            ports.append({info.portName(), info.systemLocation()});
    }
    for (const QString &path : m_extraDevicePaths)
        ports.append({path, path});
    return ports;
}

bool SystemSerialPorts::isBusy(const SerialPortEntry &port) const
{
    return serialPortIsBusy(port.systemLocation);
}

bool serialPortIsBusy(const QString &systemLocation)
{
    QSerialPort probe;
    probe.setPortName(systemLocation);
    if (probe.open(QIODevice::ReadWrite)) {
        probe.close();
        return false;
    }
    return probe.error() == QSerialPort::PermissionError;
}
