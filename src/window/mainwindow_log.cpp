// MainWindow's measurement log: every reading the window accepts, appended to
// a file while the window runs (--log FILE, or Log Measurements...).

#include "window/mainwindow.h"
#include "window/processstate.h"
#include "io/measurementlog.h"

#include <QMessageBox>

bool MainWindow::startMeasurementLog(const QString &fileName, QString *error)
{
    auto log = std::make_unique<MeasurementLog>();
    if (!log->open(fileName, logFormatForFileName(fileName))) {
        if (error)
            *error = log->errorString();
        return false;
    }
    m_log = std::move(log);
    m_loggedDevice.clear();
    m_logWaitsForReturn = false;
    // Started while connected: the session begins with the instrument at hand.
    if (m_link == Link::Polling)
        logConnection(m_identification, m_connectedLocation);
    return true;
}

void MainWindow::stopMeasurementLog()
{
    m_log.reset();
}

QString MainWindow::measurementLogFile() const
{
    return m_log ? m_log->fileName() : QString();
}

void MainWindow::logConnection(const QString &identification, const QString &device)
{
    m_identification = identification;
    if (!m_log)
        return;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    bool written = false;
    if (m_logWaitsForReturn && device == m_loggedDevice) {
        written = m_log->writeConnected(now, identification);
    } else {
        written = m_log->writeSession(
            logSession(QStringLiteral("zentaval"), identification, device, lineSettingsText(device), now));
        m_loggedDevice = device;
    }
    m_logWaitsForReturn = false;
    if (!written)
        logWriteFailed();
}

QString MainWindow::lineSettingsText(const QString &device) const
{
    for (const SerialPortEntry &port : std::as_const(PortList)) {
        if (port.systemLocation == device)
            return describeLineSettings(m_ports->lineSettings(port));
    }
    return QString();
}

void MainWindow::logMeasurement(const MeasurementRow &row)
{
    if (m_log && !m_log->writeRow(row))
        logWriteFailed();
}

void MainWindow::logLoss(const QString &reason)
{
    if (!m_log || m_loggedDevice.isEmpty())
        return;
    m_logWaitsForReturn = true;
    if (!m_log->writeLost(QDateTime::currentDateTimeUtc(), reason))
        logWriteFailed();
}

// A log that cannot be written (disk full, file system gone) is said so at
// once and stopped; nothing is kept waiting for a file that takes nothing.
void MainWindow::logWriteFailed()
{
    const QString text = tr("The measurement log %1 could not be written: %2\nLogging has stopped.")
                             .arg(m_log->fileName(), m_log->errorString());
    m_log.reset();
    appendLog(QStringLiteral(" Log stopped: ") + text);
    auto *box = new QMessageBox(QMessageBox::Warning, tr("Zentaval"), text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
