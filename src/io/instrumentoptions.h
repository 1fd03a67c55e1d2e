#pragma once

#include "io/linesettings.h"
#include "rules/measurementrow.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

// The options both programs take for the line and the limits: --baud and
// --line, and --min-height, --min-width, --min-amplitude and --require-lock;
// and the device paths both take as arguments.
namespace InstrumentOptions {

// Adds --baud and --line.
void addLineOptions(QCommandLineParser &parser);
// Adds the four limit options. With a scope ("measure") each help text
// starts with it: "measure: lowest eye height ...".
void addLimitOptions(QCommandLineParser &parser, const QString &scope = QString());
// The names of the limit options, without their dashes.
QStringList limitOptionNames();

// Read from a parser that has parsed the arguments. On a bad value each
// returns false and says why in *error.
bool readLineOverride(const QCommandLineParser &parser, LineOverride &lineOverride, QString *error);
bool readLimits(const QCommandLineParser &parser, MeasurementLimits &limits, QString *error);

// Device paths given as arguments: none may be empty, and none may start with
// '-', which is never taken for a device path after "--". On a bad one
// returns false and says why in *error.
bool checkDevicePaths(const QStringList &paths, QString *error);

} // namespace InstrumentOptions
