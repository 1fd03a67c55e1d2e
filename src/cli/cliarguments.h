#pragma once

#include "rules/delays.h"
#include "io/httpserver.h"
#include "io/linesettings.h"
#include "rules/measurementrow.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

#include <optional>

// What zentaval-cli was asked on its command line.

enum class Subcommand { List, Measure, Capture, Compare, Mask, Serve };
enum class ListFormat { Text, JsonLines };
enum class CaptureFormat { Bitmap, Png };
enum class CompareFormat { Text, JsonLines };
enum class MaskFormat { Text, JsonLines };

struct CliOptions
{
    Subcommand subcommand = Subcommand::List;
    // The devices named; none means the system's serial ports are probed.
    QStringList devices;
    LineOverride lineOverride;
    bool quiet = false;

    ListFormat listFormat = ListFormat::Text;

    int intervalMs = Delay::PollInterval;
    int count = 0;         // rows; 0 until stopped
    qint64 durationMs = 0; // 0: no end of its own
    QString output;        // measure: empty for standard output; capture: the file
    LogFormat logFormat = LogFormat::Csv;
    MeasurementLimits limits;

    CaptureFormat captureFormat = CaptureFormat::Bitmap;

    // compare: the two picture files, the limits in %, and the report's form;
    // `output` is the difference picture, or empty for none.
    QString referencePicture;
    QString currentPicture;
    std::optional<double> maxChangedPercent;
    std::optional<double> minOpenPercent;
    CompareFormat compareFormat = CompareFormat::Text;
    // mask: the mask (a shipped name or a file; capture and serve take one
    // too, with --mask), the pictures judged, the values a mask in ps or mV
    // needs when a picture does not carry them, and the limits; `output` is
    // the annotated picture of the one picture judged, or empty.
    QString mask;
    QStringList pictures;
    std::optional<double> rateMbps;
    std::optional<double> amplitudeMv;
    qsizetype maxHits = 0;
    std::optional<double> minMarginPercent;
    MaskFormat maskFormat = MaskFormat::Text;
    // serve: the first device's address and port; the next devices take the
    // ports after it.
    QHostAddress listenAddress = QHostAddress(QHostAddress::LocalHost);
    quint16 listenPort = 5025;
    // serve --http: every device on one HTTP endpoint; the token file asked
    // for by --http-token-file, read when serving starts.
    bool http = false;
    QHostAddress httpAddress = QHostAddress(QHostAddress::LocalHost);
    quint16 httpPort = HttpServer::DefaultPort;
    QString httpTokenFile;
};

struct CliArguments
{
    enum class Request { Run, Help, Version, UsageError };
    Request request = Request::UsageError;
    CliOptions options;
    // The help text, the version line, or why the command line is refused.
    QString text;
};

// Reads the arguments (the program's name first). Nothing is opened or
// probed: the result says what to do, or why the command line is wrong.
CliArguments parseCliArguments(const QStringList &arguments);

// The shortest interval between two "read" commands, in milliseconds: the
// window's, which the instrument is known to keep up with.
constexpr int ShortestInterval = Delay::PollInterval;
