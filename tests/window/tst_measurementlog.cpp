#include "windowharness.h"

#include "window/commandline.h"
#include "io/measurementlog.h"
#include "rules/measurementrow.h"

#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

using namespace WindowHarness;

namespace {

QByteArray reply(const QByteArray &status, const QByteArray &fields)
{
    return "read" + status + fields + '\0';
}

MeasurementRow rowOf(const QByteArray &replyBytes, const MeasurementLimits &limits)
{
    const auto reading = decodeMeasurementReply(replyBytes, replyBytes.size());
    return measurementRow(reading.value_or(MeasurementReading()),
                          QDateTime(QDate(2026, 12, 7), QTime(9, 5, 3, 27), Qt::UTC), 12.3456, limits);
}

QStringList lines(const QString &fileName)
{
    return QString::fromUtf8(fileBytes(fileName)).split('\n', Qt::SkipEmptyParts);
}

} // namespace

class TestMeasurementLog : public QObject
{
    Q_OBJECT

private slots:
    void rowsAsTheWindowShowsThem_data();
    void rowsAsTheWindowShowsThem();
    void fileIsAppendedToNeverTruncated();
    void windowLogsReadingsLossesAndReturns();
    void windowRefusesALogItCannotOpen();

private:
    QTemporaryDir m_dir;
};

void TestMeasurementLog::rowsAsTheWindowShowsThem_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<MeasurementLimits>("limits");
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QByteArray>("json");

    const QByteArray locked = reply(" 0  1  ", "12.5 380 45 52 9953.2");
    QTest::newRow("no limit") << locked << MeasurementLimits {}
                              << QByteArray(
                                     "2026-12-07T09:05:03.027Z,12.346,green,12.5,380,0.45,0.52,9953.2,1")
                              << QByteArray(
                                     "{\"time\":\"2026-12-07T09:05:03.027Z\",\"elapsed_s\":12.346,"
                                     "\"lamp\":\"green\",\"quality_pct\":12.5,\"amplitude_mv\":380,"
                                     "\"eye_height_ui\":0.45,\"eye_width_ui\":0.52,\"rate_mbps\":9953.2,"
                                     "\"pass\":1}");
    QTest::newRow("limits met, on the line")
        << locked << MeasurementLimits {0.45, 0.52, 380, true}
        << QByteArray("2026-12-07T09:05:03.027Z,12.346,green,12.5,380,0.45,0.52,9953.2,1") << QByteArray();
    QTest::newRow("eye too low") << locked << MeasurementLimits {0.46, {}, {}, false}
                                 << QByteArray(
                                        "2026-12-07T09:05:03.027Z,12.346,green,12.5,380,0.45,0.52,9953.2,0")
                                 << QByteArray();
    QTest::newRow("settling, lock required")
        << reply(" 1  0  ", "1 2 3 4 5") << MeasurementLimits {{}, {}, {}, true}
        << QByteArray("2026-12-07T09:05:03.027Z,12.346,yellow,1,2,0.3,0.4,5,0") << QByteArray();
    // Fields the instrument left empty are empty cells, null in JSON, and
    // miss any limit set on them.
    QTest::newRow("empty fields") << reply(" 0  0  ", "") << MeasurementLimits {{}, {}, 100, false}
                                  << QByteArray("2026-12-07T09:05:03.027Z,12.346,grey,,,,,,0")
                                  << QByteArray(
                                         "{\"time\":\"2026-12-07T09:05:03.027Z\",\"elapsed_s\":12.346,"
                                         "\"lamp\":\"grey\",\"quality_pct\":null,\"amplitude_mv\":null,"
                                         "\"eye_height_ui\":null,\"eye_width_ui\":null,\"rate_mbps\":null,"
                                         "\"pass\":0}");
    QTest::newRow("no number") << reply(" 0  1  ", "1.2.3 380.5") << MeasurementLimits {}
                               << QByteArray("2026-12-07T09:05:03.027Z,12.346,green,1.2.3,380.5,,,,1")
                               << QByteArray(
                                      "{\"time\":\"2026-12-07T09:05:03.027Z\",\"elapsed_s\":12.346,"
                                      "\"lamp\":\"green\",\"quality_pct\":null,\"amplitude_mv\":380.5,"
                                      "\"eye_height_ui\":null,\"eye_width_ui\":null,\"rate_mbps\":null,"
                                      "\"pass\":1}");
}

