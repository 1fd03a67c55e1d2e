#include "io/httpserver.h"

#include "io/labview.h"
#include "io/listenaddress.h"
#include "rules/metricstext.h"

#include <QFile>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>

#include <algorithm>
#include <cstring>

namespace {

// A request head as far as this server reads it.
struct Request
{
    int error = 0; // a status to refuse it with (400), or 0
    QByteArray method;
    QByteArray target;
    bool keepAlive = true;
    bool hasBody = false;
    QByteArray authorization;
};

Request parseHead(const QByteArray &head)
{
    Request request;
    QList<QByteArray> lines = head.split('\n');
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    const QList<QByteArray> requestLine = lines.value(0).split(' ');
    const QByteArray version = requestLine.value(2);
    if (requestLine.size() != 3 || requestLine.at(0).isEmpty() || !requestLine.at(1).startsWith('/')
        || (version != "HTTP/1.1" && version != "HTTP/1.0")) {
        request.error = 400;
        return request;
    }
    request.method = requestLine.at(0);
    request.target = requestLine.at(1);
    bool closeAsked = false;
    bool keepAliveAsked = false;
    for (qsizetype index = 1; index < lines.size(); ++index) {
        const QByteArray &line = lines.at(index);
        if (line.isEmpty())
            continue;
        const qsizetype colon = line.indexOf(':');
        // A folded line, or a name with spaces, is refused rather than guessed.
        if (colon <= 0 || line.at(0) == ' ' || line.at(0) == '\t' || line.left(colon).contains(' ')) {
            request.error = 400;
            return request;
        }
        const QByteArray name = line.left(colon).toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "authorization") {
            request.authorization = value;
        } else if (name == "connection") {
            const QByteArray options = value.toLower();
            closeAsked = closeAsked || options.contains("close");
            keepAliveAsked = keepAliveAsked || options.contains("keep-alive");
        } else if (name == "transfer-encoding" || (name == "content-length" && value != "0")) {
            request.hasBody = true;
        }
    }
    request.keepAlive = version == "HTTP/1.1" ? !closeAsked : keepAliveAsked && !closeAsked;
    return request;
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 431:
        return "Request Header Fields Too Large";
    }
    return "Error";
}

// Characters a Bearer token may hold (RFC 6750's b64token).
bool isTokenCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
        || (c != 0 && std::strchr("-._~+/=", c) != nullptr);
}

} // namespace

// One client: its requests are answered in order as their heads arrive,
// each from what the sessions hold now.
class HttpConnection : public QObject
{
public:
    HttpConnection(HttpServer *server, qintptr descriptor);

private:
    struct Answer
    {
        int status = 200;
        QByteArray contentType;
        QByteArray body;
        QByteArray headers; // more header lines, each ending "\r\n"
    };

    void takeInput();
    Answer answer(const Request &request) const;
    void send(const Answer &answer, bool withBody, bool keepAlive);
    void close();
    void drop();

    HttpServer *m_server;
    QTcpSocket *m_socket;
    QByteArray m_input;
    QTimer m_deadline; // a head to come whole, or a client to take its answer
    bool m_closing = false;
    bool m_open = true;
};

HttpConnection::HttpConnection(HttpServer *server, qintptr descriptor)
    : QObject(server)
    , m_server(server)
    , m_socket(new QTcpSocket(this))
{
    m_socket->setSocketDescriptor(descriptor);
    // Qt stops reading from the network past this: the rest waits in TCP.
    m_socket->setReadBufferSize(HttpServer::MaximumHeadSize + 4);
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        // Nothing owed and nothing begun: an idle connection, closed as such.
        if (!m_closing && m_input.isEmpty() && m_socket->bytesAvailable() == 0 && m_socket->bytesToWrite() == 0)
            close();
        else
            drop();
    });
    m_deadline.start(HttpServer::HeadTimeoutMs);
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpConnection::takeInput);
    connect(m_socket, &QTcpSocket::bytesWritten, this, [this] {
        if (m_socket->bytesToWrite() > 0) {
            m_deadline.start(HttpServer::HeadTimeoutMs);
            return;
        }
        if (m_closing)
            close();
    });
    connect(m_socket, &QTcpSocket::disconnected, this, &HttpConnection::drop);
}

