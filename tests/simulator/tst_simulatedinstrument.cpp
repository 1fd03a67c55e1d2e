#include "simulatedinstrument.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>

namespace {

// The program's end of the line: a serial port opened on the instrument's
// device path that keeps every byte arriving, and when it arrived.
class ProgramEnd : public QObject
{
public:
    struct Arrival
    {
        qint64 milliseconds;
        qsizetype bytes;
    };

    explicit ProgramEnd(const QString &devicePath)
    {
        port.setPortName(devicePath);
        connect(&port, &QSerialPort::readyRead, this, [this] {
            const QByteArray bytes = port.readAll();
            data += bytes;
            arrivals.append({clock.elapsed(), bytes.size()});
        });
        clock.start();
    }

    bool open() { return port.open(QIODevice::ReadWrite); }
    void write(const QByteArray &bytes) { port.write(bytes); }

    QSerialPort port;
    QByteArray data;
    QList<Arrival> arrivals;
    QElapsedTimer clock;
};

const QRegularExpression replyLayout(QStringLiteral(
    "^read [01], [01], (\\d{1,3}\\.\\d) (\\d{1,3}) (\\d\\d) (\\d\\d) (\\d{1,4}\\.\\d)$"));

enum class Lamp { Grey, Yellow, Green };

Lamp lampOf(const QByteArray &reply)
{
    if (reply.at(8) == '1')
        return Lamp::Green;
    return reply.at(5) == '1' ? Lamp::Yellow : Lamp::Grey;
}

// Splits a run of measurement replies at their closing NUL bytes.
QList<QByteArray> splitReplies(const QByteArray &data)
{
    QList<QByteArray> replies = data.split('\0');
    replies.removeLast(); // what follows the last NUL
    return replies;
}

quint32 littleEndian32(const QByteArray &bytes, int offset)
{
    quint32 value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | quint8(bytes.at(offset + i));
    return value;
}

// Size of the rendered eye capture: 239 rows of 254 pixels, each row of 762
// bytes padded to 764, behind the 54 bytes of headers.
constexpr qsizetype CaptureSize = 54 + 239 * 764;

} // namespace

class tst_SimulatedInstrument : public QObject
{
    Q_OBJECT

private slots:
    void answersCommandLines_data();
    void answersCommandLines();
    void measurementRepliesKeepTheirLayoutWhileTheLinkWanders_data();
    void measurementRepliesKeepTheirLayoutWhileTheLinkWanders();
    void queuedRepliesAreSentExactlyOncePerRead();
    void scanStreamsPreludeThenCaptureAtTheLineRate_data();
    void scanStreamsPreludeThenCaptureAtTheLineRate();
    void streamHasNoLongPauseIgnoresReadAndStopsOnRequest();
    void eachScanSendsAFreshCapture();
    void faultyInstrumentStreamsUntilSwitchedOff();
    void survivesTheProgramOpeningAndClosingThePort();
    void vanishingMakesThePortFail();
    void simulatorProgramServesInstruments();
    void simulatorProgramChecksItsOptions_data();
    void simulatorProgramChecksItsOptions();
};

void tst_SimulatedInstrument::answersCommandLines_data()
{
    QTest::addColumn<QByteArrayList>("writes");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<int>("identifications");

    QTest::newRow("question with CR LF") << QByteArrayList{"?\r\n"} << false << 1;
    QTest::newRow("question with LF only") << QByteArrayList{"?\n"} << false << 1;
    QTest::newRow("question split over two writes") << QByteArrayList{"?\r", "\n"} << false << 1;
    QTest::newRow("two questions in one write") << QByteArrayList{"?\r\n?\r\n"} << false << 2;
    QTest::newRow("unknown line") << QByteArrayList{"hello\r\n"} << false << 0;
    QTest::newRow("command in other letter case") << QByteArrayList{"READ\r\n"} << false << 0;
    QTest::newRow("question with trailing blank") << QByteArrayList{"? \r\n"} << false << 0;
    QTest::newRow("empty lines") << QByteArrayList{"\r\n\n\r\n"} << false << 0;
    QTest::newRow("question at the end of an overlong line")
        << QByteArrayList{QByteArray(300, 'x') + "?\r\n"} << false << 0;
    QTest::newRow("silent instrument") << QByteArrayList{"?\r\n", "read\r\n", "SCAN\r\n"} << true << 0;
}

