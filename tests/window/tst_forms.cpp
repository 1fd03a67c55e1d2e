#include "window/aboutbx.h"
#include "windowharness.h"

#include <QPainter>
#include <QStyle>
#include <QTextDocumentFragment>
#include <QTextEdit>

// The window's form and the about dialog, drawn with the fonts' substitutes.
class TestForms : public QObject
{
    Q_OBJECT
    std::unique_ptr<MainWindow> m_window;
private slots:
    void initTestCase()
    {
        m_window = WindowHarness::makeWindow({});
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QVERIFY(WindowHarness::saveScreenshot(m_window->grab().toImage(), "main-window.png"));
    }

    // The widget drawn and clicked where it overlaps another (group box, Logo, bar, lamp, label).
    void widgetOnTopWhereWidgetsOverlap()
    {
        const QList<QPair<QPoint, QString>> points {
            {{640, 55}, "QFactorLabel"}, {{600, 405}, "PortSelBox"},    {{510, 470}, "AboutBtn"},
            {{640, 480}, "label"},       {{520, 530}, "ScanningLabel"}, {{625, 120}, "HeightLabel_2"},
            {{600, 240}, "HeightLabel"}};
        for (const auto &[point, name] : points) {
            QWidget *found = m_window->childAt(point);
            while (found && (found->objectName().isEmpty() || found->objectName().startsWith("qt_")))
                found = found->parentWidget();
            QCOMPARE(found ? found->objectName() : QString(), name);
        }
    }

    // Shown and written to, but laid out where the window does not reach.
    void logAndCountersLieOutsideTheWindow()
    {
        for (const char *name : {"ResultsBox", "lcdNumber", "spinBox", "VoltageLabel", "KnobLabel_16"}) {
            auto *widget = m_window->findChild<QWidget *>(name);
            QVERIFY2(widget && widget->isVisible() && widget->visibleRegion().isEmpty(), name);
        }
        QVERIFY(!m_window->form()->QFactorLabel->visibleRegion().isEmpty());
    }

    // Each text the program shows, drawn unclipped, leaves no ink outside its label.
    void everyTextFitsItsLabel()
    {
        const QList<QPair<const char *, QString>> texts {
            {"KnobLabel_15", "Port:"},        {"label", "quorvane.com"},
            {"HeightLabel_2", "Amplitude"},   {"HeightLabel_3", "Lock"},
            {"QFactorLabel", "12.5%"},        {"QFactorLabel", "100%"},
            {"RateLabel", "10312.5 Mb"},      {"HeightLabel", "Height: 0.45 UI"},
            {"WidthLabel", "Width: 0.52 UI"}, {"ScanningLabel", "Scanning..."},
            {"ScanningLabel", "Incomplete"},  {"ScanningLabel", "Not saved"}};
        for (const auto &[name, text] : texts) {
            const auto *label = m_window->findChild<QLabel *>(name);
            QVERIFY(label);
            const QRect box(QPoint(200, 200), label->contentsRect().size());
            QImage canvas(box.size() + QSize(400, 400), QImage::Format_ARGB32_Premultiplied);
            canvas.fill(Qt::transparent);
            QPainter painter(&canvas);
            painter.setFont(label->font());
            const int flags = int(label->alignment()) | Qt::TextDontClip;
            label->style()->drawItemText(&painter, box, flags, label->palette(), true, text);
            painter.end();
            int inside = 0, outside = 0;
            for (int y = 0; y < canvas.height(); ++y)
                for (int x = 0; x < canvas.width(); ++x)
                    (box.contains(x, y) ? inside : outside) += qAlpha(canvas.pixel(x, y)) != 0;
            QVERIFY2(outside == 0 && inside > 0, qPrintable(text));
        }
    }

    void startsGreyWithTheExampleEye()
    {
        const MainWindowUi *ui = m_window->form();
        QCOMPARE(ui->EyePlot->pixmap().toImage(),
                 QPixmap(":/new/prefix1/rotated blankcapture.bmp").toImage());
        const QImage grey = QPixmap(":/new/prefix1/LED_Grey.png").toImage();
        QVERIFY(ui->LEDCOM->pixmap().toImage() == grey && ui->LEDStat->pixmap().toImage() == grey);
    }

    void aboutDialogTextsAndLicence()
    {
        AboutBx dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QVERIFY(WindowHarness::saveScreenshot(dialog.grab().toImage(), "about-dialog.png"));
        const auto *product = dialog.findChild<QLabel *>("label");
        const auto *notice = dialog.findChild<QLabel *>("label_2");
        auto *licence = dialog.findChild<QTextEdit *>("LicenseTB");
        QVERIFY(product && notice && licence);
        QCOMPARE(QTextDocumentFragment::fromHtml(product->text()).toPlainText(),
                 "Quorvane Zentaval V 1.0 Supported models:\n\u2219 Zentaval (731942K)\n"
                 "For more information please visit: quorvane.com");
        QCOMPARE(QTextDocumentFragment::fromHtml(notice->text()).toPlainText(),
                 " https://www.gnu.org/licenses/lgpl-3.0.html");
        // The product text is not wrapped and must fit as laid out; the notice wraps.
        QVERIFY(product->sizeHint().boundedTo(product->size()) == product->sizeHint());
        QVERIFY(notice->heightForWidth(notice->width()) <= notice->height());
        QVERIFY(licence->isReadOnly());
        QCOMPARE(licence->document()->blockCount(), 165);
        QCOMPARE(licence->toPlainText() + '\n',
                 QString::fromUtf8(WindowHarness::fileBytes(ZENTAVAL_COPYING_LESSER)));
    }

    void eachPressOfInfoOpensAnotherDialog()
    {
        const auto dialogs = [this] { return m_window->findChildren<AboutBx *>(Qt::FindDirectChildrenOnly); };
        QTest::mouseClick(m_window->form()->AboutBtn, Qt::LeftButton);
        QTest::mouseClick(m_window->form()->AboutBtn, Qt::LeftButton);
        QCOMPARE(dialogs().size(), 2);
        QVERIFY(!QApplication::activeModalWidget() && dialogs().at(1)->isVisible());
        dialogs().at(0)->close();
        QTRY_COMPARE(dialogs().size(), 1);
    }
};

QTEST_MAIN(TestForms)
#include "tst_forms.moc"
