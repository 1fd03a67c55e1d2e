#pragma once

#include <QHostAddress>
#include <QString>

// Where a server of the program listens: --listen's and --http's value.

// "[ADDRESS:]PORT" as given to --listen or --http: the address defaults to
// 127.0.0.1; "[::1]:5025" for IPv6. False, with the reason, for a bad value.
bool parseListenAddress(const QString &text, QHostAddress *address, quint16 *port, QString *error);
// "127.0.0.1:5025", "[::1]:5025".
QString listenAddressText(const QHostAddress &address, quint16 port);
// True when clients beyond this machine can reach the address.
bool reachesBeyondThisMachine(const QHostAddress &address);
