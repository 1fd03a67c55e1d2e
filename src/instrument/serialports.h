#pragma once

#include <QList>
#include <QString>
#include <QStringList>

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

// Where the program's serial ports come from. The program asks it once for the
// ports present at start, and asks it whether another program holds a port
// before probing it.
class SerialPortProvider
{
public:
    virtual ~SerialPortProvider() = default;
    virtual QList<SerialPortEntry> availablePorts() const = 0;
    virtual bool isBusy(const SerialPortEntry &port) const = 0;
};

// The ports the system enumerates, followed by device paths the user named on
// the command line (pseudo-terminals, /dev/serial/by-id links and network
// serial devices are not enumerated by the system).
class SystemSerialPorts : public SerialPortProvider
{
public:
    enum class Enumeration { SystemAndExtra, ExtraOnly };

    explicit SystemSerialPorts(const QStringList &extraDevicePaths = {},
                               Enumeration enumeration = Enumeration::SystemAndExtra);

    QList<SerialPortEntry> availablePorts() const override;
    bool isBusy(const SerialPortEntry &port) const override;

private:
    QStringList m_extraDevicePaths;
    Enumeration m_enumeration;
};

// True when another program holds the port: opening it is refused for lack of
// access (the port's lock or an exclusive open). A port that fails to open for
// any other reason is not busy.
bool serialPortIsBusy(const QString &systemLocation);
