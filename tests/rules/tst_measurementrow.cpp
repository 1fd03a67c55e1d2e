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

MeasurementLimits limits(std::optional<double> height, std::optional<double> width,
                         std::optional<double> amplitude, bool lock = false)
{
    return MeasurementLimits {height, width, amplitude, lock};
}

} // namespace

class TestMeasurementRow : public QObject
{
    Q_OBJECT

private slots:
    void judgedByTheLimits_data();
    void judgedByTheLimits();
    void holdsTheFieldsAsTheWindowShowsThem();
};

void TestMeasurementRow::judgedByTheLimits_data()
{
    QTest::addColumn<MeasurementReading>("reading");
    QTest::addColumn<MeasurementLimits>("limits");
    QTest::addColumn<QStringList>("missed");

    const MeasurementReading good = reading("45", "52", "380");
    QTest::newRow("no limits, even with empty fields")
        << reading("", "", "", LockLamp::Grey) << MeasurementLimits() << QStringList();
    QTest::newRow("every limit met, each on its line")
        << good << limits(0.45, 0.52, 380, true) << QStringList();
    QTest::newRow("every limit met, above each") << good << limits(0.44, 0.51, 379.5, true) << QStringList();
    QTest::newRow("height below") << good << limits(0.46, {}, {}) << QStringList {"height"};
    QTest::newRow("width below") << good << limits({}, 0.53, {}) << QStringList {"width"};
    QTest::newRow("amplitude below") << good << limits({}, {}, 380.5) << QStringList {"amplitude"};
    QTest::newRow("lock required, settling")
        << reading("45", "52", "380", LockLamp::Yellow) << limits({}, {}, {}, true) << QStringList {"lock"};
    QTest::newRow("lock required, no status")
        << reading("45", "52", "380", LockLamp::Grey) << limits({}, {}, {}, true) << QStringList {"lock"};
    QTest::newRow("lock not required, settling")
        << reading("45", "52", "380", LockLamp::Yellow) << limits(0.4, 0.5, 300) << QStringList();
    QTest::newRow("an empty field misses its limit, even 0")
        << reading("", "52", "") << limits(0, {}, 0) << QStringList {"height", "amplitude"};
    QTest::newRow("an unreadable field misses its limit")
        << reading("45", "5.2", "3.8.0") << limits({}, 0.1, 1) << QStringList {"width", "amplitude"};
    QTest::newRow("an empty field without a limit passes")
        << reading("45", "", "") << limits(0.4, {}, {}) << QStringList();
    QTest::newRow("every limit at once, in order")
        << reading("3", "4", "200", LockLamp::Yellow) << limits(0.4, 0.5, 300, true)
        << QStringList {"height", "width", "amplitude", "lock"};
}

void TestMeasurementRow::judgedByTheLimits()
{
    QFETCH(MeasurementReading, reading);
    QFETCH(MeasurementLimits, limits);
    QFETCH(QStringList, missed);

    const MeasurementRow row = measurementRow(reading, QDateTime::currentDateTimeUtc(), 1.5, limits);
    QCOMPARE(missedLimits(row, limits), missed);
    QCOMPARE(row.pass, missed.isEmpty());
}

void TestMeasurementRow::holdsTheFieldsAsTheWindowShowsThem()
{
    const QDateTime local(QDate(2026, 12, 7), QTime(10, 5, 3, 27), QTimeZone(3600));
    const MeasurementRow row = measurementRow(reading("45", "052", "380.5", LockLamp::Yellow), local, 2.25);
    QCOMPARE(row.time, local);
    QCOMPARE(row.time.timeSpec(), Qt::UTC);
    QCOMPARE(row.elapsedSeconds, 2.25);
    QCOMPARE(row.lamp, LockLamp::Yellow);
    QCOMPARE(row.quality, QString("12.5"));
    QCOMPARE(row.amplitude, QString("380.5"));
    QCOMPARE(row.eyeHeight, QString("0.45"));
    QCOMPARE(row.eyeWidth, QString("0.052"));
    QCOMPARE(row.rate, QString("9953.2"));
    QVERIFY(row.pass);

    // Empty eye fields stay empty cells, not "0.".
    const MeasurementRow empty = measurementRow(reading("", "", ""), local, 0);
    QCOMPARE(empty.eyeHeight, QString());
    QCOMPARE(empty.eyeWidth, QString());
}

QTEST_GUILESS_MAIN(TestMeasurementRow)
#include "tst_measurementrow.moc"
