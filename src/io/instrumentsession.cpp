#include "io/instrumentsession.h"

#include "io/linesettings.h"
#include "rules/delays.h"
#include "rules/discovery.h"
#include "rules/identification.h"

#include <QFileInfo>

namespace {

// A faulty instrument that floods the line is read no faster than the passes
// take its bytes; far more than a whole capture fits.
constexpr qint64 MaximumBytesPerPass = 1024 * 1024;

QStringList locations(const QList<SerialPortEntry> &ports)
{
    QStringList result;
    for (const SerialPortEntry &port : ports)
        result << port.systemLocation;
    return result;
}

Discovery::PortIdentity identity(const QString &location)
{
    return {location, QFileInfo(location).canonicalFilePath()};
}

} // namespace

InstrumentSession::InstrumentSession(std::unique_ptr<SerialPortProvider> ports, QObject *parent)
    : QObject(parent)
    , m_provider(std::move(ports))
{
    m_ports = m_provider->availablePorts();
    for (int index = 0; index < m_ports.size(); ++index) {
        m_present << m_ports.at(index).systemLocation;
        m_pendingProbes << index;
    }
    connect(&m_port, &QSerialPort::errorOccurred, this, &InstrumentSession::onPortError);
    connect(&m_probePort, &QSerialPort::errorOccurred, this, &InstrumentSession::onPortError);
    m_port.setReadBufferSize(MaximumBytesPerPass);
    m_probePort.setReadBufferSize(MaximumBytesPerPass);
    // Precise: a coarse timer may fire the 8 s wait for the first capture
    // bytes up to 400 ms early.
    m_nextPass.setSingleShot(true);
    m_nextPass.setTimerType(Qt::PreciseTimer);
    connect(&m_nextPass, &QTimer::timeout, this, &InstrumentSession::receiveMeas);
}

InstrumentSession::~InstrumentSession() = default;

void InstrumentSession::start()
{
    QTimer::singleShot(Delay::FirstDiscovery, this, &InstrumentSession::discover);
}

QString InstrumentSession::lineSettings() const
{
    for (const SerialPortEntry &port : m_ports) {
        if (port.systemLocation == m_connectedLocation)
            return describeLineSettings(m_provider->lineSettings(port));
    }
    return QString();
}

int InstrumentSession::scanCountdown() const
{
    switch (m_scanState) {
    case Scan::Idle:
        break;
    case Scan::Requested:
        return Capture::EmptyPollsAllowed;
    case Scan::Capturing:
        return m_progress.scanCountdown;
    }
    return 0;
}

// Opens a port with the line settings the system holds for it (or those the
// user asked for): opening would otherwise impose Qt's own.
bool InstrumentSession::openPort(QSerialPort &port, int portIndex)
{
    const SerialPortEntry &entry = m_ports.at(portIndex);
    port.setPortName(entry.systemLocation);
    applyLineSettings(port, m_provider->lineSettings(entry));
    return port.open(QIODevice::ReadWrite);
}

