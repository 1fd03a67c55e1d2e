#pragma once

#include "cli/clicommand.h"
#include "cli/instrumentprobe.h"
#include "io/measurementlog.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QTimer>

#include <memory>

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
    enum class State { Finding, Measuring, Lost, Ended };

    void instrumentFound();
    void instrumentBack();
    void startPolling(std::unique_ptr<QSerialPort> port);
    void sendRead();
    void collectReply();
    void armPass(qint64 atMs);
    void lose(const QString &reason);
    void lookForReturn();
    void writeFailed();
    void finish(int exitStatus);
    int exitStatus() const;

    CliOptions m_options;
    SystemSerialPorts m_ports;
    std::unique_ptr<InstrumentProbe> m_probe;
    std::unique_ptr<QSerialPort> m_port;
    SerialPortEntry m_device;
    MeasurementLog m_log;
    State m_state = State::Finding;

    // Since the first "read\r\n"; every time below is on this clock.
    QElapsedTimer m_clock;
    QTimer m_passTimer;
    QTimer m_watchTimer;
    QTimer m_durationTimer;
    bool m_replyAwaited = false;
    qint64 m_nextReadMs = 0;
    int m_rows = 0;
    bool m_limitMissed = false;
    bool m_writeFailed = false;
};
