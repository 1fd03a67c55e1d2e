#pragma once

#include "io/listenaddress.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class InstrumentSession;
class QTcpServer;
class ScpiConnection;

// The instrument served to lab automation as a SCPI instrument on a raw TCP
// socket (TCPIP::host::5025::SOCKET): each connection sends lines of
// commands and gets one line of answers per line that asks something. The
// server only observes the session and asks it as the window does; it never
// touches the serial port and never waits on the event loop.
//
// What a client cannot do to it: more than MaximumClients connections (one
// more is closed at once, unanswered); a line over MaximumLineLength (-363,
// the input up to the next LF is dropped, the connection kept); leaving its
// answers unread (past MaximumPendingOutput waiting it is dropped). Each
// connection keeps its own error queue, status bytes and operations.
class ScpiServer : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaximumClients = 4;
    static constexpr qint64 MaximumLineLength = 64 * 1024;
    static constexpr qint64 MaximumPendingOutput = 16 * 1024 * 1024;
    // READ? and MEASure wait this long at most for the next reading (a
    // poll is 500 ms); then they answer from the latest one, with -230.
    static constexpr int ReadingWaitMs = 1500;
    static constexpr quint16 DefaultPort = 5025;
    // MASK:SELect reads a file of at most this size.
    static constexpr qint64 MaximumMaskFileSize = 1024 * 1024;

    // Starts a scan as the program's own scan is started, the capture kept
    // where that program keeps it; returns why it cannot, or an empty string.
    using CaptureStarter = std::function<QString()>;

    explicit ScpiServer(InstrumentSession *session, QObject *parent = nullptr);
    ~ScpiServer() override;

    void setCaptureStarter(CaptureStarter starter) { m_captureStarter = std::move(starter); }

    // False, with errorString(), when the address cannot be listened on.
    bool listen(const QHostAddress &address, quint16 port);
    // Stops listening and closes every connection.
    void close();
    bool isListening() const;
    QHostAddress serverAddress() const;
    quint16 serverPort() const;
    QString errorString() const;
    int clientCount() const { return int(m_connections.size()); }

    InstrumentSession *session() const { return m_session; }
    QString startCapture() const;
    // A capture has been made or is under way since the session began.
    bool captureSeen() const;

signals:
    void clientCountChanged(int clients);

private:
    friend class ScpiConnection;
    void accept(qintptr descriptor);
    void forget(ScpiConnection *connection);

    InstrumentSession *m_session;
    CaptureStarter m_captureStarter;
    QTcpServer *m_listener;
    QList<ScpiConnection *> m_connections;
    bool m_scanEnded = false;
};
