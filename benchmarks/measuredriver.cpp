// zentaval-measure: builds the program's real main window in this process,
// exactly as the program does, and times it against instruments on the device
// paths it is given: when the window is first painted, when the instrument is
// listed, when it is connected and shows its first measurement. It then picks
// the instrument, polls for a while, starts a scan with a capture file name
// and measures how long the event loop stalls: a 1 ms timer notes the longest
// gap between two of its ticks. Results are printed as key=value lines.
//
// Usage: zentaval-measure [--start-ns NS] [--poll-seconds S] [--capture FILE]
//                         [--only-named] [--verbose] [--click-points] DEVICE...
//   --start-ns      CLOCK_REALTIME of the start, in ns (default: this process's
//                   start as the kernel records it, to 10 ms)
//   --only-named    probe the named devices alone, not the ports the system
//                   enumerates first as the program does (a check that needs
//                   no timing, such as CI's)
//   --verbose       list every gap of 8 ms or more on standard error
//   --click-points  print the window-relative centres of the port list and the
//                   Scan button, then quit

#include "window/mainwindow.h"
#include "window/mainwindowui.h"
#include "io/serialports.h"
#include "io/capturefile.h"
#include "processusage.h"
#include "windowharness.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QHostAddress>
#include <QComboBox>
#include <QCommandLinkButton>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTimer>
#include <QTransform>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

using ProcessUsage::processStartNs;
using ProcessUsage::realtimeNs;
using ProcessUsage::SchedulerStatistics;
using ProcessUsage::ThreadTimes;

// The longest gap between two ticks of a 1 ms timer, over a window that can
// be restarted. A gap is the program's work, its blocking on the system, and
// the time the thread waited for a CPU that other processes held: the last is
// counted apart, since on a busy machine it can be most of a gap.
class StallMeter : public QObject
{
public:
    explicit StallMeter(QObject *parent = nullptr)
        : QObject(parent)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
    }

    void start()
    {
        restart();
        m_timer.start();
    }
    void restart()
    {
        m_last = realtimeNs();
        m_lastTimes = m_scheduler.read();
        m_longest = {};
        m_longestOwnNs = 0;
        m_busiestNs = 0;
        m_over16 = 0;
    }

    struct Gap
    {
        qint64 wallNs = 0;
        qint64 cpuNs = 0;     // the thread on a CPU
        qint64 waitingNs = 0; // the thread runnable, waiting for a CPU
    };
    // The longest gap.
    Gap longest() const { return m_longest; }
    // The longest gap less the time the thread waited for a CPU.
    double longestOwnMs() const { return m_longestOwnNs / 1e6; }
    // The most CPU time the thread spent between two ticks.
    double busiestMs() const { return m_busiestNs / 1e6; }
    int stallsOver16Ms() const { return m_over16; }

    std::function<void()> onTick;
    // Called for every gap of 8 ms or more.
    std::function<void(const Gap &)> onLongGap;

private:
    void tick()
    {
        const qint64 now = realtimeNs();
        const ThreadTimes times = m_scheduler.read();
        const Gap gap {now - m_last, times.cpuNs - m_lastTimes.cpuNs,
                       times.waitingNs - m_lastTimes.waitingNs};
        m_last = now;
        m_lastTimes = times;
        if (gap.wallNs > m_longest.wallNs)
            m_longest = gap;
        m_longestOwnNs = std::max(m_longestOwnNs, gap.wallNs - gap.waitingNs);
        m_busiestNs = std::max(m_busiestNs, gap.cpuNs);
        if (gap.wallNs > 16000000)
            ++m_over16;
        if (gap.wallNs >= 8000000 && onLongGap)
            onLongGap(gap);
        if (onTick)
            onTick();
    }

    SchedulerStatistics m_scheduler;
    QTimer m_timer;
    qint64 m_last = 0;
    ThreadTimes m_lastTimes;
    Gap m_longest;
    qint64 m_longestOwnNs = 0;
    qint64 m_busiestNs = 0;
    int m_over16 = 0;
};

// What the meter saw over one stretch of the run.
struct StallFigures
{
    StallMeter::Gap longest {-1000000, -1000000, -1000000};
    double longestOwnMs = -1;
    double busiestMs = -1;
    int over16 = 0;

    static StallFigures of(const StallMeter &meter)
    {
        return {meter.longest(), meter.longestOwnMs(), meter.busiestMs(), meter.stallsOver16Ms()};
    }
    void print(const char *stretch) const
    {
        std::printf("%s_longest_stall_ms=%.1f\n", stretch, longest.wallNs / 1e6);
        std::printf("%s_longest_stall_cpu_ms=%.1f\n", stretch, longest.cpuNs / 1e6);
        std::printf("%s_longest_stall_waiting_ms=%.1f\n", stretch, longest.waitingNs / 1e6);
        std::printf("%s_longest_own_stall_ms=%.1f\n", stretch, longestOwnMs);
        std::printf("%s_busiest_gap_cpu_ms=%.1f\n", stretch, busiestMs);
        std::printf("%s_stalls_over_16_ms=%d\n", stretch, over16);
    }
};

