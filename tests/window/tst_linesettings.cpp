#include "window/commandline.h"
#include "io/linesettings.h"
#include "io/serialports.h"
#include "simulatedinstrument.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using SP = QSerialPort;
using Settings = std::optional<LineSettings>;
using R = CommandLine::Request;

namespace {
QString text(const LineSettings &s)
{
    return QString::asprintf("%d %d/%d/%d flow %d", s.baudRate, s.dataBits, s.parity, s.stopBits,
                             s.flowControl);
}
QString text(const LineOverride &o)
{
    auto f = [](auto v) { return v ? QString::number(*v) : QStringLiteral("-"); };
    return QStringLiteral("%1 %2/%3/%4").arg(f(o.baudRate), f(o.dataBits), f(o.parity), f(o.stopBits));
}
LineOverride over(std::optional<qint32> b, std::optional<SP::DataBits> d = {},
                  std::optional<SP::Parity> p = {}, std::optional<SP::StopBits> s = {})
{
    return {b, d, p, s};
}
// The rate and frame bits of a terminal as the kernel holds them, read on a descriptor of its own.
QString frameOf(int fd)
{
    termios t {};
    ::tcgetattr(fd, &t);
    return QString::asprintf("speed %o cflag %o", ::cfgetospeed(&t),
                             t.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS));
}
} // namespace

