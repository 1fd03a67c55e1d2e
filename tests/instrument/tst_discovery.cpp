#include "simulatedinstrument.h"
#include "support/windowharness.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QTemporaryDir>

#include <memory>
#include <vector>

using namespace WindowHarness;

namespace {

std::unique_ptr<SimulatedInstrument> instrument(const QByteArray &answer = {})
{
    auto simulated = std::make_unique<SimulatedInstrument>();
    if (!answer.isNull())
        simulated->setIdentificationAnswer(answer);
    return simulated;
}

} // namespace

class TestDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void listsInstrumentsAndPassesOtherPorts();
    void acceptsAnswersByTheModelNumber();
    void listsAtMost29Instruments();
    void connectsToTheChosenInstrument();
    void rowChosenDuringDiscoveryKeepsThePort();
    void promptRowConnectsToNothing();
};

void TestDiscovery::listsInstrumentsAndPassesOtherPorts()
{
    auto first = instrument(SimulatedInstrument::defaultIdentificationAnswer(1));
    auto held = instrument();
    auto silent = instrument();
    silent->setSilent(true);
    auto second = instrument(SimulatedInstrument::defaultIdentificationAnswer(2));
    QTemporaryDir dir;
    const QString missing = dir.filePath("ttyGone");

    // Another program holds this port.
    QSerialPort holder;
    holder.setPortName(held->devicePath());
    QVERIFY(holder.open(QIODevice::ReadWrite));

    auto window = makeWindow({first->devicePath(), held->devicePath(), silent->devicePath(),
                              missing, second->devicePath()});
    QVERIFY(!window->form()->PortSelBox->isEnabled());
    QCOMPARE(rows(*window), QStringList{"Select a Device"});

    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(DiscoveryOver, 6000);
    // 600 ms, then one second for each of the three free ports that opened.
    QVERIFY2(clock.elapsed() >= 3400 && clock.elapsed() < 4500, qPrintable(QString::number(clock.elapsed())));

    const QString firstAnswer = QString::fromLatin1(SimulatedInstrument::defaultIdentificationAnswer(1).mid(1).chopped(1));
    const QString secondAnswer = QString::fromLatin1(SimulatedInstrument::defaultIdentificationAnswer(2).mid(1).chopped(1));
    QCOMPARE(rows(*window), (QStringList{"Select a Device", first->devicePath() + ": " + firstAnswer,
                                         second->devicePath() + ": " + secondAnswer}));
    QVERIFY(window->form()->PortSelBox->isEnabled());
    QCOMPARE(FoundPorts[1], 0);
    QCOMPARE(FoundPorts[2], 4);
    QCOMPARE(FoundCount, 3);

    QCOMPARE(first->received(), QByteArray("?\r\n"));
    QCOMPARE(held->received(), QByteArray());
    QCOMPARE(silent->received(), QByteArray("?\r\n"));
    QCOMPARE(second->received(), QByteArray("?\r\n"));

    const QStringList log = logLines(*window);
    QCOMPARE(log.mid(0, 6), (QStringList{first->devicePath(), " Not busy", held->devicePath(), " Busy",
                                         silent->devicePath(), " Not busy"}));
    // The port that does not open is logged and passed once.
    QCOMPARE(log.at(6), missing);
    QCOMPARE(log.at(7), QString(" Not busy"));
    QVERIFY(log.at(8).startsWith(" Not opened: "));
    QCOMPARE(log.mid(9), (QStringList{second->devicePath(), " Not busy"}));
    QCOMPARE(log.count(missing), 1);
}

void TestDiscovery::acceptsAnswersByTheModelNumber()
{
    std::vector<std::unique_ptr<SimulatedInstrument>> instruments;
    const QList<QByteArray> answers = {
        QByteArray("\x02" "Model 731942K\n"),     // the usual answer
        QByteArray("731942K, at the start\n"),     // model number first
        QByteArray("\x02" "model 731942k\n"),      // other letter case: not an instrument
        QByteArray("731942K"),                     // exactly the model number
        QByteArray("\x02" "731942K\0 hidden\n", 16), // NUL inside
        QByteArray("\x02" "7319 42K\n"),           // broken model number
    };
    QStringList paths;
    for (const QByteArray &answer : answers) {
        instruments.push_back(instrument(answer));
        paths << instruments.back()->devicePath();
    }

    auto window = makeWindow(paths);
    QTRY_VERIFY_WITH_TIMEOUT(DiscoveryOver, 8000);
    QCOMPARE(rows(*window), (QStringList{"Select a Device", paths[0] + ": Model 731942K",
                                         paths[1] + ": 31942K, at the start",
                                         paths[3] + ": 31942", paths[4] + ": 731942K"}));
    QCOMPARE(FoundPorts[3], 3);
    QCOMPARE(FoundPorts[4], 4);
    QCOMPARE(FoundCount, 5);
}

