#pragma once

#include <QImage>
#include <QString>

// Turns the drawn pictures into the images that are written out, with the
// same pixels on every machine.
namespace PictureFormat {

// The picture with straight (not premultiplied) alpha, Format_ARGB32, every
// fully transparent pixel 0. Computed here in integers: QImage's own
// conversion uses an approximate reciprocal whose result depends on the
// processor, so it rounds some channels differently from one machine to the
// next.
QImage straightAlpha(const QImage &picture);

// The picture as an 8-bit palette image (Format_Indexed8) of at most 256
// colours, translucent entries first. Pictures of more colours are reduced by
// median cut in premultiplied space; the fully transparent colour keeps an
// exact entry of its own.
QImage paletted(const QImage &picture);

// Writes a PNG file: colour type 6 for an ARGB32 image, colour type 3 with a
// transparency chunk for an Indexed8 one. Strongest compression, 96 dots per
// inch recorded, no other metadata. False with the reason in *error.
bool savePng(QImage image, const QString &path, QString *error);

} // namespace PictureFormat
