// zentaval-soakdriver: runs the real main window for a number of minutes
// against an instrument on a device path (zentaval-sim's), choosing the
// instrument's row as the user does, scanning now and then and choosing the
// row again whenever the instrument comes back after a loss. Once a minute it
// prints and records what the process holds and the processor time it used.
// scripts/soak.sh starts it; it is not a test of its own.

#include "processusage.h"
#include "windowharness.h"

#include "io/capturefile.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTextStream>

#include <cstdio>
#include <memory>

using namespace WindowHarness;

namespace {

constexpr int CaptureSize = 182650;

int rowOf(const MainWindow &window, const QString &device)
{
    const QStringList texts = rows(window);
    for (int row = 1; row < texts.size(); ++row)
        if (texts.at(row).startsWith(device + QStringLiteral(": ")))
            return row;
    return -1;
}

class SoakDriver : public QObject
{
public:
    SoakDriver(const QString &device, int minutes, int scanEveryMinutes, const QString &captureFolder,
               const QString &csvFile)
        : m_device(device)
        , m_minutes(minutes)
        , m_scanEveryMinutes(scanEveryMinutes)
        , m_captureFolder(captureFolder)
        , m_csv(csvFile)
    {
    }

    bool start()
    {
        if (!m_csv.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
            std::fprintf(stderr, "zentaval-soakdriver: %s: %s\n", qPrintable(m_csv.fileName()),
                         qPrintable(m_csv.errorString()));
            return false;
        }
        m_csv.write("minute,resident_kib,cpu_percent,heap_kib,scans_saved,scans_failed,reconnections\n");
        m_csv.flush();
        QFile templateFile(Capture::templateFileName());
        if (templateFile.open(QIODevice::ReadOnly))
            m_template = templateFile.readAll();

        // The ports the system lists and the device named, as the program
        // started with that device on its command line has them.
        m_window = std::make_unique<MainWindow>(std::make_unique<SystemSerialPorts>(QStringList {m_device}));
        m_window->show();
        m_clock.start();
        m_minuteClock.start();
        m_cpuAtMinute = ProcessUsage::cpuMilliseconds();

        connect(&m_watch, &QTimer::timeout, this, [this] { watch(); });
        m_watch.start(1000);
        return true;
    }

    int exitCode() const { return m_scansFailed == 0 && m_connected ? 0 : 1; }

private:
    // Once a second: connect when the row is there, follow a scan, and act
    // on the minute.
    void watch()
    {
        // The save dialog runs an event loop of its own, in which this timer
        // fires too.
        if (m_inScanDialog)
            return;
        MainWindowUi *ui = m_window->form();
        if (!m_connected) {
            const int row = m_window->session()->discoveryOver() ? rowOf(*m_window, m_device) : -1;
            if (row > 0) {
                chooseRow(*m_window, row);
                m_connected = true;
                say(QStringLiteral("connected to %1").arg(ui->PortSelBox->itemText(row)));
            } else if (m_window->session()->discoveryOver() && m_clock.elapsed() > 10000) {
                say(QStringLiteral("no instrument found on %1").arg(m_device));
                QCoreApplication::exit(1);
                return;
            }
        } else if (ui->PortSelBox->isEnabled() && !ui->LEDCOM->toolTip().isEmpty()) {
            // Lost: choose the row again once the device is back.
            if (m_lostAt < 0) {
                m_lostAt = m_clock.elapsed();
                say(QStringLiteral("instrument lost: %1").arg(ui->LEDCOM->toolTip().section('\n', 0, 0)));
            }
            if (QFileInfo::exists(m_device) && m_clock.elapsed() - m_lostAt >= 2000) {
                chooseRow(*m_window, rowOf(*m_window, m_device));
                if (!ui->PortSelBox->isEnabled()) {
                    ++m_reconnections;
                    m_lostAt = -1;
                    say(QStringLiteral("instrument chosen again"));
                }
            }
        }

        // The scan requested is over once it ran and ended (or the instrument
        // was lost during it).
        if (m_scanning && m_window->session()->scan() == InstrumentSession::Scan::Idle)
            checkScan();

        const qint64 minute = m_clock.elapsed() / 60000;
        if (minute > m_minutesDone) {
            m_minutesDone = minute;
            record();
            if (m_minutesDone >= m_minutes) {
                finish();
                return;
            }
            if (m_connected && !m_scanning && m_scanEveryMinutes > 0
                && m_minutesDone % m_scanEveryMinutes == 0 && !ui->PortSelBox->isEnabled())
                scan();
        }
    }

    void scan()
    {
        ++m_scanNumber;
        m_captureFile = QDir(m_captureFolder).filePath(QStringLiteral("soak-eye-%1.bmp").arg(m_scanNumber));
        answerSaveDialog(m_captureFile);
        m_inScanDialog = true;
        m_window->form()->ScanBtn->click();
        m_inScanDialog = false;
        m_scanning = m_window->session()->scanCountdown() > 0;
        if (!m_scanning) {
            ++m_scansFailed;
            say(QStringLiteral("scan %1 did not start: %2")
                    .arg(m_scanNumber)
                    .arg(m_window->form()->ScanningLabel->text()));
        }
    }