// After the row's writes the instrument is made to talk and asked once more;
// whatever it answered to the row's writes arrives before that last answer.
void tst_SimulatedInstrument::answersCommandLines()
{
    QFETCH(QByteArrayList, writes);
    QFETCH(bool, silent);
    QFETCH(int, identifications);

    SimulatedInstrument instrument;
    QVERIFY2(instrument.isOpen(), qPrintable(instrument.errorString()));
    instrument.setSilent(silent);
    ProgramEnd program(instrument.devicePath());
    QVERIFY(program.open());

    QByteArray sent;
    for (const QByteArray &bytes : writes) {
        program.write(bytes);
        sent += bytes;
        QTRY_COMPARE(instrument.received(), sent);
    }
    instrument.setSilent(false);
    program.write("\r\n?\r\n");

    const QByteArray answer = instrument.identificationAnswer();
    QTRY_COMPARE(program.data, answer.repeated(identifications + 1));
    QVERIFY(!instrument.isStreaming());
}

void tst_SimulatedInstrument::measurementRepliesKeepTheirLayoutWhileTheLinkWanders_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::newRow("seed 1") << 1u;
    QTest::newRow("seed 731942") << 731942u;
    QTest::newRow("seed 4294967295") << 4294967295u;
}

void tst_SimulatedInstrument::measurementRepliesKeepTheirLayoutWhileTheLinkWanders()
{
    QFETCH(quint32, seed);
    constexpr int ReplyCount = 400;

    SimulatedInstrument instrument;
    instrument.setSeed(seed);
    ProgramEnd program(instrument.devicePath());
    QVERIFY(program.open());
    program.write(QByteArray("read\r\n").repeated(ReplyCount));
    QTRY_COMPARE(program.data.count('\0'), ReplyCount);
    QVERIFY(program.data.endsWith('\0'));

    const QList<QByteArray> replies = splitReplies(program.data);
    QCOMPARE(replies.size(), ReplyCount);
    int seen[3] = {0, 0, 0};
    Lamp previous = Lamp::Green;
    QSet<QByteArray> distinctAmplitudes;
    for (const QByteArray &reply : replies) {
        const QRegularExpressionMatch match = replyLayout.match(QString::fromLatin1(reply));
        QVERIFY2(match.hasMatch(), reply.constData());
        QVERIFY2(reply.at(5) != '1' || reply.at(8) != '1', reply.constData());
        const double quality = match.captured(1).toDouble();
        const int amplitude = match.captured(2).toInt();
        const int height = match.captured(3).toInt();
        const int width = match.captured(4).toInt();
        const double rate = match.captured(5).toDouble();
        QVERIFY2(quality >= 0.0 && quality <= 100.0, reply.constData());
        QVERIFY2(amplitude >= 0 && amplitude <= 409, reply.constData());
        distinctAmplitudes.insert(match.captured(2).toLatin1());

        const Lamp lamp = lampOf(reply);
        ++seen[int(lamp)];
        switch (lamp) {
        case Lamp::Grey:
            QVERIFY2(height == 0 && width == 0, reply.constData());
            break;
        case Lamp::Yellow:
            QVERIFY2(previous != Lamp::Green, "settling comes after a loss of lock");
            QVERIFY2(height > 0 && width > 0, reply.constData());
            break;
        case Lamp::Green:
            QVERIFY2(previous != Lamp::Grey, "the link settles before it locks");
            QVERIFY2(height > 0 && width > 0, reply.constData());
            QVERIFY2(rate > 9900.0 && rate < 10000.0, reply.constData());
            break;
        }
        previous = lamp;
    }
    QVERIFY2(seen[int(Lamp::Grey)] > 0, "the link never lost lock");
    QVERIFY2(seen[int(Lamp::Yellow)] > 0, "the link never settled");
    QVERIFY2(seen[int(Lamp::Green)] > ReplyCount / 2, "the link is not locked most of the time");
    QVERIFY2(distinctAmplitudes.size() > 10, "the amplitude does not wander");

    // The same seed gives the same replies; another seed does not.
    SimulatedInstrument twin;
    twin.setSeed(seed);
    SimulatedInstrument other;
    other.setSeed(seed + 1);
    ProgramEnd twinProgram(twin.devicePath());
    ProgramEnd otherProgram(other.devicePath());
    QVERIFY(twinProgram.open());
    QVERIFY(otherProgram.open());
    twinProgram.write(QByteArray("read\r\n").repeated(ReplyCount));
    otherProgram.write(QByteArray("read\r\n").repeated(ReplyCount));
    QTRY_COMPARE(twinProgram.data.count('\0'), ReplyCount);
    QTRY_COMPARE(otherProgram.data.count('\0'), ReplyCount);
    QCOMPARE(twinProgram.data, program.data);
    QVERIFY(otherProgram.data != program.data);
}

