#include "io/serialports.h"
#include "rules/discovery.h"
#include "rules/identification.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Discovery;

Q_DECLARE_METATYPE(Discovery::Verdict)

class TestDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void judgesProbeAnswers_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("foundCount");
        QTest::addColumn<bool>("lostPort");
        QTest::addColumn<Verdict>("verdict");

        QTest::newRow("framed answer")
            << QByteArray("\002Quorvane 731942K\n") << 1 << false << Verdict::ListRow;
        QTest::newRow("exactly the model number") << QByteArray("731942K") << 5 << false << Verdict::ListRow;
        QTest::newRow("after a NUL byte")
            << QByteArray("ab\0cd731942K\n", 13) << 1 << false << Verdict::ListRow;
        QTest::newRow("other letter case")
            << QByteArray("\002731942k\n") << 1 << false << Verdict::NoInstrument;
        QTest::newRow("another model") << QByteArray("\002731943K\n") << 1 << false << Verdict::NoInstrument;
        QTest::newRow("no answer") << QByteArray() << 1 << false << Verdict::NoInstrument;
        QTest::newRow("29th instrument: the last row")
            << QByteArray("731942K") << 29 << false << Verdict::ListRow;
        QTest::newRow("30th instrument: list full")
            << QByteArray("731942K") << 30 << false << Verdict::ListFull;
        QTest::newRow("lost instrument back") << QByteArray("731942K") << 30 << true << Verdict::Reconnect;
        QTest::newRow("lost port, other answer") << QByteArray("hello") << 2 << true << Verdict::NoInstrument;
    }
    void judgesProbeAnswers()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, foundCount);
        QFETCH(bool, lostPort);
        QFETCH(Verdict, verdict);
        QCOMPARE(judgeAnswer(answer, foundCount, lostPort), verdict);
    }
    void rowAndTitleTexts_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("row");
        QTest::addColumn<QString>("title");

        QTest::newRow("framed answer")
            << QByteArray("\002731942K S/N 20431\n") << QString("COM3: 731942K S/N 20431")
            << QString("Zentaval 731942K S/N 20431\n");
        QTest::newRow("exactly the model number")
            << QByteArray("731942K") << QString("COM3: 31942") << QString("Zentaval 31942K");
        QTest::newRow("NUL inside ends the text") << QByteArray("\002731942K\0hidden\n", 16)
                                                  << QString("COM3: 731942K") << QString("Zentaval 731942K");
        QTest::newRow("bytes above 0x7f are Latin-1")
            << QByteArray("\002731942K \xb5s\n") << QString("COM3: 731942K \u00b5s")
            << QString("Zentaval 731942K \u00b5s\n");
        QTest::newRow("one byte") << QByteArray("\x02") << QString("COM3: ") << QString("Zentaval ");
    }
    void rowAndTitleTexts()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, row);
        QFETCH(QString, title);
        QCOMPARE(Identification::discoveryRowText(QStringLiteral("COM3"), answer), row);
        QCOMPARE(Identification::windowTitle(answer), title);
    }
    void followsPortsThatComeAndGo()
    {
        const PortChanges changes
            = comparePorts({"/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyUSB1"},
                           {"/dev/ttyS0", "/dev/ttyUSB1", "/dev/ttyACM0", "/dev/ttyACM0"});
        QCOMPARE(changes.appeared, QStringList {"/dev/ttyACM0"});
        QCOMPARE(changes.vanished, QStringList {"/dev/ttyUSB0"});
        QVERIFY(comparePorts({"a", "b"}, {"b", "a"}).appeared.isEmpty());

        // Rows 1 to 4; rows 1 and 3 stand for ports that went, row 4 too but it
        // is the instrument connected to: it stays.
        const QStringList rows {QString(), "/dev/ttyUSB0", "/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyUSB2"};
        QCOMPARE(rowsToRemove(rows, {"/dev/ttyUSB0", "/dev/ttyUSB2"}, 4), (QList<int> {3, 1}));
        QCOMPARE(rowsToRemove(rows, {"/dev/ttyUSB2"}, 0), QList<int> {4});
        QVERIFY(rowsToRemove(rows, {}, 0).isEmpty());
    }
    void neverProbesTheConnectedPort()
    {
        const PortIdentity connected {"/dev/serial/by-id/usb-X", "/dev/ttyUSB0"};
        QVERIFY(!mayProbe(connected, connected));
        QVERIFY(!mayProbe({"/dev/ttyUSB0", "/dev/ttyUSB0"}, connected)); // the same device by its own name
        QVERIFY(mayProbe({"/dev/ttyUSB1", "/dev/ttyUSB1"}, connected));
        QVERIFY(mayProbe({"/dev/serial/by-id/usb-Y", ""}, {"/dev/serial/by-id/usb-X", ""}));
        QVERIFY(mayProbe(connected, {}));
    }
    void systemPortsAreEnumeratedAgainWhenDevicesChange()
    {
        QTemporaryDir devices;
        int enumerations = 0;
        const auto enumerate = [&enumerations] {
            ++enumerations;
            return QList<SerialPortEntry> {{"ttyS0", "/dev/ttyS0"}};
        };
        SystemPortEnumeration system(enumerate, devices.path(), 300);
        const auto looks = [&system, &enumerations](int count) {
            for (int look = 0; look < count; ++look)
                system.ports();
            return enumerations;
        };
        QCOMPARE(looks(3), 1);
        QCOMPARE(system.ports().constFirst().systemLocation, QString("/dev/ttyS0"));
        // A device plugged in: enumerated at the next look and the one after it.
        QTest::qWait(5);
        QFile plugged(devices.filePath("ttyUSB0"));
        QVERIFY(plugged.open(QIODevice::WriteOnly));
        plugged.close();
        QCOMPARE(looks(1), 2);
        QCOMPARE(looks(3), 3);
        QTest::qWait(5);
        QVERIFY(plugged.remove());
        QCOMPARE(looks(3), 5);
        // However still the folder, the ports are enumerated again now and then.
        QTest::qWait(350);
        QCOMPARE(looks(2), 6);

        // No device folder: every look enumerates.
        SystemPortEnumeration withoutFolder(enumerate, devices.filePath("none"), 300);
        enumerations = 0;
        for (int look = 0; look < 3; ++look)
            withoutFolder.ports();
        QCOMPARE(enumerations, 3);
    }
};

QTEST_GUILESS_MAIN(TestDiscovery)
#include "tst_discovery.moc"
