#include "windowharness.h"

#include "io/measurementlog.h"
#include "rules/measurementrow.h"
#include "window/commandline.h"

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
    void rowsAsTheWindowShowsThem_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<MeasurementLimits>("limits");
        QTest::addColumn<QByteArray>("csv");  // after the time and elapsed seconds
        QTest::addColumn<QByteArray>("json"); // after the time and elapsed seconds

        QTest::newRow("no limit")
            << reply(" 0  1  ", "12.5 380 45 52 9953.2") << MeasurementLimits {}
            << QByteArray("green,12.5,380,0.45,0.52,9953.2,1")
            << QByteArray("\"lamp\":\"green\",\"quality_pct\":12.5,\"amplitude_mv\":380,"
                          "\"eye_height_ui\":0.45,\"eye_width_ui\":0.52,\"rate_mbps\":9953.2,\"pass\":1}");
        QTest::newRow("settling, lock required")
            << reply(" 1  0  ", "1 2 3 4 5") << MeasurementLimits {{}, {}, {}, true}
            << QByteArray("yellow,1,2,0.3,0.4,5,0") << QByteArray();
        // Fields left empty are empty cells, null in JSON, and miss any limit set on them.
        QTest::newRow("empty fields")
            << reply(" 0  0  ", "") << MeasurementLimits {{}, {}, 100, false} << QByteArray("grey,,,,,,0")
            << QByteArray("\"lamp\":\"grey\",\"quality_pct\":null,\"amplitude_mv\":null,"
                          "\"eye_height_ui\":null,\"eye_width_ui\":null,\"rate_mbps\":null,\"pass\":0}");
        QTest::newRow("no number")
            << reply(" 0  1  ", "1.2.3 380.5") << MeasurementLimits {} << QByteArray("green,1.2.3,380.5,,,,1")
            << QByteArray("\"lamp\":\"green\",\"quality_pct\":null,\"amplitude_mv\":380.5,"
                          "\"eye_height_ui\":null,\"eye_width_ui\":null,\"rate_mbps\":null,\"pass\":1}");
    }
    void rowsAsTheWindowShowsThem()
    {
        QFETCH(QByteArray, reply);
        QFETCH(MeasurementLimits, limits);
        QFETCH(QByteArray, csv);
        QFETCH(QByteArray, json);
        const MeasurementRow row = rowOf(reply, limits);
        QCOMPARE(csvLine(row), "2026-12-07T09:05:03.027Z,12.346," + csv + '\n');
        if (!json.isEmpty())
            QCOMPARE(jsonLine(row),
                     "{\"time\":\"2026-12-07T09:05:03.027Z\",\"elapsed_s\":12.346," + json + '\n');
    }
    void fileIsAppendedToNeverTruncated()
    {
        const QString csv = m_dir.filePath("kept.csv");
        QFile earlier(csv);
        QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write("# an earlier run\n") > 0);
        earlier.close();
        LogSession session {
            "zentaval",     "1.0",        "Model 731942K\nS/N 1",
            "/dev/ttyUSB0", "115200 8N1", QDateTime(QDate(2026, 12, 7), QTime(9, 5), Qt::UTC)};
        const MeasurementRow row = rowOf(reply(" 0  1  ", "12.5 380 45 52 9953.2"), {});
        for (int run = 0; run < 2; ++run) {
            MeasurementLog log;
            QVERIFY(log.open(csv, logFormatForFileName(csv)) && log.writeSession(session)
                    && log.writeRow(row));
            QVERIFY(fileBytes(csv).endsWith(csvLine(row))); // written at once
            QVERIFY(log.writeLost(session.start, "Resource error"));
        }
        const QStringList block = {"# zentaval 1.0", "# instrument Model 731942K S/N 1",
                                   "# device /dev/ttyUSB0 115200 8N1", "# started 2026-12-07T09:05:00.000Z"};
        const QStringList rowAndLoss
            = {QString::fromLatin1(csvLine(row).trimmed()), "# lost 2026-12-07T09:05:00.000Z Resource error"};
        const QStringList header {QString::fromLatin1(csvHeader().trimmed())};
        // A file without a header row gets one; a file with one gets no second.
        QCOMPARE(lines(csv),
                 QStringList {"# an earlier run"} + block + header + rowAndLoss + block + rowAndLoss);

        // Standard output, two sessions: one header row, as in a file.
        const QString captured = m_dir.filePath("stdout.csv");
        std::fflush(stdout);
        const int savedOutput = ::dup(STDOUT_FILENO);
        const int capture
            = ::open(QFile::encodeName(captured).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
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
        QCOMPARE(lines(captured), block + header + rowAndLoss.mid(0, 1) + block + rowAndLoss.mid(0, 1));

        const QString jsonl = m_dir.filePath("run.JSONL");
        MeasurementLog log;
        QVERIFY(log.open(jsonl, logFormatForFileName(jsonl)));
        QVERIFY(log.writeSession(session) && log.writeRow(row) && log.writeConnected(session.start, "back"));
        const QStringList json = lines(jsonl);
        QVERIFY(json.at(0).startsWith("{\"device\":\"/dev/ttyUSB0\""));
        QCOMPARE(
            json.mid(1),
            QStringList(
                {QString::fromLatin1(jsonLine(row).trimmed()),
                 "{\"detail\":\"back\",\"event\":\"connected\",\"time\":\"2026-12-07T09:05:00.000Z\"}"}));

        MeasurementLog nowhere;
        QVERIFY(!nowhere.open(m_dir.filePath("no-such-folder/log.csv"), LogFormat::Csv));
        QVERIFY(!nowhere.errorString().isEmpty() && !nowhere.writeRow(row));
    }
    void windowLogsReadingsLossesAndReturns()
    {
        const QString link = m_dir.filePath("ttyLogged");
        auto instrument = std::make_unique<SimulatedInstrument>();
        QVERIFY(QFile::link(instrument->devicePath(), link));
        auto window = makeWindow({link});
        const QString log = m_dir.filePath("window.csv");
        QVERIFY(window->startMeasurementLog(log));
        instrument->queueMeasurementReply(reply(" 0  1  ", "12.5 380 45 52 9953.2"));
        QVERIFY(connectTo(*window));
        QTRY_VERIFY_WITH_TIMEOUT(lines(log).size() >= 7, 2000);
        QStringList written = lines(log);
        QCOMPARE(written.mid(0, 2),
                 QStringList({"# zentaval " + QCoreApplication::applicationVersion(),
                              "# instrument "
                                  + SimulatedInstrument::defaultIdentificationAnswer().mid(1).chopped(1)}));
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
        QCOMPARE(lines(log).mid(0, written.size()), written);
        QCOMPARE(lines(log).filter("# started").size(), 1);
    }
    void windowRefusesALogItCannotOpen()
    {
        QCommandLineParser parser;
        const auto commandLine = parseCommandLine(parser,
                                                  {"zentaval", "--log", "eye.jsonl", "--min-height", "0.3",
                                                   "--min-amplitude=200", "--require-lock"},
                                                  nullptr);
        QVERIFY(commandLine && commandLine->logFile == "eye.jsonl");
        const MeasurementLimits &limits = commandLine->limits;
        QVERIFY(limits.minHeight == 0.3 && !limits.minWidth && limits.minAmplitude == 200.0
                && limits.requireLock);
        for (const QStringList &bad :
             {QStringList {"--min-width", "wide"}, {"--min-height=-1"}, {"--log="}}) {
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

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestMeasurementLog)
#include "tst_measurementlog.moc"
