#include "io/scpiserver.h"

#include "io/capturefile.h"
#include "io/listenaddress.h"
#include "io/instrumentsession.h"
#include "io/maskfile.h"
#include "rules/capture.h"
#include "rules/scpi.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

QByteArray quantityAnswer(const std::optional<MeasurementRow> &reading, Scpi::Quantity quantity)
{
    auto value = [&reading](const QString &text) -> QByteArray {
        const std::optional<double> number = reading ? MeasurementRow::number(text) : std::nullopt;
        return number ? Scpi::number(*number) : QByteArray(Scpi::NotANumber);
    };
    auto lock = [&reading]() -> QByteArray {
        if (!reading)
            return Scpi::NotANumber;
        return reading->lamp == LockLamp::Green ? "1" : "0";
    };
    switch (quantity) {
    case Scpi::Quantity::All:
        break;
    case Scpi::Quantity::Height:
        return value(reading ? reading->eyeHeight : QString());
    case Scpi::Quantity::Width:
        return value(reading ? reading->eyeWidth : QString());
    case Scpi::Quantity::Amplitude:
        return value(reading ? reading->amplitude : QString());
    case Scpi::Quantity::Rate:
        return value(reading ? reading->rate : QString());
    case Scpi::Quantity::Quality:
        return value(reading ? reading->quality : QString());
    case Scpi::Quantity::Lock:
        return lock();
    }
    QList<QByteArray> all;
    for (Scpi::Quantity one : {Scpi::Quantity::Height, Scpi::Quantity::Width, Scpi::Quantity::Amplitude,
                               Scpi::Quantity::Rate, Scpi::Quantity::Quality, Scpi::Quantity::Lock})
        all << quantityAnswer(reading, one);
    return all.join(',');
}

// A mask a client names: a shipped one, or a YAML file of this machine of
// at most MaximumMaskFileSize bytes. Nothing else is opened, so that a
// client neither holds the server on a device or a pipe nor has any other
// file's text quoted back in the reason it is refused.
MaskFile::Loaded loadClientMask(const QString &nameOrFile)
{
    if (MaskFile::shippedNames().contains(nameOrFile))
        return MaskFile::load(nameOrFile);
    const QFileInfo info(nameOrFile);
    const QString suffix = info.suffix().toLower();
    MaskFile::Loaded refused;
    if (!info.isFile())
        refused.error = QStringLiteral("%1: no shipped mask, and no file").arg(nameOrFile);
    else if (suffix != QLatin1String("yaml") && suffix != QLatin1String("yml"))
        refused.error = QStringLiteral("%1: a mask file's name ends in .yaml or .yml").arg(nameOrFile);
    else if (info.size() > ScpiServer::MaximumMaskFileSize)
        refused.error = QStringLiteral("%1: larger than a mask file (%2 bytes at most)")
                            .arg(nameOrFile)
                            .arg(ScpiServer::MaximumMaskFileSize);
    if (!refused.error.isEmpty())
        return refused;
    MaskFile::Loaded loaded = MaskFile::load(nameOrFile);
    if (!loaded.mask && !loaded.error.contains(nameOrFile))
        loaded.error = QStringLiteral("%1: %2").arg(nameOrFile, loaded.error);
    return loaded;
}

} // namespace

// One client: its lines are executed in order, one message unit after the
// other; a unit that waits (READ?, *OPC?, *WAI) holds back the rest until it
// is answered. The answers of a line go out together when the line is done.
class ScpiConnection : public QObject
{
public:
    ScpiConnection(ScpiServer *server, qintptr descriptor);
    ~ScpiConnection() override;

    bool isOpen() const { return m_open; }
    void readingAccepted();
    void operationsEnded();
    void instrumentLost();

private:
    enum class Waiting { Nothing, Reading, Completion, Operations };

