#pragma once

#include "cli/clicommand.h"
#include "cli/instrumentprobe.h"

// zentaval-cli list: every instrument that answers, one a line on standard
// output; ports that cannot be probed are named on standard error.
class ListCommand : public CliCommand
{
    Q_OBJECT

public:
    explicit ListCommand(const CliOptions &options, QObject *parent = nullptr);

    void start() override;
    void stop() override;

private:
    void report();

    CliOptions m_options;
    SystemSerialPorts m_ports;
    InstrumentProbe m_probe;
};

// The line printed for an instrument: "DEVICE<TAB>IDENTIFICATION", control
// characters of the identification escaped (printableText()), or a JSON
// object with "device" and "identification".
QByteArray listLine(const QString &device, const QString &identification, ListFormat format);
