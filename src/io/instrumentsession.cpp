#include "io/instrumentsession.h"

#include "io/linesettings.h"
#include "io/maskfile.h"
#include "rules/delays.h"
#include "rules/discovery.h"
#include "rules/identification.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

// A faulty instrument that floods the line is read no faster than the passes
// take its bytes; far more than a whole capture fits.
constexpr qint64 MaximumBytesPerPass = 1024 * 1024;

// The tool's allowance for the first capture bytes: the window's first
// Capturing pass, then every empty poll it counts down (18 s).
constexpr int NoDataAllowanceMs = Delay::FirstCapturePiece + Capture::EmptyPollsAllowed * Delay::PollInterval;
// Once data flows, a pause this long ends the tool's capture, as the window's
// first empty poll does.
constexpr int SilenceMs = Delay::PollInterval;
// Bytes kept while waiting for "BM"; an instrument that sends more without
// it sends no bitmap, and only a last "B" can still begin one.
constexpr qsizetype LongestEcho = 1024 * 1024;

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

InstrumentSession::InstrumentSession(std::unique_ptr<SerialPortProvider> ports, Pace pace, QObject *parent)
    : QObject(parent)
    , m_pace(pace)
    , m_provider(std::move(ports))
    , m_probe(*m_provider,
              pace == Pace::Window ? InstrumentProbe::Answers::WhenCollected
                                   : InstrumentProbe::Answers::WithinASecond)
{
    if (m_pace == Pace::Window) {
        m_ports = m_provider->availablePorts();
        for (int index = 0; index < m_ports.size(); ++index) {
            m_present << m_ports.at(index).systemLocation;
            m_pendingProbes << index;
        }
    } else {
        connect(&m_probe, &InstrumentProbe::finished, this, [this] {
            // A lost instrument's device answered, or did not.
            if (m_link == Link::None && m_connectedRow > 0) {
                const InstrumentProbe::Result result = m_probe.results().value(0);
                if (result.outcome == InstrumentProbe::Outcome::Instrument)
                    adopt(0);
                else
                    m_returnWatch.start(Delay::PortWatch);
                return;
            }
            emit probed(m_probe.results());
        });
        m_returnWatch.setSingleShot(true);
        connect(&m_returnWatch, &QTimer::timeout, this, &InstrumentSession::lookForReturn);
        m_captureSilence.setSingleShot(true);
        m_captureSilence.setTimerType(Qt::PreciseTimer);
        connect(&m_captureSilence, &QTimer::timeout, this, &InstrumentSession::endScan);
    }
    // Precise: a coarse timer may fire the 8 s wait for the first capture
    // bytes up to 400 ms early.
    m_nextPass.setSingleShot(true);
    m_nextPass.setTimerType(Qt::PreciseTimer);
    connect(&m_nextPass, &QTimer::timeout, this, &InstrumentSession::receiveMeas);
    m_clock.start();
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

QString InstrumentSession::identification() const
{
    return Identification::instrumentIdentification(m_identificationAnswer);
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

QByteArray InstrumentSession::captureBytes() const
{
    if (m_captureFileName.isEmpty())
        return m_captureInMemory;
    QFile file(m_captureFileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The port the instrument is reached on from now on. The one before is
// closed; it goes only here, never inside one of its own signals.
void InstrumentSession::usePort(std::unique_ptr<QSerialPort> port)
{
    m_port = std::move(port);
    m_port->setReadBufferSize(MaximumBytesPerPass);
    connect(m_port.get(), &QSerialPort::errorOccurred, this, &InstrumentSession::onPortError);
    connect(m_port.get(), &QSerialPort::readyRead, this, [this] {
        if (m_pace != Pace::Tool)
            return;
        if (m_scanState == Scan::Capturing) {
            captureArrived();
            return;
        }
        // The reading before a scan is taken as soon as it is whole.
        if (m_scanState == Scan::Requested && m_replyAwaited
            && decodeMeasurementReply(m_port->peek(m_port->bytesAvailable()), m_port->bytesAvailable())) {
            m_nextPass.stop();
            receiveMeas();
        }
    });
}

// Discovery at the window's pace: each port waiting to be looked at is probed
// in turn; the instrument found last keeps its port open until the next
// probe (or a choice).
void InstrumentSession::discover()
{
    collectProbeAnswer();

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
        emit diagnostic(port.name);
        m_probe.start({port});
        const InstrumentProbe::Result result = m_probe.results().constFirst();
        if (result.outcome == InstrumentProbe::Outcome::Busy) {
            emit diagnostic(QStringLiteral(" Busy"));
            // Asked again at the next look: the other program may let it go.
            if (!m_busyPorts.contains(index))
                m_busyPorts << index;
            continue;
        }
        emit diagnostic(QStringLiteral(" Not busy"));
        m_busyPorts.removeAll(index);
        if (!m_probe.answerAwaited()) {
            // A port that does not open is passed once, like a busy one.
            emit diagnostic(QStringLiteral(" Not opened: ")
                            + (result.error.isEmpty() ? QStringLiteral("no such device") : result.error));
            continue;
        }
        m_probeIndex = index;
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
    if (m_probeIndex < 0)
        return;
    const int index = std::exchange(m_probeIndex, -1);
    m_probe.collect();
    const QByteArray answer = m_probe.results().constFirst().answer;
    const SerialPortEntry &port = m_ports.at(index);
    const bool lostInstrumentsPort
        = m_link == Link::None && m_connectedRow > 0 && port.systemLocation == m_connectedLocation;
    switch (Discovery::judgeAnswer(answer, rowCount() + 1, lostInstrumentsPort)) {
    case Discovery::Verdict::NoInstrument:
        break;
    case Discovery::Verdict::ListRow:
        m_rows.append({index, Identification::discoveryRowText(port.name, answer)});
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
    const int portIndex = m_rows.at(row - 1).portIndex;
    const QString location = m_ports.at(portIndex).systemLocation;
    // The instrument's port is free for the connection: an instrument found
    // last keeps its probe's port open, and a probe still waiting there has
    // lost its answer to the instrument and is made again later.
    if (m_probeIndex >= 0 && m_ports.at(m_probeIndex).systemLocation == location) {
        m_pendingProbes.prepend(std::exchange(m_probeIndex, -1));
        m_probe.abort();
    } else if (m_probeIndex < 0) {
        m_probe.abort();
    }
    // Opened with the line settings the system holds for it (or those the
    // user asked for): opening would otherwise impose Qt's own.
    usePort(std::make_unique<QSerialPort>());
    m_port->setPortName(location);
    applyLineSettings(*m_port, m_provider->lineSettings(m_ports.at(portIndex)));
    m_connectedRow = row;
    m_connectedLocation = location;
    m_link = Link::Identifying;
    if (!m_port->open(QIODevice::ReadWrite)) {
        instrumentLost(m_port->errorString());
        return;
    }
    emit linkOpened(row);
    m_port->write("?\r\n");
    QTimer::singleShot(Delay::IdentificationAnswer, this, &InstrumentSession::receiveInfo);
}

void InstrumentSession::receiveInfo()
{
    // The instrument was lost before it answered.
    if (m_link != Link::Identifying)
        return;
    m_identificationAnswer = m_port->readAll();
    m_reading = true;
    startPolling();
}

// The link is identified: readings are asked for (at the window's pace at
// once, at the tool's once startReadings() said how often).
void InstrumentSession::startPolling()
{
    m_link = Link::Polling;
    m_lastReading.reset();
    if (m_reading) {
        if (m_pace == Pace::Tool)
            m_nextReadMs = readingsClockMs();
        sendRead();
    }
    emit connected(identification(), m_connectedLocation, lineSettings());
}

void InstrumentSession::probe(const QList<SerialPortEntry> &ports)
{
    m_probe.start(ports);
}

void InstrumentSession::adopt(int resultIndex)
{
    const InstrumentProbe::Result result = m_probe.results().value(resultIndex);
    std::unique_ptr<QSerialPort> port = m_probe.takePort(resultIndex);
    if (!port)
        return;
    usePort(std::move(port));
    if (!m_ports.contains(result.port))
        m_ports.append(result.port);
    m_connectedRow = 1;
    m_connectedLocation = result.port.systemLocation;
    m_identificationAnswer = result.answer;
    startPolling();
}

void InstrumentSession::startReadings(int intervalMs, qint64 untilMs)
{
    m_reading = true;
    m_readInterval = intervalMs;
    m_readUntilMs = untilMs;
    m_nextReadMs = readingsClockMs();
    if (m_link == Link::Polling)
        sendRead();
}

void InstrumentSession::sendRead()
{
    if (!m_sinceFirstRead.isValid())
        m_sinceFirstRead.start();
    if (m_pace == Pace::Window) {
        m_port->write("read\r\n");
        m_replyAwaited = true;
        armPass(Delay::PollInterval);
        return;
    }
    const qint64 now = readingsClockMs();
    // Held up for a whole interval (a stopped process, a busy machine): the
    // rhythm starts again from now instead of catching up.
    if (now > m_nextReadMs + m_readInterval)
        m_nextReadMs = now;
    // A reply that would come after the end is not asked for.
    if (m_readUntilMs > 0 && m_nextReadMs + Delay::PollInterval > m_readUntilMs) {
        m_reading = false;
        emit readingsOver();
        return;
    }
    // A reply that came after its pass belongs to no "read" of ours.
    m_port->readAll();
    m_port->write("read\r\n");
    m_replyAwaited = true;
    // The reply is read the window's poll interval after its "read".
    armPass(int(std::max<qint64>(0, m_nextReadMs + Delay::PollInterval - now)));
    m_nextReadMs += m_readInterval;
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

    if (m_pace == Pace::Tool) {
        // A pass reads the reply to its "read", or sends the next one.
        if (std::exchange(m_replyAwaited, false)) {
            const qint64 available = m_port->bytesAvailable();
            monitoringPass(m_port->readAll(), available);
        }
        if (m_scanState == Scan::Requested) {
            startScan();
            return;
        }
        if (!m_reading || m_link != Link::Polling || m_scanState != Scan::Idle)
            return;
        if (m_nextReadMs <= readingsClockMs())
            sendRead();
        else
            armPass(int(m_nextReadMs - readingsClockMs()));
        return;
    }

    const qint64 available = m_port->bytesAvailable();
    const QByteArray buffer = m_port->readAll();
    emit passStarted(scanCountdown());

    if (m_scanState == Scan::Capturing) {
        capturingPass(buffer);
        // The pass may have found the instrument gone.
        if (m_link == Link::Polling)
            armPass(Delay::PollInterval);
        return;
    }
    monitoringPass(buffer, available);
    if (m_scanState == Scan::Requested) {
        startScan();
        armPass(Delay::FirstCapturePiece);
        return;
    }
    sendRead();
}

void InstrumentSession::monitoringPass(const QByteArray &buffer, qint64 available)
{
    const auto reading = decodeMeasurementReply(buffer, available);
    if (!reading)
        return;
    const MeasurementRow row = measurementRow(*reading, QDateTime::currentDateTimeUtc(),
                                              readingsClockMs() / 1000.0, m_limits);
    m_lastReading = row;
    m_lastReadingTime = row.time;
    ++m_counts.readings;
    if (!row.pass)
        ++m_counts.limitMisses;
    emit readingAccepted(*reading, row);
}

void InstrumentSession::startScan()
{
    m_scanState = Scan::Capturing;
    m_progress = Capture::ScanProgress();
    m_beforeBitmap.clear();
    m_replyAwaited = false;
    m_port->readAll();
    m_port->write("SCAN\r\n");
    if (m_pace == Pace::Tool)
        m_captureSilence.start(NoDataAllowanceMs);
}

void InstrumentSession::capturingPass(const QByteArray &buffer)
{
    const Capture::CapturingPass pass = takeCaptureBytes(buffer);
    if (pass.captureTooLong) {
        // The instrument does not stop by itself: keep what the file holds.
        m_port->write("scan\r\n");
        emit diagnostic(QStringLiteral(" Capture cut at %1 bytes").arg(m_progress.captureOffset));
    }
    if (pass.sendStop) {
        // The bitmap is whole; what follows it is not written.
        m_port->write("scan\r\n");
        emit diagnostic(QStringLiteral(" Data past the capture's end: asked to stop"));
    }
    if (pass.ignoredStop)
        emit diagnostic(QStringLiteral(" Data past the capture's end did not stop: scan ended"));
    if (pass.endScan)
        endScan();
}

// The tool's capture: bytes as they arrive.
void InstrumentSession::captureArrived()
{
    QByteArray bytes = m_port->readAll();
    if (bytes.isEmpty())
        return;
    if (!m_progress.pieceReceived) {
        // Read as it arrives, the echo may come alone and the bitmap later,
        // or "B" in one read and "M" in the next: the first piece is the
        // bytes up to the bitmap's beginning, then cut as the window cuts it.
        m_beforeBitmap += bytes;
        if (!m_beforeBitmap.contains("BM")) {
            if (m_beforeBitmap.size() > LongestEcho)
                m_beforeBitmap = m_beforeBitmap.right(1);
            return;
        }
        bytes = std::exchange(m_beforeBitmap, QByteArray());
    }
    m_captureSilence.start(SilenceMs);
    const Capture::CapturingPass pass = takeCaptureBytes(bytes);
    // Bytes past the bitmap's end keep coming: the instrument is asked to stop.
    if (pass.sendStop || pass.captureTooLong)
        m_port->write("scan\r\n");
    // A capture that cannot be written is over.
    if (pass.endScan || scanOutcome().complete || !m_captureError.isEmpty())
        endScan();
}

// Decides what the bytes read are to the scan and keeps any piece: the pass's
// own step, and the last step of a scan whose instrument went away with bytes
// still waiting.
Capture::CapturingPass InstrumentSession::takeCaptureBytes(const QByteArray &bytes)
{
    const Capture::CapturingPass pass
        = Capture::decideCapturingPass(m_progress, bytes, m_dragGuard, m_clock.elapsed());
    if (!pass.writePiece)
        return pass;
    if (m_captureFileName.isEmpty()) {
        Capture::placePiece(m_captureInMemory, pass.offset, pass.piece);
    } else {
        const Capture::StoredPiece stored
            = Capture::writeCapturePiece(m_captureFileName, pass.offset, pass.piece);
        if (!stored.error.isEmpty()) {
            m_captureError = stored.error;
            emit captureFailed(m_captureFileName, stored.error);
        }
        if (stored.opened && m_pace == Pace::Window)
            emit capturePictureChanged(Capture::captureFilePicture(m_captureFileName));
    }
    const Capture::ScanOutcome outcome = scanOutcome();
    emit captureReceived(outcome.received, outcome.announced);
    emit captureProgressed(Capture::progressValue(m_progress.captureOffset));
    return pass;
}

void InstrumentSession::endScan()
{
    if (m_scanState != Scan::Capturing)
        return;
    if (m_pace == Pace::Window) {
        leaveCapturing();
        sendRead();
        return;
    }
    m_captureSilence.stop();
    // An unfinished stream, or one that went on past the bitmap, is stopped:
    // the instrument would otherwise go on sending to no one.
    if (m_port->isOpen() && (!scanOutcome().complete || m_progress.excessSinceMs >= 0)) {
        m_port->write("scan\r\n");
        m_port->waitForBytesWritten(200);
    }
    leaveCapturing();
    // Readings asked for go on after the scan.
    if (m_reading && m_link == Link::Polling) {
        m_nextReadMs = readingsClockMs();
        sendRead();
    }
}

void InstrumentSession::leaveCapturing()
{
    m_scanState = Scan::Idle;
    m_captureSilence.stop();
    const Capture::ScanOutcome outcome = scanOutcome();
    if (m_captureError.isEmpty() && !outcome.complete)
        emit diagnostic(QStringLiteral(" Capture incomplete: %1 bytes").arg(outcome.received));
    if (!m_captureError.isEmpty() || outcome.received == 0)
        ++m_counts.scansFailed;
    else
        ++(outcome.complete ? m_counts.scansComplete : m_counts.scansIncomplete);
    keepFinishedCapture();
    emit scanEnded(outcome, m_captureError);
}

// A capture that brought bytes and decodes is the latest one, whole or not:
// it is what the instrument showed of the eye.
void InstrumentSession::keepFinishedCapture()
{
    if (m_progress.captureOffset <= 0 || !m_captureError.isEmpty())
        return;
    const QImage picture = Capture::shownPicture(QImage::fromData(captureBytes(), "BMP"));
    if (picture.isNull())
        return;
    m_lastCapture = {picture, QDateTime::currentDateTimeUtc(), m_lastReading};
    judgeLastCapture();
}

void InstrumentSession::setMask(const std::optional<EyeMask::Mask> &mask, const QString &source)
{
    m_mask = mask;
    m_maskSource = source;
    m_maskResult.reset();
    emit maskChanged();
    judgeLastCapture();
}

void InstrumentSession::judgeLastCapture()
{
    if (!m_mask || m_lastCapture.picture.isNull())
        return;
    m_maskResult = MaskFile::judgePicture(m_lastCapture.picture, *m_mask, MaskFile::scaleOf(m_lastCapture.reading));
    emit maskJudged(*m_maskResult);
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
    m_captureInMemory.clear();
    m_captureError.clear();
    m_scanState = Scan::Requested;
    readBeforeScan();
    return QString();
}

QString InstrumentSession::requestScanInMemory(const QString &templateFileName)
{
    QByteArray blank;
    const QString error = Capture::loadCaptureTemplate(templateFileName, blank);
    if (!error.isEmpty())
        return error;
    m_captureFileName.clear();
    m_captureInMemory = blank;
    m_captureError.clear();
    m_scanState = Scan::Requested;
    readBeforeScan();
    return QString();
}

// At the tool's pace a scan starts at once, after one reading, so that the
// capture is known with the reading of its moment (the window's scan starts
// at a poll, whose reply it reads). The reply is taken as soon as it is
// whole, at the latest a poll interval after "read\r\n".
void InstrumentSession::readBeforeScan()
{
    if (m_pace != Pace::Tool || m_link != Link::Polling)
        return;
    m_nextPass.stop();
    if (!m_sinceFirstRead.isValid())
        m_sinceFirstRead.start();
    m_port->readAll();
    m_port->write("read\r\n");
    m_replyAwaited = true;
    armPass(Delay::PollInterval);
}

void InstrumentSession::stopScan()
{
    if (m_scanState != Scan::Capturing)
        return;
    if (m_pace == Pace::Window) {
        m_port->write("scan\r\n");
        return;
    }
    // What has arrived is kept; endScan() asks the instrument to stop.
    captureArrived();
    endScan();
}

void InstrumentSession::withdrawScan()
{
    if (m_scanState != Scan::Requested)
        return;
    m_scanState = Scan::Idle;
    // The tool's reading before the scan is still taken when its reply
    // comes, and readings asked for go on; at the window's pace the next
    // pass polls as it would have.
    emit diagnostic(QStringLiteral(" Scan withdrawn"));
    emit scanWithdrawn();
}

void InstrumentSession::close()
{
    m_reading = false;
    m_nextPass.stop();
    m_returnWatch.stop();
    m_captureSilence.stop();
    m_link = Link::None;
    m_connectedRow = 0;
    if (m_port)
        m_port->close();
}

void InstrumentSession::onPortError(QSerialPort::SerialPortError error)
{
    // A port that failed to open is dealt with where it was opened.
    if (isFatalPortError(error) && m_port->isOpen())
        instrumentLost(m_port->errorString());
}

void InstrumentSession::instrumentLost(const QString &reason)
{
    // Capture bytes that arrived before the loss are the capture's too: they
    // are kept before the port, and its buffer, are closed.
    if (m_scanState == Scan::Capturing && m_link == Link::Polling && m_port->isOpen()) {
        if (m_pace == Pace::Tool) {
            captureArrived();
        } else {
            const QByteArray waiting = m_port->readAll();
            if (!waiting.isEmpty())
                takeCaptureBytes(waiting);
        }
    }
    m_port->close();
    if (m_link == Link::None)
        return;
    m_link = Link::None;
    m_replyAwaited = false;
    m_lastReading.reset();
    ++m_counts.connectionLosses;
    emit diagnostic(QStringLiteral(" Lost: ") + reason);
    emit lost(reason);
    // The capture already holds every piece that arrived.
    if (m_scanState == Scan::Capturing)
        leaveCapturing();
    // The window's watch over the ports connects the instrument's row again
    // when it answers, and choosing it connects at once; the tool asks its
    // device.
    if (m_pace == Pace::Tool)
        m_returnWatch.start(Delay::PortWatch);
}

// The lost instrument is asked again, as the window asks for it, whenever its
// device is there.
void InstrumentSession::lookForReturn()
{
    if (m_link != Link::None || m_connectedRow == 0)
        return;
    if (!QFileInfo::exists(m_connectedLocation)) {
        m_returnWatch.start(Delay::PortWatch);
        return;
    }
    for (const SerialPortEntry &port : std::as_const(m_ports)) {
        if (port.systemLocation == m_connectedLocation) {
            m_probe.start({port});
            return;
        }
    }
}
