#pragma once

#include "rules/eyecomparison.h"

#include <QImage>
#include <QWidget>

#include <optional>

class PictureComparison;
class QLabel;
class QPushButton;

// "Zentaval Compare": the reference, the live picture and their difference
// side by side at twice their size, the open area of each, the open change
// and the share of pixels changed, and what is known of each picture. It
// follows every new picture the main window shows.
class CompareWindow : public QWidget
{
    Q_OBJECT

public:
    explicit CompareWindow(PictureComparison *comparison, QWidget *parent = nullptr);

    // The figures shown; none without a reference.
    std::optional<EyeComparison::Figures> figures() const { return m_figures; }
    QImage difference() const { return m_difference; }

public slots:
    void showComparison();
    void saveDifferenceAs();

private:
    QLabel *addPicture(const QString &name);

    PictureComparison *m_comparison;
    QLabel *m_referencePicture;
    QLabel *m_currentPicture;
    QLabel *m_differencePicture;
    QLabel *m_referenceDetails;
    QLabel *m_currentDetails;
    QLabel *m_referenceOpenArea;
    QLabel *m_currentOpenArea;
    QLabel *m_openChange;
    QLabel *m_changed;
    QPushButton *m_saveDifference;

    std::optional<EyeComparison::Figures> m_figures;
    QImage m_difference;
};
