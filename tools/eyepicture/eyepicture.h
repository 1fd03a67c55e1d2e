#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QtGlobal>

namespace EyePicture {

// Width and height of the eye as it is shown (time runs left to right).
constexpr int DisplayWidth = 239;
constexpr int DisplayHeight = 254;

// Offset of the pixel data in every bitmap written by bmp24().
constexpr int BitmapHeaderSize = 54;

// Renders an eye diagram: about two unit intervals of a PRBS7 stream with
// random and deterministic jitter, finite rise time and vertical noise,
// accumulated as a hit density and coloured from dark blue through green and
// red to white. Pixels that no trace reached are black. The same seed gives
// the same picture.
QImage renderEye(QSize size, quint32 seed);

// A Windows bitmap file of the image: 14-byte file header, 40-byte
// information header, 24 bits per pixel in blue, green, red order, bottom row
// first, rows padded with zero bytes to a multiple of four, 3780 pixels per
// metre, no colour table. The alpha channel is dropped.
QByteArray bmp24(const QImage &image);

// The capture file the instrument sends for a scan: the eye rendered at the
// display size and turned a quarter turn counter-clockwise, so that the
// program's quarter turn clockwise shows it upright (254 x 239 pixels,
// 182,650 bytes).
QByteArray captureBitmap(quint32 seed);

} // namespace EyePicture
