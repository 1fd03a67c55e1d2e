#include "rules/scpi.h"

#include <QTest>

// What a line of remote-control commands means, and how answers are written.
class TestScpi : public QObject
{
    Q_OBJECT

private:
    // A parsed line in a comparable form: "COMMAND/QUANTITY[params]" or the
    // error code, joined by " | ".
    static QString describe(const QList<Scpi::Message> &messages)
    {
        QStringList parts;
        for (const Scpi::Message &message : messages) {
            if (message.error != Scpi::NoError) {
                parts << QString::number(message.error);
                continue;
            }
            QString text = QString::number(int(message.command)) + QLatin1Char('/')
                + QString::number(int(message.quantity));
            if (!message.parameters.isEmpty())
                text += QLatin1Char('[') + QString::fromLatin1(message.parameters.join(','))
                    + QLatin1Char(']');
            parts << text;
        }
        return parts.join(QStringLiteral(" | "));
    }

    static QString unit(Scpi::Command command, Scpi::Quantity quantity = Scpi::Quantity::All,
                        const QString &parameters = QString())
    {
        QString text = QString::number(int(command)) + QLatin1Char('/') + QString::number(int(quantity));
        if (!parameters.isEmpty())
            text += QLatin1Char('[') + parameters + QLatin1Char(']');
        return text;
    }

private slots:
    void parsesLines_data()
    {
        using C = Scpi::Command;
        using Q = Scpi::Quantity;
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("expected");

        const QString height = unit(C::Fetch, Q::Height);
        QTest::newRow("long form") << QByteArray("FETCh:HEIGht?") << height;
        QTest::newRow("short form") << QByteArray("FETC:HEIG?") << height;
        QTest::newRow("lower case") << QByteArray("fetch:height?") << height;
        QTest::newRow("mixed case, short") << QByteArray("fEtC:hEiG?") << height;
        QTest::newRow("leading colon") << QByteArray(":FETC:HEIG?") << height;
        QTest::newRow("CR before LF dropped") << QByteArray("FETC:HEIG?\r") << height;
        QTest::newRow("surrounding blanks") << QByteArray("  FETC:HEIG?  ") << height;
        QTest::newRow("between forms is no form") << QByteArray("FETCH:HEIGH?") << QStringLiteral("-113");
        QTest::newRow("short form one letter short") << QByteArray("FET:HEIG?") << QStringLiteral("-113");
        QTest::newRow("all six") << QByteArray("FETCh?") << unit(C::Fetch);
        QTest::newRow("lock") << QByteArray("fetc:lock?") << unit(C::Fetch, Q::Lock);
        QTest::newRow("read") << QByteArray("READ?") << unit(C::Read);
        QTest::newRow("measure") << QByteArray("MEAS:AMPL?") << unit(C::Measure, Q::Amplitude);
        QTest::newRow("common command, any case") << QByteArray("*idn?") << unit(C::Identify);
        QTest::newRow("command is not its query") << QByteArray("*IDN") << QStringLiteral("-113");
        QTest::newRow("query is not its command") << QByteArray("CAPT?") << QStringLiteral("-113");

        // ';' joins messages; the path stays at the previous node.
        QTest::newRow("relative after ;")
            << QByteArray("FETC:HEIG?;WIDT?") << height + " | " + unit(C::Fetch, Q::Width);
        QTest::newRow("relative twice") << QByteArray("MEAS:RATE?;QUAL?;LOCK?")
                                        << unit(C::Measure, Q::Rate) + " | " + unit(C::Measure, Q::Quality)
                + " | " + unit(C::Measure, Q::Lock);
        QTest::newRow("colon goes back to the root")
            << QByteArray("FETC:HEIG?;:READ?") << height + " | " + unit(C::Read);
        QTest::newRow("without colon stays below") << QByteArray("FETC:HEIG?;READ?") << height + " | -113";
        QTest::newRow("common command keeps the path")
            << QByteArray("FETC:HEIG?;*OPC?;WIDT?")
            << height + " | " + unit(C::OperationCompleteQuery) + " | " + unit(C::Fetch, Q::Width);
        QTest::newRow("root header sets root path")
            << QByteArray("*CLS;FETC?;READ?")
            << unit(C::ClearStatus) + " | " + unit(C::Fetch) + " | " + unit(C::Read);
        QTest::newRow("error keeps the next units")
            << QByteArray("FOO?;*IDN?") << QStringLiteral("-113 | ") + unit(C::Identify);

        // Optional nodes.
        QTest::newRow("capture") << QByteArray("CAPT") << unit(C::Capture);
        QTest::newRow("capture immediate") << QByteArray("CAPTure:IMMediate") << unit(C::Capture);
        QTest::newRow("capture imm short") << QByteArray("capt:imm") << unit(C::Capture);
        QTest::newRow("error next") << QByteArray("SYST:ERR?") << unit(C::ErrorNextQuery);
        QTest::newRow("error next long") << QByteArray("SYSTem:ERRor:NEXT?") << unit(C::ErrorNextQuery);
        QTest::newRow("error count") << QByteArray("SYST:ERR:COUN?") << unit(C::ErrorCountQuery);
        QTest::newRow("version") << QByteArray("SYST:VERS?") << unit(C::VersionQuery);
        QTest::newRow("capture under capture path")
            << QByteArray("CAPT:STAT?;PROG?")
            << unit(C::CaptureStateQuery) + " | " + unit(C::CaptureProgressQuery);

        // Parameters.
        QTest::newRow("ese with value") << QByteArray("*ESE 32") << unit(C::EventEnable, Q::All, "32");
        QTest::newRow("ese missing value") << QByteArray("*ESE") << QStringLiteral("-109");
        QTest::newRow("ese two values") << QByteArray("*ESE 1,2") << QStringLiteral("-108");
        QTest::newRow("ese empty value") << QByteArray("*ESE ,") << QStringLiteral("-108");
        QTest::newRow("parameter not allowed") << QByteArray("*IDN? 1") << QStringLiteral("-108");
        QTest::newRow("fetch with parameter") << QByteArray("FETC:HEIG? MAX") << QStringLiteral("-108");
        QTest::newRow("data, no format") << QByteArray("CAPT:DATA?") << unit(C::CaptureDataQuery);
        QTest::newRow("data, png") << QByteArray("capt:data? png")
                                   << unit(C::CaptureDataQuery, Q::All, "png");
        QTest::newRow("quoted ; stays in parameter")
            << QByteArray("CAPT:DATA? \"a;b\";*TST?")
            << unit(C::CaptureDataQuery, Q::All, "\"a;b\"") + " | " + unit(C::SelfTestQuery);
        QTest::newRow("tab separates parameter")
            << QByteArray("*ESE\t4") << unit(C::EventEnable, Q::All, "4");

        // Nothing to execute.
        QTest::newRow("empty line") << QByteArray("") << QString();
        QTest::newRow("CR alone") << QByteArray("\r") << QString();
        QTest::newRow("empty units") << QByteArray(";;*TST?;") << unit(C::SelfTestQuery);

        // Garbage.
        QTest::newRow("double colon") << QByteArray("FETC::HEIG?") << QStringLiteral("-113");
        QTest::newRow("trailing colon") << QByteArray("FETC:") << QStringLiteral("-113");
        QTest::newRow("question mark inside") << QByteArray("FETC?:HEIG?") << QStringLiteral("-113");
        QTest::newRow("lone colon") << QByteArray(":") << QStringLiteral("-113");
        QTest::newRow("binary") << QByteArray("\x01\xff\xfe\x80;\x7f", 6) << QStringLiteral("-113 | -113");
        QTest::newRow("NUL inside header") << QByteArray("*ID\0N?", 6) << QStringLiteral("-113");
    }
    void parsesLines()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, expected);
        QCOMPARE(describe(Scpi::parseLine(line)), expected);
    }

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
        QCOMPARE(Scpi::number(value), expected);
    }

    void numbersIgnoreTheLocale()
    {
        const QLocale before;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const QByteArray text = Scpi::number(0.45);
        QLocale::setDefault(before);
        QCOMPARE(text, QByteArray("0.45"));
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
        const QByteArray block = Scpi::definiteLengthBlock(bytes);
        QCOMPARE(block.left(header.size()), header);
        QCOMPARE(block.mid(header.size()), bytes);
    }

    void identifies_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("S/N and FW") << QByteArray("\x02Model 731942K S/N 20431 FW 1.07\n")
                                    << QByteArray("Quorvane,731942K,20431,1.07");
        QTest::newRow("SN") << QByteArray("\x02Model 731942K SN 77 FW 2.0\r\n")
                            << QByteArray("Quorvane,731942K,77,2.0");
        QTest::newRow("lower-case labels")
            << QByteArray("731942K s/n A1 fw 3") << QByteArray("Quorvane,731942K,A1,3");
        QTest::newRow("no serial") << QByteArray("\x02Model 731942K FW 1.07\n")
                                   << QByteArray("Quorvane,731942K,0,1.07");
        QTest::newRow("nothing") << QByteArray() << QByteArray("Quorvane,731942K,0,0");
        QTest::newRow("label last") << QByteArray("731942K FW") << QByteArray("Quorvane,731942K,0,0");
        QTest::newRow("commas and semicolons cut words")
            << QByteArray("731942K S/N 12,34;5 FW 1;rm") << QByteArray("Quorvane,731942K,12,1");
        QTest::newRow("control bytes cut words")
            << QByteArray("731942K S/N 12\x1b[2J FW 1\x07x") << QByteArray("Quorvane,731942K,12,1");
        QTest::newRow("high bytes cut words")
            << QByteArray("731942K S/N ab\xff\xfe FW \xe9x") << QByteArray("Quorvane,731942K,ab,x");
    }
    void identifies()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, expected);
        const QByteArray identity = Scpi::identity(answer);
        QCOMPARE(identity, expected);
        for (char c : identity)
            QVERIFY2(c > 32 && c < 127 && c != ';', identity.constData());
    }

    // Each connection's queue: oldest first, at most 16, the last entry
    // standing for every one lost.
    void queuesErrors_data()
    {
        QTest::addColumn<QList<int>>("queued");
        QTest::addColumn<QList<QByteArray>>("taken");
        QTest::newRow("empty") << QList<int>() << QList<QByteArray> {"0,\"No error\""};
        QTest::newRow("oldest first")
            << QList<int> {-113, -241}
            << QList<QByteArray> {"-113,\"Undefined header\"", "-241,\"Hardware missing\"", "0,\"No error\""};
        QList<int> sixteen(16, -230);
        QList<QByteArray> sixteenTaken(16, "-230,\"Data stale\"");
        sixteenTaken << "0,\"No error\"";
        QTest::newRow("sixteen fit") << sixteen << sixteenTaken;
        QList<int> seventeen(17, -230);
        QList<QByteArray> overflowTaken(15, "-230,\"Data stale\"");
        overflowTaken << "-350,\"Queue overflow\""
                      << "0,\"No error\"";
        QTest::newRow("overflow replaces the last") << seventeen << overflowTaken;
        QList<int> many(40, -109);
        many.prepend(-363);
        QList<QByteArray> manyTaken {"-363,\"Input buffer overrun\""};
        manyTaken += QList<QByteArray>(14, "-109,\"Missing parameter\"");
        manyTaken << "-350,\"Queue overflow\""
                  << "0,\"No error\"";
        QTest::newRow("oldest kept in overflow") << many << manyTaken;
    }
    void queuesErrors()
    {
        QFETCH(QList<int>, queued);
        QFETCH(QList<QByteArray>, taken);
        Scpi::Status status;
        for (int code : queued)
            status.queueError(code);
        QCOMPARE(status.errorCount(), int(taken.size() - 1));
        for (const QByteArray &expected : taken)
            QCOMPARE(status.takeError(), expected);
        QCOMPARE(status.errorCount(), 0);
    }

    void keepsEventStatus_data()
    {
        QTest::addColumn<QList<int>>("queued");
        QTest::addColumn<int>("enable");
        QTest::addColumn<int>("eventStatus");
        QTest::addColumn<int>("statusByte");
        QTest::newRow("nothing") << QList<int>() << 255 << 0 << 0;
        QTest::newRow("command error") << QList<int> {-113} << 0 << 0x20 << 0x44;
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
