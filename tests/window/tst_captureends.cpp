#include "windowharness.h"

#include "io/capturefile.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

using namespace WindowHarness;

// How a capture ends when the instrument misbehaves: it goes away with bytes
// still unread, or it goes on sending after its bitmap.
class TestCaptureEnds : public QObject
{
    Q_OBJECT

private slots:
    void bytesThatArrivedBeforeTheLossAreKept()
    {
        // 91,000 bytes in the first 5 s after "SCAN\r\n", the cable pulled at
        // 5.5 s: before the first Capturing pass (8 s) read any of them.
        auto instrument = std::make_unique<SimulatedInstrument>();
        instrument->setBaudRate(200000);
        instrument->setScanCut(91000);
        auto window = makeWindow({instrument->devicePath()});
        MainWindowUi *ui = window->form();
        QVERIFY(connectTo(*window));
        QElapsedTimer sinceScan;
        connect(instrument.get(), &SimulatedInstrument::scanStarted, window.get(),
                [&] { sinceScan.start(); });
        const QString capture = m_dir.filePath("pulled.bmp");
        scanInto(*window, capture);
        QTRY_VERIFY_WITH_TIMEOUT(sinceScan.isValid() && sinceScan.elapsed() >= 5500, 8000);
        QCOMPARE(window->session()->captureOffset(), 0);
        instrument->vanish();
        QTRY_VERIFY_WITH_TIMEOUT(!capturing(*window), 1000);

        const QByteArray sent = instrument->lastCapture();
        QCOMPARE(sent.size(), 91000);
        QCOMPARE(window->session()->captureOffset(), 91000);
        QByteArray expected = fileBytes(Capture::templateFileName());
        expected.replace(0, sent.size(), sent);
        QCOMPARE(fileBytes(capture), expected);
        QVERIFY(showsBitmap(*window, expected));
        QCOMPARE(ui->ScanningLabel->text(), QString("Incomplete"));
        QVERIFY(ui->ScanningLabel->toolTip().contains("91000 of the 182650 bytes"));
        QCOMPARE(ui->ScanProgressBar->value(), 91000 / 1800);
    }
    void nothingPastTheBitmapIsWritten()
    {
        // An instrument that sends its bitmap over and over and does not stop on
        // "scan\r\n": the first Capturing pass already reads more than a bitmap.
        auto instrument = std::make_unique<SimulatedInstrument>();
        instrument->setBaudRate(400000);
        instrument->setStreamForever(true);
        auto window = makeWindow({instrument->devicePath()});
        MainWindowUi *ui = window->form();
        QVERIFY(connectTo(*window));
        QElapsedTimer clock;
        qint64 firstPieceAt = -1;
        qint64 stopAt = -1;
        connect(ui->ScanProgressBar, &QProgressBar::valueChanged, window.get(), [&] {
            if (firstPieceAt < 0)
                firstPieceAt = clock.elapsed();
        });
        connect(instrument.get(), &SimulatedInstrument::commandReceived, window.get(),
                [&](const QByteArray &command) {
                    if (command == "scan" && stopAt < 0)
                        stopAt = clock.elapsed();
                });
        const QString capture = m_dir.filePath("endless.bmp");
        clock.start();
        scanInto(*window, capture);
        QTRY_VERIFY_WITH_TIMEOUT(firstPieceAt >= 0, 10000);
        QCOMPARE(fileBytes(capture).size(), 182650);

        // Asked to stop after 2 s of bytes past the bitmap; since they keep
        // coming, the scan ends 2 s later with the file as the header says.
        QTRY_VERIFY_WITH_TIMEOUT(!capturing(*window), 6000);
        const qint64 ended = clock.elapsed();
        QVERIFY2(stopAt - firstPieceAt >= 1900 && stopAt - firstPieceAt < 2700,
                 qPrintable(QString::number(stopAt - firstPieceAt)));
        QVERIFY2(ended - firstPieceAt >= 3900 && ended - firstPieceAt < 4800,
                 qPrintable(QString::number(ended - firstPieceAt)));
        QCOMPARE(fileBytes(capture), instrument->lastCapture());
        QCOMPARE(ui->ScanProgressBar->value(), 100);
        QCOMPARE(ui->ScanningLabel->text(), QString());
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestCaptureEnds)
#include "tst_captureends.moc"
