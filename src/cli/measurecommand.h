#pragma once

#include "cli/clicommand.h"
#include "io/instrumentsession.h"
#include "io/sessionlog.h"

#include <QTimer>

// zentaval-cli measure: "read\r\n" every interval, one row per reply the
// window would accept, each row on disk as it is written. A lost instrument
// is waited for on its device and the rows go on when it answers again.
class MeasureCommand : public CliCommand
{
    Q_OBJECT

public:
    explicit MeasureCommand(const CliOptions &options, QObject *parent = nullptr);
    ~MeasureCommand() override;

    void start() override;
    void stop() override;

private:
    void instrumentFound(const QList<InstrumentProbe::Result> &results);
    void connected(const QString &identification, const QString &device);
    void reading(const MeasurementRow &row);
    void lost(const QString &reason);
    void writeFailed(const QString &reason);
    void finish(int exitStatus);
    int exitStatus() const;

    CliOptions m_options;
    InstrumentSession m_session;
    SessionLog m_log;
    bool m_measuring = false;
    bool m_ended = false;
    // Ends a run that has no readings running, because the instrument is lost.
    QTimer m_durationTimer;
    int m_rows = 0;
    bool m_limitMissed = false;
    bool m_writeFailed = false;
};
