#include "io/instrumentoptions.h"

namespace InstrumentOptions {

namespace {

const QString BaudOption = QStringLiteral("baud");
const QString LineOption = QStringLiteral("line");
const QString MinHeightOption = QStringLiteral("min-height");
const QString MinWidthOption = QStringLiteral("min-width");
const QString MinAmplitudeOption = QStringLiteral("min-amplitude");
const QString RequireLockOption = QStringLiteral("require-lock");

// "Lowest eye height..." alone, or "measure: lowest eye height...".
QString scoped(const QString &scope, const QString &help)
{
    if (scope.isEmpty())
        return help;
    return scope + QLatin1String(": ") + help.left(1).toLower() + help.mid(1);
}

} // namespace

void addLineOptions(QCommandLineParser &parser)
{
    parser.addOptions({
        {BaudOption, QStringLiteral("Line rate in baud, 50 to 4000000."), QStringLiteral("RATE")},
        {LineOption,
         QStringLiteral("Data bits (5-8), parity (N, E, O, M or S) and stop bits (1 or 2), such as 8N1."),
         QStringLiteral("FRAME")},
    });
}

void addLimitOptions(QCommandLineParser &parser, const QString &scope)
{
    parser.addOptions({
        {MinHeightOption, scoped(scope, QStringLiteral("Lowest eye height in UI a reading may show.")),
         QStringLiteral("UI")},
        {MinWidthOption, scoped(scope, QStringLiteral("Lowest eye width in UI a reading may show.")),
         QStringLiteral("UI")},
        {MinAmplitudeOption, scoped(scope, QStringLiteral("Lowest amplitude in mV a reading may show.")),
         QStringLiteral("MV")},
        {RequireLockOption, scoped(scope, QStringLiteral("A reading must show the green lock lamp."))},
    });
}

QStringList limitOptionNames()
{
    return {MinHeightOption, MinWidthOption, MinAmplitudeOption, RequireLockOption};
}

bool readLineOverride(const QCommandLineParser &parser, LineOverride &lineOverride, QString *error)
{
    return parseLineOverride(parser.value(BaudOption), parser.value(LineOption), lineOverride, error);
}

bool readLimits(const QCommandLineParser &parser, MeasurementLimits &limits, QString *error)
{
    if (!parseLimit(parser.value(MinHeightOption), limits.minHeight, error)
        || !parseLimit(parser.value(MinWidthOption), limits.minWidth, error)
        || !parseLimit(parser.value(MinAmplitudeOption), limits.minAmplitude, error))
        return false;
    limits.requireLock = parser.isSet(RequireLockOption);
    return true;
}

bool checkDevicePaths(const QStringList &paths, QString *error)
{
    for (const QString &path : paths) {
        QString reason;
        if (path.isEmpty())
            reason = QStringLiteral("an empty device path");
        else if (path.startsWith(QLatin1Char('-')))
            reason = QStringLiteral("\"%1\" reads as an option, not a device path (write ./%1 for a file of "
                                    "that name)")
                         .arg(path);
        if (!reason.isEmpty()) {
            if (error)
                *error = reason;
            return false;
        }
    }
    return true;
}

} // namespace InstrumentOptions
