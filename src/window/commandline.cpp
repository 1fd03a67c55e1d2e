#include "window/commandline.h"

#include "io/scpiserver.h"

namespace {
const QString BaudOption = QStringLiteral("baud");
const QString LineOption = QStringLiteral("line");
const QString LogOption = QStringLiteral("log");
const QString MinHeightOption = QStringLiteral("min-height");
const QString MinWidthOption = QStringLiteral("min-width");
const QString MinAmplitudeOption = QStringLiteral("min-amplitude");
const QString RequireLockOption = QStringLiteral("require-lock");
const QString ListenOption = QStringLiteral("listen");
} // namespace

std::optional<CommandLine> parseCommandLine(QCommandLineParser &parser, const QStringList &arguments,
                                            QString *error)
{
    parser.setApplicationDescription(
        QStringLiteral("Front-end of the Quorvane Zentaval eye-diagram instrument (model 731942K).\n"
                       "Ports keep the line settings the system holds for them (stty); --baud and --line "
                       "replace those."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addOption(
        {BaudOption, QStringLiteral("Line rate in baud, 50 to 4000000."), QStringLiteral("RATE")});
    parser.addOption({LineOption,
                      QStringLiteral("Data bits (5-8), parity (N, E, O, M or S) and stop bits (1 or 2), "
                                     "such as 8N1."),
                      QStringLiteral("FRAME")});
    parser.addOption({LogOption,
                      QStringLiteral("Log every measurement shown to FILE, one row each (CSV, or JSON Lines "
                                     "for .jsonl and .json); an existing file is appended to."),
                      QStringLiteral("FILE")});
    parser.addOption({MinHeightOption, QStringLiteral("Lowest eye height in UI a reading may show."),
                      QStringLiteral("UI")});
    parser.addOption(
        {MinWidthOption, QStringLiteral("Lowest eye width in UI a reading may show."), QStringLiteral("UI")});
    parser.addOption({MinAmplitudeOption, QStringLiteral("Lowest amplitude in mV a reading may show."),
                      QStringLiteral("MV")});
    parser.addOption({RequireLockOption, QStringLiteral("A reading must show the green lock lamp.")});
    parser.addOption({ListenOption,
                      QStringLiteral("Serve the instrument to SCPI clients on a TCP port (as "
                                     "TCPIP::host::PORT::SOCKET); ADDRESS defaults to 127.0.0.1, this machine "
                                     "alone. SCPI has no authentication: serve beyond this machine only on a "
                                     "network you trust."),
                      QStringLiteral("[ADDRESS:]PORT")});
    parser.addPositionalArgument(QStringLiteral("device"),
                                 QStringLiteral("Device paths probed after the system's serial ports, "
                                                "such as /dev/pts/3 or a /dev/serial/by-id link."),
                                 QStringLiteral("[DEVICE...]"));

    auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return std::optional<CommandLine>();
    };
    if (!parser.parse(arguments))
        return fail(parser.errorText());

    CommandLine commandLine;
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        commandLine.request = CommandLine::Request::Help;
        return commandLine;
    }
    if (parser.isSet(version)) {
        commandLine.request = CommandLine::Request::Version;
        return commandLine;
    }

    QString reason;
    if (!parseLineOverride(parser.value(BaudOption), parser.value(LineOption), commandLine.lineOverride,
                           &reason))
        return fail(reason);
    if (!parseLimit(parser.value(MinHeightOption), commandLine.limits.minHeight, &reason)
        || !parseLimit(parser.value(MinWidthOption), commandLine.limits.minWidth, &reason)
        || !parseLimit(parser.value(MinAmplitudeOption), commandLine.limits.minAmplitude, &reason))
        return fail(reason);
    commandLine.limits.requireLock = parser.isSet(RequireLockOption);
    if (parser.isSet(LogOption) && parser.value(LogOption).isEmpty())
        return fail(QStringLiteral("an empty log file name"));
    commandLine.logFile = parser.value(LogOption);
    if (parser.isSet(ListenOption)) {
        commandLine.listen = true;
        if (!parseListenAddress(parser.value(ListenOption), &commandLine.listenAddress, &commandLine.listenPort,
                                &reason))
            return fail(QStringLiteral("--listen: ") + reason);
    }
    const QStringList paths = parser.positionalArguments();
    for (const QString &path : paths) {
        if (path.isEmpty())
            return fail(QStringLiteral("an empty device path"));
        if (path.startsWith(QLatin1Char('-')))
            return fail(QStringLiteral("\"%1\" reads as an option, not a device path (write ./%1 for a file "
                                       "of that name)")
                            .arg(path));
    }
    commandLine.devicePaths = paths;
    return commandLine;
}
