#include "simulatedinstrument.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTest>
#include <QtEndian>

struct ProgramEnd // the program's end of the line: a serial port that keeps every byte arriving
{
    explicit ProgramEnd(const QString &path)
    {
        port.setPortName(path);
        port.open(QIODevice::ReadWrite);
        QObject::connect(&port, &QSerialPort::readyRead, [this] { data += port.readAll(); });
    }
    QSerialPort port;
    QByteArray data;
};
constexpr quint32 CaptureSize = 54 + 239 * 764; // 239 rows of 254 pixels, each padded to 764 bytes

class TestSimulatedInstrument : public QObject
{
    Q_OBJECT

private slots:
    void answersItsCommands()
    {
        SimulatedInstrument instrument;
        instrument.setBaudRate(4000000);
        instrument.writeRaw("early\r\n"); // before the program opens the port: the line is raw already
        ProgramEnd program(instrument.devicePath());
        program.port.write("?\r\nread\n");
        QTRY_VERIFY(program.data.endsWith('\0'));
        const QByteArray identification = "early\r\n\x02Model 731942K S/N 20431 FW 1.07\n";
        QVERIFY2(program.data.startsWith(identification), program.data.constData());
        const QString reply = QString::fromLatin1(program.data.mid(identification.size()).chopped(1));
        const QRegularExpression layout(
            "^read [01], [01], \\d{1,3}\\.\\d \\d{1,3} \\d\\d \\d\\d \\d{1,4}\\.\\d$");
        QVERIFY2(layout.match(reply).hasMatch(), qPrintable(reply));
        program.port.close(); // the program's close does not hang up the line
        QVERIFY(program.port.open(QIODevice::ReadWrite));
        program.data.clear();
        program.port.write("SCAN\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(program.data.size(), 6 + CaptureSize, 10000);
        QVERIFY(program.data == "SCAN\r\n" + instrument.lastCapture() && program.data.mid(6, 2) == "BM");
        QCOMPARE(qFromLittleEndian<quint32>(program.data.data() + 8), CaptureSize);
    }
    void pacesTheStreamAndStopsOnRequest() // 115,200 baud: 11,520 bytes a second, where a pty has no limit
    {
        SimulatedInstrument instrument;
        ProgramEnd program(instrument.devicePath());
        program.port.write("SCAN\r\n");
        QTRY_VERIFY(!program.data.isEmpty());
        QElapsedTimer clock;
        clock.start();
        const qsizetype first = program.data.size();
        QTest::qWait(1000);
        const double rate = (program.data.size() - first) * 1000.0 / clock.elapsed();
        QVERIFY2(rate > 0.7 * 11520 && rate < 1.3 * 11520, qPrintable(QString::number(rate)));
        program.port.write("scan\r\n");
        QTest::qWait(100); // bytes already on their way
        const qsizetype stopped = program.data.size();
        QTest::qWait(300);
        QCOMPARE(program.data.size(), stopped);
        QVERIFY(program.data == ("SCAN\r\n" + instrument.lastCapture()).left(stopped));
    }
    void answersLateAndVanishesAsALostLineDoes() // as a killed process or a pulled adapter leaves it
    {
        SimulatedInstrument instrument;
        instrument.setIdentificationDelay(300);
        int readErrors = 0; // until the program closes its port, at every turn of the event loop
        ProgramEnd program(instrument.devicePath());
        QElapsedTimer clock;
        clock.start();
        program.port.write("?\r\n");
        QTRY_COMPARE(program.data, instrument.identificationAnswer());
        QVERIFY2(clock.elapsed() >= 300, qPrintable(QString::number(clock.elapsed())));
        QObject::connect(&program.port, &QSerialPort::errorOccurred, [&](QSerialPort::SerialPortError error) {
            readErrors += error == QSerialPort::ReadError;
        });
        instrument.vanish();
        QTRY_VERIFY(readErrors > 1000);
    }
    void delaysAndCutsTheScan_data() // a scan that answers late, and a cable pulled mid-scan
    {
        QTest::addColumn<bool>("throughProgram");
        QTest::newRow("library") << false;
        QTest::newRow("zentaval-sim options") << true;
    }
    void delaysAndCutsTheScan()
    {
        QFETCH(bool, throughProgram);
        const QString path = QCoreApplication::applicationDirPath() + "/zentaval-sim";
        SimulatedInstrument instrument;
        instrument.setScanDelay(600);
        instrument.setScanCut(1000);
        instrument.setBaudRate(1000000);
        QProcess simulator;
        if (throughProgram)
            simulator.start(path, {"--scan-delay", "600", "--scan-cut", "1000", "--baud", "1000000"});
        QTRY_VERIFY(!throughProgram || simulator.canReadLine());
        ProgramEnd program(throughProgram ? QString::fromLocal8Bit(simulator.readLine().trimmed())
                                          : instrument.devicePath());
        QElapsedTimer clock;
        clock.start();
        program.port.write("SCAN\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(!program.data.isEmpty(), 5000);
        QVERIFY2(clock.elapsed() >= 600 && clock.elapsed() < 3000,
                 qPrintable(QString::number(clock.elapsed())));
        QTRY_COMPARE(program.data.size(), 6 + 1000);
        program.port.write("?\r\n"); // quiet for good
        QTest::qWait(300);
        QCOMPARE(program.data.size(), 6 + 1000);
        QVERIFY(program.data.startsWith("SCAN\r\nBM") // and, for the library, what it says it sent
                && (throughProgram || program.data.mid(6) == instrument.lastCapture()));
        simulator.terminate();
        QVERIFY(!throughProgram || (simulator.waitForFinished(5000) && simulator.exitCode() == 0));
        for (const char *option : {"--scan-delay", "--scan-cut"})
            QCOMPARE(QProcess::execute(path, {option, "-1"}), 2);
    }
};

QTEST_GUILESS_MAIN(TestSimulatedInstrument)
#include "tst_simulatedinstrument.moc"
