// One session of the real window from start to end, as a user lives it:
// instruments found, one chosen and polled, three scans saved, the about
// dialog opened twice, the instrument unplugged and plugged in again, and the
// window closed. Each step checks what the user sees; the sanitizer build runs
// the whole session under LeakSanitizer.

#include "simulatedinstrument.h"
#include "support/windowharness.h"

#include "forms/aboutbx.h"
#include "measurement/capture.h"

#include <QFile>
#include <QImage>
#include <QPointer>
#include <QProgressBar>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTransform>

#include <memory>

using namespace WindowHarness;

namespace {

constexpr int ChosenSerialNumber = 20431;
constexpr int OtherSerialNumber = 20432;
// The instrument plugged in on the chosen instrument's port after the loss.
constexpr int ReplacementSerialNumber = 20433;
// A capture streams in about four seconds: it is whole before the first
// capturing pass, eight seconds after "SCAN".
constexpr int ScanBaudRate = 460800;
constexpr int CaptureSize = 182650;

QByteArray fileBytes(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray measurementReply(char settling, char locked, const QByteArray &fields)
{
    return QByteArray("read ") + settling + "  " + locked + "  " + fields + '\0';
}

// The eye as the window shows it: the bitmap turned a quarter clockwise.
QImage shownEye(const QByteArray &bitmap)
{
    return QImage::fromData(bitmap).transformed(QTransform().rotate(90)).convertToFormat(QImage::Format_RGB32);
}

QList<AboutBx *> visibleAboutDialogs(const MainWindow &window)
{
    QList<AboutBx *> shown;
    for (AboutBx *dialog : window.findChildren<AboutBx *>())
        if (dialog->isVisible())
            shown << dialog;
    return shown;
}

// The instrument is reached through a link that can be pointed at a new
// pseudo-terminal, as /dev/serial/by-id links follow a USB adapter plugged in
// again.
class PluggedInstrument
{
public:
    explicit PluggedInstrument(const QString &link)
        : m_link(link)
    {
    }

    SimulatedInstrument &instrument() { return *m_instrument; }

    bool plugIn(int serialNumber)
    {
        m_instrument = std::make_unique<SimulatedInstrument>();
        m_instrument->setIdentificationAnswer(SimulatedInstrument::defaultIdentificationAnswer(serialNumber));
        m_instrument->setBaudRate(ScanBaudRate);
        QFile::remove(m_link);
        return m_instrument->isOpen() && QFile::link(m_instrument->devicePath(), m_link);
    }

    void unplug() { m_instrument->vanish(); }

private:
    QString m_link;
    std::unique_ptr<SimulatedInstrument> m_instrument;
};

} // namespace

// The steps run in this order and build on each other, as one session does.
class TestSession : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void discoveryListsTheInstrumentsAndPassesAPortThatDoesNotOpen();
    void choosingARowConnectsAndNamesTheInstrument();
    void pollingShowsTheMeasurementsTwiceASecond();
    void threeScansEachSaveAndShowTheirWholeEye();
    void aboutDialogsOpenBesideTheWorkingWindowAndClose();
    void lostInstrumentTurnsTheLampRedAndFreesTheList();
    void instrumentPluggedInAgainIsChosenAndPolled();
    void closingTheWindowEndsEveryPassAndFreesThePort();

private:
    QTemporaryDir m_dir;
    QString m_link;
    std::unique_ptr<PluggedInstrument> m_plugged;
    std::unique_ptr<SimulatedInstrument> m_other;
    std::unique_ptr<MainWindow> m_window;
    MainWindowUi *ui = nullptr;
    QList<QPointer<AboutBx>> m_aboutDialogs;
};

void TestSession::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_link = m_dir.filePath(QStringLiteral("ttyZentaval"));
    m_plugged = std::make_unique<PluggedInstrument>(m_link);
    QVERIFY(m_plugged->plugIn(ChosenSerialNumber));
    m_other = std::make_unique<SimulatedInstrument>();
    QVERIFY(m_other->isOpen());
    m_other->setIdentificationAnswer(SimulatedInstrument::defaultIdentificationAnswer(OtherSerialNumber));
    // The first measurement after connecting, so that the test knows what is shown.
    m_plugged->instrument().queueMeasurementReply(measurementReply('0', '1', "97.5 380 45 52 9953.2"));
}

