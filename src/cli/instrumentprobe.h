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

// Probes ports for instruments as discovery does: a port another program
// holds is passed, a free one is opened with its line settings and sent
// "?\r\n", and what it answers within a second is looked at for the model
// number. All ports are probed at once. An answer that holds the model number
// and has ended its line is taken at once; the others are read when the
// second is over.
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

    explicit InstrumentProbe(const SerialPortProvider &provider, QObject *parent = nullptr);
    ~InstrumentProbe() override;

    // Probes the ports; finished() follows, also when none can be probed.
    void start(const QList<SerialPortEntry> &ports);
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

    void collect(std::size_t index, bool timeUp);
    void finishWhenDone();

    const SerialPortProvider &m_provider;
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
