#include "processusage.h"
#include "windowharness.h"

#include "io/capturefile.h"
#include "rules/proposedfiles.h"

#include <QElapsedTimer>
#include <QProgressBar>
#include <QTemporaryDir>

using namespace WindowHarness;

// Reads the file the next save dialog proposes, as it opens.
static void readProposal(QString *proposal, int triesLeft = 40)
{
    QTimer::singleShot(50, [proposal, triesLeft] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog && triesLeft > 0)
            return readProposal(proposal, triesLeft - 1);
        if (dialog)
            *proposal
                = QDir(dialog->directory()).filePath(dialog->findChild<QLineEdit *>("fileNameEdit")->text());
    });
}

class TestScan : public QObject
{
    Q_OBJECT

private slots:
    void capturesIntoTheFileChosenFirst()
    {
        // A scan asked for before any instrument is chosen waits for one; a
        // second dialog, cancelled or given a file that cannot be made, leaves
        // the request with its file.
        m_instrument = std::make_unique<SimulatedInstrument>();
        m_instrument->setBaudRate(200000);
        m_window = makeWindow({m_instrument->devicePath()});
        ui = m_window->form();
        const QString capture = m_dir.filePath("eye.bmp");
        scanInto(*m_window, capture);
        QCOMPARE(fileBytes(capture), fileBytes(Capture::templateFileName()));
        QCOMPARE(m_window->session()->scanCountdown(), 20);
        scanInto(*m_window, QString());
        scanInto(*m_window, m_dir.filePath("no-such-folder/other.bmp"));
        QCOMPARE(m_window->session()->captureFileName(), capture);
        QCOMPARE(ui->ScanningLabel->text(), QString("Scanning..."));
        QVERIFY(!QFile::exists(m_dir.filePath("no-such-folder/other.bmp")));

        QElapsedTimer clock;
        qint64 scanSentAt = -1;
        qint64 firstPieceAt = -1;
        QObject watching; // the watchers below end with this test
        connect(m_instrument.get(), &SimulatedInstrument::commandReceived, &watching,
                [&](const QByteArray &command) {
                    if (command == "SCAN")
                        scanSentAt = clock.elapsed();
                });
        connect(ui->ScanProgressBar, &QProgressBar::valueChanged, &watching, [&] {
            if (firstPieceAt < 0)
                firstPieceAt = clock.elapsed();
            // Every pass shows the picture of the file as that pass left it.
            QVERIFY(showsBitmap(*m_window, fileBytes(capture)));
        });
        // The pass that sends "SCAN\r\n" shows the reply it read first.
        m_instrument->queueMeasurementReply(QByteArray("read 0  1  33.3 222 44 55 1111.1", 32) + '\0');
        clock.start();
        QVERIFY(connectTo(*m_window));
        QTRY_VERIFY_WITH_TIMEOUT(capturing(*m_window), 1500);
        QCOMPARE(ui->QFactorLabel->text() + ui->VoltageLabel->text() + ui->RateLabel->text(),
                 QString("33.3%222 mV1111.1 Mb"));
        QTRY_VERIFY_WITH_TIMEOUT(firstPieceAt >= 0, 12000);
        const qint64 wait = firstPieceAt - scanSentAt;
        QVERIFY2(wait > 7800 && wait < 8600, qPrintable(QString::number(wait)));

        // While the window is dragged, silence does not end the scan.
        m_window->session()->setDragGuard(2);
        QTRY_COMPARE_WITH_TIMEOUT(ui->ScanProgressBar->value(), 100, 8000);
        QTest::qWait(1100);
        QVERIFY(capturing(*m_window));
        m_window->session()->setDragGuard(0);
        QTRY_VERIFY_WITH_TIMEOUT(!capturing(*m_window), 1000);
        QTRY_VERIFY_WITH_TIMEOUT(commands().endsWith("read\r\n"),
                                 300); // asked by the pass that ended the scan
        QCOMPARE(fileBytes(capture), m_instrument->lastCapture());
        QCOMPARE(m_instrument->lastCapture().size(), 182650);
        QVERIFY(showsBitmap(*m_window, m_instrument->lastCapture()));
        QCOMPARE(ui->ScanningLabel->text(), QString());
        m_instrument->clearReceived();
        QTRY_VERIFY_WITH_TIMEOUT(commands().count("read\r\n") >= 2, 1500);
    }
    void firstDataOnTheLastWaitingPassIsCut()
    {
        connectWindow();
        // The 20th empty pass reads 17.5 s after "SCAN\r\n"; the stream, echo
        // first, begins just after it, so the 21st pass reads the first piece.
        m_instrument->setScanDelay(17750);
        m_instrument->setBaudRate(1000000);
        const QString capture = m_dir.filePath("late.bmp");
        scanInto(*m_window, capture);
        QTRY_VERIFY_WITH_TIMEOUT(capturing(*m_window), 1500);
        QTRY_VERIFY_WITH_TIMEOUT(!capturing(*m_window), 22000);
        QCOMPARE(fileBytes(capture), m_instrument->lastCapture());
        QCOMPARE(ui->ScanProgressBar->value(), 100);
        QCOMPARE(ui->ScanningLabel->text(), QString());
    }
    void stoppedOrCutScanIsReportedIncomplete()
    {
        connectWindow();
        m_instrument->setScanCut(100000);
        m_instrument->setBaudRate(200000);
        const QString capture = m_dir.filePath("cut.bmp");
        scanInto(*m_window, capture);
        QTRY_VERIFY_WITH_TIMEOUT(ui->ScanProgressBar->value() > 0, 10000);
        // A press during the scan asks the instrument to stop and opens no dialog.
        m_instrument->clearReceived();
        QTest::mouseClick(ui->ScanBtn, Qt::LeftButton);
        QTest::qWait(200);
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(commands(), QByteArray("scan\r\n"));

        QTRY_VERIFY_WITH_TIMEOUT(!capturing(*m_window), 4000);
        const QByteArray sent = m_instrument->lastCapture();
        QVERIFY(sent.size() > 0 && sent.size() <= 100000);
        QCOMPARE(ui->ScanningLabel->text(), QString("Incomplete"));
        QVERIFY(ui->ScanningLabel->toolTip().contains(QString("%1 of the 182650 bytes").arg(sent.size())));
        QCOMPARE(ui->ScanProgressBar->value(), int(sent.size() / 1800));
        QByteArray expected = fileBytes(Capture::templateFileName());
        expected.replace(0, sent.size(), sent);
        QCOMPARE(fileBytes(capture), expected);
    }
    void unusableTemplateOrFileStartsNoScan()
    {
        connectWindow();
        m_instrument->setSilent(true);
        const QString existing = m_dir.filePath("kept.bmp");
        QFile file(existing);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("an older capture") > 0);
        file.close();

