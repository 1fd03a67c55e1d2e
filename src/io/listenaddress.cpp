#include "io/listenaddress.h"

bool parseListenAddress(const QString &text, QHostAddress *address, quint16 *port, QString *error)
{
    QString host = QStringLiteral("127.0.0.1");
    QString portText = text;
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0) {
        host = text.left(colon);
        portText = text.mid(colon + 1);
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
    }
    bool ok = false;
    const uint number = portText.toUInt(&ok);
    if (!ok || number > 65535 || portText.startsWith(QLatin1Char('+'))) {
        *error = QStringLiteral("'%1' is no port number (0 to 65535)").arg(portText);
        return false;
    }
    QHostAddress parsed;
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        parsed = QHostAddress(QHostAddress::LocalHost);
    else if (!parsed.setAddress(host)) {
        *error = QStringLiteral("'%1' is no IP address").arg(host);
        return false;
    }
    *address = parsed;
    *port = quint16(number);
    return true;
}

QString listenAddressText(const QHostAddress &address, quint16 port)
{
    if (address.protocol() == QAbstractSocket::IPv6Protocol)
        return QStringLiteral("[%1]:%2").arg(address.toString()).arg(port);
    return QStringLiteral("%1:%2").arg(address.toString()).arg(port);
}

bool reachesBeyondThisMachine(const QHostAddress &address)
{
    return !address.isLoopback();
}