    void pullInput();
    void process();
    bool takeLine();
    void execute(const Scpi::Message &message);
    void answerReading(Scpi::Quantity quantity, int error);
    void selectMask(const QByteArray &parameter);
    void answerMask(Scpi::Command command);
    void finishWaiting();
    void send(const QByteArray &bytes);
    void peerClosed();
    void writeAfterPeerClosed();
    void drop();
    bool operationsPending() const;

    ScpiServer *m_server;
    QTcpSocket *m_socket;
    bool m_open = true;
    // A second descriptor of the connection: Qt closes its own when the
    // client shuts its sending side, yet an answer owed for a line the client
    // sent before is still to be written.
    int m_spareDescriptor = -1;
    QSocketNotifier *m_spareWritable = nullptr;
    QByteArray m_spareOutput;
    bool m_peerClosed = false;

    QByteArray m_input;
    qsizetype m_inputStart = 0; // lines before it are taken
    bool m_discardingLine = false;
    QList<Scpi::Message> m_messages; // the line being executed, what is left of it
    QList<QByteArray> m_answers;     // its answers so far
    bool m_inLine = false;

    Waiting m_waiting = Waiting::Nothing;
    Scpi::Quantity m_waitingQuantity = Scpi::Quantity::All;
    QTimer m_readingWait;

    Scpi::Status m_status;
    bool m_captureOwed = false;     // a capture this connection started has not ended
    bool m_completionArmed = false; // *OPC: set the bit when the operations end
    bool m_processing = false;
};

ScpiConnection::ScpiConnection(ScpiServer *server, qintptr descriptor)
    : QObject(server)
    , m_server(server)
    , m_socket(new QTcpSocket(this))
{
    m_socket->setSocketDescriptor(descriptor);
    // Qt stops reading from the network past this: a client that sends
    // without end is held back by TCP itself.
    m_socket->setReadBufferSize(ScpiServer::MaximumLineLength + 2);
#ifdef Q_OS_UNIX
    m_spareDescriptor = ::dup(int(descriptor));
#endif
    m_readingWait.setSingleShot(true);
    connect(&m_readingWait, &QTimer::timeout, this, [this] {
        if (m_waiting != Waiting::Reading)
            return;
        // No reading came in time (a scan holds the polling): the latest.
        answerReading(m_waitingQuantity, Scpi::DataStale);
        finishWaiting();
    });
    connect(m_socket, &QTcpSocket::readyRead, this, [this] {
        pullInput();
        process();
    });
    connect(m_socket, &QTcpSocket::bytesWritten, this, [this] {
        // Lines held back while the answers waited can go on.
        if (m_socket->bytesToWrite() == 0)
            process();
    });
    connect(m_socket, &QTcpSocket::disconnected, this, &ScpiConnection::peerClosed);
}

ScpiConnection::~ScpiConnection()
{
#ifdef Q_OS_UNIX
    if (m_spareDescriptor >= 0)
        ::close(m_spareDescriptor);
#endif
}

bool ScpiConnection::operationsPending() const
{
    return m_captureOwed;
}

void ScpiConnection::pullInput()
{
    // At most one line and its end is held here; the rest waits in the
    // socket, whose buffer is bounded too. Taken lines go first, at once
    // rather than one by one: a flood of short lines stays cheap.
    m_input.remove(0, std::exchange(m_inputStart, 0));
    const qint64 room = ScpiServer::MaximumLineLength + 2 - m_input.size();
    if (room > 0 && m_socket->bytesAvailable() > 0)
        m_input += m_socket->read(room);
}

// Takes the next whole line into m_messages; false when there is none yet.
bool ScpiConnection::takeLine()
{
    for (;;) {
        qsizetype end = m_input.indexOf('\n', m_inputStart);
        if (end < 0) {
            pullInput();
            end = m_input.indexOf('\n');
        }
        if (end < 0) {
            if (m_input.size() > ScpiServer::MaximumLineLength + 1) {
                // Too long for a line: said once, and dropped up to its end.
                if (!m_discardingLine)
                    m_status.queueError(Scpi::InputBufferOverrun);
                m_discardingLine = true;
                m_input.clear();
                m_inputStart = 0;
                continue;
            }
            return false;
        }
        QByteArray line = m_input.mid(m_inputStart, end - m_inputStart);
        m_inputStart = end + 1;
        if (std::exchange(m_discardingLine, false))
            continue;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.size() > ScpiServer::MaximumLineLength) {
            m_status.queueError(Scpi::InputBufferOverrun);
            continue;
        }
        m_messages = Scpi::parseLine(line);
        m_answers.clear();
        m_inLine = true;
        return true;
    }
}

