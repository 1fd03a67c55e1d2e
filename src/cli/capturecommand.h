#pragma once

#include "cli/captureprogress.h"
#include "cli/clicommand.h"
#include "cli/instrumentprobe.h"
#include "io/picturefile.h"
#include "rules/capture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSerialPort>
#include <QTimer>

#include <memory>

// zentaval-cli capture: the eye capture into a file, read as it arrives and
// placed by the window's rules. A .bmp file is the template until the bytes
// come and the instrument's bitmap when they have; a .png file is the
// picture as the window shows it, with the instrument, its device, the time
// and the reading taken just before the scan as text entries.
class CaptureCommand : public CliCommand
{
    Q_OBJECT

public:
    explicit CaptureCommand(const CliOptions &options, QObject *parent = nullptr);
    ~CaptureCommand() override;

    void start() override;
    void stop() override;

private:
    enum class State { Finding, Reading, Scanning, Ended };

    void instrumentFound();
    void takeReadingAndScan();
    void startScan();
    QString prepareOutput();
    void take(QByteArray bytes);
    bool store(const QByteArray &piece, qint64 offset);
    QString writePicture();
    void lose();
    void endScan();
    void finish(int exitStatus);

    CliOptions m_options;
    SystemSerialPorts m_ports;
    InstrumentProbe m_probe;
    QString m_templateName;
    QByteArray m_blank;
    std::unique_ptr<QSerialPort> m_port;
    State m_state = State::Finding;

    // The capture file as it stands: the template with every piece placed.
    QByteArray m_content;
    QFile m_file;
    // What a .png file carries: the instrument, its device, the reading
    // taken before "SCAN" and the time.
    PictureFile::PictureContext m_context;
    QString m_writeError;
    Capture::ScanProgress m_scan;
    // Bytes before the bitmap's "BM" has come: the instrument's echo, which
    // the first piece loses.
    QByteArray m_beforeBitmap;
    QElapsedTimer m_clock; // since "SCAN\r\n"
    QTimer m_noDataTimer;
    QTimer m_silenceTimer;
    CaptureProgress m_progress;
};
