#include "cli/capturecommand.h"

#include "rules/delays.h"
#include "cli/exitstatus.h"
#include "io/capturefile.h"
#include "rules/identification.h"

#include <QCoreApplication>
#include <QImage>
#include <QSaveFile>

#include <algorithm>
#include <unistd.h>

namespace {

// The window's allowance for the first capture bytes: its first Capturing
// pass, then every empty poll it counts down (18 s).
constexpr int NoDataAllowanceMs = Delay::FirstCapturePiece + Capture::EmptyPollsAllowed * Delay::PollInterval;
// Once data flows, a pause this long ends the capture, as the window's first
// empty poll does.
constexpr int SilenceMs = Delay::PollInterval;
// Bytes kept while waiting for "BM"; an instrument that sends more without
// it sends no bitmap, and only a last "B" can still begin one.
constexpr qsizetype LongestEcho = 1024 * 1024;

} // namespace

CaptureCommand::CaptureCommand(const CliOptions &options, QObject *parent)
    : CliCommand(parent)
    , m_options(options)
    , m_ports({}, SystemSerialPorts::Enumeration::SystemAndExtra, options.lineOverride)
    , m_probe(m_ports)
    , m_progress(!options.quiet, ::isatty(STDERR_FILENO) == 1)
{
    for (QTimer *timer : {&m_noDataTimer, &m_silenceTimer}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer, &QTimer::timeout, this, &CaptureCommand::endScan);
    }
    connect(&m_probe, &InstrumentProbe::finished, this, &CaptureCommand::instrumentFound);
}

CaptureCommand::~CaptureCommand() = default;

void CaptureCommand::start()
{
    // Nothing is probed, written or sent without a usable template.
    m_templateName = Capture::templateFileName();
    const QString problem = Capture::loadCaptureTemplate(m_templateName, m_blank);
    if (!problem.isEmpty()) {
        printError(problem);
        finish(ExitStatus::FileNotWritten);
        return;
    }
    m_probe.start(portsToProbe(m_ports, m_options.devices));
}

void CaptureCommand::stop()
{
    if (m_state != State::Scanning) {
        printError(QStringLiteral("stopped before the scan began"));
        finish(ExitStatus::CaptureIncomplete);
        return;
    }
    // What has arrived is kept; endScan() asks the instrument to stop.
    take(m_port->readAll());
    endScan();
}

void CaptureCommand::instrumentFound()
{
    const QList<InstrumentProbe::Result> results = m_probe.results();
    const int found = firstInstrument(results);
    if (found < 0) {
        finish(ExitStatus::NoInstrument);
        return;
    }
    m_port = m_probe.takePort(found);
    const QString error = prepareOutput();
    if (!error.isEmpty()) {
        printError(error);
        finish(ExitStatus::FileNotWritten);
        return;
    }
    printNote(m_options,
              QStringLiteral("capturing from %1 into %2")
                  .arg(results.at(found).port.systemLocation, m_options.output));
    m_context.software = QCoreApplication::applicationName() + QLatin1Char(' ')
        + QCoreApplication::applicationVersion();
    m_context.identification = Identification::instrumentIdentification(results.at(found).answer);
    m_context.device = results.at(found).port.systemLocation;

    connect(m_port.get(), &QSerialPort::readyRead, this, [this] {
        // The reply to "read" waits for its pass.
        if (m_state == State::Scanning)
            take(m_port->readAll());
    });
    connect(m_port.get(), &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        if (isFatalPortError(error))
            lose();
    });
    // A picture keeps the reading of the moment it was taken: one "read",
    // its reply read a poll interval later as the window reads it, then
    // "SCAN".
    if (m_options.captureFormat == CaptureFormat::Png) {
        m_state = State::Reading;
        m_port->readAll();
        m_port->write("read\r\n");
        QTimer::singleShot(Delay::PollInterval, this, &CaptureCommand::takeReadingAndScan);
        return;
    }
    startScan();
}

void CaptureCommand::takeReadingAndScan()
{
    if (m_state != State::Reading)
        return;
    const qint64 available = m_port->bytesAvailable();
    if (const auto display = decodeMeasurementReply(m_port->readAll(), available))
        m_context.reading = measurementRow(*display, QDateTime::currentDateTimeUtc(), 0);
    startScan();
}

void CaptureCommand::startScan()
{
    m_state = State::Scanning;
    m_port->readAll();
    m_port->write("SCAN\r\n");
    m_clock.start();
    m_noDataTimer.start(NoDataAllowanceMs);
}

