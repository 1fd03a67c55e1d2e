#include "io/capturefile.h"
#include "io/instrumentsession.h"
#include "io/scpiserver.h"
#include "io/serialports.h"
#include "simulatedinstrument.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>

#include <memory>

// The remote-control server with real clients on the loopback, over a
// simulated instrument held by a session at the tool's pace.
class TestScpiServer : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<SimulatedInstrument> m_instrument;
    std::unique_ptr<InstrumentSession> m_session;
    std::unique_ptr<ScpiServer> m_server;

    // A session over the simulator (or none) and a server on a free port.
    void serve(bool withInstrument = true)
    {
        m_server.reset();
        m_session.reset();
        m_instrument.reset();
        QStringList paths;
        if (withInstrument) {
            m_instrument = std::make_unique<SimulatedInstrument>();
            QVERIFY2(m_instrument->isOpen(), qPrintable(m_instrument->errorString()));
            m_instrument->setSeed(7);
            m_instrument->setBaudRate(4000000);
            paths << m_instrument->devicePath();
        }
        m_session = std::make_unique<InstrumentSession>(
            std::make_unique<SystemSerialPorts>(paths, SystemSerialPorts::Enumeration::ExtraOnly),
            InstrumentSession::Pace::Tool);
        InstrumentSession *session = m_session.get();
        m_server = std::make_unique<ScpiServer>(session);
        m_server->setCaptureStarter(
            [session] { return session->requestScanInMemory(Capture::templateFileName()); });
        QVERIFY2(m_server->listen(QHostAddress::LocalHost, 0), qPrintable(m_server->errorString()));
        if (!withInstrument)
            return;
        connect(session, &InstrumentSession::probed, session, [session] {
            session->adopt(0);
            session->startReadings(500);
        });
        session->probe(session->ports().availablePorts());
        QTRY_VERIFY_WITH_TIMEOUT(session->lastReading().has_value(), 5000);
    }

    std::unique_ptr<QTcpSocket> client()
    {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, m_server->serverPort());
        socket->waitForConnected(2000);
        return socket;
    }

    // What arrives until `done` says it is whole or the time is up.
    template<typename Done> static QByteArray receive(QTcpSocket &socket, Done done, int timeoutMs)
    {
        QByteArray received;
        (void)QTest::qWaitFor([&] { return done(received += socket.readAll()); }, timeoutMs);
        return received;
    }

    // The next answer line without its LF; more lines than one stay in it.
    static QByteArray answer(QTcpSocket &socket, int timeoutMs = 3000)
    {
        return receive(socket, [](const QByteArray &bytes) { return bytes.endsWith('\n'); }, timeoutMs).chopped(1);
    }

    static QByteArray ask(QTcpSocket &socket, const QByteArray &line)
    {
        socket.write(line + '\n');
        return answer(socket);
    }

    // A definite-length block and the LF after it.
    static QByteArray readBlock(QTcpSocket &socket)
    {
        auto whole = [](const QByteArray &bytes) {
            const int digits = bytes.size() > 1 ? bytes.at(1) - '0' : 0;
            return digits > 0 && bytes.size() > 2 + digits
                && bytes.size() >= 3 + digits + bytes.mid(2, digits).toLongLong();
        };
        return receive(socket, whole, 10000);
    }

    static bool matches(const QString &pattern, const QByteArray &text)
    {
        return QRegularExpression(QRegularExpression::anchoredPattern(pattern))
            .match(QString::fromLatin1(text))
            .hasMatch();
    }

    // height, width, amplitude, rate, quality, lock: as answered, and as the log holds them.
    static QList<double> values(const QByteArray &answer)
    {
        QList<double> list;
        for (const QByteArray &field : answer.split(','))
            list << field.toDouble();
        return list;
    }
    static QList<double> values(const MeasurementRow &row)
    {
        return {row.heightValue().value(), row.widthValue().value(), row.amplitudeValue().value(),
                MeasurementRow::number(row.rate).value(), MeasurementRow::number(row.quality).value(),
                row.lamp == LockLamp::Green ? 1.0 : 0.0};
    }

