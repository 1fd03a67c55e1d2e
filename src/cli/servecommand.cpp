#include "cli/servecommand.h"

#include "cli/exitstatus.h"
#include "cli/maskcommand.h"
#include "io/capturefile.h"
#include "io/instrumentsession.h"
#include "io/scpiserver.h"
#include "rules/delays.h"

ServeCommand::ServeCommand(const CliOptions &options, QObject *parent)
    : CliCommand(parent)
    , m_options(options)
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
    for (const auto &served : m_served)
        look(*served);
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
    for (const auto &served : m_served) {
        served->retry.stop();
        served->server->close();
        if (served->session->scan() == InstrumentSession::Scan::Capturing)
            served->session->stopScan();
        served->session->close();
    }
    emit finished(exitStatus);
}
