#include "rules/scpi.h"

#include <QTest>

// What a line of remote-control commands means, and how answers are written.
class TestScpi : public QObject
{
    Q_OBJECT

private:
    // "command/quantity[parameters]", or the error code.
    static QString unit(Scpi::Command command, Scpi::Quantity quantity = Scpi::Quantity::All,
                        const QByteArray &parameters = QByteArray())
    {
        return QStringLiteral("%1/%2").arg(int(command)).arg(int(quantity))
            + (parameters.isEmpty() ? QString() : '[' + QString::fromLatin1(parameters) + ']');
    }

private slots:
    void parsesLines_data()
    {
        using C = Scpi::Command;
        using Q = Scpi::Quantity;
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const QByteArray &line, const QStringList &expected) {
            QTest::newRow(name) << line << expected.join(" | ");
        };
        const QString height = unit(C::Fetch, Q::Height);
        const QString undefined = QStringLiteral("-113");
        row("long form, lower case", "fetch:height?", {height});
        row("short form, any case", "fEtC:hEiG?", {height});
        row("leading colon, blanks", "  :FETC:HEIG?\t ", {height});
        row("between forms is no form", "FETCH:HEIGH?", {undefined});
        row("short form one letter short", "FET:HEIG?", {undefined});
        row("lock", "fetc:lock?", {unit(C::Fetch, Q::Lock)});
        row("measure", "MEAS:AMPL?", {unit(C::Measure, Q::Amplitude)});
        row("command is not its query", "*IDN", {undefined});
        row("query is not its command", "CAPT?", {undefined});
        // ';' joins messages; the path stays at the previous node.
        row("relative twice", "MEAS:RATE?;QUAL?;LOCK?",
            {unit(C::Measure, Q::Rate), unit(C::Measure, Q::Quality), unit(C::Measure, Q::Lock)});
        row("colon: root", "FETC:HEIG?;:READ?", {height, unit(C::Read)});
        row("without colon stays below", "FETC:HEIG?;READ?", {height, undefined});
        row("common command keeps the path", "FETC:HEIG?;*OPC?;WIDT?",
            {height, unit(C::OperationCompleteQuery), unit(C::Fetch, Q::Width)});
        row("error, then more", "FOO?;*IDN?", {undefined, unit(C::Identify)});
        row("capture immediate", "CAPTure:IMMediate", {unit(C::Capture)});
        row("error next long", "SYSTem:ERRor:NEXT?", {unit(C::ErrorNextQuery)});
        row("ese two values", "*ESE 1,2", {"-108"});
        row("ese empty value", "*ESE ,", {"-108"});
        row("data, png", "capt:data? png", {unit(C::CaptureDataQuery, Q::All, "png")});
        row("quoted ; stays in parameter", "CAPT:DATA? \"a;b\";*TST?",
            {unit(C::CaptureDataQuery, Q::All, "\"a;b\""), unit(C::SelfTestQuery)});
        row("tab", "*ESE\t4", {unit(C::EventEnable, Q::All, "4")});
        row("mask select", "mask:sel \"nrz-hexagon\"", {unit(C::MaskSelect, Q::All, "\"nrz-hexagon\"")});
        row("mask queries", "MASK:SELect?;HITS?;MARG?;STATe?",
            {unit(C::MaskSelectQuery), unit(C::MaskHitsQuery), unit(C::MaskMarginQuery), unit(C::MaskStateQuery)});
        row("mask select needs a name", "MASK:SEL", {"-109"});
        row("mask hits takes none", "MASK:HITS? 3", {"-108"});
        row("empty line", "", {});
        row("CR alone", "\r", {});
        row("empty units", ";;*TST?;", {unit(C::SelfTestQuery)});
        row("double colon", "FETC::HEIG?", {undefined});
        row("question mark inside", "FETC?:HEIG?", {undefined});
        row("binary", QByteArray("\x01\xff\xfe\x80;\x7f", 6), {undefined, undefined});
        row("NUL inside header", QByteArray("*ID\0N?", 6), {undefined});
    }
    void parsesLines()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, expected);
        QStringList parts;
        for (const Scpi::Message &message : Scpi::parseLine(line))
            parts << (message.error != Scpi::NoError
                          ? QString::number(message.error)
                          : unit(message.command, message.quantity, message.parameters.join(',')));
        QCOMPARE(parts.join(QStringLiteral(" | ")), expected);
    }

    // Numbers with '.' whatever the locale, block headers, string
    // parameters ("none" when no string), *IDN?'s serial and firmware after
    // "Quorvane,731942K,": printable words without ',' or ';', "0" for one missing.
    void writesAndReadsText_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char *name, const QByteArray &input, const QByteArray &expected) {
            QTest::newRow(name) << input << expected;
        };
        row("number: fraction", "0.45", "0.45");
        row("number: rate", "9953.2", "9953.2");
        row("number: whole", "350", "350");
        row("number: large", "1.5e20", "1.5E+20");
        row("number: small", "1.25e-7", "1.25E-07");
        row("number: negative", "-3.5", "-3.5");
        row("block: empty", "", "#10");
        row("block: one byte", "\n", "#11");
        row("block: nine", QByteArray(9, 'x'), "#19");
        row("block: ten", QByteArray(10, 'x'), "#210");
        row("block: capture", QByteArray(182650, '\n'), "#6182650");
        row("string: double quotes", "\"a b\"", "a b");
        row("string: single quotes, doubled inside", "'it''s'", "it's");
        row("string: the other quote inside", "\"it's\"", "it's");
        row("string: empty", "\"\"", "");
        row("string: unquoted", "nrz", "none");
        row("string: quote alone inside", "\"a\"b\"", "none");
        row("string: unclosed", "\"a", "none");
        row("string: mixed quotes", "\"a'", "none");
        row("identity: S/N, FW", "\x02Model 731942K S/N 20431 FW 1.07\n", "20431,1.07");
        row("identity: SN", "\x02Model 731942K SN 77 FW 2.0\r\n", "77,2.0");
        row("identity: lower-case labels", "731942K s/n A1 fw 3", "A1,3");
        row("identity: no serial", "\x02Model 731942K FW 1.07\n", "0,1.07");
        row("identity: nothing", "", "0,0");
        row("identity: label last", "731942K FW", "0,0");
        row("identity: ,;", "731942K S/N 12,34;5 FW 1;rm", "12,1");
        row("identity: control bytes", "731942K S/N 12\x1b[2J FW 1\x07x", "12,1");
        row("identity: high bytes", "731942K S/N ab\xff\xfe FW \xe9x", "ab,x");
    }
    void writesAndReadsText()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, expected);
        const QByteArray kind = QByteArray(QTest::currentDataTag()).split(':').first();
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const QByteArray text = kind == "number" ? Scpi::number(input.toDouble())
            : kind == "block"                    ? Scpi::definiteLengthBlock(input)
            : kind == "string"                   ? Scpi::stringParameter(input).value_or("none")
                                                 : Scpi::identity(input);
        QLocale::setDefault(QLocale::system());
        QCOMPARE(text, kind == "block"  ? expected + input
                 : kind == "identity" ? "Quorvane,731942K," + expected
                                      : expected);
        if (kind == "string" && expected != "none")
            QCOMPARE(Scpi::stringParameter(Scpi::quotedString(expected)), expected);
    }

    // Each connection's queue: oldest first, at most 16 (sixteen fit, then
    // overflow replaces the last), the last entry standing for every one lost.
    void queuesErrors()
    {
        Scpi::Status status;
        for (const auto &[more, kept] : {std::pair {15, 15}, std::pair {40, 14}}) {
            status.queueError(Scpi::InputBufferOverrun);
            for (int i = 0; i < more; ++i)
                status.queueError(Scpi::MissingParameter);
            QCOMPARE(status.errorCount(), 16);
            QCOMPARE(status.takeError(), QByteArray("-363,\"Input buffer overrun\""));
            for (int i = 0; i < kept; ++i)
                QCOMPARE(status.takeError(), QByteArray("-109,\"Missing parameter\""));
            if (kept < more)
                QCOMPARE(status.takeError(), QByteArray("-350,\"Queue overflow\""));
            QCOMPARE(status.takeError(), QByteArray("0,\"No error\""));
            QCOMPARE(status.errorCount(), 0);
        }
        // A reason follows the text, printable and without a quote.
        status.queueError(Scpi::ExecutionError, QStringLiteral("m.yaml: line 2: \"x\"\n\x1b[2J"));
        QCOMPARE(status.takeError(), QByteArray("-200,\"Execution error; m.yaml: line 2: ?x???[2J\""));
    }

    void keepsEventStatus_data()
    {
        QTest::addColumn<QList<int>>("queued");
        QTest::addColumn<int>("enable");
        QTest::addColumn<int>("eventStatus");
        QTest::addColumn<int>("statusByte");
        QTest::newRow("command error enabled") << QList<int> {-113} << 0x20 << 0x20 << 0x64;
        QTest::newRow("execution error") << QList<int> {-241} << 0x10 << 0x10 << 0x64;
        QTest::newRow("device error") << QList<int> {-363} << 0x20 << 0x08 << 0x44;
        QTest::newRow("all three") << QList<int> {-108, -230, -350} << 0 << 0x38 << 0x44;
    }
    void keepsEventStatus()
    {
        QFETCH(QList<int>, queued);
        QFETCH(int, enable);
        QFETCH(int, eventStatus);
        QFETCH(int, statusByte);
        Scpi::Status status;
        status.setEventEnable(enable);
        for (int code : queued)
            status.queueError(code);
        QCOMPARE(status.statusByte(), statusByte);
        QCOMPARE(status.takeEventStatus(), eventStatus);
        QCOMPARE(status.takeEventStatus(), 0);
        status.clear();
        QCOMPARE(status.errorCount(), 0);
        QCOMPARE(status.statusByte(), 0);
    }
};

QTEST_GUILESS_MAIN(TestScpi)
#include "tst_scpi.moc"
