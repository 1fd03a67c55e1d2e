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

StoredPiece storePiece(QFile &captureFile, qint64 offset, const QByteArray &piece)
{
    StoredPiece stored;
    // The file was prepared from the template when the scan was requested. One
    // that has gone since is not made again from the remaining pieces alone:
    // that would be no bitmap.
    if (!captureFile.open(QIODevice::ReadWrite | QIODevice::ExistingOnly)) {
        stored.error = captureFile.errorString();
        return stored;
    }
    stored.opened = true;
    QByteArray content = captureFile.readAll();
    placePiece(content, offset, piece);
    // The whole file is on disk before the picture is loaded from it.
    if (!captureFile.seek(0) || captureFile.write(content) != content.size() || !captureFile.flush())
        stored.error = captureFile.errorString();

    // Decoded from the file itself: a pixmap loaded by name may come from Qt's
    // cache, which tells files apart by modification time in whole seconds,
    // and show the picture of an earlier pass.
    const QImage capture(captureFile.fileName());
    stored.picture = shownPicture(capture);
    captureFile.close();
    return stored;
}

QImage shownPicture(const QImage &capture)
{
    return capture.transformed(QTransform().rotate(90), Qt::FastTransformation);
}

} // namespace Capture
