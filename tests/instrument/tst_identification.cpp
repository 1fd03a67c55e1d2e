#include "instrument/identification.h"

#include <QTest>

using namespace Identification;

class TestIdentification : public QObject
{
    Q_OBJECT

private slots:
    void recognisesTheModelNumber_data();
    void recognisesTheModelNumber();
    void rowAndTitleTexts_data();
    void rowAndTitleTexts();
};

void TestIdentification::recognisesTheModelNumber_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("instrument");

    QTest::newRow("framed answer") << QByteArray("\x02Quorvane 731942K\n") << true;
    QTest::newRow("model number at the start") << QByteArray("731942K rest") << true;
    QTest::newRow("model number at the end") << QByteArray("xx731942K") << true;
    QTest::newRow("exactly the model number") << QByteArray("731942K") << true;
    QTest::newRow("after a NUL byte") << QByteArray("ab\0cd731942K\n", 13) << true;
    QTest::newRow("other letter case") << QByteArray("\x02" "731942k\n") << false;
    QTest::newRow("another model") << QByteArray("\x02" "731943K\n") << false;
    QTest::newRow("cut model number") << QByteArray("\x02" "731942\n") << false;
    QTest::newRow("nothing") << QByteArray() << false;
}

void TestIdentification::recognisesTheModelNumber()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, instrument);
    QCOMPARE(identifiesInstrument(answer), instrument);
}

void TestIdentification::rowAndTitleTexts_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("row");
    QTest::addColumn<QString>("title");

    QTest::newRow("framed answer")
        << QByteArray("\x02" "731942K S/N 20431\n")
        << QString("COM3: 731942K S/N 20431") << QString("Zentaval 731942K S/N 20431\n");
    QTest::newRow("exactly the model number")
        << QByteArray("731942K") << QString("COM3: 31942") << QString("Zentaval 31942K");
    QTest::newRow("NUL inside ends the text")
        << QByteArray("\x02" "731942K\0hidden\n", 16) << QString("COM3: 731942K")
        << QString("Zentaval 731942K");
    QTest::newRow("bytes above 0x7f are Latin-1")
        << QByteArray("\x02" "731942K \xb5s\n") << QString("COM3: 731942K \u00b5s")
        << QString("Zentaval 731942K \u00b5s\n");
    QTest::newRow("one byte") << QByteArray("\x02") << QString("COM3: ") << QString("Zentaval ");
    QTest::newRow("empty") << QByteArray() << QString("COM3: ") << QString("Zentaval ");
}

void TestIdentification::rowAndTitleTexts()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, row);
    QFETCH(QString, title);
    QCOMPARE(discoveryRowText(QStringLiteral("COM3"), answer), row);
    QCOMPARE(windowTitle(answer), title);
}

QTEST_GUILESS_MAIN(TestIdentification)
#include "tst_identification.moc"
