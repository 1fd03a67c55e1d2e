#pragma once

#include "rules/eyemask.h"
#include "rules/measurementrow.h"

#include <QDateTime>
#include <QFile>
#include <QString>

// Where a run of measurements came from, written before its rows.
struct LogSession
{
    QString program; // "zentaval" or "zentaval-cli"
    QString version;
    QString identification; // the instrument's answer to "?\r\n", as its row shows it
    QString device;
    QString lineSettings; // such as "115200 8N1"
    QDateTime start;
};

// The session of `program` ("zentaval", "zentaval-cli") at this version
// (QCoreApplication's), from `start`.
LogSession logSession(const QString &program, const QString &identification, const QString &device,
                      const QString &lineSettings, const QDateTime &start);

// A measurement log: CSV with "#" comment lines, or JSON Lines. The file is
// appended to, never truncated, and every line reaches the file (or standard
// output) as it is written, so that a run stopped at any moment keeps every
// row before it.
//
// CSV: each session opens with comment lines ("# zentaval 1.0", "# instrument
// ...", "# device ...", "# started ..."); the header row follows only when
// the file holds none yet (standard output: once), so that a file of many
// runs has one header and reads as one table with "#" lines as comments.
// "# lost ..." and "# connected ..." lines mark the instrument going and
// coming back; "# mask ..." lines give a finished capture's mask result. JSON
// Lines: the session is one object with "session", the events objects with
// "event", a capture's mask result an object with "mask", the rows objects
// with the CSV's column names.
class MeasurementLog
{
public:
    MeasurementLog() = default;
    MeasurementLog(const MeasurementLog &) = delete;
    MeasurementLog &operator=(const MeasurementLog &) = delete;

    // Opens the file for appending (made when missing) in `format`, and
    // looks in its first HeaderSearchBytes for a header row. False, with
    // errorString(), when it cannot be opened.
    bool open(const QString &fileName, LogFormat format);
    // Writes to standard output instead of a file.
    bool openStandardOutput(LogFormat format);
    void close();
    bool isOpen() const { return m_file.isOpen(); }
    QString fileName() const { return m_fileName; }
    LogFormat format() const { return m_format; }
    // Why the last open or write failed.
    QString errorString() const { return m_error; }

    // How much of an existing CSV file is looked at for its header row: the
    // first run's comment block and header are far shorter.
    static constexpr qint64 HeaderSearchBytes = 64 * 1024;

    // Each returns false when the line could not be written whole.
    bool writeSession(const LogSession &session);
    bool writeRow(const MeasurementRow &row);
    // "# lost <time> <detail>" and "# connected <time> <detail>".
    bool writeLost(const QDateTime &time, const QString &reason);
    bool writeConnected(const QDateTime &time, const QString &identification);
    // A finished capture judged by the mask in use: "# mask <time> <summary>,
    // capture <file>", or {"mask": {"name", "hits", "margin_pct", "pass",
    // "capture"[, "reason"]}, "time"}, hits and margin null when the mask
    // could not be placed (no eye, a value not known: the reason).
    bool writeMaskResult(const QDateTime &time, const EyeMask::Result &result, const QString &capture);

private:
    bool writeEvent(const char *event, const QDateTime &time, const QString &detail);
    bool writeLine(const QByteArray &line);

    QFile m_file;
    QString m_fileName;
    LogFormat m_format = LogFormat::Csv;
    bool m_hasHeader = false; // CSV: the header row is in the file already
    QString m_error;
};

// The comment block of a CSV session (without the header row), or its JSON
// Lines object.
QByteArray sessionText(const LogSession &session, LogFormat format);

// True when `text`, the start of a CSV log, holds the header row as a line.
bool holdsCsvHeader(const QByteArray &text);