void TestMeasurementLog::rowsAsTheWindowShowsThem()
{
    QFETCH(QByteArray, reply);
    QFETCH(MeasurementLimits, limits);
    QFETCH(QByteArray, csv);
    QFETCH(QByteArray, json);
    const MeasurementRow row = rowOf(reply, limits);
    QCOMPARE(csvLine(row), csv + '\n');
    if (!json.isEmpty())
        QCOMPARE(jsonLine(row), json + '\n');
}

void TestMeasurementLog::fileIsAppendedToNeverTruncated()
{
    const QString csv = m_dir.filePath("kept.csv");
    QFile earlier(csv);
    QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write("# an earlier run\n") > 0);
    earlier.close();

    LogSession session {"zentaval",     "1.0",        "Model 731942K\nS/N 1",
                        "/dev/ttyUSB0", "115200 8N1", QDateTime(QDate(2026, 12, 7), QTime(9, 5), Qt::UTC)};
    const MeasurementRow row = rowOf(reply(" 0  1  ", "12.5 380 45 52 9953.2"), {});
    for (int run = 0; run < 2; ++run) {
        MeasurementLog log;
        QVERIFY(log.open(csv, logFormatForFileName(csv)));
        QVERIFY(log.writeSession(session));
        QVERIFY(log.writeRow(row));
        // Each line is in the file as soon as it is written.
        QVERIFY(fileBytes(csv).endsWith(csvLine(row)));
        QVERIFY(log.writeLost(session.start, "Resource error"));
    }
    const QStringList block = {"# zentaval 1.0", "# instrument Model 731942K S/N 1",
                               "# device /dev/ttyUSB0 115200 8N1", "# started 2026-12-07T09:05:00.000Z"};
    const QStringList rowAndLoss
        = {QString::fromLatin1(csvLine(row).trimmed()), "# lost 2026-12-07T09:05:00.000Z Resource error"};
    const QString header = QString::fromLatin1(csvHeader().trimmed());
    // A file without a header row gets one; a file with one gets no second.
    QCOMPARE(lines(csv),
             QStringList {"# an earlier run"} + block + QStringList {header} + rowAndLoss + block
                 + rowAndLoss);

    // Standard output, two sessions: one header row, as in a file.
    const QString captured = m_dir.filePath("stdout.csv");
    std::fflush(stdout);
    const int savedOutput = ::dup(STDOUT_FILENO);
    const int capture = ::open(QFile::encodeName(captured).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    QVERIFY(savedOutput >= 0 && capture >= 0 && ::dup2(capture, STDOUT_FILENO) >= 0);
    {
        MeasurementLog log;
        const bool written = log.openStandardOutput(LogFormat::Csv) && log.writeSession(session)
            && log.writeRow(row) && log.writeSession(session) && log.writeRow(row);
        std::fflush(stdout);
        ::dup2(savedOutput, STDOUT_FILENO);
        QVERIFY(written);
    }
    ::close(savedOutput);
    ::close(capture);
    QCOMPARE(lines(captured),
             block + QStringList {header} + rowAndLoss.mid(0, 1) + block + rowAndLoss.mid(0, 1));

    const QString jsonl = m_dir.filePath("run.JSONL");
    MeasurementLog log;
    QVERIFY(log.open(jsonl, logFormatForFileName(jsonl)));
    QVERIFY(log.writeSession(session) && log.writeRow(row) && log.writeConnected(session.start, "back"));
    const QStringList json = lines(jsonl);
    QCOMPARE(json.size(), 3);
    QVERIFY(json.at(0).startsWith("{\"device\":\"/dev/ttyUSB0\""));
    QCOMPARE(json.at(1).toUtf8() + '\n', jsonLine(row));
    QCOMPARE(json.at(2),
             QString("{\"detail\":\"back\",\"event\":\"connected\",\"time\":\"2026-12-07T09:05:00.000Z\"}"));

    MeasurementLog nowhere;
    QVERIFY(!nowhere.open(m_dir.filePath("no-such-folder/log.csv"), LogFormat::Csv));
    QVERIFY(!nowhere.errorString().isEmpty());
    QVERIFY(!nowhere.writeRow(row));
}

