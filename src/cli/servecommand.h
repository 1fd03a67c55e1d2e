#pragma once

#include "cli/clicommand.h"

#include <QTimer>

#include <memory>
#include <vector>

class HttpServer;
class InstrumentSession;
class LabView;
class ScpiServer;

// zentaval-cli serve: the instrument served to SCPI clients on a TCP port
// until SIGTERM or Ctrl+C. Without a device the first instrument found is
// served; a named device is waited for, and clients get errors meanwhile.
// Several devices are served on consecutive ports, one session and one
// server each. Captures are kept in memory and read at the tool's pace.
// With --http every device is also served on one HTTP endpoint.
class ServeCommand : public CliCommand
{
    Q_OBJECT

public:
    explicit ServeCommand(const CliOptions &options, QObject *parent = nullptr);
    ~ServeCommand() override;

    void start() override;
    void stop() override;

private:
    // One served instrument.
    struct Served
    {
        QString device; // empty: the first instrument found
        std::unique_ptr<InstrumentSession> session;
        std::unique_ptr<ScpiServer> server;
        QTimer retry; // the next look for the instrument
        bool adopted = false;
    };

    void look(Served &served);
    void probed(Served &served, const QList<InstrumentProbe::Result> &results);
    void finish(int exitStatus);
    // False once finish() has been called with the reason.
    bool startHttp();

    CliOptions m_options;
    std::vector<std::unique_ptr<Served>> m_served;
    LabView *m_view;
    HttpServer *m_http = nullptr;
    bool m_ended = false;
};
