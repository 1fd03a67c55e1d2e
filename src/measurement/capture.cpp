#include "measurement/capture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

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

CapturingPass decideCapturingPass(ScanProgress &progress, const QByteArray &bytesRead, int dragGuard)
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
    pass.piece = progress.scanCountdown > 0 ? cutToBitmapStart(bytesRead) : bytesRead;
    pass.offset = progress.captureOffset;
    progress.scanCountdown = 0;
    const qint64 room = std::max<qint64>(0, MaximumCaptureBytes - progress.captureOffset);
    if (pass.piece.size() > room) {
        pass.piece.truncate(room);
        pass.captureTooLong = true;
        pass.endScan = true;
    }
    progress.captureOffset += pass.piece.size();
    return pass;
}

int nextPassDelay(int pollModeBefore, int pollModeAfter, int pollInterval)
{
    if (pollModeBefore != 1)
        return pollInterval;
    return (15 * pollModeAfter - 14) * pollInterval;
}

QString proposedCaptureFile()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QDir::homePath();
    return QDir(folder).filePath(QStringLiteral("Zentaval.bmp"));
}

QString prepareCaptureFile(const QString &templateFileName, const QString &captureFileName)
{
    QByteArray blank;
    QFile templateFile(templateFileName);
    if (templateFile.open(QIODevice::ReadOnly))
        blank = templateFile.readAll();

    // Written aside and renamed into place, so the old file is replaced whole
    // or not at all.
    QSaveFile capture(captureFileName);
    capture.setDirectWriteFallback(true);
    if (!capture.open(QIODevice::WriteOnly) || capture.write(blank) != blank.size()
        || !capture.commit())
        return capture.errorString();
    return QString();
}

QString templateFileName()
{
    const QString name = QStringLiteral("blankcapture.bmp");
    if (QFileInfo::exists(name))
        return name;
    const QDir programDir(QCoreApplication::applicationDirPath());
    for (const QString &candidate : {programDir.filePath(name),
                                     programDir.filePath(QStringLiteral("../share/zentaval/") + name)}) {
        if (QFileInfo::exists(candidate))
            return candidate;
    }
    return name;
}

} // namespace Capture