class TestLineSettings : public QObject
{
    Q_OBJECT
private slots:
    void combinesSystemAndOverride_data()
    {
        QTest::addColumn<Settings>("system");
        QTest::addColumn<LineOverride>("override");
        QTest::addColumn<LineSettings>("expected");
        const LineSettings stty {115200, SP::Data7, SP::EvenParity, SP::TwoStop, SP::HardwareControl};
        QTest::newRow("nothing known") << Settings() << LineOverride {} << LineSettings {};
        QTest::newRow("the system's kept") << Settings(stty) << LineOverride {} << stty;
        QTest::newRow("only the asked fields change")
            << Settings(stty) << over(9600, {}, SP::NoParity)
            << LineSettings {9600, SP::Data7, SP::NoParity, SP::TwoStop, SP::HardwareControl};
        QTest::newRow("override on the defaults")
            << Settings() << over({}, SP::Data7, SP::OddParity, SP::TwoStop)
            << LineSettings {9600, SP::Data7, SP::OddParity, SP::TwoStop, SP::NoFlowControl};
        QTest::newRow("never XON/XOFF")
            << Settings(LineSettings {1200, SP::Data8, SP::NoParity, SP::OneStop, SP::SoftwareControl})
            << LineOverride {}
            << LineSettings {1200, SP::Data8, SP::NoParity, SP::OneStop, SP::NoFlowControl};
    }
    void combinesSystemAndOverride()
    {
        QFETCH(Settings, system);
        QFETCH(LineOverride, override);
        QFETCH(LineSettings, expected);
        QCOMPARE(text(effectiveLineSettings(system, override)), text(expected));
    }
    // --baud and --line reach parseLineOverride; every rejection names its culprit.
    void readsTheCommandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("request"); // -1: rejected
        QTest::addColumn<QString>("blamed");
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<LineOverride>("override");
        const QStringList none;
        QTest::newRow("nothing") << none << int(R::Window) << "" << none << LineOverride {};
        QTest::newRow("options among paths")
            << QStringList {"/dev/a", "--baud", "57600", "/dev/b", "--line=7e1"} << int(R::Window) << ""
            << QStringList {"/dev/a", "/dev/b"} << over(57600, SP::Data7, SP::EvenParity, SP::OneStop);
        const QList<std::pair<QStringList, LineOverride>> accepted
            = {{{"--baud", "50"}, over(50)},
               {{"--baud=4000000"}, over(4000000)},
               {{"--line", "6S2"}, over({}, SP::Data6, SP::SpaceParity, SP::TwoStop)},
               {{"--line", "8o1"}, over({}, SP::Data8, SP::OddParity, SP::OneStop)},
               {{"--line", "5M1"}, over({}, SP::Data5, SP::MarkParity, SP::OneStop)},
               {{"--line", "8n2"}, over({}, SP::Data8, SP::NoParity, SP::TwoStop)}};
        for (const auto &[arguments, expected] : accepted)
            QTest::newRow(qPrintable(arguments.join(' ')))
                << arguments << int(R::Window) << "" << none << expected;
        QTest::newRow("help before bad values") << QStringList {"/dev/a", "--baud", "x", "--help"}
                                                << int(R::Help) << "" << none << LineOverride {};
        QTest::newRow("version") << QStringList {"-v"} << int(R::Version) << "" << none << LineOverride {};
        for (const char *bad : {"49", "4000001", "fast", "+9600", " 9600", "9600.0", "99999999999"})
            QTest::newRow(qPrintable(QStringLiteral("rate \"%1\"").arg(bad)))
                << QStringList {"--baud", bad} << -1 << "--baud" << none << LineOverride {};
        for (const char *bad : {"9N1", "4N1", "8X1", "8N3", "8N", "8N1 ", "N81", "8N1.5"})
            QTest::newRow(qPrintable(QStringLiteral("line \"%1\"").arg(bad)))
                << QStringList {"--line", bad} << -1 << "--line" << none << LineOverride {};
        const QList<QStringList> bad
            = {{"--bogus", "/dev/a"},       {"-x"},        {"--", "--baud"}, {"--baud"},
               {"--baud", "--line", "8N1"}, {"/dev/a", ""}};
        const QStringList culprits = {"bogus", "x", "--baud", "--baud", "--baud", "empty"};
        for (int i = 0; i < bad.size(); ++i)
            QTest::newRow(qPrintable("rejects " + bad[i].join(' ')))
                << bad[i] << -1 << culprits[i] << none << LineOverride {};
    }
    void readsTheCommandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, request);
        QFETCH(QString, blamed);
        QFETCH(QStringList, paths);
        QFETCH(LineOverride, override);
        QCommandLineParser parser;
        QString error;
        const auto commandLine = parseCommandLine(parser, QStringList {"zentaval"} + arguments, &error);
        QCOMPARE(commandLine ? int(commandLine->request) : -1, request);
        QVERIFY2(request >= 0 ? error.isEmpty() : error.contains(blamed), qPrintable(error));
        QCOMPARE(commandLine ? commandLine->devicePaths : QStringList {}, paths);
        QCOMPARE(text(commandLine ? commandLine->lineOverride : LineOverride {}), text(override));
    }
    // A pty set as stty would to 115200, two stop bits and hardware handshake
    // (Linux holds every pty at 8 bits without parity) keeps that through the
    // settings read, the busy probe, the program's open and its close.
    void keepsTheSystemLine()
    {
        SimulatedInstrument instrument;
        QVERIFY2(instrument.isOpen(), qPrintable(instrument.errorString()));
        const QString path = instrument.devicePath();
        const int watcher = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(watcher >= 0);
        termios t;
        QCOMPARE(::tcgetattr(watcher, &t) | ::cfsetspeed(&t, B115200), 0);
        t.c_cflag |= CSTOPB | CRTSCTS | HUPCL;
        QCOMPARE(::tcsetattr(watcher, TCSANOW, &t), 0);
        const QString stty = frameOf(watcher);
        // A named path is listed once, and only while it exists.
        QTemporaryDir dir;
        const QString link = dir.filePath("ttyZentaval");
        SystemSerialPorts ports({link, path, path}, SystemSerialPorts::Enumeration::ExtraOnly);
        QCOMPARE(ports.availablePorts(), (QList<SerialPortEntry> {{path, path}}));
        QVERIFY(QFile::link(path, link));
        const QList<SerialPortEntry> entries = ports.availablePorts();
        QCOMPARE(entries, (QList<SerialPortEntry> {{link, link}, {path, path}}));
        QCOMPARE(text(ports.lineSettings(entries[0])),
                 text(LineSettings {115200, SP::Data8, SP::NoParity, SP::TwoStop, SP::HardwareControl}));
        QVERIFY(!ports.isBusy(entries[0]));
        QCOMPARE(frameOf(watcher), stty);
        QSerialPort port(entries[0].systemLocation);
        applyLineSettings(port, ports.lineSettings(entries[0]));
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        QCOMPARE(frameOf(watcher), stty);
        // The reads' opens and closes left the line working both ways.
        port.write("?\r\n");
        QByteArray answer;
        QTRY_VERIFY((answer += port.readAll()).endsWith('\n'));
        QCOMPARE(answer, instrument.identificationAnswer());
        port.close();
        QCOMPARE(frameOf(watcher), stty);
        ::close(watcher);
    }
};

QTEST_GUILESS_MAIN(TestLineSettings)
#include "tst_linesettings.moc"
