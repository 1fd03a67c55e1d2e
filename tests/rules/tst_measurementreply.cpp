#include "rules/measurementreply.h"

#include <QTest>

Q_DECLARE_METATYPE(LockLamp)

namespace {

// "read", bytes 4 to 10 with the two status bytes, then the fields from 11.
QByteArray reply(char settling, char locked, const QByteArray &fields, bool closingNul = true)
{
    return "read " + QByteArray(1, settling) + "  " + locked + "  " + fields + QByteArray(closingNul, '\0');
}

} // namespace

class TestMeasurementReply : public QObject
{
    Q_OBJECT

private slots:
    void decodesOrDrops_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("count"); // the bytes reported as read; -1: all of them
        QTest::addColumn<LockLamp>("lamp");
        QTest::addColumn<int>("amplitude");
        QTest::addColumn<QString>("labels"); // quality|amplitude|height|width|rate; empty: dropped
        const auto row = [](const char *name, const QByteArray &bytes, LockLamp lamp, int amplitude,
                            const QString &labels, int count = -1) {
            QTest::newRow(name) << bytes << count << lamp << amplitude << labels;
        };
        const QByteArray example = reply('0', '1', "12.5 380 45 52 9953.2");
        const QString exampleLabels = "12.5%|380 mV|Height: 0.45 UI|Width: 0.52 UI|9953.2 Mb";
        const QString small = "1%|2 mV|Height: 0.3 UI|Width: 0.4 UI|5 Mb";
        const QString fixedPartsOnly = "%| mV|Height: 0. UI|Width: 0. UI| Mb";

        row("locked instrument", example, LockLamp::Green, 380, exampleLabels);
        row("amplitude with a decimal point sets the bar to 0", reply('0', '1', "12.5 380.5 45 52 9953.2"),
            LockLamp::Green, 0, "12.5%|380.5 mV|Height: 0.45 UI|Width: 0.52 UI|9953.2 Mb");
        row("both status bytes set: green", reply('1', '1', "1 2 3 4 5"), LockLamp::Green, 2, small);
        row("settling: yellow", reply('1', '0', "1 2 3 4 5"), LockLamp::Yellow, 2, small);
        row("neither status byte: grey", reply('0', '0', "1 2 3 4 5"), LockLamp::Grey, 2, small);
        row("separators of any length and kind", reply('0', '1', "7,,;380 / 45\t\t52  x 9953.2 trailing 99"),
            LockLamp::Green, 380, "7%|380 mV|Height: 0.45 UI|Width: 0.52 UI|9953.2 Mb");
        row("non-digit at byte 11: first field empty", reply('0', '1', "x12 380 45 52 9953.2"),
            LockLamp::Green, 12, "%|12 mV|Height: 0.380 UI|Width: 0.45 UI|52 Mb");
        row("amplitude beyond int range gives 0", reply('0', '1', "1 99999999999 3 4 5"), LockLamp::Green, 0,
            "1%|99999999999 mV|Height: 0.3 UI|Width: 0.4 UI|5 Mb");
        row("11 bytes and the NUL: fixed parts only", QByteArray("read 0  1  \0", 12), LockLamp::Green, 0,
            fixedPartsOnly);
        row("reply of 6 bytes: status bytes past the end are not set", QByteArray("read1\0", 6),
            LockLamp::Grey, 0, fixedPartsOnly);
        row("NUL inside a field ends it", reply('0', '1', QByteArray("12\0005 380 45 52 9953.2", 21)),
            LockLamp::Green, 5, "12%|5 mV|Height: 0.380 UI|Width: 0.45 UI|52 Mb");
        row("bytes above 0x7f separate fields", reply('0', '1', "1\2622\3773\2004\3515"), LockLamp::Green, 2,
            small);
        // Bytes 0-10, then 89 bytes of fields: field 5 runs over byte 99 and is cut there.
        row("longer than 100 bytes: field cut at byte 100", reply('0', '1', "1 2 3 4 " + QByteArray(90, '9')),
            LockLamp::Green, 2, "1%|2 mV|Height: 0.3 UI|Width: 0.4 UI|" + QString(81, '9') + " Mb");
        // More bytes arrived between the count and the read: only the counted
        // ones are decoded; a count larger than what was read never reaches past it.
        row("only the counted bytes", example, LockLamp::Green, 38,
            "12.5%|38 mV|Height: 0. UI|Width: 0. UI| Mb", 18);
        row("a count beyond the buffer", example, LockLamp::Green, 380, exampleLabels, 5000);

        // A reply split over two passes is lost: its first half has no closing NUL,
        // its second half no prefix.
        row("no closing NUL", reply('0', '1', "12.5 380 45 52 9953.2", false), {}, 0, {});
        row("wrong prefix", QByteArray("Read 0  1  12 380 45 52 9953.2\0", 31), {}, 0, {});
        row("text before the prefix", QByteArray("xread 0  1  12 380 45 52 9.2\0", 29), {}, 0, {});
        row("prefix cut short", QByteArray("rea\0", 4), {}, 0, {});
        row("nothing", QByteArray(), {}, 0, {});
        row("two replies, the second cut",
            reply('0', '1', "1 2 3 4 5") + reply('0', '1', "1 2 3 4 5").left(9), {}, 0, {});
    }
    void decodesOrDrops()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, count);
        QFETCH(LockLamp, lamp);
        QFETCH(int, amplitude);
        QFETCH(QString, labels);

        const auto reading = decodeMeasurementReply(bytes, count < 0 ? bytes.size() : count);
        QCOMPARE(bool(reading), !labels.isEmpty());
        if (!reading)
            return;
        QCOMPARE(reading->lamp, lamp);
        QCOMPARE(reading->amplitudeBar, amplitude);
        const MeasurementLabels texts = labelTexts(*reading);
        QCOMPARE(QStringList({texts.quality, texts.amplitude, texts.eyeHeight, texts.eyeWidth, texts.rate})
                     .join('|'),
                 labels);
    }
};

QTEST_GUILESS_MAIN(TestMeasurementReply)
#include "tst_measurementreply.moc"
