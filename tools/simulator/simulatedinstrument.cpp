#include "simulatedinstrument.h"

#include "eyepicture.h"

#include <QSocketNotifier>
#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A command line longer than this is garbage; it is dropped up to its line end.
constexpr qsizetype LongestCommand = 256;
// The stream waits while this much is still queued for the program, as a line
// with hardware handshake would.
constexpr qsizetype OutgoingHighWater = 64 * 1024;
constexpr int StreamTickMs = 10;
// After the event loop was held up, at most this much of the line's time is
// made up for at once.
constexpr double LongestCatchUpSeconds = 1.0;

// The instrument stands for another device, which cannot touch the program's
// errno. Its own system calls run in the program's thread, though: a read of
// the master that ends in EAGAIN would leave EAGAIN behind, and Qt's serial
// port, finding end of file on a line whose other end is gone, takes that
// stale errno for a resource error and quietly stops reading, where with the
// program's own errno it reports a read error over and over until the port is
// closed. So errno is put back as it was on the way out.
class ErrnoKept
{
public:
    ErrnoKept()
        : m_saved(errno)
    {
    }
    ~ErrnoKept() { errno = m_saved; }
    ErrnoKept(const ErrnoKept &) = delete;
    ErrnoKept &operator=(const ErrnoKept &) = delete;

private:
    int m_saved;
};

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

SimulatedInstrument::SimulatedInstrument(QObject *parent)
    : QObject(parent)
    , m_identificationAnswer(defaultIdentificationAnswer())
    , m_link(QRandomGenerator::global()->generate())
    , m_captureSeeds(QRandomGenerator::global()->generate())
{
    m_captureSource = [this] { return EyePicture::captureBitmap(m_captureSeeds.generate()); };
    m_streamTimer.setTimerType(Qt::PreciseTimer);
    m_streamTimer.setInterval(StreamTickMs);
    connect(&m_streamTimer, &QTimer::timeout, this, &SimulatedInstrument::streamTick);
    openPseudoTerminal();
}

SimulatedInstrument::~SimulatedInstrument()
{
    closePseudoTerminal();
}

void SimulatedInstrument::openPseudoTerminal()
{
    const ErrnoKept errnoKept;
    // Holding the slave open ourselves keeps the master alive while the
    // program opens and closes the port; otherwise its close would hang up
    // the line. Raw from the start, so that bytes sent before the program
    // opens the port are not translated by the line discipline.
    char name[PATH_MAX] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_errorString = systemError("openpty");
        m_master = -1;
        m_slave = -1;
        return;
    }
    m_devicePath = QString::fromLocal8Bit(name);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    // The slave's own settings (line speed, receiver on) with the line
    // discipline's processing switched off.
    termios settings;
    bool raw = ::tcgetattr(m_slave, &settings) == 0;
    if (raw) {
        ::cfmakeraw(&settings);
        raw = ::tcsetattr(m_slave, TCSANOW, &settings) == 0;
    }
    if (!raw) {
        m_errorString = systemError("making the line raw");
        closePseudoTerminal();
        return;
    }

    const int flags = ::fcntl(m_master, F_GETFL);
    ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK);

    m_readNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &SimulatedInstrument::readCommands);
    m_writeNotifier = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &SimulatedInstrument::flushOutgoing);
}

void SimulatedInstrument::closePseudoTerminal()
{
    const ErrnoKept errnoKept;
    m_streamTimer.stop();
    m_streaming = false;
    m_captureSentPending = false;
    // The notifiers go before their descriptor does.
    delete m_readNotifier;
    m_readNotifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    if (m_slave >= 0)
        ::close(m_slave);
    m_slave = -1;
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
    m_outgoing.clear();
    m_lineBuffer.clear();
}

bool SimulatedInstrument::isOpen() const
{
    return m_master >= 0;
}

QString SimulatedInstrument::errorString() const
{
    return m_errorString;
}

QString SimulatedInstrument::devicePath() const
{
    return m_devicePath;
}