void tst_SimulatedInstrument::queuedRepliesAreSentExactlyOncePerRead()
{
    SimulatedInstrument instrument;
    const QByteArray first("read 0, 1, 12.5 380 45 52 9953.2\0", 33);
    const QByteArray second = "read without its closing byte";
    instrument.queueMeasurementReply(first);
    instrument.queueMeasurementReply(second);
    ProgramEnd program(instrument.devicePath());
    QVERIFY(program.open());

    program.write("read\r\n");
    QTRY_COMPARE(program.data, first);
    program.write("read\r\nread\r\n");
    QTRY_VERIFY(program.data.endsWith('\0') && program.data.size() > first.size() + second.size());
    QVERIFY(program.data.startsWith(first + second));
    const QByteArray generated = program.data.mid(first.size() + second.size()).chopped(1);
    QVERIFY2(replyLayout.match(QString::fromLatin1(generated)).hasMatch(), generated.constData());
}

void tst_SimulatedInstrument::scanStreamsPreludeThenCaptureAtTheLineRate_data()
{
    QTest::addColumn<bool>("defaultPrelude");
    QTest::addColumn<QByteArray>("prelude");
    QTest::addColumn<int>("baud");

    QTest::newRow("default prelude, 1,000,000 baud") << true << QByteArray("SCAN\r\n") << 1000000;
    QTest::newRow("no prelude, 4,000,000 baud") << false << QByteArray() << 4000000;
    QTest::newRow("text prelude, 4,000,000 baud") << false << QByteArray("\x06scanning\r\nBX") << 4000000;
}

void tst_SimulatedInstrument::scanStreamsPreludeThenCaptureAtTheLineRate()
{
    QFETCH(bool, defaultPrelude);
    QFETCH(QByteArray, prelude);
    QFETCH(int, baud);

    SimulatedInstrument instrument;
    if (!defaultPrelude)
        instrument.setScanPrelude(prelude);
    instrument.setBaudRate(baud);
    QSignalSpy sent(&instrument, &SimulatedInstrument::captureSent);
    ProgramEnd program(instrument.devicePath());
    QVERIFY(program.open());

    program.write("SCAN\r\n");
    QElapsedTimer clock;
    clock.start();
    QTRY_COMPARE_WITH_TIMEOUT(sent.count(), 1, 20000);
    QTRY_COMPARE(program.data.size(), prelude.size() + CaptureSize);
    const qint64 elapsed = clock.elapsed();

    const QByteArray capture = instrument.lastCapture();
    QCOMPARE(capture.size(), CaptureSize);
    QVERIFY(capture.startsWith("BM"));
    QCOMPARE(littleEndian32(capture, 2), quint32(CaptureSize));
    QVERIFY(program.data == prelude + capture);
    QVERIFY(!instrument.isStreaming());

    // Paced at 10 bits a byte; a pseudo-terminal alone would pass it all in
    // a few milliseconds.
    const double expected = 1000.0 * double(program.data.size()) / (baud / 10.0);
    qInfo("%lld bytes at %d baud in %lld ms (line time %.0f ms)", qlonglong(program.data.size()), baud,
          elapsed, expected);
    QVERIFY2(elapsed >= 0.8 * expected, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed <= expected + 3000, qPrintable(QString::number(elapsed)));
}

