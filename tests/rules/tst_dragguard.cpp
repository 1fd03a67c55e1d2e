#include "rules/dragguard.h"

#include <QTest>

class TestDragGuard : public QObject
{
    Q_OBJECT

private slots:
    void followsTheWindowMessages_data()
    {
        QTest::addColumn<QByteArray>("messages"); // p: a press on the frame, l: capture lost, m: a mouse move
        QTest::addColumn<int>("guard");
        QTest::newRow("nothing happened") << QByteArray() << 0;
        QTest::newRow("press raises to 2") << QByteArray("p") << 2;
        QTest::newRow("two presses do not add") << QByteArray("pp") << 2;
        QTest::newRow("capture lost once") << QByteArray("pl") << 1;
        QTest::newRow("capture lost twice") << QByteArray("pll") << 0;
        QTest::newRow("never below zero") << QByteArray("plll") << 0;
        QTest::newRow("capture lost without a press") << QByteArray("l") << 0;
        QTest::newRow("other messages change nothing") << QByteArray("pmm") << 2;
        QTest::newRow("a press after the guard fell") << QByteArray("plllp") << 2;
    }
    void followsTheWindowMessages()
    {
        QFETCH(QByteArray, messages);
        QFETCH(int, guard);
        int value = 0;
        for (const char message : messages)
            value = DragGuardRule::next(value,
                                        message == 'p'       ? DragGuardRule::NonClientLeftButtonDown
                                            : message == 'l' ? DragGuardRule::CaptureChanged
                                                             : 0x0200u);
        QCOMPARE(value, guard);
    }
};

QTEST_GUILESS_MAIN(TestDragGuard)
#include "tst_dragguard.moc"
