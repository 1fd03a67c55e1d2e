#include "rules/metricstext.h"

#include <QTest>

#include <cmath>

// The Prometheus text format as a scrape reads it.
class TestMetricsText : public QObject
{
    Q_OBJECT

private slots:
    // Values read back as the same double; label values and HELP escaped as
    // the format asks (a quote ends a label value, a line feed a line).
    void writesValuesAndEscapes_data()
    {
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("fraction") << MetricsText::number(0.35) << QByteArray("0.35");
        QTest::newRow("bytes a second") << MetricsText::number(9953.1e6 / 8) << QByteArray("1244137500");
        QTest::newRow("small") << MetricsText::number(1e-6) << QByteArray("1e-06");
        QTest::newRow("not a number") << MetricsText::number(std::nan("")) << QByteArray("NaN");
        QTest::newRow("infinite") << MetricsText::number(-INFINITY) << QByteArray("-Inf");
        QTest::newRow("label value") << MetricsText::labelValue("a\\b\"c\nd é") << QByteArray("a\\\\b\\\"c\\nd é");
        QTest::newRow("help keeps quotes") << MetricsText::helpText("say \"x\"\\\n") << QByteArray("say \"x\"\\\\\\n");
    }
    void writesValuesAndEscapes()
    {
        QFETCH(QByteArray, written);
        QFETCH(QByteArray, expected);
        QCOMPARE(written, expected);
    }

    // HELP and TYPE once a family, labels in order; a family without a
    // sample is left out whole.
    void rendersFamilies()
    {
        using namespace MetricsText;
        const QList<Family> families {
            {"zentaval_up", "Up.", Type::Gauge, {{{{"device", "/dev/a\"1"}}, 1}, {{{"device", "b"}}, 0}}},
            {"zentaval_eye_height_unit_intervals", "Gone.", Type::Gauge, {}},
            {"zentaval_scans_total", "Scans.", Type::Counter, {{{{"device", "b"}, {"outcome", "complete"}}, 3}}},
            {"plain", "No labels.", Type::Gauge, {{{}, 2.5}}},
        };
        QCOMPARE(render(families), QByteArray("# HELP zentaval_up Up.\n"
                                              "# TYPE zentaval_up gauge\n"
                                              "zentaval_up{device=\"/dev/a\\\"1\"} 1\n"
                                              "zentaval_up{device=\"b\"} 0\n"
                                              "# HELP zentaval_scans_total Scans.\n"
                                              "# TYPE zentaval_scans_total counter\n"
                                              "zentaval_scans_total{device=\"b\",outcome=\"complete\"} 3\n"
                                              "# HELP plain No labels.\n"
                                              "# TYPE plain gauge\n"
                                              "plain 2.5\n"));
    }
};

QTEST_APPLESS_MAIN(TestMetricsText)
#include "tst_metricstext.moc"