void tst_SimulatedInstrument::streamHasNoLongPauseIgnoresReadAndStopsOnRequest()
{
    constexpr qint64 SampledMs = 2500;

    SimulatedInstrument instrument;
    QSignalSpy stopped(&instrument, &SimulatedInstrument::scanStopped);
    ProgramEnd program(instrument.devicePath());
    QVERIFY(program.open());
    program.write("SCAN\r\n");
    QTRY_VERIFY(!program.arrivals.isEmpty());
    const qint64 first = program.arrivals.constFirst().milliseconds;
    program.write("read\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(program.clock.elapsed() - first >= SampledMs, int(SampledMs) + 5000);

    qint64 longestPause = 0;
    qsizetype bytes = 0;
    qint64 last = first;
    for (const ProgramEnd::Arrival &arrival : std::as_const(program.arrivals)) {
        longestPause = std::max(longestPause, arrival.milliseconds - last);
        last = arrival.milliseconds;
        bytes += arrival.bytes;
    }
    const double rate = 1000.0 * double(bytes) / double(std::max<qint64>(last - first, 1));
    qInfo("115200 baud: %lld bytes in %lld ms, %.0f bytes/s, longest pause %lld ms", qlonglong(bytes),
          last - first, rate, longestPause);
    QVERIFY2(longestPause < 250, qPrintable(QString::number(longestPause)));
    QVERIFY2(rate > 0.8 * 11520 && rate < 1.2 * 11520, qPrintable(QString::number(rate)));

    program.write("scan\r\n");
    QTRY_COMPARE(stopped.count(), 1);
    QVERIFY(!instrument.isStreaming());
    // Bytes already on the way may still come; then nothing more does.
    QTest::qWait(100);
    const qsizetype afterStop = program.data.size();
    QTest::qWait(400);
    QCOMPARE(program.data.size(), afterStop);

    // Nothing answered the "read" sent during the stream: what arrived is the
    // stream's beginning, and the stream was cut short.
    const QByteArray stream = instrument.scanPrelude() + instrument.lastCapture();
    QVERIFY(afterStop < stream.size());
    QVERIFY(program.data == stream.left(afterStop));
}

void tst_SimulatedInstrument::eachScanSendsAFreshCapture()
{
    SimulatedInstrument instrument;
    instrument.setBaudRate(4000000);
    instrument.setScanPrelude({});
    QSignalSpy sent(&instrument, &SimulatedInstrument::captureSent);
    ProgramEnd program(instrument.devicePath());
    QVERIFY(program.open());

    QByteArrayList captures;
    for (int scan = 1; scan <= 2; ++scan) {
        program.data.clear();
        program.write("SCAN\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(sent.count(), scan, 10000);
        QTRY_COMPARE(program.data.size(), CaptureSize);
        QVERIFY(program.data == instrument.lastCapture());
        QVERIFY(program.data.startsWith("BM"));
        captures.append(program.data);
    }
    QVERIFY(captures.at(0) != captures.at(1));

    // After the scan the instrument measures again.
    program.data.clear();
    program.write("read\r\n");
    QTRY_VERIFY(program.data.endsWith('\0'));
    QVERIFY(replyLayout.match(QString::fromLatin1(program.data.chopped(1))).hasMatch());
}

void tst_SimulatedInstrument::faultyInstrumentStreamsUntilSwitchedOff()
{
    SimulatedInstrument instrument;
    instrument.setBaudRate(4000000);
    instrument.setStreamForever(true);
    const QByteArray capture = "BM" + QByteArray(10000, 'e');
    instrument.setCaptureSource([capture] { return capture; });
    QSignalSpy sent(&instrument, &SimulatedInstrument::captureSent);
    ProgramEnd program(instrument.devicePath());
    QVERIFY(program.open());

    program.write("SCAN\r\n");
    QTRY_VERIFY(program.data.size() > 3 * capture.size());
    program.write("scan\r\n");
    QTRY_VERIFY(instrument.received().endsWith("scan\r\n"));
    QTRY_VERIFY(program.data.size() > 5 * capture.size());
    QVERIFY(instrument.isStreaming());
    QCOMPARE(sent.count(), 0);

    instrument.setStreamForever(false);
    QTRY_COMPARE(sent.count(), 1);
    QTRY_VERIFY(!instrument.isStreaming());
    const QByteArray repeated = program.data.mid(instrument.scanPrelude().size());
    QCOMPARE(repeated.size() % capture.size(), 0);
    QVERIFY(repeated == capture.repeated(int(repeated.size() / capture.size())));
}

void tst_SimulatedInstrument::survivesTheProgramOpeningAndClosingThePort()
{
    SimulatedInstrument instrument;
    const QByteArray answer = instrument.identificationAnswer();

    // Sent before the program ever opened the port: arrives unchanged.
    instrument.writeRaw("early\r\n");
    ProgramEnd program(instrument.devicePath());
    QVERIFY(program.open());
    program.write("?\r\n");
    QTRY_COMPARE(program.data, "early\r\n" + answer);

    for (int round = 0; round < 3; ++round) {
        program.port.close();
        // The instrument's event loop runs while nobody holds the port, as it
        // does between the program's probes.
        QTest::qWait(20);
        QVERIFY(instrument.isOpen());
        QVERIFY(program.open());
        program.data.clear();
        program.write("?\r\n");
        QTRY_COMPARE(program.data, answer);
    }
}

void tst_SimulatedInstrument::vanishingMakesThePortFail()
{
    SimulatedInstrument instrument;
    const QString path = instrument.devicePath();
    ProgramEnd program(path);
    QVERIFY(program.open());
    QList<QSerialPort::SerialPortError> errors;
    // A port whose device is gone reports its error without end until closed;
    // closing it may report once more from inside close().
    connect(&program.port, &QSerialPort::errorOccurred, &program, [&](QSerialPort::SerialPortError error) {
        if (error == QSerialPort::NoError || !errors.isEmpty())
            return;
        errors.append(error);
        program.port.close();
    });

    instrument.vanish();
    QVERIFY(!instrument.isOpen());
    QTRY_VERIFY(!errors.isEmpty());
    QVERIFY2(errors.constFirst() == QSerialPort::ReadError || errors.constFirst() == QSerialPort::ResourceError,
             qPrintable(QString::number(errors.constFirst())));
    QTRY_VERIFY(!QFile::exists(path));
    QVERIFY(!program.open());
    instrument.writeRaw("nobody hears this");
}

void tst_SimulatedInstrument::simulatorProgramServesInstruments()
{
    QProcess simulator;
    simulator.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/zentaval-sim"));
    simulator.setArguments({QStringLiteral("--instruments"), QStringLiteral("2"), QStringLiteral("--seed"),
                            QStringLiteral("5")});
    simulator.start();
    QVERIFY2(simulator.waitForStarted(), qPrintable(simulator.errorString()));
    QByteArray printed;
    QTRY_VERIFY((printed += simulator.readAllStandardOutput()).count('\n') >= 2);
    const QByteArrayList paths = printed.trimmed().split('\n');
    QCOMPARE(paths.size(), 2);

    QByteArrayList answers;
    for (const QByteArray &path : paths) {
        QVERIFY2(QFile::exists(QString::fromLocal8Bit(path)), path.constData());
        ProgramEnd program(QString::fromLocal8Bit(path));
        QVERIFY(program.open());
        program.write("?\r\n");
        QTRY_VERIFY(program.data.endsWith('\n'));
        QCOMPARE(program.data.at(0), '\x02');
        QVERIFY(program.data.contains("731942K"));
        answers.append(program.data);
    }
    QVERIFY(answers.at(0) != answers.at(1));

    simulator.terminate();
    QVERIFY(simulator.waitForFinished(5000));
    QCOMPARE(simulator.exitStatus(), QProcess::NormalExit);
    QCOMPARE(simulator.exitCode(), 0);
    for (const QByteArray &path : paths)
        QVERIFY2(!QFile::exists(QString::fromLocal8Bit(path)), path.constData());
}

void tst_SimulatedInstrument::simulatorProgramChecksItsOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("printed");

    QTest::newRow("help") << QStringList{"--help"} << 0 << QByteArray("--instruments");
    QTest::newRow("no instruments") << QStringList{"--instruments", "0"} << 2 << QByteArray();
    QTest::newRow("baud not a number") << QStringList{"--baud", "fast"} << 2 << QByteArray();
    QTest::newRow("negative seed") << QStringList{"--seed", "-1"} << 2 << QByteArray();
    QTest::newRow("stray argument") << QStringList{"/dev/ttyS0"} << 2 << QByteArray();
}

void tst_SimulatedInstrument::simulatorProgramChecksItsOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, printed);

    QProcess simulator;
    simulator.start(QCoreApplication::applicationDirPath() + QStringLiteral("/zentaval-sim"), arguments);
    QVERIFY(simulator.waitForFinished(5000));
    QCOMPARE(simulator.exitStatus(), QProcess::NormalExit);
    QCOMPARE(simulator.exitCode(), exitCode);
    const QByteArray output = simulator.readAllStandardOutput();
    QVERIFY(output.contains(printed));
    if (exitCode != 0)
        QVERIFY2(!output.contains("/dev/"), output.constData());
}

QTEST_GUILESS_MAIN(tst_SimulatedInstrument)
#include "tst_simulatedinstrument.moc"
