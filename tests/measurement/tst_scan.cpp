#include "support/connectedwindow.h"

#include "measurement/capture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTransform>

using namespace WindowHarness;

namespace {

QByteArray fileBytes(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray templateBytes()
{
    return fileBytes(Capture::templateFileName());
}

// The picture in EyePlot is the capture file's, turned a quarter turn.
bool showsTheFile(const MainWindowUi *ui, const QString &fileName)
{
    const QImage file = QImage(fileName).transformed(QTransform().rotate(90));
    return !file.isNull()
           && ui->EyePlot->pixmap().toImage().convertToFormat(QImage::Format_RGB32)
                  == file.convertToFormat(QImage::Format_RGB32);
}

// Pixel bytes of a bitmap stream, all alike.
QByteArray streamBytes(int size, char fill)
{
    return QByteArray(size, fill);
}

} // namespace

class TestScan : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void capturesTheInstrumentsBitmapIntoTheChosenFile();
    void placesPiecesAndEndsWhenTheDataStops();
    void endsAfterTwentyEmptyPollsWithoutData();
    void cancelledDialogTouchesNothing();
    void unwritableFileIsReportedAndNoScanStarts();

private:
    QTemporaryDir m_dir;
};

void TestScan::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QCOMPARE(templateBytes().size(), 182650);
}

void TestScan::capturesTheInstrumentsBitmapIntoTheChosenFile()
{
    ConnectedWindow connected;
    // About nine seconds of stream: most of it arrives in the first piece,
    // the rest over the following passes.
    connected.instrument->setBaudRate(200000);
    QVERIFY(connected.connect());
    MainWindowUi *ui = connected.ui;

    QElapsedTimer clock;
    clock.start();
    qint64 scanSentAt = -1;
    qint64 firstPieceAt = -1;
    connect(connected.instrument.get(), &SimulatedInstrument::commandReceived, this,
            [&](const QByteArray &command) {
                if (command == "SCAN")
                    scanSentAt = clock.elapsed();
            });
    connect(ui->ScanProgressBar, &QProgressBar::valueChanged, this, [&] {
        if (firstPieceAt < 0)
            firstPieceAt = clock.elapsed();
    });

    const QString capture = m_dir.filePath("eye.bmp");
    answerSaveDialog(capture);
    QTest::mouseClick(ui->ScanBtn, Qt::LeftButton);
    QCOMPARE(fileBytes(capture), templateBytes());
    QCOMPARE(ScanCountdown, 20);
    QCOMPARE(ui->ScanningLabel->text(), QString("Scanning..."));

    QTRY_VERIFY_WITH_TIMEOUT(scanSentAt >= 0, 1500);
    QTRY_VERIFY_WITH_TIMEOUT(firstPieceAt >= 0, 10000);
    const qint64 wait = firstPieceAt - scanSentAt;
    QVERIFY2(wait > 7800 && wait < 8600, qPrintable(QString::number(wait)));

    QTRY_COMPARE_WITH_TIMEOUT(PollMode, Monitoring, 8000);
    const QByteArray sent = connected.instrument->lastCapture();
    QCOMPARE(sent.size(), 182650);
    QCOMPARE(fileBytes(capture), sent);
    QCOMPARE(ui->ScanProgressBar->value(), 100);
    QCOMPARE(ui->ScanningLabel->text(), QString());
    const QImage shownEye = ui->EyePlot->pixmap().toImage();
    const QImage sentEye = QImage::fromData(sent).transformed(QTransform().rotate(90));
    QCOMPARE(shownEye.size(), QSize(239, 254));
    QCOMPARE(shownEye.convertToFormat(QImage::Format_RGB32), sentEye.convertToFormat(QImage::Format_RGB32));

    // Measurements resume.
    connected.instrument->clearReceived();
    QTRY_VERIFY_WITH_TIMEOUT(connected.instrument->received().count("read\r\n") >= 2, 1500);
    QCOMPARE(ScanCountdown, 0);
}