void HttpConnection::takeInput()
{
    if (!m_open)
        return;
    if (m_closing) {
        m_socket->readAll();
        return;
    }
    for (int taken = 0;; ++taken) {
        if (taken == HttpServer::AnswersPerTurn) {
            QTimer::singleShot(0, this, &HttpConnection::takeInput);
            return;
        }
        const qint64 room = HttpServer::MaximumHeadSize + 4 - m_input.size();
        if (room > 0 && m_socket->bytesAvailable() > 0)
            m_input += m_socket->read(room);
        // Empty lines before a request are allowed.
        qsizetype start = 0;
        while (start < m_input.size() && (m_input.at(start) == '\r' || m_input.at(start) == '\n'))
            ++start;
        m_input.remove(0, start);
        qsizetype end = m_input.indexOf("\r\n\r\n");
        qsizetype endLength = 4;
        const qsizetype bareEnd = m_input.indexOf("\n\n");
        if (bareEnd >= 0 && (end < 0 || bareEnd < end)) {
            end = bareEnd;
            endLength = 2;
        }
        if (end < 0 ? m_input.size() > HttpServer::MaximumHeadSize : end + endLength > HttpServer::MaximumHeadSize) {
            send({431, "text/plain; charset=utf-8", "The request head is over 8 KiB.\n", {}}, true, false);
            return;
        }
        if (end < 0)
            return;
        const Request request = parseHead(m_input.left(end));
        m_input.remove(0, end + endLength);
        // A body is not read: after it nothing could be told apart. A
        // client that asks to change something is told once.
        const Answer answered = answer(request);
        const bool keepAlive = request.keepAlive && !request.hasBody && request.error == 0 && answered.status != 405;
        send(answered, request.method != "HEAD", keepAlive);
        if (!m_open || m_closing)
            return;
        // A client that asks without reading gets no more answers made.
        if (m_socket->bytesToWrite() > HttpServer::MaximumPendingOutput) {
            drop();
            return;
        }
        m_deadline.start(HttpServer::HeadTimeoutMs);
        if (m_input.isEmpty() && m_socket->bytesAvailable() == 0)
            return;
    }
}

HttpConnection::Answer HttpConnection::answer(const Request &request) const
{
    const QByteArray text = "text/plain; charset=utf-8";
    if (request.error != 0)
        return {request.error, text, "The request could not be read.\n", {}};
    if (!m_server->admits(request.authorization))
        return {401, text, "This endpoint asks for \"Authorization: Bearer <token>\".\n",
                "WWW-Authenticate: Bearer realm=\"Zentaval\"\r\n"};
    if (request.method != "GET" && request.method != "HEAD")
        return {405, text, "Only GET and HEAD are served: nothing here changes the instrument.\n",
                "Allow: GET, HEAD\r\n"};
    const qsizetype question = request.target.indexOf('?');
    const QByteArray path = question < 0 ? request.target : request.target.left(question);
    const QUrlQuery query(question < 0 ? QString() : QString::fromUtf8(request.target.mid(question + 1)));
    const QString device = query.queryItemValue(QStringLiteral("device"), QUrl::FullyDecoded);
    const LabView &view = *m_server->view();
    if (path == "/" || path == "/index.html")
        return {200, "text/html; charset=utf-8", LabView::page(),
                "Content-Security-Policy: default-src 'none'; script-src 'unsafe-inline'; style-src "
                "'unsafe-inline'; img-src 'self'; connect-src 'self'\r\n"};
    if (path == "/metrics")
        return {200, MetricsText::ContentType, view.metrics(), {}};
    if (path == "/reading.json")
        return {200, "application/json", view.readingJson(device), {}};
    if (path == "/trend.json")
        return {200, "application/json", view.trendJson(device), {}};
    if (path == "/eye.png") {
        const QByteArray png = view.eyePng(device);
        if (png.isEmpty())
            return {404, text, "No capture yet.\n", {}};
        return {200, "image/png", png, {}};
    }
    return {404, text, "Not found. Served: /, /metrics, /reading.json, /trend.json, /eye.png\n", {}};
}

