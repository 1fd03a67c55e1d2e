// zentaval-cli: lists Zentaval instruments, logs their measurements and
// captures their eye diagrams from the command line, without a window.

#include "cli/clicommand.h"
#include "cli/exitstatus.h"
#include "cli/terminationsignals.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdio>
#include <memory>

// Builds name the program's version from the project's.
#ifndef ZENTAVAL_VERSION
#define ZENTAVAL_VERSION "1.0"
#endif

namespace {

// Whether the command draws text into a picture (mask --output): text needs
// the fonts of a Gui application, here on the offscreen platform, so that no
// display is ever needed. Every other command runs on a Core application.
bool drawsText(int argc, char *argv[])
{
    QStringList arguments;
    for (int index = 0; index < argc; ++index)
        arguments << QString::fromLocal8Bit(argv[index]);
    const CliArguments parsed = parseCliArguments(arguments);
    return parsed.request == CliArguments::Request::Run && parsed.options.subcommand == Subcommand::Mask
        && !parsed.options.output.isEmpty();
}

} // namespace

int main(int argc, char *argv[])
{
    std::unique_ptr<QCoreApplication> app;
    if (drawsText(argc, argv)) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication &application = *app;
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
