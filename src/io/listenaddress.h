#pragma once

#include <QHostAddress>
#include <QString>
#include <QTcpServer>

#include <functional>

// Where a server of the program listens: --listen's and --http's value, and
// the listener that hands each connection to the server's own object.

// "[ADDRESS:]PORT" as given to --listen or --http: the address defaults to
// 127.0.0.1; "[::1]:5025" for IPv6. False, with the reason, for a bad value.
bool parseListenAddress(const QString &text, QHostAddress *address, quint16 *port, QString *error);
// "127.0.0.1:5025", "[::1]:5025".
QString listenAddressText(const QHostAddress &address, quint16 port);
// True when clients beyond this machine can reach the address.
bool reachesBeyondThisMachine(const QHostAddress &address);

// A listening socket that gives each accepted connection's descriptor to
// `accept`, which makes the server's per-connection object of it.
class ConnectionListener : public QTcpServer
{
public:
    ConnectionListener(std::function<void(qintptr)> accept, QObject *parent)
        : QTcpServer(parent)
        , m_accept(std::move(accept))
    {
    }

protected:
    void incomingConnection(qintptr descriptor) override { m_accept(descriptor); }

private:
    std::function<void(qintptr)> m_accept;
};
