#include "io/capturefile.h"
#include "io/eyeoverlay.h"
#include "io/httpserver.h"
#include "io/instrumentsession.h"
#include "io/labview.h"
#include "io/serialports.h"
#include "simulatedinstrument.h"

#include <QElapsedTimer>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTest>

#include <memory>

// The HTTP endpoint with real clients on the loopback, over a simulated
// instrument held by a session at the tool's pace.
class TestHttpServer : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<SimulatedInstrument> m_instrument;
    std::unique_ptr<InstrumentSession> m_session;
    std::unique_ptr<LabView> m_view;
    std::unique_ptr<HttpServer> m_server;

    std::unique_ptr<QTcpSocket> client()
    {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, m_server->serverPort());
        socket->waitForConnected(2000);
        return socket;
    }

    // One whole answer (its head and Content-Length bytes), or what came
    // before the connection closed.
    static QByteArray exchange(QTcpSocket &socket, const QByteArray &request, bool headOnly = false)
    {
        socket.write(request);
        QByteArray received;
        (void)QTest::qWaitFor(
            [&] {
                received += socket.readAll();
                const qsizetype end = received.indexOf("\r\n\r\n");
                if (end < 0)
                    return socket.state() == QAbstractSocket::UnconnectedState;
                const qsizetype at = received.indexOf("Content-Length: ");
                const qint64 length = headOnly ? 0 : received.mid(at + 16, received.indexOf('\r', at) - at - 16).toLongLong();
                return received.size() >= end + 4 + length;
            },
            5000);
        return received;
    }
    static QByteArray body(const QByteArray &answer) { return answer.mid(answer.indexOf("\r\n\r\n") + 4); }

    QByteArray get(const QByteArray &path)
    {
        auto socket = client();
        return body(exchange(*socket, "GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n"));
    }

    // A sample's value in a scrape, or "absent".
    static QByteArray sample(const QByteArray &scrape, const QByteArray &series)
    {
        for (const QByteArray &line : scrape.split('\n')) {
            if (line.startsWith(series + ' '))
                return line.mid(series.size() + 1);
        }
        return "absent";
    }

