#pragma once

#include "io/measurementlog.h"

#include <QObject>

class InstrumentSession;

// The measurement log of a session: every reading it accepts, appended to a
// file as it comes, opened by a block that names the instrument, its device
// and line settings, with "# lost" and "# connected" lines when it goes and
// comes back, and each finished capture's mask result while a mask is in
// use. Another instrument opens a block of its own.
class SessionLog : public QObject
{
    Q_OBJECT

public:
    // `program` names the program in each block ("zentaval", "zentaval-cli").
    SessionLog(InstrumentSession *session, const QString &program, QObject *parent = nullptr);

    // Opens the file for appending, or standard output, in `format`. False, with the reason, when it cannot
    // be opened. Opened while the instrument is connected, the log begins
    // with it.
    bool open(const QString &fileName, LogFormat format, QString *error);
    bool openStandardOutput(LogFormat format, QString *error);
    QString fileName() const { return m_log.isOpen() ? m_log.fileName() : QString(); }
    void close() { m_log.close(); }

signals:
    // A line could not be written: the log has stopped.
    void writeFailed(const QString &fileName, const QString &reason);

private:
    void connected(const QString &identification, const QString &device, const QString &lineSettings);
    void reading(const MeasurementRow &row);
    void lost(const QString &reason);
    void captureJudged();
    bool opened(bool success, QString *error);
    void check(bool written);

    InstrumentSession *m_session;
    QString m_program;
    MeasurementLog m_log;
    QString m_loggedDevice;       // the device the last session block names
    bool m_waitsForReturn = false; // "# lost" written, "# connected" not yet
    QDateTime m_loggedCapture;    // the end of the last capture whose mask result is written
};
