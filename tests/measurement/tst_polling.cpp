#include "support/connectedwindow.h"

#include <QElapsedTimer>

using namespace WindowHarness;

namespace {

QByteArray reply(char settling, char locked, const QByteArray &fields)
{
    return QByteArray("read ") + settling + "  " + locked + "  " + fields + '\0';
}

struct Shown
{
    QString quality, amplitude, height, width, rate;
    int bar;
};

Shown shown(const MainWindowUi *ui)
{
    return {ui->QFactorLabel->text(), ui->VoltageLabel->text(), ui->HeightLabel->text(),
            ui->WidthLabel->text(), ui->RateLabel->text(), ui->AmplitudeBar->value()};
}

} // namespace

class TestPolling : public QObject
{
    Q_OBJECT

private slots:
    void showsEveryReplyAndPollsTwiceASecond();
    void rejectedReplyChangesNothingButPollingGoesOn();
    void pollingStopsWhilePortListHasTheFocus();
};

void TestPolling::showsEveryReplyAndPollsTwiceASecond()
{
    ConnectedWindow connected;
    connected.instrument->queueMeasurementReply(reply('0', '1', "12.5 380 45 52 9953.2"));
    connected.instrument->queueMeasurementReply(reply('1', '0', "3.1 120 12 20 9953.1"));
    connected.instrument->queueMeasurementReply(reply('0', '0', "0 0 00 00 0"));
    QVERIFY(connected.connect());
    MainWindowUi *ui = connected.ui;

    QTRY_COMPARE_WITH_TIMEOUT(ui->QFactorLabel->text(), QString("12.5%"), 1500);
    QCOMPARE(ui->VoltageLabel->text(), QString("380 mV"));
    QCOMPARE(ui->AmplitudeBar->value(), 380);
    QCOMPARE(ui->HeightLabel->text(), QString("Height: 0.45 UI"));
    QCOMPARE(ui->WidthLabel->text(), QString("Width: 0.52 UI"));
    QCOMPARE(ui->RateLabel->text(), QString("9953.2 Mb"));
    QVERIFY(samePicture(ui->LEDStat->pixmap(), ":/new/prefix1/LED_Green.png"));

    QElapsedTimer clock;
    clock.start();
    QTRY_COMPARE_WITH_TIMEOUT(ui->QFactorLabel->text(), QString("3.1%"), 1500);
    QVERIFY(samePicture(ui->LEDStat->pixmap(), ":/new/prefix1/LED_Yellow.png"));
    QCOMPARE(ui->AmplitudeBar->value(), 120);
    QTRY_COMPARE_WITH_TIMEOUT(ui->QFactorLabel->text(), QString("0%"), 1500);
    QVERIFY(samePicture(ui->LEDStat->pixmap(), ":/new/prefix1/LED_Grey.png"));
    QVERIFY2(clock.elapsed() > 300 && clock.elapsed() < 1400, qPrintable(QString::number(clock.elapsed())));

    // After the queued replies the simulated link's own values follow, with
    // the spin box showing no scan pending.
    QTRY_VERIFY_WITH_TIMEOUT(ui->QFactorLabel->text() != "0%", 1500);
    QCOMPARE(ui->spinBox->value(), 0);
    QVERIFY(connected.instrument->received().count("read\r\n") >= 5);
}

void TestPolling::rejectedReplyChangesNothingButPollingGoesOn()
{
    ConnectedWindow connected;
    connected.instrument->queueMeasurementReply(reply('0', '1', "12.5 380 45 52 9953.2"));
    connected.instrument->queueMeasurementReply("garbage without the prefix");
    connected.instrument->queueMeasurementReply(QByteArray("read 0  1  99 99 99 99 99")); // no NUL
    connected.instrument->queueMeasurementReply(reply('0', '1', "1 2 3 4 5"));
    QVERIFY(connected.connect());
    MainWindowUi *ui = connected.ui;

    QTRY_COMPARE_WITH_TIMEOUT(ui->QFactorLabel->text(), QString("12.5%"), 1500);
    const QImage lamp = ui->LEDStat->pixmap().toImage();
    int reads = connected.instrument->received().count("read\r\n");
    // Two rejected replies: nothing changes, and each pass still asks again.
    QTRY_VERIFY_WITH_TIMEOUT(connected.instrument->received().count("read\r\n") >= reads + 2, 1500);
    const Shown during = shown(ui);
    QCOMPARE(during.quality, QString("12.5%"));
    QCOMPARE(during.amplitude, QString("380 mV"));
    QCOMPARE(during.height, QString("Height: 0.45 UI"));
    QCOMPARE(during.width, QString("Width: 0.52 UI"));
    QCOMPARE(during.rate, QString("9953.2 Mb"));
    QCOMPARE(during.bar, 380);
    QCOMPARE(ui->LEDStat->pixmap().toImage(), lamp);
    QTRY_COMPARE_WITH_TIMEOUT(ui->QFactorLabel->text(), QString("1%"), 1500);
}

void TestPolling::pollingStopsWhilePortListHasTheFocus()
{
    ConnectedWindow connected;
    QVERIFY(connected.connect());
    connected.window->show();
    QVERIFY(QTest::qWaitForWindowActive(connected.window.get()));

    // The box can hold the focus only while it is enabled.
    connected.ui->PortSelBox->setEnabled(true);
    connected.ui->PortSelBox->setFocus();
    QTRY_VERIFY(connected.ui->PortSelBox->hasFocus());
    QTest::qWait(600); // the pass that finds the focus there
    connected.instrument->clearReceived();
    QTest::qWait(1100);
    QCOMPARE(connected.instrument->received(), QByteArray());
}

QTEST_MAIN(TestPolling)
#include "tst_polling.moc"