private slots:
    void init()
    {
        m_instrument = std::make_unique<SimulatedInstrument>();
        QVERIFY2(m_instrument->isOpen(), qPrintable(m_instrument->errorString()));
        m_instrument->setBaudRate(4000000);
        m_session = std::make_unique<InstrumentSession>(
            std::make_unique<SystemSerialPorts>(QStringList {m_instrument->devicePath()},
                                                SystemSerialPorts::Enumeration::ExtraOnly),
            InstrumentSession::Pace::Tool);
        m_view = std::make_unique<LabView>();
        m_view->addSession(m_session.get());
        m_server = std::make_unique<HttpServer>(m_view.get());
        QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
        InstrumentSession *session = m_session.get();
        connect(session, &InstrumentSession::probed, session, [session] {
            session->adopt(0);
            session->startReadings(500);
        });
        session->probe(session->ports().availablePorts());
        QTRY_VERIFY_WITH_TIMEOUT(session->lastReading().has_value(), 5000);
    }
    void cleanup()
    {
        m_server.reset();
        m_view.reset();
        m_session.reset();
        m_instrument.reset();
    }

    // What each request gets, and whether the connection stays open after it.
    void answersAndRefuses_data()
    {
        QTest::addColumn<QByteArray>("token");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("statusLine");
        QTest::addColumn<bool>("keptOpen");
        const QByteArray none;
        const QByteArray token = "s3cr3t-T0ken";
        const QByteArray end = " HTTP/1.1\r\nHost: bench\r\n\r\n";
        QTest::newRow("metrics") << none << "GET /metrics" + end << QByteArray("HTTP/1.1 200 OK") << true;
        QTest::newRow("page, bare LF") << none << QByteArray("GET /?device=x HTTP/1.1\n\n") << QByteArray("HTTP/1.1 200 OK") << true;
        QTest::newRow("POST") << none << "POST /metrics" + end << QByteArray("HTTP/1.1 405 Method Not Allowed") << false;
        QTest::newRow("DELETE") << none << "DELETE /" + end << QByteArray("HTTP/1.1 405 Method Not Allowed") << false;
        QTest::newRow("unknown path") << none << "GET /admin" + end << QByteArray("HTTP/1.1 404 Not Found") << true;
        QTest::newRow("no capture yet") << none << "GET /eye.png" + end << QByteArray("HTTP/1.1 404 Not Found") << true;
        QTest::newRow("head over 8 KiB")
            << none << "GET /metrics HTTP/1.1\r\nX-Long: " + QByteArray(8200, 'a') + "\r\n\r\n"
            << QByteArray("HTTP/1.1 431 Request Header Fields Too Large") << false;
        QTest::newRow("no HTTP") << none << QByteArray("hello\r\n\r\n") << QByteArray("HTTP/1.1 400 Bad Request") << false;
        QTest::newRow("HTTP/1.0") << none << QByteArray("GET /metrics HTTP/1.0\r\n\r\n") << QByteArray("HTTP/1.1 200 OK") << false;
        QTest::newRow("token missing") << token << "GET /metrics" + end << QByteArray("HTTP/1.1 401 Unauthorized") << true;
        QTest::newRow("token wrong")
            << token << QByteArray("GET /metrics HTTP/1.1\r\nAuthorization: Bearer s3cr3t-T0kem\r\n\r\n")
            << QByteArray("HTTP/1.1 401 Unauthorized") << true;
        QTest::newRow("token's beginning")
            << token << QByteArray("GET /metrics HTTP/1.1\r\nAuthorization: Bearer s3cr3t\r\n\r\n")
            << QByteArray("HTTP/1.1 401 Unauthorized") << true;
        QTest::newRow("token right")
            << token << QByteArray("GET /metrics HTTP/1.1\r\nauthorization: bearer s3cr3t-T0ken\r\n\r\n")
            << QByteArray("HTTP/1.1 200 OK") << true;
    }
    void answersAndRefuses()
    {
        QFETCH(QByteArray, token);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, statusLine);
        QFETCH(bool, keptOpen);
        m_server->setToken(token);
        auto socket = client();
        const QByteArray answer = exchange(*socket, request);
        QVERIFY2(answer.startsWith(statusLine + "\r\n"), answer.left(200).constData());
        if (keptOpen) {
            // The same connection answers the next request.
            QVERIFY(exchange(*socket, "HEAD /metrics HTTP/1.1\r\nAuthorization: Bearer " + token + "\r\n\r\n", true)
                        .startsWith("HTTP/1.1 200 OK\r\n"));
        }
        QTest::qWait(keptOpen ? 300 : 0);
        QTRY_COMPARE(socket->state() == QAbstractSocket::ConnectedState, keptOpen);
    }

    // While a slow head, a client that never reads and fourteen idle
    // connections hold the server, a seventeenth is closed at once, the
    // client that does not read is dropped, the slow head and the idle ones
    // are closed after 10 s, and the session polls on time meanwhile.
    void boundsHoldAndPollingGoesOn()
    {
        QList<qint64> readingTimes;
        QElapsedTimer clock;
        clock.start();
        connect(m_session.get(), &InstrumentSession::readingAccepted, this,
                [&] { readingTimes << clock.elapsed(); });
        auto slow = client();
        slow->write("GET /metrics HTTP/1.1\r\nHost: a");
        auto reader = client();
        reader->setReadBufferSize(1);
        QByteArray requests;
        for (int i = 0; i < 20000; ++i)
            requests += "GET /metrics HTTP/1.1\r\n\r\n";
        reader->write(requests);
        std::vector<std::unique_ptr<QTcpSocket>> others;
        while (others.size() < 14)
            others.push_back(client());
        QTRY_COMPARE(m_server->clientCount(), 16);
        auto seventeenth = client();
        QTRY_COMPARE(seventeenth->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(m_server->clientCount(), 16);

        // The client that reads nothing is dropped long before the others
        // are closed as idle; it does not see it, as it reads nothing.
        QTRY_COMPARE_WITH_TIMEOUT(m_server->clientCount(), 15, 5000);
        QVERIFY(clock.elapsed() < HttpServer::HeadTimeoutMs - 2000);
        QTRY_COMPARE_WITH_TIMEOUT(slow->state(), QAbstractSocket::UnconnectedState, HttpServer::HeadTimeoutMs + 2000);
        QTRY_COMPARE(m_server->clientCount(), 0);
        QVERIFY(clock.elapsed() >= HttpServer::HeadTimeoutMs - 500);
        QVERIFY2(readingTimes.size() >= clock.elapsed() / 500 - 3, qPrintable(QString::number(readingTimes.size())));
        for (qsizetype index = 1; index < readingTimes.size(); ++index)
            QVERIFY2(readingTimes.at(index) - readingTimes.at(index - 1) < 700,
                     qPrintable(QStringLiteral("a reading %1 ms after the last")
                                    .arg(readingTimes.at(index) - readingTimes.at(index - 1))));
    }

    // The scrape follows the session: what promtool accepts, the reading's
    // values, the capture as the window shows it, the trend; a lost
    // instrument is down at once, its reading gone, its counters kept.
    void servesWhatTheSessionHolds()
    {
        const QByteArray scrape = get("/metrics");
        const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
        if (!promtool.isEmpty()) {
            QProcess check;
            check.start(promtool, {QStringLiteral("check"), QStringLiteral("metrics")});
            check.write(scrape);
            check.closeWriteChannel();
            QVERIFY(check.waitForFinished(10000));
            QVERIFY2(check.exitCode() == 0, check.readAllStandardError().constData());
        }
        const QByteArray device = "{device=\"" + m_instrument->devicePath().toUtf8() + "\"}";
        const MeasurementRow row = *m_session->lastReading();
        QCOMPARE(sample(scrape, "zentaval_up" + device), QByteArray("1"));
        QCOMPARE(sample(scrape, "zentaval_eye_height_unit_intervals" + device).toDouble(), *row.heightValue());
        QCOMPARE(sample(scrape, "zentaval_amplitude_volts" + device).toDouble(), *row.amplitudeValue() / 1000);
        QCOMPARE(sample(scrape, "zentaval_limits_met" + device), QByteArray("absent"));

        QVERIFY(m_session->requestScanInMemory(Capture::templateFileName()).isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(m_session->scan() == InstrumentSession::Scan::Idle, 15000);
        const QImage eye = QImage::fromData(get("/eye.png"), "PNG");
        QCOMPARE(eye, Capture::shownPicture(QImage::fromData(m_instrument->lastCapture(), "BMP")));
        const QJsonObject reading = QJsonDocument::fromJson(get("/reading.json"))["instruments"][0].toObject();
        QCOMPARE(reading["state"].toString(), QStringLiteral("polling"));
        QVERIFY(!reading["captureTime"].toString().isEmpty());
        const QJsonArray points = QJsonDocument::fromJson(get("/trend.json"))["instruments"][0]["points"].toArray();
        QCOMPARE(points.size(), qsizetype(m_session->counts().readings));
        QCOMPARE(points.last()[1].toDouble(), *m_session->lastReading()->heightValue());

        // A mask in use: its judgement of the capture.
        EyeMask::Mask mask;
        mask.polygons = {{{-0.1, 0.1}, {0.1, 0.1}, {0.1, -0.1}, {-0.1, -0.1}}};
        m_session->setMask(mask);
        QVERIFY(m_session->maskResult() && m_session->maskResult()->judged());
        const QByteArray judged = get("/metrics");
        QCOMPARE(sample(judged, "zentaval_mask_hits" + device).toLongLong(), m_session->maskResult()->hits.total);
        QCOMPARE(sample(judged, "zentaval_mask_margin_ratio" + device).toDouble(),
                 m_session->maskResult()->marginPercent / 100.0);
        QCOMPARE(QImage::fromData(get("/eye.png"), "PNG").convertToFormat(QImage::Format_RGB32),
                 EyeOverlay::annotated(eye, EyeOverlay::maskLayers(*m_session->maskResult(), mask))
                     .convertToFormat(QImage::Format_RGB32));

        m_instrument->vanish();
        QTRY_COMPARE_WITH_TIMEOUT(sample(get("/metrics"), "zentaval_up" + device), QByteArray("0"), 1000);
        const QByteArray lost = get("/metrics");
        QCOMPARE(sample(lost, "zentaval_eye_height_unit_intervals" + device), QByteArray("absent"));
        QCOMPARE(sample(lost, "zentaval_locked" + device), QByteArray("absent"));
        QCOMPARE(sample(lost, "zentaval_connection_losses_total" + device), QByteArray("1"));
        QCOMPARE(sample(lost, "zentaval_scans_total{device=\"" + m_instrument->devicePath().toUtf8()
                                  + "\",outcome=\"complete\"}"),
                 QByteArray("1"));
        QVERIFY(lost.contains("zentaval_instrument_info" + device.chopped(1) + ",model=\"731942K\",serial=\"20431\""));
    }
};

QTEST_MAIN(TestHttpServer)
#include "tst_httpserver.moc"
