#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QString>

// The capture file on disk and the picture shown from it.
namespace Capture {

// Where the save dialog starts: "Zentaval-YYYYMMDD-hhmmss.bmp" at the time
// of the press, in the folder of the last capture file chosen, or at first in
// the user's pictures folder (the home folder when there is none). No file
// that exists is proposed, so a capture is never offered the last one's name.
QString proposedCaptureFile(const QString &lastCaptureFile, const QDateTime &pressed);

// The template: "blankcapture.bmp" in the working directory, else the copy
// installed with the program.
QString templateFileName();

// Reads the template into `blank` and checks that it is a blank capture.
// Returns an empty string when it is, else why the capture cannot be saved.
QString loadCaptureTemplate(const QString &templateFileName, QByteArray &blank);

// Makes `captureFileName` a copy of the template, replacing any file of that
// name whole (its old tail must not stay behind a shorter capture). The
// template is read and checked first: when it is missing or is no blank
// capture, nothing is created or changed. Returns an empty string on success,
// else why the capture cannot be saved.
QString prepareCaptureFile(const QString &templateFileName, const QString &captureFileName);

// One piece of a capture on disk: `piece` is written into the capture file
// at `offset`, and nothing else of the file is read or written, so the file
// stays a whole bitmap at every moment. A gap before an offset past the
// file's end is filled with spaces. The file is opened for each piece and
// closed again, and must exist: the file was prepared from the template when
// the scan was requested, and one that has gone since is not made again from
// the remaining pieces alone (that would be no bitmap).
struct StoredPiece
{
    QString error;       // why the file could not be opened or written; empty when it was
    bool opened = false; // the file was there to write into
};
StoredPiece writeCapturePiece(const QString &captureFileName, qint64 offset, const QByteArray &piece);

// The capture file's picture as it is on disk now, turned as the window shows
// it; null while it does not decode. Decoded from the file itself: a pixmap
// loaded by name may come from Qt's cache, which tells files apart by
// modification time in whole seconds, and show an earlier picture.
QImage captureFilePicture(const QString &captureFileName);

// A capture as the window shows it: turned a quarter turn clockwise
// (239 x 254 for the instrument's 254 x 239 bitmap); null when it does not
// decode.
QImage shownPicture(const QImage &capture);

} // namespace Capture
