#pragma once

#include "io/eyeoverlay.h"
#include "rules/eyemask.h"

#include <QObject>

#include <optional>

class InstrumentSession;
class QLabel;

// EyePlot's one overlay part: after the label paints its picture, the
// layers of EyeOverlay go over it (the reference outline when shown, the
// mask in use, its hits, the eye found and the corner line). The live
// picture is judged once per picture shown (every capture pass), by the
// session's mask placed with the latest reading, not at every repaint.
class EyePlotOverlay : public QObject
{
    Q_OBJECT

public:
    EyePlotOverlay(QLabel *eyePlot, InstrumentSession *session, QObject *parent = nullptr);

    // The reference opening's boundary pixels; empty: none.
    void setReferenceOutline(const QList<QPoint> &boundary);
    bool outlineShown() const { return m_outlineShown; }
    void setOutlineShown(bool shown);

    // The picture EyePlot shows judged by the mask in use; none without a
    // mask.
    std::optional<EyeMask::Result> liveJudgement() const;
    // What is drawn over EyePlot now.
    EyeOverlay::Layers layers() const;

signals:
    // EyePlot painted a picture it had not painted before.
    void newPictureShown();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void judgeShownPicture() const;

    QLabel *m_eyePlot;
    InstrumentSession *m_session;
    QList<QPoint> m_outline;
    bool m_outlineShown = false;
    qint64 m_paintedKey = 0; // the pixmap EyePlot painted last

    // The judgement of the picture shown: valid for that pixmap, that mask
    // and that scale.
    struct Judgement
    {
        qint64 pictureKey = 0;
        EyeMask::Scale scale;
        std::optional<EyeMask::Result> result;
        bool valid = false;
    };
    mutable Judgement m_judgement;
    // The pixel layer of the last paint, kept while its outline and hits are
    // the same.
    EyeOverlay::Layers m_painted;
};
