// MainWindow's measurement poll loop and eye capture: the passes that run
// every 500 ms once an instrument is connected.

#include "rules/delays.h"
#include "window/mainwindow.h"
#include "window/processstate.h"
#include "window/mainwindowui.h"
#include "rules/capture.h"
#include "io/capturefile.h"
#include "rules/measurementreply.h"
#include "rules/pollmode.h"

#include <QPixmap>

namespace {

QString lockLampPicture(LockLamp lamp)
{
    switch (lamp) {
    case LockLamp::Green:
        return QStringLiteral(":/new/prefix1/LED_Green.png");
    case LockLamp::Yellow:
        return QStringLiteral(":/new/prefix1/LED_Yellow.png");
    case LockLamp::Grey:
        break;
    }
    return QStringLiteral(":/new/prefix1/LED_Grey.png");
}

} // namespace

// One chain of passes at a time: the next pass is one timer, so the first pass
// of a reconnection replaces any pass the lost chain still has pending (the
// 8 s wait after "SCAN\r\n" outlasts a reconnection).
void MainWindow::armPass(int delay)
{
    m_nextPass.start(delay);
}

int MainWindow::ReceiveMeas()
{
    if (m_link != Link::Polling)
        return 0;

    // While the user works the port list the chain ends; choosing a port
    // starts a new one.
    if (ui->PortSelBox->hasFocus())
        return 0;

    const qint64 available = Port.bytesAvailable();
    const QByteArray buffer = Port.readAll();
    ui->spinBox->setValue(ScanCountdown);

    const int pollModeBefore = PollMode;
    if (pollModeBefore == Monitoring)
        monitoringPass(buffer, available);
    else
        capturingPass(buffer);

    // The pass may have found the instrument gone.
    if (m_link == Link::Polling)
        armPass(Capture::nextPassDelay(pollModeBefore, PollMode, PollInterval));
    return 0;
}

void MainWindow::monitoringPass(const QByteArray &buffer, qint64 available)
{
    if (const auto reading = decodeMeasurementReply(buffer, available)) {
        const MeasurementLabels labels = labelTexts(*reading);
        ui->LEDStat->setPixmap(QPixmap(lockLampPicture(reading->lamp)));
        ui->QFactorLabel->setText(labels.quality);
        ui->AmplitudeBar->setValue(reading->amplitudeBar);
        ui->VoltageLabel->setText(labels.amplitude);
        ui->HeightLabel->setText(labels.eyeHeight);
        ui->WidthLabel->setText(labels.eyeWidth);
        ui->RateLabel->setText(labels.rate);
        emit measurementAccepted(measurementRow(*reading, QDateTime::currentDateTimeUtc(),
                                                m_sinceFirstRead.elapsed() / 1000.0, m_limits));
    }

    if (ScanCountdown <= 0) {
        Port.write("read\r\n");
        return;
    }
    PollMode = Capturing;
    CaptureOffset = 0;
    m_scan = Capture::ScanProgress();
    m_scan.scanCountdown = ScanCountdown;
    Port.readAll();
    Port.write("SCAN\r\n");
}

void MainWindow::capturingPass(const QByteArray &buffer)
{
    const Capture::CapturingPass pass = takeCaptureBytes(buffer);
    if (pass.captureTooLong) {
        // The instrument does not stop by itself: keep what the file holds.
        Port.write("scan\r\n");
        appendLog(QStringLiteral(" Capture cut at %1 bytes").arg(CaptureOffset));
    }
    if (pass.sendStop) {
        // The bitmap is whole; what follows it is not written.
        Port.write("scan\r\n");
        appendLog(QStringLiteral(" Data past the capture's end: asked to stop"));
    }
    if (pass.ignoredStop)
        appendLog(QStringLiteral(" Data past the capture's end did not stop: scan ended"));
    if (pass.endScan)
        endScan();
}

// Decides what the bytes read are to the scan and puts any piece into the
// capture file: the pass's own step, and the last step of a scan whose
// instrument went away with bytes still waiting.
Capture::CapturingPass MainWindow::takeCaptureBytes(const QByteArray &bytes)
{
    const Capture::CapturingPass pass
        = Capture::decideCapturingPass(m_scan, bytes, DragGuard, m_sinceFirstRead.elapsed());
    ScanCountdown = m_scan.scanCountdown;
    CaptureOffset = int(m_scan.captureOffset);
    if (pass.writePiece)
        writeCapturePiece(pass.piece, pass.offset);
    return pass;
}

void MainWindow::writeCapturePiece(const QByteArray &piece, qint64 offset)
{
    const Capture::StoredPiece stored = Capture::storePiece(CaptureFile, offset, piece);
    if (!stored.error.isEmpty())
        showCaptureError(CaptureFileName, stored.error);
    if (stored.opened)
        ui->EyePlot->setPixmap(QPixmap::fromImage(stored.picture));
    ui->ScanProgressBar->setValue(Capture::progressValue(CaptureOffset));
}

void MainWindow::endScan()
{
    leaveCapturing();
    Port.write("read\r\n");
}

void MainWindow::leaveCapturing()
{
    PollMode = Monitoring;
    ScanCountdown = 0;
    // A capture that could not be saved keeps saying so after the scan.
    if (!CaptureError.isEmpty())
        return;
    const Capture::ScanOutcome outcome = Capture::scanOutcome(m_scan);
    if (outcome.complete) {
        ui->ScanningLabel->clear();
        return;
    }
    // The file holds what arrived; the rest is still the blank template.
    ui->ScanningLabel->setText(tr("Incomplete"));
    ui->ScanningLabel->setToolTip(
        outcome.announced < 0 ? tr("%1 holds %2 bytes of the capture; the instrument never sent its size.")
                                    .arg(CaptureFileName)
                                    .arg(outcome.received)
                              : tr("%1 holds %2 of the %3 bytes of the capture.")
                                    .arg(CaptureFileName)
                                    .arg(outcome.received)
                                    .arg(outcome.announced));
    appendLog(QStringLiteral(" Capture incomplete: %1 bytes").arg(outcome.received));
}

void MainWindow::showCaptureError(const QString &fileName, const QString &reason)
{
    CaptureError = reason;
    ui->ScanningLabel->setText(tr("Not saved"));
    ui->ScanningLabel->setToolTip(tr("The capture could not be written to %1: %2").arg(fileName, reason));
}
