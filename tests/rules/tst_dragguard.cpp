#include "rules/dragguard.h"

#include <QTest>

#include <vector>

class TestDragGuard : public QObject
{
    Q_OBJECT

private slots:
    void followsTheWindowMessages_data();
    void followsTheWindowMessages();
};

void TestDragGuard::followsTheWindowMessages_data()
{
    QTest::addColumn<std::vector<unsigned>>("messages");
    QTest::addColumn<int>("guard");

    using namespace DragGuardRule;
    const unsigned press = NonClientLeftButtonDown;
    const unsigned lost = CaptureChanged;
    const unsigned other = 0x0200; // a mouse move

    QTest::newRow("nothing happened") << std::vector<unsigned> {} << 0;
    QTest::newRow("press raises to 2") << std::vector<unsigned> {press} << 2;
    QTest::newRow("two presses do not add") << std::vector<unsigned> {press, press} << 2;
    QTest::newRow("capture lost once") << std::vector<unsigned> {press, lost} << 1;
    QTest::newRow("capture lost twice") << std::vector<unsigned> {press, lost, lost} << 0;
    QTest::newRow("never below zero") << std::vector<unsigned> {press, lost, lost, lost} << 0;
    QTest::newRow("capture lost without a press") << std::vector<unsigned> {lost} << 0;
    QTest::newRow("other messages change nothing") << std::vector<unsigned> {press, other, other} << 2;
    QTest::newRow("a press after the guard fell")
        << std::vector<unsigned> {press, lost, lost, lost, press} << 2;
}

void TestDragGuard::followsTheWindowMessages()
{
    QFETCH(std::vector<unsigned>, messages);
    QFETCH(int, guard);

    int value = 0;
    for (unsigned message : messages)
        value = DragGuardRule::next(value, message);
    QCOMPARE(value, guard);
}

QTEST_GUILESS_MAIN(TestDragGuard)
#include "tst_dragguard.moc"
