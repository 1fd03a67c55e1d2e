#pragma once

#include "io/capturefile.h"
#include "io/instrumentprobe.h"
#include "io/serialports.h"
#include "rules/capture.h"
#include "rules/eyemask.h"
#include "rules/measurementreply.h"
#include "rules/measurementrow.h"

#include <QDateTime>
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
// discovery of instruments and the watch over ports that come and go, the
// connection and the instrument's identification, the polling for readings,
// the scan and the capture it fills, its loss and its return. Everything that
// shows, logs, plots or serves the instrument observes this object through
// its signals and asks it through its requests; nothing else reads the port.
// Every step runs on the thread's event loop and never waits for the port.
//
// The window and zentaval-cli differ only by the pace they give it:
// - Pace::Window, the window's chain of one-shot passes: 600 ms after
//   start() the ports present are probed one by one ("?\r\n", the answer read
//   1000 ms later) and listed; the ports are looked at again every 2 s;
//   connecting to a listed row sends "?\r\n" and reads the identification
//   400 ms later, then polls with "read\r\n" every 500 ms; a scan sends
//   "SCAN\r\n" at the next poll, reads its first capture bytes 8 s later and
//   then every 500 ms, allowing 20 passes without data before the first piece.
// - Pace::Tool, zentaval-cli's: probe() asks every port given at once and
//   takes a whole answer as it comes; adopt() keeps a found instrument's port
//   as it is; readings are asked for every interval (reply read 500 ms
//   later); a scan sends "SCAN\r\n" at once and reads the capture as it
//   arrives, ending when the size the bitmap announces has come, 500 ms after
//   the last byte once data flows, or 18 s after "SCAN\r\n" without data. A
//   lost instrument is waited for on its device, probed every 2 s while the
//   device is there.
class InstrumentSession : public QObject
{
    Q_OBJECT

public:
    enum class Pace { Window, Tool };
    // Where the link to the chosen instrument stands.
    enum class Link { None, Identifying, Polling };
    // Where the scan stands: asked for (it starts at the next poll), or its
    // capture being read.
    enum class Scan { Idle, Requested, Capturing };

    explicit InstrumentSession(std::unique_ptr<SerialPortProvider> ports, Pace pace = Pace::Window,
                               QObject *parent = nullptr);
    ~InstrumentSession() override;

    const SerialPortProvider &ports() const { return *m_provider; }

    // Requests at the window's pace.
    // Starts discovery (the first probe follows in 600 ms).
    void start();
    // Connects to a listed instrument, row 1 the first; row 0 is none.
    void connectToRow(int row);

    // Requests at the tool's pace.
    // Probes the ports all at once; probed() follows.
    void probe(const QList<SerialPortEntry> &ports);
    // Keeps the port of an instrument probe() found: connected() follows.
    void adopt(int resultIndex);
    // Asks for a reading every intervalMs, the first now, until a reply would
    // come after untilMs on the readings' clock (0: no end).
    void startReadings(int intervalMs, qint64 untilMs = 0);

    // Requests at either pace.
    // Prepares `fileName` from the capture template and asks for a scan (at
    // the next poll at the window's pace, at once at the tool's). Returns
    // why the file cannot be used, or an empty string.
    QString requestScan(const QString &fileName, const QString &templateFileName);
    // The same, the capture kept in memory: the template's bytes with every
    // piece placed (the tool's pace).
    QString requestScanInMemory(const QString &templateFileName);
    // Asks the instrument to stop the scan it streams ("scan\r\n"). At the
    // tool's pace the scan also ends now, with what has arrived.
    void stopScan();
    // Withdraws a scan that is asked for and not begun: "SCAN\r\n" is not
    // sent, the scan is idle again and scanWithdrawn() follows. The file
    // requestScan() prepared is left as it is, the capture template, as a
    // scan that brought no byte leaves it. Nothing happens at another time.
    void withdrawScan();
    // Ends the link: the port is closed and nothing more is sent.
    void close();

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
    Pace pace() const { return m_pace; }
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
    QString identification() const;
    // The last reading accepted since the connection; none before the first
    // and after a loss.
    std::optional<MeasurementRow> lastReading() const { return m_lastReading; }
    // The time since the first "read\r\n" of the session, the readings' clock.
    qint64 readingsClockMs() const { return m_sinceFirstRead.isValid() ? m_sinceFirstRead.elapsed() : 0; }
    // The ports seen since start, each once.
    int portsSeen() const { return int(m_ports.size()); }
    // The scan under way, or the last one.
    int scanCountdown() const;
    qint64 captureOffset() const { return m_progress.captureOffset; }
    Capture::ScanOutcome scanOutcome() const { return Capture::scanOutcome(m_progress); }
    QString captureFileName() const { return m_captureFileName; }
    // The capture's bytes: the file's, or those kept in memory.
    QByteArray captureBytes() const;
    // Why the scan under way, or the last one, could not be saved.
    QString captureError() const { return m_captureError; }

