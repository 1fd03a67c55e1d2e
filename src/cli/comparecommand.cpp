#include "cli/comparecommand.h"

#include "cli/exitstatus.h"
#include "io/picturefile.h"

#include <cstdio>

namespace {

QString percent(double value)
{
    return QString::number(value, 'f', 2);
}

} // namespace

CompareCommand::CompareCommand(const CliOptions &options, QObject *parent)
    : CliCommand(parent)
    , m_options(options)
{
}

void CompareCommand::start()
{
    const PictureFile::LoadedPicture reference = PictureFile::loadCapturePicture(m_options.referencePicture);
    const PictureFile::LoadedPicture current = PictureFile::loadCapturePicture(m_options.currentPicture);
    for (const PictureFile::LoadedPicture *loaded : {&reference, &current}) {
        if (!loaded->error.isEmpty()) {
            printError(loaded->error);
            emit finished(ExitStatus::UsageError);
            return;
        }
    }
    const EyeComparison::Occupancy referenceOccupancy
        = EyeComparison::occupancy(PictureFile::rgbPixels(reference.picture));
    const EyeComparison::Occupancy currentOccupancy
        = EyeComparison::occupancy(PictureFile::rgbPixels(current.picture));
    // Both are captures, so of one size.
    const EyeComparison::Figures figures = *EyeComparison::compare(referenceOccupancy, currentOccupancy);

    const QByteArray report = comparisonReport(figures, m_options.compareFormat);
    std::fwrite(report.constData(), 1, size_t(report.size()), stdout);
    std::fflush(stdout);

    if (!m_options.output.isEmpty()) {
        const QImage difference
            = PictureFile::image(EyeComparison::differencePicture(referenceOccupancy, currentOccupancy));
        QString error;
        if (!PictureFile::savePng(difference, m_options.output, {}, &error)) {
            printError(QStringLiteral("%1 could not be written: %2").arg(m_options.output, error));
            emit finished(ExitStatus::FileNotWritten);
            return;
        }
    }

    const QStringList missed = missedCompareLimits(figures, m_options);
    for (const QString &reason : missed)
        printError(reason);
    emit finished(missed.isEmpty() ? ExitStatus::Done : ExitStatus::LimitMissed);
}

void CompareCommand::stop()
{
    // Nothing waits: the comparison ends by itself at once.
}

QByteArray comparisonReport(const EyeComparison::Figures &figures, CompareFormat format)
{
    const QString openChange = figures.openChangePercent ? percent(*figures.openChangePercent) : QString();
    if (format == CompareFormat::JsonLines) {
        return QStringLiteral("{\"reference_open_px\":%1,\"current_open_px\":%2,\"open_change_pct\":%3,"
                              "\"changed_pct\":%4}\n")
            .arg(figures.referenceOpenArea)
            .arg(figures.currentOpenArea)
            .arg(openChange.isEmpty() ? QStringLiteral("null") : openChange)
            .arg(percent(figures.changedPercent))
            .toLatin1();
    }
    return QStringLiteral(
               "reference open area: %1 px\ncurrent open area: %2 px\nopen change: %3\nchanged: %4 %\n")
        .arg(figures.referenceOpenArea)
        .arg(figures.currentOpenArea)
        .arg(openChange.isEmpty() ? QStringLiteral("none (the reference has no opening)") : openChange + " %")
        .arg(percent(figures.changedPercent))
        .toLatin1();
}

QStringList missedCompareLimits(const EyeComparison::Figures &figures, const CliOptions &options)
{
    QStringList missed;
    if (options.maxChangedPercent && figures.changedPercent > *options.maxChangedPercent)
        missed << QStringLiteral("%1 % of the pixels changed, more than --max-changed %2 %")
                      .arg(percent(figures.changedPercent))
                      .arg(*options.maxChangedPercent);
    if (options.minOpenPercent && !EyeComparison::openAreaMeets(figures, *options.minOpenPercent))
        missed << QStringLiteral(
                      "the current open area of %1 px is below --min-open %2 % of the reference's %3 px")
                      .arg(figures.currentOpenArea)
                      .arg(*options.minOpenPercent)
                      .arg(figures.referenceOpenArea);
    return missed;
}
