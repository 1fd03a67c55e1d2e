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

using namespace WindowHarness;

// Remote control from the window: --listen, the menu entry, and a remote
// capture shown as the Scan button's.
class TestRemoteControl : public QObject
{
    Q_OBJECT

private:
    // A port nothing listens on now.
    static quint16 freePort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }

    static QByteArray ask(QTcpSocket &socket, const QByteArray &line, int timeoutMs = 3000)
    {
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

    static QAction *entry(MainWindow &window)
    {
        return window.findChild<QAction *>(QStringLiteral("remoteControlAction"));
    }

    // The entry's text as the menu shows it when it opens.
    static QString shownText(MainWindow &window)
    {
        auto *menu = window.findChild<QMenu *>();
        emit menu->aboutToShow();
        return entry(window)->text();
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void readsListen_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("port");
        QTest::newRow("not given") << QStringList() << true << QString() << 0;
        QTest::newRow("port alone is this machine")
            << QStringList {"--listen", "5025"} << true << "127.0.0.1" << 5025;
        QTest::newRow("address and port")
            << QStringList {"--listen", "0.0.0.0:6000"} << true << "0.0.0.0" << 6000;
        QTest::newRow("IPv6") << QStringList {"--listen=[::1]:5025"} << true << "::1" << 5025;
        QTest::newRow("localhost") << QStringList {"--listen", "localhost:5025"} << true << "127.0.0.1"
                                   << 5025;
        QTest::newRow("no port") << QStringList {"--listen", "127.0.0.1:"} << false << QString() << 0;
        QTest::newRow("port too large") << QStringList {"--listen", "70000"} << false << QString() << 0;
        QTest::newRow("not a number") << QStringList {"--listen", "http"} << false << QString() << 0;
        QTest::newRow("host name") << QStringList {"--listen", "lab.example:5025"} << false << QString() << 0;
        QTest::newRow("missing value") << QStringList {"--listen"} << false << QString() << 0;
    }
    void readsListen()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, valid);
        QFETCH(QString, address);
        QFETCH(int, port);
        QCommandLineParser parser;
        QString error;
        const auto commandLine = parseCommandLine(parser, QStringList {"zentaval"} + arguments, &error);
        QCOMPARE(commandLine.has_value(), valid);
        if (!valid) {
            QVERIFY(!error.isEmpty());
            return;
        }
        QCOMPARE(commandLine->listen, !address.isEmpty());
        if (!address.isEmpty()) {
            QCOMPARE(commandLine->listenAddress.toString(), address);
            QCOMPARE(int(commandLine->listenPort), port);
        }
    }

    // The program itself: a bad value exits 2, an address in use 6 with the
    // address and the reason.
    void programExitStatus()
    {
        const QString program = QCoreApplication::applicationDirPath() + "/zentaval";
        if (!QFile::exists(program))
            QSKIP("zentaval is not built beside the test");
        QProcess bad;
        bad.start(program, {"--listen", "nonsense"});
        QVERIFY(bad.waitForFinished(10000));
        QCOMPARE(bad.exitCode(), 2);
        QVERIFY(bad.readAllStandardError().contains("--listen"));

        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
        QProcess inUse;
        inUse.start(program, {"--listen", QString::number(taken.serverPort())});
        QVERIFY(inUse.waitForFinished(10000));
        QCOMPARE(inUse.exitCode(), 6);
        const QByteArray error = inUse.readAllStandardError();
        QVERIFY2(error.contains("127.0.0.1:" + QByteArray::number(taken.serverPort())), error.constData());
    }

    // The entry starts and stops serving and says where and to how many.
    void menuEntryServes()
    {
        auto window = makeWindow({});
        window->show();
        const quint16 port = freePort();
        window->setRemoteControlAddress(QHostAddress::LocalHost, port);
        QAction *remote = entry(*window);
        QVERIFY(remote);
        QCOMPARE(remote->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_R));
        QVERIFY(remote->isCheckable());
        QCOMPARE(shownText(*window), QStringLiteral("Remote Control"));

        remote->trigger();
        QVERIFY(window->remoteControl());
        QVERIFY(remote->isChecked());
        const QString address = QStringLiteral("127.0.0.1:%1").arg(port);
        QCOMPARE(remote->text(), QStringLiteral("Remote Control (%1, 0 clients)").arg(address));

        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(client.waitForConnected(2000));
        QTRY_COMPARE(remote->text(), QStringLiteral("Remote Control (%1, 1 client)").arg(address));
        // No instrument yet: answered at once, with -241 queued.
        QCOMPARE(ask(client, "FETC:HEIG?;:SYST:ERR?"), QByteArray("9.91E37;-241,\"Hardware missing\"\n"));

        remote->trigger();
        QVERIFY(!window->remoteControl());
        QVERIFY(!remote->isChecked());
        QCOMPARE(remote->text(), QStringLiteral("Remote Control"));
        QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
        QTcpSocket refused;
        refused.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(!refused.waitForConnected(1000));
    }

    // An address that cannot be listened on: a message box, and the window
    // goes on without serving.
    void addressInUseSaysSo()
    {
        auto window = makeWindow({});
        window->show();
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
        window->setRemoteControlAddress(QHostAddress::LocalHost, taken.serverPort());
        QString boxText;
        QTimer::singleShot(200, [&boxText] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            boxText = box->text();
            box->accept();
        });
        entry(*window)->trigger();
        QVERIFY2(boxText.contains(QStringLiteral("127.0.0.1:%1").arg(taken.serverPort())),
                 qPrintable(boxText));
        QVERIFY(!window->remoteControl());
        QVERIFY(!entry(*window)->isChecked());
        QCOMPARE(shownText(*window), QStringLiteral("Remote Control"));
    }

    // CAPT from a client is the Scan button's scan into the proposed file,
    // shown as such, without a dialog; *OPC? answers once it has ended.
    void remoteCaptureIsTheScanButtons()
    {
        SimulatedInstrument instrument;
        QVERIFY(instrument.isOpen());
        instrument.setBaudRate(4000000);
        auto window = makeWindow({instrument.devicePath()});
        window->show();
        QVERIFY(connectTo(*window));
        window->setRemoteControlAddress(QHostAddress::LocalHost, freePort());
        QVERIFY(window->startRemoteControl());
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, window->remoteControlPort());
        QVERIFY(client.waitForConnected(2000));
        QCOMPARE(ask(client, "*IDN?"), QByteArray("Quorvane,731942K,20431,1.07\n"));

        const QString proposed = Capture::proposedCaptureFile(window->session()->captureFileName(),
                                                              QDateTime::currentDateTime());
        client.write("CAPT\n");
        QTRY_COMPARE(window->form()->ScanningLabel->text(), QStringLiteral("Scanning..."));
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(QFileInfo(window->session()->captureFileName()).absolutePath(),
                 QFileInfo(proposed).absolutePath());
        QVERIFY(QFileInfo(window->session()->captureFileName()).fileName().startsWith("Zentaval-"));
        QCOMPARE(ask(client, "*OPC?;CAPT:STAT?", 20000), QByteArray("1;COMPLETE\n"));
        QVERIFY(window->session()->scan() == InstrumentSession::Scan::Idle);
        QCOMPARE(fileBytes(window->session()->captureFileName()), instrument.lastCapture());
        QVERIFY(showsBitmap(*window, instrument.lastCapture()));
        QFile::remove(window->session()->captureFileName());
    }
};

QTEST_MAIN(TestRemoteControl)
#include "tst_remotecontrol.moc"
