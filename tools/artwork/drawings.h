#pragma once

#include <QColor>
#include <QImage>
#include <QRawFont>
#include <QSize>

// The pictures of the collection, drawn with antialiasing on a transparent
// background. Lettering comes from the outlines of one font file, unhinted, so
// that it does not depend on the font configuration of the machine.
namespace Drawings {

// A glossy lamp in a metal rim; an unlit lamp has no glow.
QImage lamp(QSize size, const QColor &colour, bool lit);

// Green discs with a white symbol.
QImage eyeIcon(QSize size);
QImage helpIcon(QSize size, const QRawFont &font);
QImage arrowIcon(QSize size);
QImage lambdaIcon(QSize size, const QRawFont &font);

// A white eye-diagram pattern filling the picture.
QImage eyePattern(QSize size);

// The maker's initial in white.
QImage initial(QSize size, const QRawFont &font);

// The maker's emblem and name.
QImage logo(QSize size, const QRawFont &font);

// A badge reading "LGPLv3".
QImage licenceBadge(QSize size, const QRawFont &font);

} // namespace Drawings