    // The latest finished capture as the window shows it (239 x 254), the
    // time it ended and the reading it was taken with; a null picture before
    // the first capture that decodes.
    QImage lastCapturePicture() const { return m_lastCapture.picture; }
    QDateTime lastCaptureTime() const { return m_lastCapture.time; }
    std::optional<MeasurementRow> lastCaptureReading() const { return m_lastCapture.reading; }

    // The mask every finished capture is judged by; none: no mask test.
    // Setting it judges the latest capture again. `source` is how it was
    // chosen (a shipped mask's name or a file), empty when not said.
    void setMask(const std::optional<EyeMask::Mask> &mask, const QString &source = QString());
    std::optional<EyeMask::Mask> mask() const { return m_mask; }
    QString maskSource() const { return m_mask ? m_maskSource : QString(); }
    // The latest finished capture judged by the mask; none without a mask or
    // before a capture.
    std::optional<EyeMask::Result> maskResult() const { return m_maskResult; }

    // What the lab's monitoring counts and dates, since the session began.
    struct Counts
    {
        quint64 readings = 0;         // readings accepted
        quint64 limitMisses = 0;      // of them, those that missed a limit
        quint64 scansComplete = 0;    // scans whose capture came whole
        quint64 scansIncomplete = 0;  // scans that kept part of a capture
        quint64 scansFailed = 0;      // scans that kept nothing, or could not save it
        quint64 connectionLosses = 0; // the connected instrument went away
    };
    Counts counts() const { return m_counts; }
    // The last accepted reading's time, kept after a loss; null before.
    QDateTime lastReadingTime() const { return m_lastReadingTime; }

signals:
    // A line for the diagnostic log (port names, probes, losses, captures).
    void diagnostic(const QString &line);
    // Discovery listed an instrument as the next row.
    void instrumentListed(const QString &rowText);
    // A listed instrument's port went away; later rows move up.
    void instrumentRemoved(int row);
    // probe() is done: what each port answered.
    void probed(const QList<InstrumentProbe::Result> &results);
    // The port of the chosen instrument is open and asked for its identity.
    void linkOpened(int row);
    // The instrument is identified: the link polls from now on. Its device's
    // line settings as the log names them ("115200 8N1").
    void connected(const QString &identification, const QString &device, const QString &lineSettings);
    // A pass of the chain begins (the countdown of a requested scan).
    void passStarted(int scanCountdown);
    // A reply to "read\r\n" was accepted.
    void readingAccepted(const MeasurementReading &reading, const MeasurementRow &row);
    // startReadings(): the next reply would come after its end.
    void readingsOver();
    // A capture piece was kept: the picture as the file now holds it (null
    // while it does not decode; at the window's pace only), then the bytes
    // received and the size the bitmap announces (-1 while unknown), then
    // the progress, 0 to 100.
    void capturePictureChanged(const QImage &picture);
    void captureReceived(qint64 received, qint64 announced);
    void captureProgressed(int progress);
    // The capture could not be written to its file.
    void captureFailed(const QString &fileName, const QString &reason);
    // The scan is over; `captureError` says why it was not saved, if so.
    void scanEnded(const Capture::ScanOutcome &outcome, const QString &captureError);
    // The connected instrument went away.
    void lost(const QString &reason);
    // A scan asked for was withdrawn before it began (withdrawScan()).
    void scanWithdrawn();
    // Another mask (or none) is in use.
    void maskChanged();
    // A finished capture, or the latest one under a new mask, was judged;
    // before scanEnded() for a capture that just finished.
    void maskJudged(const EyeMask::Result &result);

private:
    // The passes of the chain.
    void discover();
    void watchPorts();
    void receiveInfo();
    void receiveMeas();
    void lookForReturn();

