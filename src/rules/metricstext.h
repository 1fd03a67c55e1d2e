#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// The Prometheus text exposition format, version 0.0.4: what a scrape of
// /metrics reads. A family is written with its HELP and TYPE lines and then
// one line per sample, `name{label="value",...} number`, without timestamps;
// a family with no sample is left out whole, so that a series that no longer
// holds is absent rather than frozen.
namespace MetricsText {

// The content type a scrape is answered with.
inline constexpr char ContentType[] = "text/plain; version=0.0.4; charset=utf-8";

enum class Type { Gauge, Counter };

using Labels = QList<QPair<QByteArray, QString>>; // name, value

struct Sample
{
    Labels labels;
    double value = 0;
};

struct Family
{
    QByteArray name;
    QString help;
    Type type = Type::Gauge;
    QList<Sample> samples;
};

// A label value between its quotes: backslash, double quote and line feed
// escaped, UTF-8.
QByteArray labelValue(const QString &value);
// HELP text: backslash and line feed escaped, UTF-8.
QByteArray helpText(const QString &help);
// A sample value: the shortest text that reads back as the same double
// ("0.35", "1289062500", "1e-06"), "NaN", "+Inf" or "-Inf".
QByteArray number(double value);
// The families in order, each sample's labels in the order given.
QByteArray render(const QList<Family> &families);

} // namespace MetricsText
