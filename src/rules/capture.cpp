#include "rules/capture.h"


#include <QtEndian>

#include <algorithm>
#include <cstdlib>

namespace Capture {

QByteArray cutToBitmapStart(const QByteArray &firstPiece)
{
    const qsizetype start = firstPiece.indexOf("BM");
    return start < 0 ? QByteArray() : firstPiece.mid(start);
}

void placePiece(QByteArray &content, qint64 offset, const QByteArray &piece)
{
    if (offset > content.size())
        content.append(QByteArray(offset - content.size(), ' '));
    const qint64 overlap = std::min<qint64>(piece.size(), content.size() - offset);
    content.replace(offset, overlap, piece);
}

int progressValue(qint64 captureOffset)
{
    return int(std::clamp<qint64>(captureOffset / CaptureDivisor, 0, 100));
}

EmptyPoll decideEmptyPoll(int dragGuard, int scanCountdown)
{
    if (dragGuard > 0)
        return EmptyPoll::Wait;
    if (scanCountdown > 0)
        return EmptyPoll::CountDown;
    return EmptyPoll::EndScan;
}

CapturingPass decideCapturingPass(ScanProgress &progress, const QByteArray &bytesRead, int dragGuard,
                                  qint64 nowMs)
{
    CapturingPass pass;
    if (bytesRead.isEmpty()) {
        switch (decideEmptyPoll(dragGuard, progress.scanCountdown)) {
        case EmptyPoll::Wait:
            break;
        case EmptyPoll::CountDown:
            --progress.scanCountdown;
            break;
        case EmptyPoll::EndScan:
            progress.scanCountdown = 0;
            pass.endScan = true;
            break;
        }
        return pass;
    }

    pass.writePiece = true;
    // Only the scan's first piece carries the echo, whichever pass reads it.
    pass.piece = progress.pieceReceived ? bytesRead : cutToBitmapStart(bytesRead);
    pass.offset = progress.captureOffset;
    progress.scanCountdown = 0;
    progress.pieceReceived = true;
    if (progress.header.size() < BitmapSizeEnd)
        progress.header += pass.piece.left(BitmapSizeEnd - progress.header.size());

    const qint64 received = pass.piece.size();
    const qint64 roomInStream = std::max<qint64>(0, MaximumCaptureBytes - progress.streamBytes);
    progress.streamBytes += std::min(received, roomInStream);
    if (received > roomInStream) {
        pass.captureTooLong = true;
        pass.endScan = true;
    }

    // Nothing past the end the bitmap announced is written: the file keeps
    // the size its header gives.
    qint64 room = std::max<qint64>(0, MaximumCaptureBytes - progress.captureOffset);
    const qint64 announced = announcedBitmapSize(progress.header);
    if (announced >= BitmapHeaderSize)
        room = std::min(room, std::max<qint64>(0, announced - progress.captureOffset));
    if (received > room) {
        pass.piece.truncate(room);
        // Nothing of it goes into the file: the file is left as it is.
        pass.writePiece = !pass.piece.isEmpty();
        if (progress.excessSinceMs < 0)
            progress.excessSinceMs = nowMs;
        const qint64 excessFor = nowMs - progress.excessSinceMs;
        if (!progress.stopRequested && excessFor >= ExcessStreamStopMs) {
            progress.stopRequested = true;
            pass.sendStop = true;
        } else if (progress.stopRequested && excessFor >= 2 * ExcessStreamStopMs) {
            pass.ignoredStop = true;
            pass.endScan = true;
        }
    }
    progress.captureOffset += pass.piece.size();
    return pass;
}

ScanOutcome scanOutcome(const ScanProgress &progress)
{
    ScanOutcome outcome;
    outcome.received = progress.captureOffset;
    outcome.announced = announcedBitmapSize(progress.header);
    outcome.complete = outcome.announced >= 0 && outcome.received >= outcome.announced;
    return outcome;
}

QString incompleteCaptureText(const QString &fileName, const ScanOutcome &outcome)
{
    if (outcome.announced < 0)
        return QStringLiteral("%1 holds %2 bytes of the capture; the instrument never sent its size")
            .arg(fileName)
            .arg(outcome.received);
    return QStringLiteral("%1 holds %2 of the %3 bytes of the capture")
        .arg(fileName)
        .arg(outcome.received)
        .arg(outcome.announced);
}

qint64 announcedBitmapSize(const QByteArray &bitmapStart)
{
    if (bitmapStart.size() < BitmapSizeEnd || !bitmapStart.startsWith("BM"))
        return -1;
    return qFromLittleEndian<quint32>(bitmapStart.constData() + 2);
}

QString templateProblem(const QByteArray &bytes)
{
    constexpr int HeaderSize = BitmapHeaderSize;
    if (bytes.size() < HeaderSize || !bytes.startsWith("BM"))
        return QStringLiteral("it is not a bitmap");
    const char *header = bytes.constData();
    const auto field32 = [header](int offset) { return qFromLittleEndian<qint32>(header + offset); };
    const auto field16 = [header](int offset) { return qFromLittleEndian<quint16>(header + offset); };
    if (field32(18) != CaptureWidth || std::abs(field32(22)) != CaptureHeight || field16(28) != 24
        || field32(30) != 0)
        return QStringLiteral("it is not a %1 x %2 bitmap of 24 bits a pixel")
            .arg(CaptureWidth)
            .arg(CaptureHeight);
    if (bytes.size() < CaptureFileSize || field32(10) < HeaderSize
        || bytes.size() - field32(10) < CaptureFileSize - HeaderSize)
        return QStringLiteral("it is cut short (%1 bytes)").arg(bytes.size());
    return QString();
}

} // namespace Capture
