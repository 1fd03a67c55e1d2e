#include "cli/servecommand.h"

#include "cli/exitstatus.h"
#include "cli/maskcommand.h"
#include "io/capturefile.h"
#include "io/httpserver.h"
#include "io/instrumentsession.h"
#include "io/labview.h"
#include "io/scpiserver.h"
#include "rules/delays.h"

ServeCommand::ServeCommand(const CliOptions &options, QObject *parent)
    : CliCommand(parent)
    , m_options(options)
    , m_view(new LabView(this))
{
    QStringList devices = options.devices;
    if (devices.isEmpty())
        devices << QString();
    for (const QString &device : std::as_const(devices)) {
        auto served = std::make_unique<Served>();
        Served *one = served.get();
        one->device = device;
        one->session
            = std::make_unique<InstrumentSession>(systemPorts(options), InstrumentSession::Pace::Tool);
        one->server = std::make_unique<ScpiServer>(one->session.get());
        InstrumentSession *session = one->session.get();
        one->server->setCaptureStarter(
            [session] { return session->requestScanInMemory(Capture::templateFileName()); });
        one->retry.setSingleShot(true);
        connect(&one->retry, &QTimer::timeout, this, [this, one] { look(*one); });
        connect(session, &InstrumentSession::probed, this,
                [this, one](const QList<InstrumentProbe::Result> &results) { probed(*one, results); });
        connect(session, &InstrumentSession::connected, this,
                [this, one](const QString &identification, const QString &device) {
                    printNote(
                        m_options,
                        QStringLiteral("serving %1 on %2 at %3")
                            .arg(identification, device,
                                 listenAddressText(m_options.listenAddress, one->server->serverPort())));
                });
        connect(session, &InstrumentSession::lost, this, [this, one](const QString &reason) {
            printNote(m_options,
                      QStringLiteral("%1 lost (%2); waiting for it").arg(one->session->device(), reason));
        });
        session->setLimits(options.limits);
        m_view->addSession(session, device);
        m_served.push_back(std::move(served));
    }
}

ServeCommand::~ServeCommand() = default;

void ServeCommand::start()
{
    // The mask given is every served instrument's until a client selects
    // another; one that cannot be read is a usage error.
    if (!m_options.mask.isEmpty()) {
        const std::optional<EyeMask::Mask> mask = loadMaskOrSay(m_options.mask);
        if (!mask) {
            finish(ExitStatus::UsageError);
            return;
        }
        for (const auto &served : m_served)
            served->session->setMask(mask, m_options.mask);
    }
    // Every port is taken before any instrument is looked for: a server that
    // cannot listen ends the command at once.
    quint16 port = m_options.listenPort;
    for (const auto &served : m_served) {
        const QString address = listenAddressText(m_options.listenAddress, port);
        if (!served->server->listen(m_options.listenAddress, port)) {
            printError(QStringLiteral("cannot listen on %1: %2").arg(address, served->server->errorString()));
            finish(ExitStatus::CannotListen);
            return;
        }
        printNote(
            m_options,
            QStringLiteral("%1 on %2")
                .arg(served->device.isEmpty() ? QStringLiteral("the first instrument found") : served->device,
                     listenAddressText(m_options.listenAddress, served->server->serverPort())));
        if (port != 0)
            ++port;
    }
    if (reachesBeyondThisMachine(m_options.listenAddress))
        printError(QStringLiteral("warning: serving SCPI beyond this machine (%1); SCPI has no "
                                  "authentication: anyone who reaches the port controls the instrument")
                       .arg(m_options.listenAddress.toString()));
    if (m_options.http && !startHttp())
        return;
    for (const auto &served : m_served)
        look(*served);
}

bool ServeCommand::startHttp()
{
    QByteArray token;
    QString reason;
    if (!m_options.httpTokenFile.isEmpty() && !readTokenFile(m_options.httpTokenFile, &token, &reason)) {
        printError(reason);
        finish(ExitStatus::UsageError);
        return false;
    }
    m_http = new HttpServer(m_view, this);
    m_http->setToken(token);
    const QString address = listenAddressText(m_options.httpAddress, m_options.httpPort);
    if (!m_http->listen(m_options.httpAddress, m_options.httpPort)) {
        printError(QStringLiteral("cannot listen on %1: %2").arg(address, m_http->errorString()));
        finish(ExitStatus::CannotListen);
        return false;
    }
    printNote(m_options, QStringLiteral("HTTP (metrics, page) on http://%1/")
                             .arg(listenAddressText(m_options.httpAddress, m_http->serverPort())));
    if (reachesBeyondThisMachine(m_options.httpAddress) && token.isEmpty())
        printError(QStringLiteral("warning: serving HTTP beyond this machine (%1) without --http-token-file: "
                                  "anyone who reaches the port reads the instruments")
                       .arg(m_options.httpAddress.toString()));
    return true;
}

void ServeCommand::stop()
{
    finish(ExitStatus::Done);
}

void ServeCommand::look(Served &served)
{
    if (m_ended || served.adopted)
        return;
    const QStringList devices = served.device.isEmpty() ? QStringList() : QStringList {served.device};
    served.session->probe(portsToProbe(served.session->ports(), devices));
}

void ServeCommand::probed(Served &served, const QList<InstrumentProbe::Result> &results)
{
    if (m_ended || served.adopted)
        return;
    int found = -1;
    for (qsizetype index = 0; index < results.size() && found < 0; ++index) {
        if (results.at(index).outcome == InstrumentProbe::Outcome::Instrument)
            found = int(index);
    }
    if (found < 0) {
        // Clients are answered meanwhile, with "hardware missing".
        served.retry.start(Delay::PortWatch);
        return;
    }
    served.adopted = true;
    served.session->adopt(found);
    served.session->startReadings(Delay::PollInterval);
}

void ServeCommand::finish(int exitStatus)
{
    if (std::exchange(m_ended, true))
        return;
    if (m_http)
        m_http->close();
    for (const auto &served : m_served) {
        served->retry.stop();
        served->server->close();
        if (served->session->scan() == InstrumentSession::Scan::Capturing)
            served->session->stopScan();
        served->session->close();
    }
    emit finished(exitStatus);
}