struct Options
{
    qint64 startNs = 0;
    int pollSeconds = 10;
    QString captureFile;
    bool clickPoints = false;
    bool verbose = false;
    bool onlyNamed = false;
    quint16 listenPort = 0; // serve remote control on 127.0.0.1 at this port; 0: not
    quint16 httpPort = 0;   // serve HTTP (page, metrics) on 127.0.0.1 at this port; 0: not
    // Probed after the ports the system enumerates, as the program probes
    // the devices named on its command line.
    QStringList devices;
};

[[noreturn]] void usage()
{
    std::fprintf(stderr,
                 "usage: zentaval-measure [--start-ns NS] [--poll-seconds S] [--capture FILE] "
                 "[--only-named] [--listen PORT] [--http PORT] [--verbose] [--click-points] DEVICE...\n");
    std::exit(2);
}

} // namespace

int main(int argc, char *argv[])
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const auto value = [&]() -> const char * {
            if (i + 1 >= argc)
                usage();
            return argv[++i];
        };
        if (std::strcmp(argv[i], "--start-ns") == 0)
            options.startNs = std::atoll(value());
        else if (std::strcmp(argv[i], "--poll-seconds") == 0)
            options.pollSeconds = std::atoi(value());
        else if (std::strcmp(argv[i], "--capture") == 0)
            options.captureFile = QString::fromLocal8Bit(value());
        else if (std::strcmp(argv[i], "--verbose") == 0)
            options.verbose = true;
        else if (std::strcmp(argv[i], "--click-points") == 0)
            options.clickPoints = true;
        else if (std::strcmp(argv[i], "--only-named") == 0)
            options.onlyNamed = true;
        else if (std::strcmp(argv[i], "--listen") == 0)
            options.listenPort = quint16(std::atoi(value()));
        else if (std::strcmp(argv[i], "--http") == 0)
            options.httpPort = quint16(std::atoi(value()));
        else if (argv[i][0] == '-')
            usage();
        else
            options.devices << QString::fromLocal8Bit(argv[i]);
    }
    if (options.devices.isEmpty() && !options.clickPoints)
        usage();
    if (options.startNs == 0)
        options.startNs = processStartNs();
    const auto sinceStartMs = [&options] { return (realtimeNs() - options.startNs) / 1e6; };

    // The options are this driver's, not Qt's.
    int applicationArgc = 1;
    QApplication application(applicationArgc, argv);

    StallMeter stalls;
    stalls.start();

    // The window gets its ports as the program's entry point gives them.
    const auto enumeration = options.onlyNamed ? SystemSerialPorts::Enumeration::ExtraOnly
                                               : SystemSerialPorts::Enumeration::SystemAndExtra;
    MainWindow window(std::make_unique<SystemSerialPorts>(options.devices, enumeration));
    MainWindowUi *ui = window.form();
    if (options.listenPort != 0) {
        window.setRemoteControlAddress(QHostAddress::LocalHost, options.listenPort);
        QString error;
        if (!window.startRemoteControl(&error)) {
            std::fprintf(stderr, "zentaval-measure: cannot listen: %s\n", qPrintable(error));
            return 6;
        }
    }
    if (options.httpPort != 0) {
        window.setHttpAddress(QHostAddress::LocalHost, options.httpPort);
        QString error;
        if (!window.startHttp(&error)) {
            std::fprintf(stderr, "zentaval-measure: cannot serve HTTP: %s\n", qPrintable(error));
            return 6;
        }
    }

    if (options.clickPoints) {
        window.show();
        for (QWidget *widget :
             {static_cast<QWidget *>(ui->PortSelBox), static_cast<QWidget *>(ui->ScanBtn)}) {
            const QPoint centre = widget->mapTo(&window, widget->rect().center());
            std::printf("%s %d %d\n", qPrintable(widget->objectName()), centre.x(), centre.y());
        }
        return 0;
    }

    std::printf("ports_probed=%lld\n", static_cast<long long>(window.session()->portsSeen()));

    double windowShownMs = -1;
    double listedMs = -1;
    double connectedMs = -1;
    double firstMeasurementMs = -1;
    StallFigures pollStalls;
    StallFigures scanStalls;
    double scanSeconds = -1;
    qint64 scanStartNs = 0;
    bool scanEnded = false;
    bool failed = false;

    struct FirstPaint : QObject
    {
        std::function<void()> seen;
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Paint && seen) {
                // Noted once the paint is done and the loop runs again.
                QTimer::singleShot(0, seen);
                seen = nullptr;
            }
            return false;
        }
    } firstPaint;
    firstPaint.seen = [&] { windowShownMs = sinceStartMs(); };
    window.installEventFilter(&firstPaint);

    const QString initialQuality = ui->QFactorLabel->text();

    auto startScan = [&] {
        pollStalls = StallFigures::of(stalls);
        if (!options.captureFile.isEmpty()) {
            WindowHarness::answerSaveDialog(options.captureFile);
            ui->ScanBtn->click();
        }
        if (options.captureFile.isEmpty() || window.session()->scanCountdown() <= 0) {
            failed = options.captureFile.isEmpty() ? failed : true;
            QCoreApplication::quit();
            return;
        }
        // The dialog is the user's time; the scan is measured from here.
        scanStartNs = realtimeNs();
        stalls.restart();
    };

    if (options.verbose) {
        stalls.onLongGap = [&](const StallMeter::Gap &gap) {
            std::fprintf(stderr,
                         "%9.1f ms: gap %.1f ms, %.1f ms of it on the CPU, %.1f ms waiting for one, %s\n",
                         sinceStartMs(), gap.wallNs / 1e6, gap.cpuNs / 1e6, gap.waitingNs / 1e6,
                         WindowHarness::capturing(window) ? "capturing" : "monitoring");
        };
    }

    if (options.verbose) {
        QObject::connect(ui->ScanProgressBar, &QProgressBar::valueChanged, &window, [&](int value) {
            std::fprintf(stderr, "%9.1f ms: progress %d\n", sinceStartMs(), value);
        });
    }

    bool sawCapturing = false;
    stalls.onTick = [&] {
        if (firstMeasurementMs < 0 && connectedMs >= 0 && ui->QFactorLabel->text() != initialQuality) {
            firstMeasurementMs = sinceStartMs();
            // Polling from here on: the stalls of the polling alone.
            stalls.restart();
            QTimer::singleShot(options.pollSeconds * 1000, startScan);
        }
        if (scanStartNs != 0 && !scanEnded) {
            if (WindowHarness::capturing(window))
                sawCapturing = true;
            else if (sawCapturing) {
                scanEnded = true;
                scanSeconds = (realtimeNs() - scanStartNs) / 1e9;
                scanStalls = StallFigures::of(stalls);
                QTimer::singleShot(500, &QCoreApplication::quit);
            }
        }
    };

    QObject::connect(ui->PortSelBox->model(), &QAbstractItemModel::rowsInserted, &window, [&] {
        if (listedMs >= 0)
            return;
        listedMs = sinceStartMs();
        // The user picks the first instrument listed.
        QTimer::singleShot(0, &window, [ui] {
            ui->PortSelBox->setCurrentIndex(1);
            emit ui->PortSelBox->activated(1);
        });
    });
    QObject::connect(&window, &QWidget::windowTitleChanged, &window, [&] {
        if (connectedMs < 0)
            connectedMs = sinceStartMs();
    });

    // Discovery, connection, polling and a scan of about 17 s all fit.
    QTimer::singleShot((options.pollSeconds + 120) * 1000, [&] {
        failed = true;
        QCoreApplication::quit();
    });

    window.show();
    application.exec();

    std::printf("window_shown_ms=%.1f\n", windowShownMs);
    std::printf("instrument_listed_ms=%.1f\n", listedMs);
    std::printf("connected_ms=%.1f\n", connectedMs);
    std::printf("first_measurement_ms=%.1f\n", firstMeasurementMs);
    std::printf("poll_seconds=%d\n", options.pollSeconds);
    pollStalls.print("poll");
    if (!options.captureFile.isEmpty()) {
        std::printf("scan_seconds=%.1f\n", scanSeconds);
        scanStalls.print("scan");
        QFile capture(options.captureFile);
        QFile blank(Capture::templateFileName());
        const QByteArray captured = capture.open(QIODevice::ReadOnly) ? capture.readAll() : QByteArray();
        const QByteArray templateBytes = blank.open(QIODevice::ReadOnly) ? blank.readAll() : QByteArray();
        std::printf("capture_bytes=%lld\n", static_cast<long long>(captured.size()));
        // A real capture is a bitmap that is no longer the blank template.
        const bool captureOk = captured.startsWith("BM") && captured != templateBytes;
        std::printf("capture_ok=%d\n", captureOk ? 1 : 0);
        // What EyePlot shows at the end is the file, turned a quarter turn.
        const QImage shown = ui->EyePlot->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
        const QImage expected = QImage::fromData(captured)
                                    .transformed(QTransform().rotate(90), Qt::FastTransformation)
                                    .convertToFormat(QImage::Format_RGB32);
        std::printf("capture_shown_is_file=%d\n", !expected.isNull() && shown == expected ? 1 : 0);
        failed = failed || !captureOk || !scanEnded;
    }
    failed = failed || windowShownMs < 0 || listedMs < 0 || firstMeasurementMs < 0;
    return failed ? 1 : 0;
}