// The file is made as the Scan button makes it; a picture file starts as
// the template's picture.
QString CaptureCommand::prepareOutput()
{
    m_content = m_blank;
    if (m_options.captureFormat == CaptureFormat::Png)
        return writePicture();
    const QString error = Capture::prepareCaptureFile(m_templateName, m_options.output);
    if (!error.isEmpty())
        return error;
    m_file.setFileName(m_options.output);
    if (!m_file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
        return m_file.errorString();
    m_content = m_file.readAll();
    return QString();
}

void CaptureCommand::take(QByteArray bytes)
{
    if (m_state != State::Scanning || bytes.isEmpty())
        return;
    if (!m_scan.pieceReceived) {
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
        m_noDataTimer.stop();
    }
    m_silenceTimer.start(SilenceMs);

    const Capture::CapturingPass pass = Capture::decideCapturingPass(m_scan, bytes, 0, m_clock.elapsed());
    if (pass.writePiece && !store(pass.piece, pass.offset)) {
        endScan();
        return;
    }
    // Bytes past the bitmap's end keep coming: the instrument is asked to stop.
    if (pass.sendStop || pass.captureTooLong)
        m_port->write("scan\r\n");
    const Capture::ScanOutcome outcome = Capture::scanOutcome(m_scan);
    m_progress.update(outcome.received, outcome.announced);
    if (pass.endScan || outcome.complete)
        endScan();
}

bool CaptureCommand::store(const QByteArray &piece, qint64 offset)
{
    const qint64 before = m_content.size();
    Capture::placePiece(m_content, offset, piece);
    if (m_options.captureFormat == CaptureFormat::Png)
        return true;
    // Only what changed is written, in place: the file stays a whole bitmap.
    const qint64 from = std::min(offset, before);
    const qint64 length = m_content.size() - from;
    if (!m_file.seek(from) || m_file.write(m_content.constData() + from, length) != length
        || !m_file.flush()) {
        m_writeError = m_file.errorString();
        return false;
    }
    return true;
}

QString CaptureCommand::writePicture()
{
    const QImage picture = Capture::shownPicture(QImage::fromData(m_content, "BMP"));
    if (picture.isNull())
        return QStringLiteral("the capture does not decode as a picture");
    m_context.time = QDateTime::currentDateTimeUtc();
    QString error;
    if (!PictureFile::savePng(picture, m_options.output, m_context, &error))
        return QStringLiteral("%1 cannot be written: %2").arg(m_options.output, error);
    return QString();
}

// The instrument went away: what it sent before is still waiting on the port
// and goes into the file before the port is closed.
void CaptureCommand::lose()
{
    if (m_state == State::Reading) {
        const QString reason = m_port->errorString();
        m_port->close();
        printError(QStringLiteral("instrument lost before the scan: %1").arg(reason));
        finish(ExitStatus::NoInstrument);
        return;
    }
    if (m_state != State::Scanning)
        return;
    take(m_port->readAll());
    if (m_state != State::Scanning)
        return;
    const QString reason = m_port->errorString();
    m_port->close();
    printError(QStringLiteral("instrument lost: %1").arg(reason));
    endScan();
}

void CaptureCommand::endScan()
{
    if (m_state != State::Scanning)
        return;
    m_noDataTimer.stop();
    m_silenceTimer.stop();
    m_progress.finish();
    const Capture::ScanOutcome outcome = Capture::scanOutcome(m_scan);
    // An unfinished stream, or one that went on past the bitmap, is stopped:
    // the instrument would otherwise go on sending to no one.
    if (m_port->isOpen() && (!outcome.complete || m_scan.excessSinceMs >= 0)) {
        m_port->write("scan\r\n");
        m_port->waitForBytesWritten(200);
    }
    if (m_writeError.isEmpty() && m_options.captureFormat == CaptureFormat::Png)
        m_writeError = writePicture();
    m_file.close();
    if (!m_writeError.isEmpty()) {
        printError(QStringLiteral("%1 could not be written: %2").arg(m_options.output, m_writeError));
        finish(ExitStatus::FileNotWritten);
        return;
    }
    const double seconds = m_clock.elapsed() / 1000.0;
    if (outcome.complete) {
        printNote(m_options,
                  QStringLiteral("%1 bytes in %2 s into %3")
                      .arg(outcome.received)
                      .arg(seconds, 0, 'f', 2)
                      .arg(m_options.output));
        finish(ExitStatus::Done);
        return;
    }
    printError(
        outcome.announced < 0
            ? QStringLiteral("capture incomplete: %1 holds %2 bytes; the instrument never sent its size")
                  .arg(m_options.output)
                  .arg(outcome.received)
            : QStringLiteral("capture incomplete: %1 holds %2 of the %3 bytes")
                  .arg(m_options.output)
                  .arg(outcome.received)
                  .arg(outcome.announced));
    finish(ExitStatus::CaptureIncomplete);
}

void CaptureCommand::finish(int exitStatus)
{
    if (m_state == State::Ended)
        return;
    m_state = State::Ended;
    if (m_port)
        m_port->close();
    emit finished(exitStatus);
}
