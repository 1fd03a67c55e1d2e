// The measurement poll loop and the eye capture: the MainWindow passes that
// run every 500 ms once an instrument is connected.

#include "app/mainwindow.h"
#include "app/processstate.h"
#include "forms/mainwindowui.h"
#include "measurement/capture.h"
#include "measurement/measurementreply.h"

#include <QImage>
#include <QPixmap>
#include <QTimer>
#include <QTransform>

#include <algorithm>

void MainWindow::armPass(int delay)
{
    ++m_armedPasses;
    // Precise: a coarse timer may fire the 8 s wait for the first capture
    // bytes up to 400 ms early.
    QTimer::singleShot(delay, Qt::PreciseTimer, this, SLOT(ReceiveMeas()));
}

int MainWindow::ReceiveMeas()
{
    // One chain of passes at a time: when a reconnection armed a newer pass,
    // an older one still pending gives way to it.
    m_armedPasses = std::max(0, m_armedPasses - 1);
    if (m_armedPasses > 0 || m_link != Link::Polling)
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
    if (const auto display = decodeMeasurementReply(buffer, available)) {
        ui->LEDStat->setPixmap(QPixmap(lockLampPicture(display->lamp)));
        ui->QFactorLabel->setText(display->qualityText);
        ui->AmplitudeBar->setValue(display->amplitude);
        ui->VoltageLabel->setText(display->amplitudeText);
        ui->HeightLabel->setText(display->heightText);
        ui->WidthLabel->setText(display->widthText);
        ui->RateLabel->setText(display->rateText);
    }

    if (ScanCountdown <= 0) {
        Port.write("read\r\n");
        return;
    }
    PollMode = Capturing;
    CaptureOffset = 0;
    Port.readAll();
    Port.write("SCAN\r\n");
}

void MainWindow::capturingPass(const QByteArray &buffer)
{
    Capture::ScanProgress progress{ScanCountdown, CaptureOffset};
    const Capture::CapturingPass pass = Capture::decideCapturingPass(progress, buffer, DragGuard);
    ScanCountdown = progress.scanCountdown;
    CaptureOffset = int(progress.captureOffset);

    if (pass.writePiece)
        writeCapturePiece(pass.piece, pass.offset);
    if (pass.captureTooLong) {
        // The instrument does not stop by itself: keep what the file holds.
        Port.write("scan\r\n");
        appendLog(QStringLiteral(" Capture cut at %1 bytes").arg(CaptureOffset));
    }
    if (pass.endScan)
        endScan();
}

void MainWindow::writeCapturePiece(const QByteArray &piece, qint64 offset)
{
    // The file was prepared from the template when the scan was requested. One
    // that has gone since is not made again from the remaining pieces alone:
    // that would be no bitmap.
    if (!CaptureFile.open(QIODevice::ReadWrite | QIODevice::ExistingOnly)) {
        showCaptureError(CaptureFile.errorString());
        ui->ScanProgressBar->setValue(Capture::progressValue(CaptureOffset));
        return;
    }
    QByteArray content = CaptureFile.readAll();
    Capture::placePiece(content, offset, piece);
    // The whole file is on disk before the picture is loaded from it.
    const bool written = CaptureFile.seek(0) && CaptureFile.write(content) == content.size()
                         && CaptureFile.flush();
    if (!written)
        showCaptureError(CaptureFile.errorString());

    // Read from the file itself: a pixmap loaded by name may come from Qt's
    // cache, which tells files apart by modification time in whole seconds,
    // and show the picture of an earlier pass.
    const QPixmap capture = QPixmap::fromImage(QImage(CaptureFileName));
    ui->EyePlot->setPixmap(capture.transformed(QTransform().rotate(90), Qt::FastTransformation));
    CaptureFile.close();
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
    if (CaptureError.isEmpty())
        ui->ScanningLabel->clear();
}

void MainWindow::showCaptureError(const QString &reason)
{
    CaptureError = reason;
    ui->ScanningLabel->setText(tr("Not saved"));
    ui->ScanningLabel->setToolTip(tr("The capture could not be written to %1: %2")
                                      .arg(CaptureFileName, reason));
}
