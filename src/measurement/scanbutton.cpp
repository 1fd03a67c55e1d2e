// The Scan button: it prepares the capture file and asks the poll loop for a
// scan, or stops the scan that is running.

#include "app/mainwindow.h"
#include "app/processstate.h"
#include "forms/mainwindowui.h"
#include "measurement/capture.h"

#include <QFileDialog>

void MainWindow::on_ScanBtn_clicked()
{
    if (PollMode == Capturing) {
        Port.write("scan\r\n");
        return;
    }

    CaptureFileName = QFileDialog::getSaveFileName(this, tr("Open Log File"),
                                                   Capture::proposedCaptureFile(),
                                                   tr("Image Files (*.bmp)"));
    if (CaptureFileName.isEmpty())
        return;

    CaptureFile.setFileName(CaptureFileName);
    TemplateFile.setFileName(Capture::templateFileName());
    const QString error = Capture::prepareCaptureFile(TemplateFile.fileName(), CaptureFileName);
    if (!error.isEmpty()) {
        showCaptureError(error);
        return;
    }
    CaptureError.clear();
    ScanCountdown = Capture::EmptyPollsAllowed;
    ui->ScanningLabel->setToolTip(QString());
    ui->ScanningLabel->setText(tr("Scanning..."));
}