void TestSession::discoveryListsTheInstrumentsAndPassesAPortThatDoesNotOpen()
{
    const QString missing = m_dir.filePath(QStringLiteral("ttyNothing"));
    m_window = makeWindow({m_link, missing, m_other->devicePath()});
    ui = m_window->form();
    m_window->show();
    QVERIFY(!ui->PortSelBox->isEnabled());

    QTRY_VERIFY_WITH_TIMEOUT(DiscoveryOver, 5000);
    QCOMPARE(rows(*m_window),
             QStringList({"Select a Device", m_link + ": Model 731942K S/N 20431 FW 1.07",
                          m_other->devicePath() + ": Model 731942K S/N 20432 FW 1.07"}));
    QVERIFY(ui->PortSelBox->isEnabled());
    const QStringList log = logLines(*m_window);
    const int missingAt = log.indexOf(missing);
    QVERIFY2(missingAt >= 0 && missingAt + 2 < log.size(), qPrintable(log.join('|')));
    QVERIFY2(log.at(missingAt + 2).startsWith(" Not opened: "), qPrintable(log.join('|')));
    QVERIFY(samePicture(ui->LEDCOM->pixmap(), ":/new/prefix1/LED_Grey.png"));
}

void TestSession::choosingARowConnectsAndNamesTheInstrument()
{
    QVERIFY(m_window);
    m_other->clearReceived();
    chooseRow(*m_window, 1);
    QVERIFY(samePicture(ui->LEDCOM->pixmap(), ":/new/prefix1/LED_Green.png"));
    QVERIFY(!ui->PortSelBox->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(m_window->windowTitle().trimmed(),
                              QString("Zentaval Model 731942K S/N 20431 FW 1.07"), 2000);
}

void TestSession::pollingShowsTheMeasurementsTwiceASecond()
{
    QVERIFY(m_window);
    QTRY_COMPARE_WITH_TIMEOUT(ui->QFactorLabel->text(), QString("97.5%"), 1500);
    QCOMPARE(ui->VoltageLabel->text(), QString("380 mV"));
    QCOMPARE(ui->RateLabel->text(), QString("9953.2 Mb"));
    QVERIFY(samePicture(ui->LEDStat->pixmap(), ":/new/prefix1/LED_Green.png"));

    // The simulated link's own values follow, about two a second (fewer when
    // the machine is busy, never more).
    SimulatedInstrument &instrument = m_plugged->instrument();
    instrument.clearReceived();
    QTest::qWait(2000);
    const int reads = instrument.received().count("read\r\n");
    QVERIFY2(reads >= 2 && reads <= 5, qPrintable(QString::number(reads)));
    QVERIFY(ui->QFactorLabel->text() != "97.5%");
    // Only the chosen instrument is spoken to.
    QCOMPARE(m_other->received(), QByteArray());
}

void TestSession::threeScansEachSaveAndShowTheirWholeEye()
{
    QVERIFY(m_window);
    SimulatedInstrument &instrument = m_plugged->instrument();

    // Every pass that writes a piece shows the file as it then is.
    QString file;
    int piecesShown = 0;
    QStringList staleShown;
    const QMetaObject::Connection watch = connect(ui->ScanProgressBar, &QProgressBar::valueChanged, this, [&] {
        ++piecesShown;
        const QImage shown = ui->EyePlot->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
        if (shown != shownEye(fileBytes(file)))
            staleShown << QStringLiteral("%1 at %2 %").arg(file).arg(ui->ScanProgressBar->value());
    });

    // The first two captures arrive whole at the first capturing pass, the
    // third over about ten passes.
    const int baudRates[] = {ScanBaudRate, ScanBaudRate, 150000};
    QList<QByteArray> captures;
    for (int scan = 1; scan <= 3; ++scan) {
        file = m_dir.filePath(QStringLiteral("eye-%1.bmp").arg(scan));
        piecesShown = 0;
        instrument.setBaudRate(baudRates[scan - 1]);
        instrument.clearReceived();
        answerSaveDialog(file);
        QTest::mouseClick(ui->ScanBtn, Qt::LeftButton);
        QCOMPARE(ui->ScanningLabel->text(), QString("Scanning..."));
        QCOMPARE(fileBytes(file).size(), CaptureSize);
        QTRY_VERIFY_WITH_TIMEOUT(instrument.received().contains("SCAN\r\n"), 1500);
        QTRY_COMPARE_WITH_TIMEOUT(PollMode, Monitoring, 16000);

        const QByteArray capture = instrument.lastCapture();
        QCOMPARE(capture.size(), CaptureSize);
        QVERIFY2(fileBytes(file) == capture, qPrintable(file));
        QCOMPARE(ui->ScanProgressBar->value(), 100);
        QCOMPARE(ui->ScanningLabel->text(), QString());
        QVERIFY2(ui->EyePlot->pixmap().toImage().convertToFormat(QImage::Format_RGB32) == shownEye(capture),
                 qPrintable("the eye shown at the end is not the one saved in " + file));
        QVERIFY(!captures.contains(capture));
        captures << capture;

        // Measurements resume between the scans.
        instrument.clearReceived();
        QTRY_VERIFY_WITH_TIMEOUT(instrument.received().count("read\r\n") >= 2, 1500);
    }
    disconnect(watch);
    QVERIFY2(piecesShown >= 3, qPrintable(QString::number(piecesShown)));
    QVERIFY2(staleShown.isEmpty(), qPrintable("older pictures shown: " + staleShown.join(", ")));
    // Every file keeps its own scan.
    for (int scan = 1; scan <= 3; ++scan)
        QCOMPARE(fileBytes(m_dir.filePath(QStringLiteral("eye-%1.bmp").arg(scan))), captures.at(scan - 1));
}

void TestSession::aboutDialogsOpenBesideTheWorkingWindowAndClose()
{
    QVERIFY(m_window);
    QTest::mouseClick(ui->AboutBtn, Qt::LeftButton);
    QTest::mouseClick(ui->AboutBtn, Qt::LeftButton);
    QTRY_COMPARE(visibleAboutDialogs(*m_window).size(), 2);
    for (AboutBx *dialog : visibleAboutDialogs(*m_window)) {
        QCOMPARE(dialog->windowTitle(), QString("About"));
        QVERIFY(!dialog->isModal());
        m_aboutDialogs << dialog;
    }

    // The window goes on polling while they are open.
    SimulatedInstrument &instrument = m_plugged->instrument();
    instrument.clearReceived();
    QTRY_VERIFY_WITH_TIMEOUT(instrument.received().count("read\r\n") >= 2, 1500);

    for (AboutBx *dialog : visibleAboutDialogs(*m_window))
        QVERIFY(dialog->close());
    QTRY_COMPARE(visibleAboutDialogs(*m_window).size(), 0);
}

void TestSession::lostInstrumentTurnsTheLampRedAndFreesTheList()
{
    QVERIFY(m_window);
    m_plugged->unplug();
    QTRY_VERIFY_WITH_TIMEOUT(samePicture(ui->LEDCOM->pixmap(), ":/new/prefix1/LED_Red.png"), 1500);
    QVERIFY(samePicture(ui->LEDStat->pixmap(), ":/new/prefix1/LED_Grey.png"));
    QVERIFY(ui->PortSelBox->isEnabled());
    QVERIFY2(ui->LEDCOM->toolTip().contains("Choose it in the list again"), qPrintable(ui->LEDCOM->toolTip()));
    // The rows stay, so that the instrument can be chosen again.
    QCOMPARE(ui->PortSelBox->count(), 3);
}

void TestSession::instrumentPluggedInAgainIsChosenAndPolled()
{
    QVERIFY(m_window);
    // Another instrument of the model on the same port: the row listed at
    // discovery reaches it, and the title names it.
    QVERIFY(m_plugged->plugIn(ReplacementSerialNumber));
    SimulatedInstrument &instrument = m_plugged->instrument();
    // A figure the simulated link never reaches (it stays below 25.0 %).
    instrument.queueMeasurementReply(measurementReply('1', '0', "93.1 120 12 20 9953.1"));
    chooseRow(*m_window, 1);
    QVERIFY(samePicture(ui->LEDCOM->pixmap(), ":/new/prefix1/LED_Green.png"));
    QVERIFY(ui->LEDCOM->toolTip().isEmpty());
    QVERIFY(!ui->PortSelBox->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(m_window->windowTitle().trimmed(),
                              QString("Zentaval Model 731942K S/N 20433 FW 1.07"), 2000);
    QTRY_COMPARE_WITH_TIMEOUT(ui->QFactorLabel->text(), QString("93.1%"), 1500);
    QVERIFY(samePicture(ui->LEDStat->pixmap(), ":/new/prefix1/LED_Yellow.png"));

    // One chain of passes polls the instrument, as before the loss.
    instrument.clearReceived();
    QTest::qWait(3000);
    const int reads = instrument.received().count("read\r\n");
    QVERIFY2(reads >= 4 && reads <= 7, qPrintable(QString::number(reads)));
    QVERIFY(ui->QFactorLabel->text() != "93.1%");
}

void TestSession::closingTheWindowEndsEveryPassAndFreesThePort()
{
    QVERIFY(m_window);
    QCOMPARE(m_aboutDialogs.size(), 2);
    m_window->close();
    m_window.reset();
    ui = nullptr;
    // The about dialogs went with the window.
    for (const QPointer<AboutBx> &dialog : std::as_const(m_aboutDialogs))
        QVERIFY(dialog.isNull());

    // No pass outlives the window: the instrument hears nothing more.
    SimulatedInstrument &instrument = m_plugged->instrument();
    instrument.clearReceived();
    QTest::qWait(1200);
    QCOMPARE(instrument.received(), QByteArray());
    QCOMPARE(m_other->received(), QByteArray());

    // Another program can open the port now.
    QSerialPort port;
    port.setPortName(m_link);
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
    port.close();
}

QTEST_MAIN(TestSession)
#include "tst_session.moc"
