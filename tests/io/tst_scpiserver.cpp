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

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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
        if (!socket->waitForConnected(2000))
            return nullptr;
        return socket;
    }

    // Lines received until `count` lines have come or the time is up.
    static QList<QByteArray> readLines(QTcpSocket &socket, int count, int timeoutMs = 3000)
    {
        QByteArray received;
        (void)QTest::qWaitFor(
            [&] {
                received += socket.readAll();
                return received.count('\n') >= count;
            },
            timeoutMs);
        received += socket.readAll();
        QList<QByteArray> lines = received.split('\n');
        lines.removeLast();
        return lines;
    }

    static QByteArray ask(QTcpSocket &socket, const QByteArray &line, int timeoutMs = 3000)
    {
        socket.write(line + '\n');
        return readLines(socket, 1, timeoutMs).value(0, "<nothing>");
    }

    // Whatever arrives within `ms`.
    static QByteArray drain(QTcpSocket &socket, int ms)
    {
        QByteArray received;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) {
            QTest::qWait(10);
            received += socket.readAll();
        }
        return received;
    }

    // A definite-length block and the LF after it.
    static QByteArray readBlock(QTcpSocket &socket, int timeoutMs = 10000)
    {
        QByteArray received;
        qint64 total = -1;
        (void)QTest::qWaitFor(
            [&] {
                received += socket.readAll();
                if (total < 0 && received.size() >= 2 && received.at(0) == '#') {
                    const int digits = received.at(1) - '0';
                    if (received.size() >= 2 + digits)
                        total = 2 + digits + received.mid(2, digits).toLongLong() + 1;
                }
                return total >= 0 && received.size() >= total;
            },
            timeoutMs);
        return received;
    }

    QString python() const { return QStringLiteral("/usr/bin/python3"); }

