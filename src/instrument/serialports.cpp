#include "instrument/serialports.h"

#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>

SystemSerialPorts::SystemSerialPorts(const QStringList &extraDevicePaths, Enumeration enumeration,
                                     LineOverride lineOverride)
    : m_extraDevicePaths(extraDevicePaths)
    , m_enumeration(enumeration)
    , m_lineOverride(lineOverride)
{
}

QList<SerialPortEntry> SystemSerialPorts::availablePorts() const
{
    QList<SerialPortEntry> ports;
    QStringList listed;
    if (m_enumeration == Enumeration::SystemAndExtra) {
        const auto infos = QSerialPortInfo::availablePorts();
        for (const QSerialPortInfo &info : infos) {
            ports.append({info.portName(), info.systemLocation()});
            listed.append(info.systemLocation());
        }
    }
    // A named device that is not there yet (an adapter's /dev/serial/by-id
    // link before it is plugged in) waits until it is; exists() follows links.
    for (const QString &path : m_extraDevicePaths) {
        const QFileInfo file(path);
        if (!file.exists() || listed.contains(file.absoluteFilePath()))
            continue;
        ports.append({path, path});
        listed.append(file.absoluteFilePath());
    }
    return ports;
}

bool SystemSerialPorts::isBusy(const SerialPortEntry &port) const
{
    return serialPortIsBusy(port.systemLocation, lineSettings(port));
}

LineSettings SystemSerialPorts::lineSettings(const SerialPortEntry &port) const
{
    return effectiveLineSettings(systemLineSettings(port.systemLocation), m_lineOverride);
}

bool serialPortIsBusy(const QString &systemLocation, const LineSettings &settings)
{
    QSerialPort probe;
    probe.setPortName(systemLocation);
    applyLineSettings(probe, settings);
    if (probe.open(QIODevice::ReadWrite)) {
        probe.close();
        return false;
    }
    return probe.error() == QSerialPort::PermissionError;
}

bool serialPortIsBusy(const QString &systemLocation)
{
    return serialPortIsBusy(systemLocation, effectiveLineSettings(systemLineSettings(systemLocation), {}));
}

bool isFatalPortError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError:
        return true;
    default:
        return false;
    }
}