QByteArray SimulatedInstrument::defaultIdentificationAnswer(int serialNumber)
{
    return "\x02Model 731942K S/N " + QByteArray::number(serialNumber) + " FW 1.07\n";
}

void SimulatedInstrument::setIdentificationAnswer(const QByteArray &answer)
{
    m_identificationAnswer = answer;
}

QByteArray SimulatedInstrument::identificationAnswer() const
{
    return m_identificationAnswer;
}

void SimulatedInstrument::setIdentificationDelay(int milliseconds)
{
    m_identificationDelayMs = std::max(milliseconds, 0);
}

int SimulatedInstrument::identificationDelay() const
{
    return m_identificationDelayMs;
}

void SimulatedInstrument::setSilent(bool silent)
{
    m_silent = silent;
}

bool SimulatedInstrument::isSilent() const
{
    return m_silent;
}

void SimulatedInstrument::setSeed(quint32 seed)
{
    m_link = SimulatedLink(seed);
    // A different sequence for the captures than for the measurements.
    m_captureSeeds.seed(seed ^ 0x9e3779b9u);
}

void SimulatedInstrument::queueMeasurementReply(const QByteArray &reply)
{
    m_queuedReplies.append(reply);
}

void SimulatedInstrument::setCaptureSource(CaptureSource source)
{
    m_captureSource = std::move(source);
}

void SimulatedInstrument::setScanPrelude(const QByteArray &prelude)
{
    m_scanPrelude = prelude;
}

QByteArray SimulatedInstrument::scanPrelude() const
{
    return m_scanPrelude;
}

void SimulatedInstrument::setBaudRate(int baud)
{
    m_baudRate = std::max(baud, 10);
}

int SimulatedInstrument::baudRate() const
{
    return m_baudRate;
}

void SimulatedInstrument::setScanDelay(int milliseconds)
{
    m_scanDelayMs = std::max(milliseconds, 0);
}

int SimulatedInstrument::scanDelay() const
{
    return m_scanDelayMs;
}

void SimulatedInstrument::setScanCut(qint64 bytes)
{
    m_scanCut = std::max<qint64>(bytes, 0);
}

qint64 SimulatedInstrument::scanCut() const
{
    return m_scanCut;
}

void SimulatedInstrument::setStreamForever(bool endless)
{
    m_streamForever = endless;
}

bool SimulatedInstrument::streamsForever() const
{
    return m_streamForever;
}

bool SimulatedInstrument::isStreaming() const
{
    return m_streaming;
}

QByteArray SimulatedInstrument::lastCapture() const
{
    return m_lastCapture;
}

QByteArray SimulatedInstrument::received() const
{
    return m_received;
}

void SimulatedInstrument::clearReceived()
{
    m_received.clear();
}

void SimulatedInstrument::writeRaw(const QByteArray &bytes)
{
    send(bytes);
}

void SimulatedInstrument::vanish()
{
    closePseudoTerminal();
}

void SimulatedInstrument::readCommands()
{
    const ErrnoKept errnoKept;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(m_master, buffer, sizeof buffer);
        if (count > 0) {
            const QByteArray bytes(buffer, count);
            m_received += bytes;
            for (char byte : bytes) {
                if (byte == '\n') {
                    QByteArray line = m_lineBuffer;
                    m_lineBuffer.clear();
                    const bool discarded = m_discardingLine;
                    m_discardingLine = false;
                    if (line.endsWith('\r'))
                        line.chop(1);
                    if (!discarded && !line.isEmpty())
                        handleLine(line);
                    // The program may have vanished the instrument from a slot
                    // connected to commandReceived.
                    if (m_master < 0)
                        return;
                } else if (!m_discardingLine) {
                    m_lineBuffer += byte;
                    if (m_lineBuffer.size() > LongestCommand) {
                        m_lineBuffer.clear();
                        m_discardingLine = true;
                    }
                }
            }
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // End of file or an error: the line is gone. Stop listening so that a
        // dead descriptor does not keep the event loop busy.
        if (m_readNotifier)
            m_readNotifier->setEnabled(false);
        return;
    }
}

