#include "window/comparewindow.h"

#include "io/picturefile.h"
#include "rules/proposedfiles.h"
#include "window/picturecomparison.h"
#include "window/savedialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// Each picture at twice its size, pixel for pixel.
constexpr int Scale = 2;
constexpr int PictureWidth = 239;
constexpr int PictureHeight = 254;

QString details(const KnownPicture &picture)
{
    QStringList lines {picture.origin};
    for (const auto &[key, value] : picture.entries)
        lines << QStringLiteral("%1: %2").arg(key, value);
    return lines.join(QLatin1Char('\n'));
}

QString area(qsizetype pixels)
{
    return QCoreApplication::translate("CompareWindow", "%1 px").arg(pixels);
}

QPixmap enlarged(const QImage &picture)
{
    if (picture.isNull())
        return QPixmap();
    return QPixmap::fromImage(
        picture.scaled(picture.size() * Scale, Qt::IgnoreAspectRatio, Qt::FastTransformation));
}

} // namespace

CompareWindow::CompareWindow(PictureComparison *comparison, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_comparison(comparison)
{
    setObjectName(QStringLiteral("CompareWindow"));
    setWindowTitle(tr("Zentaval Compare"));

    auto *pictures = new QGridLayout;
    const QStringList captions {tr("Reference"), tr("Current"), tr("Difference")};
    m_referencePicture = addPicture(QStringLiteral("referencePicture"));
    m_currentPicture = addPicture(QStringLiteral("currentPicture"));
    m_differencePicture = addPicture(QStringLiteral("differencePicture"));
    m_referenceDetails = new QLabel;
    m_currentDetails = new QLabel;
    auto *legend = new QLabel(tr("red: traces only in the current picture\n"
                                 "blue: traces only in the reference\n"
                                 "grey: traces in both"));
    m_referenceDetails->setObjectName(QStringLiteral("referenceDetails"));
    m_currentDetails->setObjectName(QStringLiteral("currentDetails"));
    const QList<QLabel *> pictureLabels {m_referencePicture, m_currentPicture, m_differencePicture};
    const QList<QLabel *> detailLabels {m_referenceDetails, m_currentDetails, legend};
    for (int column = 0; column < 3; ++column) {
        auto *caption = new QLabel(captions.at(column));
        QFont bold = caption->font();
        bold.setBold(true);
        caption->setFont(bold);
        pictures->addWidget(caption, 0, column);
        pictures->addWidget(pictureLabels.at(column), 1, column);
        QLabel *detailLabel = detailLabels.at(column);
        detailLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        detailLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
        detailLabel->setFixedWidth(PictureWidth * Scale);
        detailLabel->setWordWrap(true);
        pictures->addWidget(detailLabel, 2, column);
    }

    auto *figures = new QGridLayout;
    const auto addFigure = [figures](int row, int column, const QString &name, const QString &text) {
        auto *value = new QLabel;
        value->setObjectName(name);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        figures->addWidget(new QLabel(text), row, column * 2);
        figures->addWidget(value, row, column * 2 + 1);
        return value;
    };
    m_referenceOpenArea = addFigure(0, 0, QStringLiteral("referenceOpenArea"), tr("Reference open area:"));
    m_currentOpenArea = addFigure(1, 0, QStringLiteral("currentOpenArea"), tr("Current open area:"));
    m_openChange = addFigure(0, 1, QStringLiteral("openChange"), tr("Open change:"));
    m_changed = addFigure(1, 1, QStringLiteral("changedShare"), tr("Pixels changed:"));
    figures->setColumnStretch(4, 1);
    m_saveDifference = new QPushButton(tr("Save Difference..."));
    m_saveDifference->setObjectName(QStringLiteral("saveDifferenceButton"));
    figures->addWidget(m_saveDifference, 0, 5, 2, 1, Qt::AlignRight | Qt::AlignVCenter);
    connect(m_saveDifference, &QPushButton::clicked, this, &CompareWindow::saveDifferenceAs);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(pictures);
    layout->addLayout(figures);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(comparison, &PictureComparison::referenceChanged, this, &CompareWindow::showComparison);
    connect(comparison, &PictureComparison::currentChanged, this, &CompareWindow::showComparison);
    showComparison();
}

QLabel *CompareWindow::addPicture(const QString &name)
{
    auto *label = new QLabel;
    label->setObjectName(name);
    label->setFixedSize(PictureWidth * Scale, PictureHeight * Scale);
    label->setAlignment(Qt::AlignCenter);
    label->setStyleSheet(QStringLiteral("QLabel { background: black; color: #c0c0c0; }"));
    return label;
}

void CompareWindow::showComparison()
{
    const KnownPicture current = m_comparison->current();
    m_currentPicture->setPixmap(enlarged(current.picture));
    m_currentDetails->setText(details(current));

    const EyeComparison::Occupancy currentOccupancy
        = EyeComparison::occupancy(PictureFile::rgbPixels(current.picture));
    const EyeComparison::Occupancy &referenceOccupancy = m_comparison->referenceOccupancy();
    m_figures = m_comparison->hasReference() ? EyeComparison::compare(referenceOccupancy, currentOccupancy)
                                             : std::nullopt;
    m_difference = m_figures
        ? PictureFile::image(EyeComparison::differencePicture(referenceOccupancy, currentOccupancy))
        : QImage();

    if (m_comparison->hasReference()) {
        m_referencePicture->setPixmap(enlarged(m_comparison->reference().picture));
        m_referenceDetails->setText(details(m_comparison->reference()));
    } else {
        m_referencePicture->setPixmap(QPixmap());
        m_referencePicture->setText(tr("No reference.\nChoose Set as Reference or Open Reference...\n"
                                       "in the main window's menu."));
        m_referenceDetails->clear();
    }
    m_differencePicture->setPixmap(enlarged(m_difference));
    m_saveDifference->setEnabled(!m_difference.isNull());

    const QString none = QStringLiteral("\u2014");
    if (!m_figures) {
        // With a reference, a current picture that is no capture (none yet).
        for (QLabel *label : {m_referenceOpenArea, m_currentOpenArea, m_openChange, m_changed})
            label->setText(none);
        return;
    }
    m_referenceOpenArea->setText(area(m_figures->referenceOpenArea));
    m_currentOpenArea->setText(area(m_figures->currentOpenArea));
    m_openChange->setText(m_figures->openChangePercent
                              ? QStringLiteral("%1 %").arg(*m_figures->openChangePercent, 0, 'f', 2)
                              : tr("none (the reference has no opening)"));
    m_changed->setText(QStringLiteral("%1 %").arg(m_figures->changedPercent, 0, 'f', 2));
}

void CompareWindow::saveDifferenceAs()
{
    // Taken now: the live picture may change while the dialog is open.
    const QImage difference = m_difference;
    if (difference.isNull())
        return;
    const QDateTime now = QDateTime::currentDateTime();
    const QString proposed = QDir(ProposedFiles::picturesFolder())
                                 .filePath(QStringLiteral("Zentaval-difference-%1.png")
                                               .arg(now.toString(QStringLiteral("yyyyMMdd-hhmmss"))));
    const QString chosen
        = askSaveFileName(this, tr("Save Difference"), proposed, tr("PNG pictures (*.png)"));
    if (chosen.isEmpty())
        return;
    // Of two pictures, so of no one instrument or reading.
    const PictureFile::PictureContext taken = m_comparison->contextNow();
    PictureFile::PictureContext context;
    context.software = taken.software;
    context.time = taken.time;
    QString error;
    if (!PictureFile::savePng(difference, chosen, context, &error))
        QMessageBox::warning(this, tr("Save Difference"),
                             tr("The difference could not be saved to %1:\n%2").arg(chosen, error));
}
