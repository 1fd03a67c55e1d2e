#include "io/instrumentprobe.h"

#include "rules/delays.h"
#include "rules/identification.h"
#include "io/linesettings.h"

#include <QFileInfo>

InstrumentProbe::InstrumentProbe(const SerialPortProvider &provider, Answers answers, QObject *parent)
    : QObject(parent)
    , m_provider(provider)
    , m_answers(answers)
{
    m_answerTime.setSingleShot(true);
    m_answerTime.setTimerType(Qt::PreciseTimer);
    connect(&m_answerTime, &QTimer::timeout, this, &InstrumentProbe::collect);
}

void InstrumentProbe::collect()
{
    for (std::size_t index = 0; index < m_probes.size(); ++index)
        collectOne(index, true);
}

bool InstrumentProbe::answerAwaited() const
{
    for (const Probe &probe : m_probes) {
        if (!probe.done)
            return true;
    }
    return false;
}

void InstrumentProbe::abort()
{
    for (Probe &probe : m_probes) {
        if (probe.port)
            probe.port->close();
        probe.done = true;
    }
    m_probes.clear();
    m_answerTime.stop();
    m_finished = true;
}

InstrumentProbe::~InstrumentProbe() = default;

bool InstrumentProbe::answerIsWhole(const QByteArray &answer)
{
    return Identification::identifiesInstrument(answer) && answer.endsWith('\n');
}

void InstrumentProbe::start(const QList<SerialPortEntry> &ports)
{
    m_probes.clear();
    m_probes.resize(std::size_t(ports.size()));
    for (std::size_t index = 0; index < m_probes.size(); ++index) {
        Probe &probe = m_probes[index];
        probe.result.port = ports.at(qsizetype(index));
        const SerialPortEntry &entry = probe.result.port;
        probe.done = true;
        if (!QFileInfo::exists(entry.systemLocation)) {
            probe.result.outcome = Outcome::Missing;
            continue;
        }
        if (m_provider.isBusy(entry)) {
            probe.result.outcome = Outcome::Busy;
            continue;
        }
        probe.port = std::make_unique<QSerialPort>();
        probe.port->setPortName(entry.systemLocation);
        applyLineSettings(*probe.port, m_provider.lineSettings(entry));
        if (!probe.port->open(QIODevice::ReadWrite)) {
            probe.result.outcome = Outcome::NotOpened;
            probe.result.error = probe.port->errorString();
            probe.port.reset();
            continue;
        }
        probe.done = false;
        if (m_answers == Answers::WithinASecond)
            connect(probe.port.get(), &QSerialPort::readyRead, this, [this, index] { collectOne(index, false); });
        connect(probe.port.get(), &QSerialPort::errorOccurred, this,
                [this, index](QSerialPort::SerialPortError error) {
                    if (isFatalPortError(error) && m_probes[index].port->isOpen()) {
                        // Gone while probed: no answer to wait for.
                        m_probes[index].port->close();
                        collectOne(index, true);
                    }
                });
        probe.port->write("?\r\n");
    }
    m_finished = false;
    if (m_answers == Answers::WithinASecond)
        m_answerTime.start(Delay::ProbeAnswer);
    // Said from the event loop, so that the caller sees it after start().
    QTimer::singleShot(0, this, &InstrumentProbe::finishWhenDone);
}

void InstrumentProbe::collectOne(std::size_t index, bool timeUp)
{
    Probe &probe = m_probes[index];
    if (probe.done)
        return;
    if (probe.port->isOpen())
        probe.result.answer += probe.port->readAll();
    if (!timeUp && !answerIsWhole(probe.result.answer))
        return;
    probe.done = true;
    probe.port->disconnect(this);
    if (Identification::identifiesInstrument(probe.result.answer) && probe.port->isOpen()) {
        probe.result.outcome = Outcome::Instrument;
    } else {
        probe.result.outcome = Outcome::NoAnswer;
        // This may run in the port's own signal: it goes once that is over.
        probe.port->close();
        probe.port.release()->deleteLater();
    }
    QMetaObject::invokeMethod(this, &InstrumentProbe::finishWhenDone, Qt::QueuedConnection);
}

void InstrumentProbe::finishWhenDone()
{
    if (m_finished)
        return;
    for (const Probe &probe : m_probes) {
        if (!probe.done)
            return;
    }
    m_finished = true;
    m_answerTime.stop();
    emit finished();
}

QList<InstrumentProbe::Result> InstrumentProbe::results() const
{
    QList<Result> results;
    for (const Probe &probe : m_probes)
        results.append(probe.result);
    return results;
}

std::unique_ptr<QSerialPort> InstrumentProbe::takePort(int index)
{
    return std::move(m_probes.at(std::size_t(index)).port);
}

QList<SerialPortEntry> portsToProbe(const SerialPortProvider &systemPorts, const QStringList &devices)
{
    if (devices.isEmpty())
        return systemPorts.availablePorts();
    QList<SerialPortEntry> ports;
    for (const QString &device : devices)
        ports.append({device, device});
    return ports;
}

QString probeProblem(const InstrumentProbe::Result &result)
{
    const QString &device = result.port.systemLocation;
    switch (result.outcome) {
    case InstrumentProbe::Outcome::Busy:
        return QStringLiteral("%1: busy (another program holds it)").arg(device);
    case InstrumentProbe::Outcome::Missing:
        return QStringLiteral("%1: no such device").arg(device);
    case InstrumentProbe::Outcome::NotOpened:
        return QStringLiteral("%1: does not open: %2").arg(device, result.error);
    case InstrumentProbe::Outcome::NoAnswer:
        return QStringLiteral("%1: no instrument answered").arg(device);
    case InstrumentProbe::Outcome::Instrument:
        break;
    }
    return QString();
}