void ScpiConnection::process()
{
    // A step may call back here (an answer that needs no wait).
    if (m_processing || !m_open)
        return;
    m_processing = true;
    while (m_open && m_waiting == Waiting::Nothing) {
        // A client that does not read its answers gets no more produced.
        if (!m_peerClosed && m_socket->bytesToWrite() > ScpiServer::MaximumPendingOutput) {
            drop();
            break;
        }
        if (m_inLine && !m_messages.isEmpty()) {
            execute(m_messages.takeFirst());
            continue;
        }
        if (m_inLine) {
            m_inLine = false;
            if (!m_answers.isEmpty())
                send(m_answers.join(';') + '\n');
            m_answers.clear();
            continue;
        }
        if (!takeLine())
            break;
    }
    m_processing = false;
    // A client gone after its last line: done once nothing is owed to it.
    if (m_open && m_peerClosed && m_waiting == Waiting::Nothing && !m_inLine && m_spareOutput.isEmpty()
        && m_input.indexOf('\n', m_inputStart) < 0)
        drop();
}

void ScpiConnection::execute(const Scpi::Message &message)
{
    using Scpi::Command;
    if (message.error != Scpi::NoError) {
        m_status.queueError(message.error);
        return;
    }
    InstrumentSession *session = m_server->session();
    const bool polling = session->link() == InstrumentSession::Link::Polling;
    switch (message.command) {
    case Command::Identify:
        if (session->identificationAnswer().isEmpty())
            m_status.queueError(Scpi::HardwareMissing);
        m_answers << Scpi::identity(session->identificationAnswer());
        break;
    case Command::Reset:
        // The instrument has no settings to reset; what this connection waits
        // for is forgotten.
        m_completionArmed = false;
        break;
    case Command::ClearStatus:
        m_status.clear();
        m_completionArmed = false;
        break;
    case Command::EventEnable: {
        bool ok = false;
        const int mask = message.parameters.value(0).toInt(&ok);
        if (!ok)
            m_status.queueError(Scpi::DataTypeError);
        else if (mask < 0 || mask > 255)
            m_status.queueError(Scpi::IllegalParameterValue);
        else
            m_status.setEventEnable(mask);
        break;
    }
    case Command::EventEnableQuery:
        m_answers << QByteArray::number(m_status.eventEnable());
        break;
    case Command::EventStatusQuery:
        m_answers << QByteArray::number(m_status.takeEventStatus());
        break;
    case Command::StatusByteQuery:
        m_answers << QByteArray::number(m_status.statusByte());
        break;
    case Command::OperationComplete:
        if (operationsPending())
            m_completionArmed = true;
        else
            m_status.setOperationComplete();
        break;
    case Command::OperationCompleteQuery:
        if (operationsPending())
            m_waiting = Waiting::Completion;
        else
            m_answers << "1";
        break;
    case Command::Wait:
        if (operationsPending())
            m_waiting = Waiting::Operations;
        break;
    case Command::SelfTestQuery:
        m_answers << "0";
        break;
    case Command::ErrorNextQuery:
        m_answers << m_status.takeError();
        break;
    case Command::ErrorCountQuery:
        m_answers << QByteArray::number(m_status.errorCount());
        break;
    case Command::VersionQuery:
        m_answers << "1999.0";
        break;
    case Command::Fetch:
        if (!polling)
            answerReading(message.quantity, Scpi::HardwareMissing);
        else
            answerReading(message.quantity, session->lastReading() ? Scpi::NoError : Scpi::DataStale);
        break;
    case Command::Read:
    case Command::Measure:
        if (!polling) {
            answerReading(message.quantity, Scpi::HardwareMissing);
            break;
        }
        m_waiting = Waiting::Reading;
        m_waitingQuantity = message.quantity;
        m_readingWait.start(ScpiServer::ReadingWaitMs);
        break;
    case Command::Capture: {
        if (!polling) {
            m_status.queueError(Scpi::HardwareMissing);
            break;
        }
        if (session->scan() != InstrumentSession::Scan::Idle) {
            m_status.queueError(Scpi::InitIgnored);
            break;
        }
        const QString error = m_server->startCapture();
        if (!error.isEmpty()) {
            m_status.queueError(Scpi::ExecutionError);
            break;
        }
        m_captureOwed = session->scan() != InstrumentSession::Scan::Idle;
        break;
    }
    case Command::CaptureAbort:
        // A scan under way stops with what has arrived; one only asked for
        // is withdrawn.
        if (session->scan() == InstrumentSession::Scan::Capturing)
            session->stopScan();
        else if (session->scan() == InstrumentSession::Scan::Requested)
            session->withdrawScan();
        break;
    case Command::CaptureStateQuery:
        if (session->scan() != InstrumentSession::Scan::Idle)
            m_answers << "RUNNING";
        else if (!m_server->captureSeen())
            m_answers << "IDLE";
        else
            m_answers << (session->scanOutcome().complete ? "COMPLETE" : "INCOMPLETE");
        break;
    case Command::CaptureProgressQuery:
        m_answers << QByteArray::number(
            m_server->captureSeen() ? Capture::progressValue(session->captureOffset()) : 0);
        break;
    case Command::CaptureDataQuery: {
        const QByteArray format = message.parameters.value(0).toUpper();
        const bool picture = format == "PNG";
        if (!format.isEmpty() && !picture && format != "BMP") {
            m_status.queueError(Scpi::IllegalParameterValue);
            m_answers << Scpi::definiteLengthBlock(QByteArray());
            break;
        }
        const QByteArray bitmap = m_server->captureSeen() ? session->captureBytes() : QByteArray();
        if (bitmap.isEmpty()) {
            m_status.queueError(Scpi::DataStale);
            m_answers << Scpi::definiteLengthBlock(QByteArray());
            break;
        }
        if (!picture) {
            m_answers << Scpi::definiteLengthBlock(bitmap);
            break;
        }
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        Capture::shownPicture(QImage::fromData(bitmap, "BMP")).save(&buffer, "PNG");
        if (png.isEmpty())
            m_status.queueError(Scpi::DataStale);
        m_answers << Scpi::definiteLengthBlock(png);
        break;
    }
    case Command::MaskSelect:
        selectMask(message.parameters.value(0));
        break;
    case Command::MaskSelectQuery: {
        const std::optional<EyeMask::Mask> mask = session->mask();
        const QString source = session->maskSource();
        m_answers << Scpi::quotedString(!mask ? QByteArray() : (source.isEmpty() ? mask->name : source).toUtf8());
        break;
    }
    case Command::MaskHitsQuery:
    case Command::MaskMarginQuery:
    case Command::MaskStateQuery:
        answerMask(message.command);
        break;
    }
}

