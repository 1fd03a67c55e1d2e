#include "drawings.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>

namespace Drawings {

namespace {

constexpr double Pi = 3.14159265358979323846;
const QColor White(255, 255, 255);

QImage canvas(QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void prepare(QPainter &painter)
{
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
}

QPainterPath textPath(const QRawFont &font, const QString &text)
{
    const QList<quint32> glyphs = font.glyphIndexesForString(text);
    const QList<QPointF> advances = font.advancesForGlyphIndexes(glyphs, QRawFont::KernedAdvances);
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    QPointF origin(0, 0);
    for (qsizetype i = 0; i < glyphs.size(); ++i) {
        QPainterPath glyph = font.pathForGlyph(glyphs[i]);
        glyph.translate(origin);
        path.addPath(glyph);
        origin += advances[i];
    }
    return path;
}

// Scales the path uniformly so that its outline fits the target and centres it there.
QPainterPath fitted(const QPainterPath &path, const QRectF &target)
{
    const QRectF bounds = path.boundingRect();
    const qreal scale = std::min(target.width() / bounds.width(), target.height() / bounds.height());
    QTransform transform;
    transform.translate(target.center().x(), target.center().y());
    transform.scale(scale, scale);
    transform.translate(-bounds.center().x(), -bounds.center().y());
    QPainterPath result = transform.map(path);
    result.setFillRule(Qt::WindingFill);
    return result;
}

// Same, but scaled to the given height of the outline.
QPainterPath fittedToHeight(const QPainterPath &path, const QPointF &centre, qreal height)
{
    const QRectF bounds = path.boundingRect();
    const qreal width = bounds.width() * height / bounds.height();
    return fitted(path, QRectF(centre.x() - width / 2, centre.y() - height / 2, width, height));
}

QColor scaled(const QColor &colour, double factor)
{
    auto channel = [factor](int value) { return std::clamp(int(std::lround(value * factor)), 0, 255); };
    return QColor(channel(colour.red()), channel(colour.green()), channel(colour.blue()));
}

QColor towardsWhite(const QColor &colour, double share)
{
    auto channel = [share](int value) { return int(std::lround(value + (255 - value) * share)); };
    return QColor(channel(colour.red()), channel(colour.green()), channel(colour.blue()));
}

QColor withAlpha(const QColor &colour, int alpha)
{
    QColor result = colour;
    result.setAlpha(alpha);
    return result;
}

// The shine on the upper half of a glossy disc.
void drawHighlight(QPainter &painter, const QPointF &centre, qreal radius, int strength)
{
    const QRectF shine(centre.x() - radius * 0.66, centre.y() - radius * 0.92, radius * 1.32, radius * 0.9);
    QLinearGradient fade(shine.topLeft(), shine.bottomLeft());
    fade.setColorAt(0.0, withAlpha(White, strength));
    fade.setColorAt(1.0, withAlpha(White, 0));
    painter.setBrush(fade);
    painter.drawEllipse(shine);
}

void drawGreenDisc(QPainter &painter, const QPointF &centre, qreal radius)
{
    const QColor rim(18, 92, 36);
    painter.setBrush(rim);
    painter.drawEllipse(centre, radius, radius);

    const qreal inner = radius * 0.965;
    QRadialGradient body(centre, inner, centre + QPointF(-inner * 0.3, -inner * 0.4));
    body.setColorAt(0.0, QColor(126, 214, 96));
    body.setColorAt(0.55, QColor(58, 170, 66));
    body.setColorAt(1.0, QColor(30, 124, 46));
    painter.setBrush(body);
    painter.drawEllipse(centre, inner, inner);

    drawHighlight(painter, centre, inner, 110);
}

struct Disc
{
    QPointF centre;
    qreal radius;
};

Disc discIn(QSize size)
{
    const qreal margin = 3.0;
    return {QPointF(size.width() / 2.0, size.height() / 2.0),
            std::min(size.width(), size.height()) / 2.0 - margin};
}

// A symbol in white with a soft shadow below it, so that it stands off the disc.
void drawSymbol(QPainter &painter, const QPainterPath &symbol, qreal radius)
{
    painter.setBrush(withAlpha(QColor(0, 40, 10), 70));
    painter.drawPath(symbol.translated(0, radius * 0.025));
    painter.setBrush(White);
    painter.drawPath(symbol);
}

// Raised-cosine step from 0 to 1 over u in [-0.5, 0.5].
double step(double u)
{
    if (u <= -0.5)
        return 0.0;
    if (u >= 0.5)
        return 1.0;
    return 0.5 + 0.5 * std::sin(Pi * u);
}

// Every three-bit sequence, each twice with a small timing offset: the rails,
// a crossing near either side and the open eye between them.
QPainterPath eyeTraces(const QRectF &area)
{
    const int points = 160;
    const double transition = 0.5; // share of the width taken by one edge
    const double offsets[] = {0.0};
    QPainterPath traces;
    for (double offset : offsets) {
        for (int bits = 0; bits < 8; ++bits) {
            const int first = bits & 1;
            const int middle = (bits >> 1) & 1;
            const int last = (bits >> 2) & 1;
            for (int i = 0; i <= points; ++i) {
                const double x = double(i) / points;
                const double level = first + (middle - first) * step((x - 0.15 - offset) / transition)
                    + (last - middle) * step((x - 0.85 + offset) / transition);
                const QPointF point(area.left() + x * area.width(), area.bottom() - level * area.height());
                if (i == 0)
                    traces.moveTo(point);
                else
                    traces.lineTo(point);
            }
        }
    }
    return traces;
}

void drawEyeTraces(QPainter &painter, const QRectF &area, qreal penWidth, const QColor &colour)
{
    QPen pen(colour, penWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(eyeTraces(area.adjusted(penWidth / 2, penWidth / 2, -penWidth / 2, -penWidth / 2)));
    painter.setPen(Qt::NoPen);
}

QImage discWithSymbol(QSize size, const QPainterPath &symbol, const Disc &disc)
{
    QImage image = canvas(size);
    QPainter painter(&image);
    prepare(painter);
    drawGreenDisc(painter, disc.centre, disc.radius);
    drawSymbol(painter, symbol, disc.radius);
    return image;
}

} // namespace

QImage lamp(QSize size, const QColor &colour, bool lit)
{
    QImage image = canvas(size);
    QPainter painter(&image);
    prepare(painter);
    const Disc disc = discIn(size);
    const QPointF centre = disc.centre;
    const qreal radius = disc.radius;

    // Metal rim, lit from above, and its inner bevel, lit from below.
    QLinearGradient rim(centre.x(), centre.y() - radius, centre.x(), centre.y() + radius);
    rim.setColorAt(0.0, QColor(236, 236, 238));
    rim.setColorAt(0.5, QColor(160, 162, 168));
    rim.setColorAt(1.0, QColor(72, 74, 80));
    painter.setBrush(rim);
    painter.drawEllipse(centre, radius, radius);

    const qreal bevel = radius * 0.9;
    QLinearGradient sunk(centre.x(), centre.y() - bevel, centre.x(), centre.y() + bevel);
    sunk.setColorAt(0.0, QColor(58, 60, 66));
    sunk.setColorAt(1.0, QColor(210, 212, 216));
    painter.setBrush(sunk);
    painter.drawEllipse(centre, bevel, bevel);

    // The glass: a lit lamp is brightest a little below the middle, where the
    // light source sits.
    const qreal glass = radius * 0.8;
    QRadialGradient body(centre + QPointF(0, glass * 0.15), glass * 1.05, centre + QPointF(0, glass * 0.3));
    body.setColorAt(0.0, lit ? towardsWhite(colour, 0.45) : towardsWhite(colour, 0.08));
    body.setColorAt(0.45, colour);
    body.setColorAt(1.0, scaled(colour, 0.42));
    painter.setBrush(body);
    painter.drawEllipse(centre, glass, glass);

    // A dark ring where the glass meets the bevel.
    QPen edge(withAlpha(QColor(0, 0, 0), 90), glass * 0.03);
    painter.setPen(edge);
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(centre, glass, glass);
    painter.setPen(Qt::NoPen);

    drawHighlight(painter, centre, glass, 200);
    return image;
}

QImage eyeIcon(QSize size)
{
    const Disc disc = discIn(size);
    const qreal r = disc.radius;
    QImage image = canvas(size);
    QPainter painter(&image);
    prepare(painter);
    drawGreenDisc(painter, disc.centre, r);
    const QRectF area(disc.centre.x() - r * 0.62, disc.centre.y() - r * 0.4, r * 1.24, r * 0.8);
    drawEyeTraces(painter, area.translated(0, r * 0.025), r * 0.06, withAlpha(QColor(0, 40, 10), 70));
    drawEyeTraces(painter, area, r * 0.06, White);
    return image;
}

QImage helpIcon(QSize size, const QRawFont &font)
{
    const Disc disc = discIn(size);
    const QPainterPath mark
        = fittedToHeight(textPath(font, QStringLiteral("?")), disc.centre, disc.radius * 1.15);
    return discWithSymbol(size, mark, disc);
}

QImage arrowIcon(QSize size)
{
    const Disc disc = discIn(size);
    const qreal r = disc.radius;
    const QPointF c = disc.centre;
    QPainterPath arrow;
    arrow.moveTo(c + QPointF(-0.55 * r, -0.14 * r));
    arrow.lineTo(c + QPointF(0.08 * r, -0.14 * r));
    arrow.lineTo(c + QPointF(0.08 * r, -0.42 * r));
    arrow.lineTo(c + QPointF(0.6 * r, 0));
    arrow.lineTo(c + QPointF(0.08 * r, 0.42 * r));
    arrow.lineTo(c + QPointF(0.08 * r, 0.14 * r));
    arrow.lineTo(c + QPointF(-0.55 * r, 0.14 * r));
    arrow.closeSubpath();
    // Round the corners a little by growing the outline with a round-joined stroke.
    QPainterPathStroker stroker;
    stroker.setWidth(r * 0.06);
    stroker.setJoinStyle(Qt::RoundJoin);
    QPainterPath rounded = arrow.united(stroker.createStroke(arrow));
    rounded.setFillRule(Qt::WindingFill);
    return discWithSymbol(size, rounded.simplified(), disc);
}

QImage lambdaIcon(QSize size, const QRawFont &font)
{
    const Disc disc = discIn(size);
    const QPainterPath letter
        = fittedToHeight(textPath(font, QString(QChar(0x03BB))), disc.centre, disc.radius * 1.1);
    return discWithSymbol(size, letter, disc);
}

QImage eyePattern(QSize size)
{
    QImage image = canvas(size);
    QPainter painter(&image);
    prepare(painter);
    const qreal penWidth = std::min(size.width(), size.height()) * 0.045;
    drawEyeTraces(painter, QRectF(QPointF(0, 0), QSizeF(size)).adjusted(2, 2, -2, -2), penWidth, White);
    return image;
}

QImage initial(QSize size, const QRawFont &font)
{
    QImage image = canvas(size);
    QPainter painter(&image);
    prepare(painter);
    const QRectF box = QRectF(QPointF(0, 0), QSizeF(size))
                           .adjusted(size.width() * 0.08, size.height() * 0.08, -size.width() * 0.08,
                                     -size.height() * 0.08);
    painter.setBrush(White);
    painter.drawPath(fitted(textPath(font, QStringLiteral("Q")), box));
    return image;
}

QImage logo(QSize size, const QRawFont &font)
{
    QImage image = canvas(size);
    QPainter painter(&image);
    prepare(painter);
    const qreal margin = size.height() * 0.05;

    // The name across the whole width at the bottom.
    const QPainterPath name = textPath(font, QStringLiteral("Quorvane"));
    const QRectF nameBounds = name.boundingRect();
    const qreal nameWidth = size.width() - 2 * margin;
    const qreal nameHeight = nameBounds.height() * nameWidth / nameBounds.width();
    const QRectF nameArea(margin, size.height() - margin - nameHeight, nameWidth, nameHeight);
    QLinearGradient ink(0, nameArea.top(), 0, nameArea.bottom());
    ink.setColorAt(0.0, QColor(36, 72, 128));
    ink.setColorAt(1.0, QColor(16, 38, 78));
    painter.setBrush(ink);
    painter.drawPath(fitted(name, nameArea));

    // Above it the emblem, the initial on the green disc of the icons, with a
    // signal running into it from the left and out of it to the right.
    const qreal emblemRadius = (nameArea.top() - 2 * margin) / 2.0;
    const QPointF emblemCentre(size.width() / 2.0, margin + emblemRadius);
    const qreal swing = emblemRadius * 0.55;
    auto signal = [&](qreal from, qreal to, double firstEdge, double secondEdge) {
        QPainterPath trace;
        const int points = 120;
        for (int i = 0; i <= points; ++i) {
            const double x = double(i) / points;
            const double level = step((x - firstEdge) / 0.16) - step((x - secondEdge) / 0.16);
            const QPointF point(from + x * (to - from), emblemCentre.y() + swing / 2 - level * swing);
            if (i == 0)
                trace.moveTo(point);
            else
                trace.lineTo(point);
        }
        return trace;
    };
    const qreal gap = emblemRadius * 0.25;
    painter.setPen(
        QPen(QColor(58, 170, 66), size.height() * 0.028, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(signal(nameArea.left() + margin, emblemCentre.x() - emblemRadius - gap, 0.3, 0.7));
    painter.drawPath(signal(emblemCentre.x() + emblemRadius + gap, nameArea.right() - margin, 0.3, 0.7));
    painter.setPen(Qt::NoPen);

    drawGreenDisc(painter, emblemCentre, emblemRadius);
    drawSymbol(painter,
               fittedToHeight(textPath(font, QStringLiteral("Q")),
                              emblemCentre + QPointF(0, emblemRadius * 0.06), emblemRadius * 1.2),
               emblemRadius);
    return image;
}

QImage licenceBadge(QSize size, const QRawFont &font)
{
    QImage image = canvas(size);
    QPainter painter(&image);
    prepare(painter);

    const QRectF outline = QRectF(QPointF(0, 0), QSizeF(size)).adjusted(1, 1, -1, -1);
    const qreal corner = size.height() * 0.2;
    QPainterPath box;
    box.addRoundedRect(outline, corner, corner);
    const qreal split = outline.left() + outline.width() * 0.66;

    painter.setClipPath(box);
    painter.fillRect(QRectF(outline.left(), outline.top(), split - outline.left(), outline.height()),
                     QColor(52, 64, 84));
    painter.fillRect(QRectF(split, outline.top(), outline.right() - split, outline.height()),
                     QColor(58, 160, 70));
    painter.setClipping(false);

    painter.setPen(QPen(QColor(30, 36, 48), 2.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(box);
    painter.setPen(Qt::NoPen);

    const qreal letters = outline.height() * 0.5;
    painter.setBrush(White);
    painter.drawPath(fittedToHeight(textPath(font, QStringLiteral("LGPL")),
                                    QPointF((outline.left() + split) / 2.0, outline.center().y()), letters));
    painter.drawPath(fittedToHeight(textPath(font, QStringLiteral("v3")),
                                    QPointF((split + outline.right()) / 2.0, outline.center().y()), letters));
    return image;
}

} // namespace Drawings
