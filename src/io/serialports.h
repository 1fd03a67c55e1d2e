#pragma once

#include "io/linesettings.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QSerialPort>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// A serial port as the program lists it: the name shown to the user and the
// path the port is opened by.
struct SerialPortEntry
{
    QString name;
    QString systemLocation;

    bool operator==(const SerialPortEntry &other) const
    {
        return name == other.name && systemLocation == other.systemLocation;
    }
};

// Where the program's serial ports come from. The program asks it for the
// ports present (again and again, to see devices plugged in later), asks it
// whether another program holds a port before probing it, and opens a port
// with the line settings it gives for it.
class SerialPortProvider
{
public:
    virtual ~SerialPortProvider() = default;
    virtual QList<SerialPortEntry> availablePorts() const = 0;
    virtual bool isBusy(const SerialPortEntry &port) const = 0;
    virtual LineSettings lineSettings(const SerialPortEntry &port) const = 0;
};

// The serial ports the system enumerates (QSerialPortInfo), looked for again
// only when they may have changed. Enumerating reads every tty device the
// system has, some 15 ms of CPU here, while a device plugged in or pulled
// changes the device folder (/dev): its time of change is read at each look,
// and the ports are enumerated again when it moved, or when the last
// enumeration is older than maximumAgeMs in case a change went unseen.
// The look after a change enumerates again, since a device may be listed only
// once the system has finished setting it up.
class SystemPortEnumeration
{
public:
    using Enumerate = std::function<QList<SerialPortEntry>()>;

    static QList<SerialPortEntry> enumerateSystemPorts();

    explicit SystemPortEnumeration(Enumerate enumerate = enumerateSystemPorts,
                                   const QString &deviceFolder = QStringLiteral("/dev"),
                                   qint64 maximumAgeMs = 30000);

    QList<SerialPortEntry> ports();

private:
    Enumerate m_enumerate;
    QString m_deviceFolder;
    qint64 m_maximumAgeMs;
    std::optional<QList<SerialPortEntry>> m_ports;
    QDateTime m_folderChanged;
    bool m_settling = false;
    QElapsedTimer m_age;
};

// The ports the system enumerates, followed by device paths the user named on
// the command line (pseudo-terminals, /dev/serial/by-id links and network
// serial devices are not enumerated by the system). A named path is listed
// only while it exists. Each port keeps the line settings the system holds for
// it, with the fields of lineOverride put in their place.
class SystemSerialPorts : public SerialPortProvider
{
public:
    enum class Enumeration { SystemAndExtra, ExtraOnly };

    explicit SystemSerialPorts(const QStringList &extraDevicePaths = {},
                               Enumeration enumeration = Enumeration::SystemAndExtra,
                               LineOverride lineOverride = {});

    QList<SerialPortEntry> availablePorts() const override;
    bool isBusy(const SerialPortEntry &port) const override;
    LineSettings lineSettings(const SerialPortEntry &port) const override;

private:
    QStringList m_extraDevicePaths;
    Enumeration m_enumeration;
    LineOverride m_lineOverride;
    mutable SystemPortEnumeration m_systemPorts;
};

// True when another program holds the port: opening it is refused for lack of
// access (the port's lock or an exclusive open). A port that fails to open for
// any other reason is not busy. The trial open uses these settings, so that it
// leaves the line as it found it; without them, the system's own.
bool serialPortIsBusy(const QString &systemLocation, const LineSettings &settings);
bool serialPortIsBusy(const QString &systemLocation);

// Errors that leave an open port unusable: the instrument is gone (or the port
// was taken from the program). The port reports them over and over until it
// is closed, so it is closed at the first.
bool isFatalPortError(QSerialPort::SerialPortError error);
