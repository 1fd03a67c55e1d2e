#include "rules/measurementrow.h"

#include <QTest>
#include <QTimeZone>

namespace {

MeasurementReading reading(const QString &height, const QString &width, const QString &amplitude,
                           LockLamp lamp = LockLamp::Green)
{
    MeasurementReading reading;
    reading.lamp = lamp;
    reading.quality = "12.5";
    reading.amplitude = amplitude;
    reading.eyeHeightDigits = height;
    reading.eyeWidthDigits = width;
    reading.rate = "9953.2";
    return reading;
}

using L = MeasurementLimits;

} // namespace

class TestMeasurementRow : public QObject
{
    Q_OBJECT

private slots:
    void judgedByTheLimits_data()
    {
        QTest::addColumn<MeasurementReading>("reading");
        QTest::addColumn<MeasurementLimits>("limits");
        QTest::addColumn<QStringList>("missed");

        const MeasurementReading good = reading("45", "52", "380");
        QTest::newRow("no limits, even with empty fields")
            << reading("", "", "", LockLamp::Grey) << MeasurementLimits() << QStringList();
        QTest::newRow("every limit met, each on its line")
            << good << L {0.45, 0.52, 380, true} << QStringList();
        QTest::newRow("every limit met, above each") << good << L {0.44, 0.51, 379.5, true} << QStringList();
        QTest::newRow("height below") << good << L {0.46, {}, {}} << QStringList {"height"};
        QTest::newRow("width below") << good << L {{}, 0.53, {}} << QStringList {"width"};
        QTest::newRow("amplitude below") << good << L {{}, {}, 380.5} << QStringList {"amplitude"};
        QTest::newRow("lock required, settling")
            << reading("45", "52", "380", LockLamp::Yellow) << L {{}, {}, {}, true} << QStringList {"lock"};
        QTest::newRow("lock required, no status")
            << reading("45", "52", "380", LockLamp::Grey) << L {{}, {}, {}, true} << QStringList {"lock"};
        QTest::newRow("lock not required, settling")
            << reading("45", "52", "380", LockLamp::Yellow) << L {0.4, 0.5, 300} << QStringList();
        QTest::newRow("an empty field misses its limit, even 0")
            << reading("", "52", "") << L {0, {}, 0} << QStringList {"height", "amplitude"};
        QTest::newRow("an unreadable field misses its limit")
            << reading("45", "5.2", "3.8.0") << L {{}, 0.1, 1} << QStringList {"width", "amplitude"};
        QTest::newRow("an empty field without a limit passes")
            << reading("45", "", "") << L {0.4, {}, {}} << QStringList();
        QTest::newRow("every limit at once, in order")
            << reading("3", "4", "200", LockLamp::Yellow) << L {0.4, 0.5, 300, true}
            << QStringList {"height", "width", "amplitude", "lock"};
    }
    void judgedByTheLimits()
    {
        QFETCH(MeasurementReading, reading);
        QFETCH(MeasurementLimits, limits);
        QFETCH(QStringList, missed);

        const MeasurementRow row = measurementRow(reading, QDateTime::currentDateTimeUtc(), 1.5, limits);
        QCOMPARE(missedLimits(row, limits), missed);
        QCOMPARE(row.pass, missed.isEmpty());
    }
    void holdsTheFieldsAsTheWindowShowsThem()
    {
        const QDateTime local(QDate(2026, 12, 7), QTime(10, 5, 3, 27), QTimeZone(3600));
        const MeasurementRow row
            = measurementRow(reading("45", "052", "380.5", LockLamp::Yellow), local, 2.25);
        QCOMPARE(row.time.toString(Qt::ISODateWithMs), QString("2026-12-07T09:05:03.027Z"));
        QCOMPARE(row.elapsedSeconds, 2.25);
        QCOMPARE(row.lamp, LockLamp::Yellow);
        QCOMPARE(QStringList({row.quality, row.amplitude, row.eyeHeight, row.eyeWidth, row.rate}),
                 QStringList({"12.5", "380.5", "0.45", "0.052", "9953.2"}));
        QVERIFY(row.pass);
        // Empty eye fields stay empty cells, not "0.".
        const MeasurementRow empty = measurementRow(reading("", "", ""), local, 0);
        QCOMPARE(empty.eyeHeight + empty.eyeWidth, QString());
    }
};

QTEST_GUILESS_MAIN(TestMeasurementRow)
#include "tst_measurementrow.moc"
