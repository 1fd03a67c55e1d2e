#include "rules/identification.h"
#include "rules/printabletext.h"

#include <QTest>

class TestPrintableText : public QObject
{
    Q_OBJECT

private slots:
    void controlCharactersShowEscaped_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // as the instrument sent them
        QTest::addColumn<QString>("printed");

        QTest::newRow("plain identification stays")
            << QByteArray("Model 731942K S/N 20431 FW 1.07") << "Model 731942K S/N 20431 FW 1.07";
        QTest::newRow("nothing") << QByteArray() << "";
        QTest::newRow("line ends and tab") << QByteArray("a\rb\nc\td") << "a\\rb\\nc\\td";
        QTest::newRow("terminal escape sequence")
            << QByteArray("\x1b[2J\x1b]0;owned\a731942K") << "\\x1b[2J\\x1b]0;owned\\x07731942K";
        QTest::newRow("other C0 bytes and DEL")
            << QByteArray("\x01\x08\x0b\x1f\x7f") << "\\x01\\x08\\x0b\\x1f\\x7f";
        // 0x80, 0x9b (the 8-bit escape), "31m", 0x9f.
        QTest::newRow("C1 bytes") << QByteArray("\200\23331m\237") << "\\x80\\x9b31m\\x9f";
        QTest::newRow("Latin-1 letters and a backslash stay")
            << QByteArray("S/N \xe9\xa0\xff \\x1b") << QString::fromLatin1("S/N \xe9\xa0\xff \\x1b");
    }
    void controlCharactersShowEscaped()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, printed);
        // Instrument bytes become text one character a byte.
        QCOMPARE(printableText(Identification::textFromInstrumentBytes(bytes)), printed);
    }
};

QTEST_GUILESS_MAIN(TestPrintableText)
#include "tst_printabletext.moc"
