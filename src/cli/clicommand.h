#pragma once

#include "cli/cliarguments.h"
#include "io/instrumentprobe.h"

#include <QObject>

#include <memory>

// One run of a zentaval-cli command on the event loop: start() begins it,
// finished() ends it with the program's exit status, and stop() (Ctrl+C,
// SIGTERM) ends it early as cleanly as the command can.
class CliCommand : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual void start() = 0;
    virtual void stop() = 0;

signals:
    void finished(int exitStatus);
};

std::unique_ptr<CliCommand> makeCliCommand(const CliOptions &options);

// The system's serial ports with the line settings of the command line.
std::unique_ptr<SerialPortProvider> systemPorts(const CliOptions &options);

// A line on standard error, with the program's name in front; control
// characters in the text are escaped (printableText()).
void printError(const QString &text);
// A note on standard error, left out with --quiet.
void printNote(const CliOptions &options, const QString &text);

// The index of the first instrument the probe found. When there is none,
// each port's problem and "no instrument found" are said on standard error,
// and the result is -1.
int firstInstrument(const QList<InstrumentProbe::Result> &results);
