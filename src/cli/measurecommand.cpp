#include "cli/measurecommand.h"

#include "rules/delays.h"
#include "cli/exitstatus.h"
#include "rules/identification.h"
#include "rules/measurementreply.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>

MeasureCommand::MeasureCommand(const CliOptions &options, QObject *parent)
    : CliCommand(parent)
    , m_options(options)
    , m_ports({}, SystemSerialPorts::Enumeration::SystemAndExtra, options.lineOverride)
{
    for (QTimer *timer : {&m_passTimer, &m_watchTimer, &m_durationTimer}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(&m_passTimer, &QTimer::timeout, this, [this] { m_replyAwaited ? collectReply() : sendRead(); });
    connect(&m_watchTimer, &QTimer::timeout, this, &MeasureCommand::lookForReturn);
    // A run ends at its last pass before the end; this ends one that has no
    // passes running, because the instrument is lost.
    connect(&m_durationTimer, &QTimer::timeout, this, [this] { finish(exitStatus()); });
}

MeasureCommand::~MeasureCommand() = default;

void MeasureCommand::start()
{
    // The output is opened first: a run that cannot keep its rows does not
    // start.
    const bool opened = m_options.output.isEmpty() ? m_log.openStandardOutput(m_options.logFormat)
                                                   : m_log.open(m_options.output, m_options.logFormat);
    if (!opened) {
        printError(QStringLiteral("%1 cannot be written: %2").arg(m_options.output, m_log.errorString()));
        finish(ExitStatus::FileNotWritten);
        return;
    }
    m_probe = std::make_unique<InstrumentProbe>(m_ports);
    connect(m_probe.get(), &InstrumentProbe::finished, this, &MeasureCommand::instrumentFound);
    m_probe->start(portsToProbe(m_ports, m_options.devices));
}

void MeasureCommand::stop()
{
    finish(exitStatus());
}

void MeasureCommand::instrumentFound()
{
    const QList<InstrumentProbe::Result> results = m_probe->results();
    const int found = firstInstrument(results);
    if (found < 0) {
        finish(ExitStatus::NoInstrument);
        return;
    }
    m_device = results.at(found).port;
    const LogSession session = logSession(
        QCoreApplication::applicationName(),
        Identification::instrumentIdentification(results.at(found).answer), m_device.systemLocation,
        describeLineSettings(m_ports.lineSettings(m_device)), QDateTime::currentDateTimeUtc());
    if (!m_log.writeSession(session)) {
        writeFailed();
        return;
    }
    printNote(m_options, QStringLiteral("measuring %1 on %2").arg(session.identification, session.device));
    startPolling(m_probe->takePort(found));
}

void MeasureCommand::startPolling(std::unique_ptr<QSerialPort> port)
{
    m_port = std::move(port);
    connect(m_port.get(), &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        if (isFatalPortError(error))
            lose(m_port->errorString());
    });
    m_state = State::Measuring;
    if (!m_clock.isValid()) {
        m_clock.start();
        if (m_options.durationMs > 0)
            m_durationTimer.start(int(m_options.durationMs + Delay::PollInterval / 2));
    }
    m_nextReadMs = m_clock.elapsed();
    sendRead();
}

void MeasureCommand::armPass(qint64 atMs)
{
    m_passTimer.start(int(std::max<qint64>(0, atMs - m_clock.elapsed())));
}

void MeasureCommand::sendRead()
{
    const qint64 now = m_clock.elapsed();
    // Held up for a whole interval (a stopped process, a busy machine): the
    // rhythm starts again from now instead of catching up.
    if (now > m_nextReadMs + m_options.intervalMs)
        m_nextReadMs = now;
    // A reply that would come after the run's end is not asked for.
    if (m_options.durationMs > 0 && m_nextReadMs + Delay::PollInterval > m_options.durationMs) {
        finish(exitStatus());
        return;
    }
    // A reply that came after its pass belongs to no "read" of ours.
    m_port->readAll();
    m_port->write("read\r\n");
    m_replyAwaited = true;
    // The reply is read the window's poll interval after its "read".
    armPass(m_nextReadMs + Delay::PollInterval);
    m_nextReadMs += m_options.intervalMs;
}