    // The scan is over: the file must be a whole bitmap holding a capture.
    void checkScan()
    {
        m_scanning = false;
        QFile file(m_captureFile);
        const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        const QImage picture = QImage::fromData(bytes);
        const bool whole = bytes.size() == CaptureSize && picture.size() == QSize(254, 239)
            && bytes != m_template && m_window->form()->ScanProgressBar->value() == 100;
        if (whole)
            ++m_scansSaved;
        else
            ++m_scansFailed;
        say(QStringLiteral("scan %1 %2 (%3 bytes)")
                .arg(m_scanNumber)
                .arg(whole ? "saved" : "FAILED")
                .arg(bytes.size()));
        QFile::remove(m_captureFile);
    }

    void record()
    {
        const qint64 cpu = ProcessUsage::cpuMilliseconds();
        const double cpuPercent = 100.0 * double(cpu - m_cpuAtMinute) / double(m_minuteClock.elapsed());
        m_cpuAtMinute = cpu;
        m_minuteClock.restart();
        const qint64 resident = ProcessUsage::residentKiB();
        const qint64 heap = ProcessUsage::heapInUseBytes() / 1024;
        m_csv.write(QStringLiteral("%1,%2,%3,%4,%5,%6,%7\n")
                        .arg(m_minutesDone)
                        .arg(resident)
                        .arg(cpuPercent, 0, 'f', 2)
                        .arg(heap)
                        .arg(m_scansSaved)
                        .arg(m_scansFailed)
                        .arg(m_reconnections)
                        .toUtf8());
        m_csv.flush();
        say(QStringLiteral("resident %1 KiB, heap %2 KiB, CPU %3 % of one core; scans saved %4, failed %5; "
                           "reconnections %6; lamp %7, quality %8")
                .arg(resident)
                .arg(heap)
                .arg(cpuPercent, 0, 'f', 2)
                .arg(m_scansSaved)
                .arg(m_scansFailed)
                .arg(m_reconnections)
                .arg(m_window->form()->LEDCOM->toolTip().isEmpty() ? "connected" : "lost")
                .arg(m_window->form()->QFactorLabel->text()));
    }

    void finish()
    {
        m_watch.stop();
        m_window.reset();
        say(QStringLiteral("window closed"));
        QCoreApplication::exit(exitCode());
    }

    void say(const QString &what)
    {
        const qint64 seconds = m_clock.elapsed() / 1000;
        std::printf("[%3lld:%02lld] %s\n", seconds / 60, seconds % 60, qPrintable(what));
        std::fflush(stdout);
    }

    QString m_device;
    int m_minutes;
    int m_scanEveryMinutes;
    QString m_captureFolder;
    QFile m_csv;
    QByteArray m_template;
    std::unique_ptr<MainWindow> m_window;
    QTimer m_watch;
    QElapsedTimer m_clock;
    QElapsedTimer m_minuteClock;
    qint64 m_cpuAtMinute = 0;
    qint64 m_minutesDone = 0;
    qint64 m_lostAt = -1;
    bool m_connected = false;
    bool m_scanning = false;
    bool m_inScanDialog = false;
    int m_scanNumber = 0;
    QString m_captureFile;
    int m_scansSaved = 0;
    int m_scansFailed = 0;
    int m_reconnections = 0;
};

bool readCount(const QCommandLineParser &parser, const QString &option, int &value)
{
    bool ok = true;
    if (parser.isSet(option))
        value = parser.value(option).toInt(&ok);
    return ok && value >= 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Runs the Zentaval main window for a long time against "
                                                    "the instrument on DEVICE and records its resources."));
    parser.addHelpOption();
    parser.addOption(
        {QStringLiteral("minutes"), QStringLiteral("How long to run (default 60)."), QStringLiteral("N")});
    parser.addOption({QStringLiteral("scan-every"),
                      QStringLiteral("Minutes between two scans, 0 for none (default 5)."),
                      QStringLiteral("M")});
    parser.addOption({QStringLiteral("captures"),
                      QStringLiteral("Folder of the capture files (default the temporary folder)."),
                      QStringLiteral("DIR")});
    parser.addOption({QStringLiteral("csv"),
                      QStringLiteral("The record, one line a minute (default soak.csv)."),
                      QStringLiteral("FILE")});
    parser.addPositionalArgument(QStringLiteral("DEVICE"), QStringLiteral("The instrument's device path."));
    parser.process(application);

    int minutes = 60;
    int scanEvery = 5;
    if (!readCount(parser, QStringLiteral("minutes"), minutes) || minutes == 0
        || !readCount(parser, QStringLiteral("scan-every"), scanEvery)
        || parser.positionalArguments().size() != 1) {
        parser.showHelp(2);
    }
    const QString captures = parser.isSet(QStringLiteral("captures"))
        ? parser.value(QStringLiteral("captures"))
        : QDir::tempPath();
    const QString csv = parser.isSet(QStringLiteral("csv")) ? parser.value(QStringLiteral("csv"))
                                                            : QStringLiteral("soak.csv");

    SoakDriver driver(parser.positionalArguments().constFirst(), minutes, scanEvery, captures, csv);
    if (!driver.start())
        return 1;
    return application.exec();
}
