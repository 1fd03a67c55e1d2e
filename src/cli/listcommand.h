#pragma once

#include "cli/clicommand.h"
#include "io/instrumentsession.h"

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
    void report(const QList<InstrumentProbe::Result> &results);

    CliOptions m_options;
    InstrumentSession m_session;
};

// The line printed for an instrument: "DEVICE<TAB>IDENTIFICATION", control
// characters of the identification escaped (printableText()), or a JSON
// object with "device" and "identification".
QByteArray listLine(const QString &device, const QString &identification, ListFormat format);