// MASK:SELect "NAME|FILE": a shipped mask or a file; "" for none. A mask
// that cannot be read is this connection's execution error, with the
// reason, and the mask in use stays.
void ScpiConnection::selectMask(const QByteArray &parameter)
{
    const std::optional<QByteArray> text = Scpi::stringParameter(parameter);
    if (!text) {
        m_status.queueError(Scpi::DataTypeError);
        return;
    }
    InstrumentSession *session = m_server->session();
    const QString nameOrFile = QString::fromUtf8(*text);
    if (nameOrFile.isEmpty()) {
        session->setMask(std::nullopt);
        return;
    }
    const MaskFile::Loaded loaded = loadClientMask(nameOrFile);
    if (!loaded.mask) {
        m_status.queueError(Scpi::ExecutionError, loaded.error);
        return;
    }
    session->setMask(loaded.mask, nameOrFile);
}

// The latest finished capture judged by the mask in use. No figure without
// a mask, before the first capture, without an eye (-230 with the reason),
// or for a mask that needs a value not known (-200 with the reason); the
// state answers NONE without a mask and NOEYE without an eye, with no error.
void ScpiConnection::answerMask(Scpi::Command command)
{
    InstrumentSession *session = m_server->session();
    const std::optional<EyeMask::Result> result = session->maskResult();
    int error = Scpi::NoError;
    QString reason;
    if (!session->mask()) {
        error = Scpi::DataStale;
        reason = QStringLiteral("no mask selected");
    } else if (!result) {
        error = Scpi::DataStale;
        reason = QStringLiteral("no capture judged yet");
    } else if (!result->hasEye()) {
        error = Scpi::DataStale;
        reason = QStringLiteral("no eye (%1)").arg(result->search.noEyeReason);
    } else if (!result->judged()) {
        error = Scpi::ExecutionError;
        reason = result->placement.error;
    }
    if (command == Scpi::Command::MaskStateQuery) {
        if (!session->mask()) {
            m_answers << "NONE";
        } else if (result && !result->hasEye()) {
            m_answers << "NOEYE";
        } else if (error != Scpi::NoError) {
            m_status.queueError(error, reason);
            m_answers << "NONE";
        } else {
            m_answers << (result->pass ? "PASS" : "FAIL");
        }
        return;
    }
    if (error != Scpi::NoError) {
        m_status.queueError(error, reason);
        m_answers << Scpi::NotANumber;
        return;
    }
    m_answers << (command == Scpi::Command::MaskHitsQuery ? QByteArray::number(result->hits.total)
                                                            : Scpi::number(result->marginPercent));
}