void TestDiscovery::listsAtMost29Instruments()
{
    auto twentyNinth = instrument();
    auto thirtieth = instrument();
    auto window = makeWindow({twentyNinth->devicePath(), thirtieth->devicePath()});
    // 28 instruments are listed already.
    for (int row = 1; row < 29; ++row)
        window->form()->PortSelBox->addItem(QStringLiteral("earlier %1").arg(row));
    FoundCount = 29;

    QTRY_VERIFY_WITH_TIMEOUT(DiscoveryOver, 4000);
    QCOMPARE(FoundCount, 30);
    QCOMPARE(window->form()->PortSelBox->count(), 30);
    QVERIFY(window->form()->PortSelBox->itemText(29).startsWith(twentyNinth->devicePath()));
    QCOMPARE(FoundPorts[29], 0);
    QCOMPARE(thirtieth->received(), QByteArray("?\r\n"));
    QVERIFY(logLines(*window).contains(" Not listed: the list is full"));
}

void TestDiscovery::connectsToTheChosenInstrument()
{
    auto simulated = instrument();
    auto window = makeWindow({simulated->devicePath()});
    QCOMPARE(window->windowTitle(), QString("Zentaval"));
    QTRY_VERIFY_WITH_TIMEOUT(DiscoveryOver, 3000);
    simulated->clearReceived();

    QElapsedTimer clock;
    clock.start();
    qint64 readSentAt = -1;
    connect(simulated.get(), &SimulatedInstrument::commandReceived, this,
            [&](const QByteArray &command) {
                if (command == "read" && readSentAt < 0)
                    readSentAt = clock.elapsed();
            });
    chooseRow(*window, 1);

    QVERIFY(samePicture(window->form()->LEDCOM->pixmap(), ":/new/prefix1/LED_Green.png"));
    QVERIFY(!window->form()->PortSelBox->isEnabled());
    QVERIFY(window->form()->AboutBtn->hasFocus() || !window->isActiveWindow());

    const QString expectedTitle = "Zentaval " + QString::fromLatin1(simulated->identificationAnswer().mid(1));
    QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(), expectedTitle, 2000);
    QTRY_VERIFY_WITH_TIMEOUT(readSentAt >= 0, 2000);
    QVERIFY2(readSentAt >= 380 && readSentAt < 700, qPrintable(QString::number(readSentAt)));
    QVERIFY(simulated->received().startsWith("?\r\nread\r\n"));
}

void TestDiscovery::rowChosenDuringDiscoveryKeepsThePort()
{
    auto chosen = instrument(SimulatedInstrument::defaultIdentificationAnswer(7));
    auto next = instrument();
    auto last = instrument();
    auto window = makeWindow({chosen->devicePath(), next->devicePath(), last->devicePath()});

    // The first instrument is listed while the second port is being probed.
    QTRY_COMPARE_WITH_TIMEOUT(window->form()->PortSelBox->count(), 2, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(next->received(), QByteArray("?\r\n"), 1000);
    chosen->clearReceived();
    chooseRow(*window, 1);

    const QString expectedTitle = "Zentaval " + QString::fromLatin1(chosen->identificationAnswer().mid(1));
    QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(), expectedTitle, 2000);
    // Polling goes on with the chosen instrument; the pending probe neither
    // took its answer nor moved the port to the remaining ports.
    QTRY_VERIFY_WITH_TIMEOUT(chosen->received().count("read\r\n") >= 3, 3000);
    QCOMPARE(window->form()->PortSelBox->count(), 2);
    QCOMPARE(next->received(), QByteArray("?\r\n"));
    QCOMPARE(last->received(), QByteArray());
}

void TestDiscovery::promptRowConnectsToNothing()
{
    auto simulated = instrument();
    auto window = makeWindow({simulated->devicePath()});
    QTRY_VERIFY_WITH_TIMEOUT(DiscoveryOver, 3000);
    simulated->clearReceived();

    chooseRow(*window, 0);
    QVERIFY(window->form()->PortSelBox->isEnabled());
    QVERIFY(samePicture(window->form()->LEDCOM->pixmap(), ":/new/prefix1/LED_Grey.png"));
    QTest::qWait(600);
    QCOMPARE(simulated->received(), QByteArray());
    QCOMPARE(window->windowTitle(), QString("Zentaval"));

    // The instrument's row still connects afterwards.
    chooseRow(*window, 1);
    QTRY_VERIFY_WITH_TIMEOUT(simulated->received().startsWith("?\r\nread\r\n"), 2000);
}

QTEST_MAIN(TestDiscovery)
#include "tst_discovery.moc"
