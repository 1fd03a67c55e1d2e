#include "io/capturefile.h"

#include "rules/proposedfiles.h"
#include "rules/capture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSaveFile>
#include <QTransform>

namespace Capture {

QString proposedCaptureFile(const QString &lastCaptureFile, const QDateTime &pressed)
{
    const QFileInfo last(lastCaptureFile);
    const QString folder = !lastCaptureFile.isEmpty() && last.dir().exists()
        ? last.absolutePath()
        : ProposedFiles::picturesFolder();
    return ProposedFiles::timestampedFile(folder, pressed, QStringLiteral("bmp"));
}

QString templateFileName()
{
    const QString name = QStringLiteral("blankcapture.bmp");
    if (QFileInfo::exists(name))
        return name;
    const QDir programDir(QCoreApplication::applicationDirPath());
    for (const QString &candidate :
         {programDir.filePath(name), programDir.filePath(QStringLiteral("../share/zentaval/") + name)}) {
        if (QFileInfo::exists(candidate))
            return candidate;
    }
    return name;
}

QString loadCaptureTemplate(const QString &templateFileName, QByteArray &blank)
{
    QFile templateFile(templateFileName);
    if (!templateFile.open(QIODevice::ReadOnly))
        return QStringLiteral("The capture template %1 cannot be read: %2")
            .arg(templateFileName, templateFile.errorString());
    blank = templateFile.readAll();
    const QString problem = templateProblem(blank);
    if (!problem.isEmpty())
        return QStringLiteral("The capture template %1 is unusable: %2").arg(templateFileName, problem);
    return QString();
}

QString prepareCaptureFile(const QString &templateFileName, const QString &captureFileName)
{
    QByteArray blank;
    const QString templateError = loadCaptureTemplate(templateFileName, blank);
    if (!templateError.isEmpty())
        return templateError;

    // Written aside and renamed into place, so the old file is replaced whole
    // or not at all.
    QSaveFile capture(captureFileName);
    capture.setDirectWriteFallback(true);
    if (!capture.open(QIODevice::WriteOnly) || capture.write(blank) != blank.size() || !capture.commit())
        return capture.errorString();
    return QString();
}

StoredPiece writeCapturePiece(const QString &captureFileName, qint64 offset, const QByteArray &piece)
{
    StoredPiece stored;
    QFile file(captureFileName);
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly)) {
        stored.error = file.errorString();
        return stored;
    }
    stored.opened = true;
    const qint64 gap = offset - file.size();
    const QByteArray bytes = gap > 0 ? QByteArray(gap, ' ') + piece : piece;
    const qint64 from = gap > 0 ? file.size() : offset;
    if (!file.seek(from) || file.write(bytes) != bytes.size() || !file.flush())
        stored.error = file.errorString();
    return stored;
}

QImage captureFilePicture(const QString &captureFileName)
{
    return shownPicture(QImage(captureFileName));
}

QImage shownPicture(const QImage &capture)
{
    return capture.transformed(QTransform().rotate(90), Qt::FastTransformation);
}

} // namespace Capture