void HttpConnection::send(const Answer &answer, bool withBody, bool keepAlive)
{
    QByteArray bytes = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' + reasonPhrase(answer.status)
        + "\r\nContent-Type: " + answer.contentType + "\r\nContent-Length: " + QByteArray::number(answer.body.size())
        + "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n" + answer.headers
        + (keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n");
    if (withBody)
        bytes += answer.body;
    m_socket->write(bytes);
    m_socket->flush();
    if (!keepAlive) {
        m_closing = true;
        m_deadline.start(HttpServer::HeadTimeoutMs);
        if (m_socket->bytesToWrite() == 0)
            close();
    }
}

// Closed in order: what was written goes out first.
void HttpConnection::close()
{
    if (!m_open)
        return;
    m_closing = true;
    m_socket->disconnectFromHost();
    if (m_socket->state() == QAbstractSocket::UnconnectedState)
        drop();
}

void HttpConnection::drop()
{
    if (!m_open)
        return;
    m_open = false;
    m_deadline.stop();
    m_socket->abort();
    m_server->forget(this);
    deleteLater();
}

HttpServer::HttpServer(LabView *view, QObject *parent)
    : QObject(parent)
    , m_view(view)
    , m_listener(new ConnectionListener([this](qintptr descriptor) { accept(descriptor); }, this))
{
}

HttpServer::~HttpServer()
{
    // Whoever listens to the count may be going away too.
    blockSignals(true);
    close();
}

bool HttpServer::listen(const QHostAddress &address, quint16 port)
{
    return m_listener->listen(address, port);
}

void HttpServer::close()
{
    m_listener->close();
    const QList<HttpConnection *> connections = m_connections;
    m_connections.clear();
    for (HttpConnection *connection : connections)
        delete connection;
    emit clientCountChanged(0);
}

bool HttpServer::isListening() const
{
    return m_listener->isListening();
}

QHostAddress HttpServer::serverAddress() const
{
    return m_listener->serverAddress();
}

quint16 HttpServer::serverPort() const
{
    return m_listener->serverPort();
}

QString HttpServer::errorString() const
{
    return m_listener->errorString();
}

bool HttpServer::admits(const QByteArray &authorization) const
{
    if (m_token.isEmpty())
        return true;
    const qsizetype space = authorization.indexOf(' ');
    if (space < 0 || authorization.left(space).toLower() != "bearer")
        return false;
    const QByteArray given = authorization.mid(space + 1).trimmed();
    // Compared whole whatever differs, so that the time taken tells nothing.
    unsigned char difference = given.size() == m_token.size() ? 0 : 1;
    for (qsizetype index = 0; index < m_token.size(); ++index)
        difference |= static_cast<unsigned char>(m_token.at(index) ^ (index < given.size() ? given.at(index) : 0));
    return difference == 0;
}

void HttpServer::accept(qintptr descriptor)
{
    if (m_connections.size() >= MaximumClients) {
        // Closed at once, unanswered; the others go on.
        QTcpSocket refused;
        refused.setSocketDescriptor(descriptor);
        refused.abort();
        return;
    }
    m_connections << new HttpConnection(this, descriptor);
    emit clientCountChanged(clientCount());
}

void HttpServer::forget(HttpConnection *connection)
{
    if (m_connections.removeAll(connection) > 0)
        emit clientCountChanged(clientCount());
}

bool readTokenFile(const QString &fileName, QByteArray *token, QString *error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("the token file %1 cannot be read: %2").arg(fileName, file.errorString());
        return false;
    }
    // A token is short; a longer first line is no token file.
    const QByteArray line = file.readLine(4096).trimmed();
    if (line.isEmpty()) {
        *error = QStringLiteral("the token file %1 holds no token").arg(fileName);
        return false;
    }
    if (!std::all_of(line.begin(), line.end(), isTokenCharacter)) {
        *error = QStringLiteral("the token file %1 holds characters a Bearer token cannot carry (A-Z a-z 0-9 "
                                "- . _ ~ + / =)")
                     .arg(fileName);
        return false;
    }
    *token = line;
    return true;
}
