#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// The instrument's remote-control language: SCPI over a byte stream, as lab
// automation expects of an instrument at TCPIP::host::5025::SOCKET. What a
// line means, the status a connection keeps and how answers are written;
// the server that reads lines from clients lives in io/scpiserver.h.
namespace Scpi {

// What a message unit asks for.
enum class Command {
    Identify,               // *IDN?
    Reset,                  // *RST
    ClearStatus,            // *CLS
    EventEnable,            // *ESE <0..255>
    EventEnableQuery,       // *ESE?
    EventStatusQuery,       // *ESR?
    StatusByteQuery,        // *STB?
    OperationComplete,      // *OPC
    OperationCompleteQuery, // *OPC?
    Wait,                   // *WAI
    SelfTestQuery,          // *TST?
    ErrorNextQuery,         // SYSTem:ERRor[:NEXT]?
    ErrorCountQuery,        // SYSTem:ERRor:COUNt?
    VersionQuery,           // SYSTem:VERSion?
    Fetch,                  // FETCh? and FETCh:<quantity>?: the latest reading
    Read,                   // READ?: the next reading
    Measure,                // MEASure:<quantity>?: the next reading
    Capture,                // CAPTure[:IMMediate]
    CaptureAbort,           // CAPTure:ABORt
    CaptureStateQuery,      // CAPTure:STATe?
    CaptureProgressQuery,   // CAPTure:PROGress?
    CaptureDataQuery,       // CAPTure:DATA? [BMP|PNG]
    MaskSelect,             // MASK:SELect "<name or file>"
    MaskSelectQuery,        // MASK:SELect?
    MaskHitsQuery,          // MASK:HITS?
    MaskMarginQuery,        // MASK:MARGin?
    MaskStateQuery,         // MASK:STATe?
};

// What FETCh, READ and MEASure answer: one reading's quantity, or all six.
enum class Quantity { All, Height, Width, Amplitude, Rate, Quality, Lock };

// Error and event codes a connection queues (SCPI-99's numbers).
enum Error : int {
    NoError = 0,
    CommandError = -100,
    DataTypeError = -104,
    ParameterNotAllowed = -108,
    MissingParameter = -109,
    UndefinedHeader = -113,
    ExecutionError = -200,
    InitIgnored = -213,
    IllegalParameterValue = -224,
    DataStale = -230,
    HardwareMissing = -241,
    QueueOverflow = -350,
    InputBufferOverrun = -363,
};

// The standard text of a code, as SYSTem:ERRor? quotes it.
QString errorText(int code);

// One message unit of a line, as parsed.
struct Message
{
    int error = NoError; // non-zero: the unit is not executed, this is queued
    Command command = Command::Identify;
    Quantity quantity = Quantity::All;
    QList<QByteArray> parameters; // trimmed, quotes kept
};

// A line as a client sent it, without its LF (a CR before the LF is
// dropped here): message units joined by ';', headers in long or short form
// in any letter case, an optional leading ':', parameters after a space.
// After ';' a header is taken under the path of the previous one (its header
// less the last node) unless it begins with ':' or '*'. Empty units give
// nothing, so an empty line gives no message.
QList<Message> parseLine(const QByteArray &line);

// A reading's number as an answer: NR3-compatible, '.' whatever the locale.
QByteArray number(double value);
// "No value": a quantity the instrument has not given.
inline constexpr char NotANumber[] = "9.91E37";

// A string parameter's text: "..." or '...', the quote doubled inside
// standing for itself; none for a parameter that is not one string.
std::optional<QByteArray> stringParameter(const QByteArray &parameter);
// A text as a string answer: in double quotes, a '"' inside doubled.
QByteArray quotedString(const QByteArray &text);

// An IEEE 488.2 definite-length block: '#', the count of length digits, the
// length, the bytes.
QByteArray definiteLengthBlock(const QByteArray &bytes);

// The answer to *IDN? from the instrument's answer to "?\r\n":
// "Quorvane,731942K,<serial>,<firmware>", the serial the word after "SN" or
// "S/N", the firmware the word after "FW", "0" for one it does not carry.
// A field never holds a control byte, ',' or ';', whatever the instrument
// sent.
QByteArray identity(const QByteArray &identificationAnswer);

// What a connection keeps of its status: the error queue (oldest first, at
// most QueueLength entries, the last replaced by -350 when it overflows), the
// standard event status register and its enable mask.
class Status
{
public:
    static constexpr int QueueLength = 16;
    static constexpr int DetailLength = 200;

    // Queues `code` and sets its event bit. A detail (why a file was
    // refused) follows the standard text after "; ", made printable: no
    // control byte, no '"', at most DetailLength characters.
    void queueError(int code, const QString &detail = QString());
    // Takes the oldest entry: "code,\"text\"" or "code,\"text; detail\"", or
    // "0,\"No error\"".
    QByteArray takeError();
    int errorCount() const { return int(m_errors.size()); }

    void setOperationComplete() { m_eventStatus |= OperationCompleteBit; }
    // *ESR?: read and cleared.
    int takeEventStatus();
    int eventStatus() const { return m_eventStatus; }
    void setEventEnable(int mask) { m_eventEnable = mask & 0xff; }
    int eventEnable() const { return m_eventEnable; }
    // *STB?: bit 2 while the error queue holds an entry, bit 5 while an
    // enabled event is set, bit 6 as their summary.
    int statusByte() const;
    // *CLS: the queue and the event status emptied.
    void clear();

    static constexpr int OperationCompleteBit = 0x01;
    static constexpr int QueryErrorBit = 0x04;
    static constexpr int DeviceErrorBit = 0x08;
    static constexpr int ExecutionErrorBit = 0x10;
    static constexpr int CommandErrorBit = 0x20;

private:
    struct Entry
    {
        int code;
        QByteArray detail;
    };
    QList<Entry> m_errors;
    int m_eventStatus = 0;
    int m_eventEnable = 0;
};

} // namespace Scpi
