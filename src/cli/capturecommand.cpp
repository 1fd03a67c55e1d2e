#include "cli/capturecommand.h"

#include "cli/exitstatus.h"
#include "cli/maskcommand.h"
#include "io/capturefile.h"
#include "io/picturefile.h"

#include <QCoreApplication>
#include <QImage>

#include <cstdio>

#include <unistd.h>

CaptureCommand::CaptureCommand(const CliOptions &options, QObject *parent)
    : CliCommand(parent)
    , m_options(options)
    , m_session(systemPorts(options), InstrumentSession::Pace::Tool)
    , m_progress(!options.quiet, ::isatty(STDERR_FILENO) == 1)
{
    connect(&m_session, &InstrumentSession::probed, this, &CaptureCommand::instrumentFound);
    connect(&m_session, &InstrumentSession::captureReceived, this,
            [this](qint64 received, qint64 announced) { m_progress.update(received, announced); });
    connect(&m_session, &InstrumentSession::lost, this, [this](const QString &reason) {
        if (!m_scanning)
            return;
        if (m_session.scan() == InstrumentSession::Scan::Requested) {
            printError(QStringLiteral("instrument lost before the scan: %1").arg(reason));
            finish(ExitStatus::NoInstrument);
            return;
        }
        printError(QStringLiteral("instrument lost: %1").arg(reason));
    });
    connect(&m_session, &InstrumentSession::scanEnded, this, &CaptureCommand::scanEnded);
    connect(&m_session, &InstrumentSession::readingAccepted, this,
            [this](const MeasurementReading &, const MeasurementRow &row) { m_reading = row; });
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
    // A mask that cannot be read ends the command before anything is sent.
    if (!m_options.mask.isEmpty()) {
        const std::optional<EyeMask::Mask> mask = loadMaskOrSay(m_options.mask);
        if (!mask) {
            finish(ExitStatus::UsageError);
            return;
        }
        m_session.setMask(mask, m_options.mask);
    }
    m_session.probe(portsToProbe(m_session.ports(), m_options.devices));
}

void CaptureCommand::stop()
{
    if (!m_scanning) {
        printError(QStringLiteral("stopped before the scan began"));
        finish(ExitStatus::CaptureIncomplete);
        return;
    }
    // What has arrived is kept, and the instrument is asked to stop.
    m_session.stopScan();
}

void CaptureCommand::instrumentFound(const QList<InstrumentProbe::Result> &results)
{
    const int found = firstInstrument(results);
    if (found < 0) {
        finish(ExitStatus::NoInstrument);
        return;
    }
    m_session.adopt(found);
    // The file is made as the Scan button makes it; a picture file starts as
    // the template's picture. "SCAN\r\n" goes out once it is there.
    QString error;
    if (m_options.captureFormat == CaptureFormat::Png) {
        error = writePicture(m_blank);
        if (error.isEmpty())
            error = m_session.requestScanInMemory(m_templateName);
    } else {
        error = m_session.requestScan(m_options.output, m_templateName);
    }
    if (!error.isEmpty()) {
        printError(error);
        finish(ExitStatus::FileNotWritten);
        return;
    }
    m_scanning = true;
    m_clock.start();
    printNote(m_options,
              QStringLiteral("capturing from %1 into %2").arg(results.at(found).port.systemLocation, m_options.output));
}

QString CaptureCommand::writePicture(const QByteArray &capture, const std::optional<EyeMask::Result> &mask) const
{
    const QImage picture = Capture::shownPicture(QImage::fromData(capture, "BMP"));
    if (picture.isNull())
        return QStringLiteral("the capture does not decode as a picture");
    PictureFile::PictureContext context;
    context.software = QCoreApplication::applicationName() + QLatin1Char(' ') + QCoreApplication::applicationVersion();
    context.identification = m_session.identification();
    context.device = m_session.device();
    context.time = QDateTime::currentDateTimeUtc();
    context.reading = m_reading;
    context.mask = mask;
    QString error;
    if (!PictureFile::savePng(picture, m_options.output, context, &error))
        return QStringLiteral("%1 cannot be written: %2").arg(m_options.output, error);
    return QString();
}

void CaptureCommand::scanEnded(const Capture::ScanOutcome &outcome, const QString &captureError)
{
    if (!m_scanning)
        return;
    m_scanning = false;
    m_progress.finish();
    QString writeError = captureError;
    if (writeError.isEmpty() && m_options.captureFormat == CaptureFormat::Png)
        writeError = writePicture(m_session.captureBytes(), m_session.maskResult());
    if (!writeError.isEmpty()) {
        printError(QStringLiteral("%1 could not be written: %2").arg(m_options.output, writeError));
        finish(ExitStatus::FileNotWritten);
        return;
    }
    const double seconds = m_clock.elapsed() / 1000.0;
    const bool maskPassed = judgeByMask();
    if (outcome.complete) {
        printNote(m_options,
                  QStringLiteral("%1 bytes in %2 s into %3")
                      .arg(outcome.received)
                      .arg(seconds, 0, 'f', 2)
                      .arg(m_options.output));
        finish(maskPassed ? ExitStatus::Done : ExitStatus::LimitMissed);
        return;
    }
    printError(QStringLiteral("capture incomplete: ") + Capture::incompleteCaptureText(m_options.output, outcome));
    finish(ExitStatus::CaptureIncomplete);
}

// The capture judged by the mask, as mask judges a picture: printed, and
// whether it passed (true without a mask).
bool CaptureCommand::judgeByMask() const
{
    const std::optional<EyeMask::Mask> mask = m_session.mask();
    if (!mask)
        return true;
    const std::optional<EyeMask::Result> result = m_session.maskResult();
    if (!result) {
        printError(QStringLiteral("no capture picture to judge by %1").arg(mask->name));
        return false;
    }
    const QByteArray report = maskReport(m_options.output, *result, mask->hitRate, result->pass, MaskFormat::Text);
    std::fwrite(report.constData(), 1, size_t(report.size()), stdout);
    std::fflush(stdout);
    if (!result->judged())
        printError(EyeMask::summary(*result));
    return result->pass;
}

void CaptureCommand::finish(int exitStatus)
{
    if (m_ended)
        return;
    m_ended = true;
    m_session.close();
    emit finished(exitStatus);
}
