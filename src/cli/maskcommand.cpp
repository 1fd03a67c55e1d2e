#include "cli/maskcommand.h"

#include "cli/exitstatus.h"
#include "io/eyeoverlay.h"
#include "io/maskfile.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>

#include <cstdio>

namespace {

QString pixels(double value)
{
    return QString::number(value, 'f', 1);
}

QString jsonString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray {text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

// Which of two statuses mask ends with: a file not written, then a usage
// error (or a mask that cannot be placed), a picture not read, one with no
// eye, one that fails.
int worse(int first, int second)
{
    const auto rank = [](int status) {
        switch (status) {
        case ExitStatus::Done:
            return 0;
        case ExitStatus::LimitMissed:
            return 1;
        case ExitStatus::NoEye:
            return 2;
        case ExitStatus::PictureUnreadable:
            return 3;
        case ExitStatus::UsageError:
            return 4;
        }
        return 5;
    };
    return rank(first) >= rank(second) ? first : second;
}

} // namespace

MaskCommand::MaskCommand(const CliOptions &options, QObject *parent)
    : CliCommand(parent)
    , m_options(options)
{
}

void MaskCommand::start()
{
    const std::optional<EyeMask::Mask> mask = loadMaskOrSay(m_options.mask);
    if (!mask) {
        emit finished(ExitStatus::UsageError);
        return;
    }
    int status = ExitStatus::Done;
    for (const QString &fileName : std::as_const(m_options.pictures))
        status = worse(status, judgeFile(fileName, *mask));
    emit finished(status);
}

void MaskCommand::stop()
{
    // Nothing waits: the pictures are judged at once.
}

int MaskCommand::judgeFile(const QString &fileName, const EyeMask::Mask &mask)
{
    const PictureFile::LoadedPicture loaded = PictureFile::loadCapturePicture(fileName);
    if (!loaded.error.isEmpty()) {
        printError(loaded.error);
        return ExitStatus::PictureUnreadable;
    }
    EyeMask::Result result = MaskFile::judgePicture(
        loaded.picture, mask, pictureScale(loaded.entries, m_options), m_options.maxHits);
    const bool pass = maskPasses(result, m_options);
    const QByteArray report = maskReport(fileName, result, mask.hitRate, pass, m_options.maskFormat);
    std::fwrite(report.constData(), 1, size_t(report.size()), stdout);
    std::fflush(stdout);

    int status = pass ? ExitStatus::Done : ExitStatus::LimitMissed;
    if (!result.hasEye()) {
        printError(QStringLiteral("%1: no eye (%2)").arg(fileName, result.search.noEyeReason));
        status = ExitStatus::NoEye;
    } else if (!result.judged()) {
        printError(QStringLiteral("%1: %2 cannot be placed: %3; give it with --rate or --amplitude")
                       .arg(fileName, mask.name, result.placement.error));
        status = ExitStatus::UsageError;
    } else if (result.pass && !pass) {
        printError(QStringLiteral("%1: a margin of %2 % is below --min-margin %3 %")
                       .arg(fileName)
                       .arg(result.marginPercent)
                       .arg(*m_options.minMarginPercent));
    }

    if (!m_options.output.isEmpty()) {
        // Drawn as the window draws it, with the verdict given here.
        result.pass = pass;
        PictureFile::PictureContext context;
        context.software
            = QCoreApplication::applicationName() + QLatin1Char(' ') + QCoreApplication::applicationVersion();
        context.mask = result;
        QString error;
        if (!PictureFile::savePng(EyeOverlay::annotated(loaded.picture, EyeOverlay::maskLayers(result, mask)),
                                  m_options.output, context, &error)) {
            printError(QStringLiteral("%1 could not be written: %2").arg(m_options.output, error));
            return ExitStatus::FileNotWritten;
        }
    }
    return status;
}

EyeMask::Scale pictureScale(const PictureFile::TextEntries &entries, const CliOptions &options)
{
    // The picture's reading, as far as it carries one, scales the mask as
    // the window's reading does.
    MeasurementRow reading;
    for (const auto &[key, value] : entries) {
        if (key == QLatin1String("rate_mbps"))
            reading.rate = value;
        else if (key == QLatin1String("amplitude_mv"))
            reading.amplitude = value;
    }
    EyeMask::Scale scale = MaskFile::scaleOf(reading);
    if (options.rateMbps)
        scale.rateMbps = options.rateMbps;
    if (options.amplitudeMv)
        scale.amplitudeMv = options.amplitudeMv;
    return scale;
}

bool maskPasses(const EyeMask::Result &result, const CliOptions &options)
{
    return result.pass && (!options.minMarginPercent || result.marginPercent >= *options.minMarginPercent);
}

QByteArray maskReport(const QString &picture, const EyeMask::Result &result, const QString &hitRate,
                      bool pass, MaskFormat format)
{
    const std::optional<EyeMask::EyeGeometry> eye = result.search.eye;
    const bool judged = result.judged();
    QStringList perPolygon;
    for (qsizetype hits : result.hits.perPolygon)
        perPolygon << QString::number(hits);

    if (format == MaskFormat::JsonLines) {
        const auto value
            = [](bool known, const QString &text) { return known ? text : QStringLiteral("null"); };
        QString line = QStringLiteral("{\"picture\":%1,\"mask\":%2")
                           .arg(jsonString(picture), jsonString(result.maskName));
        const QList<QPair<const char *, QString>> fields {
            {"left_crossing_px", eye ? pixels(eye->leftCrossing) : QString()},
            {"right_crossing_px", eye ? pixels(eye->rightCrossing) : QString()},
            {"ui_px", eye ? pixels(eye->unitInterval()) : QString()},
            {"one_level_px", eye ? pixels(eye->oneLevel) : QString()},
            {"zero_level_px", eye ? pixels(eye->zeroLevel) : QString()},
            {"crossing_pct", eye ? pixels(eye->crossingPercent()) : QString()},
            {"hits", judged ? QString::number(result.hits.total) : QString()},
            {"margin_pct", judged ? QString::number(result.marginPercent) : QString()},
            {"pass", pass ? QStringLiteral("true") : QStringLiteral("false")},
            {"hits_per_polygon", judged ? '[' + perPolygon.join(QLatin1Char(',')) + ']' : QString()},
        };
        for (const auto &[key, text] : fields)
            line += QStringLiteral(",\"%1\":%2").arg(QLatin1String(key), value(!text.isEmpty(), text));
        return (line + QStringLiteral("}\n")).toUtf8();
    }

    QStringList lines {QStringLiteral("picture: ") + picture, QStringLiteral("mask: ") + result.maskName};
    if (!hitRate.isEmpty())
        lines << QStringLiteral("hit rate: %1 (the file's; not applied: a picture holds no sample counts)")
                     .arg(hitRate);
    if (!eye) {
        lines << QStringLiteral("eye: none (%1)").arg(result.search.noEyeReason)
              << QStringLiteral("verdict: NO EYE");
        return (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
    }
    lines
        << QStringLiteral("crossings: %1 px, %2 px")
               .arg(pixels(eye->leftCrossing), pixels(eye->rightCrossing))
        << QStringLiteral("unit interval: %1 px").arg(pixels(eye->unitInterval()))
        << QStringLiteral("levels: one %1 px, zero %2 px").arg(pixels(eye->oneLevel), pixels(eye->zeroLevel))
        << QStringLiteral("crossing level: %1 %").arg(pixels(eye->crossingPercent()));
    if (!judged) {
        lines << QStringLiteral("verdict: NOT PLACED (%1)").arg(result.placement.error);
    } else {
        lines << QStringLiteral("hits: %1 (by polygon: %2)")
                     .arg(result.hits.total)
                     .arg(perPolygon.join(QStringLiteral(", ")))
              << QStringLiteral("margin: %1 %").arg(result.marginPercent)
              << QStringLiteral("verdict: ") + (pass ? QStringLiteral("PASS") : QStringLiteral("FAIL"));
    }
    return (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
}

std::optional<EyeMask::Mask> loadMaskOrSay(const QString &nameOrFile)
{
    const MaskFile::Loaded loaded = MaskFile::load(nameOrFile);
    if (!loaded.mask)
        printError(loaded.error.contains(nameOrFile)
                       ? loaded.error
                       : QStringLiteral("%1: %2").arg(nameOrFile, loaded.error));
    return loaded.mask;
}
