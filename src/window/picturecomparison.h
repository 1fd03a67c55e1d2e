#pragma once

#include "io/picturefile.h"
#include "rules/eyecomparison.h"

#include <QDateTime>
#include <QImage>
#include <QObject>

#include <functional>

class EyePlotOverlay;
class InstrumentSession;
class QLabel;

// An eye picture and what is known of it: its file, or when it was shown,
// and the instrument, device, reading and limits of that moment.
struct KnownPicture
{
    QImage picture; // as EyePlot shows it, 239 x 254; null for none
    QString origin; // the file, or "shown at hh:mm:ss"
    PictureFile::TextEntries entries;
};

// The picture the window compares the live eye with, for the run, and the
// live eye itself. It follows EyePlot through its overlay: each new picture
// shown there (every capture pass) is announced, and the overlay draws the
// outline of the reference's eye opening when asked.
class PictureComparison : public QObject
{
    Q_OBJECT

public:
    // The instrument and its readings come from the session, the limits
    // pictures are judged by from `limits`.
    PictureComparison(InstrumentSession *session, QLabel *eyePlot, EyePlotOverlay *overlay,
                      std::function<MeasurementLimits()> limits, QObject *parent = nullptr);

    bool hasReference() const { return !m_reference.picture.isNull(); }
    const KnownPicture &reference() const { return m_reference; }
    const EyeComparison::Occupancy &referenceOccupancy() const { return m_referenceOccupancy; }
    // The picture EyePlot shows now, with what was known when it was first
    // shown.
    KnownPicture current() const;

    // What the window knows now, for a picture saved at this moment.
    PictureFile::PictureContext contextNow() const;

    // The picture shown becomes the reference.
    void setReferenceFromShown();
    // A capture file becomes the reference; false, with the reason, when it
    // is no capture picture.
    bool setReferenceFromFile(const QString &fileName, QString *error);
    void clearReference();

    bool outlineShown() const;
    void setOutlineShown(bool shown);

signals:
    void referenceChanged();
    // EyePlot shows another picture.
    void currentChanged();

private:
    void setReference(const KnownPicture &reference);
    // Notes a picture EyePlot shows for the first time.
    void noteShownPicture();
    // What is known of a picture shown now.
    PictureFile::TextEntries shownEntries() const;

    QLabel *m_eyePlot;
    EyePlotOverlay *m_overlay;
    std::function<MeasurementLimits()> m_limits;

    // The one place the window's readings come from.
    QString m_identification;
    QString m_device;
    std::optional<MeasurementRow> m_latestReading;

    KnownPicture m_reference;
    EyeComparison::Occupancy m_referenceOccupancy;

    qint64 m_shownKey = 0;                   // the pixmap EyePlot showed when last noted
    QDateTime m_shownAt;                     // when it was first painted
    PictureFile::TextEntries m_shownEntries; // what was known then
};
