#include "rules/metricstext.h"

#include <QLocale>

#include <cmath>

namespace MetricsText {

namespace {

QByteArray escaped(const QString &text, bool quotes)
{
    const QByteArray utf8 = text.toUtf8();
    QByteArray result;
    result.reserve(utf8.size());
    for (char c : utf8) {
        if (c == '\\')
            result += "\\\\";
        else if (c == '\n')
            result += "\\n";
        else if (quotes && c == '"')
            result += "\\\"";
        else
            result += c;
    }
    return result;
}

} // namespace

QByteArray labelValue(const QString &value)
{
    return escaped(value, true);
}

QByteArray helpText(const QString &help)
{
    return escaped(help, false);
}

QByteArray number(double value)
{
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value > 0 ? "+Inf" : "-Inf";
    // -0 reads back as 0 for Prometheus too.
    if (value == 0)
        return "0";
    return QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
}

QByteArray render(const QList<Family> &families)
{
    QByteArray text;
    for (const Family &family : families) {
        if (family.samples.isEmpty())
            continue;
        text += "# HELP " + family.name + ' ' + helpText(family.help) + '\n';
        text += "# TYPE " + family.name + (family.type == Type::Counter ? " counter\n" : " gauge\n");
        for (const Sample &sample : family.samples) {
            text += family.name;
            if (!sample.labels.isEmpty()) {
                text += '{';
                for (qsizetype index = 0; index < sample.labels.size(); ++index) {
                    if (index > 0)
                        text += ',';
                    text += sample.labels.at(index).first + "=\"" + labelValue(sample.labels.at(index).second)
                        + '"';
                }
                text += '}';
            }
            text += ' ' + number(sample.value) + '\n';
        }
    }
    return text;
}

} // namespace MetricsText
