#pragma once

#include <QByteArray>
#include <QString>

// The rules of an eye scan, apart from any widget or port.
namespace Capture {

// ScanCountdown when a scan is requested: empty polls allowed before the
// instrument's first capture bytes arrive.
constexpr int EmptyPollsAllowed = 20;

// Capture bytes per step of ScanProgressBar (0 to 100).
constexpr int CaptureDivisor = 1800;

// A faulty instrument that never stops streaming is cut off here, far above
// any real capture, so that neither the file nor a pass's work grows without
// bound.
constexpr qint64 MaximumCaptureBytes = 8 * 1024 * 1024;

// The first piece of a scan loses whatever comes before the bitmap's "BM"
// signature (the instrument's echo); a piece without "BM" is dropped whole.
QByteArray cutToBitmapStart(const QByteArray &firstPiece);

// Puts `piece` into `content` at `offset`: bytes already there are replaced,
// the content grows where the piece runs past its end, and a gap before an
// offset past the end is filled with spaces.
void placePiece(QByteArray &content, qint64 offset, const QByteArray &piece);

// ScanProgressBar's value for the capture bytes received so far.
int progressValue(qint64 captureOffset);

// What a Capturing pass that read nothing does.
enum class EmptyPoll {
    Wait,      // the window is being dragged: the silence may be ours
    CountDown, // no capture data yet: one fewer empty poll allowed
    EndScan,   // the data has stopped: the scan is over
};
EmptyPoll decideEmptyPoll(int dragGuard, int scanCountdown);

// Where a scan stands between two Capturing passes.
struct ScanProgress
{
    int scanCountdown = EmptyPollsAllowed; // above 0 until the first piece came
    qint64 captureOffset = 0;              // capture bytes received so far
};

// What one Capturing pass does with the bytes it read.
struct CapturingPass
{
    bool writePiece = false; // put `piece` into the capture file at `offset`
    QByteArray piece;
    qint64 offset = 0;
    bool endScan = false;       // back to Monitoring
    bool captureTooLong = false; // the stream passed MaximumCaptureBytes
};

// Decides a Capturing pass and moves `progress` on.
CapturingPass decideCapturingPass(ScanProgress &progress, const QByteArray &bytesRead, int dragGuard);

// The delay before the next pass. A Monitoring pass arms it for the PollMode
// that holds once it is done: one poll interval after "read\r\n", sixteen
// after "SCAN\r\n". A Capturing pass always polls again one interval later.
int nextPassDelay(int pollModeBefore, int pollModeAfter, int pollInterval);

// Where the save dialog starts: Zentaval.bmp in the user's pictures folder,
// or in the home folder when there is none.
QString proposedCaptureFile();

// Makes `captureFileName` a copy of the template, replacing any file of that
// name (its old tail must not stay behind a shorter capture). A missing
// template leaves an empty file that the capture fills. Returns an empty
// string on success, else why the file cannot be used.
QString prepareCaptureFile(const QString &templateFileName, const QString &captureFileName);

// The template: "blankcapture.bmp" in the working directory, else the copy
// installed with the program.
QString templateFileName();

} // namespace Capture
