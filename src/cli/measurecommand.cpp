#include "cli/measurecommand.h"

#include "cli/exitstatus.h"
#include "rules/delays.h"

#include <QCoreApplication>

MeasureCommand::MeasureCommand(const CliOptions &options, QObject *parent)
    : CliCommand(parent)
    , m_options(options)
    , m_session(systemPorts(options), InstrumentSession::Pace::Tool)
    , m_log(&m_session, QCoreApplication::applicationName())
{
    m_session.setLimits(options.limits);
    m_durationTimer.setSingleShot(true);
    m_durationTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_durationTimer, &QTimer::timeout, this, [this] { finish(exitStatus()); });
    connect(&m_session, &InstrumentSession::probed, this, &MeasureCommand::instrumentFound);
    connect(&m_session, &InstrumentSession::connected, this, &MeasureCommand::connected);
    connect(&m_session, &InstrumentSession::readingAccepted, this,
            [this](const MeasurementReading &, const MeasurementRow &row) { reading(row); });
    connect(&m_session, &InstrumentSession::readingsOver, this, [this] { finish(exitStatus()); });
    connect(&m_session, &InstrumentSession::lost, this, &MeasureCommand::lost);
    connect(&m_log, &SessionLog::writeFailed, this,
            [this](const QString &, const QString &reason) { writeFailed(reason); });
}

MeasureCommand::~MeasureCommand() = default;

void MeasureCommand::start()
{
    // The output is opened first: a run that cannot keep its rows does not
    // start.
    QString error;
    const bool opened = m_options.output.isEmpty() ? m_log.openStandardOutput(m_options.logFormat, &error)
                                                   : m_log.open(m_options.output, m_options.logFormat, &error);
    if (!opened) {
        printError(QStringLiteral("%1 cannot be written: %2").arg(m_options.output, error));
        finish(ExitStatus::FileNotWritten);
        return;
    }
    m_session.probe(portsToProbe(m_session.ports(), m_options.devices));
}

void MeasureCommand::stop()
{
    finish(exitStatus());
}

void MeasureCommand::instrumentFound(const QList<InstrumentProbe::Result> &results)
{
    const int found = firstInstrument(results);
    if (found < 0) {
        finish(ExitStatus::NoInstrument);
        return;
    }
    // The log's block for the instrument is written as it connects.
    m_session.adopt(found);
    if (m_ended)
        return;
    m_measuring = true;
    m_session.startReadings(m_options.intervalMs, m_options.durationMs);
    // A run ends at its last reading before the end; this ends one that has
    // no readings running, because the instrument is lost.
    if (m_options.durationMs > 0)
        m_durationTimer.start(int(m_options.durationMs + Delay::PollInterval / 2));
}

void MeasureCommand::connected(const QString &identification, const QString &device)
{
    printNote(m_options, m_measuring ? QStringLiteral("connected again: %1 on %2").arg(identification, device)
                                     : QStringLiteral("measuring %1 on %2").arg(identification, device));
}

void MeasureCommand::reading(const MeasurementRow &row)
{
    if (m_ended)
        return;
    ++m_rows;
    m_limitMissed = m_limitMissed || !row.pass;
    if (m_options.count > 0 && m_rows >= m_options.count)
        finish(exitStatus());
}

void MeasureCommand::lost(const QString &reason)
{
    printNote(m_options,
              QStringLiteral("instrument lost (%1): waiting for it on %2").arg(reason, m_session.device()));
}

void MeasureCommand::writeFailed(const QString &reason)
{
    printError(QStringLiteral("%1 could not be written: %2")
                   .arg(m_options.output.isEmpty() ? QStringLiteral("standard output") : m_options.output, reason));
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
    if (m_rows == 0 || m_session.link() != InstrumentSession::Link::Polling)
        return ExitStatus::NoInstrument;
    return ExitStatus::Done;
}

void MeasureCommand::finish(int exitStatus)
{
    if (m_ended)
        return;
    m_ended = true;
    m_durationTimer.stop();
    m_session.close();
    m_log.close();
    emit finished(exitStatus);
}
