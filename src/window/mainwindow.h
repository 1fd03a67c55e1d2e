#pragma once

#include "rules/capture.h"
#include "rules/measurementrow.h"

#include <QElapsedTimer>
#include <QList>
#include <QMainWindow>
#include <QSerialPort>
#include <QStringList>
#include <QTimer>

#include <memory>

class MainWindowUi;
class MeasurementLog;
class SerialPortProvider;
struct SerialPortEntry;

// The program's one window. It owns the form, the one serial port and the
// chain of one-shot passes that discover, connect to, poll and scan the
// instrument. Every slot runs on the GUI thread and never waits for the port.
//
// Its members live beside the rules they apply:
// - src/app/mainwindow.cpp: construction, the drag guard's native events, the
//   about dialog, the log, losing the instrument;
// - src/measurement/mainwindow_log.cpp: the measurement log;
// - src/instrument/mainwindow_link.cpp: discovery, watching the ports,
//   connecting and reconnecting (Discover, WatchPorts, on_PortSelBox_activated,
//   ReceiveInfo);
// - src/measurement/mainwindow_polling.cpp: the poll loop and the eye capture
//   (ReceiveMeas and its Monitoring and Capturing passes);
// - src/measurement/mainwindow_scan.cpp: the Scan button.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Ports come from the system alone.
    explicit MainWindow(QWidget *parent = nullptr);
    // Ports come from the given provider.
    explicit MainWindow(std::unique_ptr<SerialPortProvider> ports, QWidget *parent = nullptr);
    ~MainWindow() override;

    MainWindowUi *form() const { return ui; }

    // Limits every accepted reading is judged against (--min-height,
    // --min-width, --min-amplitude, --require-lock).
    void setMeasurementLimits(const MeasurementLimits &limits) { m_limits = limits; }
    MeasurementLimits measurementLimits() const { return m_limits; }

    // The measurement log (--log, or the menu): every accepted reading from
    // now on is appended to fileName, with a comment block for the
    // instrument and lines for its losses and returns. False, with the
    // reason, when the file cannot be opened.
    bool startMeasurementLog(const QString &fileName, QString *error = nullptr);
    void stopMeasurementLog();
    // The file being written, or an empty string.
    QString measurementLogFile() const;

signals:
    // The instrument answered "?\r\n" after a connection (or reconnection):
    // its identification, its port and the port's line settings ("115200 8N1").
    void instrumentConnected(const QString &identification, const QString &device,
                             const QString &lineSettings);
    // A reply to "read\r\n" was accepted and shown.
    void measurementAccepted(const MeasurementRow &row);
    // The connected instrument went away.
    void instrumentWentAway(const QString &reason);

protected:
#ifdef Q_OS_WIN
    bool nativeEvent(const QByteArray &eventType, void *message, qintptr *result) override;
#endif

private slots:
    // mainwindow_link.cpp
    int Discover();
    void WatchPorts();
    void on_PortSelBox_activated(int row);
    void ReceiveInfo();
    // mainwindow_polling.cpp
    int ReceiveMeas();
    // mainwindow_scan.cpp
    void on_ScanBtn_clicked();
    // mainwindow.cpp
    void on_AboutBtn_clicked();
    void onPortError(QSerialPort::SerialPortError error);

private:
    // Where the link to the chosen instrument stands.
    enum class Link { None, Identifying, Polling };

    // mainwindow_link.cpp
    bool openPort(QSerialPort &port, const SerialPortEntry &entry);
    void collectProbeAnswer();
    void finishDiscoveryPass();
    void connectToRow(int row);
    void removeRow(int row);
    QStringList rowLocations() const;
    // mainwindow_polling.cpp
    void armPass(int delay);
    void monitoringPass(const QByteArray &buffer, qint64 available);
    void capturingPass(const QByteArray &buffer);
    Capture::CapturingPass takeCaptureBytes(const QByteArray &bytes);
    void writeCapturePiece(const QByteArray &piece, qint64 offset);
    void endScan();
    void leaveCapturing();
    void showCaptureError(const QString &fileName, const QString &reason);
    // mainwindow_log.cpp
    void logConnection(const QString &identification, const QString &device);
    // The line settings of a listed port, as the log names them; empty for
    // a device that is not listed.
    QString lineSettingsText(const QString &device) const;
    void logMeasurement(const MeasurementRow &row);
    void logLoss(const QString &reason);
    void logWriteFailed();
    // mainwindow.cpp
    void instrumentLost(const QString &reason);
    void appendLog(const QString &line);

    MainWindowUi *ui;
    QSerialPort Port;
    int PollInterval;
    std::unique_ptr<SerialPortProvider> m_ports;
    Link m_link = Link::None;

    // Discovery and the watch over the ports.
    QSerialPort m_probePort;          // probes while Port serves the instrument
    QSerialPort *m_probing = nullptr; // the port "?\r\n" went out on, until its answer is read
    QList<int> m_pendingProbes;       // PortList indices still to probe, in order
    QList<int> m_busyPorts;           // PortList indices another program held at their last probe
    QStringList m_present;            // port locations at the last look
    int m_connectedRow = 0;           // the row connected to, or lost and waited for; 0: none
    QString m_connectedLocation;      // its port's location

    // The poll loop.
    QTimer m_nextPass;            // the next ReceiveMeas(); armed again, it replaces the pending one
    Capture::ScanProgress m_scan; // the scan under way, or the last one
    MeasurementLimits m_limits;

    // The measurement log.
    std::unique_ptr<MeasurementLog> m_log;
    QString m_identification;         // the connected instrument's, for the log
    QString m_loggedDevice;           // the device the log's last session block names
    bool m_logWaitsForReturn = false; // "# lost" written, "# connected" not yet
    QElapsedTimer m_sinceFirstRead;   // started by the run's first "read\r\n"
};
