#include "window/commandline.h"
#include "window/mainwindow.h"
#include "io/httpserver.h"
#include "io/instrumentsession.h"
#include "io/scpiserver.h"
#include "io/serialports.h"

#include <QApplication>

#include <cstdio>
#include <memory>

// Builds name the program's version from the project's; this is the project's
// version for a build that does not.
#ifndef ZENTAVAL_VERSION
#define ZENTAVAL_VERSION "1.0"
#endif

namespace {

// Help and the version are printed and end the program (exit status 0); a
// bad command line is reported and ends it with status 2. Returns -1 when
// the window is wanted.
int answerWithoutWindow(QCommandLineParser &parser, const std::optional<CommandLine> &commandLine,
                        const QString &error)
{
    if (!commandLine) {
        const QByteArray name = QCoreApplication::applicationName().toLocal8Bit();
        std::fprintf(stderr, "%s: %s\nTry \"%s --help\".\n", name.constData(), qPrintable(error),
                     name.constData());
        return 2;
    }
    if (commandLine->request == CommandLine::Request::Version)
        parser.showVersion();
    if (commandLine->request == CommandLine::Request::Help)
        parser.showHelp(0);
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationVersion(QStringLiteral(ZENTAVAL_VERSION));

    // Help, the version and bad values need no display, so they are answered
    // before the window system is reached. An unknown option may be one of
    // Qt's own (-platform, -style, -session...), which QApplication takes out
    // of the arguments; the command line is read again once it has. The
    // shipped masks (--mask) are found beside the program, which the
    // application knows.
    {
        QCoreApplication application(argc, argv);
        QStringList arguments;
        for (int i = 0; i < argc; ++i)
            arguments.append(QString::fromLocal8Bit(argv[i]));
        QCommandLineParser parser;
        QString error;
        const std::optional<CommandLine> commandLine = parseCommandLine(parser, arguments, &error);
        const bool answerNow = commandLine ? commandLine->request != CommandLine::Request::Window
                                           : parser.unknownOptionNames().isEmpty();
        if (answerNow)
            return answerWithoutWindow(parser, commandLine, error);
    }

    QApplication application(argc, argv);
    // Lets desktops match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.quorvane.Zentaval"));

    QCommandLineParser parser;
    QString error;
    const std::optional<CommandLine> commandLine
        = parseCommandLine(parser, QCoreApplication::arguments(), &error);
    const int status = answerWithoutWindow(parser, commandLine, error);
    if (status >= 0)
        return status;

    MainWindow window(std::make_unique<SystemSerialPorts>(
        commandLine->devicePaths, SystemSerialPorts::Enumeration::SystemAndExtra, commandLine->lineOverride));
    window.setMeasurementLimits(commandLine->limits);
    if (commandLine->mask)
        window.session()->setMask(commandLine->mask);
    if (!commandLine->logFile.isEmpty()) {
        QString reason;
        if (!window.startMeasurementLog(commandLine->logFile, &reason)) {
            std::fprintf(stderr, "%s: the log %s cannot be opened: %s\n",
                         qPrintable(QCoreApplication::applicationName()), qPrintable(commandLine->logFile),
                         qPrintable(reason));
            return 2;
        }
    }
    if (commandLine->listen) {
        const QString address = listenAddressText(commandLine->listenAddress, commandLine->listenPort);
        window.setRemoteControlAddress(commandLine->listenAddress, commandLine->listenPort);
        QString reason;
        if (!window.startRemoteControl(&reason)) {
            std::fprintf(stderr, "%s: cannot listen on %s: %s\n", qPrintable(QCoreApplication::applicationName()),
                         qPrintable(address), qPrintable(reason));
            return 6;
        }
        if (reachesBeyondThisMachine(commandLine->listenAddress))
            std::fprintf(stderr,
                         "%s: warning: serving SCPI on %s, beyond this machine; SCPI has no authentication: "
                         "anyone who reaches the port controls the instrument\n",
                         qPrintable(QCoreApplication::applicationName()), qPrintable(address));
    }
    if (commandLine->http) {
        const QString address = listenAddressText(commandLine->httpAddress, commandLine->httpPort);
        QByteArray token;
        QString reason;
        if (!commandLine->httpTokenFile.isEmpty() && !readTokenFile(commandLine->httpTokenFile, &token, &reason)) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()), qPrintable(reason));
            return 2;
        }
        window.setHttpAddress(commandLine->httpAddress, commandLine->httpPort, token);
        if (!window.startHttp(&reason)) {
            std::fprintf(stderr, "%s: cannot listen on %s: %s\n", qPrintable(QCoreApplication::applicationName()),
                         qPrintable(address), qPrintable(reason));
            return 6;
        }
        if (reachesBeyondThisMachine(commandLine->httpAddress) && token.isEmpty())
            std::fprintf(stderr,
                         "%s: warning: serving HTTP on %s, beyond this machine, without --http-token-file: "
                         "anyone who reaches the port reads the instrument\n",
                         qPrintable(QCoreApplication::applicationName()), qPrintable(address));
    }
    window.show();
    return application.exec();
}
