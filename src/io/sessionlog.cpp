#include "io/sessionlog.h"

#include "io/instrumentsession.h"

SessionLog::SessionLog(InstrumentSession *session, const QString &program, QObject *parent)
    : QObject(parent)
    , m_session(session)
    , m_program(program)
{
    connect(session, &InstrumentSession::connected, this, &SessionLog::connected);
    connect(session, &InstrumentSession::readingAccepted, this,
            [this](const MeasurementReading &, const MeasurementRow &row) { reading(row); });
    connect(session, &InstrumentSession::lost, this, &SessionLog::lost);
    connect(session, &InstrumentSession::scanEnded, this, &SessionLog::captureJudged);
}

bool SessionLog::open(const QString &fileName, LogFormat format, QString *error)
{
    return opened(m_log.open(fileName, format), error);
}

bool SessionLog::openStandardOutput(LogFormat format, QString *error)
{
    return opened(m_log.openStandardOutput(format), error);
}

bool SessionLog::opened(bool success, QString *error)
{
    if (!success) {
        if (error)
            *error = m_log.errorString();
        return false;
    }
    m_loggedDevice.clear();
    m_waitsForReturn = false;
    m_loggedCapture = m_session->lastCaptureTime(); // a capture before the log is not its own
    if (m_session->link() == InstrumentSession::Link::Polling)
        connected(m_session->identification(), m_session->device(), m_session->lineSettings());
    return true;
}

void SessionLog::connected(const QString &identification, const QString &device, const QString &lineSettings)
{
    if (!m_log.isOpen())
        return;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (m_waitsForReturn && device == m_loggedDevice) {
        m_waitsForReturn = false;
        check(m_log.writeConnected(now, identification));
        return;
    }
    m_loggedDevice = device;
    m_waitsForReturn = false;
    check(m_log.writeSession(logSession(m_program, identification, device, lineSettings, now)));
}

void SessionLog::reading(const MeasurementRow &row)
{
    if (m_log.isOpen())
        check(m_log.writeRow(row));
}

void SessionLog::lost(const QString &reason)
{
    if (!m_log.isOpen() || m_loggedDevice.isEmpty())
        return;
    m_waitsForReturn = true;
    check(m_log.writeLost(QDateTime::currentDateTimeUtc(), reason));
}

// At the end of a scan, the mask's result for the capture it brought; a scan
// that brought no picture leaves the latest capture (and its result) an
// older one, already written.
void SessionLog::captureJudged()
{
    const std::optional<EyeMask::Result> result = m_session->maskResult();
    const QDateTime capturedAt = m_session->lastCaptureTime();
    if (!m_log.isOpen() || !result || capturedAt == m_loggedCapture)
        return;
    m_loggedCapture = capturedAt;
    check(m_log.writeMaskResult(capturedAt, *result, m_session->captureFileName()));
}

// A log that cannot be written (disk full, file system gone) is said so at
// once and stopped; nothing is kept waiting for a file that takes nothing.
void SessionLog::check(bool written)
{
    if (written)
        return;
    const QString fileName = m_log.fileName();
    const QString reason = m_log.errorString();
    m_log.close();
    emit writeFailed(fileName, reason);
}
