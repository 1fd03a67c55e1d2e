// MainWindow's Scan button: it prepares the capture file and asks the poll
// loop for a scan, or stops the scan that is running.

#include "window/mainwindow.h"
#include "window/processstate.h"
#include "window/mainwindowui.h"
#include "rules/capture.h"
#include "io/capturefile.h"
#include "rules/pollmode.h"
#include "window/savedialog.h"

void MainWindow::on_ScanBtn_clicked()
{
    if (PollMode == Capturing) {
        Port.write("scan\r\n");
        return;
    }

    // A cancelled dialog changes nothing: a scan already requested keeps its file.
    const QString chosen = askSaveFileName(
        this, tr("Open Log File"),
        Capture::proposedCaptureFile(CaptureFileName, QDateTime::currentDateTime()),
        tr("Image Files (*.bmp)"));
    if (chosen.isEmpty())
        return;

    const QString templateName = Capture::templateFileName();
    const QString error = Capture::prepareCaptureFile(templateName, chosen);
    if (!error.isEmpty()) {
        // A request already pending keeps the file it was given.
        if (ScanCountdown > 0) {
            appendLog(QStringLiteral(" Not saved: ") + error);
            ui->ScanningLabel->setToolTip(tr("%1 could not be used: %2\nThe requested scan goes to %3.")
                                              .arg(chosen, error, CaptureFileName));
            return;
        }
        showCaptureError(chosen, error);
        return;
    }
    CaptureFileName = chosen;
    CaptureFile.setFileName(CaptureFileName);
    TemplateFile.setFileName(templateName);
    CaptureError.clear();
    ScanCountdown = Capture::EmptyPollsAllowed;
    ui->ScanningLabel->setToolTip(QString());
    ui->ScanningLabel->setText(tr("Scanning..."));
}
