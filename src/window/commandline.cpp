#include "window/commandline.h"

#include "io/instrumentoptions.h"
#include "io/maskfile.h"
#include "io/scpiserver.h"

namespace {
const QString LogOption = QStringLiteral("log");
const QString ListenOption = QStringLiteral("listen");
const QString HttpOption = QStringLiteral("http");
const QString HttpTokenFileOption = QStringLiteral("http-token-file");
const QString MaskOption = QStringLiteral("mask");
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
    InstrumentOptions::addLineOptions(parser);
    parser.addOption({LogOption,
                      QStringLiteral("Log every measurement shown to FILE, one row each (CSV, or JSON Lines "
                                     "for .jsonl and .json); an existing file is appended to."),
                      QStringLiteral("FILE")});
    InstrumentOptions::addLimitOptions(parser);
    parser.addOption({ListenOption,
                      QStringLiteral("Serve the instrument to SCPI clients on a TCP port (as "
                                     "TCPIP::host::PORT::SOCKET); ADDRESS defaults to 127.0.0.1, this machine "
                                     "alone. SCPI has no authentication: serve beyond this machine only on a "
                                     "network you trust."),
                      QStringLiteral("[ADDRESS:]PORT")});
    parser.addOption({HttpOption,
                      QStringLiteral("Serve the instrument read-only over HTTP: a live page at /, Prometheus "
                                     "metrics at /metrics; ADDRESS defaults to 127.0.0.1."),
                      QStringLiteral("[ADDRESS:]PORT")});
    parser.addOption({HttpTokenFileOption,
                      QStringLiteral("--http: every request must carry \"Authorization: Bearer TOKEN\", TOKEN "
                                     "the first line of FILE."),
                      QStringLiteral("FILE")});
    parser.addOption({MaskOption,
                      QStringLiteral("Judge every capture by a mask: a shipped one by NAME (%1) or a mask FILE "
                                     "(YAML); the Mask menu changes it.")
                          .arg(MaskFile::shippedNames().join(QStringLiteral(", "))),
                      QStringLiteral("NAME|FILE")});
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
    if (!InstrumentOptions::readLineOverride(parser, commandLine.lineOverride, &reason)
        || !InstrumentOptions::readLimits(parser, commandLine.limits, &reason))
        return fail(reason);
    if (parser.isSet(LogOption) && parser.value(LogOption).isEmpty())
        return fail(QStringLiteral("an empty log file name"));
    commandLine.logFile = parser.value(LogOption);
    if (parser.isSet(ListenOption)) {
        commandLine.listen = true;
        if (!parseListenAddress(parser.value(ListenOption), &commandLine.listenAddress, &commandLine.listenPort,
                                &reason))
            return fail(QStringLiteral("--listen: ") + reason);
    }
    if (parser.isSet(HttpOption)) {
        commandLine.http = true;
        if (!parseListenAddress(parser.value(HttpOption), &commandLine.httpAddress, &commandLine.httpPort, &reason))
            return fail(QStringLiteral("--http: ") + reason);
    }
    if (parser.isSet(HttpTokenFileOption)) {
        if (!commandLine.http)
            return fail(QStringLiteral("--http-token-file is for --http"));
        commandLine.httpTokenFile = parser.value(HttpTokenFileOption);
    }
    if (parser.isSet(MaskOption)) {
        const MaskFile::Loaded loaded = MaskFile::load(parser.value(MaskOption));
        if (!loaded.mask)
            return fail(QStringLiteral("--mask %1: %2").arg(parser.value(MaskOption), loaded.error));
        commandLine.mask = loaded.mask;
    }
    const QStringList paths = parser.positionalArguments();
    if (!InstrumentOptions::checkDevicePaths(paths, &reason))
        return fail(reason);
    commandLine.devicePaths = paths;
    return commandLine;
}
