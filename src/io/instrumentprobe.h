#pragma once

#include "io/serialports.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>

#include <memory>
#include <vector>

// Probes ports for instruments: a port another program holds is passed, a
// free one is opened with its line settings and sent "?\r\n", and what it
// answers within a second is looked at for the model number. All the ports
// given are probed at once.
//
// Two ways to end a probe: Answers::WithinASecond takes an answer that holds
// the model number and has ended its line at once, and reads the others when
// the second is over; Answers::WhenCollected reads every answer when the
// caller says, at collect(), as the window's discovery does a second after
// "?\r\n". A port whose probe found no instrument is closed when its answer
// is read; an instrument's port stays open for the caller to take, until the
// probe is started again or destroyed.
class InstrumentProbe : public QObject
{
    Q_OBJECT

public:
    enum class Outcome { Instrument, NoAnswer, Busy, Missing, NotOpened };

    struct Result
    {
        SerialPortEntry port;
        Outcome outcome = Outcome::NoAnswer;
        QByteArray answer;
        QString error; // why the port did not open
    };

    enum class Answers { WithinASecond, WhenCollected };

    explicit InstrumentProbe(const SerialPortProvider &provider, Answers answers = Answers::WithinASecond,
                             QObject *parent = nullptr);
    ~InstrumentProbe() override;

    // Probes the ports; finished() follows, also when none can be probed.
    void start(const QList<SerialPortEntry> &ports);
    // True while a probe waits for its answer.
    bool answerAwaited() const;
    // Reads every answer now and finishes.
    void collect();
    // Ends every probe without an answer, closing their ports.
    void abort();
    QList<Result> results() const;
    // The port of an instrument found, still open, for the caller to keep.
    std::unique_ptr<QSerialPort> takePort(int index);

    // True when an answer to "?\r\n" is whole: it names the model and its
    // line has ended.
    static bool answerIsWhole(const QByteArray &answer);

signals:
    void finished();

private:
    struct Probe
    {
        Result result;
        std::unique_ptr<QSerialPort> port;
        bool done = false;
    };

    void collectOne(std::size_t index, bool timeUp);
    void finishWhenDone();

    const SerialPortProvider &m_provider;
    Answers m_answers;
    std::vector<Probe> m_probes;
    QTimer m_answerTime;
    bool m_finished = false;
};

// The ports a command works on: the devices named, or else the ports the
// system enumerates.
QList<SerialPortEntry> portsToProbe(const SerialPortProvider &systemPorts, const QStringList &devices);

// A line on standard error for a port that could not be probed, or an empty
// string when there is nothing to say.
QString probeProblem(const InstrumentProbe::Result &result);
