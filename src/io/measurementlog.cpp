#include "io/measurementlog.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

// A comment holds one line: line breaks in instrument or system texts would
// start lines the CSV reader takes for rows.
QString oneLine(QString text)
{
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text.trimmed();
}

QByteArray jsonObject(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

LogSession logSession(const QString &program, const QString &identification, const QString &device,
                      const QString &lineSettings, const QDateTime &start)
{
    return {program, QCoreApplication::applicationVersion(), identification, device, lineSettings, start};
}

QByteArray sessionText(const LogSession &session, LogFormat format)
{
    if (format == LogFormat::JsonLines) {
        return jsonObject({{QStringLiteral("session"), logTime(session.start)},
                           {QStringLiteral("program"), session.program},
                           {QStringLiteral("version"), session.version},
                           {QStringLiteral("identification"), session.identification},
                           {QStringLiteral("device"), session.device},
                           {QStringLiteral("line"), session.lineSettings}});
    }
    QString text = QStringLiteral("# %1 %2\n").arg(oneLine(session.program), oneLine(session.version));
    text += QStringLiteral("# instrument %1\n").arg(oneLine(session.identification));
    text += QStringLiteral("# device %1 %2\n").arg(oneLine(session.device), oneLine(session.lineSettings));
    text += QStringLiteral("# started %1\n").arg(logTime(session.start));
    return text.toUtf8();
}

bool holdsCsvHeader(const QByteArray &text)
{
    const QByteArray header = csvHeader();
    return text.startsWith(header) || text.contains('\n' + header);
}

bool MeasurementLog::open(const QString &fileName, LogFormat format)
{
    close();
    m_file.setFileName(fileName);
    m_fileName = fileName;
    m_format = format;
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        m_error = m_file.errorString();
        return false;
    }
    m_hasHeader = false;
    if (format == LogFormat::Csv && m_file.size() > 0) {
        QFile existing(fileName);
        if (existing.open(QIODevice::ReadOnly))
            m_hasHeader = holdsCsvHeader(existing.read(HeaderSearchBytes));
    }
    m_error.clear();
    return true;
}

bool MeasurementLog::openStandardOutput(LogFormat format)
{
    close();
    m_fileName = QStringLiteral("-");
    m_format = format;
    m_hasHeader = false;
    if (!m_file.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        m_error = m_file.errorString();
        return false;
    }
    m_error.clear();
    return true;
}

void MeasurementLog::close()
{
    if (m_file.isOpen())
        m_file.close();
}

bool MeasurementLog::writeSession(const LogSession &session)
{
    QByteArray text = sessionText(session, m_format);
    const bool addsHeader = m_format == LogFormat::Csv && !m_hasHeader;
    if (addsHeader)
        text += csvHeader();
    if (!writeLine(text))
        return false;
    m_hasHeader = m_hasHeader || addsHeader;
    return true;
}

bool MeasurementLog::writeRow(const MeasurementRow &row)
{
    return writeLine(m_format == LogFormat::JsonLines ? jsonLine(row) : csvLine(row));
}

bool MeasurementLog::writeLost(const QDateTime &time, const QString &reason)
{
    return writeEvent("lost", time, reason);
}

bool MeasurementLog::writeConnected(const QDateTime &time, const QString &identification)
{
    return writeEvent("connected", time, identification);
}

bool MeasurementLog::writeMaskResult(const QDateTime &time, const EyeMask::Result &result, const QString &capture)
{
    if (m_format == LogFormat::JsonLines) {
        QJsonObject mask {{QStringLiteral("name"), result.maskName},
                          {QStringLiteral("hits"), result.judged() ? QJsonValue(qint64(result.hits.total))
                                                                   : QJsonValue(QJsonValue::Null)},
                          {QStringLiteral("margin_pct"),
                           result.judged() ? QJsonValue(result.marginPercent) : QJsonValue(QJsonValue::Null)},
                          {QStringLiteral("pass"), result.pass},
                          {QStringLiteral("capture"), capture}};
        if (!result.judged())
            mask.insert(QStringLiteral("reason"),
                        result.hasEye() ? result.placement.error : result.search.noEyeReason);
        return writeLine(jsonObject({{QStringLiteral("mask"), mask}, {QStringLiteral("time"), logTime(time)}}));
    }
    return writeLine(QStringLiteral("# mask %1 %2, capture %3\n")
                         .arg(logTime(time), oneLine(EyeMask::summary(result)), oneLine(capture))
                         .toUtf8());
}

bool MeasurementLog::writeEvent(const char *event, const QDateTime &time, const QString &detail)
{
    if (m_format == LogFormat::JsonLines) {
        return writeLine(jsonObject({{QStringLiteral("event"), QLatin1String(event)},
                                     {QStringLiteral("time"), logTime(time)},
                                     {QStringLiteral("detail"), detail}}));
    }
    return writeLine(
        QStringLiteral("# %1 %2 %3\n").arg(QLatin1String(event), logTime(time), oneLine(detail)).toUtf8());
}

bool MeasurementLog::writeLine(const QByteArray &line)
{
    if (!m_file.isOpen()) {
        m_error = QStringLiteral("the log is not open");
        return false;
    }
    // Unbuffered: the line is handed to the system at once. Standard output
    // may be a pipe the caller reads line by line.
    if (m_file.write(line) != line.size()) {
        m_error = m_file.errorString();
        return false;
    }
    if (m_file.handle() == fileno(stdout))
        std::fflush(stdout);
    return true;
}
