#pragma once

#include "io/linesettings.h"
#include "rules/eyemask.h"
#include "rules/measurementrow.h"

#include <QCommandLineParser>
#include <QHostAddress>
#include <QString>
#include <QStringList>

#include <optional>

// What the program was asked on its command line.
struct CommandLine
{
    enum class Request { Window, Help, Version };

    Request request = Request::Window;
    // Probed after the ports the system enumerates, in this order.
    QStringList devicePaths;
    LineOverride lineOverride;
    // Every accepted reading is logged here (--log), appended to the file.
    QString logFile;
    MeasurementLimits limits;
    // Remote control served from the start (--listen [ADDRESS:]PORT).
    bool listen = false;
    QHostAddress listenAddress = QHostAddress(QHostAddress::LocalHost);
    quint16 listenPort = 5025;
    // The HTTP endpoint served from the start (--http [ADDRESS:]PORT), and the
    // file of the token its requests must carry (--http-token-file).
    bool http = false;
    QHostAddress httpAddress = QHostAddress(QHostAddress::LocalHost);
    quint16 httpPort = 0;
    QString httpTokenFile;
    // Every capture judged by this mask from the start (--mask NAME|FILE).
    std::optional<EyeMask::Mask> mask;
};

// Reads arguments (the program's name first) with parser, which it sets up
// with the program's options. Returns nothing on a bad command line, with the
// reason in *error: an unknown option, a missing or bad value, or an argument
// after "--" that reads as an option, which is never taken as a device path,
// or a mask that is neither a shipped one nor a mask file.
// Asking for help or the version is not checked further.
std::optional<CommandLine> parseCommandLine(QCommandLineParser &parser, const QStringList &arguments,
                                            QString *error);
