#include "window/picturecomparison.h"

#include "io/instrumentsession.h"
#include "window/eyeplotoverlay.h"

#include <QCoreApplication>
#include <QLabel>

namespace {

QString shownAt(const QDateTime &time)
{
    return QCoreApplication::translate("PictureComparison", "shown at %1")
        .arg(time.toLocalTime().toString(QStringLiteral("hh:mm:ss")));
}

} // namespace

PictureComparison::PictureComparison(InstrumentSession *session, QLabel *eyePlot, EyePlotOverlay *overlay,
                                     std::function<MeasurementLimits()> limits, QObject *parent)
    : QObject(parent)
    , m_eyePlot(eyePlot)
    , m_overlay(overlay)
    , m_limits(std::move(limits))
{
    setObjectName(QStringLiteral("PictureComparison"));
    connect(overlay, &EyePlotOverlay::newPictureShown, this, &PictureComparison::noteShownPicture);
    // The one place the instrument and its readings come from.
    connect(session, &InstrumentSession::connected, this,
            [this](const QString &identification, const QString &device) {
                m_identification = identification;
                m_device = device;
                m_latestReading.reset();
            });
    connect(session, &InstrumentSession::readingAccepted, this,
            [this](const MeasurementReading &, const MeasurementRow &row) { m_latestReading = row; });
}

PictureFile::PictureContext PictureComparison::contextNow() const
{
    PictureFile::PictureContext context;
    context.software
        = QCoreApplication::applicationName() + QLatin1Char(' ') + QCoreApplication::applicationVersion();
    context.identification = m_identification;
    context.device = m_device;
    context.time = QDateTime::currentDateTimeUtc();
    context.reading = m_latestReading;
    context.limits = m_limits();
    context.mask = m_overlay->liveJudgement();
    return context;
}

PictureFile::TextEntries PictureComparison::shownEntries() const
{
    // A picture on the screen was made by no program.
    PictureFile::PictureContext context = contextNow();
    context.software.clear();
    return PictureFile::contextEntries(context);
}

void PictureComparison::noteShownPicture()
{
    const qint64 key = m_eyePlot->pixmap().cacheKey();
    if (key == m_shownKey)
        return;
    m_shownKey = key;
    m_shownAt = QDateTime::currentDateTime();
    m_shownEntries = shownEntries();
    // Announced after the paint: whoever follows it may repaint.
    QMetaObject::invokeMethod(this, &PictureComparison::currentChanged, Qt::QueuedConnection);
}

KnownPicture PictureComparison::current() const
{
    KnownPicture current;
    current.picture = m_eyePlot->pixmap().toImage();
    if (m_eyePlot->pixmap().cacheKey() == m_shownKey) {
        current.origin = shownAt(m_shownAt);
        current.entries = m_shownEntries;
    } else {
        // Not painted yet (the window is hidden): known from now.
        current.origin = shownAt(QDateTime::currentDateTime());
        current.entries = shownEntries();
    }
    return current;
}

void PictureComparison::setReferenceFromShown()
{
    setReference(current());
}

bool PictureComparison::setReferenceFromFile(const QString &fileName, QString *error)
{
    const PictureFile::LoadedPicture loaded = PictureFile::loadCapturePicture(fileName);
    if (!loaded.error.isEmpty()) {
        if (error)
            *error = loaded.error;
        return false;
    }
    setReference({loaded.picture, fileName, loaded.entries});
    return true;
}

void PictureComparison::clearReference()
{
    setReference({});
}

void PictureComparison::setReference(const KnownPicture &reference)
{
    m_reference = reference;
    m_referenceOccupancy = EyeComparison::occupancy(PictureFile::rgbPixels(reference.picture));
    const EyeComparison::Occupancy &occupancy = m_referenceOccupancy;
    m_overlay->setReferenceOutline(reference.picture.isNull()
                                       ? QList<QPoint>()
                                       : EyeComparison::openingBoundary(EyeComparison::eyeOpening(occupancy),
                                                                        occupancy.width, occupancy.height));
    emit referenceChanged();
}

bool PictureComparison::outlineShown() const
{
    return m_overlay->outlineShown();
}

void PictureComparison::setOutlineShown(bool shown)
{
    m_overlay->setOutlineShown(shown);
}
