// zentaval-sim: serves simulated Zentaval instruments on pseudo-terminals and
// prints the device path of each, one a line, for the program to be pointed at.

#include "simulatedinstrument.h"
#include "cli/terminationsignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <limits>
#include <memory>
#include <vector>

namespace {

// A whole number of at least the lowest value; the default when not given.
template<typename Number>
bool readNumber(const QCommandLineParser &parser, const QString &option, Number lowest, Number defaultValue,
                Number &value)
{
    value = defaultValue;
    if (!parser.isSet(option))
        return true;
    bool ok = false;
    const qlonglong number = parser.value(option).toLongLong(&ok);
    if (!ok || number < qlonglong(lowest) || number > qlonglong(std::numeric_limits<Number>::max()))
        return false;
    value = Number(number);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zentaval-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulated Quorvane Zentaval 731942K instruments on pseudo-terminals.\n"
                       "Prints the device path of each instrument on its own line and runs until it is "
                       "terminated."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("instruments"), QStringLiteral("Number of instruments (default 1)."),
                      QStringLiteral("N")});
    parser.addOption({QStringLiteral("baud"),
                      QStringLiteral("Line rate of the capture stream (default %1).")
                          .arg(SimulatedInstrument::DefaultBaudRate),
                      QStringLiteral("RATE")});
    parser.addOption({QStringLiteral("scan-delay"),
                      QStringLiteral("Milliseconds from a scan command to the first byte of its answer "
                                     "(default 0)."),
                      QStringLiteral("MS")});
    parser.addOption({QStringLiteral("scan-cut"),
                      QStringLiteral("Go quiet for good after this many bytes of a scan's bitmap, as "
                                     "when the cable is pulled mid-scan (default 0: the whole bitmap)."),
                      QStringLiteral("BYTES")});
    parser.addOption({QStringLiteral("seed"),
                      QStringLiteral("Seed of the first instrument's measurements and captures; "
                                     "the next instruments take the following seeds (default random)."),
                      QStringLiteral("S")});
    parser.addOption({QStringLiteral("link"),
                      QStringLiteral("Also reach the instruments through symbolic links named PATH, "
                                     "PATH-2, PATH-3 ..., and print those instead of the device "
                                     "paths. A link outlives a restart of the simulator, as a "
                                     "/dev/serial/by-id link outlives replugging an adapter."),
                      QStringLiteral("PATH")});
    parser.process(application);

    int count = 0;
    int baud = 0;
    int scanDelay = 0;
    qint64 scanCut = 0;
    if (!readNumber(parser, QStringLiteral("instruments"), 1, 1, count)) {
        std::fprintf(stderr, "zentaval-sim: --instruments needs a whole number above 0\n");
        return 2;
    }
    if (!readNumber(parser, QStringLiteral("baud"), 1, SimulatedInstrument::DefaultBaudRate, baud)) {
        std::fprintf(stderr, "zentaval-sim: --baud needs a whole number above 0\n");
        return 2;
    }
    if (!readNumber(parser, QStringLiteral("scan-delay"), 0, 0, scanDelay)) {
        std::fprintf(stderr, "zentaval-sim: --scan-delay needs a whole number of milliseconds, 0 or more\n");
        return 2;
    }
    if (!readNumber<qint64>(parser, QStringLiteral("scan-cut"), 0, 0, scanCut)) {
        std::fprintf(stderr, "zentaval-sim: --scan-cut needs a whole number of bytes, 0 or more\n");
        return 2;
    }
    quint32 seed = 0;
    const bool seeded = parser.isSet(QStringLiteral("seed"));
    if (seeded) {
        bool ok = false;
        seed = parser.value(QStringLiteral("seed")).toUInt(&ok);
        if (!ok) {
            std::fprintf(stderr, "zentaval-sim: --seed needs a whole number from 0 to 4294967295\n");
            return 2;
        }
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "zentaval-sim: unexpected argument %s\n",
                     qPrintable(parser.positionalArguments().constFirst()));
        return 2;
    }

    // The instruments are destroyed, and their pseudo-terminals closed, before
    // the process exits.
    if (!callOnTerminationSignals(&application, [] { QCoreApplication::quit(); })) {
        std::perror("zentaval-sim: signal handling");
        return 1;
    }

    std::vector<std::unique_ptr<SimulatedInstrument>> instruments;
    for (int i = 0; i < count; ++i) {
        auto instrument = std::make_unique<SimulatedInstrument>();
        if (!instrument->isOpen()) {
            std::fprintf(stderr, "zentaval-sim: %s\n", qPrintable(instrument->errorString()));
            return 1;
        }
        instrument->setIdentificationAnswer(SimulatedInstrument::defaultIdentificationAnswer(20431 + i));
        instrument->setBaudRate(baud);
        instrument->setScanDelay(scanDelay);
        instrument->setScanCut(scanCut);
        if (seeded)
            instrument->setSeed(seed + quint32(i));
        instruments.push_back(std::move(instrument));
    }
    const QString link = parser.value(QStringLiteral("link"));
    for (std::size_t i = 0; i < instruments.size(); ++i) {
        QString path = instruments[i]->devicePath();
        if (!link.isEmpty()) {
            const QString linkPath = i == 0 ? link : QStringLiteral("%1-%2").arg(link).arg(i + 1);
            QFile::remove(linkPath);
            if (!QFile::link(path, linkPath)) {
                std::fprintf(stderr, "zentaval-sim: cannot make the link %s\n", qPrintable(linkPath));
                return 1;
            }
            path = linkPath;
        }
        std::printf("%s\n", qPrintable(path));
    }
    std::fflush(stdout);

    const int exitCode = application.exec();
    // The links stay: the next run points them at its own instruments.
    return exitCode;
}
