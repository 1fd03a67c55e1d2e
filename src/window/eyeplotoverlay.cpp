#include "window/eyeplotoverlay.h"

#include "io/instrumentsession.h"
#include "io/maskfile.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>

namespace {

// What of a reading places the mask: its rate for a mask in ps, its
// amplitude for one in mV or V; nothing for a mask relative to the eye.
EyeMask::Scale placingScale(const EyeMask::Mask &mask, EyeMask::Scale scale)
{
    if (mask.xScale != EyeMask::XScale::Picoseconds)
        scale.rateMbps.reset();
    if (mask.yScale == EyeMask::YScale::Amplitudes)
        scale.amplitudeMv.reset();
    return scale;
}

bool sameScale(const EyeMask::Scale &a, const EyeMask::Scale &b)
{
    return a.rateMbps == b.rateMbps && a.amplitudeMv == b.amplitudeMv;
}

} // namespace

EyePlotOverlay::EyePlotOverlay(QLabel *eyePlot, InstrumentSession *session, QObject *parent)
    : QObject(parent)
    , m_eyePlot(eyePlot)
    , m_session(session)
{
    setObjectName(QStringLiteral("EyePlotOverlay"));
    eyePlot->installEventFilter(this);
    connect(session, &InstrumentSession::maskChanged, this, [this] {
        m_judgement.valid = false;
        m_eyePlot->update();
    });
}

void EyePlotOverlay::setReferenceOutline(const QList<QPoint> &boundary)
{
    m_outline = boundary;
    m_eyePlot->update();
}

void EyePlotOverlay::setOutlineShown(bool shown)
{
    m_outlineShown = shown;
    m_eyePlot->update();
}

// Judged again only for another picture, another mask, or a reading that
// places the mask elsewhere (its rate or amplitude for a mask in ps or mV).
void EyePlotOverlay::judgeShownPicture() const
{
    const std::optional<EyeMask::Mask> mask = m_session->mask();
    if (!mask) {
        m_judgement = {};
        return;
    }
    const qint64 key = m_eyePlot->pixmap().cacheKey();
    const EyeMask::Scale scale = placingScale(*mask, MaskFile::scaleOf(m_session->lastReading()));
    if (m_judgement.valid && m_judgement.pictureKey == key && sameScale(m_judgement.scale, scale))
        return;
    const QImage picture = m_eyePlot->pixmap().toImage();
    m_judgement.pictureKey = key;
    m_judgement.scale = scale;
    m_judgement.result = picture.isNull() ? std::nullopt
                                          : std::optional(MaskFile::judgePicture(picture, *mask, scale));
    m_judgement.valid = true;
}

std::optional<EyeMask::Result> EyePlotOverlay::liveJudgement() const
{
    judgeShownPicture();
    return m_judgement.result;
}

EyeOverlay::Layers EyePlotOverlay::layers() const
{
    EyeOverlay::Layers layers;
    if (m_outlineShown)
        layers.referenceOutline = m_outline;
    layers.mask = liveJudgement();
    if (layers.mask)
        layers.maskHitRate = m_session->mask().value_or(EyeMask::Mask()).hitRate;
    return layers;
}

bool EyePlotOverlay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_eyePlot || event->type() != QEvent::Paint)
        return QObject::eventFilter(watched, event);
    // The label paints its picture first; the layers go over it.
    watched->event(event);
    EyeOverlay::Layers drawn = layers();
    const auto samePixels = [](const EyeOverlay::Layers &a, const EyeOverlay::Layers &b) {
        const QList<QPoint> none;
        return a.referenceOutline == b.referenceOutline
            && (a.mask ? a.mask->hits.pixels : none) == (b.mask ? b.mask->hits.pixels : none);
    };
    drawn.pixels = samePixels(drawn, m_painted) ? m_painted.pixels
                                                : EyeOverlay::pixelLayer(m_eyePlot->pixmap().size(), drawn);
    m_painted = drawn;
    if (!drawn.referenceOutline.isEmpty() || drawn.mask) {
        QPainter painter(m_eyePlot);
        EyeOverlay::paint(painter, m_eyePlot->contentsRect(), m_eyePlot->pixmap().size(), drawn);
    }
    const qint64 key = m_eyePlot->pixmap().cacheKey();
    if (key != m_paintedKey) {
        m_paintedKey = key;
        emit newPictureShown();
    }
    return true;
}
