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

    // zentaval-cli serve on the devices, SCPI and HTTP on loopback, once it
    // serves every device; stopped with SIGTERM when it goes.
    struct Bench : QProcess
    {
        Bench(const QStringList &devices, quint16 scpiPort, quint16 httpPort)
        {
            start(QCoreApplication::applicationDirPath() + "/zentaval-cli",
                  QStringList {"serve", "--listen", QStringLiteral("127.0.0.1:%1").arg(scpiPort), "--http",
                               QStringLiteral("127.0.0.1:%1").arg(httpPort)}
                      + devices);
            QByteArray err;
            const auto serving
                = [&] { return (err += readAllStandardError()).count("serving ") == devices.size(); };
            if (!QTest::qWaitFor(serving, 10000))
                qWarning() << err;
        }
        ~Bench() override
        {
            terminate();
            waitForFinished(5000);
        }
    };

    static QString python() { return QStandardPaths::findExecutable("python3", {"/usr/bin"}); }

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
        const QString promtool = QStandardPaths::findExecutable("promtool");
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
        if (QStandardPaths::findExecutable("prometheus").isEmpty() || python().isEmpty())
            QSKIP("prometheus or /usr/bin/python3 is not installed");
        SimulatedInstrument first, second;
        second.setIdentificationAnswer(SimulatedInstrument::defaultIdentificationAnswer(555));
        // Height 0.45 UI, amplitude 380 mV at every reading.
        for (int i = 0; i < 400; ++i)
            first.queueMeasurementReply(QByteArray("read 0  1  12.5 380 45 52 9953.2", 32) + '\0');
        const quint16 httpPort = freePort();
        const Bench bench({first.devicePath(), second.devicePath()}, freePort(), httpPort);
        QProcess prometheus;
        prometheus.start(python(), {QFINDTESTDATA("lab_clients.py"), "prometheus", "--target",
                                    QStringLiteral("127.0.0.1:%1").arg(httpPort), "--device",
                                    first.devicePath(), "--rules",
                                    QFINDTESTDATA("../../packaging/prometheus/zentaval-alerts.yml")});
        const QByteArray seen = lineFrom(prometheus, 60000);
        QVERIFY2(seen == "height=0.45 amplitude=0.38 rules=3", seen + prometheus.readAllStandardError());
        first.vanish();
        prometheus.write("stopped\n");
        QCOMPARE(lineFrom(prometheus, 30000), QByteArray("up=0"));
        QVERIFY(prometheus.waitForFinished(15000) && prometheus.exitCode() == 0);
    }

    // The page in a real browser: the reading appears and changes, the eye
    // captured meanwhile decodes, the trend is drawn, /metrics is linked.
    void pageShowsTheBench()
    {
        if (python().isEmpty() || QStandardPaths::findExecutable("chromedriver").isEmpty()
            || QProcess::execute(python(), {"-c", "import selenium"}) != 0)
            QSKIP("chromium-driver or python3-selenium is not installed");
        SimulatedInstrument instrument;
        instrument.setBaudRate(4000000);
        const quint16 scpiPort = freePort(), httpPort = freePort();
        const Bench bench({instrument.devicePath()}, scpiPort, httpPort);
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
        QVERIFY2(shown["first"].toString().toDouble() > 0 && shown["first"] != shown["later"]
                     && shown["eyeWidth"].toInt() == 239 && shown["trendLines"].toInt() >= 3
                     && shown["metricsLinked"].toBool(),
                 line);
        QVERIFY(page.waitForFinished(15000));
    }
};

QTEST_MAIN(TestLabMonitoring)
#include "tst_labmonitoring.moc"
