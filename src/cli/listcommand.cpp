#include "cli/listcommand.h"

#include "cli/exitstatus.h"
#include "rules/identification.h"
#include "rules/printabletext.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

ListCommand::ListCommand(const CliOptions &options, QObject *parent)
    : CliCommand(parent)
    , m_options(options)
    , m_session(systemPorts(options), InstrumentSession::Pace::Tool)
{
    connect(&m_session, &InstrumentSession::probed, this, &ListCommand::report);
}

void ListCommand::start()
{
    m_session.probe(portsToProbe(m_session.ports(), m_options.devices));
}

void ListCommand::stop()
{
    emit finished(ExitStatus::NoInstrument);
}

void ListCommand::report(const QList<InstrumentProbe::Result> &results)
{
    int found = 0;
    for (const InstrumentProbe::Result &result : results) {
        if (result.outcome == InstrumentProbe::Outcome::Instrument) {
            const QByteArray line
                = listLine(result.port.systemLocation,
                           Identification::instrumentIdentification(result.answer), m_options.listFormat);
            std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
            std::fflush(stdout);
            ++found;
        } else if (result.outcome == InstrumentProbe::Outcome::NoAnswer) {
            printNote(m_options, probeProblem(result));
        } else {
            printError(probeProblem(result));
        }
    }
    if (found == 0)
        printError(QStringLiteral("no instrument found"));
    emit finished(found > 0 ? ExitStatus::Done : ExitStatus::NoInstrument);
}

QByteArray listLine(const QString &device, const QString &identification, ListFormat format)
{
    if (format == ListFormat::JsonLines) {
        const QJsonObject object {{QStringLiteral("device"), device},
                                  {QStringLiteral("identification"), identification}};
        return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    }
    // JSON escapes control characters itself; on a terminal they would act.
    return (device + QLatin1Char('\t') + printableText(identification)).toUtf8() + '\n';
}
