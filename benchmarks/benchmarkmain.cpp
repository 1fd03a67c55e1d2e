// Runs the benchmarks inside a QApplication (pictures and labels need one)
// and ends with the ratio of a whole Capturing pass to its floor, the load and
// turn of the same picture alone.

#include <benchmark/benchmark.h>

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Keeps the real time of every run while printing as usual.
class RecordingReporter : public benchmark::ConsoleReporter
{
public:
    // Colours only on a terminal, so that the output can be kept in a file.
    RecordingReporter()
        : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular)
    {
    }

    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.error_occurred)
                continue;
            // With repetitions, the median stands for the benchmark.
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median")
                continue;
            const std::string name = run.run_name.function_name;
            realTimes[name] = run.GetAdjustedRealTime();
            cpuTimes[name] = run.GetAdjustedCPUTime();
        }
    }

    std::map<std::string, double> realTimes;
    std::map<std::string, double> cpuTimes;
};

// On a machine shared with other work the real times stretch; the CPU times
// show the same ratio undisturbed.
void printRatio(const RecordingReporter &reporter, const std::string &passName, const std::string &floorName)
{
    const auto ratio = [&](const std::map<std::string, double> &times) {
        const auto pass = times.find(passName);
        const auto floor = times.find(floorName);
        if (pass == times.end() || floor == times.end() || floor->second <= 0)
            return -1.0;
        return pass->second / floor->second;
    };
    const double real = ratio(reporter.realTimes);
    if (real < 0)
        return;
    std::printf("%s / %s: %.2f (real time), %.2f (CPU time)\n", passName.c_str(), floorName.c_str(), real,
                ratio(reporter.cpuTimes));
}

} // namespace

int main(int argc, char **argv)
{
    // The labels are never shown on a screen.
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);

    benchmark::Initialize(&argc, argv);
    QApplication application(argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    printRatio(reporter, "CapturingPass", "LoadAndTurn");
    printRatio(reporter, "CapturingPassPainted", "LoadAndTurnPainted");
    return 0;
}