void SimulatedInstrument::handleLine(const QByteArray &line)
{
    emit commandReceived(line);
    if (m_master < 0)
        return;
    if (m_streaming) {
        // Busy scanning: only the stop request is heard.
        if (line == "scan" && !m_streamForever) {
            endStream();
            emit scanStopped();
        }
        return;
    }
    if (m_silent)
        return;
    if (line == "?") {
        if (m_identificationDelayMs > 0) {
            // Gone with the instrument; after vanish() send() sends nothing.
            QTimer::singleShot(m_identificationDelayMs, Qt::PreciseTimer, this,
                               [this, answer = m_identificationAnswer] { send(answer); });
        } else {
            send(m_identificationAnswer);
        }
    } else if (line == "read") {
        send(m_queuedReplies.isEmpty() ? formatMeasurementReply(m_link.next()) : m_queuedReplies.takeFirst());
    } else if (line == "SCAN") {
        startScan();
    }
}

void SimulatedInstrument::send(const QByteArray &bytes)
{
    if (m_master < 0 || bytes.isEmpty())
        return;
    m_outgoing += bytes;
    flushOutgoing();
}

void SimulatedInstrument::flushOutgoing()
{
    const ErrnoKept errnoKept;
    while (!m_outgoing.isEmpty()) {
        const ssize_t written = ::write(m_master, m_outgoing.constData(), size_t(m_outgoing.size()));
        if (written > 0) {
            m_outgoing.remove(0, written);
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            qWarning("SimulatedInstrument: write to %s failed: %s", qPrintable(m_devicePath),
                     std::strerror(errno));
            m_outgoing.clear();
        }
        break;
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(!m_outgoing.isEmpty());
    if (m_outgoing.isEmpty() && m_captureSentPending) {
        m_captureSentPending = false;
        emit captureSent();
    }
}

void SimulatedInstrument::startScan()
{
    m_lastCapture = m_captureSource ? m_captureSource() : QByteArray();
    m_streamIsCut = m_scanCut > 0 && m_scanCut < m_lastCapture.size();
    if (m_streamIsCut)
        m_lastCapture.truncate(m_scanCut);
    m_stream = m_scanPrelude + m_lastCapture;
    m_streamPosition = 0;
    m_streaming = true;
    m_captureSentPending = false;
    m_byteCredit = 0.0;
    m_streamClock.start();
    // The line time starts counting when the delay is over.
    m_streamDelayNs = qint64(m_scanDelayMs) * 1000000;
    m_lastTickNs = 0;
    m_streamTimer.start();
    emit scanStarted();
}

void SimulatedInstrument::streamTick()
{
    const qint64 nowNs = m_streamClock.nsecsElapsed() - m_streamDelayNs;
    if (nowNs <= 0)
        return; // still scanning, nothing to send yet
    const double bytesPerSecond = m_baudRate / 10.0;
    m_byteCredit = std::min(m_byteCredit + double(nowNs - m_lastTickNs) * 1e-9 * bytesPerSecond,
                            bytesPerSecond * LongestCatchUpSeconds);
    m_lastTickNs = nowNs;
    if (m_outgoing.size() >= OutgoingHighWater)
        return;

    qsizetype due = qsizetype(m_byteCredit);
    QByteArray chunk;
    while (due > 0 && m_streaming) {
        const qsizetype take = std::min(due, m_stream.size() - m_streamPosition);
        chunk += m_stream.mid(m_streamPosition, take);
        m_streamPosition += take;
        due -= take;
        m_byteCredit -= double(take);
        if (m_streamPosition < m_stream.size())
            break;
        if (m_streamIsCut) {
            // The cable is pulled: the instrument is heard no more.
            endStream();
            m_silent = true;
        } else if (m_streamForever && !m_lastCapture.isEmpty()) {
            m_streamPosition = m_scanPrelude.size();
        } else {
            endStream();
            m_captureSentPending = true;
        }
    }
    m_outgoing += chunk;
    flushOutgoing();
}

void SimulatedInstrument::endStream()
{
    m_streamTimer.stop();
    m_streaming = false;
    m_stream.clear();
    m_streamPosition = 0;
}
