#include "support/windowharness.h"

#include "forms/aboutbx.h"
#include "forms/fonts.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QStyle>

// The forms name fonts of another desktop; with the substitutes registered,
// every text must still fit the rectangle it was laid out for.
class TestTextFit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void substitutesAreInstalledFamilies_data();
    void substitutesAreInstalledFamilies();
    void labelTextFits_data();
    void labelTextFits();
    void aboutTextsFit();

private:
    std::unique_ptr<MainWindow> m_window;
};

// Pixels of `text` that fall outside the label's rectangle when the label
// draws it; the label itself would cut them off.
static int inkOutside(const QLabel *label, const QString &text)
{
    const int pad = 200;
    const QRect box = label->contentsRect();
    QImage canvas(box.width() + 2 * pad, box.height() + 2 * pad, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    painter.setFont(label->font());
    label->style()->drawItemText(&painter, QRect(QPoint(pad, pad), box.size()),
                                 int(label->alignment()) | Qt::TextDontClip, label->palette(), true, text,
                                 QPalette::WindowText);
    painter.end();

    int outside = 0;
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x)
            if (qAlpha(canvas.pixel(x, y)) != 0
                && (x < pad || x >= pad + box.width() || y < pad || y >= pad + box.height()))
                ++outside;
    return outside;
}

void TestTextFit::initTestCase()
{
    registerFontSubstitutes();
    m_window = WindowHarness::makeWindow({});
}

void TestTextFit::substitutesAreInstalledFamilies_data()
{
    QTest::addColumn<QString>("requested");
    QTest::addColumn<QString>("resolved");
    QTest::addColumn<bool>("fixedPitch");

    QTest::newRow("dialog font") << "MS Shell Dlg 2" << "Liberation Sans Narrow" << false;
    QTest::newRow("licence font") << "Courier New,courier" << "Liberation Mono" << true;
}

void TestTextFit::substitutesAreInstalledFamilies()
{
    QFETCH(QString, requested);
    QFETCH(QString, resolved);
    QFETCH(bool, fixedPitch);

    for (bool bold : {false, true}) {
        QFont font;
        font.setFamilies({requested});
        font.setPointSize(12);
        font.setBold(bold);
        const QFontInfo info(font);
        QCOMPARE(info.family(), resolved);
        QCOMPARE(info.bold(), bold);
        QCOMPARE(info.fixedPitch(), fixedPitch);
    }
}

// Each label with the texts the program shows in it: the form's own text and
// those that measurements, scans and discovery put there later.
void TestTextFit::labelTextFits_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");

    const auto row = [](const char *name, const QString &text) {
        QTest::addRow("%s \"%s\"", name, qPrintable(text)) << QString::fromLatin1(name) << text;
    };
    row("KnobLabel_15", "Port:");
    row("KnobLabel_16", "C");
    row("label", "quorvane.com");
    row("HeightLabel_2", "Amplitude");
    row("HeightLabel_3", "Lock");
    for (const char *text : {"00%", "12.5%", "99.9%", "100%", "%"})
        row("QFactorLabel", text);
    for (const char *text : {"409 mV", "380 mV", "380.5 mV"})
        row("VoltageLabel", text);
    for (const char *text : {"9953.2 Mb", "10312.5 Mb"})
        row("RateLabel", text);
    for (const char *text : {"Height: 0.00 UI", "Height: 0.45 UI", "Height: 0. UI"})
        row("HeightLabel", text);
    for (const char *text : {"Width: 0.00 UI", "Width: 0.52 UI", "Width: 0. UI"})
        row("WidthLabel", text);
    row("ScanningLabel", "Scanning...");
}

void TestTextFit::labelTextFits()
{
    QFETCH(QString, name);
    QFETCH(QString, text);

    auto *label = m_window->findChild<QLabel *>(name);
    QVERIFY(label);
    const int width = QFontMetrics(label->font()).horizontalAdvance(text);
    QVERIFY2(width <= label->contentsRect().width(),
             qPrintable(QStringLiteral("%1 px wide in %2 px").arg(width).arg(label->contentsRect().width())));
    QCOMPARE(inkOutside(label, text), 0);
}

void TestTextFit::aboutTextsFit()
{
    AboutBx dialog;
    const auto *product = dialog.findChild<QLabel *>(QStringLiteral("label"));
    const auto *notice = dialog.findChild<QLabel *>(QStringLiteral("label_2"));
    QVERIFY(product);
    QVERIFY(notice);

    // Without word wrap the product text must fit as laid out; the notice
    // wraps within its width and must fit its height.
    const QSize productSize = product->sizeHint();
    QVERIFY2(productSize.width() <= product->width() && productSize.height() <= product->height(),
             qPrintable(QStringLiteral("%1 x %2").arg(productSize.width()).arg(productSize.height())));
    QVERIFY(notice->wordWrap());
    const int noticeHeight = notice->heightForWidth(notice->width());
    QVERIFY2(noticeHeight <= notice->height(), qPrintable(QString::number(noticeHeight)));
}

QTEST_MAIN(TestTextFit)
#include "tst_textfit.moc"