// Discovery: each port waiting to be looked at is probed in turn; the port
// probed before stays open until the next probe (or a choice).
void InstrumentSession::discover()
{
    collectProbeAnswer();

    if (m_probePort.isOpen())
        m_probePort.close();
    if (m_link == Link::None && m_port.isOpen() && !m_pendingProbes.isEmpty())
        m_port.close();

    // The instrument's port is the probe's until an instrument is connected.
    QSerialPort &probe = m_link == Link::None ? m_port : m_probePort;
    while (!m_pendingProbes.isEmpty()) {
        // A probe would delay the instrument's data: the ports left are
        // looked at once the scan is over.
        if (m_scanState == Scan::Capturing) {
            QTimer::singleShot(Delay::PortWatch, this, &InstrumentSession::watchPorts);
            return;
        }
        const int index = m_pendingProbes.takeFirst();
        const SerialPortEntry &port = m_ports.at(index);
        if (m_link != Link::None
            && !Discovery::mayProbe(identity(port.systemLocation), identity(m_connectedLocation)))
            continue;
        m_probeIndex = index;
        emit diagnostic(port.name);
        const bool busy = m_provider->isBusy(port);
        emit diagnostic(busy ? QStringLiteral(" Busy") : QStringLiteral(" Not busy"));
        if (busy) {
            // Asked again at the next look: the other program may let it go.
            if (!m_busyPorts.contains(index))
                m_busyPorts << index;
            continue;
        }
        m_busyPorts.removeAll(index);
        if (!openPort(probe, index)) {
            // A port that does not open is passed once, like a busy one.
            emit diagnostic(QStringLiteral(" Not opened: ") + probe.errorString());
            continue;
        }
        probe.write("?\r\n");
        m_probing = &probe;
        QTimer::singleShot(Delay::ProbeAnswer, this, &InstrumentSession::discover);
        return;
    }
    // The ports present at start have been looked at (or every port that
    // came since): look at the system's ports again in a while.
    m_discoveryOver = true;
    QTimer::singleShot(Delay::PortWatch, this, &InstrumentSession::watchPorts);
}

void InstrumentSession::collectProbeAnswer()
{
    if (!m_probing)
        return;
    QSerialPort &probe = *m_probing;
    m_probing = nullptr;
    // A port that failed while probed is closed and has no answer.
    const QByteArray answer = probe.isOpen() ? probe.readAll() : QByteArray();
    const SerialPortEntry &port = m_ports.at(m_probeIndex);
    const bool lostInstrumentsPort
        = m_link == Link::None && m_connectedRow > 0 && port.systemLocation == m_connectedLocation;
    switch (Discovery::judgeAnswer(answer, rowCount() + 1, lostInstrumentsPort)) {
    case Discovery::Verdict::NoInstrument:
        break;
    case Discovery::Verdict::ListRow:
        m_rows.append({m_probeIndex, Identification::discoveryRowText(port.name, answer)});
        emit instrumentListed(m_rows.constLast().text);
        break;
    case Discovery::Verdict::ListFull:
        emit diagnostic(QStringLiteral(" Not listed: the list is full"));
        break;
    case Discovery::Verdict::Reconnect:
        emit diagnostic(QStringLiteral(" Back: connecting again"));
        connectToRow(m_connectedRow);
        break;
    }
}

void InstrumentSession::watchPorts()
{
    // A probe would delay the instrument's data.
    if (m_scanState == Scan::Capturing) {
        QTimer::singleShot(Delay::PortWatch, this, &InstrumentSession::watchPorts);
        return;
    }
    const QList<SerialPortEntry> present = m_provider->availablePorts();
    const QStringList now = locations(present);
    const Discovery::PortChanges changes = Discovery::comparePorts(m_present, now);
    m_present = now;

    QStringList rowLocations {QString()};
    for (const Row &row : std::as_const(m_rows))
        rowLocations << m_ports.at(row.portIndex).systemLocation;
    for (int row : Discovery::rowsToRemove(rowLocations, changes.vanished, m_connectedRow))
        removeRow(row);

    const QStringList known = locations(m_ports);
    for (const QString &location : changes.appeared) {
        qsizetype index = known.indexOf(location);
        if (index < 0) {
            index = m_ports.size();
            m_ports.append(present.at(now.indexOf(location)));
        }
        if (!m_pendingProbes.contains(int(index)))
            m_pendingProbes << int(index);
    }
    for (int index : std::as_const(m_busyPorts)) {
        if (now.contains(m_ports.at(index).systemLocation) && !m_pendingProbes.contains(index))
            m_pendingProbes << index;
    }
    // While the instrument is lost its port is asked again at every look, so
    // that it is found even when it came back between two looks.
    if (m_link == Link::None && m_connectedRow > 0 && now.contains(m_connectedLocation)) {
        const int index = m_rows.at(m_connectedRow - 1).portIndex;
        if (!m_pendingProbes.contains(index))
            m_pendingProbes << index;
    }
    discover();
}

