// zentaval-measure: builds the program's real main window in this process,
// exactly as the program does, and times it against instruments on the device
// paths it is given: when the window is first painted, when the instrument is
// listed, when it is connected and shows its first measurement. It then picks
// the instrument, polls for a while, starts a scan with a capture file name
// and measures how long the event loop stalls: a 1 ms timer notes the longest
// gap between two of its ticks. Results are printed as key=value lines.
//
// Usage: zentaval-measure [--start-ns NS] [--poll-seconds S] [--capture FILE]
//                         [--verbose] [--click-points] DEVICE...
//   --start-ns      CLOCK_REALTIME of the start, in ns (default: this process's
//                   start as the kernel records it, to 10 ms)
//   --verbose       list every gap of 8 ms or more on standard error
//   --click-points  print the window-relative centres of the port list and the
//                   Scan button, then quit

#include "app/mainwindow.h"
#include "app/processstate.h"
#include "forms/mainwindowui.h"
#include "measurement/capture.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QComboBox>
#include <QCommandLinkButton>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

qint64 realtimeNs()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

qint64 boottimeNs()
{
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// This process's start on the CLOCK_REALTIME scale, from the kernel's record
// of it in clock ticks since boot.
qint64 processStartNs()
{
    std::ifstream stat("/proc/self/stat");
    std::string line;
    std::getline(stat, line);
    // Field 2 (the command) may hold spaces; the fields after it do not.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    for (int number = 3; number <= 22 && fields >> field; ++number) {
        if (number == 22) {
            const qint64 ticks = std::stoll(field);
            const qint64 sinceBootNs = ticks * (1000000000 / sysconf(_SC_CLK_TCK));
            return realtimeNs() - (boottimeNs() - sinceBootNs);
        }
    }
    return realtimeNs();
}

qint64 threadCpuNs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The longest gap between two ticks of a 1 ms timer, over a window that can
// be restarted. Beside the wall time of a gap it notes the CPU time the GUI
// thread spent in it: on a busy machine a gap can be the scheduler's, not the
// program's work.
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
        m_lastCpu = threadCpuNs();
        m_longestNs = 0;
        m_longestCpuOfLongestNs = 0;
        m_busiestNs = 0;
        m_over16 = 0;
    }
    // The longest gap, and the CPU time the thread spent in it.
    double longestMs() const { return m_longestNs / 1e6; }
    double longestCpuMs() const { return m_longestCpuOfLongestNs / 1e6; }
    // The most CPU time the thread spent between two ticks.
    double busiestMs() const { return m_busiestNs / 1e6; }
    int stallsOver16Ms() const { return m_over16; }

    std::function<void()> onTick;
    // Called for every gap of 8 ms or more: wall and CPU time in ns.
    std::function<void(qint64, qint64)> onLongGap;

private:
    void tick()
    {
        const qint64 now = realtimeNs();
        const qint64 cpu = threadCpuNs();
        const qint64 gap = now - m_last;
        const qint64 gapCpu = cpu - m_lastCpu;
        m_last = now;
        m_lastCpu = cpu;
        if (gap > m_longestNs) {
            m_longestNs = gap;
            m_longestCpuOfLongestNs = gapCpu;
        }
        m_busiestNs = std::max(m_busiestNs, gapCpu);
        if (gap > 16000000)
            ++m_over16;
        if (gap >= 8000000 && onLongGap)
            onLongGap(gap, gapCpu);
        if (onTick)
            onTick();
    }

    QTimer m_timer;
    qint64 m_last = 0;
    qint64 m_lastCpu = 0;
    qint64 m_longestNs = 0;
    qint64 m_longestCpuOfLongestNs = 0;
    qint64 m_busiestNs = 0;
    int m_over16 = 0;
};

// Answers the save dialog that the Scan button opens, as a user types a name.
void answerSaveDialog(const QString &fileName)
{
    QTimer::singleShot(100, [fileName] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog) {
            answerSaveDialog(fileName);
            return;
        }
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(fileName);
        QTimer::singleShot(0, dialog, [dialog] { QMetaObject::invokeMethod(dialog, "accept"); });
    });
}

struct Options
{
    qint64 startNs = 0;
    int pollSeconds = 10;
    QString captureFile;
    bool clickPoints = false;
    bool verbose = false;
};

[[noreturn]] void usage()
{
    std::fprintf(stderr, "usage: zentaval-measure [--start-ns NS] [--poll-seconds S] [--capture FILE] "
                         "[--verbose] [--click-points] DEVICE...\n");
    std::exit(2);
}

} // namespace

