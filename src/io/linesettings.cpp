#include "io/linesettings.h"

#include <QRegularExpression>

#if defined(Q_OS_UNIX)
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#if defined(Q_OS_LINUX)                                                                                      \
    && (defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) || defined(__arm__)                 \
        || defined(__riscv))
#include <sys/ioctl.h>
#define ZENTAVAL_HAVE_TERMIOS2
// The kernel's own record of a line (asm-generic/termbits.h), which holds the
// rate as a number; the C library's termios has no room for rates that are
// not one of the B constants. Its layout is the same on the architectures
// above.
struct termios2
{
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};
#ifndef TCGETS2
#define TCGETS2 _IOR('T', 0x2A, struct termios2)
#endif
#endif
#endif

namespace {

constexpr qint32 SlowestBaudRate = 50;
constexpr qint32 FastestBaudRate = 4000000;

#if defined(Q_OS_UNIX)

struct SpeedRate
{
    speed_t speed;
    qint32 rate;
};

constexpr SpeedRate SpeedRates[] = {
    {B50, 50},           {B75, 75},     {B110, 110},   {B134, 134},     {B150, 150},
    {B200, 200},         {B300, 300},   {B600, 600},   {B1200, 1200},   {B1800, 1800},
    {B2400, 2400},       {B4800, 4800}, {B9600, 9600}, {B19200, 19200}, {B38400, 38400},
#ifdef B7200
    {B7200, 7200},
#endif
#ifdef B14400
    {B14400, 14400},
#endif
#ifdef B28800
    {B28800, 28800},
#endif
#ifdef B57600
    {B57600, 57600},
#endif
#ifdef B76800
    {B76800, 76800},
#endif
#ifdef B115200
    {B115200, 115200},
#endif
#ifdef B230400
    {B230400, 230400},
#endif
#ifdef B460800
    {B460800, 460800},
#endif
#ifdef B500000
    {B500000, 500000},
#endif
#ifdef B576000
    {B576000, 576000},
#endif
#ifdef B921600
    {B921600, 921600},
#endif
#ifdef B1000000
    {B1000000, 1000000},
#endif
#ifdef B1152000
    {B1152000, 1152000},
#endif
#ifdef B1500000
    {B1500000, 1500000},
#endif
#ifdef B2000000
    {B2000000, 2000000},
#endif
#ifdef B2500000
    {B2500000, 2500000},
#endif
#ifdef B3000000
    {B3000000, 3000000},
#endif
#ifdef B3500000
    {B3500000, 3500000},
#endif
#ifdef B4000000
    {B4000000, 4000000},
#endif
};

// The line rate of an open terminal, or 0 when it has none (B0 hangs the
// line up) or it cannot be told.
qint32 lineRate(int fd, const termios &settings)
{
    const speed_t speed = ::cfgetospeed(&settings);
    for (const SpeedRate &entry : SpeedRates) {
        if (entry.speed == speed)
            return entry.rate;
    }
#if defined(ZENTAVAL_HAVE_TERMIOS2) && defined(CBAUDEX)
    // A rate set by number (the kernel's BOTHER) is only in the kernel's record.
    if (speed == CBAUDEX) {
        termios2 numeric = {};
        if (::ioctl(fd, TCGETS2, &numeric) == 0)
            return qint32(numeric.c_ospeed);
    }
#else
    Q_UNUSED(fd);
#endif
    // Where the B constants are the rates themselves (macOS, the BSDs), any
    // rate the driver accepted is its own number.
    if constexpr (B9600 == 9600 && B38400 == 38400) {
        if (speed != B0)
            return qint32(speed);
    }
    return 0;
}

LineSettings fromTermios(const termios &settings, qint32 rate)
{
    const tcflag_t flags = settings.c_cflag;
    LineSettings line;
    line.baudRate = rate;
    switch (flags & CSIZE) {
    case CS5:
        line.dataBits = QSerialPort::Data5;
        break;
    case CS6:
        line.dataBits = QSerialPort::Data6;
        break;
    case CS7:
        line.dataBits = QSerialPort::Data7;
        break;
    default:
        line.dataBits = QSerialPort::Data8;
        break;
    }
    if (!(flags & PARENB)) {
        line.parity = QSerialPort::NoParity;
#ifdef CMSPAR
    } else if (flags & CMSPAR) {
        line.parity = (flags & PARODD) ? QSerialPort::MarkParity : QSerialPort::SpaceParity;
#endif
    } else {
        line.parity = (flags & PARODD) ? QSerialPort::OddParity : QSerialPort::EvenParity;
    }
    line.stopBits = (flags & CSTOPB) ? QSerialPort::TwoStop : QSerialPort::OneStop;
    line.flowControl
        = (flags & CRTSCTS) == CRTSCTS ? QSerialPort::HardwareControl : QSerialPort::NoFlowControl;
    return line;
}

#endif

} // namespace