private slots:
    // --listen's value, as both programs read it.
    void readsListenAddresses_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("beyond");
        QTest::newRow("port alone") << "5025" << true << "127.0.0.1:5025" << false;
        QTest::newRow("loopback") << "127.0.0.1:6000" << true << "127.0.0.1:6000" << false;
        QTest::newRow("other loopback") << "127.0.0.2:6000" << true << "127.0.0.2:6000" << false;
        QTest::newRow("localhost") << "localhost:5025" << true << "127.0.0.1:5025" << false;
        QTest::newRow("every interface") << "0.0.0.0:5025" << true << "0.0.0.0:5025" << true;
        QTest::newRow("one interface") << "192.0.2.7:5025" << true << "192.0.2.7:5025" << true;
        QTest::newRow("IPv6 loopback") << "[::1]:5025" << true << "[::1]:5025" << false;
        QTest::newRow("IPv6 any") << "[::]:5025" << true << "[::]:5025" << true;
        QTest::newRow("port 0: any free") << "127.0.0.1:0" << true << "127.0.0.1:0" << false;
        QTest::newRow("empty") << "" << false << QString() << false;
        QTest::newRow("no port") << "127.0.0.1:" << false << QString() << false;
        QTest::newRow("port too large") << "65536" << false << QString() << false;
        QTest::newRow("negative port") << "-1" << false << QString() << false;
        QTest::newRow("plus sign") << "+5025" << false << QString() << false;
        QTest::newRow("host name") << "lab.example:5025" << false << QString() << false;
        QTest::newRow("bad address") << "300.1.1.1:5025" << false << QString() << false;
    }
    void readsListenAddresses()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(QString, shown);
        QFETCH(bool, beyond);
        QHostAddress address;
        quint16 port = 0;
        QString error;
        QCOMPARE(parseListenAddress(text, &address, &port, &error), valid);
        if (!valid) {
            QVERIFY(!error.isEmpty());
            return;
        }
        QCOMPARE(listenAddressText(address, port), shown);
        QCOMPARE(reachesBeyondThisMachine(address), beyond);
    }

    void answersOneLinePerLine_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("pattern");
        QTest::newRow("identity") << QByteArray("*IDN?") << QByteArray("^Quorvane,731942K,20431,1\\.07$");
        QTest::newRow("short and lower case")
            << QByteArray("*idn?") << QByteArray("^Quorvane,731942K,20431,1\\.07$");
        QTest::newRow("six quantities")
            << QByteArray("FETC?")
            << QByteArray("^0\\.\\d+,0\\.\\d+,\\d+(\\.\\d+)?,\\d+(\\.\\d+)?,\\d+(\\.\\d+)?,[01]$");
        QTest::newRow("compound") << QByteArray("FETCh:HEIGht?;WIDT?;:SYST:VERS?;*TST?")
                                  << QByteArray("^0\\.\\d+;0\\.\\d+;1999\\.0;0$");
        QTest::newRow("CR LF") << QByteArray("*TST?\r") << QByteArray("^0$");
        QTest::newRow("commands between queries")
            << QByteArray("*CLS;*ESE 36;*ESE?;*RST;*OPC?") << QByteArray("^36;1$");
        QTest::newRow("no error") << QByteArray("SYST:ERR?") << QByteArray("^0,\"No error\"$");
        QTest::newRow("read waits and answers")
            << QByteArray("READ?") << QByteArray("^0\\.\\d+,0\\.\\d+,[^,]+,[^,]+,[^,]+,[01]$");
        QTest::newRow("measure") << QByteArray("MEAS:LOCK?") << QByteArray("^[01]$");
        QTest::newRow("idle capture") << QByteArray("CAPT:STAT?;PROG?") << QByteArray("^IDLE;0$");
        QTest::newRow("no capture yet")
            << QByteArray("CAPT:DATA?;:SYST:ERR?") << QByteArray("^#10;-230,\"Data stale\"$");
    }
    void answersOneLinePerLine()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, pattern);
        serve();
        auto socket = client();
        QVERIFY(socket);
        socket->write(line + '\n');
        const QList<QByteArray> lines = readLines(*socket, 1);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(QRegularExpression(QString::fromLatin1(pattern))
                     .match(QString::fromLatin1(lines.first()))
                     .hasMatch(),
                 lines.first().constData());
        // Nothing else follows: no empty line that would shift later answers.
        QCOMPARE(drain(*socket, 200), QByteArray());
    }

    // FETCh answers the session's latest reading as the log holds it.
    void fetchesTheLatestReading()
    {
        serve();
        auto socket = client();
        QVERIFY(socket);
        socket->write("FETC?\n");
        const QByteArray answer = readLines(*socket, 1).value(0);
        const MeasurementRow row = *m_session->lastReading();
        const QList<QByteArray> fields = answer.split(',');
        QCOMPARE(fields.size(), 6);
        QCOMPARE(fields.at(0).toDouble(), row.heightValue().value());
        QCOMPARE(fields.at(1).toDouble(), row.widthValue().value());
        QCOMPARE(fields.at(2).toDouble(), row.amplitudeValue().value());
        QCOMPARE(fields.at(3).toDouble(), MeasurementRow::number(row.rate).value());
        QCOMPARE(fields.at(4).toDouble(), MeasurementRow::number(row.quality).value());
        QCOMPARE(fields.at(5), QByteArray(row.lamp == LockLamp::Green ? "1" : "0"));
    }

    void commandsAndEmptyLinesAnswerNothing()
    {
        serve();
        auto socket = client();
        QVERIFY(socket);
        socket->write("*CLS\n\n\r\n;\n*ESE 4\n*OPC\n*WAI\nCAPT:ABOR\n*RST\n");
        QCOMPARE(drain(*socket, 300), QByteArray());
        socket->write("*ESE?\n");
        QCOMPARE(readLines(*socket, 1), QList<QByteArray> {"4"});
        QCOMPARE(ask(*socket, "*ESR?"), QByteArray("1")); // *OPC with nothing pending
    }

    // Every connection has its own error queue and status.
    void errorQueuesArePerConnection()
    {
        serve();
        auto first = client();
        auto second = client();
        QVERIFY(first && second);
        first->write("BOGUS:HEADER?\n*IDN? 1\n*ESE\n");
        QCOMPARE(drain(*first, 200), QByteArray());
        QCOMPARE(ask(*second, "SYST:ERR:COUN?;:SYST:ERR?"), QByteArray("0;0,\"No error\""));
        QCOMPARE(ask(*second, "*STB?"), QByteArray("0"));
        QCOMPARE(ask(*first, "SYST:ERR:COUN?"), QByteArray("3"));
        QCOMPARE(ask(*first, "*STB?"), QByteArray("68"));
        QCOMPARE(ask(*first, "SYST:ERR?;ERR?;ERR?;ERR?"),
                 QByteArray("-113,\"Undefined header\";-108,\"Parameter not allowed\";-109,\"Missing "
                            "parameter\";0,\"No error\""));
    }

    // With no instrument nothing leaves a client waiting.
    void noInstrumentAnswersAtOnce_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("error");
        const QByteArray none = "9.91E37";
        const QByteArray six = none + ',' + none + ',' + none + ',' + none + ',' + none + ',' + none;
        const QByteArray missing = "-241,\"Hardware missing\"";
        QTest::newRow("fetch") << QByteArray("FETC?") << six << missing;
        QTest::newRow("fetch one") << QByteArray("FETC:HEIG?") << none << missing;
        QTest::newRow("read") << QByteArray("READ?") << six << missing;
        QTest::newRow("measure") << QByteArray("MEAS:RATE?") << none << missing;
        QTest::newRow("identity") << QByteArray("*IDN?") << QByteArray("Quorvane,731942K,0,0") << missing;
        QTest::newRow("capture") << QByteArray("CAPT;*OPC?") << QByteArray("1") << missing;
        QTest::newRow("data") << QByteArray("CAPT:DATA?") << QByteArray("#10")
                              << QByteArray("-230,\"Data stale\"");
    }
    void noInstrumentAnswersAtOnce()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, error);
        serve(false);
        auto socket = client();
        QVERIFY(socket);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(ask(*socket, line), answer);
        QVERIFY2(clock.elapsed() < 300, QByteArray::number(clock.elapsed()).constData());
        QCOMPARE(ask(*socket, "SYST:ERR?;ERR?"), error + ";0,\"No error\"");
    }

    // READ? answers the reading that follows it, not the one before.
    void readWaitsForTheNextReading()
    {
        serve();
        auto socket = client();
        QVERIFY(socket);
        int readings = 0;
        connect(m_session.get(), &InstrumentSession::readingAccepted, socket.get(),
                [&readings] { ++readings; });
        socket->write("READ?\n");
        const QByteArray answer = readLines(*socket, 1).value(0);
        QCOMPARE(readings, 1);
        const MeasurementRow row = *m_session->lastReading();
        QCOMPARE(answer.split(',').value(0).toDouble(), row.heightValue().value());
    }

    // A capture: *OPC? answers once it has ended, and the block is the
    // instrument's bitmap, LF bytes inside and all.
    void captureCompletesBeforeOpcAnswers()
    {
        serve();
        auto socket = client();
        auto other = client();
        QVERIFY(socket && other);
        bool ended = false;
        connect(m_session.get(), &InstrumentSession::scanEnded, socket.get(), [&ended] { ended = true; });
        socket->write("CAPT;CAPT:STAT?;*OPC?;STAT?;PROG?\n");
        // Another client's capture while one runs is ignored, with -213.
        QTRY_VERIFY(m_session->scan() != InstrumentSession::Scan::Idle);
        QCOMPARE(ask(*other, "CAPT:IMM;:SYST:ERR?;*OPC?"), QByteArray("-213,\"Init ignored\";1"));
        const QList<QByteArray> lines = readLines(*socket, 1, 15000);
        QVERIFY(ended);
        QCOMPARE(lines, QList<QByteArray> {"RUNNING;1;COMPLETE;100"});

        socket->write("CAPT:DATA?\n");
        const QByteArray block = readBlock(*socket);
        const QByteArray bitmap = m_instrument->lastCapture();
        QCOMPARE(bitmap.size(), 182650);
        QVERIFY(bitmap.contains('\n'));
        QCOMPARE(block, "#6182650" + bitmap + '\n');

        socket->write("CAPT:DATA? PNG\n");
        const QByteArray pngBlock = readBlock(*socket);
        const int digits = pngBlock.at(1) - '0';
        const QImage picture
            = QImage::fromData(pngBlock.mid(2 + digits, pngBlock.size() - 3 - digits), "PNG");
        QCOMPARE(picture.size(), QSize(239, 254));
        QCOMPARE(
            picture.convertToFormat(QImage::Format_RGB32),
            Capture::shownPicture(QImage::fromData(bitmap, "BMP")).convertToFormat(QImage::Format_RGB32));
        QCOMPARE(drain(*socket, 100), QByteArray());
    }

    // *WAI holds the rest of the line until the capture has ended.
    void waitHoldsTheLine()
    {
        serve();
        auto socket = client();
        QVERIFY(socket);
        socket->write("CAPT;*WAI;CAPT:STAT?\n");
        QCOMPARE(readLines(*socket, 1, 15000), QList<QByteArray> {"COMPLETE"});
    }

    // Aborted: the instrument is asked to stop, the state says INCOMPLETE.
    void abortEndsTheCapture()
    {
        serve();
        m_instrument->setBaudRate(115200);
        auto socket = client();
        QVERIFY(socket);
        socket->write("CAPT\n");
        QTRY_VERIFY(m_session->captureOffset() > 0);
        QCOMPARE(ask(*socket, "CAPT:ABOR;*OPC?;STAT?"), QByteArray("1;INCOMPLETE"));
        QVERIFY(m_instrument->received().contains("scan\r\n"));
    }

    void fifthClientIsClosed()
    {
        serve();
        std::vector<std::unique_ptr<QTcpSocket>> clients;
        for (int i = 0; i < ScpiServer::MaximumClients; ++i) {
            clients.push_back(client());
            QVERIFY(clients.back());
        }
        QTRY_COMPARE(m_server->clientCount(), 4);
        auto fifth = client();
        QVERIFY(fifth);
        fifth->write("*IDN?\n");
        QTRY_COMPARE(fifth->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(fifth->readAll(), QByteArray());
        for (auto &socket : clients)
            QCOMPARE(ask(*socket, "*TST?"), QByteArray("0"));
        // One leaves: a new one is served.
        clients.front()->disconnectFromHost();
        QTRY_COMPARE(m_server->clientCount(), 3);
        auto next = client();
        QVERIFY(next);
        QCOMPARE(ask(*next, "*TST?"), QByteArray("0"));
    }

    void overlongLineIsDropped_data()
    {
        QTest::addColumn<qint64>("length");
        QTest::addColumn<bool>("overrun");
        QTest::newRow("64 KiB fits") << qint64(64 * 1024) << false;
        QTest::newRow("one more") << qint64(64 * 1024 + 1) << true;
        QTest::newRow("a megabyte") << qint64(1024 * 1024) << true;
    }
    void overlongLineIsDropped()
    {
        QFETCH(qint64, length);
        QFETCH(bool, overrun);
        serve();
        auto socket = client();
        QVERIFY(socket);
        // A line of blanks: when it fits, it is an empty line.
        socket->write(QByteArray(length, ' ') + "\n*TST?\n");
        QCOMPARE(readLines(*socket, 1, 5000), QList<QByteArray> {"0"});
        QCOMPARE(ask(*socket, "SYST:ERR?;ERR?"),
                 overrun ? QByteArray("-363,\"Input buffer overrun\";0,\"No error\"")
                         : QByteArray("0,\"No error\";0,\"No error\""));
        QCOMPARE(socket->state(), QAbstractSocket::ConnectedState);
    }

    // A flood of empty lines is taken quickly, and answers nothing.
    void floodOfEmptyLinesIsCheap()
    {
        serve();
        auto socket = client();
        QVERIFY(socket);
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 2; ++i)
            socket->write(QByteArray(64 * 1024, '\n'));
        socket->write("*TST?\n");
        QCOMPARE(readLines(*socket, 1, 10000), QList<QByteArray> {"0"});
        QVERIFY2(clock.elapsed() < 3000, QByteArray::number(clock.elapsed()).constData());
        QCOMPARE(ask(*socket, "SYST:ERR?"), QByteArray("0,\"No error\""));
    }

    // Binary garbage gets errors queued and nothing written back.
    void garbageGetsErrorsOnly()
    {
        serve();
        auto socket = client();
        QVERIFY(socket);
        QByteArray garbage;
        for (int i = 0; i < 4096; ++i)
            garbage += char((i * 7919) & 0xff);
        garbage.replace('\n', ';');
        socket->write(garbage + '\n');
        QCOMPARE(drain(*socket, 300), QByteArray());
        QCOMPARE(ask(*socket, "*TST?"), QByteArray("0"));
        const QByteArray count = ask(*socket, "SYST:ERR:COUN?");
        QVERIFY2(count.toInt() > 0 && count.toInt() <= 16, count.constData());
    }

    // A client that asks without reading is dropped past the bound; the
    // others are answered at once meanwhile.
    void clientThatNeverReadsIsDropped()
    {
        serve();
        auto socket = client();
        auto other = client();
        QVERIFY(socket && other);
        socket->write("CAPT;*OPC?\n");
        QCOMPARE(readLines(*socket, 1, 15000), QList<QByteArray> {"1"});
        // The greedy client reads nothing from now on.
        socket->setReadBufferSize(1);
        QByteArray requests;
        for (int i = 0; i < 400; ++i)
            requests += "CAPT:DATA?\n";
        socket->write(requests);
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
        QCOMPARE(ask(*other, "*IDN?"), QByteArray("Quorvane,731942K,20431,1.07"));
    }

    // A client that goes in the middle of a block harms nothing.
    void clientGoingMidBlockHarmsNothing()
    {
        serve();
        auto socket = client();
        QVERIFY(socket);
        socket->write("CAPT;*OPC?\n");
        QCOMPARE(readLines(*socket, 1, 15000), QList<QByteArray> {"1"});
        socket->write("CAPT:DATA?\n");
        QTRY_VERIFY(socket->bytesAvailable() > 0);
        socket->abort();
        QTRY_COMPARE(m_server->clientCount(), 0);
        auto next = client();
        QVERIFY(next);
        next->write("CAPT:DATA?\n");
        QCOMPARE(readBlock(*next).size(), qint64(8 + 182650 + 1));
    }

    // A client that shuts its side after its last line still gets the
    // answers, also those that come only after a reading or a capture.
    void halfClosedClientGetsItsAnswers_data()
    {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QByteArray>("pattern");
        QTest::newRow("at once") << QByteArray("*IDN?\n") << QByteArray("^Quorvane,731942K,20431,1\\.07\n$");
        QTest::newRow("after a reading")
            << QByteArray("READ?\n*TST?\n") << QByteArray("^0\\.\\d+,[^\n]*\n0\n$");
        QTest::newRow("after a capture") << QByteArray("CAPT;*OPC?\n") << QByteArray("^1\n$");
    }
    void halfClosedClientGetsItsAnswers()
    {
        QFETCH(QByteArray, lines);
        QFETCH(QByteArray, pattern);
        serve();
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        QVERIFY(fd >= 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(m_server->serverPort());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QCOMPARE(::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        QCOMPARE(::send(fd, lines.constData(), size_t(lines.size()), 0), ssize_t(lines.size()));
        QCOMPARE(::shutdown(fd, SHUT_WR), 0);
        QByteArray received;
        bool closed = false;
        (void)QTest::qWaitFor(
            [&] {
                char buffer[4096];
                const ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
                if (got > 0)
                    received.append(buffer, got);
                closed = got == 0;
                return closed;
            },
            15000);
        ::close(fd);
        QVERIFY(closed);
        QVERIFY2(
            QRegularExpression(QString::fromLatin1(pattern)).match(QString::fromLatin1(received)).hasMatch(),
            received.constData());
        QTRY_COMPARE(m_server->clientCount(), 0);
    }

    // Real lab clients: pyvisa with its pure-Python backend, and netcat.
    void pyvisaClient()
    {
        if (!QFile::exists(python()))
            QSKIP("no python3");
        serve();
        QProcess check;
        check.start(python(), {"-c", "import pyvisa, pyvisa_py"});
        check.waitForFinished();
        if (check.exitCode() != 0)
            QSKIP("pyvisa and pyvisa-py are not installed (scripts/install-dependencies.sh)");
        const QString script = QFINDTESTDATA("pyvisa_client.py");
        QVERIFY(!script.isEmpty());
        QTemporaryDir folder;
        const QString bitmapFile = folder.filePath("capture.bmp");
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(python(), {script, QString::number(m_server->serverPort()), bitmapFile});
        QVERIFY(QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 30000));
        const QByteArray output = process.readAll();
        QVERIFY2(process.exitCode() == 0, output.constData());
        QFile bitmap(bitmapFile);
        QVERIFY(bitmap.open(QIODevice::ReadOnly));
        QCOMPARE(bitmap.readAll(), m_instrument->lastCapture());
        QVERIFY2(output.contains("Quorvane,731942K,20431,1.07"), output.constData());
    }

    void netcatClient_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("identity") << QByteArray("*IDN?\n") << QByteArray("Quorvane,731942K,20431,1.07\n");
        QTest::newRow("error after unknown header")
            << QByteArray("FETC:NOISE?\nSYST:ERR?\n") << QByteArray("-113,\"Undefined header\"\n");
        QTest::newRow("read, then half-close") << QByteArray("READ?;:FETC:LOCK?\n") << QByteArray();
    }
    void netcatClient()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, expected);
        if (QStandardPaths::findExecutable("nc").isEmpty())
            QSKIP("netcat is not installed (scripts/install-dependencies.sh)");
        serve();
        QProcess nc;
        // -N: the side is shut after the input, as a script's pipe does.
        nc.start("nc", {"-N", "-q", "2", "127.0.0.1", QString::number(m_server->serverPort())});
        nc.write(input);
        nc.closeWriteChannel();
        QVERIFY(QTest::qWaitFor([&] { return nc.state() == QProcess::NotRunning; }, 10000));
        const QByteArray output = nc.readAllStandardOutput();
        if (expected.isEmpty())
            QVERIFY2(QRegularExpression("^[^,\n]+(,[^,\n]+){5};[01]\n$")
                         .match(QString::fromLatin1(output))
                         .hasMatch(),
                     output.constData());
        else
            QCOMPARE(output, expected);
    }
};

QTEST_GUILESS_MAIN(TestScpiServer)
#include "tst_scpiserver.moc"
