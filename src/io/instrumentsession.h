#pragma once

#include "io/capturefile.h"
#include "io/serialports.h"
#include "rules/capture.h"
#include "rules/measurementreply.h"
#include "rules/measurementrow.h"

#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QObject>
#include <QSerialPort>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

// The instrument as the program knows it: the serial port it is reached on,
// discovery of instruments on the system's ports and the watch over ports
// that come and go, the connection and the instrument's identification, the
// chain of passes that polls it for readings, the scan and the capture file
// it fills, its loss and its return. Everything that shows, logs, plots or
// serves the instrument observes this object through its signals and asks it
// through its requests; nothing else reads the port.
//
// The chain of passes: 600 ms after start() the ports present are probed
// one by one ("?\r\n", the answer read 1000 ms later); a connection sends
// "?\r\n" and reads the identification 400 ms later, then "read\r\n" every
// 500 ms; a scan sends "SCAN\r\n", reads its first capture bytes 8 s later and
// then every 500 ms, allowing 20 passes without data before the first piece.
// Every step runs on the thread's event loop and never waits for the port.
class InstrumentSession : public QObject
{
    Q_OBJECT

public:
    // Where the link to the chosen instrument stands.
    enum class Link { None, Identifying, Polling };
    // Where the scan stands: asked for (it starts at the next poll), or its
    // capture being read.
    enum class Scan { Idle, Requested, Capturing };

    explicit InstrumentSession(std::unique_ptr<SerialPortProvider> ports, QObject *parent = nullptr);
    ~InstrumentSession() override;

    // Starts discovery (the first probe follows in 600 ms).
    void start();

    // Requests.
    // Connects to a listed instrument, row 1 the first; row 0 is none.
    void connectToRow(int row);
    // Prepares `fileName` from the capture template and asks for a scan at
    // the next poll. Returns why the file cannot be used, or an empty string.
    QString requestScan(const QString &fileName, const QString &templateFileName);
    // Asks the instrument to stop the scan it streams ("scan\r\n").
    void stopScan();

    // What may hold a pass back: the window being dragged (the instrument's
    // silence may be ours) and, while the user works the port list, the end
    // of the chain (choosing a port starts a new one).
    void setDragGuard(int dragGuard) { m_dragGuard = dragGuard; }
    int dragGuard() const { return m_dragGuard; }
    void setChainInterrupted(std::function<bool()> interrupted) { m_chainInterrupted = std::move(interrupted); }

    // Limits every accepted reading is judged against.
    void setLimits(const MeasurementLimits &limits) { m_limits = limits; }
    MeasurementLimits limits() const { return m_limits; }

    // State.
    Link link() const { return m_link; }
    Scan scan() const { return m_scanState; }
    bool discoveryOver() const { return m_discoveryOver; }
    int rowCount() const { return int(m_rows.size()); }
    QString rowText(int row) const { return m_rows.value(row - 1).text; }
    int connectedRow() const { return m_connectedRow; }
    // The connected instrument's device and line settings, and its answer
    // to "?\r\n"; kept while it is lost, for its return.
    QString device() const { return m_connectedLocation; }
    QString lineSettings() const;
    QByteArray identificationAnswer() const { return m_identificationAnswer; }
    // The last reading accepted since the connection; none before the first
    // and after a loss.
    std::optional<MeasurementRow> lastReading() const { return m_lastReading; }
    // The ports seen since start, each once.
    int portsSeen() const { return int(m_ports.size()); }
    // The scan under way, or the last one.
    int scanCountdown() const;
    qint64 captureOffset() const { return m_progress.captureOffset; }
    Capture::ScanOutcome scanOutcome() const { return Capture::scanOutcome(m_progress); }
    QString captureFileName() const { return m_captureFileName; }
    // Why the scan under way, or the last one, could not be saved.
    QString captureError() const { return m_captureError; }

signals:
    // A line for the diagnostic log (port names, probes, losses, captures).
    void diagnostic(const QString &line);
    // Discovery listed an instrument as the next row.
    void instrumentListed(const QString &rowText);
    // A listed instrument's port went away; later rows move up.
    void instrumentRemoved(int row);
    // The port of the chosen instrument is open and asked for its identity.
    void linkOpened(int row);
    // The instrument answered "?\r\n": the link polls from now on.
    void connected(const QString &identification, const QString &device);
    // A pass of the chain begins (the countdown of a requested scan).
    void passStarted(int scanCountdown);
    // A reply to "read\r\n" was accepted.
    void readingAccepted(const MeasurementDisplay &display, const MeasurementRow &row);
    // A capture piece went into the file: the picture as the file now holds
    // it (null while it does not decode), then the progress, 0 to 100.
    void capturePictureChanged(const QImage &picture);
    void captureProgressed(int progress);
    // The capture could not be written to its file.
    void captureFailed(const QString &fileName, const QString &reason);
    // The scan is over; `captureError` says why it was not saved, if so.
    void scanEnded(const Capture::ScanOutcome &outcome, const QString &captureError);
    // The connected instrument went away.
    void lost(const QString &reason);

private:
    // The passes of the chain.
    void discover();
    void watchPorts();
    void receiveInfo();
    void receiveMeas();

    bool openPort(QSerialPort &port, int portIndex);
    void collectProbeAnswer();
    void removeRow(int row);
    void armPass(int delay);
    void monitoringPass(const QByteArray &buffer, qint64 available);
    void capturingPass(const QByteArray &buffer);
    Capture::CapturingPass takeCaptureBytes(const QByteArray &bytes);
    void endScan();
    void leaveCapturing();
    void onPortError(QSerialPort::SerialPortError error);
    void instrumentLost(const QString &reason);

    // A listed instrument: its port (an index into m_ports) and its row text.
    struct Row
    {
        int portIndex = 0;
        QString text;
    };

    std::unique_ptr<SerialPortProvider> m_provider;
    QSerialPort m_port; // the instrument's, and discovery's while none is connected
    Link m_link = Link::None;

    // Discovery and the watch over the ports.
    QList<SerialPortEntry> m_ports;   // every port seen since start, each once, in order
    QList<Row> m_rows;                // the instruments listed
    bool m_discoveryOver = false;     // the ports present at start have all been looked at
    QSerialPort m_probePort;          // probes while m_port serves the instrument
    QSerialPort *m_probing = nullptr; // the port "?\r\n" went out on, until its answer is read
    int m_probeIndex = 0;             // the m_ports index it probes
    QList<int> m_pendingProbes;       // m_ports indices still to probe, in order
    QList<int> m_busyPorts;           // m_ports indices another program held at their last probe
    QStringList m_present;            // port locations at the last look
    int m_connectedRow = 0;           // the row connected to, or lost and waited for; 0: none
    QString m_connectedLocation;      // its port's location
    QByteArray m_identificationAnswer;

    // The poll loop.
    QTimer m_nextPass; // the next receiveMeas(); armed again, it replaces the pending one
    int m_dragGuard = 0;
    std::function<bool()> m_chainInterrupted;
    MeasurementLimits m_limits;
    std::optional<MeasurementRow> m_lastReading;
    QElapsedTimer m_sinceFirstRead; // started by the run's first "read\r\n"

    // The scan.
    Scan m_scanState = Scan::Idle;
    Capture::ScanProgress m_progress; // the scan under way, or the last one
    QString m_captureFileName;
    QString m_captureError;
};
