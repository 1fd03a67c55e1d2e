#include "rules/measurementreply.h"

#include <QTest>

Q_DECLARE_METATYPE(LockLamp)

namespace {

// "read", bytes 4 to 10 with the two status bytes, then the fields from 11.
QByteArray reply(char settling, char locked, const QByteArray &fields, bool closingNul = true)
{
    QByteArray bytes = "read";
    bytes += ' ';
    bytes += settling;
    bytes += "  ";
    bytes += locked;
    bytes += "  ";
    bytes += fields;
    if (closingNul)
        bytes += '\0';
    return bytes;
}

} // namespace

class TestMeasurementReply : public QObject
{
    Q_OBJECT

private slots:
    void decodesAcceptedReplies_data();
    void decodesAcceptedReplies();
    void dropsRejectedReplies_data();
    void dropsRejectedReplies();
    void examinesOnlyTheReportedBytes();
};

void TestMeasurementReply::decodesAcceptedReplies_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<LockLamp>("lamp");
    QTest::addColumn<QString>("quality");
    QTest::addColumn<int>("amplitude");
    QTest::addColumn<QString>("amplitudeText");
    QTest::addColumn<QString>("height");
    QTest::addColumn<QString>("width");
    QTest::addColumn<QString>("rate");

    QTest::newRow("locked instrument")
        << reply('0', '1', "12.5 380 45 52 9953.2") << LockLamp::Green << "12.5%" << 380 << "380 mV"
        << "Height: 0.45 UI"
        << "Width: 0.52 UI"
        << "9953.2 Mb";
    QTest::newRow("amplitude with a decimal point sets the bar to 0")
        << reply('0', '1', "12.5 380.5 45 52 9953.2") << LockLamp::Green << "12.5%" << 0 << "380.5 mV"
        << "Height: 0.45 UI"
        << "Width: 0.52 UI"
        << "9953.2 Mb";
    QTest::newRow("both status bytes set: green")
        << reply('1', '1', "1 2 3 4 5") << LockLamp::Green << "1%" << 2 << "2 mV"
        << "Height: 0.3 UI"
        << "Width: 0.4 UI"
        << "5 Mb";
    QTest::newRow("settling: yellow")
        << reply('1', '0', "1 2 3 4 5") << LockLamp::Yellow << "1%" << 2 << "2 mV"
        << "Height: 0.3 UI"
        << "Width: 0.4 UI"
        << "5 Mb";
    QTest::newRow("neither status byte: grey")
        << reply('0', '0', "1 2 3 4 5") << LockLamp::Grey << "1%" << 2 << "2 mV"
        << "Height: 0.3 UI"
        << "Width: 0.4 UI"
        << "5 Mb";
    QTest::newRow("separators of any length and kind")
        << reply('0', '1', "7,,;380 / 45\t\t52  x 9953.2 trailing 99") << LockLamp::Green << "7%" << 380
        << "380 mV"
        << "Height: 0.45 UI"
        << "Width: 0.52 UI"
        << "9953.2 Mb";
    QTest::newRow("non-digit at byte 11: first field empty")
        << reply('0', '1', "x12 380 45 52 9953.2") << LockLamp::Green << "%" << 12 << "12 mV"
        << "Height: 0.380 UI"
        << "Width: 0.45 UI"
        << "52 Mb";
    QTest::newRow("amplitude beyond int range gives 0")
        << reply('0', '1', "1 99999999999 3 4 5") << LockLamp::Green << "1%" << 0 << "99999999999 mV"
        << "Height: 0.3 UI"
        << "Width: 0.4 UI"
        << "5 Mb";
    QTest::newRow("11 bytes and the NUL: fixed parts only")
        << QByteArray("read 0  1  \0", 12) << LockLamp::Green << "%" << 0 << " mV"
        << "Height: 0. UI"
        << "Width: 0. UI"
        << " Mb";
    QTest::newRow("reply of 6 bytes: status bytes past the end are not set")
        << QByteArray("read1\0", 6) << LockLamp::Grey << "%" << 0 << " mV"
        << "Height: 0. UI"
        << "Width: 0. UI"
        << " Mb";
    QTest::newRow("NUL inside a field ends it") << reply('0', '1',
                                                         QByteArray("12\0"
                                                                    "5 380 45 52 9953.2",
                                                                    21))
                                                << LockLamp::Green << "12%" << 5 << "5 mV"
                                                << "Height: 0.380 UI"
                                                << "Width: 0.45 UI"
                                                << "52 Mb";
    QTest::newRow("bytes above 0x7f separate fields") << reply('0', '1',
                                                               "1\xb2"
                                                               "2\xff"
                                                               "3\x80"
                                                               "4\xe9"
                                                               "5")
                                                      << LockLamp::Green << "1%" << 2 << "2 mV"
                                                      << "Height: 0.3 UI"
                                                      << "Width: 0.4 UI"
                                                      << "5 Mb";

    // Bytes 0-10, then 89 bytes of fields: field 5 runs over byte 99 and is cut there.
    const QByteArray longFields = QByteArray("1 2 3 4 ") + QByteArray(90, '9');
    QTest::newRow("longer than 100 bytes: field cut at byte 100")
        << reply('0', '1', longFields) << LockLamp::Green << "1%" << 2 << "2 mV"
        << "Height: 0.3 UI"
        << "Width: 0.4 UI" << QString(81, '9') + " Mb";
}

