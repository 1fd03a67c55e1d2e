#pragma once

#include "cli/captureprogress.h"
#include "cli/clicommand.h"
#include "io/instrumentsession.h"
#include "rules/measurementrow.h"

#include <QElapsedTimer>

#include <optional>

// zentaval-cli capture: the eye capture into a file, read as it arrives and
// placed by the window's rules. A .bmp file is the template until the bytes
// come and the instrument's bitmap when they have; a .png file is the
// picture as the window shows it, with the instrument, its device, the time
// and the reading taken just before the scan as text entries. With a mask
// the capture is judged by it (printed, and in a .png's text entries); one
// that fails ends the command with 1 once the file is written.
class CaptureCommand : public CliCommand
{
    Q_OBJECT

public:
    explicit CaptureCommand(const CliOptions &options, QObject *parent = nullptr);
    ~CaptureCommand() override;

    void start() override;
    void stop() override;

private:
    void instrumentFound(const QList<InstrumentProbe::Result> &results);
    QString writePicture(const QByteArray &capture, const std::optional<EyeMask::Result> &mask = {}) const;
    bool judgeByMask() const;
    void scanEnded(const Capture::ScanOutcome &outcome, const QString &captureError);
    void finish(int exitStatus);

    CliOptions m_options;
    InstrumentSession m_session;
    QString m_templateName;
    QByteArray m_blank;
    bool m_scanning = false;
    bool m_ended = false;
    QElapsedTimer m_clock; // since "SCAN\r\n"
    std::optional<MeasurementRow> m_reading; // the one before the scan, for a .png
    CaptureProgress m_progress;
};