void TestScan::placesPiecesAndEndsWhenTheDataStops()
{
    ConnectedWindow connected;
    QVERIFY(connected.connect());
    MainWindowUi *ui = connected.ui;
    // The test sends the stream itself.
    connected.instrument->setSilent(true);

    const QString capture = m_dir.filePath("pieces.bmp");
    answerSaveDialog(capture);
    QTest::mouseClick(ui->ScanBtn, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(connected.instrument->received().contains("SCAN\r\n"), 1500);
    QCOMPARE(PollMode, Capturing);

    // A click during the scan asks the instrument to stop, and opens no dialog.
    connected.instrument->clearReceived();
    QTest::mouseClick(ui->ScanBtn, Qt::LeftButton);
    QTest::qWait(200);
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(connected.instrument->received(), QByteArray("scan\r\n"));

    // First piece: the echo before "BM" is dropped, 90,000 bytes remain: a
    // bitmap header, then pixels of one grey.
    const QByteArray first = templateBytes().left(54) + streamBytes(90000 - 54, 'a');
    connected.instrument->writeRaw("SCAN\r\n" + first);
    QTRY_COMPARE_WITH_TIMEOUT(ui->ScanProgressBar->value(), 50, 9000);
    QCOMPARE(ScanCountdown, 0);
    QVERIFY(showsTheFile(ui, capture));
    const QByteArray second = streamBytes(90000, 'b');
    connected.instrument->writeRaw(second);
    QTRY_COMPARE_WITH_TIMEOUT(ui->ScanProgressBar->value(), 100, 1000);
    QCOMPARE(CaptureOffset, 180000);
    // Passes half a second apart: each shows its own piece, not a picture of
    // the same file cached from the pass before.
    QVERIFY(showsTheFile(ui, capture));

    // While the window is dragged, empty polls do not end the scan.
    DragGuard = 2;
    connected.instrument->clearReceived();
    QTest::qWait(1100);
    QCOMPARE(PollMode, Capturing);
    QCOMPARE(connected.instrument->received(), QByteArray());
    DragGuard = 0;
    QTRY_COMPARE_WITH_TIMEOUT(PollMode, Monitoring, 1000);
    QTRY_COMPARE_WITH_TIMEOUT(connected.instrument->received(), QByteArray("read\r\n"), 1000);
    QCOMPARE(ui->ScanningLabel->text(), QString());

    // The template with its first 180,000 bytes replaced by the stream.
    QByteArray expected = templateBytes();
    expected.replace(0, 180000, first + second);
    QCOMPARE(fileBytes(capture), expected);
}

void TestScan::endsAfterTwentyEmptyPollsWithoutData()
{
    ConnectedWindow connected;
    QVERIFY(connected.connect());
    connected.instrument->setSilent(true);

    QElapsedTimer clock;
    qint64 scanSentAt = -1;
    connect(connected.instrument.get(), &SimulatedInstrument::commandReceived, this,
            [&](const QByteArray &command) {
                if (command == "SCAN")
                    scanSentAt = clock.elapsed();
            });
    clock.start();

    const QString capture = m_dir.filePath("nothing.bmp");
    answerSaveDialog(capture);
    QTest::mouseClick(connected.ui->ScanBtn, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(scanSentAt >= 0, 1500);
    QTRY_COMPARE_WITH_TIMEOUT(PollMode, Monitoring, 20000);
    // 8 s, then twenty empty polls counted down, and the 21st ends the scan.
    const qint64 scanTime = clock.elapsed() - scanSentAt;
    QVERIFY2(scanTime > 17700 && scanTime < 18800, qPrintable(QString::number(scanTime)));
    QCOMPARE(connected.ui->spinBox->value(), 0);
    QCOMPARE(fileBytes(capture), templateBytes());
    QCOMPARE(connected.ui->ScanningLabel->text(), QString());
}

void TestScan::cancelledDialogTouchesNothing()
{
    ConnectedWindow connected;
    QVERIFY(connected.connect());
    connected.instrument->clearReceived();
    connected.instrument->setSilent(true);
    const QStringList before = QDir(m_dir.path()).entryList(QDir::Files);

    answerSaveDialog(QString());
    QTest::mouseClick(connected.ui->ScanBtn, Qt::LeftButton);
    QCOMPARE(ScanCountdown, 0);
    QCOMPARE(CaptureFileName, QString());
    QCOMPARE(connected.ui->ScanningLabel->text(), QString());
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), before);
    // Polling goes on with "read" only.
    QTRY_VERIFY_WITH_TIMEOUT(connected.instrument->received().count("read\r\n") >= 2, 1500);
    QVERIFY(!connected.instrument->received().contains("SCAN"));
}

void TestScan::unwritableFileIsReportedAndNoScanStarts()
{
    ConnectedWindow connected;
    QVERIFY(connected.connect());
    connected.instrument->setSilent(true);

    // Nobody can create files in /proc, not even root.
    answerSaveDialog(QStringLiteral("/proc/zentaval-capture.bmp"));
    QTest::mouseClick(connected.ui->ScanBtn, Qt::LeftButton);
    QCOMPARE(ScanCountdown, 0);
    QCOMPARE(connected.ui->ScanningLabel->text(), QString("Not saved"));
    QVERIFY(connected.ui->ScanningLabel->toolTip().contains("/proc/zentaval-capture.bmp"));
    connected.instrument->clearReceived();
    QTRY_VERIFY_WITH_TIMEOUT(connected.instrument->received().count("read\r\n") >= 2, 1500);
    QVERIFY(!connected.instrument->received().contains("SCAN"));
}

QTEST_MAIN(TestScan)
#include "tst_scan.moc"