        // A template in the working directory wins over the installed one: one
        // of another picture format is refused before anything is written.
        const QString workingDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
        QByteArray eightBit = fileBytes(QDir(workingDir).filePath("blankcapture.bmp"));
        eightBit[28] = 8;
        QFile badTemplate(m_dir.filePath("blankcapture.bmp"));
        QVERIFY(badTemplate.open(QIODevice::WriteOnly) && badTemplate.write(eightBit) > 0);
        badTemplate.close();
        scanInto(*m_window, existing);
        scanInto(*m_window, m_dir.filePath("new.bmp"));
        QVERIFY(QDir::setCurrent(workingDir));
        QFile::remove(m_dir.filePath("blankcapture.bmp"));
        QCOMPARE(fileBytes(existing), QByteArray("an older capture"));
        QVERIFY(!QFile::exists(m_dir.filePath("new.bmp")));
        QCOMPARE(ui->ScanningLabel->text(), QString("Not saved"));
        QVERIFY(ui->ScanningLabel->toolTip().contains("blankcapture.bmp"));

        // Nobody can create files in /proc, not even root.
        scanInto(*m_window, QStringLiteral("/proc/zentaval-capture.bmp"));
        QVERIFY(ui->ScanningLabel->toolTip().contains("/proc/zentaval-capture.bmp"));
        QCOMPARE(m_window->session()->scanCountdown(), 0);
        m_instrument->clearReceived();
        QTRY_VERIFY_WITH_TIMEOUT(commands().count("read\r\n") >= 2, 1500);
        QVERIFY(!commands().contains("SCAN"));
    }
    void proposesATimestampedNameInTheLastFolder()
    {
        m_window = makeWindow({});
        const QRegularExpression timestamped("^Zentaval-\\d{8}-\\d{6}(-\\d+)?\\.bmp$");
        QString first, second;
        readProposal(&first);
        scanInto(*m_window, m_dir.filePath("chosen.bmp"));
        readProposal(&second);
        scanInto(*m_window, QString());
        QCOMPARE(QFileInfo(first).absolutePath(), ProposedFiles::picturesFolder());
        QCOMPARE(QFileInfo(second).absolutePath(), QFileInfo(m_dir.path()).absoluteFilePath());
        QVERIFY2(timestamped.match(QFileInfo(first).fileName()).hasMatch(), qPrintable(first));
        QVERIFY2(timestamped.match(QFileInfo(second).fileName()).hasMatch(), qPrintable(second));

        // A name that is taken gets a number.
        const QString taken = m_dir.filePath(QFileInfo(second).completeBaseName());
        for (const QString &name : {taken + ".bmp", taken + "-2.bmp"})
            QVERIFY(QFile(name).open(QIODevice::WriteOnly));
        const QDateTime pressed
            = QDateTime::fromString(QFileInfo(second).fileName().mid(9, 15), "yyyyMMdd-HHmmss");
        QCOMPARE(ProposedFiles::timestampedFile(m_dir.path(), pressed, "bmp"), taken + "-3.bmp");
    }
    // A window scanning every minute for weeks opens the save dialog tens of
    // thousands of times: what each one leaves in the process must be small
    // (a dialog built anew each time left some 17 KiB of icons).
    void saveDialogsLeaveNothingBehind()
    {
        constexpr int Dialogs = 30;
        m_window = makeWindow({});
        ui = m_window->form();
        // The first dialogs load what any dialog needs (style, icons, the
        // picture formats).
        for (int warmUp = 0; warmUp < 3; ++warmUp)
            scanInto(*m_window, QString());
        const qint64 before = ProcessUsage::heapInUseBytes();
        if (before < 0)
            QSKIP("the heap in use cannot be read here");
        for (int dialog = 0; dialog < Dialogs; ++dialog)
            scanInto(*m_window, QString());
        const qint64 perDialog = (ProcessUsage::heapInUseBytes() - before) / Dialogs;
        qInfo("heap kept by a save dialog: %lld bytes", perDialog);
        QVERIFY2(perDialog <= 4096, qPrintable(QString("%1 bytes a dialog").arg(perDialog)));
        QCOMPARE(ui->ScanningLabel->text(), QString());
        QCOMPARE(m_window->findChildren<QFileDialog *>().size(), 1);
    }

private:
    void connectWindow()
    {
        m_window.reset(); // the old window goes before its instrument
        m_instrument = std::make_unique<SimulatedInstrument>();
        m_window = makeWindow({m_instrument->devicePath()});
        ui = m_window->form();
        QVERIFY2(connectTo(*m_window), qPrintable(ui->ResultsBox->toPlainText()));
    }
    QByteArray commands() const { return m_instrument->received(); }

    QTemporaryDir m_dir;
    std::unique_ptr<SimulatedInstrument> m_instrument;
    std::unique_ptr<MainWindow> m_window;
    MainWindowUi *ui = nullptr;
};

QTEST_MAIN(TestScan)
#include "tst_scan.moc"
