#include "io/capturefile.h"
#include "io/picturefile.h"
#include "simulatedinstrument.h"
#include "windowharness.h"

#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

using WindowHarness::fileBytes;

namespace {

const QStringList Columns {"time",          "elapsed_s",    "lamp",      "quality_pct", "amplitude_mv",
                           "eye_height_ui", "eye_width_ui", "rate_mbps", "pass"};
const QByteArray GreenReply = QByteArray("read 0  1  12.5 380 45 52 9953.2", 32) + '\0';
const QByteArray YellowShortReply = QByteArray("read 1  0  9.5 210 31") + '\0';

std::unique_ptr<SimulatedInstrument> instrument(int serialNumber = 20431)
{
    auto simulated = std::make_unique<SimulatedInstrument>();
    simulated->setIdentificationAnswer(SimulatedInstrument::defaultIdentificationAnswer(serialNumber));
    return simulated;
}

QString identification(int serialNumber = 20431)
{
    return QString::fromLatin1(
        SimulatedInstrument::defaultIdentificationAnswer(serialNumber).mid(1).chopped(1));
}

// The built zentaval-cli (or a copy), run as a user runs it: no display.
class Cli
{
public:
    explicit Cli(const QStringList &arguments, const QString &workingDirectory = {},
                 const QString &program = QCoreApplication::applicationDirPath() + "/zentaval-cli")
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(name);
        m_process.setProcessEnvironment(environment);
        m_process.setWorkingDirectory(workingDirectory);
        m_process.start(program, arguments);
    }
    ~Cli()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    // The exit status, waiting on the event loop (which serves the simulated
    // instruments): -1 after a crash, -2 when it is still running.
    int result(int timeoutMs = 10000)
    {
        if (m_process.state() != QProcess::NotRunning && !m_finished.wait(timeoutMs))
            return -2;
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    void signal(int number) { ::kill(pid_t(m_process.processId()), number); }
    QByteArray out() { return m_out += m_process.readAllStandardOutput(); }
    QByteArray err() { return m_err += m_process.readAllStandardError(); }

private:
    QProcess m_process;
    QSignalSpy m_finished {&m_process, &QProcess::finished};
    QByteArray m_out;
    QByteArray m_err;
};

// The rows of a log as lists of cells, the same for both formats.
QList<QStringList> rows(const QByteArray &log)
{
    QList<QStringList> result;
    for (const QByteArray &line : log.split('\n')) {
        if (line.startsWith('{') && line.contains("\"time\"")) {
            const QJsonObject object = QJsonDocument::fromJson(line).object();
            QStringList cells;
            qsizetype lastKey = -1;
            for (const QString &column : Columns) {
                const qsizetype key = line.indexOf('"' + column.toLatin1() + "\":");
                cells << (key > lastKey ? object.value(column).toVariant().toString() : "out of order");
                lastKey = key;
            }
            result << cells;
        } else if (!line.isEmpty() && !line.startsWith('#') && !line.startsWith('{')
                   && !line.startsWith("time,")) {
            result << QString::fromLatin1(line).split(',');
        }
    }
    return result;
}

// An eye as the window shows it (239 x 254): black, with a ring of traces
// one pixel wide around a black rectangle of `width` x `height` pixels whose
// top left corner is at (70, 97).
QImage ringedEye(int width, int height)
{
    QImage picture(239, 254, QImage::Format_RGB888);
    picture.fill(Qt::black);
    QPainter painter(&picture);
    painter.setPen(QColor(60, 200, 90));
    painter.drawRect(69, 96, width + 1, height + 1);
    return picture;
}

bool put(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

int pixelsOf(const QImage &picture, const QList<QColor> &colours)
{
    int count = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x)
            count += colours.contains(picture.pixelColor(x, y));
    }
    return count;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // A mask file whose box covers the crossings and levels: hits on any eye.
    QString boxMask()
    {
        const QString path = m_dir.filePath("box.yaml");
        return put(path, "protocol: {name: Box, reference: test}\nunits: {xscale: ui, yscale: amplitude}\nmask:\n"
                         "  - points: [{x: -0.5, y: -0.6}, {x: 0.5, y: -0.6}, {x: 0.5, y: 0.6}, {x: -0.5, y: 0.6}]\n")
            ? path : QString();
    }

private slots:
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        const auto usage = [](const char *name, const QStringList &arguments, const QString &said) {
            QTest::newRow(name) << arguments << 2 << said;
        };
        const QString everyOption = "--baud|--line|--quiet|--help|--version|--format|--interval|--count|--duration|"
                                    "--output|--min-height|--min-width|--min-amplitude|--require-lock|list|measure|"
                                    "capture|compare|--max-changed|--min-open|mask|--mask|--rate|--amplitude|"
                                    "--max-hits|--min-margin|0  |1  |2  |3  |4  |5  ";
        QTest::newRow("help") << QStringList {"--help"} << 0 << everyOption;
        QTest::newRow("version") << QStringList {"--version"} << 0 << "zentaval-cli 1.0\n";
        usage("no command", {}, "name a command");
        usage("unknown command", {"scan"}, "\"scan\" is no command");
        usage("interval under 500", {"measure", "--interval", "499"}, "--interval");
        usage("option of another command", {"list", "--count", "3"}, "--count");
        usage("two devices to measure", {"measure", "/dev/a", "/dev/b"}, "one device");
        usage("bad limit", {"measure", "--min-height", "high"}, "\"high\" is no limit");
        usage("bad frame", {"list", "--line", "9Q1"}, "9Q1");
        usage("bad format", {"measure", "--format", "xml"}, "csv or jsonl");
        usage("capture without file", {"capture"}, "--output");
        usage("capture into a jpeg", {"capture", "--output", "a.jpg"}, ".bmp or .png");
        usage("compare with one picture", {"compare", "a.png"}, "two pictures");
        usage("compare with three pictures", {"compare", "a", "b", "c"}, "two pictures");
        usage("compare with a negative limit", {"compare", "--min-open", "-5", "a.png", "b.png"}, "--min-open");
        usage("compare with a limit that is no number", {"compare", "--max-changed", "x", "a", "b"}, "--max-changed");
        usage("compare into a bitmap", {"compare", "--output", "d.bmp", "a.png", "b.png"}, ".png");
        usage("limit of compare given to measure", {"measure", "--max-changed", "3"}, "--max-changed is no option");
        usage("mask without a picture", {"mask", "nrz-hexagon"}, "MASK PICTURE...");
        usage("one annotated picture for two", {"mask", "--output", "a.png", "m", "a.png", "b.png"}, "one PICTURE");
        usage("margin beyond 100", {"mask", "--min-margin", "101", "m", "a.png"}, "--min-margin");
        usage("hits that are no number", {"mask", "--max-hits", "few", "m", "a.png"}, "--max-hits");
        usage("no rate", {"mask", "--rate", "0", "m", "a.png"}, "--rate");
        usage("a mask to measure", {"measure", "--mask", "nrz-hexagon"}, "--mask is no option of measure");
    }
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, said);
        Cli cli(arguments);
        QCOMPARE(cli.result(), status);
        const QString text = QString::fromLocal8Bit(status == 0 ? cli.out() : cli.err());
        for (const QString &part : said.split('|'))
            QVERIFY2(text.contains(part), qPrintable(part + " not in: " + text));
    }

    void listsInstruments()
    {
        auto first = instrument(1);
        auto held = instrument(2);
        auto silent = instrument(3);
        silent->setSilent(true);
        // An answer that would retitle the terminal and clear it, printed
        // escaped: as list and measure's stderr escape it, as JSON does.
        auto second = instrument();
        const QByteArray raw = "Model 731942K \x1b]0;owned\aS/N 7\x1b[2J\r FW 1.07";
        second->setIdentificationAnswer('\x02' + raw + '\n');
        const QByteArray shown = R"(Model 731942K \x1b]0;owned\x07S/N 7\x1b[2J\r FW 1.07)";
        QSerialPort holder(held->devicePath());
        QVERIFY(holder.open(QIODevice::ReadWrite));
        const QString missing = m_dir.filePath("ttyMissing");

        Cli text({"list", first->devicePath(), held->devicePath(), missing, silent->devicePath(),
                  second->devicePath()});
        QCOMPARE(text.result(), 0);
        QCOMPARE(text.out(), (first->devicePath() + '\t' + identification(1) + '\n' + second->devicePath() + '\t')
                                 .toUtf8() + shown + '\n');
        QVERIFY(text.err().contains(held->devicePath().toUtf8() + ": busy"));
        QVERIFY(text.err().contains(missing.toUtf8() + ": no such device"));
        QVERIFY(text.err().contains(silent->devicePath().toUtf8() + ": no instrument answered"));
        QCOMPARE(held->received(), QByteArray());
        Cli json({"list", "--format", "jsonl", second->devicePath()});
        QCOMPARE(json.result(), 0);
        const QJsonObject listed = QJsonDocument::fromJson(json.out()).object();
        QCOMPARE(listed.value("identification").toString().toLatin1(), raw);
        QCOMPARE(listed.value("device").toString(), second->devicePath());
        second->queueMeasurementReply(GreenReply);
        Cli measure({"measure", "--count", "1", "--output", m_dir.filePath("escaped.csv"), second->devicePath()});
        QCOMPARE(measure.result(), 0);
        QVERIFY2(measure.err().contains("measuring " + shown + " on ") && !measure.err().contains('\x1b'),
                 measure.err().constData());

        // Nothing that answers, for every command.
        const QString capture = m_dir.filePath("none.bmp");
        for (const QStringList &arguments :
             {QStringList {"list", silent->devicePath()}, QStringList {"measure", held->devicePath()},
              QStringList {"capture", "--output", capture, silent->devicePath()}}) {
            Cli none(arguments);
            QCOMPARE(none.result(), 3);
            QVERIFY(none.err().contains("no instrument found"));
        }
        QVERIFY(!QFile::exists(capture));
    }

    void measureAppendsRows_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QStringList>("format");
        QTest::addColumn<int>("interval");
        QTest::newRow("csv") << "eye.csv" << QStringList() << 500;
        QTest::newRow("json lines by name, 700 ms") << "eye.jsonl" << QStringList() << 700;
        QTest::newRow("json lines asked for") << "eye.log" << QStringList {"--format", "jsonl"} << 500;
    }
    void measureAppendsRows()
    {
        QFETCH(QString, fileName);
        QFETCH(QStringList, format);
        QFETCH(int, interval);
        auto simulated = instrument();
        const QString path = m_dir.filePath(fileName);
        QFile::remove(path);
        const bool json = fileName.endsWith(".jsonl") || !format.isEmpty();

        QByteArray before;
        for (int run = 0; run < 2; ++run) {
            // The reply without its closing NUL is dropped, as the window drops it.
            for (const QByteArray &reply : {GreenReply, GreenReply.chopped(1), YellowShortReply})
                simulated->queueMeasurementReply(reply);
            Cli cli(QStringList {"measure", "--count", "2", "--interval", QString::number(interval), "--output",
                                 path, simulated->devicePath()}
                    + format);
            QCOMPARE(cli.result(), 0);
            const QByteArray log = fileBytes(path);
            QVERIFY(log.startsWith(before));
            const QByteArray added = log.mid(before.size());
            before = log;

            const QList<QStringList> cells = rows(added);
            QCOMPARE(cells.size(), 2);
            QCOMPARE(cells[0].mid(2), (QStringList {"green", "12.5", "380", "0.45", "0.52", "9953.2", "1"}));
            QCOMPARE(cells[1].mid(2), (QStringList {"yellow", "9.5", "210", "0.31", "", "", "1"}));
            QVERIFY(
                QRegularExpression(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$)").match(cells[0][0]).hasMatch());
            // The first reply half a second after the first "read", the next two
            // intervals on (one reply was dropped).
            QVERIFY2(qAbs(cells[0][1].toDouble() - 0.5) < 0.15, qPrintable(cells[0][1]));
            QVERIFY2(qAbs(cells[1][1].toDouble() - 0.5 - 2 * interval / 1000.0) < 0.15, qPrintable(cells[1][1]));

            if (json) {
                const QJsonObject session = QJsonDocument::fromJson(added.left(added.indexOf('\n'))).object();
                QCOMPARE(session.value("program").toString(), QString("zentaval-cli"));
                QCOMPARE(session.value("identification").toString(), identification());
                QCOMPARE(session.value("device").toString(), simulated->devicePath());
            } else {
                const QStringList lines = QString::fromUtf8(added).split('\n');
                QCOMPARE(lines.mid(0, 3),
                         (QStringList {"# zentaval-cli 1.0", "# instrument " + identification(),
                                       "# device " + simulated->devicePath() + " 38400 8N1"}));
                QVERIFY(lines[3].startsWith("# started 20"));
                // The header row once, in the first run: the file reads as one table.
                QCOMPARE(lines[4] == Columns.join(','), run == 0);
                QCOMPARE(QString::fromUtf8(log).split('\n').count(Columns.join(',')), 1);
            }
        }
    }

    void limitsDecidePass_data()
    {
        QTest::addColumn<QStringList>("limits");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("status");
        // Runs end after one row by their count, or this one by its duration.
        QTest::newRow("no limit, a duration") << QStringList {"--duration", "0.8"} << YellowShortReply << 0;
        QTest::newRow("height met") << QStringList {"--min-height", "0.45"} << GreenReply << 0;
        QTest::newRow("height missed") << QStringList {"--min-height", "0.46"} << GreenReply << 1;
        QTest::newRow("width missed") << QStringList {"--min-width", "0.6"} << GreenReply << 1;
        QTest::newRow("no width to meet") << QStringList {"--min-width", "0"} << YellowShortReply << 1;
        QTest::newRow("amplitude met") << QStringList {"--min-amplitude", "380"} << GreenReply << 0;
        QTest::newRow("amplitude missed") << QStringList {"--min-amplitude", "381"} << GreenReply << 1;
        QTest::newRow("lock met") << QStringList {"--require-lock"} << GreenReply << 0;
        QTest::newRow("lock missed") << QStringList {"--require-lock"} << YellowShortReply << 1;
    }
    void limitsDecidePass()
    {
        QFETCH(QStringList, limits);
        QFETCH(QByteArray, reply);
        QFETCH(int, status);
        auto simulated = instrument();
        simulated->queueMeasurementReply(reply);
        if (!limits.contains("--duration"))
            limits << "--count" << "1";
        Cli cli(QStringList {"measure", "-q", simulated->devicePath()} + limits);
        QCOMPARE(cli.result(), status);
        QCOMPARE(rows(cli.out()).size(), 1);
        QCOMPARE(rows(cli.out())[0][8], status == 0 ? QString("1") : QString("0"));
        QCOMPARE(cli.err(), QByteArray());
    }

    void measureWaitsForLostInstrument()
    {
        // The device is a link, as /dev/serial/by-id is: the instrument comes
        // back behind it on another pseudo-terminal.
        const QString link = m_dir.filePath("ttyEye");
        const QString path = m_dir.filePath("lost.csv");
        auto first = instrument(1);
        QVERIFY(QFile::link(first->devicePath(), link));
        Cli cli({"measure", "--output", path, link});
        QTRY_VERIFY_WITH_TIMEOUT(rows(fileBytes(path)).size() >= 2, 5000);

        first->vanish();
        QFile::remove(link);
        QTRY_VERIFY_WITH_TIMEOUT(fileBytes(path).contains("\n# lost "), 3000);
        const QByteArray beforeReturn = fileBytes(path);
        auto second = instrument(2);
        QVERIFY(QFile::link(second->devicePath(), link));
        QTRY_VERIFY_WITH_TIMEOUT(rows(fileBytes(path).mid(beforeReturn.size())).size() >= 1, 6000);

        cli.signal(SIGTERM);
        QCOMPARE(cli.result(), 0);
        const QByteArray log = fileBytes(path);
        QVERIFY(log.startsWith(beforeReturn) && log.endsWith('\n'));
        const QByteArray returned = log.mid(beforeReturn.size());
        QVERIFY2(returned.startsWith("# connected 20") && returned.contains(identification(2).toUtf8() + "\n"),
                 returned.constData());
        // One session: the elapsed seconds go on from the first "read".
        const QList<QStringList> cells = rows(log);
        QCOMPARE(log.count("# started"), 1);
        QVERIFY(cells.last()[1].toDouble() > cells.first()[1].toDouble() + 2);
    }

    void capture_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("quiet");
        QTest::addColumn<QString>("instrument");
        QTest::newRow("bitmap") << "eye.bmp" << false << "";
        QTest::newRow("picture, quiet") << "eye.png" << true << "";
        QTest::newRow("echo alone, bitmap later") << "late.bmp" << false << "echo apart";
        QTest::newRow("stream goes on past the bitmap") << "endless.bmp" << false << "endless";
        QTest::newRow("the instrument goes quiet") << "cut.bmp" << false << "cut";
        QTest::newRow("the instrument is lost") << "lost.bmp" << false << "lost";
        QTest::newRow("Ctrl+C") << "interrupted.bmp" << false << "interrupted";
    }
    void capture()
    {
        QFETCH(QString, fileName);
        QFETCH(bool, quiet);
        QFETCH(QString, instrument);
        auto simulated = ::instrument();
        const bool stopped = instrument == "lost" || instrument == "interrupted";
        simulated->setBaudRate(stopped ? 200000 : 2000000);
        if (instrument == "cut")
            simulated->setScanCut(60000);
        if (instrument == "echo apart") {
            // The echo at once, the bitmap after more than a pause that ends a
            // capture once data flows.
            simulated->setScanPrelude({});
            simulated->setScanDelay(700);
            connect(simulated.get(), &SimulatedInstrument::scanStarted, [&] { simulated->writeRaw("SCAN\r\n"); });
        }
        simulated->setStreamForever(instrument == "endless");
        simulated->queueMeasurementReply(GreenReply);
        const QString path = m_dir.filePath(fileName);
        const QDateTime started = QDateTime::currentDateTimeUtc().addMSecs(-1);
        Cli cli(QStringList {"capture", "--output", path, simulated->devicePath()}
                + (quiet ? QStringList {"--quiet"} : QStringList()));
        if (stopped) {
            QSignalSpy started(simulated.get(), &SimulatedInstrument::scanStarted);
            QVERIFY(started.wait());
            QTest::qWait(400);
            instrument == "lost" ? simulated->vanish() : cli.signal(SIGINT);
        }
        if (stopped || instrument == "cut") {
            QCOMPARE(cli.result(), 4);
            const QRegularExpressionMatch held
                = QRegularExpression("holds (\\d+) of the 182650 bytes").match(QString::fromLocal8Bit(cli.err()));
            QVERIFY2(held.hasMatch(), cli.err().constData());
            const qsizetype received = held.captured(1).toLongLong();
            QVERIFY(received > 0 && received < 182650);
            QVERIFY(instrument != "cut" || received == 60000);
            const QByteArray file = fileBytes(path);
            QCOMPARE(file.size(), qsizetype(182650));
            QVERIFY(file.left(received) == simulated->lastCapture().left(received));
            QVERIFY(file.mid(received) == fileBytes(Capture::templateFileName()).mid(received));
            if (instrument == "interrupted")
                QTRY_VERIFY(simulated->received().endsWith("scan\r\n"));
            return;
        }
        QCOMPARE(cli.result(), 0);

        const QByteArray bitmap = simulated->lastCapture();
        if (fileName.endsWith(".bmp")) {
            QVERIFY(fileBytes(path) == bitmap);
        } else {
            const QImage picture(path);
            QCOMPARE(picture.convertToFormat(QImage::Format_RGB32),
                     Capture::shownPicture(QImage::fromData(bitmap)).convertToFormat(QImage::Format_RGB32));
            // What is known of the picture: the instrument, the reading asked
            // for just before "SCAN", the time.
            QStringList texts;
            for (const QString &key : QStringList {"Software", "Instrument", "Device"} + Columns.mid(2, 6))
                texts << picture.text(key);
            QCOMPARE(texts, (QStringList {"zentaval-cli 1.0", identification(), simulated->devicePath(), "green",
                                          "12.5", "380", "0.45", "0.52", "9953.2"}));
            const QDateTime time = QDateTime::fromString(picture.text("Time"), Qt::ISODateWithMs);
            QVERIFY2(time.isValid() && time.timeSpec() == Qt::UTC && time >= started,
                     qPrintable(picture.text("Time")));
            const QDateTime readingTime = QDateTime::fromString(picture.text("time"), Qt::ISODateWithMs);
            QVERIFY2(readingTime >= started && readingTime <= time, qPrintable(picture.text("time")));
            QVERIFY2(simulated->received().startsWith("?\r\nread\r\nSCAN\r\n"), simulated->received().constData());
            const QStringList keys = picture.textKeys();
            QVERIFY2(!keys.contains("limits") && !keys.contains("pass"), qPrintable(keys.join(',')));
        }
        if (quiet)
            QCOMPARE(cli.err(), QByteArray());
        else
            QVERIFY2(cli.err().count("capture: ") == 10 && cli.err().contains("capture: 100 % (182650 bytes)"),
                     cli.err().constData());
        QCOMPARE(simulated->received().contains("scan\r\n"), instrument == "endless");
    }

    void fileProblems_data()
    {
        QTest::addColumn<QString>("problem");
        QTest::addColumn<QStringList>("arguments");
        const QString nowhere = m_dir.filePath("no-such-folder/eye");
        QTest::newRow("no template") << "no template" << QStringList {"capture", "--output", "eye.bmp"};
        QTest::newRow("template of another size")
            << "small template" << QStringList {"capture", "--output", "eye.png"};
        QTest::newRow("capture into no folder") << "" << QStringList {"capture", "--output", nowhere + ".bmp"};
        QTest::newRow("rows into no folder") << "" << QStringList {"measure", "--output", nowhere + ".csv"};
    }
    void fileProblems()
    {
        QFETCH(QString, problem);
        QFETCH(QStringList, arguments);
        auto simulated = instrument();
        // A folder without the template; a copy of the program there has none
        // beside it either.
        const QString folder = m_dir.filePath(QTest::currentDataTag());
        QVERIFY(QDir().mkpath(folder));
        QString program = QCoreApplication::applicationDirPath() + "/zentaval-cli";
        if (problem == "no template") {
            QVERIFY(QFile::copy(program, folder + "/zentaval-cli"));
            program = folder + "/zentaval-cli";
        } else if (problem == "small template") {
            QVERIFY(ringedEye(10, 10).scaled(20, 20).save(folder + "/blankcapture.bmp"));
        }
        Cli cli(arguments << simulated->devicePath(), folder, program);
        QCOMPARE(cli.result(), 5);
        QVERIFY(!cli.err().isEmpty());
        QVERIFY(!QFile::exists(QDir(folder).filePath(arguments.at(2))));
        QCOMPARE(simulated->received().contains("SCAN"), false);
    }

    // compare prints exact figures and, passing, says nothing; mask's
    // standard output is a pattern.
    void judgesPictures_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("printed"); // patterns of standard output and error
        QTest::addColumn<QString>("said");
        const auto said = [](const QString &text) { return ".*" + QRegularExpression::escape(text) + ".*"; };
        const auto compare = [&](const char *name, const char *reference, const char *current, const QStringList &options,
                                 int status, const QString &printed, const QString &text = {}) {
            QTest::newRow(name) << options + QStringList {"compare", reference, current} << status
                                << QRegularExpression::escape(printed) << (text.isEmpty() ? text : said(text));
        };
        const auto mask = [&](const char *name, const QStringList &arguments, int status, const QString &printed,
                              const QString &text = {}) {
            QTest::newRow(name) << QStringList {"mask"} + arguments << status << printed << said(text);
        };
        // 6000 px open; 5400 px open, its ring's bottom 6 rows higher: 212 of
        // the 60,706 pixels change, 0.35 %.
        const QString same = "reference open area: 6000 px\ncurrent open area: 6000 px\n"
                             "open change: 0.00 %\nchanged: 0.00 %\n";
        const QString closing = "reference open area: 6000 px\ncurrent open area: 5400 px\n"
                                "open change: -10.00 %\nchanged: 0.35 %\n";
        compare("the captured bitmap against its picture", "ring.bmp", "ring.png",
                {"--max-changed", "0", "--min-open", "100"}, 0, same);
        compare("a closing eye, as JSON", "ring.bmp", "closing.png", {"--format", "jsonl"}, 0,
                "{\"reference_open_px\":6000,\"current_open_px\":5400,\"open_change_pct\":-10.00,\"changed_pct\":0.35}\n");
        compare("open area at its limit", "ring.png", "closing.png", {"--min-open", "90"}, 0, closing);
        compare("open area below its limit", "ring.png", "closing.png", {"--min-open", "90.1"}, 1, closing,
                "current open area of 5400 px is below --min-open 90.1 % of the reference's 6000 px");
        compare("changes within their limit", "ring.png", "closing.png", {"--max-changed", "0.35"}, 0, closing);
        compare("changes beyond their limit", "ring.png", "closing.png", {"--max-changed", "0.34", "--min-open", "50"},
                1, closing, "0.35 % of the pixels changed, more than --max-changed 0.34 %");
        compare("reference without an opening", "blank.bmp", "ring.png", {"--format", "jsonl", "--min-open", "100"}, 0,
                "{\"reference_open_px\":0,\"current_open_px\":6000,\"open_change_pct\":null,\"changed_pct\":0.53}\n");
        compare("a closing eye and its difference", "ring.png", "closing.png", {"--output", "difference.png"}, 0,
                closing);
        // A difference that cannot be written says so, after the figures.
        compare("difference into no folder", "ring.png", "closing.png", {"--output", "no-such-folder/d.png"}, 5,
                closing, "could not be written");
        compare("reference is no picture", "notes.txt", "ring.png", {}, 2, "", "notes.txt is no picture");
        compare("current is a picture of another size", "ring.png", "small.png", {}, 2, "",
                "small.png is no capture picture");
        compare("a PNG the size of the instrument's bitmap", "ring.png", "unturned.png", {}, 2, "",
                "unturned.png is no capture picture");
        compare("a picture cut short", "ring.png", "cut.png", {}, 2, "", "cut.png is no picture");
        compare("a missing file", "ring.png", "gone.png", {}, 2, "", "gone.png cannot be read");

        const QString number = "\\d+\\.\\d";
        const QString eye = QStringLiteral("crossings: %1 px, %1 px\nunit interval: %1 px\nlevels: one %1 px, zero %1 px\n"
                                           "crossing level: %1 %\n")
                                .arg(number);
        const QString json = QStringLiteral("\\{\"picture\":\"[^\"]*%1\",\"mask\":\"%2\",\"left_crossing_px\":N,"
                                            "\"right_crossing_px\":N,\"ui_px\":N,\"one_level_px\":N,\"zero_level_px\":N,"
                                            "\"crossing_pct\":N,\"hits\":%3,\"margin_pct\":-?\\d+,\"pass\":%4,"
                                            "\"hits_per_polygon\":\\[[\\d,]+\\]\\}\n")
                                 .replace("N", number);
        const QString nrzPass = "picture: [^\n]*eye.png\nmask: NRZ hexagon\n" + eye
            + "hits: 0 \\(by polygon: 0, 0, 0\\)\nmargin: \\d+ %\nverdict: PASS\n";
        mask("shipped mask, text", {"nrz-hexagon", "eye.png"}, 0, nrzPass);
        mask("a file's mask with hits, JSON", {"--format", "jsonl", "BOX", "eye.bmp"}, 1,
             json.arg("eye.bmp", "Box", "[1-9]\\d*", "false"));
        mask("margin below --min-margin", {"--min-margin", "100", "nrz-hexagon", "eye.png"}, 1,
             ".*margin: \\d+ %\nverdict: FAIL\n", "below --min-margin 100 %");
        mask("margin meets --min-margin", {"--min-margin", "-100", "nrz-hexagon", "eye.png"}, 0, nrzPass);
        mask("hits within --max-hits", {"--max-hits", "100000", "BOX", "eye.png"}, 0, ".*verdict: PASS\n");
        // A mask in mV takes the amplitude of the PNG's reading, or the one given.
        mask("amplitude of the PNG's reading", {"--format", "jsonl", "sff8431-host-tx", "eye.png"}, 0,
             json.arg("eye.png", "SFF-8431 host", "0", "true"));
        mask("amplitude given over the PNG's", {"--format", "jsonl", "--amplitude", "600", "sff8431-host-tx", "eye.png"},
             1, json.arg("eye.png", "SFF-8431 host", "[1-9]\\d*", "false"));
        mask("a bitmap carries no amplitude", {"sff8431-host-tx", "eye.bmp"}, 2, ".*verdict: NOT PLACED.*\n",
             "the amplitude is not known");
        mask("no eye", {"nrz-hexagon", "blank.bmp"}, 4, ".*eye: none \\(no opening\\)\nverdict: NO EYE\n",
             "blank.bmp: no eye (no opening)");
        mask("a picture that cannot be read", {"nrz-hexagon", "notes.txt"}, 3, "", "notes.txt is no picture");
        mask("unreadable is worse than no eye and a failure", {"BOX", "eye.png", "blank.bmp", "notes.txt"}, 3,
             ".*verdict: FAIL\n.*verdict: NO EYE\n");
        mask("a mask that cannot be placed is worse than unreadable", {"sff8431-host-tx", "notes.txt", "eye.bmp"}, 2,
             ".*verdict: NOT PLACED.*\n");
        mask("a file that is no mask", {"notes.txt", "eye.png"}, 2, "", "notes.txt: line 1: no mask file");
        mask("no such mask", {"nrz", "eye.png"}, 2, "", "no mask named \"nrz\"");
        mask("annotated", {"--output", "annotated.png", "--amplitude", "600", "sff8431-host-tx", "eye.png"}, 1,
             ".*verdict: FAIL\n");
        // capture --mask judges as mask does: printed, in the PNG's text
        // entries, 1 when it fails once the file is written; a mask that
        // cannot be read ends it before anything is sent.
        const auto capture = [](const char *name, const QString &mask, int status, const QString &printed) {
            QTest::newRow(name) << QStringList {"capture", "-q", "--mask", mask, "--output", "judged.png", "DEVICE"}
                                << status << printed << ".*";
        };
        capture("capture passes", "nrz-hexagon", 0, ".*\nverdict: PASS\n");
        capture("capture fails, the file written", "BOX", 1, ".*\nverdict: FAIL\n");
        capture("capture with a file that is no mask", "notes.txt", 2, "");
    }
    void judgesPictures()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, printed);
        QFETCH(QString, said);
        // A ring around a 100 x 60 opening as shown and as the instrument
        // sends it (turned back a quarter turn, 24 bits), one closing by 6
        // rows, unturned, too small, cut short; a capture of the simulator as
        // PNG (its reading in the text entries) and as the bitmap it sent; the
        // blank template; a text file.
        const QDir folder(m_dir.filePath("pictures"));
        if (!folder.exists("eye.png")) {
            QVERIFY(QDir().mkpath(folder.path()));
            const QImage ring = ringedEye(100, 60);
            QVERIFY(ring.save(folder.filePath("ring.png")));
            QVERIFY(ring.transformed(QTransform().rotate(-90)).save(folder.filePath("ring.bmp")));
            QVERIFY(ringedEye(100, 54).save(folder.filePath("closing.png")));
            QVERIFY(ringedEye(100, 54).transformed(QTransform().rotate(-90)).save(folder.filePath("unturned.png")));
            QVERIFY(ring.scaled(120, 127).save(folder.filePath("small.png")));
            QVERIFY(put(folder.filePath("cut.png"), fileBytes(folder.filePath("ring.png")).left(300)));
            QVERIFY(QFile::copy(Capture::templateFileName(), folder.filePath("blank.bmp")));
            QVERIFY(put(folder.filePath("notes.txt"), "no picture\n"));
            auto simulated = instrument();
            simulated->setSeed(7);
            simulated->setBaudRate(4000000);
            simulated->queueMeasurementReply(GreenReply);
            Cli capture({"capture", "-q", "--output", folder.filePath("eye.png"), simulated->devicePath()});
            QCOMPARE(capture.result(), 0);
            QVERIFY(put(folder.filePath("eye.bmp"), simulated->lastCapture()));
        }
        auto simulated = instrument();
        simulated->setBaudRate(4000000);
        QFile::remove(folder.filePath("judged.png"));
        Cli cli(arguments.replaceInStrings("BOX", boxMask()).replaceInStrings("DEVICE", simulated->devicePath()),
                folder.path());
        QCOMPARE(cli.result(), status);
        for (const auto &[text, pattern] : {std::pair {cli.out(), printed}, std::pair {cli.err(), said}}) {
            const QRegularExpression expression(QRegularExpression::anchoredPattern(pattern),
                                                QRegularExpression::DotMatchesEverythingOption);
            QVERIFY2(expression.match(QString::fromUtf8(text)).hasMatch(), text.constData());
        }
        if (arguments.first() == "capture") {
            const QImage judged(folder.filePath("judged.png"));
            QCOMPARE(judged.text("mask_pass"), status == 0 ? "1" : status == 1 ? "0" : "");
            QCOMPARE(judged.text("mask"), status == 0 ? "NRZ hexagon" : status == 1 ? "Box" : "");
            QCOMPARE(judged.text("mask_hits") == "0", status == 0);
            QCOMPARE(simulated->received().isEmpty(), status == 2);
            return;
        }
        if (status == 5 || !arguments.contains("--output"))
            return;
        const QImage written(folder.filePath(arguments.at(arguments.indexOf("--output") + 1)));
        if (arguments.contains("compare")) {
            // Grey where both rings are, red where only the current one is,
            // blue where only the reference's is.
            QCOMPARE(written.size(), QSize(239, 254));
            QCOMPARE(written.pixelColor(100, 96), QColor(128, 128, 128));
            QCOMPARE(written.pixelColor(100, 151), QColor(230, 0, 0));
            QCOMPARE(written.pixelColor(100, 157), QColor(0, 0, 230));
            QCOMPARE(pixelsOf(written, {QColor(230, 0, 0), QColor(0, 0, 230)}), 212);
            return;
        }
        // Twice the picture's size, the hits in red, each a 2 x 2 block, the
        // mask's fill over the black eye centre.
        QCOMPARE(written.size(), QSize(478, 508));
        const int hits = written.text("mask_hits").toInt();
        QVERIFY(hits > 0);
        QCOMPARE(pixelsOf(written, {QColor(255, 0, 0)}), 4 * hits);
        QCOMPARE(QImage(folder.filePath("eye.png")).pixelColor(119, 127), QColor(Qt::black));
        const QColor centre = written.pixelColor(238, 254);
        QVERIFY2(centre.blue() > 40 && centre.red() < 20, qPrintable(centre.name()));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
