// The cost of a Prometheus scrape of a bench serving eight instruments
// (zentaval-cli serve DEV1 ... DEV8 --http): the metrics text built from the
// eight sessions, and a whole GET /metrics over the loopback on a kept
// connection, as Prometheus makes it. The sessions poll simulated
// instruments on pseudo-terminals meanwhile, as served ones do.

#include "io/httpserver.h"
#include "io/instrumentsession.h"
#include "io/labview.h"
#include "io/serialports.h"
#include "simulatedinstrument.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>

#include <memory>
#include <vector>

namespace {

struct Bench
{
    std::vector<std::unique_ptr<SimulatedInstrument>> instruments;
    std::vector<std::unique_ptr<InstrumentSession>> sessions;
    LabView view;
    HttpServer server {&view};

    // Eight instruments, each with a reading, served on a free port.
    Bench()
    {
        for (int index = 0; index < 8; ++index) {
            auto instrument = std::make_unique<SimulatedInstrument>();
            instrument->setIdentificationAnswer(SimulatedInstrument::defaultIdentificationAnswer(1000 + index));
            auto session = std::make_unique<InstrumentSession>(
                std::make_unique<SystemSerialPorts>(QStringList {instrument->devicePath()},
                                                    SystemSerialPorts::Enumeration::ExtraOnly),
                InstrumentSession::Pace::Tool);
            InstrumentSession *one = session.get();
            QObject::connect(one, &InstrumentSession::probed, one, [one] {
                one->adopt(0);
                one->startReadings(500);
            });
            one->probe(one->ports().availablePorts());
            view.addSession(one);
            instruments.push_back(std::move(instrument));
            sessions.push_back(std::move(session));
        }
        server.listen(QHostAddress::LocalHost, 0);
        QElapsedTimer waited;
        waited.start();
        auto allRead = [this] {
            for (const auto &session : sessions) {
                if (!session->lastReading())
                    return false;
            }
            return true;
        };
        while (!allRead() && waited.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
};

void BM_MetricsOfEightInstruments(benchmark::State &state)
{
    Bench bench;
    qsizetype size = 0;
    for (auto _ : state) {
        const QByteArray text = bench.view.metrics();
        size = text.size();
        benchmark::DoNotOptimize(text.constData());
    }
    state.counters["bytes"] = double(size);
}
BENCHMARK(BM_MetricsOfEightInstruments)->Unit(benchmark::kMicrosecond);

void BM_ScrapeOfEightInstruments(benchmark::State &state)
{
    Bench bench;
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, bench.server.serverPort());
    client.waitForConnected(2000);
    for (auto _ : state) {
        client.write("GET /metrics HTTP/1.1\r\nHost: bench\r\nAccept: text/plain\r\n\r\n");
        QByteArray answer;
        qsizetype whole = -1;
        while (whole < 0 || answer.size() < whole) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
            answer += client.readAll();
            const qsizetype end = answer.indexOf("\r\n\r\n");
            const qsizetype at = answer.indexOf("Content-Length: ");
            if (whole < 0 && end >= 0 && at >= 0)
                whole = end + 4 + answer.mid(at + 16, answer.indexOf('\r', at) - at - 16).toLongLong();
            if (client.state() != QAbstractSocket::ConnectedState) {
                state.SkipWithError("the connection closed");
                return;
            }
        }
    }
}
BENCHMARK(BM_ScrapeOfEightInstruments)->Unit(benchmark::kMillisecond)->MinTime(3);

} // namespace