void InstrumentSession::removeRow(int row)
{
    emit diagnostic(m_rows.at(row - 1).text + QStringLiteral(" Gone"));
    m_rows.removeAt(row - 1);
    if (m_connectedRow > row)
        --m_connectedRow;
    emit instrumentRemoved(row);
}

void InstrumentSession::connectToRow(int row)
{
    // Row 0 is no instrument.
    if (row < 1 || row > rowCount())
        return;
    // A probe still waiting on the instrument's port has lost its answer to
    // the instrument: that port is probed again with the watch's own port.
    if (m_probing == &m_port) {
        m_probing = nullptr;
        m_pendingProbes.prepend(m_probeIndex);
    }
    if (m_port.isOpen()) {
        m_port.readAll();
        m_port.close();
    }
    const int portIndex = m_rows.at(row - 1).portIndex;
    m_connectedRow = row;
    m_connectedLocation = m_ports.at(portIndex).systemLocation;
    m_link = Link::Identifying;
    if (!openPort(m_port, portIndex)) {
        instrumentLost(m_port.errorString());
        return;
    }
    emit linkOpened(row);
    m_port.readAll();
    m_port.write("?\r\n");
    QTimer::singleShot(Delay::IdentificationAnswer, this, &InstrumentSession::receiveInfo);
}

void InstrumentSession::receiveInfo()
{
    // The instrument was lost before it answered.
    if (m_link != Link::Identifying)
        return;
    m_link = Link::Polling;
    m_lastReading.reset();
    m_identificationAnswer = m_port.readAll();
    m_port.write("read\r\n");
    if (!m_sinceFirstRead.isValid())
        m_sinceFirstRead.start();
    armPass(Delay::PollInterval);
    emit connected(Identification::instrumentIdentification(m_identificationAnswer), m_connectedLocation);
}

// One chain of passes at a time: the next pass is one timer, so the first pass
// of a reconnection replaces any pass the lost chain still has pending (the
// 8 s wait after "SCAN\r\n" outlasts a reconnection).
void InstrumentSession::armPass(int delay)
{
    m_nextPass.start(delay);
}

void InstrumentSession::receiveMeas()
{
    if (m_link != Link::Polling)
        return;
    // While the user works the port list the chain ends; choosing a port
    // starts a new one.
    if (m_chainInterrupted && m_chainInterrupted())
        return;

    const qint64 available = m_port.bytesAvailable();
    const QByteArray buffer = m_port.readAll();
    emit passStarted(scanCountdown());

    if (m_scanState == Scan::Capturing) {
        capturingPass(buffer);
        // The pass may have found the instrument gone.
        if (m_link == Link::Polling)
            armPass(Delay::PollInterval);
        return;
    }
    monitoringPass(buffer, available);
    if (m_link == Link::Polling)
        armPass(m_scanState == Scan::Capturing ? Delay::FirstCapturePiece : Delay::PollInterval);
}

void InstrumentSession::monitoringPass(const QByteArray &buffer, qint64 available)
{
    if (const auto display = decodeMeasurementReply(buffer, available)) {
        const MeasurementRow row = measurementRow(*display, QDateTime::currentDateTimeUtc(),
                                                  m_sinceFirstRead.elapsed() / 1000.0, m_limits);
        m_lastReading = row;
        emit readingAccepted(*display, row);
    }

    if (m_scanState != Scan::Requested) {
        m_port.write("read\r\n");
        return;
    }
    m_scanState = Scan::Capturing;
    m_progress = Capture::ScanProgress();
    m_port.readAll();
    m_port.write("SCAN\r\n");
}

