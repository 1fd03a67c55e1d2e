#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QString>

class QFile;

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

// One Capturing pass's work on disk: the piece is put into the capture file
// at `offset`, the whole file is written back, and its picture is loaded from
// the file just written and turned a quarter turn, as the window shows it.
struct StoredPiece
{
    QString error; // why the file could not be opened or written; empty when it was
    bool opened = false;
    QImage picture; // null when the file does not decode (yet)
};
StoredPiece storePiece(QFile &captureFile, qint64 offset, const QByteArray &piece);

// A capture as the window shows it: turned a quarter turn clockwise
// (239 x 254 for the instrument's 254 x 239 bitmap); null when it does not
// decode.
QImage shownPicture(const QImage &capture);

} // namespace Capture
