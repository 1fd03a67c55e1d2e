#pragma once

#include "io/listenaddress.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>

class HttpConnection;
class LabView;
class QTcpServer;

// The instruments served read-only over HTTP/1.1, for a lab's monitoring
// and for any browser: /metrics (Prometheus), the live page at /,
// /reading.json, /trend.json and /eye.png, all answered from what the
// sessions hold (LabView), never waiting for an instrument. GET and HEAD
// alone; connections are kept open between requests.
//
// What a client cannot do to it: more than MaximumClients connections (one
// more is closed at once, unanswered); a request head over MaximumHeadSize
// (431, then closed); a head not whole within HeadTimeoutMs of the
// connection or of its previous answer (closed); leaving its answers unread
// (past MaximumPendingOutput waiting, or HeadTimeoutMs without taking a
// byte, it is dropped). With a token set, a request without
// "Authorization: Bearer <token>" gets 401 and nothing else.
class HttpServer : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaximumClients = 16;
    static constexpr qsizetype MaximumHeadSize = 8 * 1024;
    static constexpr int HeadTimeoutMs = 10 * 1000;
    static constexpr qint64 MaximumPendingOutput = 4 * 1024 * 1024;
    // Requests a client sends ahead are answered this many at a time: the
    // event loop runs between, so a client that pipelines thousands holds
    // up neither the instrument nor the other clients.
    static constexpr int AnswersPerTurn = 8;
    // From the unclaimed part of Prometheus's list of exporters' default
    // ports, beyond 9100-9999, which is full.
    static constexpr quint16 DefaultPort = 10731;

    explicit HttpServer(LabView *view, QObject *parent = nullptr);
    ~HttpServer() override;

    // Every request must then carry it; an empty token asks for none.
    void setToken(const QByteArray &token) { m_token = token; }
    bool requiresToken() const { return !m_token.isEmpty(); }

    // False, with errorString(), when the address cannot be listened on.
    bool listen(const QHostAddress &address, quint16 port);
    // Stops listening and closes every connection.
    void close();
    bool isListening() const;
    QHostAddress serverAddress() const;
    quint16 serverPort() const;
    QString errorString() const;
    int clientCount() const { return int(m_connections.size()); }

    LabView *view() const { return m_view; }
    // Whether a request's Authorization header value lets it in.
    bool admits(const QByteArray &authorization) const;

signals:
    void clientCountChanged(int clients);

private:
    friend class HttpConnection;
    void accept(qintptr descriptor);
    void forget(HttpConnection *connection);

    LabView *m_view;
    QByteArray m_token;
    QTcpServer *m_listener;
    QList<HttpConnection *> m_connections;
};

// The token a --http-token-file holds: its first line, without the spaces
// around it. False, with the reason, when the file cannot be read, holds no
// token, or holds characters a Bearer token cannot carry.
bool readTokenFile(const QString &fileName, QByteArray *token, QString *error);
