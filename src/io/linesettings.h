#pragma once

#include <QSerialPort>
#include <QString>

#include <optional>

// The line settings a serial port is opened with. The program keeps the ones
// the system holds for the port (set with stty or a udev rule), so that an
// instrument whose line was set up that way is reached as it is.
struct LineSettings
{
    qint32 baudRate = 9600;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
    QSerialPort::FlowControl flowControl = QSerialPort::NoFlowControl;

    bool operator==(const LineSettings &other) const
    {
        return baudRate == other.baudRate && dataBits == other.dataBits && parity == other.parity
            && stopBits == other.stopBits && flowControl == other.flowControl;
    }
    bool operator!=(const LineSettings &other) const { return !(*this == other); }
};

// What the command line asks for instead of the system's settings (--baud,
// --line); an unset field keeps the system's value.
struct LineOverride
{
    std::optional<qint32> baudRate;
    std::optional<QSerialPort::DataBits> dataBits;
    std::optional<QSerialPort::Parity> parity;
    std::optional<QSerialPort::StopBits> stopBits;

    bool operator==(const LineOverride &other) const
    {
        return baudRate == other.baudRate && dataBits == other.dataBits && parity == other.parity
            && stopBits == other.stopBits;
    }
};

// The settings the system holds for the device, read without changing them,
// or nothing when they cannot be read (no such device, no access, a rate that
// has no number) and on systems without termios.
std::optional<LineSettings> systemLineSettings(const QString &devicePath);

// The system's settings (or, without them, 9600 8N1) with the override's
// fields. Hardware handshake stays as the system has it; software flow
// control is never used, since XON and XOFF bytes occur in the instrument's
// binary data.
LineSettings effectiveLineSettings(const std::optional<LineSettings> &system, const LineOverride &override);

// Reads --baud and --line. baud is a whole number from 50 to 4000000; line
// is data bits (5-8), parity (N, E, O, M or S) and stop bits (1 or 2), as in
// "8N1", in either case. An empty value leaves its fields unset. On a bad
// value returns false, leaves out as it was and says why in *error.
bool parseLineOverride(const QString &baud, const QString &line, LineOverride &out, QString *error);

// Gives the port these settings. Called before open(), so that opening the
// port applies them instead of QSerialPort's own 9600 8N1.
void applyLineSettings(QSerialPort &port, const LineSettings &settings);

// The settings as a person writes them: "115200 8N1", with " RTS/CTS" when
// hardware handshake is on.
QString describeLineSettings(const LineSettings &settings);
