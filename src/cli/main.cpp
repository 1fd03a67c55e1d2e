// zentaval-cli: lists Zentaval instruments, logs their measurements and
// captures their eye diagrams from the command line, without a window.

#include "cli/clicommand.h"
#include "cli/exitstatus.h"
#include "cli/terminationsignals.h"

#include <QCoreApplication>

#include <cstdio>

// Builds name the program's version from the project's.
#ifndef ZENTAVAL_VERSION
#define ZENTAVAL_VERSION "1.0"
#endif

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zentaval-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZENTAVAL_VERSION));

    const CliArguments arguments = parseCliArguments(QCoreApplication::arguments());
    switch (arguments.request) {
    case CliArguments::Request::Help:
    case CliArguments::Request::Version:
        std::fputs(qPrintable(arguments.text), stdout);
        return ExitStatus::Done;
    case CliArguments::Request::UsageError:
        std::fprintf(stderr, "zentaval-cli: %s\nTry \"zentaval-cli --help\".\n", qPrintable(arguments.text));
        return ExitStatus::UsageError;
    case CliArguments::Request::Run:
        break;
    }

    const std::unique_ptr<CliCommand> command = makeCliCommand(arguments.options);
    // Ctrl+C and SIGTERM end the command as it ends by itself: rows whole,
    // files closed, the instrument told.
    CliCommand *running = command.get();
    if (!callOnTerminationSignals(running, [running] { running->stop(); })) {
        std::perror("zentaval-cli: signal handling");
        return ExitStatus::UsageError;
    }
    QObject::connect(command.get(), &CliCommand::finished, &application,
                     [](int exitStatus) { QCoreApplication::exit(exitStatus); });
    QMetaObject::invokeMethod(command.get(), &CliCommand::start, Qt::QueuedConnection);
    return application.exec();
}