void MeasureCommand::collectReply()
{
    m_replyAwaited = false;
    const qint64 available = m_port->bytesAvailable();
    const QByteArray reply = m_port->readAll();
    if (const auto reading = decodeMeasurementReply(reply, available)) {
        const MeasurementRow row = measurementRow(*reading, QDateTime::currentDateTimeUtc(),
                                                  m_clock.elapsed() / 1000.0, m_options.limits);
        if (!m_log.writeRow(row)) {
            writeFailed();
            return;
        }
        ++m_rows;
        m_limitMissed = m_limitMissed || !row.pass;
        if (m_options.count > 0 && m_rows >= m_options.count) {
            finish(exitStatus());
            return;
        }
    }
    if (m_nextReadMs <= m_clock.elapsed())
        sendRead();
    else
        armPass(m_nextReadMs);
}

void MeasureCommand::lose(const QString &reason)
{
    if (m_state != State::Measuring)
        return;
    m_state = State::Lost;
    m_passTimer.stop();
    // The port stops its error storm once closed; it is deleted after the
    // signal that brought us here.
    m_port->close();
    m_port.release()->deleteLater();
    if (!m_log.writeLost(QDateTime::currentDateTimeUtc(), reason)) {
        writeFailed();
        return;
    }
    printNote(
        m_options,
        QStringLiteral("instrument lost (%1): waiting for it on %2").arg(reason, m_device.systemLocation));
    m_watchTimer.start(Delay::PortWatch);
}

// The lost instrument is asked again, as the window asks for it, whenever its
// device is there.
void MeasureCommand::lookForReturn()
{
    if (!QFileInfo::exists(m_device.systemLocation)) {
        m_watchTimer.start(Delay::PortWatch);
        return;
    }
    m_probe = std::make_unique<InstrumentProbe>(m_ports);
    connect(m_probe.get(), &InstrumentProbe::finished, this, &MeasureCommand::instrumentBack);
    m_probe->start({m_device});
}

void MeasureCommand::instrumentBack()
{
    if (m_state != State::Lost)
        return;
    const InstrumentProbe::Result result = m_probe->results().constFirst();
    if (result.outcome != InstrumentProbe::Outcome::Instrument) {
        m_watchTimer.start(Delay::PortWatch);
        return;
    }
    const QString identification = Identification::instrumentIdentification(result.answer);
    if (!m_log.writeConnected(QDateTime::currentDateTimeUtc(), identification)) {
        writeFailed();
        return;
    }
    printNote(m_options,
              QStringLiteral("connected again: %1 on %2").arg(identification, m_device.systemLocation));
    startPolling(m_probe->takePort(0));
}

void MeasureCommand::writeFailed()
{
    printError(QStringLiteral("%1 could not be written: %2")
                   .arg(m_options.output.isEmpty() ? QStringLiteral("standard output") : m_options.output,
                        m_log.errorString()));
    m_writeFailed = true;
    finish(exitStatus());
}

int MeasureCommand::exitStatus() const
{
    if (m_writeFailed)
        return ExitStatus::FileNotWritten;
    if (m_limitMissed)
        return ExitStatus::LimitMissed;
    // No reading at all, or the instrument was gone when the run ended.
    if (m_rows == 0 || m_state == State::Lost)
        return ExitStatus::NoInstrument;
    return ExitStatus::Done;
}

void MeasureCommand::finish(int exitStatus)
{
    if (m_state == State::Ended)
        return;
    m_state = State::Ended;
    m_passTimer.stop();
    m_watchTimer.stop();
    m_durationTimer.stop();
    if (m_port)
        m_port->close();
    m_log.close();
    emit finished(exitStatus);
}
