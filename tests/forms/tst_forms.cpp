#include "windowharness.h"

#include "forms/aboutbx.h"

#include <QDir>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <QTextBlock>
#include <QTextEdit>

using namespace WindowHarness;

class TestForms : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void topmostWidgetAtPoint_data();
    void topmostWidgetAtPoint();
    void logAndCountersLieOutsideTheWindow();
    void everyTextFitsItsLabel();
    void startsGreyWithTheExampleEye();
    void aboutDialogShowsTheLicence();
    void eachPressOfInfoOpensAnotherDialog();

private:
    void saveScreenshot(QWidget *widget, const QString &name);
    std::unique_ptr<MainWindow> m_window;
};

void TestForms::initTestCase()
{
    m_window = makeWindow({});
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    saveScreenshot(m_window.get(), "main-window.png");
}

void TestForms::saveScreenshot(QWidget *widget, const QString &name)
{
    const QString folder = qEnvironmentVariable("ZENTAVAL_TEST_ARTEFACTS");
    QVERIFY(folder.isEmpty() || (QDir().mkpath(folder) && widget->grab().save(QDir(folder).filePath(name))));
}

// Where widgets overlap, the one drawn (and clicked) is the one on top.
void TestForms::topmostWidgetAtPoint_data()
{
    QTest::addColumn<QPoint>("point");
    QTest::newRow("QFactorLabel") << QPoint(640, 55);   // over the Measurement group
    QTest::newRow("PortSelBox") << QPoint(600, 405);    // over the System group
    QTest::newRow("AboutBtn") << QPoint(510, 470);      // over the System group
    QTest::newRow("label") << QPoint(640, 480);         // over Logo's bottom row
    QTest::newRow("ScanningLabel") << QPoint(520, 530); // over the progress bar's last column
    QTest::newRow("HeightLabel_2") << QPoint(625, 120); // over the lock lamp's bottom row
    QTest::newRow("HeightLabel") << QPoint(600, 240);   // over WidthLabel's top row
}

void TestForms::topmostWidgetAtPoint()
{
    QFETCH(QPoint, point);
    QWidget *found = m_window->childAt(point);
    while (found && (found->objectName().isEmpty() || found->objectName().startsWith("qt_")))
        found = found->parentWidget();
    QVERIFY(found);
    QCOMPARE(found->objectName(), QString::fromLatin1(QTest::currentDataTag()));
}

void TestForms::logAndCountersLieOutsideTheWindow()
{
    for (const char *name : {"ResultsBox", "lcdNumber", "spinBox", "VoltageLabel"}) {
        auto *widget = m_window->findChild<QWidget *>(name);
        QVERIFY2(widget && widget->isVisible() && widget->visibleRegion().isEmpty(), name);
    }
    QVERIFY(!m_window->form()->QFactorLabel->visibleRegion().isEmpty());
}

// The forms name fonts of another desktop; with the substitutes, every text
// the program shows must fit the rectangle laid out for it, ink included.
void TestForms::everyTextFitsItsLabel()
{
    const QList<QPair<const char *, QString>> texts {
        {"KnobLabel_15", "Port:"},          {"label", "quorvane.com"},
        {"HeightLabel_2", "Amplitude"},     {"QFactorLabel", "12.5%"},
        {"QFactorLabel", "100%"},           {"RateLabel", "10312.5 Mb"},
        {"HeightLabel", "Height: 0.45 UI"}, {"WidthLabel", "Width: 0.52 UI"},
        {"ScanningLabel", "Scanning..."},   {"ScanningLabel", "Incomplete"},
        {"ScanningLabel", "Not saved"}};
    for (const auto &[name, text] : texts) {
        const auto *label = m_window->findChild<QLabel *>(name);
        QVERIFY(label);
        const QRect box = label->contentsRect();
        QVERIFY2(QFontMetrics(label->font()).horizontalAdvance(text) <= box.width(), qPrintable(text));
        QImage canvas(box.size() + QSize(400, 400), QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        QPainter painter(&canvas);
        painter.setFont(label->font());
        label->style()->drawItemText(&painter, QRect(QPoint(200, 200), box.size()),
                                     int(label->alignment()) | Qt::TextDontClip, label->palette(), true,
                                     text);
        painter.end();
        QImage inside = canvas.copy(QRect(QPoint(200, 200), box.size()));
        const auto ink = [](const QImage &image) {
            int count = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    count += qAlpha(image.pixel(x, y)) != 0;
            return count;
        };
        QVERIFY2(ink(inside) == ink(canvas) && ink(canvas) > 0, qPrintable(text));
    }
}

void TestForms::startsGreyWithTheExampleEye()
{
    const auto picture = [](const QLabel *label, const QString &name) {
        return label->pixmap().toImage() == QPixmap(":/new/prefix1/" + name).toImage();
    };
    QVERIFY(picture(m_window->form()->EyePlot, "rotated blankcapture.bmp"));
    QVERIFY(picture(m_window->form()->LEDCOM, "LED_Grey.png"));
    QVERIFY(picture(m_window->form()->LEDStat, "LED_Grey.png"));
    QCOMPARE(rows(*m_window), QStringList {"Select a Device"});
    QVERIFY(!m_window->form()->PortSelBox->isEnabled());
}

void TestForms::aboutDialogShowsTheLicence()
{
    AboutBx dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    saveScreenshot(&dialog, "about-dialog.png");
    auto *licence = dialog.findChild<QTextEdit *>("LicenseTB");
    QVERIFY(licence && licence->isReadOnly());
    QString expected = QString::fromUtf8(fileBytes(ZENTAVAL_COPYING_LESSER));
    expected.chop(1); // the file's last line end
    QCOMPARE(licence->document()->blockCount(), 165);
    QCOMPARE(licence->toPlainText(), expected);
    QCOMPARE(licence->document()->firstBlock().blockFormat().topMargin(), 12.0);
    QVERIFY(QFontInfo(licence->document()->lastBlock().begin().fragment().charFormat().font()).fixedPitch());
}

void TestForms::eachPressOfInfoOpensAnotherDialog()
{
    const auto dialogs = [this] { return m_window->findChildren<AboutBx *>(Qt::FindDirectChildrenOnly); };
    QTest::mouseClick(m_window->form()->AboutBtn, Qt::LeftButton);
    QTest::mouseClick(m_window->form()->AboutBtn, Qt::LeftButton);
    QCOMPARE(dialogs().size(), 2);
    QVERIFY(!QApplication::activeModalWidget() && dialogs().at(1)->isVisible());
    // A closed dialog is gone: pressing Info all day keeps nothing alive.
    dialogs().at(0)->close();
    QTRY_COMPARE(dialogs().size(), 1);
}

QTEST_MAIN(TestForms)
#include "tst_forms.moc"
