#include "simulatedinstrument.h"
#include "support/windowharness.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <memory>

using namespace WindowHarness;

namespace {

// CPU time this process has used, in milliseconds.
qint64 cpuMilliseconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000
           + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

// The instrument is reached through a link that can be pointed at a new
// pseudo-terminal, as /dev/serial/by-id links follow a USB adapter that was
// plugged in again.
class PluggedInstrument
{
public:
    explicit PluggedInstrument(const QString &link)
        : m_link(link)
    {
        plugIn();
    }

    SimulatedInstrument &instrument() { return *m_instrument; }

    void unplug() { m_instrument->vanish(); }

    bool plugIn()
    {
        m_instrument = std::make_unique<SimulatedInstrument>();
        QFile::remove(m_link);
        return QFile::link(m_instrument->devicePath(), m_link);
    }

private:
    QString m_link;
    std::unique_ptr<SimulatedInstrument> m_instrument;
};

QByteArray fileBytes(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestInstrumentLoss : public QObject
{
    Q_OBJECT

private slots:
    void lostWhilePollingAndPickedAgain();
    void lostDuringAScanKeepsTheCapture();
    void endlessStreamIsCutAndTheProgramGoesOn();
    void captureFileRemovedDuringTheScan();

private:
    QTemporaryDir m_dir;
};

void TestInstrumentLoss::lostWhilePollingAndPickedAgain()
{
    const QString link = m_dir.filePath("ttyZentaval");
    PluggedInstrument plugged(link);
    auto window = makeWindow({link});
    MainWindowUi *ui = window->form();
    QVERIFY(connectToListedInstrument(*window));
    QTRY_VERIFY_WITH_TIMEOUT(plugged.instrument().received().count("read\r\n") >= 2, 1500);
    QTRY_VERIFY(samePicture(ui->LEDStat->pixmap(), ":/new/prefix1/LED_Green.png")
                || samePicture(ui->LEDStat->pixmap(), ":/new/prefix1/LED_Yellow.png"));

    plugged.unplug();
    QTRY_VERIFY_WITH_TIMEOUT(samePicture(ui->LEDCOM->pixmap(), ":/new/prefix1/LED_Red.png"), 1500);
    QVERIFY(samePicture(ui->LEDStat->pixmap(), ":/new/prefix1/LED_Grey.png"));
    QVERIFY(ui->PortSelBox->isEnabled());
    QVERIFY(!ui->LEDCOM->toolTip().isEmpty());

    // Lost, the program rests: no error loop on the dead port.
    const qint64 cpuBefore = cpuMilliseconds();
    QTest::qWait(1500);
    const qint64 cpuUsed = cpuMilliseconds() - cpuBefore;
    QVERIFY2(cpuUsed < 100, qPrintable(QString("%1 ms of CPU in 1.5 s").arg(cpuUsed)));

    // Back again: the same row reconnects, and one chain of passes polls it.
    QVERIFY(plugged.plugIn());
    chooseRow(*window, 1);
    QVERIFY(samePicture(ui->LEDCOM->pixmap(), ":/new/prefix1/LED_Green.png"));
    QVERIFY(!ui->PortSelBox->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(plugged.instrument().received().count("read\r\n") >= 3, 2500);
    const int reads = plugged.instrument().received().count("read\r\n");
    QTest::qWait(1000);
    const int readsPerSecond = plugged.instrument().received().count("read\r\n") - reads;
    QVERIFY2(readsPerSecond >= 1 && readsPerSecond <= 3, qPrintable(QString::number(readsPerSecond)));
}

void TestInstrumentLoss::lostDuringAScanKeepsTheCapture()
{
    const QString link = m_dir.filePath("ttyScan");
    PluggedInstrument plugged(link);
    // The capture takes longer than the wait for the first piece.
    plugged.instrument().setBaudRate(100000);
    auto window = makeWindow({link});
    MainWindowUi *ui = window->form();
    QVERIFY(connectToListedInstrument(*window));

    const QString capture = m_dir.filePath("lost.bmp");
    answerSaveDialog(capture);
    QTest::mouseClick(ui->ScanBtn, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(ui->ScanProgressBar->value() > 0, 10000);
    QCOMPARE(PollMode, Capturing);
    plugged.unplug();

    QTRY_VERIFY_WITH_TIMEOUT(samePicture(ui->LEDCOM->pixmap(), ":/new/prefix1/LED_Red.png"), 1500);
    QCOMPARE(PollMode, Monitoring);
    QCOMPARE(ui->ScanningLabel->text(), QString());
    QVERIFY(ui->PortSelBox->isEnabled());

    // The file holds the pieces that came, on the template: a whole bitmap.
    const QByteArray bytes = fileBytes(capture);
    QCOMPARE(bytes.size(), 182650);
    QVERIFY(bytes.startsWith(plugged.instrument().lastCapture().left(CaptureOffset)));
    QCOMPARE(QImage::fromData(bytes).size(), QSize(254, 239));
}

void TestInstrumentLoss::endlessStreamIsCutAndTheProgramGoesOn()
{
    const QString link = m_dir.filePath("ttyFlood");
    PluggedInstrument plugged(link);
    plugged.instrument().setStreamForever(true);
    plugged.instrument().setBaudRate(40'000'000);
    auto window = makeWindow({link});
    MainWindowUi *ui = window->form();
    QVERIFY(connectToListedInstrument(*window));

    const QString capture = m_dir.filePath("endless.bmp");
    answerSaveDialog(capture);
    QTest::mouseClick(ui->ScanBtn, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(ui->ScanProgressBar->value() > 0, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(PollMode, Monitoring, 15000);
    QCOMPARE(QFileInfo(capture).size(), 8 * 1024 * 1024);
    QTRY_VERIFY_WITH_TIMEOUT(plugged.instrument().received().contains("scan\r\n"), 2000);
    QCOMPARE(ui->ScanProgressBar->value(), 100);
    QVERIFY(logLines(*window).last().startsWith(" Capture cut at"));

    // The flood goes on; the program keeps polling, bounded, and shows nothing of it.
    const QString quality = ui->QFactorLabel->text();
    plugged.instrument().clearReceived();
    QTRY_VERIFY_WITH_TIMEOUT(plugged.instrument().received().count("read\r\n") >= 2, 2000);
    QCOMPARE(ui->QFactorLabel->text(), quality);
    QCOMPARE(QFileInfo(capture).size(), 8 * 1024 * 1024);
}

void TestInstrumentLoss::captureFileRemovedDuringTheScan()
{
    const QString link = m_dir.filePath("ttyRemoved");
    PluggedInstrument plugged(link);
    auto window = makeWindow({link});
    MainWindowUi *ui = window->form();
    QVERIFY(connectToListedInstrument(*window));
    // The test sends the stream itself.
    plugged.instrument().setSilent(true);

    const QString capture = m_dir.filePath("removed.bmp");
    answerSaveDialog(capture);
    QTest::mouseClick(ui->ScanBtn, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(plugged.instrument().received().contains("SCAN\r\n"), 1500);
    QVERIFY(QFile::remove(capture));
    plugged.instrument().writeRaw("BM" + QByteArray(5000, 'x'));

    QTRY_COMPARE_WITH_TIMEOUT(ui->ScanningLabel->text(), QString("Not saved"), 10000);
    QVERIFY(!QFileInfo::exists(capture));
    QVERIFY(ui->ScanningLabel->toolTip().contains(capture));
    // The scan ends as usual and the message stays.
    QTRY_COMPARE_WITH_TIMEOUT(PollMode, Monitoring, 1500);
    QCOMPARE(ui->ScanningLabel->text(), QString("Not saved"));
}

QTEST_MAIN(TestInstrumentLoss)
#include "tst_instrumentloss.moc"
