#include "eyepicture.h"
#include "io/capturefile.h"
#include "window/trendwindow.h"
#include "windowharness.h"

#include <QClipboard>
#include <QImageReader>
#include <QPainter>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace WindowHarness;

namespace {

MeasurementRow reading(double second, double height, double width = 0.52, double amplitude = 380)
{
    const QDateTime start(QDate(2026, 12, 7), QTime(9, 30), Qt::UTC);
    return {start.addMSecs(qint64(second * 1000)),
            second,
            LockLamp::Green,
            "12.5",
            QString::number(amplitude, 'f', 0),
            QString::number(height, 'f', 2),
            QString::number(width, 'f', 2),
            "9953.2"};
}

} // namespace

class TestTrendWindow : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_window.reset(); // the old window goes before its instrument
        m_window = makeWindow({});
        QVERIFY(activate(m_window.get()));
    }
    void menuOpensOnRightClickButNotOnThePortList()
    {
        MainWindowUi *ui = m_window->form();
        for (QWidget *widget : QList<QWidget *> {ui->EyePlot, ui->ScanBtn, ui->QFactorLabel, ui->HeightLabel,
                                                 ui->ScanProgressBar, ui->centralWidget}) {
            QMenu *menu = rightClick(widget);
            QVERIFY2(menu, qPrintable(widget->objectName()));
            QStringList entries;
            for (QAction *action : menu->actions())
                entries << action->text() + " " + action->shortcut().toString();
            QCOMPARE(entries,
                     QStringList({"Trend Ctrl+T", "Copy Picture Ctrl+C", "Save Picture As... Ctrl+Shift+S",
                                  "Log Measurements... Ctrl+L", "Remote Control Ctrl+R", "Web Page and Metrics ", " ",
                                  "Set as Reference Ctrl+Shift+R", "Open Reference... ", "Clear Reference ",
                                  "Show Reference Outline Ctrl+Shift+O", "Compare Ctrl+K", " ", "Mask Ctrl+M"}));
            menu->hide();
        }
        QVERIFY(!rightClick(ui->PortSelBox));
        ui->PortSelBox->setEnabled(true);
        QVERIFY(!rightClick(ui->PortSelBox));
        // Nothing of the form moved.
        QCOMPARE(ui->EyePlot->geometry(), QRect(10, 10, 478, 508));
        QCOMPARE(m_window->size(), QSize(726, 547));

        QMenu *menu = rightClick(ui->EyePlot);
        const QPoint at = m_window->mapFromGlobal(menu->pos());
        QImage picture = m_window->grab().toImage();
        QPainter(&picture).drawPixmap(at, menu->grab());
        QVERIFY(saveScreenshot(picture, "menu.png"));
        menu->hide();
    }
    void pictureGoesToTheClipboardAndToFiles_data()
    {
        QTest::addColumn<bool>("fromMenu");
        QTest::addColumn<QString>("fileName"); // empty: to the clipboard
        QTest::addColumn<QByteArray>("format");

        QTest::newRow("Copy Picture") << true << QString() << QByteArray();
        QTest::newRow("Ctrl+C") << false << QString() << QByteArray();
        QTest::newRow("Save Picture As... PNG") << true << "menu.png" << QByteArray("png");
        QTest::newRow("Ctrl+Shift+S, no extension: PNG") << false << "plain" << QByteArray("png");
        QTest::newRow("Ctrl+Shift+S, BMP") << false << "eye.bmp" << QByteArray("bmp");
        QTest::newRow("Ctrl+Shift+S, JPEG") << false << "eye.jpeg" << QByteArray("jpeg");
    }
    void pictureGoesToTheClipboardAndToFiles()
    {
        QFETCH(bool, fromMenu);
        QFETCH(QString, fileName);
        QFETCH(QByteArray, format);

        static quint32 seed = 1;
        const QImage shown = Capture::shownPicture(QImage::fromData(EyePicture::captureBitmap(++seed)));
        m_window->form()->EyePlot->setPixmap(QPixmap::fromImage(shown));
        QCOMPARE(shown.size(), QSize(239, 254));

        QImage got;
        if (fileName.isEmpty()) {
            QGuiApplication::clipboard()->clear();
            choose("copyPictureAction", fromMenu);
            got = QGuiApplication::clipboard()->image();
        } else {
            const QString path = m_dir.filePath(fileName);
            answerSaveDialog(path);
            choose("savePictureAction", fromMenu);
            QImageReader reader(path);
            QCOMPARE(reader.format(), format);
            got = reader.read();
        }
        QCOMPARE(got.size(), shown.size());
        if (format == "jpeg") // lossy: close to the picture, pixel by pixel
            QVERIFY(qAbs(qGray(got.pixel(120, 127)) - qGray(shown.pixel(120, 127))) < 40);
        else
            QCOMPARE(got.convertToFormat(QImage::Format_RGB32), shown.convertToFormat(QImage::Format_RGB32));
    }
    void trendOpensRaisesAndFollowsTheInstrument()
    {
        MeasurementLimits limits; // as from the command line: no eye is 2 UI high
        limits.minHeight = 2;
        m_window.reset();
        m_instrument = std::make_unique<SimulatedInstrument>();
        m_window = makeWindow({m_instrument->devicePath()});
        m_window->setMeasurementLimits(limits);
        QVERIFY(activate(m_window.get()));
        QVERIFY(connectTo(*m_window));

        choose("trendAction", false);
        TrendWindow *window = topLevels<TrendWindow>().value(0);
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->windowTitle(), QString("Zentaval Trend"));
        QCOMPARE(window->findChild<QLineEdit *>("minHeight")->text(), QString("2"));
        QTRY_VERIFY_WITH_TIMEOUT(window->history().size() >= 2, 3000);
        QCOMPARE(m_window->form()->HeightLabel->text(),
                 "Height: " + window->history().row(window->history().size() - 1).eyeHeight + " UI");
        QCOMPARE(window->findChild<QLabel *>("indicator")->text(), QString("FAIL"));
        QCOMPARE(window->latch().firstMiss(), window->history().row(0).time);

        // Asked again, the one window comes to the front.
        QVERIFY(activate(m_window.get()));
        choose("trendAction", true);
        QTRY_VERIFY(window->isActiveWindow());
        QCOMPARE(topLevels<TrendWindow>().size(), 1);

        // Closing the main window ends the program, the trend window open or not.
        QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
        QTimer::singleShot(0, m_window.get(), &QWidget::close);
        QTimer::singleShot(3000, qApp, [] { QCoreApplication::exit(1); });
        QCOMPARE(QApplication::exec(), 0);
        QCOMPARE(lastClosed.size(), 1);
    }
    void limitsLatchResetAndExport()
    {
        emitConnected("/dev/ttyUSB0");
        choose("trendAction", false);
        TrendWindow *window = topLevels<TrendWindow>().value(0);
        QVERIFY(window);
        auto *minHeight = window->findChild<QLineEdit *>("minHeight");
        minHeight->setText("0.4");
        emit minHeight->editingFinished();
        auto *minWidth = window->findChild<QLineEdit *>("minWidth");
        minWidth->setText("half");
        emit minWidth->editingFinished();
        QCOMPARE(window->limits().minHeight, 0.4);
        QVERIFY(!window->limits().minWidth);
        auto *indicator = window->findChild<QLabel *>("indicator");
        QCOMPARE(indicator->text(), QString("PASS"));

        // A brief dip at 2 s, a loss, the same instrument back, another one.
        const QList<MeasurementRow> rows {reading(0, 0.45), reading(1, 0.44), reading(2, 0.38, 0.5, 300),
                                          reading(3, 0.47)};
        for (const MeasurementRow &row : rows)
            emitReading(row);
        emit m_window->session()->lost("pulled");
        QVERIFY(window->findChild<QLabel *>("source")->text().endsWith(": pulled"));
        emitConnected("/dev/ttyUSB1", "921600 8N1");
        emitReading(reading(60, 0.46));
        QCOMPARE(indicator->text(), QString("FAIL"));
        QCOMPARE(window->latch().firstMiss(), rows.at(2).time);
        QCOMPARE(window->history().lineStarts(), std::vector<qsizetype> {4});
        for (const auto &[name, text] :
             {std::pair {"heightMin", "0.38"}, {"heightMean", "0.440"}, {"amplitudeCount", "5"}})
            QCOMPARE(window->findChild<QLabel *>(name)->text(), QString(text));
        const QString exported = m_dir.filePath("trend.csv");
        answerSaveDialog(exported);
        QTest::mouseClick(window->findChild<QPushButton *>("exportButton"), Qt::LeftButton);
        const QList<QByteArray> lines = fileBytes(exported).split('\n');
        QVERIFY(lines.at(0).startsWith("# trend export ") && lines.at(0).contains("min height 0.4 UI"));
        QCOMPARE(lines.at(2), QByteArray("# instrument Model 731942K S/N 20431 FW 1.07"));
        QCOMPARE(lines.at(3), QByteArray("# device /dev/ttyUSB1 921600 8N1")); // the last connection
        const qsizetype header = lines.indexOf(csvHeader().trimmed());
        QVERIFY(header > 0);
        QCOMPARE(lines.mid(header + 1, 3),
                 QList<QByteArray>({csvLine(rows.at(0)).trimmed(), csvLine(rows.at(1)).trimmed(),
                                    csvLine(reading(2, 0.38, 0.5, 300)).replace(",1\n", ",0").trimmed()}));
        QCOMPARE(lines.size(), header + 1 + 5 + 1);

        QTest::mouseClick(window->findChild<QPushButton *>("resetButton"), Qt::LeftButton);
        QCOMPARE(indicator->text(), QString("PASS"));
        QVERIFY(window->history().isEmpty());
        QCOMPARE(window->findChild<QLabel *>("heightCount")->text(), QString("0"));
        emitReading(reading(61, 0.46));
        emit m_window->session()->connected("Model 731942K S/N 99999 FW 1.07", "/dev/ttyUSB0", "115200 8N1");
        QVERIFY(window->history().isEmpty()); // another instrument, another trend
    }
    // The same half hour of drift and noise, whole and folded after two minutes: the same
    // figures, the same FAIL for a miss long folded, and an export of minutes then readings.
    void foldedTrendShowsWhatTheWholeOneShows()
    {
        MeasurementLimits limits;
        limits.minHeight = 0.4;
        TrendWindow whole(limits);
        TrendWindow folded(limits);
        folded.setFoldAfterMs(2 * 60000);
        for (TrendWindow *window : {&whole, &folded})
            window->instrumentConnected("Model 731942K S/N 20431 FW 1.07", "/dev/ttyUSB0", "115200 8N1");
        QRandomGenerator random(3);
        for (int i = 0; i < 3600; ++i) {
            const double second = i * 0.5;
            const double dip = i == 100 ? 0.1 : 0; // a miss in the second minute
            const MeasurementRow row
                = reading(second, 0.43 + 0.05 * random.generateDouble() - dip,
                          0.5 + 0.04 * random.generateDouble(), 370 + 20 * random.generateDouble());
            for (TrendWindow *window : {&whole, &folded}) {
                if (i == 2000) {
                    window->instrumentLost("pulled");
                    window->instrumentConnected("Model 731942K S/N 20431 FW 1.07", "/dev/ttyUSB0",
                                                "115200 8N1");
                }
                window->addReading(row);
            }
        }
        QCOMPARE(folded.history().size(), 241);
        QCOMPARE(folded.history().readingCount(), 3600);
        for (const char *series : {"height", "width", "amplitude"})
            for (const char *figure : {"Last", "Min", "Max", "Mean", "Count"}) {
                const QString name = QString(series) + figure;
                QCOMPARE(folded.findChild<QLabel *>(name)->text(), whole.findChild<QLabel *>(name)->text());
            }
        QCOMPARE(folded.findChild<QLabel *>("heightCount")->text(), QString("3600"));
        QCOMPARE(folded.findChild<QLabel *>("indicator")->text(), QString("FAIL"));
        const auto missText = [](const TrendWindow &window) {
            QString text;
            for (QLabel *label : window.findChildren<QLabel *>())
                if (label->text().startsWith("First miss at"))
                    text = label->text();
            return text;
        };
        QVERIFY(missText(folded).contains("height"));
        QCOMPARE(missText(folded), missText(whole));
        folded.resize(1000, 480);
        QVERIFY(saveScreenshot(folded.grab().toImage(), "trend-window.png"));

        const QString exported = m_dir.filePath("folded.csv");
        answerSaveDialog(exported);
        folded.exportCsvAs();
        const QList<QByteArray> lines = fileBytes(exported).split('\n');
        QCOMPARE(lines.at(4), QByteArray("# started 2026-12-07T09:30:00.000Z"));
        const qsizetype readingsAt = lines.indexOf("# readings: one row a reading");
        QCOMPARE(readingsAt - lines.indexOf("# folded: one row a minute, min/max/mean/count") - 2,
                 qsizetype(folded.history().folded().size()));
        QCOMPARE(lines.size(), readingsAt + 2 + 241 + 1);
    }
    void logStartsAndStops()
    {
        QAction *entry = m_window->findChild<QAction *>("logAction");
        const QString log = m_dir.filePath("log.csv");
        answerSaveDialog(log);
        choose("logAction", false);
        QCOMPARE(m_window->measurementLogFile(), log);
        QCOMPARE(entry->text(), QString("Stop Logging (log.csv)"));
        emitReading(reading(0, 0.45));
        QVERIFY(fileBytes(log).endsWith(csvLine(reading(0, 0.45))));

        choose("logAction", true);
        QVERIFY(m_window->measurementLogFile().isEmpty());
        QCOMPARE(entry->text(), QString("Log Measurements..."));
        const QByteArray written = fileBytes(log);
        emitReading(reading(1, 0.45));
        QCOMPARE(fileBytes(log), written);

        // Nobody can create files in /proc, not even root.
        QVERIFY(failureOf("logAction", "/proc/zentaval-log.csv")
                    .contains("/proc/zentaval-log.csv cannot be opened"));
        QCOMPARE(entry->text(), QString("Log Measurements..."));
        QVERIFY(failureOf("savePictureAction", "/proc/zentaval-eye.png")
                    .contains("could not be saved to /proc/zentaval-eye.png"));
    }

private:
    void choose(const char *actionName, bool fromMenu)
    {
        QVERIFY(WindowHarness::choose(*m_window, actionName, fromMenu));
    }
    // What the window says when the file chosen in the save dialog cannot be written.
    QString failureOf(const char *actionName, const QString &path)
    {
        QString said;
        answerSaveDialog(path);
        answerMessageBox(&said);
        choose(actionName, false);
        return said;
    }
    void emitReading(const MeasurementRow &row)
    {
        emit m_window->session()->readingAccepted(MeasurementReading(), row);
    }
    void emitConnected(const char *port, const char *settings = "115200 8N1")
    {
        emit m_window->session()->connected("Model 731942K S/N 20431 FW 1.07", port, settings);
    }

    QTemporaryDir m_dir;
    std::unique_ptr<SimulatedInstrument> m_instrument;
    std::unique_ptr<MainWindow> m_window;
};

QTEST_MAIN(TestTrendWindow)
#include "tst_trendwindow.moc"
