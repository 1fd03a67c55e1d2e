#ifndef PNGENCODER_H
#define PNGENCODER_H

#include <QByteArray>
#include <QImage>

// PNG files written chunk by chunk, so that the colour type is exactly the one
// asked for and no metadata (time, text, resolution) gets in: the same image
// always gives the same bytes.
namespace PngEncoder {

// 8-bit RGBA (colour type 6).
QByteArray rgba(const QImage &image);

// 8-bit palette with transparency (colour type 3 with a tRNS chunk). Images of
// more than 256 colours are reduced by median cut; fully transparent pixels
// keep an exact transparent entry.
QByteArray palette(const QImage &image);

} // namespace PngEncoder

#endif // PNGENCODER_H