void ScpiConnection::answerReading(Scpi::Quantity quantity, int error)
{
    m_status.queueError(error);
    const bool none = error == Scpi::HardwareMissing;
    m_answers << quantityAnswer(none ? std::nullopt : m_server->session()->lastReading(), quantity);
}

void ScpiConnection::finishWaiting()
{
    m_waiting = Waiting::Nothing;
    m_readingWait.stop();
    process();
}

void ScpiConnection::readingAccepted()
{
    if (m_waiting != Waiting::Reading)
        return;
    answerReading(m_waitingQuantity, Scpi::NoError);
    finishWaiting();
}

void ScpiConnection::operationsEnded()
{
    if (!m_captureOwed)
        return;
    m_captureOwed = false;
    if (std::exchange(m_completionArmed, false))
        m_status.setOperationComplete();
    if (m_waiting != Waiting::Operations && m_waiting != Waiting::Completion)
        return;
    // *OPC? answers; *WAI lets the line go on.
    if (m_waiting == Waiting::Completion)
        m_answers << "1";
    finishWaiting();
}

void ScpiConnection::instrumentLost()
{
    if (m_waiting == Waiting::Reading) {
        answerReading(m_waitingQuantity, Scpi::HardwareMissing);
        finishWaiting();
    }
}

void ScpiConnection::send(const QByteArray &bytes)
{
    if (!m_peerClosed) {
        // Handed to the system now: Qt drops what it still holds when the
        // client's end of file closes the socket.
        m_socket->write(bytes);
        m_socket->flush();
        return;
    }
    m_spareOutput += bytes;
    writeAfterPeerClosed();
}

// The client shut its side (or went away): what it asked for before is
// still answered, through the spare descriptor.
void ScpiConnection::peerClosed()
{
    if (m_peerClosed)
        return;
    m_peerClosed = true;
    pullInput();
    if (m_spareDescriptor < 0) {
        drop();
        return;
    }
    process();
}

