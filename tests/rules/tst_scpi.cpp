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
        const QString height = unit(C::Fetch, Q::Height);
        const QString undefined = QStringLiteral("-113");
        QTest::newRow("long form, lower case") << QByteArray("fetch:height?") << height;
        QTest::newRow("short form, any case") << QByteArray("fEtC:hEiG?") << height;
        QTest::newRow("leading colon, blanks") << QByteArray("  :FETC:HEIG?\t ") << height;
        QTest::newRow("between forms is no form") << QByteArray("FETCH:HEIGH?") << undefined;
        QTest::newRow("short form one letter short") << QByteArray("FET:HEIG?") << undefined;
        QTest::newRow("lock") << QByteArray("fetc:lock?") << unit(C::Fetch, Q::Lock);
        QTest::newRow("measure") << QByteArray("MEAS:AMPL?") << unit(C::Measure, Q::Amplitude);
        QTest::newRow("command is not its query") << QByteArray("*IDN") << undefined;
        QTest::newRow("query is not its command") << QByteArray("CAPT?") << undefined;
        // ';' joins messages; the path stays at the previous node.
        QTest::newRow("relative twice") << QByteArray("MEAS:RATE?;QUAL?;LOCK?")
                                        << unit(C::Measure, Q::Rate) + " | " + unit(C::Measure, Q::Quality)
                + " | " + unit(C::Measure, Q::Lock);
        QTest::newRow("colon: root") << QByteArray("FETC:HEIG?;:READ?") << height + " | " + unit(C::Read);
        QTest::newRow("without colon stays below") << QByteArray("FETC:HEIG?;READ?") << height + " | -113";
        QTest::newRow("common command keeps the path")
            << QByteArray("FETC:HEIG?;*OPC?;WIDT?")
            << height + " | " + unit(C::OperationCompleteQuery) + " | " + unit(C::Fetch, Q::Width);
        QTest::newRow("error, then more") << QByteArray("FOO?;*IDN?") << "-113 | " + unit(C::Identify);
        // Optional nodes.
        QTest::newRow("capture immediate") << QByteArray("CAPTure:IMMediate") << unit(C::Capture);
        QTest::newRow("error next long") << QByteArray("SYSTem:ERRor:NEXT?") << unit(C::ErrorNextQuery);
        // Parameters.
        QTest::newRow("ese two values") << QByteArray("*ESE 1,2") << QStringLiteral("-108");
        QTest::newRow("ese empty value") << QByteArray("*ESE ,") << QStringLiteral("-108");
        QTest::newRow("data, png") << QByteArray("capt:data? png")
                                   << unit(C::CaptureDataQuery, Q::All, "png");
        QTest::newRow("quoted ; stays in parameter")
            << QByteArray("CAPT:DATA? \"a;b\";*TST?")
            << unit(C::CaptureDataQuery, Q::All, "\"a;b\"") + " | " + unit(C::SelfTestQuery);
        QTest::newRow("tab") << QByteArray("*ESE\t4") << unit(C::EventEnable, Q::All, "4");
        // The mask commands: a string to select, four queries.
        QTest::newRow("mask select") << QByteArray("mask:sel \"nrz-hexagon\"")
                                     << unit(C::MaskSelect, Q::All, "\"nrz-hexagon\"");
        QTest::newRow("mask queries") << QByteArray("MASK:SELect?;HITS?;MARG?;STATe?")
                                      << unit(C::MaskSelectQuery) + " | " + unit(C::MaskHitsQuery) + " | "
                + unit(C::MaskMarginQuery) + " | " + unit(C::MaskStateQuery);
        QTest::newRow("mask select needs a name") << QByteArray("MASK:SEL") << QStringLiteral("-109");
        QTest::newRow("mask hits takes none") << QByteArray("MASK:HITS? 3") << QStringLiteral("-108");
        // Nothing to execute.
        QTest::newRow("empty line") << QByteArray("") << QString();
        QTest::newRow("CR alone") << QByteArray("\r") << QString();
        QTest::newRow("empty units") << QByteArray(";;*TST?;") << unit(C::SelfTestQuery);
        // Garbage.
        QTest::newRow("double colon") << QByteArray("FETC::HEIG?") << undefined;
        QTest::newRow("question mark inside") << QByteArray("FETC?:HEIG?") << undefined;
        QTest::newRow("binary") << QByteArray("\x01\xff\xfe\x80;\x7f", 6) << QStringLiteral("-113 | -113");
        QTest::newRow("NUL inside header") << QByteArray("*ID\0N?", 6) << undefined;
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

    // Numbers use '.' whatever the locale.
    void writesNumbers_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("fraction") << 0.45 << QByteArray("0.45");
        QTest::newRow("rate") << 9953.2 << QByteArray("9953.2");
        QTest::newRow("whole") << 350.0 << QByteArray("350");
        QTest::newRow("large") << 1.5e20 << QByteArray("1.5E+20");
        QTest::newRow("small") << 1.25e-7 << QByteArray("1.25E-07");
        QTest::newRow("negative") << -3.5 << QByteArray("-3.5");
    }
    void writesNumbers()
    {
        QFETCH(double, value);
        QFETCH(QByteArray, expected);
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const QByteArray text = Scpi::number(value);
        QLocale::setDefault(QLocale::system());
        QCOMPARE(text, expected);
    }

    void writesBlocks_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("header");
        QTest::newRow("empty") << QByteArray() << QByteArray("#10");
        QTest::newRow("one byte") << QByteArray("\n") << QByteArray("#11");
        QTest::newRow("nine") << QByteArray(9, 'x') << QByteArray("#19");
        QTest::newRow("ten") << QByteArray(10, 'x') << QByteArray("#210");
        QTest::newRow("capture") << QByteArray(182650, '\n') << QByteArray("#6182650");
    }
    void writesBlocks()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, header);
        QCOMPARE(Scpi::definiteLengthBlock(bytes), header + bytes);
    }

    // A string parameter's text, or none when it is no string.
    void readsStrings_data()
    {
        QTest::addColumn<QByteArray>("parameter");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("double quotes") << QByteArray("\"a b\"") << QByteArray("a b");
        QTest::newRow("single quotes, doubled inside") << QByteArray("'it''s'") << QByteArray("it's");
        QTest::newRow("the other quote inside") << QByteArray("\"it's\"") << QByteArray("it's");
        QTest::newRow("empty") << QByteArray("\"\"") << QByteArray("");
        QTest::newRow("unquoted") << QByteArray("nrz") << QByteArray("none");
        QTest::newRow("quote alone inside") << QByteArray("\"a\"b\"") << QByteArray("none");
        QTest::newRow("unclosed") << QByteArray("\"a") << QByteArray("none");
        QTest::newRow("mixed quotes") << QByteArray("\"a'") << QByteArray("none");
    }
    void readsStrings()
    {
        QFETCH(QByteArray, parameter);
        QFETCH(QByteArray, expected);
        QCOMPARE(Scpi::stringParameter(parameter).value_or("none"), expected);
        if (expected != "none")
            QCOMPARE(Scpi::stringParameter(Scpi::quotedString(expected)), expected);
    }

    // *IDN?'s serial and firmware after "Quorvane,731942K,": printable words
    // without ',' or ';', "0" for one missing.
    void identifies_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("S/N, FW") << QByteArray("\x02Model 731942K S/N 20431 FW 1.07\n")
                                 << QByteArray("20431,1.07");
        QTest::newRow("SN") << QByteArray("\x02Model 731942K SN 77 FW 2.0\r\n") << QByteArray("77,2.0");
        QTest::newRow("lower-case labels") << QByteArray("731942K s/n A1 fw 3") << QByteArray("A1,3");
        QTest::newRow("no serial") << QByteArray("\x02Model 731942K FW 1.07\n") << QByteArray("0,1.07");
        QTest::newRow("nothing") << QByteArray() << QByteArray("0,0");
        QTest::newRow("label last") << QByteArray("731942K FW") << QByteArray("0,0");
        QTest::newRow(",;") << QByteArray("731942K S/N 12,34;5 FW 1;rm") << QByteArray("12,1");
        QTest::newRow("control bytes") << QByteArray("731942K S/N 12\x1b[2J FW 1\x07x") << QByteArray("12,1");
        QTest::newRow("high bytes") << QByteArray("731942K S/N ab\xff\xfe FW \xe9x") << QByteArray("ab,x");
    }
    void identifies()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, expected);
        QCOMPARE(Scpi::identity(answer), "Quorvane,731942K," + expected);
    }

    // Each connection's queue: oldest first, at most 16, the last entry
    // standing for every one lost.
    void queuesErrors_data()
    {
        QTest::addColumn<int>("more");
        QTest::addColumn<int>("kept");
        QTest::newRow("sixteen fit") << 15 << 15;
        QTest::newRow("overflow replaces the last") << 40 << 14;
    }
    void queuesErrors()
    {
        QFETCH(int, more);
        QFETCH(int, kept);
        Scpi::Status status;
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