private slots:
    // One line of answers per line that asks, nothing for lines that do not;
    // with no instrument nothing leaves a client waiting.
    void answersOneLinePerLine_data()
    {
        QTest::addColumn<bool>("instrument");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("pattern");
        QTest::newRow("compound, CR LF") << true << QByteArray("FETCh:HEIGht?;WIDT?;:SYST:VERS?;*TST?\r")
                                         << "0\\.\\d+;0\\.\\d+;1999\\.0;0";
        QTest::newRow("commands and empty lines")
            << true << QByteArray("*CLS\n\n\r\n;\n*ESE 4\n*OPC\n*WAI\nCAPT:ABOR\n*RST\n*ESE?;*ESR?") << "4;1";
        QTest::newRow("idle capture") << true << QByteArray("CAPT:STAT?;PROG?") << "IDLE;0";
        const QByteArray errors = ";:SYST:ERR?;ERR?";
        const QString six = "9\\.91E37(,9\\.91E37){5}";
        const QString missing = ";-241,\"Hardware missing\";0,\"No error\"";
        QTest::newRow("none: fetch") << false << "FETC?" + errors << six + missing;
        QTest::newRow("none: read") << false << "READ?" + errors << six + missing;
        QTest::newRow("none: capture") << false << "CAPT;*OPC?" + errors << "1" + missing;
        QTest::newRow("none: data") << false << "CAPT:DATA?" + errors
                                    << "#10;-230,\"Data stale\";0,\"No error\"";
        // What a client sends is bounded and cheap to take: a line over 64 KiB
        // is said once and dropped, a flood of empty lines holds nobody up,
        // garbage gets errors and no answer; the connection goes on.
        QByteArray garbage;
        for (int i = 0; i < 4096; ++i)
            garbage += (i * 7919) % 256 == '\n' ? ';' : char((i * 7919) & 0xff);
        const QString none = "0;0,\"No error\";0,\"No error\"";
        const QString overrun = "0;-363,\"Input buffer overrun\";0,\"No error\"";
        const QByteArray tested = "*TST?" + errors;
        QTest::newRow("64 KiB fits") << false << QByteArray(64 * 1024, ' ') + '\n' + tested << none;
        QTest::newRow("one more") << false << QByteArray(64 * 1024 + 1, ' ') + '\n' + tested << overrun;
        QTest::newRow("a megabyte") << false << QByteArray(1024 * 1024, ' ') + '\n' + tested << overrun;
        QTest::newRow("flood of empty lines") << false << QByteArray(128 * 1024, '\n') + tested << none;
        QTest::newRow("garbage") << false << garbage + '\n' + tested
                                 << "0;-113,\"Undefined header\";-113,\"Undefined header\"";
    }
    void answersOneLinePerLine()
    {
        QFETCH(bool, instrument);
        QFETCH(QByteArray, line);
        QFETCH(QString, pattern);
        serve(instrument);
        auto socket = client();
        QElapsedTimer clock;
        clock.start();
        const QByteArray answer = ask(*socket, line);
        QVERIFY2(instrument || clock.elapsed() < 300, QByteArray::number(clock.elapsed()).constData());
        QVERIFY2(matches(pattern, answer), answer.constData());
        // Nothing else follows: no empty line that would shift later answers.
        QTest::qWait(200);
        QCOMPARE(socket->readAll(), QByteArray());
    }

    // FETCh answers the latest reading as the log holds it, READ? the next
    // one. A capture's life: *OPC? answers once it has ended, another client's
    // capture meanwhile is ignored, the block is the instrument's bitmap (LF
    // bytes inside and all) or the picture shown; *WAI holds the line; a
    // client going mid-block harms nothing, one that never reads is dropped
    // while the others are answered; an aborted capture is INCOMPLETE.
    void captureCompletesBeforeOpcAnswers()
    {
        serve();
        auto socket = client();
        auto other = client();
        const MeasurementRow latest = *m_session->lastReading();
        int readings = 0;
        connect(m_session.get(), &InstrumentSession::readingAccepted, socket.get(), [&readings] { ++readings; });
        const QList<QByteArray> answers = ask(*socket, "FETC?;READ?").split(';');
        QCOMPARE(readings, 1);
        QCOMPARE(values(answers.value(0)), values(latest));
        QCOMPARE(values(answers.value(1)), values(*m_session->lastReading()));

        socket->write("CAPT;CAPT:STAT?;*OPC?;STAT?;PROG?\n");
        QTRY_VERIFY(m_session->scan() != InstrumentSession::Scan::Idle);
        QCOMPARE(ask(*other, "CAPT:IMM;:SYST:ERR?;*OPC?"), QByteArray("-213,\"Init ignored\";1"));
        QCOMPARE(answer(*socket, 15000), QByteArray("RUNNING;1;COMPLETE;100"));

        const QByteArray bitmap = m_instrument->lastCapture();
        socket->write("CAPT:DATA?\n");
        QCOMPARE(readBlock(*socket), "#6182650" + bitmap + '\n');
        socket->write("CAPT:DATA? PNG\n");
        const QByteArray png = readBlock(*socket);
        const QImage picture = QImage::fromData(png.mid(2 + png.at(1) - '0').chopped(1), "PNG");
        QCOMPARE(picture.convertToFormat(QImage::Format_RGB32),
                 Capture::shownPicture(QImage::fromData(bitmap, "BMP")).convertToFormat(QImage::Format_RGB32));
        QTest::qWait(100);
        QCOMPARE(socket->readAll(), QByteArray());

        socket->write("CAPT;*WAI;CAPT:STAT?\n");
        QCOMPARE(answer(*socket, 15000), QByteArray("COMPLETE"));

        socket->write("CAPT:DATA?\n");
        QTRY_VERIFY(socket->bytesAvailable() > 0);
        socket->abort();
        QTRY_COMPARE(m_server->clientCount(), 1);
        auto greedy = client();
        greedy->write("CAPT:DATA?\n");
        QCOMPARE(readBlock(*greedy).size(), qint64(8 + 182650 + 1));
        // From now on it reads nothing.
        greedy->setReadBufferSize(1);
        greedy->write(QByteArray("CAPT:DATA?\n").repeated(400));
        QElapsedTimer clock;
        clock.start();
        qint64 slowest = 0;
        while (m_server->clientCount() > 1 && clock.elapsed() < 20000) {
            QElapsedTimer round;
            round.start();
            QCOMPARE(ask(*other, "*TST?"), QByteArray("0"));
            slowest = std::max(slowest, round.elapsed());
        }
        QCOMPARE(m_server->clientCount(), 1);
        QVERIFY2(slowest < 500, QByteArray::number(slowest).constData());

        m_instrument->setBaudRate(115200);
        m_instrument->clearReceived();
        other->write("CAPT\n");
        QTRY_VERIFY(m_session->scan() != InstrumentSession::Scan::Idle && m_session->captureOffset() > 0);
        QCOMPARE(ask(*other, "CAPT:ABOR;*OPC?;STAT?"), QByteArray("1;INCOMPLETE"));
        QVERIFY(m_instrument->received().contains("scan\r\n"));
    }

    // The mask commands on the latest finished capture: no figure without a
    // mask, before a capture or without an eye (-230 with the reason), a
    // mask that cannot be read refused with its reason (-200) while the one
    // in use stays. CAPT:ABOR withdraws a scan only asked for: no "SCAN" is
    // sent, *OPC? answers, and the readings go on.
    void maskCommands_data()
    {
        QTest::addColumn<QString>("capture");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("pattern");
        const QByteArray nrz = "MASK:SEL \"nrz-hexagon\";";
        const QByteArray judged = ":CAPT;*OPC?;:MASK:STAT?;HITS?;MARG?;:SYST:ERR?";
        const QString stale = "-230,\"Data stale; ";
        QTest::newRow("no mask") << "" << QByteArray("MASK:SEL?;STAT?;HITS?;:SYST:ERR?")
                                 << "\"\";NONE;9\\.91E37;" + stale + "no mask selected\"";
        QTest::newRow("a mask before any capture")
            << "" << nrz + "SEL?;STAT?;MARG?;:SYST:ERR?;ERR?"
            << "\"nrz-hexagon\";NONE;9\\.91E37;(" + stale + "no capture judged yet\";?){2}";
        QTest::newRow("a clean eye passes") << "eye" << nrz + judged << "1;PASS;0;[1-9]\\d*;0,\"No error\"";
        QTest::newRow("a blank capture has no eye")
            << "blank" << nrz + judged << "1;NOEYE;9\\.91E37;9\\.91E37;" + stale + "no eye \\(no opening\\)\"";
        QTest::newRow("a file's mask with hits fails")
            << "eye" << "MASK:SEL 'FOLDER/box.yaml';" + judged << "1;FAIL;[1-9]\\d*;-\\d+;0,\"No error\"";
        QTest::newRow("a file that is no mask: the mask in use stays")
            << "" << nrz + "SEL \"FOLDER/bad.yaml\";SEL?;:SYST:ERR?"
            << "\"nrz-hexagon\";-200,\"Execution error; FOLDER/bad\\.yaml: line \\d+: .+\"";
        QTest::newRow("only a YAML file is read") << "" << QByteArray("MASK:SEL \"/etc/hostname\";:SYST:ERR?")
                                                  << "-200,\"Execution error; /etc/hostname: .*\\.yaml or \\.yml\"";
        QTest::newRow("an unquoted name") << "" << QByteArray("MASK:SEL nrz-hexagon;:SYST:ERR?")
                                          << "-104,\"Data type error\"";
        QTest::newRow("none again") << "" << nrz + "SEL \"\";SEL?;STAT?" << "\"\";NONE";
        QTest::newRow("abort withdraws a requested scan")
            << "" << QByteArray("CAPT;CAPT:ABOR;*OPC?;STAT?;:READ?;:SYST:ERR?")
            << "1;IDLE;0\\.\\d+,[^;]+;0,\"No error\"";
    }
    void maskCommands()
    {
        QFETCH(QString, capture);
        QFETCH(QByteArray, line);
        QFETCH(QString, pattern);
        QTemporaryDir folder;
        const auto write = [&folder](const char *name, const QByteArray &text) {
            QFile file(folder.filePath(name));
            return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
        };
        QVERIFY(write("bad.yaml", "protocol: [unclosed\n"));
        QVERIFY(write("box.yaml", "protocol: {name: Box, reference: test}\nunits: {xscale: ui, yscale: amplitude}\n"
                                  "mask:\n  - points: [{x: -0.5, y: -0.6}, {x: 0.5, y: -0.6}, {x: 0.5, y: 0.6}, "
                                  "{x: -0.5, y: 0.6}]\n"));
        line.replace("FOLDER", folder.path().toUtf8());
        pattern.replace("FOLDER", QRegularExpression::escape(folder.path()));
        serve();
        if (capture == "blank")
            m_instrument->setCaptureSource([] {
                QFile blank(Capture::templateFileName());
                return blank.open(QIODevice::ReadOnly) ? blank.readAll() : QByteArray();
            });
        m_instrument->clearReceived();
        auto socket = client();
        const QByteArray answer = ask(*socket, line);
        QVERIFY2(matches(pattern, answer), answer.constData());
        QVERIFY(m_session->scan() == InstrumentSession::Scan::Idle);
        QCOMPARE(m_instrument->received().contains("SCAN\r\n"), !capture.isEmpty());
    }

    // At most four clients; every connection has its own error queue and status.
    void fifthClientIsClosed()
    {
        serve(false);
        std::vector<std::unique_ptr<QTcpSocket>> clients;
        for (int i = 0; i < ScpiServer::MaximumClients; ++i)
            clients.push_back(client());
        QTRY_COMPARE(m_server->clientCount(), 4);
        QCOMPARE(ask(*clients[0], "BOGUS:HEADER?;*IDN? 1;*ESE;*TST?"), QByteArray("0"));
        QCOMPARE(ask(*clients[1], "SYST:ERR:COUN?;:SYST:ERR?;*STB?"), QByteArray("0;0,\"No error\";0"));
        QCOMPARE(ask(*clients[0], "SYST:ERR:COUN?;*STB?;:SYST:ERR?;ERR?;ERR?;ERR?"),
                 QByteArray("3;68;-113,\"Undefined header\";-108,\"Parameter not allowed\";-109,\"Missing "
                            "parameter\";0,\"No error\""));
        auto fifth = client();
        fifth->write("*IDN?\n");
        QTRY_COMPARE(fifth->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(fifth->readAll(), QByteArray());
        for (auto &socket : clients)
            QCOMPARE(ask(*socket, "*TST?"), QByteArray("0"));
        clients.front()->disconnectFromHost();
        QTRY_COMPARE(m_server->clientCount(), 3);
        auto next = client();
        QCOMPARE(ask(*next, "*TST?"), QByteArray("0"));
    }

    // A client that shuts its side after its last lines still gets the
    // answers that come only after a capture or a reading, then is closed.
    void halfClosedClientGetsItsAnswers()
    {
        serve();
        auto socket = client();
        socket->write("CAPT;*OPC?\nREAD?\n*TST?\n");
        QVERIFY(socket->flush());
        QCOMPARE(::shutdown(int(socket->socketDescriptor()), SHUT_WR), 0);
        QTRY_COMPARE_WITH_TIMEOUT(socket->state(), QAbstractSocket::UnconnectedState, 15000);
        const QByteArray received = socket->readAll();
        QVERIFY2(matches("1\n0\\.\\d+,[^\n]*\n0\n", received), received.constData());
        QTRY_COMPARE(m_server->clientCount(), 0);
    }

    // Real lab clients: pyvisa with its pure-Python backend (the capture it
    // wrote), and netcat (-N: the side shut after the input, as a script's pipe does).
    void labClients_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QString>("pattern");
        const QString identity = "Quorvane,731942K,20431,1\\.07\n";
        QTest::newRow("pyvisa") << QStringList {"/usr/bin/python3", QFINDTESTDATA("pyvisa_client.py"), "PORT", "BITMAP"}
                                << identity + "[\\s\\S]*";
        QTest::newRow("netcat") << QStringList {"nc", "-N", "-q", "2", "127.0.0.1", "PORT"}
                                << identity + "-113,\"Undefined header\"\n[^,\n]+(,[^,\n]+){5};[01]\n";
    }
    void labClients()
    {
        QFETCH(QStringList, command);
        QFETCH(QString, pattern);
        if (QStandardPaths::findExecutable(command[0]).isEmpty()
            || (command[0] != "nc" && QProcess::execute(command[0], {"-c", "import pyvisa, pyvisa_py"}) != 0))
            QSKIP("python3 with pyvisa and pyvisa-py, or netcat, is not installed (scripts/install-dependencies.sh)");
        serve();
        QTemporaryDir folder;
        const QString bitmap = folder.filePath("capture.bmp");
        QProcess process;
        process.start(command[0], command.mid(1)
                                      .replaceInStrings("PORT", QString::number(m_server->serverPort()))
                                      .replaceInStrings("BITMAP", bitmap));
        process.write("*IDN?\nFETC:NOISE?\nSYST:ERR?\nREAD?;:FETC:LOCK?\n");
        process.closeWriteChannel();
        QVERIFY(QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 30000));
        const QByteArray output = process.readAllStandardOutput();
        QVERIFY2(process.exitCode() == 0 && matches(pattern, output), output + process.readAllStandardError());
        QFile file(bitmap);
        QVERIFY(command[0] == "nc"
                || (file.open(QIODevice::ReadOnly) && file.readAll() == m_instrument->lastCapture()));
    }
};

QTEST_GUILESS_MAIN(TestScpiServer)
#include "tst_scpiserver.moc"