    void usePort(std::unique_ptr<QSerialPort> port);
    void collectProbeAnswer();
    void removeRow(int row);
    void startPolling();
    void armPass(int delay);
    void sendRead();
    void monitoringPass(const QByteArray &buffer, qint64 available);
    void readBeforeScan();
    void startScan();
    void capturingPass(const QByteArray &buffer);
    void captureArrived();
    Capture::CapturingPass takeCaptureBytes(const QByteArray &bytes);
    void endScan();
    void leaveCapturing();
    void keepFinishedCapture();
    void judgeLastCapture();
    void onPortError(QSerialPort::SerialPortError error);
    void instrumentLost(const QString &reason);

    // A listed instrument: its port (an index into m_ports) and its row text.
    struct Row
    {
        int portIndex = 0;
        QString text;
    };

    Pace m_pace;
    std::unique_ptr<SerialPortProvider> m_provider;
    std::unique_ptr<QSerialPort> m_port; // the instrument's: opened here, or the port a probe found
    Link m_link = Link::None;

    // Discovery and the watch over the ports.
    QList<SerialPortEntry> m_ports; // every port seen since start, each once, in order
    QList<Row> m_rows;              // the instruments listed
    bool m_discoveryOver = false;   // the ports present at start have all been looked at
    InstrumentProbe m_probe;
    int m_probeIndex = -1;      // the m_ports index probed, until its answer is read
    QList<int> m_pendingProbes; // m_ports indices still to probe, in order
    QList<int> m_busyPorts;     // m_ports indices another program held at their last probe
    QStringList m_present;      // port locations at the last look
    int m_connectedRow = 0;     // the row connected to, or lost and waited for; 0: none
    QString m_connectedLocation; // its port's location
    QByteArray m_identificationAnswer;
    QTimer m_returnWatch; // the tool's look for a lost instrument's device

    // Polling.
    QTimer m_nextPass; // the next receiveMeas(); armed again, it replaces the pending one
    QElapsedTimer m_clock; // since the session began: the capture's times
    int m_dragGuard = 0;
    std::function<bool()> m_chainInterrupted;
    MeasurementLimits m_limits;
    std::optional<MeasurementRow> m_lastReading;
    QElapsedTimer m_sinceFirstRead; // started by the first "read\r\n"
    bool m_reading = false;         // readings are asked for
    bool m_replyAwaited = false;    // "read\r\n" went out and its reply is not read yet
    int m_readInterval = 0;         // the tool's; the window reads at every pass
    qint64 m_nextReadMs = 0;        // the tool's next "read\r\n", on the readings' clock
    qint64 m_readUntilMs = 0;

    // The scan.
    Scan m_scanState = Scan::Idle;
    Capture::ScanProgress m_progress; // the scan under way, or the last one
    QString m_captureFileName;        // empty when the capture is kept in memory
    QByteArray m_captureInMemory;
    QString m_captureError;
    QByteArray m_beforeBitmap;  // the tool's bytes before the bitmap's "BM" came
    QTimer m_captureSilence;    // the tool's end of a capture that stopped or never began

    // The latest finished capture and its judgement.
    struct FinishedCapture
    {
        QImage picture; // as shown
        QDateTime time;
        std::optional<MeasurementRow> reading;
    };
    FinishedCapture m_lastCapture;
    std::optional<EyeMask::Mask> m_mask;
    QString m_maskSource;
    std::optional<EyeMask::Result> m_maskResult;

    // What the lab's monitoring counts and dates.
    Counts m_counts;
    QDateTime m_lastReadingTime;
};