void TestMeasurementReply::decodesAcceptedReplies()
{
    QFETCH(QByteArray, bytes);
    QFETCH(LockLamp, lamp);
    QFETCH(QString, quality);
    QFETCH(int, amplitude);
    QFETCH(QString, amplitudeText);
    QFETCH(QString, height);
    QFETCH(QString, width);
    QFETCH(QString, rate);

    const auto reading = decodeMeasurementReply(bytes, bytes.size());
    QVERIFY(reading);
    QCOMPARE(reading->lamp, lamp);
    QCOMPARE(reading->amplitudeBar, amplitude);
    const MeasurementLabels labels = labelTexts(*reading);
    QCOMPARE(labels.quality, quality);
    QCOMPARE(labels.amplitude, amplitudeText);
    QCOMPARE(labels.eyeHeight, height);
    QCOMPARE(labels.eyeWidth, width);
    QCOMPARE(labels.rate, rate);
}

void TestMeasurementReply::dropsRejectedReplies_data()
{
    QTest::addColumn<QByteArray>("bytes");

    // A reply split over two passes is lost: its first half has no closing NUL,
    // its second half no prefix.
    QTest::newRow("no closing NUL") << reply('0', '1', "12.5 380 45 52 9953.2", false);
    QTest::newRow("wrong prefix") << QByteArray("Read 0  1  12 380 45 52 9953.2\0", 31);
    QTest::newRow("text before the prefix") << QByteArray("xread 0  1  12 380 45 52 9.2\0", 29);
    QTest::newRow("prefix cut short") << QByteArray("rea\0", 4);
    QTest::newRow("nothing") << QByteArray();
    QTest::newRow("two replies, the second cut")
        << reply('0', '1', "1 2 3 4 5") + reply('0', '1', "1 2 3 4 5").left(9);
}

void TestMeasurementReply::dropsRejectedReplies()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(!decodeMeasurementReply(bytes, bytes.size()));
}

void TestMeasurementReply::examinesOnlyTheReportedBytes()
{
    // More bytes arrived between the count and the read: only the counted
    // ones are decoded.
    const QByteArray bytes = reply('0', '1', "12.5 380 45 52 9953.2");
    const auto reading = decodeMeasurementReply(bytes, 18);
    QVERIFY(reading);
    QCOMPARE(labelTexts(*reading).quality, QString("12.5%"));
    QCOMPARE(labelTexts(*reading).amplitude, QString("38 mV"));
    QCOMPARE(labelTexts(*reading).eyeHeight, QString("Height: 0. UI"));

    // A count larger than what was read never reaches past the buffer.
    const auto beyond = decodeMeasurementReply(bytes, 5000);
    QVERIFY(beyond);
    QCOMPARE(labelTexts(*beyond).rate, QString("9953.2 Mb"));
}

QTEST_GUILESS_MAIN(TestMeasurementReply)
#include "tst_measurementreply.moc"
