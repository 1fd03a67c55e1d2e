#include "simulatedinstrument.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>

// A bench as the lab's monitoring sees it: zentaval-cli serve --http over
// simulated instruments, scraped by Debian's Prometheus with the shipped
// alert rules, and its page in headless chromium (tests/cli/lab_clients.py).
class TestLabMonitoring : public QObject
{
    Q_OBJECT

private:
    static quint16 freePort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }

    // zentaval-cli serve on the devices, SCPI and HTTP on free ports, once
    // it serves every device.
    static std::unique_ptr<QProcess> serve(const QStringList &devices, quint16 scpiPort, quint16 httpPort)
    {
        auto process = std::make_unique<QProcess>();
        process->start(QCoreApplication::applicationDirPath() + "/zentaval-cli",
                       QStringList {"serve", "--listen", QStringLiteral("127.0.0.1:%1").arg(scpiPort), "--http",
                                    QStringLiteral("127.0.0.1:%1").arg(httpPort)}
                           + devices);
        QByteArray err;
        (void)QTest::qWaitFor([&] { return (err += process->readAllStandardError()).count("serving ") == devices.size(); },
                              10000);
        if (err.count("serving ") != devices.size())
            qWarning() << err;
        return process;
    }

    static QString python()
    {
        return QStandardPaths::findExecutable(QStringLiteral("python3"), {QStringLiteral("/usr/bin")});
    }

    static QByteArray lineFrom(QProcess &process, int timeoutMs)
    {
        (void)QTest::qWaitFor([&] { return process.canReadLine() || process.state() == QProcess::NotRunning; },
                              timeoutMs);
        return process.readLine().trimmed();
    }

private slots:
    // The scrape job and the alerts as shipped: promtool accepts them, and
    // each alert fires after its time and not before.
    void shippedPrometheusFilesPass_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("scrape job") << QStringList {"check", "config", "prometheus.yml"};
        QTest::newRow("alert rules") << QStringList {"check", "rules", "zentaval-alerts.yml"};
        QTest::newRow("when alerts fire") << QStringList {"test", "rules", "zentaval-alerts.test.yml"};
    }
    void shippedPrometheusFilesPass()
    {
        QFETCH(QStringList, arguments);
        const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
        if (promtool.isEmpty())
            QSKIP("promtool is not installed (Debian: prometheus)");
        QProcess check;
        check.setWorkingDirectory(QFINDTESTDATA("../../packaging/prometheus"));
        check.start(promtool, arguments);
        QVERIFY(check.waitForFinished(20000));
        QVERIFY2(check.exitCode() == 0, check.readAllStandardOutput() + check.readAllStandardError());
    }

    // Prometheus, scraping every second, holds the eye height and amplitude
    // the instrument reports, loads the shipped rules, and sees the
    // instrument down once it stops.
    void prometheusScrapesTheBench()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("prometheus")).isEmpty() || python().isEmpty())
            QSKIP("prometheus or /usr/bin/python3 is not installed");
        SimulatedInstrument first;
        SimulatedInstrument second;
        second.setIdentificationAnswer(SimulatedInstrument::defaultIdentificationAnswer(555));
        // Height 0.45 UI, amplitude 380 mV at every reading.
        for (int i = 0; i < 400; ++i)
            first.queueMeasurementReply(QByteArray("read 0  1  12.5 380 45 52 9953.2", 32) + '\0');
        const quint16 httpPort = freePort();
        auto bench = serve({first.devicePath(), second.devicePath()}, freePort(), httpPort);
        QProcess prometheus;
        prometheus.start(python(), {QFINDTESTDATA("lab_clients.py"), "prometheus", "--target",
                                    QStringLiteral("127.0.0.1:%1").arg(httpPort), "--device", first.devicePath(),
                                    "--rules", QFINDTESTDATA("../../packaging/prometheus/zentaval-alerts.yml")});
        const QByteArray seen = lineFrom(prometheus, 60000);
        QVERIFY2(seen == "height=0.45 amplitude=0.38 rules=3", seen + prometheus.readAllStandardError());
        first.vanish();
        prometheus.write("stopped\n");
        QCOMPARE(lineFrom(prometheus, 30000), QByteArray("up=0"));
        QVERIFY(prometheus.waitForFinished(15000));
        QCOMPARE(prometheus.exitCode(), 0);
        bench->terminate();
        QVERIFY(bench->waitForFinished(5000));
    }

    // The page in a real browser: the reading appears and changes, the eye
    // captured meanwhile decodes, the trend is drawn, /metrics is linked.
    void pageShowsTheBench()
    {
        if (python().isEmpty() || QStandardPaths::findExecutable(QStringLiteral("chromedriver")).isEmpty()
            || QProcess::execute(python(), {"-c", "import selenium"}) != 0)
            QSKIP("chromium-driver or python3-selenium is not installed");
        SimulatedInstrument instrument;
        instrument.setBaudRate(4000000);
        const quint16 scpiPort = freePort();
        const quint16 httpPort = freePort();
        auto bench = serve({instrument.devicePath()}, scpiPort, httpPort);
        QProcess page;
        page.start(python(), {QFINDTESTDATA("lab_clients.py"), "page", "--url",
                              QStringLiteral("http://127.0.0.1:%1/").arg(httpPort)});
        QTcpSocket scpi;
        scpi.connectToHost(QHostAddress::LocalHost, scpiPort);
        QVERIFY(scpi.waitForConnected(2000));
        scpi.write("CAPT\n");
        const QByteArray line = lineFrom(page, 90000);
        const QJsonObject shown = QJsonDocument::fromJson(line).object();
        QVERIFY2(!shown.isEmpty(), line + page.readAllStandardError());
        QVERIFY(shown["first"].toString() != shown["later"].toString());
        QCOMPARE(shown["first"].toString().toDouble() > 0, true);
        QCOMPARE(shown["eyeWidth"].toInt(), 239);
        QVERIFY(shown["trendLines"].toInt() >= 3);
        QVERIFY(shown["metricsLinked"].toBool());
        QVERIFY(page.waitForFinished(15000));
        bench->terminate();
        QVERIFY(bench->waitForFinished(5000));
    }
};

QTEST_MAIN(TestLabMonitoring)
#include "tst_labmonitoring.moc"
