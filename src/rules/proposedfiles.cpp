#include "rules/proposedfiles.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace ProposedFiles {

namespace {

QString folderOrHome(QStandardPaths::StandardLocation location)
{
    const QString folder = QStandardPaths::writableLocation(location);
    return folder.isEmpty() || !QFileInfo(folder).isDir() ? QDir::homePath() : folder;
}

} // namespace

QString picturesFolder()
{
    return folderOrHome(QStandardPaths::PicturesLocation);
}

QString documentsFolder()
{
    return folderOrHome(QStandardPaths::DocumentsLocation);
}

QString timestampedFile(const QString &folder, const QDateTime &time, const QString &extension)
{
    const QDir dir(folder);
    const QString stem
        = QStringLiteral("Zentaval-") + time.toLocalTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString name = dir.filePath(stem + QLatin1Char('.') + extension);
    for (int number = 2; QFileInfo::exists(name); ++number)
        name = dir.filePath(QStringLiteral("%1-%2.%3").arg(stem).arg(number).arg(extension));
    return name;
}

} // namespace ProposedFiles
