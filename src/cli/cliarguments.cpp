#include "cli/cliarguments.h"

#include "io/instrumentoptions.h"
#include "io/scpiserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cmath>
#include <limits>

namespace {

const QString QuietOption = QStringLiteral("quiet");
const QString FormatOption = QStringLiteral("format");
const QString IntervalOption = QStringLiteral("interval");
const QString CountOption = QStringLiteral("count");
const QString DurationOption = QStringLiteral("duration");
const QString OutputOption = QStringLiteral("output");
const QString MaxChangedOption = QStringLiteral("max-changed");
const QString MinOpenOption = QStringLiteral("min-open");
const QString ListenOption = QStringLiteral("listen");
const QString HttpOption = QStringLiteral("http");
const QString HttpTokenFileOption = QStringLiteral("http-token-file");
const QString MaskOption = QStringLiteral("mask");
const QString RateOption = QStringLiteral("rate");
const QString AmplitudeOption = QStringLiteral("amplitude");
const QString MaxHitsOption = QStringLiteral("max-hits");
const QString MinMarginOption = QStringLiteral("min-margin");

// The longest interval and run: a day.
constexpr qint64 LongestMs = 24LL * 3600 * 1000;

const char Description[] = R"(Measurements and eye captures of the Quorvane Zentaval eye-diagram instrument
(model 731942K), without a window.

Commands:
  list    [--format text|jsonl] [DEVICE...]
          Probes the ports with "?" and prints each instrument that answers:
          the device, a tab and its identification (or one JSON object a line).
  measure [options] [DEVICE]
          Asks for a reading every --interval ms and writes one row per reading
          (CSV with "#" comment lines, or JSON Lines); an existing file is
          appended to. Columns: time, elapsed_s, lamp, quality_pct,
          amplitude_mv, eye_height_ui, eye_width_ui, rate_mbps, pass.
  capture --output FILE [--mask MASK] [DEVICE]
          Captures the eye diagram into FILE: .bmp for the instrument's bitmap
          byte for byte, .png for the picture as the window shows it (with the
          instrument, device, time and reading as PNG text entries). With
          --mask the capture is judged as mask judges it, the result printed
          and, in a .png, written as text entries.
  compare [--max-changed PCT] [--min-open PCT] [--output DIFF.png]
          [--format text|jsonl] REFERENCE CURRENT
          Compares two capture pictures (the instrument's .bmp, or a .png the
          window or capture saved): the eye opening of each (the largest black
          region enclosed by traces) in pixels, the open change in % and the
          share of pixels whose occupancy changed in %. --output writes the
          difference: red where only CURRENT has traces, blue where only
          REFERENCE has, grey where both have.
  mask    [--rate MBPS] [--amplitude MV] [--max-hits N] [--min-margin PCT]
          [--output ANNOTATED.png] [--format text|jsonl] MASK PICTURE...
          Judges capture pictures (.bmp or .png, as compare reads them) by an
          eye mask: MASK is a shipped mask's name or a mask file (YAML). For
          each picture: the crossings, unit interval, levels and crossing
          level of the eye found, the hits per polygon and in all, the margin
          in % and the verdict (PASS with at most --max-hits hits, default 0,
          and a margin of --min-margin % or more). A mask in ps or mV takes
          the rate and amplitude from a PNG's text entries, or --rate and
          --amplitude. --output (one PICTURE only) writes the picture with the
          mask, its hits and the eye found drawn over it, as the window shows.
  serve   [--listen [ADDRESS:]PORT] [--http [ADDRESS:]PORT
          [--http-token-file FILE]] [--mask MASK] [limits] [DEVICE...]
          Serves the instrument to SCPI clients (TCPIP::host::PORT::SOCKET)
          until SIGTERM or Ctrl+C; ADDRESS defaults to 127.0.0.1 and PORT to
          5025. Several devices are served on PORT, PORT+1, ... A named device
          is waited for; clients get errors meanwhile. SCPI has no
          authentication: serve beyond this machine only on a trusted network.
          --http serves every device, read-only, on one HTTP endpoint (PORT
          10731 by default): Prometheus metrics at /metrics, a live page at /,
          /reading.json, /trend.json and /eye.png.

Without DEVICE the system's serial ports are probed and the first instrument
that answers is used. Ports keep the line settings the system holds for them
(stty); --baud and --line replace those.)";

