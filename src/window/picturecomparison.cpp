#include "window/picturecomparison.h"

#include "io/instrumentsession.h"
#include "window/mainwindow.h"
#include "window/mainwindowui.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>

namespace {

// The outline's colour: no colour of an eye picture, which runs from dark
// blue through green and red to white.
const QColor OutlineColour(255, 40, 255);

QString shownAt(const QDateTime &time)
{
    return QCoreApplication::translate("PictureComparison", "shown at %1")
        .arg(time.toLocalTime().toString(QStringLiteral("hh:mm:ss")));
}

} // namespace

PictureComparison::PictureComparison(MainWindow *window)
    : QObject(window)
    , m_window(window)
    , m_eyePlot(window->form()->EyePlot)
{
    setObjectName(QStringLiteral("PictureComparison"));
    m_eyePlot->installEventFilter(this);
    // The one place the instrument and its readings come from.
    connect(window->session(), &InstrumentSession::connected, this,
            [this](const QString &identification, const QString &device) {
                m_identification = identification;
                m_device = device;
                m_latestReading.reset();
            });
    connect(window->session(), &InstrumentSession::readingAccepted, this,
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
    context.limits = m_window->measurementLimits();
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
    m_outline = QImage();
    if (!reference.picture.isNull()) {
        const EyeComparison::Occupancy &occupancy = m_referenceOccupancy;
        m_outline = QImage(occupancy.width, occupancy.height, QImage::Format_ARGB32_Premultiplied);
        m_outline.fill(Qt::transparent);
        const QList<QPoint> boundary = EyeComparison::openingBoundary(EyeComparison::eyeOpening(occupancy),
                                                                      occupancy.width, occupancy.height);
        for (const QPoint &pixel : boundary)
            m_outline.setPixelColor(pixel, OutlineColour);
    }
    m_eyePlot->update();
    emit referenceChanged();
}

void PictureComparison::setOutlineShown(bool shown)
{
    m_outlineShown = shown;
    m_eyePlot->update();
}

bool PictureComparison::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_eyePlot || event->type() != QEvent::Paint)
        return QObject::eventFilter(watched, event);
    // The label paints its picture first; the outline goes over it.
    watched->event(event);
    noteShownPicture();
    if (m_outlineShown && !m_outline.isNull()) {
        QPainter painter(m_eyePlot);
        painter.drawImage(m_eyePlot->contentsRect(), m_outline);
    }
    return true;
}
