#pragma once

#include <QDateTime>
#include <QString>

// Where the save dialogs start, and the names they propose.
namespace ProposedFiles {

// The user's pictures (documents) folder, or the home folder when there is none.
QString picturesFolder();
QString documentsFolder();

// "Zentaval-YYYYMMDD-hhmmss.<extension>" in `folder`, at the local time of
// `time`. When a file of that name exists, "-2", "-3" and so on go before the
// extension: a proposal never names a file that is already there.
QString timestampedFile(const QString &folder, const QDateTime &time, const QString &extension);

} // namespace ProposedFiles
