#include "cli/clicommand.h"

#include "cli/capturecommand.h"
#include "cli/comparecommand.h"
#include "cli/listcommand.h"
#include "cli/maskcommand.h"
#include "cli/measurecommand.h"
#include "cli/servecommand.h"
#include "rules/printabletext.h"

#include <QCoreApplication>

#include <cstdio>

std::unique_ptr<CliCommand> makeCliCommand(const CliOptions &options)
{
    switch (options.subcommand) {
    case Subcommand::Measure:
        return std::make_unique<MeasureCommand>(options);
    case Subcommand::Capture:
        return std::make_unique<CaptureCommand>(options);
    case Subcommand::Compare:
        return std::make_unique<CompareCommand>(options);
    case Subcommand::Mask:
        return std::make_unique<MaskCommand>(options);
    case Subcommand::Serve:
        return std::make_unique<ServeCommand>(options);
    case Subcommand::List:
        break;
    }
    return std::make_unique<ListCommand>(options);
}

std::unique_ptr<SerialPortProvider> systemPorts(const CliOptions &options)
{
    return std::make_unique<SystemSerialPorts>(QStringList(), SystemSerialPorts::Enumeration::SystemAndExtra,
                                               options.lineOverride);
}

void printError(const QString &text)
{
    if (text.isEmpty())
        return;
    // Errors and notes carry instrument texts and system messages: control
    // characters in them are shown, not sent to the terminal.
    std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
                 qPrintable(printableText(text)));
    std::fflush(stderr);
}

void printNote(const CliOptions &options, const QString &text)
{
    if (!options.quiet)
        printError(text);
}

int firstInstrument(const QList<InstrumentProbe::Result> &results)
{
    for (qsizetype index = 0; index < results.size(); ++index) {
        if (results.at(index).outcome == InstrumentProbe::Outcome::Instrument)
            return int(index);
    }
    for (const InstrumentProbe::Result &result : results)
        printError(probeProblem(result));
    printError(QStringLiteral("no instrument found"));
    return -1;
}
