#pragma once

#include <QByteArray>
#include <QString>

// The rules of an eye scan, apart from any widget or port.
namespace Capture {

// ScanCountdown when a scan is requested: empty polls allowed before the
// instrument's first capture bytes arrive.
constexpr int EmptyPollsAllowed = 20;

// Capture bytes per step of the scan's progress (0 to 100).
constexpr int CaptureDivisor = 1800;

// A faulty instrument that never stops streaming is cut off here, far above
// any real capture, so that neither the file nor a pass's work grows without
// bound, even when its bitmap announces no size.
constexpr qint64 MaximumCaptureBytes = 8 * 1024 * 1024;

// Bytes that go on coming past the size the bitmap announced are not
// written; once they have kept coming this long the instrument is asked to
// stop ("scan\r\n"), and if they still come as long again the scan ends
// without waiting for them to stop.
constexpr qint64 ExcessStreamStopMs = 2000;

// The first piece of a scan loses whatever comes before the bitmap's "BM"
// signature (the instrument's echo); a piece without "BM" is dropped whole.
QByteArray cutToBitmapStart(const QByteArray &firstPiece);

// Puts `piece` into `content` at `offset`: bytes already there are replaced,
// the content grows where the piece runs past its end, and a gap before an
// offset past the end is filled with spaces.
void placePiece(QByteArray &content, qint64 offset, const QByteArray &piece);

// The scan's progress (0 to 100) for the capture bytes received so far.
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
    bool pieceReceived = false;            // a first piece has been read (and cut)
    QByteArray header;                     // the stream's first BitmapSizeEnd bytes, once here
    qint64 streamBytes = 0;                // capture bytes received, written or not
    qint64 excessSinceMs = -1;             // when bytes past the bitmap's end first came
    bool stopRequested = false;            // "scan\r\n" was sent for them
};

// What one Capturing pass does with the bytes it read.
struct CapturingPass
{
    bool writePiece = false; // put `piece` into the capture file at `offset`
    QByteArray piece;
    qint64 offset = 0;
    bool endScan = false;        // back to Monitoring
    bool captureTooLong = false; // the stream passed MaximumCaptureBytes
    bool sendStop = false;       // past the bitmap's end for ExcessStreamStopMs: send "scan\r\n"
    bool ignoredStop = false;    // and still coming as long after it: the scan ends
};

// Decides a Capturing pass and moves `progress` on. `nowMs` is the time of
// the pass on any clock that does not go back.
CapturingPass decideCapturingPass(ScanProgress &progress, const QByteArray &bytesRead, int dragGuard,
                                  qint64 nowMs);

// How a scan's capture ended.
struct ScanOutcome
{
    bool complete = false; // every byte the bitmap's header announced has arrived
    qint64 received = 0;   // capture bytes written into the file
    qint64 announced = -1; // the size the header announces; -1 when it never arrived
};
ScanOutcome scanOutcome(const ScanProgress &progress);

// What a capture file holds after a scan that ended short: "<file> holds N of
// the M bytes of the capture", or "<file> holds N bytes of the capture; the
// instrument never sent its size".
QString incompleteCaptureText(const QString &fileName, const ScanOutcome &outcome);

// The template, and so every capture, is a 24-bit bitmap of this size: the
// instrument's capture turned back from how it is shown.
constexpr int CaptureWidth = 254;
constexpr int CaptureHeight = 239;
constexpr qint64 CaptureFileSize = 54 + 764 * CaptureHeight; // 182,650

// Bytes 2 to 5 of a bitmap hold its file size; the header is complete for
// that once BitmapSizeEnd bytes are there.
constexpr int BitmapSizeEnd = 6;
// The file and information headers of a bitmap; an announced size below it
// is no size.
constexpr int BitmapHeaderSize = 54;
// The file size a bitmap's first bytes announce, or -1 when they are too few
// or do not begin with "BM".
qint64 announcedBitmapSize(const QByteArray &bitmapStart);

// Why `bytes` cannot be the capture template, or an empty string when they
// are a 24-bit uncompressed bitmap of the capture's size.
QString templateProblem(const QByteArray &bytes);

} // namespace Capture
