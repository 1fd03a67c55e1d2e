#include "processusage.h"
#include "rules/delays.h"
#include "windowharness.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTextEdit>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace WindowHarness;

namespace {

std::unique_ptr<SimulatedInstrument> instrument(int serialNumber)
{
    auto simulated = std::make_unique<SimulatedInstrument>();
    simulated->setIdentificationAnswer(SimulatedInstrument::defaultIdentificationAnswer(serialNumber));
    return simulated;
}

QString rowFor(const QString &path, int serialNumber)
{
    return path + ": " + SimulatedInstrument::defaultIdentificationAnswer(serialNumber).mid(1).chopped(1);
}

bool shows(const QLabel *label, const char *picture)
{
    return label->pixmap().toImage() == QPixmap(QString(":/new/prefix1/") + picture).toImage();
}

QStringList logLines(const MainWindow &window)
{
    return window.form()->ResultsBox->toPlainText().split('\n');
}

} // namespace

class TestLink : public QObject
{
    Q_OBJECT

private slots:
    void discoversConnectsAndPolls()
    {
        auto first = instrument(1);
        auto held = instrument(2);
        auto silent = instrument(3);
        silent->setSilent(true);
        auto second = instrument(4);
        // Another program holds this port; this file is no terminal.
        QSerialPort holder;
        holder.setPortName(held->devicePath());
        QVERIFY(holder.open(QIODevice::ReadWrite));
        const QString notATerminal = m_dir.filePath("ttyFile");
        QFile file(notATerminal);
        QVERIFY(file.open(QIODevice::WriteOnly));
        // The system holds 115200 baud, two stop bits for the second instrument's
        // line (a pseudo-terminal keeps no other frame than 8 bits, no parity).
        const int fd = ::open(second->devicePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        termios settings {};
        QVERIFY(fd >= 0 && ::tcgetattr(fd, &settings) == 0);
        cfsetspeed(&settings, B115200);
        settings.c_cflag |= CSTOPB;
        QVERIFY(::tcsetattr(fd, TCSANOW, &settings) == 0);

        auto window = makeWindow({first->devicePath(), held->devicePath(), silent->devicePath(), notATerminal,
                                  second->devicePath()});
        MainWindowUi *ui = window->form();
        QVERIFY(!ui->PortSelBox->isEnabled());
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(window->session()->discoveryOver(), 6000);
        // 600 ms, then one second for each of the three free ports that opened.
        QVERIFY2(clock.elapsed() >= 3400 && clock.elapsed() < 4500,
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(rows(*window),
                 (QStringList {"Select a Device", rowFor(first->devicePath(), 1),
                               rowFor(second->devicePath(), 4)}));
        QCOMPARE(window->session()->rowCount(), 2);
        QCOMPARE(held->received(), QByteArray());
        QCOMPARE(silent->received() + second->received(), QByteArray("?\r\n?\r\n"));
        const QStringList log = logLines(*window);
        QCOMPARE(log.mid(0, 8),
                 (QStringList {first->devicePath(), " Not busy", held->devicePath(), " Busy",
                               silent->devicePath(), " Not busy", notATerminal, " Not busy"}));
        QVERIFY(log.at(8).startsWith(" Not opened: "));
        QCOMPARE(log.count(notATerminal), 1);

        // The second instrument: identification, title, then polling twice a second.
        // It answers "?" in 300 ms; the answer is collected at 400 ms.
        second->setIdentificationDelay(300);
        second->clearReceived();
        second->queueMeasurementReply(QByteArray("read 0  1  12.5 380 45 52 9953.2", 32) + '\0');
        second->queueMeasurementReply("read 0  1  1 2 3 4 5"); // no closing NUL: dropped
        chooseRow(*window, 2);
        QVERIFY(shows(ui->LEDCOM, "LED_Green.png"));
        QVERIFY(!ui->PortSelBox->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(second->received(), QByteArray("?\r\n"), 300);
        QTRY_COMPARE_WITH_TIMEOUT(
            window->windowTitle(),
            "Zentaval " + QString::fromLatin1(SimulatedInstrument::defaultIdentificationAnswer(4).mid(1)),
            600);
        QTRY_COMPARE_WITH_TIMEOUT(ui->QFactorLabel->text(), QString("12.5%"), 1000);
        QCOMPARE(ui->AmplitudeBar->value(), 380);
        QVERIFY(shows(ui->LEDStat, "LED_Green.png"));
        QTRY_VERIFY_WITH_TIMEOUT(second->received().count("read\r\n") >= 3, 1500);
        QCOMPARE(ui->QFactorLabel->text(), QString("12.5%"));
        // Connected, the line keeps the system's settings.
        QVERIFY(::tcgetattr(fd, &settings) == 0);
        QCOMPARE(cfgetospeed(&settings), speed_t(B115200));
        QCOMPARE(settings.c_cflag & CSTOPB, tcflag_t(CSTOPB));
        ::close(fd);

        // While the port list has the focus, the polling rests.
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        ui->PortSelBox->setEnabled(true);
        ui->PortSelBox->setFocus();
        QTRY_VERIFY(ui->PortSelBox->hasFocus());
        QTest::qWait(600);
        second->clearReceived();
        QTest::qWait(1100);
        QCOMPARE(second->received(), QByteArray());

        // The other program lets its port go: it is asked again and listed.
        holder.close();
        QTRY_COMPARE_WITH_TIMEOUT(rows(*window).value(3), rowFor(held->devicePath(), 2), 4000);

        // Losses, probes and captures add lines to the hidden diagnostic log for
        // as long as the window runs; it keeps the last few hundred.
        for (int line = 0; line < 1000; ++line)
            ui->ResultsBox->append(QStringLiteral(" Lost: pulled %1").arg(line));
        QCOMPARE(ui->ResultsBox->document()->blockCount(), 300);
        QCOMPARE(logLines(*window).first(), QString(" Lost: pulled 700"));
    }
    void findsPortsPluggedInLaterAndDropsGoneOnes()
    {
        // A /dev/serial/by-id link that does not exist until the adapter is plugged in.
        const QString link = m_dir.filePath("ttyLater");
        // The instrument present from the start is reached by a link of its own
        // too: a pseudo-terminal's number may be taken again at once by another
        // program's, as a by-id link goes with its adapter.
        const QString presentLink = m_dir.filePath("ttyPresent");
        auto present = instrument(1);
        QVERIFY(QFile::link(present->devicePath(), presentLink));
        auto window = makeWindow({presentLink, link});
        QTRY_VERIFY_WITH_TIMEOUT(window->session()->discoveryOver(), 3000);
        QCOMPARE(window->form()->PortSelBox->count(), 2);

        auto later = instrument(2);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(QFile::link(later->devicePath(), link));
        QTRY_COMPARE_WITH_TIMEOUT(rows(*window).value(2), rowFor(link, 2), 4000);
        qInfo("Plugged in to listed: %lld ms", clock.elapsed());

        // Connected to the late one, the first is unplugged: its row goes, and
        // the connected port is never probed.
        QVERIFY(connectTo(*window, 2));
        later->clearReceived();
        present.reset();
        QFile::remove(presentLink);
        QTRY_COMPARE_WITH_TIMEOUT(rows(*window), (QStringList {"Select a Device", rowFor(link, 2)}), 3000);
        QTest::qWait(2500);
        QVERIFY(!later->received().contains("?"));
        QCOMPARE(window->form()->PortSelBox->currentIndex(), 1);
    }
    void lostInstrumentReconnectsByItself()
    {
        const QString link = m_dir.filePath("ttyReplugged");
        auto simulated = instrument(7);
        QVERIFY(QFile::link(simulated->devicePath(), link));
        simulated->setBaudRate(100000);
        auto window = makeWindow({link});
        MainWindowUi *ui = window->form();
        QVERIFY(connectTo(*window));
        const QString capture = m_dir.filePath("lost.bmp");
        scanInto(*window, capture);
        QTRY_VERIFY_WITH_TIMEOUT(ui->ScanProgressBar->value() > 0, 10000);

        // Unplugged mid-scan, its by-id link gone with it: the lamp says so, the
        // capture keeps what came.
        simulated->vanish();
        QFile::remove(link);
        QTRY_VERIFY_WITH_TIMEOUT(shows(ui->LEDCOM, "LED_Red.png"), 1500);
        QVERIFY(shows(ui->LEDStat, "LED_Grey.png") && ui->PortSelBox->isEnabled());
        const QByteArray saved = fileBytes(capture);
        QCOMPARE(saved.size(), 182650);
        QVERIFY(window->session()->captureOffset() > 0
                && saved.startsWith(simulated->lastCapture().left(window->session()->captureOffset())));
        // Lost, the program rests: the hung-up port errs at every turn of the
        // event loop until it is closed, and with no port there the watch never
        // probes (and so never closes) it.
        const qint64 cpuBefore = ProcessUsage::cpuMilliseconds();
        QTest::qWait(1500);
        QVERIFY2(ProcessUsage::cpuMilliseconds() - cpuBefore < 150,
                 qPrintable(QString::number(ProcessUsage::cpuMilliseconds() - cpuBefore)));

        // Plugged in again behind the same link: connected and polled, no click.
        simulated = instrument(7);
        QVERIFY(QFile::link(simulated->devicePath(), link));
        QTRY_VERIFY_WITH_TIMEOUT(shows(ui->LEDCOM, "LED_Green.png"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(simulated->received().count("read\r\n") >= 2, 2000);
        QVERIFY(simulated->received().startsWith("?\r\n?\r\n"));
        QVERIFY(!ui->PortSelBox->isEnabled());

        // Lost while a scan waits 8 s for its first data, and back at once: one
        // chain polls from the reconnection on, through the time the lost chain's
        // pass was due.
        scanInto(*window, capture);
        QTRY_VERIFY_WITH_TIMEOUT(simulated->received().contains("SCAN"), 3000);
        QElapsedTimer sinceScan;
        sinceScan.start();
        simulated->vanish();
        simulated = instrument(7);
        QFile::remove(link);
        QVERIFY(QFile::link(simulated->devicePath(), link));
        QTRY_VERIFY_WITH_TIMEOUT(simulated->received().contains("read\r\n"), 5000);
        while (sinceScan.elapsed() < Delay::FirstCapturePiece + 3000) {
            const int reads = simulated->received().count("read\r\n");
            QTest::qWait(1000);
            const int readsPerSecond = simulated->received().count("read\r\n") - reads;
            QVERIFY2(readsPerSecond >= 1 && readsPerSecond <= 3,
                     qPrintable(QString("%1 at %2 ms").arg(readsPerSecond).arg(sinceScan.elapsed())));
        }
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestLink)
#include "tst_link.moc"
