#include "io/scpiserver.h"
#include "window/commandline.h"
#include "windowharness.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <csignal>

using namespace WindowHarness;

// Remote control as users run it: --listen, the window's menu entry and a
// remote capture shown as the Scan button's; zentaval-cli serve, the built
// program without a display, over simulated instruments.
class TestRemoteControl : public QObject
{
    Q_OBJECT

private:
    // Consecutive ports nothing listens on now.
    static quint16 freePorts(int count = 1)
    {
        for (quint16 first = 20000 + quint16(QCoreApplication::applicationPid() % 20000);; first += 7) {
            bool allFree = true;
            for (int i = 0; i < count && allFree; ++i)
                allFree = QTcpServer().listen(QHostAddress::LocalHost, quint16(first + i));
            if (allFree)
                return first;
        }
    }

    // The built program; zentaval-cli without a display.
    static std::unique_ptr<QProcess> run(const QStringList &arguments)
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (arguments.first() == "zentaval-cli") {
            for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
                environment.remove(name);
        }
        process->setProcessEnvironment(environment);
        process->start(QCoreApplication::applicationDirPath() + '/' + arguments.first(), arguments.mid(1));
        return process;
    }

    // The answer to `line`: a line, or `size` bytes ending one.
    static QByteArray ask(QTcpSocket &socket, const QByteArray &line, qsizetype size = 0,
                          int timeoutMs = 5000)
    {
        socket.write(line + '\n');
        QByteArray received;
        (void)QTest::qWaitFor(
            [&] { return (received += socket.readAll()).endsWith('\n') && received.size() >= size; },
            timeoutMs);
        return received;
    }
    static QByteArray ask(quint16 port, const QByteArray &line, qsizetype size = 0, int timeoutMs = 5000)
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        return socket.waitForConnected(2000) ? ask(socket, line, size, timeoutMs) : "<not connected>";
    }

    static bool waitFor(QProcess &process, QByteArray &err, const QByteArray &text)
    {
        return QTest::qWaitFor([&] { return (err += process.readAllStandardError()).contains(text); }, 8000);
    }

    // The Remote Control entry's text as the menu shows it when it opens.
    static QString shownText(MainWindow &window)
    {
        emit window.findChild<QMenu *>()->aboutToShow();
        return window.findChild<QAction *>(QStringLiteral("remoteControlAction"))->text();
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // --listen's value as the window reads it, with the function serve uses
    // too: where it serves, " beyond" when clients beyond this machine reach
    // it, "refused" with a reason, "none" when not given.
    void readsListen_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("expected");
        auto row = [](const char *name, const QString &value, const QString &expected) {
            QTest::newRow(name) << QStringList {"--listen", value} << expected;
        };
        QTest::newRow("not given") << QStringList() << "none";
        QTest::newRow("missing value") << QStringList {"--listen"} << "refused";
        QTest::newRow("with =") << QStringList {"--listen=[::1]:5025"} << "[::1]:5025";
        row("port alone", "5025", "127.0.0.1:5025");
        row("other loopback", "127.0.0.2:6000", "127.0.0.2:6000");
        row("localhost", "localhost:5025", "127.0.0.1:5025");
        row("every interface", "0.0.0.0:5025", "0.0.0.0:5025 beyond");
        row("one interface", "192.0.2.7:5025", "192.0.2.7:5025 beyond");
        row("IPv6 any", "[::]:5025", "[::]:5025 beyond");
        row("port 0: any free", "127.0.0.1:0", "127.0.0.1:0");
        row("no port", "127.0.0.1:", "refused");
        row("port too large", "65536", "refused");
        row("negative port", "-1", "refused");
        row("plus sign", "+5025", "refused");
        row("host name", "lab.example:5025", "refused");
        row("bad address", "300.1.1.1:5025", "refused");
    }
    void readsListen()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, expected);
        QCommandLineParser parser;
        QString error;
        const auto line = parseCommandLine(parser, QStringList {"zentaval"} + arguments, &error);
        QCOMPARE(error.isEmpty(), line.has_value());
        QString shown = !line ? "refused"
            : !line->listen   ? "none"
                              : listenAddressText(line->listenAddress, line->listenPort);
        if (line && line->listen && reachesBeyondThisMachine(line->listenAddress))
            shown += " beyond";
        QCOMPARE(shown, expected);
    }

    // A bad value is a usage error (2), an address in use (TAKEN) ends
    // either program with 6, the address and the reason.
    void exitStatus_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        const auto row = [](const char *name, const QString &arguments, int status, const QString &said) {
            QTest::newRow(name) << arguments.split(' ') << status << said;
        };
        row("window: bad value", "zentaval --listen nonsense", 2, "--listen");
        row("window: in use", "zentaval --listen TAKEN", 6, "127.0.0.1:TAKEN");
        row("serve: bad address", "zentaval-cli serve --listen 999.1.1.1:5025", 2, "--listen");
        row("serve: bad port", "zentaval-cli serve --listen 127.0.0.1:port", 2, "--listen");
        row("serve: --count", "zentaval-cli serve --listen 5025 --count 3", 2, "--count");
        row("serve: in use", "zentaval-cli serve --listen TAKEN none", 6, "127.0.0.1:TAKEN");
        row("window: --http in use", "zentaval --http 127.0.0.1:TAKEN", 6, "127.0.0.1:TAKEN");
        row("window: --http bad", "zentaval --http x:1", 2, "--http");
        row("window: no token file", "zentaval --http 127.0.0.1:TAKEN --http-token-file /nonexistent/token", 2, "token");
        row("serve: --http in use", "zentaval-cli serve --listen 0 --http 127.0.0.1:TAKEN none", 6, "127.0.0.1:TAKEN");
        row("serve: no token file",
            "zentaval-cli serve --listen 0 --http 127.0.0.1:TAKEN --http-token-file /nonexistent/token", 2, "token");
    }
    void exitStatus()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, said);
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
        const QString port = QString::number(taken.serverPort());
        auto process = run(arguments.replaceInStrings("TAKEN", port));
        QVERIFY(process->waitForFinished(10000));
        QCOMPARE(process->exitCode(), status);
        const QByteArray err = process->readAllStandardError();
        QVERIFY2(err.contains(said.replace("TAKEN", port).toUtf8()), err.constData());
    }

    // The Web Page entry says where, starts and stops it, and the page's
    // JSON shows the instrument polled. The Remote Control entry starts and
    // stops serving and says where and to how many; an address that cannot
    // be listened on gets a message box, and the window goes on without
    // serving. CAPT from a client is the Scan button's scan into the proposed
    // file, shown as such, without a dialog; *OPC? answers once it has ended;
    // CAPT:ABOR before the next poll withdraws it.
    void remoteCaptureIsTheScanButtons()
    {
        SimulatedInstrument instrument;
        instrument.setBaudRate(4000000);
        auto window = makeWindow({instrument.devicePath()});
        window->show();
        QVERIFY(connectTo(*window));
        const quint16 httpPort = freePorts();
        const auto readingJson = [httpPort] {
            QTcpSocket client;
            client.connectToHost(QHostAddress::LocalHost, httpPort);
            QByteArray answer;
            if (client.waitForConnected(200) && client.write("GET /reading.json HTTP/1.0\r\n\r\n"))
                (void)QTest::qWaitFor([&] { return (answer += client.readAll()).endsWith("]}"); }, 2000);
            return answer;
        };
        QAction *http = window->findChild<QAction *>(QStringLiteral("httpAction"));
        window->setHttpAddress(QHostAddress::LocalHost, httpPort);
        http->trigger();
        QCOMPARE(http->text(), QStringLiteral("Web Page and Metrics (http://127.0.0.1:%1/)").arg(httpPort));
        QByteArray answer;
        QTRY_VERIFY((answer = readingJson()).contains("\"state\":\"polling\""));
        QVERIFY2(answer.contains(("\"device\":\"" + instrument.devicePath() + "\"").toUtf8()), answer.constData());
        http->trigger();
        QCOMPARE(http->text(), QStringLiteral("Web Page and Metrics"));
        QCOMPARE(readingJson(), QByteArray());

        auto *remote = window->findChild<QAction *>(QStringLiteral("remoteControlAction"));
        QCOMPARE(remote->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_R));
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
        window->setRemoteControlAddress(QHostAddress::LocalHost, taken.serverPort());
        QString boxText;
        answerMessageBox(&boxText);
        remote->trigger();
        QVERIFY2(boxText.contains(QStringLiteral("127.0.0.1:%1").arg(taken.serverPort())), qPrintable(boxText));
        QVERIFY(!window->remoteControl() && !remote->isChecked());
        QCOMPARE(shownText(*window), QStringLiteral("Remote Control"));

        const quint16 port = freePorts();
        window->setRemoteControlAddress(QHostAddress::LocalHost, port);
        remote->trigger();
        QVERIFY(remote->isChecked());
        const QString address = QStringLiteral("127.0.0.1:%1").arg(port);
        QCOMPARE(remote->text(), QStringLiteral("Remote Control (%1, 0 clients)").arg(address));
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(client.waitForConnected(2000));
        QTRY_COMPARE(remote->text(), QStringLiteral("Remote Control (%1, 1 client)").arg(address));
        QCOMPARE(ask(client, "*IDN?"), QByteArray("Quorvane,731942K,20431,1.07\n"));

        // Withdrawn before it begins: the window stops saying so, the file
        // stays the template.
        QCOMPARE(ask(client, "CAPT;CAPT:ABOR;*OPC?;STAT?"), QByteArray("1;IDLE\n"));
        QCOMPARE(window->form()->ScanningLabel->text(), QString());
        QCOMPARE(fileBytes(window->session()->captureFileName()), fileBytes(Capture::templateFileName()));
        QFile::remove(window->session()->captureFileName());

        const QString proposed = Capture::proposedCaptureFile(window->session()->captureFileName(),
                                                              QDateTime::currentDateTime());
        client.write("CAPT\n");
        QTRY_COMPARE(window->form()->ScanningLabel->text(), QStringLiteral("Scanning..."));
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(QFileInfo(window->session()->captureFileName()).absolutePath(),
                 QFileInfo(proposed).absolutePath());
        QVERIFY(QFileInfo(window->session()->captureFileName()).fileName().startsWith("Zentaval-"));
        QCOMPARE(ask(client, "*OPC?;CAPT:STAT?", 0, 20000), QByteArray("1;COMPLETE\n"));
        QVERIFY(window->session()->scan() == InstrumentSession::Scan::Idle);
        QCOMPARE(fileBytes(window->session()->captureFileName()), instrument.lastCapture());
        QVERIFY(showsBitmap(*window, instrument.lastCapture()));
        QFile::remove(window->session()->captureFileName());

        remote->trigger();
        QVERIFY(!remote->isChecked());
        QCOMPARE(remote->text(), QStringLiteral("Remote Control"));
        QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
        QTcpSocket refused;
        refused.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(!refused.waitForConnected(1000));
    }

    // Each device on its own port, one after the other; a device not there
    // yet is served with errors, and from when it appears; a capture at the
    // tool's pace is kept in memory and sent as a block; SIGTERM ends it with 0.
    void serveServesEachDeviceOnItsPort()
    {
        SimulatedInstrument first;
        SimulatedInstrument second;
        SimulatedInstrument later;
        first.setBaudRate(4000000);
        second.setIdentificationAnswer(SimulatedInstrument::defaultIdentificationAnswer(555));
        QTemporaryDir folder;
        const QString link = folder.filePath("ttyZentaval");
        const quint16 port = freePorts(3);
        const QStringList devices {first.devicePath(), second.devicePath()};
        auto process = run(QStringList {"zentaval-cli", "serve", "--listen", QStringLiteral("127.0.0.1:%1").arg(port)}
                           + devices + QStringList {link});
        QByteArray err;
        QVERIFY2(waitFor(*process, err, "S/N 555"), err.constData());
        for (int i = 0; i < 2; ++i)
            QVERIFY2(err.contains(QStringLiteral("%1 on 127.0.0.1:%2").arg(devices[i]).arg(port + i).toUtf8()), err);
        QCOMPARE(ask(port, "*IDN?"), QByteArray("Quorvane,731942K,20431,1.07\n"));
        QCOMPARE(ask(port + 1, "*IDN?"), QByteArray("Quorvane,731942K,555,1.07\n"));
        QCOMPARE(ask(port + 2, "MEAS:HEIG?;:SYST:ERR?;*IDN?"),
                 QByteArray("9.91E37;-241,\"Hardware missing\";Quorvane,731942K,0,0\n"));
        QVERIFY(QFile::link(later.devicePath(), link));
        QVERIFY2(waitFor(*process, err, (link + " at 127.0.0.1").toUtf8()), err.constData());
        QCOMPARE(ask(port + 2, "*IDN?;:SYST:ERR?"), QByteArray("Quorvane,731942K,20431,1.07;0,\"No error\"\n"));
        QVERIFY(ask(port, "READ?").startsWith("0."));
        const QByteArray captured = ask(port, "CAPT;*OPC?;:CAPT:DATA?", 10 + 182650 + 1, 15000);
        QCOMPARE(captured, "1;#6182650" + first.lastCapture() + '\n');

        ::kill(pid_t(process->processId()), SIGTERM);
        QVERIFY(QTest::qWaitFor([&] { return process->state() == QProcess::NotRunning; }, 5000));
        QCOMPARE(process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1, 0);
    }
};

QTEST_MAIN(TestRemoteControl)
#include "tst_remotecontrol.moc"
