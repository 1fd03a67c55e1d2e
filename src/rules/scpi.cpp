#include "rules/scpi.h"

#include "rules/identification.h"

namespace Scpi {

namespace {

enum class Parameters { None, One, OptionalOne };

// A header of the table: nodes in long form, the short form in capitals;
// a node in [] may be left out.
struct Header
{
    const char *pattern;
    Command command;
    Quantity quantity;
    Parameters parameters;
};

const Header Headers[] = {
    {"*IDN?", Command::Identify, Quantity::All, Parameters::None},
    {"*RST", Command::Reset, Quantity::All, Parameters::None},
    {"*CLS", Command::ClearStatus, Quantity::All, Parameters::None},
    {"*ESE", Command::EventEnable, Quantity::All, Parameters::One},
    {"*ESE?", Command::EventEnableQuery, Quantity::All, Parameters::None},
    {"*ESR?", Command::EventStatusQuery, Quantity::All, Parameters::None},
    {"*STB?", Command::StatusByteQuery, Quantity::All, Parameters::None},
    {"*OPC", Command::OperationComplete, Quantity::All, Parameters::None},
    {"*OPC?", Command::OperationCompleteQuery, Quantity::All, Parameters::None},
    {"*WAI", Command::Wait, Quantity::All, Parameters::None},
    {"*TST?", Command::SelfTestQuery, Quantity::All, Parameters::None},
    {"SYSTem:ERRor[:NEXT]?", Command::ErrorNextQuery, Quantity::All, Parameters::None},
    {"SYSTem:ERRor:COUNt?", Command::ErrorCountQuery, Quantity::All, Parameters::None},
    {"SYSTem:VERSion?", Command::VersionQuery, Quantity::All, Parameters::None},
    {"FETCh?", Command::Fetch, Quantity::All, Parameters::None},
    {"FETCh:HEIGht?", Command::Fetch, Quantity::Height, Parameters::None},
    {"FETCh:WIDTh?", Command::Fetch, Quantity::Width, Parameters::None},
    {"FETCh:AMPLitude?", Command::Fetch, Quantity::Amplitude, Parameters::None},
    {"FETCh:RATE?", Command::Fetch, Quantity::Rate, Parameters::None},
    {"FETCh:QUALity?", Command::Fetch, Quantity::Quality, Parameters::None},
    {"FETCh:LOCK?", Command::Fetch, Quantity::Lock, Parameters::None},
    {"READ?", Command::Read, Quantity::All, Parameters::None},
    {"MEASure:HEIGht?", Command::Measure, Quantity::Height, Parameters::None},
    {"MEASure:WIDTh?", Command::Measure, Quantity::Width, Parameters::None},
    {"MEASure:AMPLitude?", Command::Measure, Quantity::Amplitude, Parameters::None},
    {"MEASure:RATE?", Command::Measure, Quantity::Rate, Parameters::None},
    {"MEASure:QUALity?", Command::Measure, Quantity::Quality, Parameters::None},
    {"MEASure:LOCK?", Command::Measure, Quantity::Lock, Parameters::None},
    {"CAPTure[:IMMediate]", Command::Capture, Quantity::All, Parameters::None},
    {"CAPTure:ABORt", Command::CaptureAbort, Quantity::All, Parameters::None},
    {"CAPTure:STATe?", Command::CaptureStateQuery, Quantity::All, Parameters::None},
    {"CAPTure:PROGress?", Command::CaptureProgressQuery, Quantity::All, Parameters::None},
    {"CAPTure:DATA?", Command::CaptureDataQuery, Quantity::All, Parameters::OptionalOne},
    {"MASK:SELect", Command::MaskSelect, Quantity::All, Parameters::One},
    {"MASK:SELect?", Command::MaskSelectQuery, Quantity::All, Parameters::None},
    {"MASK:HITS?", Command::MaskHitsQuery, Quantity::All, Parameters::None},
    {"MASK:MARGin?", Command::MaskMarginQuery, Quantity::All, Parameters::None},
    {"MASK:STATe?", Command::MaskStateQuery, Quantity::All, Parameters::None},
};

struct Node
{
    QByteArray longForm;  // upper case
    QByteArray shortForm; // upper case
    bool optional = false;
};

struct Pattern
{
    QList<Node> nodes;
    bool query = false;
};

Pattern patternOf(const char *text)
{
    Pattern pattern;
    QByteArray header(text);
    if (header.endsWith('?')) {
        pattern.query = true;
        header.chop(1);
    }
    // "A[:B]" becomes "A:[B]" for splitting.
    header.replace("[:", ":[");
    for (QByteArray part : header.split(':')) {
        Node node;
        if (part.startsWith('[')) {
            node.optional = true;
            part = part.mid(1, part.size() - 2);
        }
        for (char c : std::as_const(part)) {
            if ((c >= 'A' && c <= 'Z') || c == '*')
                node.shortForm += c;
        }
        // A node without capitals has its whole name as its short form.
        if (node.shortForm.isEmpty() || node.shortForm == "*")
            node.shortForm = part.toUpper();
        node.longForm = part.toUpper();
        pattern.nodes << node;
    }
    return pattern;
}

const QList<Pattern> &patterns()
{
    static const QList<Pattern> all = [] {
        QList<Pattern> list;
        for (const Header &header : Headers)
            list << patternOf(header.pattern);
        return list;
    }();
    return all;
}

bool nodeMatches(const Node &node, const QByteArray &mnemonic)
{
    return mnemonic == node.longForm || mnemonic == node.shortForm;
}

bool nodesMatch(const QList<Node> &nodes, qsizetype n, const QList<QByteArray> &given, qsizetype g)
{
    if (n == nodes.size())
        return g == given.size();
    if (g < given.size() && nodeMatches(nodes.at(n), given.at(g)) && nodesMatch(nodes, n + 1, given, g + 1))
        return true;
    return nodes.at(n).optional && nodesMatch(nodes, n + 1, given, g);
}

// Splits at `separator` outside quoted strings.
QList<QByteArray> splitOutsideQuotes(const QByteArray &text, char separator)
{
    QList<QByteArray> parts;
    QByteArray current;
    char quote = 0;
    for (char c : text) {
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == separator) {
            parts << current;
            current.clear();
            continue;
        }
        current += c;
    }
    parts << current;
    return parts;
}

bool isWhitespace(char c)
{
    // IEEE 488.2 white space: the control bytes other than LF, and space.
    return (c >= 0 && c <= 32 && c != '\n');
}

QByteArray trimmed(const QByteArray &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isWhitespace(text.at(begin)))
        ++begin;
    while (end > begin && isWhitespace(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

QString errorText(int code)
{
    switch (code) {
    case NoError:
        return QStringLiteral("No error");
    case CommandError:
        return QStringLiteral("Command error");
    case DataTypeError:
        return QStringLiteral("Data type error");
    case ParameterNotAllowed:
        return QStringLiteral("Parameter not allowed");
    case MissingParameter:
        return QStringLiteral("Missing parameter");
    case UndefinedHeader:
        return QStringLiteral("Undefined header");
    case ExecutionError:
        return QStringLiteral("Execution error");
    case InitIgnored:
        return QStringLiteral("Init ignored");
    case IllegalParameterValue:
        return QStringLiteral("Illegal parameter value");
    case DataStale:
        return QStringLiteral("Data stale");
    case HardwareMissing:
        return QStringLiteral("Hardware missing");
    case QueueOverflow:
        return QStringLiteral("Queue overflow");
    case InputBufferOverrun:
        return QStringLiteral("Input buffer overrun");
    }
    return QStringLiteral("Error");
}

QList<Message> parseLine(const QByteArray &lineIn)
{
    QByteArray line = lineIn;
    if (line.endsWith('\r'))
        line.chop(1);

    QList<Message> messages;
    QList<QByteArray> path; // the nodes a relative header is taken under
    for (const QByteArray &unitText : splitOutsideQuotes(line, ';')) {
        const QByteArray unit = trimmed(unitText);
        if (unit.isEmpty())
            continue;
        Message message;
        qsizetype headerEnd = 0;
        while (headerEnd < unit.size() && !isWhitespace(unit.at(headerEnd)))
            ++headerEnd;
        QByteArray header = unit.left(headerEnd).toUpper();
        const QByteArray parameterText = trimmed(unit.mid(headerEnd));

        bool query = header.endsWith('?');
        if (query)
            header.chop(1);
        QList<QByteArray> given;
        const bool common = header.startsWith('*');
        if (common) {
            given << header;
        } else {
            const bool absolute = header.startsWith(':');
            if (absolute)
                header.remove(0, 1);
            given = absolute ? QList<QByteArray>() : path;
            given += header.split(':');
        }
        bool wellFormed = !header.isEmpty() && !header.contains('?');
        for (const QByteArray &mnemonic : std::as_const(given)) {
            if (mnemonic.isEmpty())
                wellFormed = false;
        }

        int found = -1;
        if (wellFormed) {
            for (int index = 0; index < patterns().size(); ++index) {
                const Pattern &pattern = patterns().at(index);
                if (pattern.query == query && nodesMatch(pattern.nodes, 0, given, 0)) {
                    found = index;
                    break;
                }
            }
        }
        if (found < 0) {
            message.error = UndefinedHeader;
            messages << message;
            continue;
        }
        // The next relative header is taken under this one's path; a common
        // command leaves it where it is.
        if (!common)
            path = given.mid(0, given.size() - 1);

        const Header &entry = Headers[found];
        message.command = entry.command;
        message.quantity = entry.quantity;
        if (!parameterText.isEmpty()) {
            for (const QByteArray &parameter : splitOutsideQuotes(parameterText, ','))
                message.parameters << trimmed(parameter);
        }
        const qsizetype count = message.parameters.size();
        bool emptyParameter = false;
        for (const QByteArray &parameter : std::as_const(message.parameters))
            emptyParameter = emptyParameter || parameter.isEmpty();
        switch (entry.parameters) {
        case Parameters::None:
            if (count > 0)
                message.error = ParameterNotAllowed;
            break;
        case Parameters::One:
            if (count == 0)
                message.error = MissingParameter;
            else if (count > 1)
                message.error = ParameterNotAllowed;
            else if (emptyParameter)
                message.error = MissingParameter;
            break;
        case Parameters::OptionalOne:
            if (count > 1)
                message.error = ParameterNotAllowed;
            else if (emptyParameter)
                message.error = MissingParameter;
            break;
        }
        messages << message;
    }
    return messages;
}

QByteArray number(double value)
{
    // QByteArray::number is independent of the locale.
    return QByteArray::number(value, 'g', 12).toUpper();
}

std::optional<QByteArray> stringParameter(const QByteArray &parameter)
{
    if (parameter.size() < 2)
        return std::nullopt;
    const char quote = parameter.front();
    if ((quote != '"' && quote != '\'') || parameter.back() != quote)
        return std::nullopt;
    QByteArray text;
    for (qsizetype index = 1; index < parameter.size() - 1; ++index) {
        const char c = parameter.at(index);
        if (c == quote) {
            // Inside, a quote stands only doubled.
            if (index + 1 >= parameter.size() - 1 || parameter.at(index + 1) != quote)
                return std::nullopt;
            ++index;
        }
        text += c;
    }
    return text;
}

QByteArray quotedString(const QByteArray &text)
{
    return '"' + QByteArray(text).replace('"', "\"\"") + '"';
}

QByteArray definiteLengthBlock(const QByteArray &bytes)
{
    const QByteArray length = QByteArray::number(bytes.size());
    return '#' + QByteArray::number(length.size()) + length + bytes;
}

QByteArray identity(const QByteArray &identificationAnswer)
{
    // The answer's text as the program shows it, cut into words at anything
    // that is not a printable character.
    const QString text = Identification::textFromInstrumentBytes(identificationAnswer);
    QList<QByteArray> words;
    QByteArray word;
    for (QChar c : text) {
        const ushort code = c.unicode();
        if (code > 32 && code < 127 && c != QLatin1Char(',') && c != QLatin1Char(';')) {
            word += char(code);
        } else if (!word.isEmpty()) {
            words << word;
            word.clear();
        }
    }
    if (!word.isEmpty())
        words << word;

    auto wordAfter = [&words](std::initializer_list<const char *> labels) -> QByteArray {
        for (qsizetype index = 0; index + 1 < words.size(); ++index) {
            for (const char *label : labels) {
                if (words.at(index).toUpper() == label)
                    return words.at(index + 1);
            }
        }
        return "0";
    };
    return QByteArray("Quorvane,") + Identification::ModelNumber + ',' + wordAfter({"SN", "S/N"}) + ','
        + wordAfter({"FW"});
}

void Status::queueError(int code, const QString &detail)
{
    if (code == NoError)
        return;
    // The detail is quoted in the answer: printable ASCII without '"'.
    QByteArray printable;
    for (QChar c : detail.left(DetailLength)) {
        const ushort unicode = c.unicode();
        printable += unicode >= 32 && unicode < 127 && c != QLatin1Char('"') ? char(unicode) : '?';
    }
    if (m_errors.size() >= QueueLength)
        m_errors.last() = {QueueOverflow, QByteArray()};
    else
        m_errors << Entry {code, printable};
    if (code <= -100 && code > -200)
        m_eventStatus |= CommandErrorBit;
    else if (code <= -200 && code > -300)
        m_eventStatus |= ExecutionErrorBit;
    else if (code <= -300 && code > -400)
        m_eventStatus |= DeviceErrorBit;
    else if (code <= -400 && code > -500)
        m_eventStatus |= QueryErrorBit;
}

QByteArray Status::takeError()
{
    const Entry entry = m_errors.isEmpty() ? Entry {NoError, QByteArray()} : m_errors.takeFirst();
    const QByteArray detail = entry.detail.isEmpty() ? QByteArray() : "; " + entry.detail;
    return QByteArray::number(entry.code) + ",\"" + errorText(entry.code).toLatin1() + detail + '"';
}

int Status::takeEventStatus()
{
    return std::exchange(m_eventStatus, 0);
}

int Status::statusByte() const
{
    int status = 0;
    if (!m_errors.isEmpty())
        status |= 0x04;
    if (m_eventStatus & m_eventEnable)
        status |= 0x20;
    if (status)
        status |= 0x40;
    return status;
}

void Status::clear()
{
    m_errors.clear();
    m_eventStatus = 0;
}

} // namespace Scpi
