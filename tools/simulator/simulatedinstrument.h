#pragma once

#include "simulatedlink.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QRandomGenerator>
#include <QString>
#include <QTimer>

#include <functional>

class QSocketNotifier;

// A Zentaval instrument that lives on a pseudo-terminal: the program opens
// devicePath() as it would open the instrument's serial port. It answers
// "?\r\n" with its identification, "read\r\n" with a measurement reply and
// "SCAN\r\n" with an eye capture bitmap streamed at the line rate; "scan\r\n"
// stops a running stream. Lines may end in "\r\n" or "\n"; other lines are
// ignored, and so are "?" and "read" while a capture is streaming.
//
// It runs on the event loop of the thread that creates it and never blocks it:
// bytes for the program wait in a queue until the pseudo-terminal takes them.
class SimulatedInstrument : public QObject
{
    Q_OBJECT

public:
    using CaptureSource = std::function<QByteArray()>;

    static constexpr int DefaultBaudRate = 115200;

    explicit SimulatedInstrument(QObject *parent = nullptr);
    ~SimulatedInstrument() override;

    // False when the pseudo-terminal could not be created (errorString() says
    // why) and after vanish().
    bool isOpen() const;
    QString errorString() const;
    // The path the program opens, such as /dev/pts/3.
    QString devicePath() const;

    // 0x02, "Model 731942K S/N <serialNumber> FW 1.07" and "\n".
    static QByteArray defaultIdentificationAnswer(int serialNumber = 20431);
    void setIdentificationAnswer(const QByteArray &answer);
    QByteArray identificationAnswer() const;
    // How long after "?" its answer goes out, in milliseconds; 0, the default,
    // answers at once. Other commands are answered meanwhile as usual.
    void setIdentificationDelay(int milliseconds);
    int identificationDelay() const;

    // A silent instrument receives commands but answers none of them.
    void setSilent(bool silent);
    bool isSilent() const;

    // Restarts the measurements and the capture seeds from this seed, so that
    // the same commands get the same answers. Without it the seed is random.
    void setSeed(quint32 seed);
    // The next "read\r\n" gets exactly these bytes instead of a measurement;
    // queued replies are used one per "read\r\n", in order.
    void queueMeasurementReply(const QByteArray &reply);

    // Where each scan's bitmap comes from; by default a freshly rendered eye
    // picture for every scan.
    void setCaptureSource(CaptureSource source);
    // The bytes sent after "SCAN\r\n" before the bitmap (by default "SCAN\r\n").
    void setScanPrelude(const QByteArray &prelude);
    QByteArray scanPrelude() const;
    // Line rate of the capture stream in baud (10 bits a byte on the line).
    void setBaudRate(int baud);
    int baudRate() const;
    // How long after "SCAN\r\n" the answer (the prelude, then the bitmap)
    // begins, in milliseconds; 0, the default, starts it at once. The scan is
    // under way meanwhile: "scan\r\n" stops it and "?" and "read" go unheard.
    void setScanDelay(int milliseconds);
    int scanDelay() const;
    // An instrument that goes quiet mid-scan, as when its cable is pulled:
    // after this many bytes of the bitmap it sends nothing more, and it turns
    // silent (see setSilent(); setSilent(false) plugs it back in). 0, the
    // default, or a cut at or beyond the bitmap's end sends the whole bitmap.
    // The cut applies from the next scan on and overrides setStreamForever().
    void setScanCut(qint64 bytes);
    qint64 scanCut() const;
    // A faulty instrument: after "SCAN\r\n" it sends its bitmap over and over
    // and does not stop on "scan\r\n". Switching it off lets the stream end
    // after the bitmap being sent.
    void setStreamForever(bool endless);
    bool streamsForever() const;
    bool isStreaming() const;
    // The bitmap of the latest scan, without the prelude: the bytes streamed
    // (only those before the cut, with setScanCut()), or the whole of what
    // would have been streamed when "scan\r\n" stopped the stream early.
    QByteArray lastCapture() const;

    // Every byte the program wrote, since construction or clearReceived().
    QByteArray received() const;
    void clearReceived();
    // Sends bytes to the program as they are.
    void writeRaw(const QByteArray &bytes);
    // The instrument is unplugged, or its process killed: both ends of the
    // pseudo-terminal are closed, and the device path disappears once the
    // program closes the port. Until it does, its port sees the line hung up
    // as after a real loss: reads find end of file and Qt reports a read error
    // at every turn of the event loop.
    void vanish();

signals:
    // A line the program sent, without its line end, whether answered or not.
    void commandReceived(const QByteArray &command);
    void scanStarted();
    // The last byte of a capture bitmap has been handed to the pseudo-terminal.
    void captureSent();
    // A running stream was stopped by "scan\r\n" before its end.
    void scanStopped();

private:
    void openPseudoTerminal();
    void closePseudoTerminal();
    void readCommands();
    void handleLine(const QByteArray &line);
    void send(const QByteArray &bytes);
    void flushOutgoing();
    void startScan();
    void streamTick();
    void endStream();

    int m_master = -1;
    int m_slave = -1;
    QString m_devicePath;
    QString m_errorString;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;

    QByteArray m_lineBuffer;
    bool m_discardingLine = false;
    QByteArray m_received;
    QByteArray m_outgoing;

    QByteArray m_identificationAnswer;
    int m_identificationDelayMs = 0;
    bool m_silent = false;
    SimulatedLink m_link;
    QRandomGenerator m_captureSeeds;
    QList<QByteArray> m_queuedReplies;

    CaptureSource m_captureSource;
    QByteArray m_scanPrelude = "SCAN\r\n";
    int m_baudRate = DefaultBaudRate;
    bool m_streamForever = false;
    int m_scanDelayMs = 0;
    qint64 m_scanCut = 0;
    // The stream under way ends where the cut falls.
    bool m_streamIsCut = false;
    QByteArray m_lastCapture;
    // The stream under way: the prelude then the bitmap, and how far it got.
    QByteArray m_stream;
    qsizetype m_streamPosition = 0;
    bool m_streaming = false;
    bool m_captureSentPending = false;
    QTimer m_streamTimer;
    QElapsedTimer m_streamClock;
    // Line time, counted from the end of the scan delay.
    qint64 m_streamDelayNs = 0;
    qint64 m_lastTickNs = 0;
    double m_byteCredit = 0.0;
};
