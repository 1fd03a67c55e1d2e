#include "io/eyeoverlay.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPolygonF>
#include <QTransform>

#include <algorithm>

namespace EyeOverlay {

namespace {

// Picture pixels to target points: pixel (x, y) covers [x, x + 1) x [y, y + 1)
// of the picture, so a pixel's centre, where the rules place points, is at
// (x + 0.5, y + 0.5).
QTransform pictureToTarget(const QRectF &target, QSize pictureSize)
{
    return QTransform::fromTranslate(target.left(), target.top())
        .scale(target.width() / pictureSize.width(), target.height() / pictureSize.height());
}

QPolygonF centred(const EyeMask::PixelPolygon &polygon)
{
    QPolygonF points;
    points.reserve(polygon.size());
    for (const QPointF &point : polygon)
        points << point + QPointF(0.5, 0.5);
    return points;
}

void paintMask(QPainter &painter, const QTransform &toTarget, const EyeMask::Result &result)
{
    if (result.placement.polygons.isEmpty())
        return;
    painter.save();
    painter.setTransform(toTarget, true);
    painter.setRenderHint(QPainter::Antialiasing, false);
    QColor fill = MaskColour;
    fill.setAlpha(MaskFillAlpha);
    painter.setBrush(fill);
    QPen pen(MaskColour, 0); // cosmetic: one target pixel wide at any scale
    painter.setPen(pen);
    for (const EyeMask::PixelPolygon &polygon : result.placement.polygons)
        painter.drawPolygon(centred(polygon));
    painter.restore();
}

// The outline and the hits are whole pixels: drawn as one picture-sized
// layer, scaled without smoothing, so each covers exactly its block.
void paintPixels(QPainter &painter, const QRectF &target, QSize pictureSize, const Layers &layers)
{
    const QImage pixels = layers.pixels.isNull() ? pixelLayer(pictureSize, layers) : layers.pixels;
    if (pixels.isNull())
        return;
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(target, pixels);
    painter.restore();
}

// Short ticks at the picture's edges: the crossings at the top and bottom,
// the one and zero levels and the crossing level at the left and right.
void paintTicks(QPainter &painter, const QRectF &target, const QTransform &toTarget,
                const EyeMask::EyeGeometry &eye)
{
    const double length = target.width() / 40;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(TickColour, std::max(1.0, target.width() / 240)));
    for (double x : {eye.leftCrossing, eye.rightCrossing}) {
        const double at = toTarget.map(QPointF(x + 0.5, 0)).x();
        painter.drawLine(QPointF(at, target.top()), QPointF(at, target.top() + length));
        painter.drawLine(QPointF(at, target.bottom() - length), QPointF(at, target.bottom()));
    }
    for (double y : {eye.oneLevel, eye.zeroLevel, eye.crossingRow}) {
        const double at = toTarget.map(QPointF(0, y + 0.5)).y();
        painter.drawLine(QPointF(target.left(), at), QPointF(target.left() + length, at));
        painter.drawLine(QPointF(target.right() - length, at), QPointF(target.right(), at));
    }
    painter.restore();
}

// The corner line on a dark band, legible over any trace.
void paintCornerLine(QPainter &painter, const QRectF &target, const QString &line)
{
    // Text needs the fonts of a Gui application (the offscreen platform will
    // do); in a bare core application Qt would abort at the first glyph.
    if (line.isEmpty() || !qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return;
    painter.save();
    QFont font = painter.font();
    font.setPixelSize(std::max(9, qRound(target.height() / 42)));
    font.setBold(true);
    painter.setFont(font);
    const QFontMetricsF metrics(font);
    const double margin = std::max(2.0, target.width() / 120);
    const QRectF band(target.topLeft(),
                      QSizeF(std::min(target.width(), metrics.horizontalAdvance(line) + 2 * margin),
                             metrics.height() + 2 * margin));
    painter.fillRect(band, QColor(0, 0, 0, 170));
    painter.setPen(TickColour);
    painter.drawText(band.adjusted(margin, margin, -margin, -margin), Qt::AlignLeft | Qt::AlignVCenter, line);
    painter.restore();
}

} // namespace

QImage pixelLayer(QSize pictureSize, const Layers &layers)
{
    const QList<QPoint> *hits = layers.mask ? &layers.mask->hits.pixels : nullptr;
    if (layers.referenceOutline.isEmpty() && (!hits || hits->isEmpty()))
        return QImage();
    QImage pixels(pictureSize, QImage::Format_ARGB32_Premultiplied);
    pixels.fill(Qt::transparent);
    const QRect inside(QPoint(0, 0), pictureSize);
    const auto put = [&](const QList<QPoint> &points, QColor colour) {
        const QRgb value = colour.rgba();
        for (const QPoint &point : points)
            if (inside.contains(point))
                reinterpret_cast<QRgb *>(pixels.scanLine(point.y()))[point.x()] = value;
    };
    put(layers.referenceOutline, OutlineColour);
    if (hits)
        put(*hits, HitColour);
    return pixels;
}

Layers maskLayers(const EyeMask::Result &result, const EyeMask::Mask &mask)
{
    Layers layers;
    layers.mask = result;
    layers.maskHitRate = mask.hitRate;
    return layers;
}

QString cornerLine(const Layers &layers)
{
    if (!layers.mask)
        return QString();
    const QString summary = EyeMask::summary(*layers.mask);
    if (layers.maskHitRate.isEmpty())
        return summary;
    return QStringLiteral("%1 (file's hit rate %2 not applied)").arg(summary, layers.maskHitRate);
}

void paint(QPainter &painter, const QRectF &target, QSize pictureSize, const Layers &layers)
{
    if (pictureSize.isEmpty() || target.isEmpty())
        return;
    const QTransform toTarget = pictureToTarget(target, pictureSize);
    if (layers.mask)
        paintMask(painter, toTarget, *layers.mask);
    paintPixels(painter, target, pictureSize, layers);
    if (layers.mask && layers.mask->search.eye)
        paintTicks(painter, target, toTarget, *layers.mask->search.eye);
    paintCornerLine(painter, target, cornerLine(layers));
}

QImage annotated(const QImage &shown, const Layers &layers)
{
    if (shown.isNull())
        return QImage();
    // Scaled smoothly, as EyePlot scales its picture.
    // (No QPixmap: the tool draws without a display.)
    QImage picture = shown.convertToFormat(QImage::Format_RGB32)
                         .scaled(shown.size() * AnnotatedScale, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&picture);
    paint(painter, picture.rect(), shown.size(), layers);
    painter.end();
    return picture;
}

} // namespace EyeOverlay
