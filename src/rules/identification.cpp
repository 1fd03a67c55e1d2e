#include "rules/identification.h"

namespace Identification {

QString textFromInstrumentBytes(const QByteArray &bytes)
{
    const qsizetype nul = bytes.indexOf('\0');
    return QString::fromLatin1(nul < 0 ? bytes : bytes.left(nul));
}

bool identifiesInstrument(const QByteArray &answer)
{
    return answer.contains(ModelNumber);
}

QString discoveryRowText(const QString &portName, const QByteArray &answer)
{
    QByteArray trimmed = answer.mid(1);
    trimmed.chop(1);
    return textFromInstrumentBytes(portName.toLatin1() + ": " + trimmed);
}

QString instrumentIdentification(const QByteArray &answer)
{
    QByteArray trimmed = answer.mid(1);
    trimmed.chop(1);
    return textFromInstrumentBytes(trimmed);
}

QString windowTitle(const QByteArray &answer)
{
    return QStringLiteral("Zentaval ") + textFromInstrumentBytes(answer.mid(1));
}

} // namespace Identification