void InstrumentSession::capturingPass(const QByteArray &buffer)
{
    const Capture::CapturingPass pass = takeCaptureBytes(buffer);
    if (pass.captureTooLong) {
        // The instrument does not stop by itself: keep what the file holds.
        m_port.write("scan\r\n");
        emit diagnostic(QStringLiteral(" Capture cut at %1 bytes").arg(m_progress.captureOffset));
    }
    if (pass.sendStop) {
        // The bitmap is whole; what follows it is not written.
        m_port.write("scan\r\n");
        emit diagnostic(QStringLiteral(" Data past the capture's end: asked to stop"));
    }
    if (pass.ignoredStop)
        emit diagnostic(QStringLiteral(" Data past the capture's end did not stop: scan ended"));
    if (pass.endScan)
        endScan();
}

// Decides what the bytes read are to the scan and puts any piece into the
// capture file: the pass's own step, and the last step of a scan whose
// instrument went away with bytes still waiting.
Capture::CapturingPass InstrumentSession::takeCaptureBytes(const QByteArray &bytes)
{
    const Capture::CapturingPass pass
        = Capture::decideCapturingPass(m_progress, bytes, m_dragGuard, m_sinceFirstRead.elapsed());
    if (!pass.writePiece)
        return pass;
    const Capture::StoredPiece stored = Capture::writeCapturePiece(m_captureFileName, pass.offset, pass.piece);
    if (!stored.error.isEmpty()) {
        m_captureError = stored.error;
        emit captureFailed(m_captureFileName, stored.error);
    }
    if (stored.opened)
        emit capturePictureChanged(Capture::captureFilePicture(m_captureFileName));
    emit captureProgressed(Capture::progressValue(m_progress.captureOffset));
    return pass;
}

void InstrumentSession::endScan()
{
    leaveCapturing();
    m_port.write("read\r\n");
}

void InstrumentSession::leaveCapturing()
{
    m_scanState = Scan::Idle;
    const Capture::ScanOutcome outcome = scanOutcome();
    if (m_captureError.isEmpty() && !outcome.complete)
        emit diagnostic(QStringLiteral(" Capture incomplete: %1 bytes").arg(outcome.received));
    emit scanEnded(outcome, m_captureError);
}

QString InstrumentSession::requestScan(const QString &fileName, const QString &templateFileName)
{
    const QString error = Capture::prepareCaptureFile(templateFileName, fileName);
    if (!error.isEmpty()) {
        // A request already pending keeps the file it was given.
        if (m_scanState == Scan::Requested)
            emit diagnostic(QStringLiteral(" Not saved: ") + error);
        else
            m_captureError = error;
        return error;
    }
    m_captureFileName = fileName;
    m_captureError.clear();
    m_scanState = Scan::Requested;
    return QString();
}

void InstrumentSession::stopScan()
{
    if (m_scanState == Scan::Capturing)
        m_port.write("scan\r\n");
}

void InstrumentSession::onPortError(QSerialPort::SerialPortError error)
{
    // A port that failed to open is dealt with where it was opened.
    if (!isFatalPortError(error))
        return;
    if (sender() == &m_probePort) {
        // A port that went away while probed has no answer.
        m_probePort.close();
        return;
    }
    if (m_port.isOpen())
        instrumentLost(m_port.errorString());
}

void InstrumentSession::instrumentLost(const QString &reason)
{
    // Capture bytes that arrived before the loss are the capture's too: they
    // go into the file before the port, and its buffer, are closed.
    if (m_scanState == Scan::Capturing && m_link == Link::Polling && m_port.isOpen()) {
        const QByteArray waiting = m_port.readAll();
        if (!waiting.isEmpty())
            takeCaptureBytes(waiting);
    }
    m_port.close();
    if (m_link == Link::None)
        return;
    m_link = Link::None;
    m_lastReading.reset();
    emit diagnostic(QStringLiteral(" Lost: ") + reason);
    // The capture file already holds every piece that arrived.
    if (m_scanState == Scan::Capturing)
        leaveCapturing();
    // The instrument's row stays listed: the watch over the ports connects
    // it again when it answers, and choosing it connects at once.
    emit lost(reason);
}