const char ExitStatuses[] = R"(
Exit status:
  0  done (every limit met)
  1  a reading missed a limit (its row has pass 0), or compare missed
     --max-changed or --min-open
     mask: a picture failed (hits, or a margin below --min-margin); capture
     --mask: the capture failed the mask (the file is written)
  2  a usage error, or a compare file that is no capture picture, or a mask
     file that is no mask, or a mask that needs a value not known (said on
     standard error)
  3  no instrument: none found, busy, no answer, no reading, or lost at the
     end; mask: a picture that cannot be read
  4  capture incomplete: the file holds what arrived; mask: a picture with no
     eye
     mask judges every picture and ends with the worst status of them in the
     order 2, 3, 4, 1
  5  a file could not be written (an unusable capture template included)
  6  serve: an address that cannot be listened on (in use, not permitted)
)";

struct OptionUse
{
    QString option;
    QList<Subcommand> subcommands;
};

bool readWholeNumber(const QString &text, qint64 lowest, qint64 highest, qint64 &value)
{
    bool ok = false;
    value = text.toLongLong(&ok);
    return ok && value >= lowest && value <= highest;
}

} // namespace

CliArguments parseCliArguments(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(Description));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    InstrumentOptions::addLineOptions(parser);
    parser.addOptions({
        {{QStringLiteral("q"), QuietOption}, QStringLiteral("No progress or notes on standard error.")},
        {FormatOption,
         QStringLiteral("list, compare and mask: text or jsonl (default text). measure: csv or jsonl "
                        "(default jsonl for an output ending in .jsonl or .json, else csv)."),
         QStringLiteral("FORMAT")},
        {IntervalOption,
         QStringLiteral("measure: milliseconds from one \"read\" to the next, %1 or more (default %1).")
             .arg(ShortestInterval),
         QStringLiteral("MS")},
        {CountOption, QStringLiteral("measure: stop after N rows (default 0: until stopped)."),
         QStringLiteral("N")},
        {DurationOption, QStringLiteral("measure: stop after this many seconds."), QStringLiteral("SECONDS")},
        {OutputOption,
         QStringLiteral("measure: append the rows to FILE (default standard output). capture: the "
                        "capture file, .bmp or .png (required). compare: the difference picture, .png."),
         QStringLiteral("FILE")},
        {MaxChangedOption,
         QStringLiteral("compare: fail when more than PCT % of the pixels changed occupancy."),
         QStringLiteral("PCT")},
        {MinOpenOption,
         QStringLiteral("compare: fail when the current open area is below PCT % of the reference's."),
         QStringLiteral("PCT")},
        {ListenOption, QStringLiteral("serve: the address and port to serve on (default 127.0.0.1:5025)."),
         QStringLiteral("[ADDRESS:]PORT")},
        {HttpOption,
         QStringLiteral("serve: also serve every device read-only over HTTP (Prometheus /metrics, the live "
                        "page at /) on this address and port (port %1 by default, on 127.0.0.1).")
             .arg(HttpServer::DefaultPort),
         QStringLiteral("[ADDRESS:]PORT")},
        {HttpTokenFileOption,
         QStringLiteral("serve --http: every request must carry \"Authorization: Bearer TOKEN\", TOKEN the "
                        "first line of FILE."),
         QStringLiteral("FILE")},
        {MaskOption,
         QStringLiteral("capture: judge the capture by this mask (a shipped name or a file). serve: the mask "
                        "in use at the start."),
         QStringLiteral("MASK")},
        {RateOption, QStringLiteral("mask: the data rate in Mb/s, over a picture's own."), QStringLiteral("MBPS")},
        {AmplitudeOption, QStringLiteral("mask: the amplitude in mV, over a picture's own."),
         QStringLiteral("MV")},
        {MaxHitsOption, QStringLiteral("mask: a picture passes with at most N hits (default 0)."),
         QStringLiteral("N")},
        {MinMarginOption, QStringLiteral("mask: a picture passes with a margin of PCT % or more."),
         QStringLiteral("PCT")},
    });
    InstrumentOptions::addLimitOptions(parser, QStringLiteral("measure and serve"));
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("list, measure, capture, compare, mask or serve."),
                                 QStringLiteral("list|measure|capture|compare|mask|serve"));
    parser.addPositionalArgument(QStringLiteral("device"),
                                 QStringLiteral("A device path: a tty, a pty or a /dev/serial/by-id link."),
                                 QStringLiteral("[DEVICE...]"));

    CliArguments result;
    const auto refuse = [&result](const QString &reason) {
        result.request = CliArguments::Request::UsageError;
        result.text = reason;
        return result;
    };
    if (!parser.parse(arguments))
        return refuse(parser.errorText());
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        result.request = CliArguments::Request::Help;
        result.text = parser.helpText() + QString::fromLatin1(ExitStatuses);
        return result;
    }
    if (parser.isSet(version)) {
        result.request = CliArguments::Request::Version;
        result.text = QCoreApplication::applicationName() + QLatin1Char(' ')
            + QCoreApplication::applicationVersion() + QLatin1Char('\n');
        return result;
    }

    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return refuse(QStringLiteral("name a command: list, measure, capture, compare, mask or serve"));
    CliOptions &options = result.options;
    const QString command = positional.takeFirst();
    if (command == QLatin1String("list"))
        options.subcommand = Subcommand::List;
    else if (command == QLatin1String("measure"))
        options.subcommand = Subcommand::Measure;
    else if (command == QLatin1String("capture"))
        options.subcommand = Subcommand::Capture;
    else if (command == QLatin1String("compare"))
        options.subcommand = Subcommand::Compare;
    else if (command == QLatin1String("mask"))
        options.subcommand = Subcommand::Mask;
    else if (command == QLatin1String("serve"))
        options.subcommand = Subcommand::Serve;
    else
        return refuse(QStringLiteral("\"%1\" is no command: list, measure, capture, compare, mask or serve")
                          .arg(command));

    QList<OptionUse> uses {
        {FormatOption, {Subcommand::List, Subcommand::Measure, Subcommand::Compare, Subcommand::Mask}},
        {IntervalOption, {Subcommand::Measure}},
        {CountOption, {Subcommand::Measure}},
        {DurationOption, {Subcommand::Measure}},
        {OutputOption, {Subcommand::Measure, Subcommand::Capture, Subcommand::Compare, Subcommand::Mask}},
        {MaxChangedOption, {Subcommand::Compare}},
        {MinOpenOption, {Subcommand::Compare}},
        {ListenOption, {Subcommand::Serve}},
        {HttpOption, {Subcommand::Serve}},
        {HttpTokenFileOption, {Subcommand::Serve}},
        {MaskOption, {Subcommand::Capture, Subcommand::Serve}},
        {RateOption, {Subcommand::Mask}},
        {AmplitudeOption, {Subcommand::Mask}},
        {MaxHitsOption, {Subcommand::Mask}},
        {MinMarginOption, {Subcommand::Mask}},
    };
    for (const QString &limit : InstrumentOptions::limitOptionNames())
        uses.append({limit, {Subcommand::Measure, Subcommand::Serve}});
    for (const OptionUse &use : uses) {
        if (parser.isSet(use.option) && !use.subcommands.contains(options.subcommand))
            return refuse(QStringLiteral("--%1 is no option of %2").arg(use.option, command));
    }

    QString reason;
    if (options.subcommand == Subcommand::Compare || options.subcommand == Subcommand::Mask) {
        for (const QString &path : std::as_const(positional)) {
            if (path.isEmpty())
                return refuse(QStringLiteral("an empty file name"));
            if (path.startsWith(QLatin1Char('-')))
                return refuse(QStringLiteral("\"%1\" reads as an option, not a file name (write ./%1 for a "
                                             "file of that name)")
                                  .arg(path));
        }
    }
    if (options.subcommand == Subcommand::Compare) {
        if (positional.size() != 2)
            return refuse(QStringLiteral("compare takes two pictures: REFERENCE CURRENT"));
        options.referencePicture = positional.at(0);
        options.currentPicture = positional.at(1);
    } else if (options.subcommand == Subcommand::Mask) {
        if (positional.size() < 2)
            return refuse(QStringLiteral("mask takes a mask and one picture or more: MASK PICTURE..."));
        options.mask = positional.takeFirst();
        options.pictures = positional;
    } else {
        if (!InstrumentOptions::checkDevicePaths(positional, &reason))
            return refuse(reason);
        if (options.subcommand != Subcommand::List && options.subcommand != Subcommand::Serve
            && positional.size() > 1)
            return refuse(QStringLiteral("%1 takes one device").arg(command));
        options.devices = positional;
    }

    if (parser.isSet(MaskOption) && parser.value(MaskOption).isEmpty())
        return refuse(QStringLiteral("an empty mask name"));
    if (parser.isSet(MaskOption))
        options.mask = parser.value(MaskOption);
    if (!InstrumentOptions::readLineOverride(parser, options.lineOverride, &reason))
        return refuse(reason);
    options.quiet = parser.isSet(QuietOption);

    const QString format = parser.value(FormatOption);
    if (parser.isSet(OutputOption) && parser.value(OutputOption).isEmpty())
        return refuse(QStringLiteral("an empty output file name"));
    options.output = parser.value(OutputOption);

    switch (options.subcommand) {
    case Subcommand::List:
        if (format == QLatin1String("jsonl"))
            options.listFormat = ListFormat::JsonLines;
        else if (!format.isEmpty() && format != QLatin1String("text"))
            return refuse(QStringLiteral("--format of list is text or jsonl"));
        break;
    case Subcommand::Measure: {
        qint64 number = 0;
        if (parser.isSet(IntervalOption)) {
            if (!readWholeNumber(parser.value(IntervalOption), ShortestInterval, LongestMs, number))
                return refuse(QStringLiteral("--interval is a whole number of milliseconds from %1 to %2")
                                  .arg(ShortestInterval)
                                  .arg(LongestMs));
            options.intervalMs = int(number);
        }
        if (parser.isSet(CountOption)) {
            if (!readWholeNumber(parser.value(CountOption), 0, std::numeric_limits<int>::max(), number))
                return refuse(QStringLiteral("--count is a whole number of rows, 0 or more"));
            options.count = int(number);
        }
        if (parser.isSet(DurationOption)) {
            bool ok = false;
            const double seconds = parser.value(DurationOption).toDouble(&ok);
            if (!ok || !std::isfinite(seconds) || seconds <= 0 || seconds * 1000 > LongestMs)
                return refuse(QStringLiteral("--duration is a number of seconds above 0, up to a day"));
            options.durationMs = std::max<qint64>(1, std::llround(seconds * 1000));
        }
        if (format == QLatin1String("csv"))
            options.logFormat = LogFormat::Csv;
        else if (format == QLatin1String("jsonl"))
            options.logFormat = LogFormat::JsonLines;
        else if (format.isEmpty())
            options.logFormat = logFormatForFileName(options.output);
        else
            return refuse(QStringLiteral("--format of measure is csv or jsonl"));
        if (!InstrumentOptions::readLimits(parser, options.limits, &reason))
            return refuse(reason);
        break;
    }
    case Subcommand::Serve:
        if (parser.isSet(ListenOption)
            && !parseListenAddress(parser.value(ListenOption), &options.listenAddress, &options.listenPort, &reason))
            return refuse(QStringLiteral("--listen: ") + reason);
        if (options.listenPort != 0 && options.listenPort + options.devices.size() - 1 > 65535)
            return refuse(QStringLiteral("--listen: too few ports above %1 for %2 devices")
                              .arg(options.listenPort)
                              .arg(options.devices.size()));
        if (parser.isSet(HttpOption)) {
            options.http = true;
            const QString value = parser.value(HttpOption);
            if (!parseListenAddress(value, &options.httpAddress, &options.httpPort, &reason))
                return refuse(QStringLiteral("--http: ") + reason);
        }
        if (parser.isSet(HttpTokenFileOption)) {
            if (!options.http)
                return refuse(QStringLiteral("--http-token-file is for --http"));
            if (parser.value(HttpTokenFileOption).isEmpty())
                return refuse(QStringLiteral("an empty token file name"));
            options.httpTokenFile = parser.value(HttpTokenFileOption);
        }
        if (!InstrumentOptions::readLimits(parser, options.limits, &reason))
            return refuse(reason);
        break;
    case Subcommand::Capture: {
        const QString lower = options.output.toLower();
        if (options.output.isEmpty())
            return refuse(QStringLiteral("capture needs --output FILE (.bmp or .png)"));
        if (lower.endsWith(QLatin1String(".bmp")))
            options.captureFormat = CaptureFormat::Bitmap;
        else if (lower.endsWith(QLatin1String(".png")))
            options.captureFormat = CaptureFormat::Png;
        else
            return refuse(QStringLiteral("the capture file's name ends in .bmp or .png"));
        break;
    }
    case Subcommand::Compare: {
        if (format == QLatin1String("jsonl"))
            options.compareFormat = CompareFormat::JsonLines;
        else if (!format.isEmpty() && format != QLatin1String("text"))
            return refuse(QStringLiteral("--format of compare is text or jsonl"));
        if (!options.output.isEmpty() && !options.output.toLower().endsWith(QLatin1String(".png")))
            return refuse(QStringLiteral("the difference picture's name ends in .png"));
        const auto readPercent = [&](const QString &option, std::optional<double> &limit) {
            if (!parser.isSet(option))
                return true;
            bool ok = false;
            const double value = parser.value(option).toDouble(&ok);
            if (!ok || !std::isfinite(value) || value < 0)
                return false;
            limit = value;
            return true;
        };
        if (!readPercent(MaxChangedOption, options.maxChangedPercent))
            return refuse(QStringLiteral("--max-changed is a percentage of 0 or more"));
        if (!readPercent(MinOpenOption, options.minOpenPercent))
            return refuse(QStringLiteral("--min-open is a percentage of 0 or more"));
        break;
    }
    case Subcommand::Mask: {
        if (format == QLatin1String("jsonl"))
            options.maskFormat = MaskFormat::JsonLines;
        else if (!format.isEmpty() && format != QLatin1String("text"))
            return refuse(QStringLiteral("--format of mask is text or jsonl"));
        if (!options.output.isEmpty() && !options.output.toLower().endsWith(QLatin1String(".png")))
            return refuse(QStringLiteral("the annotated picture's name ends in .png"));
        // One annotated file names one picture: with several, which is
        // which would be a guess.
        if (!options.output.isEmpty() && options.pictures.size() > 1)
            return refuse(QStringLiteral("--output takes one PICTURE; judge the others without it"));
        const auto readNumber = [&](const QString &option, double lowest, double highest,
                                    std::optional<double> &value) {
            if (!parser.isSet(option))
                return true;
            bool ok = false;
            const double number = parser.value(option).toDouble(&ok);
            if (!ok || !std::isfinite(number) || number < lowest || number > highest)
                return false;
            value = number;
            return true;
        };
        if (!readNumber(RateOption, 1e-9, 1e9, options.rateMbps))
            return refuse(QStringLiteral("--rate is a data rate in Mb/s above 0"));
        if (!readNumber(AmplitudeOption, 1e-9, 1e9, options.amplitudeMv))
            return refuse(QStringLiteral("--amplitude is an amplitude in mV above 0"));
        if (!readNumber(MinMarginOption, -100, 100, options.minMarginPercent))
            return refuse(QStringLiteral("--min-margin is a percentage from -100 to 100"));
        qint64 hits = 0;
        if (parser.isSet(MaxHitsOption)) {
            if (!readWholeNumber(parser.value(MaxHitsOption), 0, std::numeric_limits<int>::max(), hits))
                return refuse(QStringLiteral("--max-hits is a whole number of hits, 0 or more"));
            options.maxHits = hits;
        }
        break;
    }
    }
    result.request = CliArguments::Request::Run;
    return result;
}
