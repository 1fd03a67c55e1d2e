#include "simulatedinstrument.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

// zentaval-cli serve as its users run it: the built program over simulated
// instruments, asked by real TCP clients.
class TestServe : public QObject
{
    Q_OBJECT

private:
    // Consecutive ports nothing listens on now.
    static quint16 freePorts(int count)
    {
        for (quint16 first = 20000 + quint16(QCoreApplication::applicationPid() % 20000);; first += 7) {
            bool allFree = true;
            for (int i = 0; i < count && allFree; ++i) {
                QTcpServer probe;
                allFree = probe.listen(QHostAddress::LocalHost, quint16(first + i));
            }
            if (allFree)
                return first;
        }
    }

    static std::unique_ptr<QProcess> serve(const QStringList &arguments)
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(name);
        process->setProcessEnvironment(environment);
        process->start(QCoreApplication::applicationDirPath() + "/zentaval-cli",
                       QStringList {"serve"} + arguments);
        return process;
    }

    static QByteArray ask(quint16 port, const QByteArray &line, int timeoutMs = 5000)
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (!QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; }, 2000))
            return "<not connected>";
        socket.write(line + '\n');
        QByteArray received;
        (void)QTest::qWaitFor(
            [&] {
                received += socket.readAll();
                return received.contains('\n');
            },
            timeoutMs);
        return received;
    }

    static bool waitFor(QProcess &process, QByteArray &err, const QByteArray &text, int timeoutMs = 8000)
    {
        return QTest::qWaitFor(
            [&] {
                err += process.readAllStandardError();
                return err.contains(text);
            },
            timeoutMs);
    }

private slots:
    // Each device on its own port, one after the other; a device not there
    // yet is served with errors; SIGTERM ends it with 0.
    void servesEachDeviceOnItsPort()
    {
        SimulatedInstrument first;
        SimulatedInstrument second;
        second.setIdentificationAnswer(SimulatedInstrument::defaultIdentificationAnswer(555));
        const quint16 port = freePorts(3);
        auto process = serve({"--listen", QStringLiteral("127.0.0.1:%1").arg(port), first.devicePath(),
                              second.devicePath(), "/dev/zentaval-not-yet"});
        QByteArray err;
        QVERIFY2(waitFor(*process, err, "S/N 555"), err.constData());
        QVERIFY2(
            err.contains(QStringLiteral("%1 on 127.0.0.1:%2").arg(first.devicePath()).arg(port).toUtf8()),
            err.constData());
        QVERIFY2(err.contains(
                     QStringLiteral("%1 on 127.0.0.1:%2").arg(second.devicePath()).arg(port + 1).toUtf8()),
                 err.constData());
        QCOMPARE(ask(port, "*IDN?"), QByteArray("Quorvane,731942K,20431,1.07\n"));
        QCOMPARE(ask(port + 1, "*IDN?"), QByteArray("Quorvane,731942K,555,1.07\n"));
        QCOMPARE(ask(port + 2, "MEAS:HEIG?;:SYST:ERR?"), QByteArray("9.91E37;-241,\"Hardware missing\"\n"));
        // READ? waits for the next reading and answers it.
        QVERIFY(QRegularExpression("^0\\.\\d+,0\\.\\d+,[^,]+,[^,]+,[^,]+,[01]\n$")
                    .match(QString::fromLatin1(ask(port, "READ?")))
                    .hasMatch());

        ::kill(pid_t(process->processId()), SIGTERM);
        QVERIFY(QTest::qWaitFor([&] { return process->state() == QProcess::NotRunning; }, 5000));
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(process->exitCode(), 0);
    }

    // A named device that appears later is served from then on.
    void waitsForTheDevice()
    {
        SimulatedInstrument instrument;
        QTemporaryDir folder;
        const QString link = folder.filePath("ttyZentaval");
        const quint16 port = freePorts(1);
        auto process = serve({"--listen", QString::number(port), link});
        QByteArray err;
        QVERIFY2(waitFor(*process, err, "on 127.0.0.1:" + QByteArray::number(port)), err.constData());
        QCOMPARE(ask(port, "*IDN?;:SYST:ERR?"),
                 QByteArray("Quorvane,731942K,0,0;-241,\"Hardware missing\"\n"));
        QVERIFY(QFile::link(instrument.devicePath(), link));
        QVERIFY2(waitFor(*process, err, "serving"), err.constData());
        QCOMPARE(ask(port, "*IDN?;:SYST:ERR?"), QByteArray("Quorvane,731942K,20431,1.07;0,\"No error\"\n"));
        process->kill();
        process->waitForFinished();
    }

    // A capture at the tool's pace, kept in memory, sent as a block.
    void capturesInMemory()
    {
        SimulatedInstrument instrument;
        instrument.setBaudRate(4000000);
        const quint16 port = freePorts(1);
        auto process = serve({"--listen", QString::number(port), instrument.devicePath()});
        QByteArray err;
        QVERIFY2(waitFor(*process, err, "serving"), err.constData());
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(socket.waitForConnected(2000));
        socket.write("CAPT;*OPC?;:CAPT:DATA?\n");
        QByteArray received;
        const QByteArray expected = "1;#6182650" + instrument.lastCapture() + '\n';
        QVERIFY(QTest::qWaitFor(
            [&] {
                received += socket.readAll();
                return received.size() >= 10 + 182650 + 1;
            },
            15000));
        QCOMPARE(received.size(), qsizetype(10 + 182650 + 1));
        QCOMPARE(received, "1;#6182650" + instrument.lastCapture() + '\n');
        process->kill();
        process->waitForFinished();
    }

    void exitStatus_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("said");
        QTest::newRow("bad address") << QStringList {"--listen", "999.1.1.1:5025"} << 2
                                     << QByteArray("--listen");
        QTest::newRow("bad port") << QStringList {"--listen", "127.0.0.1:port"} << 2
                                  << QByteArray("--listen");
        QTest::newRow("listen is serve's")
            << QStringList {"--listen", "5025", "--count", "3"} << 2 << QByteArray("--count");
    }
    void exitStatus()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QByteArray, said);
        auto process = serve(arguments);
        QVERIFY(process->waitForFinished(5000));
        QCOMPARE(process->exitCode(), status);
        QVERIFY(process->readAllStandardError().contains(said));
    }

    void addressInUseExitsSix()
    {
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
        auto process = serve({"--listen", QString::number(taken.serverPort()), "/dev/zentaval-none"});
        QVERIFY(process->waitForFinished(5000));
        QCOMPARE(process->exitCode(), 6);
        const QByteArray err = process->readAllStandardError();
        QVERIFY2(err.contains("127.0.0.1:" + QByteArray::number(taken.serverPort())), err.constData());
    }
};

QTEST_GUILESS_MAIN(TestServe)
#include "tst_serve.moc"
