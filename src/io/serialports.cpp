#include "io/serialports.h"

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

QList<SerialPortEntry> SystemPortEnumeration::enumerateSystemPorts()
{
    QList<SerialPortEntry> ports;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos)
        ports.append({info.portName(), info.systemLocation()});
    return ports;
}

SystemPortEnumeration::SystemPortEnumeration(Enumerate enumerate, const QString &deviceFolder,
                                             qint64 maximumAgeMs)
    : m_enumerate(std::move(enumerate))
    , m_deviceFolder(deviceFolder)
    , m_maximumAgeMs(maximumAgeMs)
{
}

QList<SerialPortEntry> SystemPortEnumeration::ports()
{
    // A system without the folder (Windows) has no time to go by: its ports
    // are enumerated at every look.
    const QFileInfo folder(m_deviceFolder);
    const QDateTime changed = folder.exists() ? folder.lastModified() : QDateTime();
    const bool folderMoved = !changed.isValid() || changed != m_folderChanged;
    if (!m_ports || folderMoved || m_settling || m_age.hasExpired(m_maximumAgeMs)) {
        m_ports = m_enumerate();
        m_age.start();
        // The device node comes before the system has finished setting the
        // device up: the look after a change enumerates once more.
        m_settling = folderMoved && m_folderChanged.isValid();
        m_folderChanged = changed;
    }
    return *m_ports;
}

QList<SerialPortEntry> SystemSerialPorts::availablePorts() const
{
    QList<SerialPortEntry> ports;
    QStringList listed;
    if (m_enumeration == Enumeration::SystemAndExtra) {
        ports = m_systemPorts.ports();
        for (const SerialPortEntry &port : std::as_const(ports))
            listed.append(port.systemLocation);
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