int main(int argc, char *argv[])
{
    Options options;
    // The window reads its device paths from the application's arguments, so
    // only those are passed on.
    std::vector<char *> programArguments{argv[0]};
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
        else if (argv[i][0] == '-')
            usage();
        else
            programArguments.push_back(argv[i]);
    }
    if (options.startNs == 0)
        options.startNs = processStartNs();
    const auto sinceStartMs = [&options] { return (realtimeNs() - options.startNs) / 1e6; };

    int applicationArgc = int(programArguments.size());
    programArguments.push_back(nullptr);
    QApplication application(applicationArgc, programArguments.data());

    StallMeter stalls;
    stalls.start();

    MainWindow window;
    MainWindowUi *ui = window.form();

    if (options.clickPoints) {
        window.show();
        for (QWidget *widget : {static_cast<QWidget *>(ui->PortSelBox), static_cast<QWidget *>(ui->ScanBtn)}) {
            const QPoint centre = widget->mapTo(&window, widget->rect().center());
            std::printf("%s %d %d\n", qPrintable(widget->objectName()), centre.x(), centre.y());
        }
        return 0;
    }

    std::printf("ports_probed=%lld\n", static_cast<long long>(PortList.size()));

    double windowShownMs = -1;
    double listedMs = -1;
    double connectedMs = -1;
    double firstMeasurementMs = -1;
    double pollStallMs = -1;
    double pollStallCpuMs = -1;
    double pollBusiestMs = -1;
    double scanStallMs = -1;
    double scanStallCpuMs = -1;
    double scanBusiestMs = -1;
    int scanStallsOver16 = 0;
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
        pollStallMs = stalls.longestMs();
        pollStallCpuMs = stalls.longestCpuMs();
        pollBusiestMs = stalls.busiestMs();
        if (!options.captureFile.isEmpty()) {
            answerSaveDialog(options.captureFile);
            ui->ScanBtn->click();
        }
        if (options.captureFile.isEmpty() || ScanCountdown <= 0) {
            failed = options.captureFile.isEmpty() ? failed : true;
            QCoreApplication::quit();
            return;
        }
        // The dialog is the user's time; the scan is measured from here.
        scanStartNs = realtimeNs();
        stalls.restart();
    };

    if (options.verbose) {
        stalls.onLongGap = [&](qint64 gap, qint64 cpu) {
            std::fprintf(stderr, "%9.1f ms: gap %.1f ms, %.1f ms of it on the CPU, %s\n", sinceStartMs(),
                         gap / 1e6, cpu / 1e6, PollMode == Capturing ? "capturing" : "monitoring");
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
            if (PollMode == Capturing)
                sawCapturing = true;
            else if (sawCapturing) {
                scanEnded = true;
                scanSeconds = (realtimeNs() - scanStartNs) / 1e9;
                scanStallMs = stalls.longestMs();
                scanStallCpuMs = stalls.longestCpuMs();
                scanBusiestMs = stalls.busiestMs();
                scanStallsOver16 = stalls.stallsOver16Ms();
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
    std::printf("poll_longest_stall_ms=%.1f\n", pollStallMs);
    std::printf("poll_longest_stall_cpu_ms=%.1f\n", pollStallCpuMs);
    std::printf("poll_busiest_gap_cpu_ms=%.1f\n", pollBusiestMs);
    if (!options.captureFile.isEmpty()) {
        std::printf("scan_seconds=%.1f\n", scanSeconds);
        std::printf("scan_longest_stall_ms=%.1f\n", scanStallMs);
        std::printf("scan_longest_stall_cpu_ms=%.1f\n", scanStallCpuMs);
        std::printf("scan_busiest_gap_cpu_ms=%.1f\n", scanBusiestMs);
        std::printf("scan_stalls_over_16_ms=%d\n", scanStallsOver16);
        QFile capture(options.captureFile);
        QFile blank(Capture::templateFileName());
        const QByteArray captured = capture.open(QIODevice::ReadOnly) ? capture.readAll() : QByteArray();
        const QByteArray templateBytes = blank.open(QIODevice::ReadOnly) ? blank.readAll() : QByteArray();
        std::printf("capture_bytes=%lld\n", static_cast<long long>(captured.size()));
        // A real capture is a bitmap that is no longer the blank template.
        const bool captureOk = captured.startsWith("BM") && captured != templateBytes;
        std::printf("capture_ok=%d\n", captureOk ? 1 : 0);
        failed = failed || !captureOk || !scanEnded;
    }
    failed = failed || windowShownMs < 0 || listedMs < 0 || firstMeasurementMs < 0;
    return failed ? 1 : 0;
}