void TestMeasurementLog::windowLogsReadingsLossesAndReturns()
{
    const QString link = m_dir.filePath("ttyLogged");
    auto instrument = std::make_unique<SimulatedInstrument>();
    QVERIFY(QFile::link(instrument->devicePath(), link));
    auto window = makeWindow({link});
    const QString log = m_dir.filePath("window.csv");
    QVERIFY(window->startMeasurementLog(log));
    QCOMPARE(window->measurementLogFile(), log);
    instrument->queueMeasurementReply(reply(" 0  1  ", "12.5 380 45 52 9953.2"));
    QVERIFY(connectTo(*window));
    QTRY_VERIFY_WITH_TIMEOUT(lines(log).size() >= 7, 2000);
    QStringList written = lines(log);
    QCOMPARE(written.at(0), QString("# zentaval ") + QCoreApplication::applicationVersion());
    QCOMPARE(written.at(1),
             "# instrument " + SimulatedInstrument::defaultIdentificationAnswer().mid(1).chopped(1));
    QVERIFY(written.at(2).startsWith("# device " + link + " "));
    QCOMPARE(written.at(4), QString::fromLatin1(csvHeader().trimmed()));
    QVERIFY(written.at(5).endsWith(",green,12.5,380,0.45,0.52,9953.2,1"));
    // Two readings a second, each one row.
    QTest::qWait(1000);
    const int rows = lines(log).size();
    QVERIFY2(rows - written.size() >= 1 && rows - written.size() <= 3, qPrintable(QString::number(rows)));

    instrument->vanish();
    QTRY_VERIFY_WITH_TIMEOUT(lines(log).constLast().startsWith("# lost "), 2000);
    instrument = std::make_unique<SimulatedInstrument>();
    QFile::remove(link);
    QVERIFY(QFile::link(instrument->devicePath(), link));
    QTRY_VERIFY_WITH_TIMEOUT(lines(log).filter("# connected ").size() == 1, 6000);
    QTRY_VERIFY_WITH_TIMEOUT(lines(log).constLast().endsWith(",1"), 2000);
    // The rows before the loss stay, and no second header is written.
    written = lines(log);
    QCOMPARE(written.filter("# started").size(), 1);
    QVERIFY(written.at(5).endsWith(",green,12.5,380,0.45,0.52,9953.2,1"));

    window->stopMeasurementLog();
    QCOMPARE(window->measurementLogFile(), QString());
    const QByteArray stopped = fileBytes(log);
    QTest::qWait(1100);
    QCOMPARE(fileBytes(log), stopped);
}

void TestMeasurementLog::windowRefusesALogItCannotOpen()
{
    QCommandLineParser parser;
    const auto commandLine = parseCommandLine(
        parser,
        {"zentaval", "--log", "eye.jsonl", "--min-height", "0.3", "--min-amplitude=200", "--require-lock"},
        nullptr);
    QVERIFY(commandLine);
    QCOMPARE(commandLine->logFile, QString("eye.jsonl"));
    QCOMPARE(commandLine->limits.minHeight, 0.3);
    QVERIFY(!commandLine->limits.minWidth);
    QCOMPARE(commandLine->limits.minAmplitude, 200.0);
    QVERIFY(commandLine->limits.requireLock);
    for (const QStringList &bad :
         {QStringList {"--min-width", "wide"}, QStringList {"--min-height=-1"}, QStringList {"--log="}}) {
        QCommandLineParser badParser;
        QVERIFY2(!parseCommandLine(badParser, QStringList {"zentaval"} + bad, nullptr),
                 qPrintable(bad.join(' ')));
    }

    // Said before any window opens, with the status of a usage error.
    QProcess program;
    program.start(QCoreApplication::applicationDirPath() + "/zentaval",
                  {"--log", m_dir.filePath("no-such-folder/eye.csv")});
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitCode(), 2);
    QVERIFY(program.readAllStandardError().contains("no-such-folder/eye.csv"));
}

QTEST_MAIN(TestMeasurementLog)
#include "tst_measurementlog.moc"
