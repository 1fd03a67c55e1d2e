// zentaval-cli: lists Zentaval instruments, logs their measurements and
// captures their eye diagrams from the command line, without a window.

#include "clicommand.h"
#include "exitstatus.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

// Builds name the program's version from the project's.
#ifndef ZENTAVAL_VERSION
#define ZENTAVAL_VERSION "1.0"
#endif

namespace {

int signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    // Nothing else is safe in a signal handler; the event loop does the rest.
    [[maybe_unused]] const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
}

// Ctrl+C and SIGTERM reach the command on the event loop, so that it ends
// as it ends by itself: rows whole, files closed, the instrument told.
bool stopOnTerminationSignals(CliCommand &command)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return false;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &command);
    QObject::connect(notifier, &QSocketNotifier::activated, &command, [&command] {
        char byte = 0;
        [[maybe_unused]] const ssize_t ignored = ::read(signalPipe[0], &byte, 1);
        command.stop();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 && ::sigaction(SIGINT, &action, nullptr) == 0;
}

} // namespace

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
    if (!stopOnTerminationSignals(*command)) {
        std::perror("zentaval-cli: signal handling");
        return ExitStatus::UsageError;
    }
    QObject::connect(command.get(), &CliCommand::finished, &application,
                     [](int exitStatus) { QCoreApplication::exit(exitStatus); });
    QMetaObject::invokeMethod(command.get(), &CliCommand::start, Qt::QueuedConnection);
    return application.exec();
}