void ScpiConnection::writeAfterPeerClosed()
{
#ifdef Q_OS_UNIX
    while (!m_spareOutput.isEmpty()) {
        const ssize_t written = ::send(m_spareDescriptor, m_spareOutput.constData(),
                                       size_t(m_spareOutput.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (m_spareOutput.size() > ScpiServer::MaximumPendingOutput) {
                drop();
                return;
            }
            if (!m_spareWritable) {
                m_spareWritable = new QSocketNotifier(m_spareDescriptor, QSocketNotifier::Write, this);
                connect(m_spareWritable, &QSocketNotifier::activated, this,
                        [this] { writeAfterPeerClosed(); });
            }
            m_spareWritable->setEnabled(true);
            return;
        }
        if (written <= 0) {
            // The client is gone for good.
            drop();
            return;
        }
        m_spareOutput.remove(0, written);
    }
    if (m_spareWritable)
        m_spareWritable->setEnabled(false);
    process();
#else
    drop();
#endif
}

void ScpiConnection::drop()
{
    if (!m_open)
        return;
    m_open = false;
    m_readingWait.stop();
    if (m_spareWritable)
        m_spareWritable->setEnabled(false);
    m_socket->abort();
    m_server->forget(this);
    deleteLater();
}

ScpiServer::ScpiServer(InstrumentSession *session, QObject *parent)
    : QObject(parent)
    , m_session(session)
    , m_listener(new ConnectionListener([this](qintptr descriptor) { accept(descriptor); }, this))
{
    connect(session, &InstrumentSession::readingAccepted, this, [this] {
        for (ScpiConnection *connection : std::as_const(m_connections))
            connection->readingAccepted();
    });
    connect(session, &InstrumentSession::scanEnded, this, [this] {
        m_scanEnded = true;
        for (ScpiConnection *connection : std::as_const(m_connections))
            connection->operationsEnded();
    });
    connect(session, &InstrumentSession::scanWithdrawn, this, [this] {
        for (ScpiConnection *connection : std::as_const(m_connections))
            connection->operationsEnded();
    });
    connect(session, &InstrumentSession::lost, this, [this] {
        for (ScpiConnection *connection : std::as_const(m_connections)) {
            connection->instrumentLost();
            // A scan that was only asked for ends with the link too.
            connection->operationsEnded();
        }
    });
}

ScpiServer::~ScpiServer()
{
    // Whoever listens to the count may be going away too.
    blockSignals(true);
    close();
}

bool ScpiServer::listen(const QHostAddress &address, quint16 port)
{
    return m_listener->listen(address, port);
}

void ScpiServer::close()
{
    m_listener->close();
    const QList<ScpiConnection *> connections = m_connections;
    m_connections.clear();
    for (ScpiConnection *connection : connections)
        delete connection;
    emit clientCountChanged(0);
}

bool ScpiServer::isListening() const
{
    return m_listener->isListening();
}

QHostAddress ScpiServer::serverAddress() const
{
    return m_listener->serverAddress();
}

quint16 ScpiServer::serverPort() const
{
    return m_listener->serverPort();
}

QString ScpiServer::errorString() const
{
    return m_listener->errorString();
}

QString ScpiServer::startCapture() const
{
    if (!m_captureStarter)
        return QStringLiteral("no capture is served here");
    return m_captureStarter();
}

bool ScpiServer::captureSeen() const
{
    return m_scanEnded || m_session->scan() != InstrumentSession::Scan::Idle
        || m_session->captureOffset() > 0;
}

void ScpiServer::accept(qintptr descriptor)
{
    if (m_connections.size() >= MaximumClients) {
        // Closed at once, unanswered; the others go on.
        QTcpSocket refused;
        refused.setSocketDescriptor(descriptor);
        refused.abort();
        return;
    }
    auto *connection = new ScpiConnection(this, descriptor);
    m_connections << connection;
    emit clientCountChanged(clientCount());
}

void ScpiServer::forget(ScpiConnection *connection)
{
    if (m_connections.removeAll(connection) > 0)
        emit clientCountChanged(clientCount());
}