std::optional<LineSettings> systemLineSettings(const QString &devicePath)
{
#if defined(Q_OS_UNIX)
    if (devicePath.isEmpty())
        return std::nullopt;
    const QByteArray path = QFile::encodeName(devicePath);
    // Read only, not waiting for a carrier and not becoming the program's
    // controlling terminal. Nothing is written to the line, and no modem line
    // is set by the program; the kernel raises DTR and RTS on the first open of
    // a real port whatever the flags, and a close with HUPCL lowers them, as
    // any open and close of the port does.
    int fd;
    do {
        fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return std::nullopt;
    std::optional<LineSettings> result;
    termios settings;
    if (::tcgetattr(fd, &settings) == 0) {
        const qint32 rate = lineRate(fd, settings);
        if (rate > 0)
            result = fromTermios(settings, rate);
    }
    ::close(fd);
    return result;
#else
    // Elsewhere QSerialPort's own settings apply.
    Q_UNUSED(devicePath);
    return std::nullopt;
#endif
}

LineSettings effectiveLineSettings(const std::optional<LineSettings> &system, const LineOverride &override)
{
    LineSettings line = system.value_or(LineSettings());
    if (override.baudRate)
        line.baudRate = *override.baudRate;
    if (override.dataBits)
        line.dataBits = *override.dataBits;
    if (override.parity)
        line.parity = *override.parity;
    if (override.stopBits)
        line.stopBits = *override.stopBits;
    if (line.flowControl != QSerialPort::HardwareControl)
        line.flowControl = QSerialPort::NoFlowControl;
    return line;
}

bool parseLineOverride(const QString &baud, const QString &line, LineOverride &out, QString *error)
{
    LineOverride parsed = out;
    if (!baud.isEmpty()) {
        static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
        const qint64 rate = digits.match(baud).hasMatch() ? baud.toLongLong() : -1;
        if (rate < SlowestBaudRate || rate > FastestBaudRate) {
            if (error)
                *error = QStringLiteral("bad --baud value \"%1\": give a whole number of baud from %2 to %3")
                             .arg(baud)
                             .arg(SlowestBaudRate)
                             .arg(FastestBaudRate);
            return false;
        }
        parsed.baudRate = qint32(rate);
    }
    if (!line.isEmpty()) {
        static const QRegularExpression frame(QStringLiteral("^([5-8])([NEOMS])([12])$"),
                                              QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch match = frame.match(line);
        if (!match.hasMatch()) {
            if (error)
                *error = QStringLiteral("bad --line value \"%1\": give data bits 5 to 8, parity N, E, O, M "
                                        "or S and stop bits 1 or 2, as in 8N1")
                             .arg(line);
            return false;
        }
        parsed.dataBits = QSerialPort::DataBits(match.captured(1).toInt());
        switch (match.captured(2).at(0).toUpper().toLatin1()) {
        case 'E':
            parsed.parity = QSerialPort::EvenParity;
            break;
        case 'O':
            parsed.parity = QSerialPort::OddParity;
            break;
        case 'M':
            parsed.parity = QSerialPort::MarkParity;
            break;
        case 'S':
            parsed.parity = QSerialPort::SpaceParity;
            break;
        default:
            parsed.parity = QSerialPort::NoParity;
            break;
        }
        parsed.stopBits
            = match.captured(3) == QLatin1String("2") ? QSerialPort::TwoStop : QSerialPort::OneStop;
    }
    out = parsed;
    return true;
}

void applyLineSettings(QSerialPort &port, const LineSettings &settings)
{
    port.setBaudRate(settings.baudRate);
    port.setDataBits(settings.dataBits);
    port.setParity(settings.parity);
    port.setStopBits(settings.stopBits);
    port.setFlowControl(settings.flowControl);
}

QString describeLineSettings(const LineSettings &settings)
{
    QChar parity = QLatin1Char('N');
    switch (settings.parity) {
    case QSerialPort::EvenParity:
        parity = QLatin1Char('E');
        break;
    case QSerialPort::OddParity:
        parity = QLatin1Char('O');
        break;
    case QSerialPort::MarkParity:
        parity = QLatin1Char('M');
        break;
    case QSerialPort::SpaceParity:
        parity = QLatin1Char('S');
        break;
    default:
        break;
    }
    QString text = QStringLiteral("%1 %2%3%4")
                       .arg(settings.baudRate)
                       .arg(int(settings.dataBits))
                       .arg(parity)
                       .arg(settings.stopBits == QSerialPort::TwoStop ? 2 : 1);
    if (settings.flowControl == QSerialPort::HardwareControl)
        text += QStringLiteral(" RTS/CTS");
    return text;
}
