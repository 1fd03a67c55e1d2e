#include "support/windowharness.h"

#include "forms/fonts.h"

#include <QComboBox>
#include <QCommandLinkButton>
#include <QDir>
#include <QGroupBox>
#include <QLCDNumber>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QSpinBox>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolBar>

// The main window's form as the program builds it, checked against its layout
// tables.
class TestMainWindowForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void window();
    void recordPointsAtTheNamedWidgets();
    void widgets_data();
    void widgets();
    void fonts_data();
    void fonts();
    void properties_data();
    void properties();
    void scanningLabelPalette_data();
    void scanningLabelPalette();
    void pictures_data();
    void pictures();
    void icons_data();
    void icons();
    void scanButtonToolTip();
    void portBoxStartsWithThePromptOnly();
    void widgetsOutsideTheVisibleArea_data();
    void widgetsOutsideTheVisibleArea();
    void stackingOrder_data();
    void stackingOrder();
    void topmostWidgetAtPoint_data();
    void topmostWidgetAtPoint();
    void screenshot();

private:
    QWidget *widget(const QString &name) const;

    std::unique_ptr<MainWindow> m_window;
};

void TestMainWindowForm::initTestCase()
{
    registerFontSubstitutes();
}

void TestMainWindowForm::init()
{
    m_window = WindowHarness::makeWindow({});
}

void TestMainWindowForm::cleanup()
{
    m_window.reset();
}

QWidget *TestMainWindowForm::widget(const QString &name) const
{
    if (name == QLatin1String("MainWindow"))
        return m_window.get();
    return m_window->findChild<QWidget *>(name);
}

void TestMainWindowForm::window()
{
    QCOMPARE(m_window->objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Zentaval"));
    QCOMPARE(m_window->size(), QSize(726, 547));
    QCOMPARE(m_window->minimumSize(), QSize(726, 547));
    QCOMPARE(m_window->maximumSize(), QSize(726, 547));
    QCOMPARE(m_window->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(m_window->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(m_window->sizePolicy().horizontalStretch(), 0);
    QCOMPARE(m_window->sizePolicy().verticalStretch(), 0);
    QCOMPARE(m_window->centralWidget(), m_window->form()->centralWidget);
    QCOMPARE(m_window->centralWidget()->objectName(), QStringLiteral("centralWidget"));
    QVERIFY(!m_window->findChild<QMenuBar *>());
    QVERIFY(!m_window->findChild<QToolBar *>());
    QVERIFY(!m_window->findChild<QStatusBar *>());

    // The window icon is the green eye picture.
    const QImage eye(QStringLiteral(":/new/prefix1/Eye-gr.png"));
    QVERIFY2(!eye.isNull(), "the window icon's picture is not compiled in");
    QCOMPARE(m_window->windowIcon().pixmap(eye.size()).toImage(), QPixmap::fromImage(eye).toImage());

    // 26 widgets in the record, and no other named widget in the window.
    QStringList named;
    for (QWidget *child : m_window->findChildren<QWidget *>())
        if (!child->objectName().isEmpty() && !child->objectName().startsWith(QLatin1String("qt_")))
            named << child->objectName();
    QCOMPARE(named.size(), 26);
}

void TestMainWindowForm::recordPointsAtTheNamedWidgets()
{
    const MainWindowUi *ui = m_window->form();
    const QList<QPair<QWidget *, QString>> members = {
        {ui->centralWidget, "centralWidget"}, {ui->Logo, "Logo"},
        {ui->ResultsBox, "ResultsBox"}, {ui->PortSelBox, "PortSelBox"},
        {ui->KnobLabel_15, "KnobLabel_15"}, {ui->AboutBtn, "AboutBtn"},
        {ui->label, "label"}, {ui->groupBox_6, "groupBox_6"},
        {ui->KnobLabel_16, "KnobLabel_16"}, {ui->LEDCOM, "LEDCOM"},
        {ui->EyePlot, "EyePlot"}, {ui->QFactorLabel, "QFactorLabel"},
        {ui->VoltageLabel, "VoltageLabel"}, {ui->groupBox_7, "groupBox_7"},
        {ui->ScanBtn, "ScanBtn"}, {ui->RateLabel, "RateLabel"},
        {ui->HeightLabel, "HeightLabel"}, {ui->LEDStat, "LEDStat"},
        {ui->AmplitudeBar, "AmplitudeBar"}, {ui->HeightLabel_2, "HeightLabel_2"},
        {ui->HeightLabel_3, "HeightLabel_3"}, {ui->WidthLabel, "WidthLabel"},
        {ui->lcdNumber, "lcdNumber"}, {ui->ScanProgressBar, "ScanProgressBar"},
        {ui->spinBox, "spinBox"}, {ui->ScanningLabel, "ScanningLabel"},
    };
    QCOMPARE(members.size(), 26);
    for (const auto &member : members) {
        QVERIFY2(member.first, qPrintable(member.second));
        QCOMPARE(member.first->objectName(), member.second);
    }
}

void TestMainWindowForm::widgets_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QRect>("rectangle");

    const QString central = QStringLiteral("centralWidget");
    QTest::newRow("Logo") << "QLabel" << central << QRect(580, 430, 121, 51);
    QTest::newRow("ResultsBox") << "QTextEdit" << central << QRect(40, 630, 271, 141);
    QTest::newRow("PortSelBox") << "QComboBox" << central << QRect(510, 390, 201, 31);
    QTest::newRow("KnobLabel_15") << "QLabel" << central << QRect(510, 360, 41, 31);
    QTest::newRow("AboutBtn") << "QCommandLinkButton" << central << QRect(500, 450, 71, 41);
    QTest::newRow("label") << "QLabel" << central << QRect(580, 480, 121, 16);
    QTest::newRow("groupBox_6") << "QGroupBox" << central << QRect(500, 350, 221, 161);
    QTest::newRow("KnobLabel_16") << "QLabel" << "groupBox_6" << QRect(180, 220, 21, 31);
    QTest::newRow("LEDCOM") << "QLabel" << "groupBox_6" << QRect(180, 20, 21, 21);
    QTest::newRow("EyePlot") << "QLabel" << central << QRect(10, 10, 478, 508);
    QTest::newRow("QFactorLabel") << "QLabel" << central << QRect(580, 30, 121, 51);
    QTest::newRow("VoltageLabel") << "QLabel" << central << QRect(770, 20, 91, 31);
    QTest::newRow("groupBox_7") << "QGroupBox" << central << QRect(500, 0, 221, 331);
    QTest::newRow("ScanBtn") << "QCommandLinkButton" << "groupBox_7" << QRect(10, 280, 201, 41);
    QTest::newRow("RateLabel") << "QLabel" << "groupBox_7" << QRect(10, 160, 191, 31);
    QTest::newRow("HeightLabel") << "QLabel" << "groupBox_7" << QRect(20, 210, 181, 31);
    QTest::newRow("LEDStat") << "QLabel" << "groupBox_7" << QRect(120, 90, 31, 31);
    QTest::newRow("AmplitudeBar") << "QProgressBar" << "groupBox_7" << QRect(20, 20, 31, 131);
    QTest::newRow("HeightLabel_2") << "QLabel" << "groupBox_7" << QRect(60, 120, 81, 31);
    QTest::newRow("HeightLabel_3") << "QLabel" << "groupBox_7" << QRect(160, 90, 41, 31);
    QTest::newRow("WidthLabel") << "QLabel" << "groupBox_7" << QRect(20, 240, 181, 31);
    QTest::newRow("lcdNumber") << "QLCDNumber" << central << QRect(450, 570, 261, 51);
    QTest::newRow("ScanProgressBar") << "QProgressBar" << central << QRect(10, 520, 511, 23);
    QTest::newRow("spinBox") << "QSpinBox" << central << QRect(690, 700, 161, 22);
    QTest::newRow("ScanningLabel") << "QLabel" << central << QRect(520, 510, 111, 41);
}

void TestMainWindowForm::widgets()
{
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    QFETCH(QRect, rectangle);

    QWidget *w = widget(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(w);
    QCOMPARE(QString::fromLatin1(w->metaObject()->className()), className);
    QCOMPARE(w->parentWidget()->objectName(), parentName);
    QCOMPARE(w->geometry(), rectangle);
}

// A family, size or weight of "inherited" (empty, 0) must equal the parent's.
void TestMainWindowForm::fonts_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("pointSize");
    QTest::addColumn<int>("weight");

    const QString inherited;
    const QString dialogFont = QStringLiteral("MS Shell Dlg 2");
    QTest::newRow("PortSelBox") << inherited << 12 << 0;                  // F1
    QTest::newRow("KnobLabel_15") << inherited << 12 << int(QFont::Normal); // F2
    QTest::newRow("KnobLabel_16") << inherited << 12 << int(QFont::Normal); // F2
    QTest::newRow("groupBox_6") << inherited << 12 << int(QFont::Bold);     // F3
    QTest::newRow("groupBox_7") << inherited << 12 << int(QFont::Bold);     // F3
    QTest::newRow("QFactorLabel") << dialogFont << 32 << int(QFont::Bold);  // F4
    QTest::newRow("VoltageLabel") << dialogFont << 16 << int(QFont::Bold);  // F5
    QTest::newRow("RateLabel") << dialogFont << 24 << int(QFont::Bold);     // F6
    QTest::newRow("HeightLabel") << dialogFont << 16 << int(QFont::Normal); // F7
    QTest::newRow("WidthLabel") << dialogFont << 16 << int(QFont::Normal);  // F7
    QTest::newRow("HeightLabel_2") << dialogFont << 13 << int(QFont::Normal); // F8
    QTest::newRow("HeightLabel_3") << dialogFont << 13 << int(QFont::Normal); // F8
    QTest::newRow("ScanningLabel") << dialogFont << 14 << int(QFont::Bold); // F9
    // Widgets without a font of their own.
    QTest::newRow("ScanBtn") << inherited << 0 << 0;
    QTest::newRow("LEDStat") << inherited << 0 << 0;
    QTest::newRow("AmplitudeBar") << inherited << 0 << 0;
    QTest::newRow("LEDCOM") << inherited << 0 << 0;
    QTest::newRow("Logo") << inherited << 0 << 0;
    QTest::newRow("label") << inherited << 0 << 0;
    QTest::newRow("AboutBtn") << inherited << 0 << 0;
    QTest::newRow("EyePlot") << inherited << 0 << 0;
    QTest::newRow("ScanProgressBar") << inherited << 0 << 0;
    QTest::newRow("centralWidget") << inherited << 0 << 0;
}

void TestMainWindowForm::fonts()
{
    QFETCH(QString, family);
    QFETCH(int, pointSize);
    QFETCH(int, weight);

    QWidget *w = widget(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(w);
    const QFont font = w->font();
    const QFont parentFont = w->parentWidget()->font();
    if (family.isEmpty())
        QCOMPARE(font.families(), parentFont.families());
    else
        QCOMPARE(font.families(), QStringList{family});
    QCOMPARE(font.pointSize(), pointSize ? pointSize : parentFont.pointSize());
    QCOMPARE(font.weight(), weight ? QFont::Weight(weight) : parentFont.weight());
    QCOMPARE(font.bold(), weight ? weight == QFont::Bold : parentFont.bold());
    QCOMPARE(font.italic(), false);
}

void TestMainWindowForm::properties_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QVariant>("value");

    const auto row = [](const char *name, const char *property, const QVariant &value) {
        QTest::addRow("%s %s", name, property) << QString::fromLatin1(name) << QByteArray(property) << value;
    };
    const auto alignment = [](Qt::Alignment a) { return QVariant::fromValue(a); };
    const Qt::Alignment leftCentred = Qt::AlignLeft | Qt::AlignVCenter;
    const Qt::Alignment rightCentred = Qt::AlignRight | Qt::AlignVCenter;

    row("KnobLabel_15", "alignment", alignment(leftCentred));
    row("KnobLabel_16", "alignment", alignment(leftCentred));
    row("label", "alignment", alignment(Qt::AlignCenter));
    row("QFactorLabel", "alignment", alignment(rightCentred));
    row("VoltageLabel", "alignment", alignment(rightCentred));
    row("RateLabel", "alignment", alignment(rightCentred));
    row("HeightLabel", "alignment", alignment(rightCentred));
    row("WidthLabel", "alignment", alignment(rightCentred));
    row("HeightLabel_2", "alignment", alignment(leftCentred));
    row("HeightLabel_3", "alignment", alignment(leftCentred));
    row("ScanningLabel", "alignment", alignment(Qt::AlignCenter));

    for (const char *picture : {"Logo", "LEDCOM", "EyePlot", "LEDStat"}) {
        row(picture, "scaledContents", true);
        row(picture, "text", QString());
    }

    row("PortSelBox", "enabled", false);
    row("PortSelBox", "sizeAdjustPolicy", QVariant::fromValue(QComboBox::AdjustToContentsOnFirstShow));
    row("PortSelBox", "toolTip", QStringLiteral("Select a Device from the Drop down list"));
    row("label", "openExternalLinks", false);
    row("label", "text", QStringLiteral("quorvane.com"));
    row("label", "textFormat", QVariant::fromValue(Qt::AutoText));

    row("ScanBtn", "autoFillBackground", false);
    row("AmplitudeBar", "autoFillBackground", false);
    row("AmplitudeBar", "styleSheet",
        QStringLiteral("background-color: rgb(202, 202, 202);\nborder-color: rgb(0, 0, 0);"));
    row("AmplitudeBar", "minimum", 0);
    row("AmplitudeBar", "maximum", 409);
    row("AmplitudeBar", "value", 0);
    row("AmplitudeBar", "textVisible", false);
    row("AmplitudeBar", "orientation", QVariant::fromValue(Qt::Vertical));
    row("AmplitudeBar", "textDirection", QVariant::fromValue(QProgressBar::TopToBottom));

    row("lcdNumber", "value", 12.4);
    row("ScanProgressBar", "enabled", true);
    row("ScanProgressBar", "autoFillBackground", false);
    row("ScanProgressBar", "minimum", 0);
    row("ScanProgressBar", "maximum", 100);
    row("ScanProgressBar", "value", 0);
    row("ScanProgressBar", "textVisible", true);
    row("ScanProgressBar", "orientation", QVariant::fromValue(Qt::Horizontal));
    row("spinBox", "minimum", -99);
    row("spinBox", "maximum", 99);
    row("spinBox", "value", 0);
    row("ResultsBox", "readOnly", false);
    row("ResultsBox", "acceptRichText", true);
    row("ResultsBox", "plainText", QString());

    // Texts.
    row("KnobLabel_15", "text", QStringLiteral("Port:"));
    row("AboutBtn", "text", QStringLiteral("Info"));
    row("groupBox_6", "title", QStringLiteral("System"));
    row("KnobLabel_16", "text", QStringLiteral("C"));
    row("QFactorLabel", "text", QStringLiteral("00%"));
    row("VoltageLabel", "text", QStringLiteral("409 mV"));
    row("groupBox_7", "title", QStringLiteral("Measurement"));
    row("ScanBtn", "text", QStringLiteral("Scan"));
    row("RateLabel", "text", QStringLiteral("9953.2 Mb"));
    row("HeightLabel", "text", QStringLiteral("Height: 0.00 UI"));
    row("HeightLabel_2", "text", QStringLiteral("Amplitude"));
    row("HeightLabel_3", "text", QStringLiteral("Lock"));
    row("WidthLabel", "text", QStringLiteral("Width: 0.00 UI"));
    row("ScanningLabel", "text", QString());
}

void TestMainWindowForm::properties()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, property);
    QFETCH(QVariant, value);

    QWidget *w = widget(name);
    QVERIFY(w);
    const QVariant actual = w->property(property.constData());
    QVERIFY2(actual.isValid(), "no such property");
    if (value.metaType() == actual.metaType()) {
        QCOMPARE(actual, value);
    } else {
        // Enumerations read back as the property's own type.
        QVERIFY2(actual.canConvert<int>() && value.canConvert<int>(), actual.typeName());
        QCOMPARE(actual.toInt(), value.toInt());
    }
}

void TestMainWindowForm::scanningLabelPalette_data()
{
    QTest::addColumn<QPalette::ColorGroup>("group");
    QTest::addColumn<QPalette::ColorRole>("role");
    QTest::addColumn<QColor>("colour");

    const QColor red(255, 0, 0), black(0, 0, 0), grey(118, 116, 108);
    QTest::newRow("active window text") << QPalette::Active << QPalette::WindowText << red;
    QTest::newRow("active text") << QPalette::Active << QPalette::Text << black;
    QTest::newRow("active button text") << QPalette::Active << QPalette::ButtonText << black;
    QTest::newRow("inactive window text") << QPalette::Inactive << QPalette::WindowText << red;
    QTest::newRow("inactive text") << QPalette::Inactive << QPalette::Text << black;
    QTest::newRow("inactive button text") << QPalette::Inactive << QPalette::ButtonText << black;
    QTest::newRow("disabled window text") << QPalette::Disabled << QPalette::WindowText << grey;
    QTest::newRow("disabled text") << QPalette::Disabled << QPalette::Text << grey;
    QTest::newRow("disabled button text") << QPalette::Disabled << QPalette::ButtonText << grey;
}

void TestMainWindowForm::scanningLabelPalette()
{
    QFETCH(QPalette::ColorGroup, group);
    QFETCH(QPalette::ColorRole, role);
    QFETCH(QColor, colour);

    const QPalette palette = m_window->form()->ScanningLabel->palette();
    const QBrush brush = palette.brush(group, role);
    QCOMPARE(brush.style(), Qt::SolidPattern);
    QCOMPARE(brush.color(), colour);
    QCOMPARE(brush.color().alpha(), 255);

    // Every other role keeps the window's colours.
    const QPalette around = m_window->form()->centralWidget->palette();
    for (QPalette::ColorRole other : {QPalette::Window, QPalette::Base, QPalette::Button, QPalette::Highlight})
        QCOMPARE(palette.brush(group, other), around.brush(group, other));
}

void TestMainWindowForm::pictures_data()
{
    QTest::addColumn<QString>("resource");
    QTest::addColumn<QSize>("pictureSize");

    QTest::newRow("Logo") << ":/new/prefix1/Logo.png" << QSize(566, 254);
    QTest::newRow("LEDCOM") << ":/new/prefix1/LED_Grey.png" << QSize(300, 300);
    QTest::newRow("LEDStat") << ":/new/prefix1/LED_Grey.png" << QSize(300, 300);
    QTest::newRow("EyePlot") << ":/new/prefix1/rotated blankcapture.bmp" << QSize(239, 254);
}

void TestMainWindowForm::pictures()
{
    QFETCH(QString, resource);
    QFETCH(QSize, pictureSize);

    auto *label = qobject_cast<QLabel *>(widget(QString::fromLatin1(QTest::currentDataTag())));
    QVERIFY(label);
    const QPixmap shown = label->pixmap();
    QVERIFY2(!shown.isNull(), "no picture shown");
    QCOMPARE(shown.size(), pictureSize);
    QVERIFY(WindowHarness::samePicture(shown, resource));
}

void TestMainWindowForm::icons_data()
{
    QTest::addColumn<QString>("resource");

    QTest::newRow("AboutBtn") << ":/new/prefix1/HelpIcon.png";
    QTest::newRow("ScanBtn") << ":/new/prefix1/Arrow.png";
}

void TestMainWindowForm::icons()
{
    QFETCH(QString, resource);

    auto *button = qobject_cast<QAbstractButton *>(widget(QString::fromLatin1(QTest::currentDataTag())));
    QVERIFY(button);
    const QImage picture(resource);
    QVERIFY2(!picture.isNull(), "the icon's picture is not compiled in");
    const QIcon icon = button->icon();
    QCOMPARE(icon.pixmap(picture.size(), QIcon::Normal, QIcon::Off).toImage(), QPixmap::fromImage(picture).toImage());
}

void TestMainWindowForm::scanButtonToolTip()
{
    const QString toolTip = m_window->form()->ScanBtn->toolTip();
    QVERIFY(Qt::mightBeRichText(toolTip));

    QTextDocument document;
    document.setHtml(toolTip);
    QCOMPARE(document.toPlainText(), QStringLiteral("Starts or Stops an Eye Scan"));
    QCOMPARE(document.blockCount(), 1);
    const QTextBlock block = document.firstBlock();
    const QTextBlockFormat paragraph = block.blockFormat();
    QCOMPARE(paragraph.topMargin(), 0.0);
    QCOMPARE(paragraph.bottomMargin(), 0.0);
    QCOMPARE(paragraph.leftMargin(), 0.0);
    QCOMPARE(paragraph.rightMargin(), 0.0);
    QCOMPARE(paragraph.indent(), 0);
    QCOMPARE(paragraph.textIndent(), 0.0);
    // The body's font reaches the text; the span sets only its size.
    const QTextCharFormat characters = block.begin().fragment().charFormat();
    QCOMPARE(characters.fontFamilies().toStringList(), QStringList{QStringLiteral("MS Shell Dlg 2")});
    QCOMPARE(characters.fontPointSize(), 8.0);
    QCOMPARE(characters.fontWeight(), int(QFont::Normal));
    QCOMPARE(characters.fontItalic(), false);
}

void TestMainWindowForm::portBoxStartsWithThePromptOnly()
{
    // The form leaves the box empty with no current item; the window then
    // puts in the prompt, which becomes current.
    const QComboBox *box = m_window->form()->PortSelBox;
    QCOMPARE(box->count(), 1);
    QCOMPARE(box->itemText(0), QStringLiteral("Select a Device"));
    QCOMPARE(box->currentIndex(), 0);
    const QSizePolicy policy = box->sizePolicy();
    QCOMPARE(policy.horizontalPolicy(), QSizePolicy::Preferred);
    QCOMPARE(policy.verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(policy.horizontalStretch(), 0);
    QCOMPARE(policy.verticalStretch(), 0);
}

void TestMainWindowForm::widgetsOutsideTheVisibleArea_data()
{
    QTest::addColumn<bool>("seen");

    QTest::newRow("ResultsBox") << false;
    QTest::newRow("lcdNumber") << false;
    QTest::newRow("spinBox") << false;
    QTest::newRow("VoltageLabel") << false;
    QTest::newRow("KnobLabel_16") << false; // below its group box's bottom edge
    QTest::newRow("ScanningLabel") << true; // only its bottom 4 rows are cut
    QTest::newRow("QFactorLabel") << true;
}

void TestMainWindowForm::widgetsOutsideTheVisibleArea()
{
    QFETCH(bool, seen);

    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QWidget *w = widget(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(w);
    // They are not hidden: they exist and take what is written to them.
    QVERIFY(w->isVisible());
    QCOMPARE(!w->visibleRegion().isEmpty(), seen);
    const QRect inWindow(w->mapTo(m_window.get(), QPoint(0, 0)), w->size());
    QCOMPARE(m_window->rect().intersects(inWindow), seen);
}

// Children of each parent from the bottom of the stack to the top.
void TestMainWindowForm::stackingOrder_data()
{
    QTest::addColumn<QStringList>("bottomToTop");

    QTest::newRow("centralWidget")
        << QStringList{"groupBox_7", "groupBox_6", "Logo", "ResultsBox", "KnobLabel_15", "AboutBtn", "label",
                       "PortSelBox", "EyePlot", "QFactorLabel", "VoltageLabel", "lcdNumber", "ScanProgressBar",
                       "spinBox", "ScanningLabel"};
    QTest::newRow("groupBox_7") << QStringList{"ScanBtn", "RateLabel", "LEDStat", "AmplitudeBar", "HeightLabel_2",
                                               "HeightLabel_3", "WidthLabel", "HeightLabel"};
    QTest::newRow("groupBox_6") << QStringList{"KnobLabel_16", "LEDCOM"};
}

void TestMainWindowForm::stackingOrder()
{
    QFETCH(QStringList, bottomToTop);

    QWidget *parent = widget(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(parent);
    // A widget's children are kept in stacking order, the topmost last.
    QStringList order;
    for (QObject *child : parent->children())
        if (child->isWidgetType() && !child->objectName().isEmpty())
            order << child->objectName();
    QCOMPARE(order, bottomToTop);
}

// Where widgets overlap, the one on top is the one the user sees and clicks.
void TestMainWindowForm::topmostWidgetAtPoint_data()
{
    QTest::addColumn<QPoint>("point"); // in window coordinates

    QTest::newRow("QFactorLabel") << QPoint(640, 55);      // over the Measurement group
    QTest::newRow("KnobLabel_15") << QPoint(520, 375);     // over the System group
    QTest::newRow("PortSelBox") << QPoint(600, 405);       // over the System group
    QTest::newRow("AboutBtn") << QPoint(510, 470);         // over the System group
    QTest::newRow("Logo") << QPoint(640, 450);             // over the System group
    QTest::newRow("label") << QPoint(640, 480);            // over Logo's bottom row
    QTest::newRow("ScanningLabel") << QPoint(520, 530);    // over the progress bar's last column
    QTest::newRow("ScanningLabel over System") << QPoint(560, 510); // over the group's bottom row
    QTest::newRow("HeightLabel_2") << QPoint(625, 120);    // over the lock lamp's bottom row
    QTest::newRow("HeightLabel") << QPoint(600, 240);      // over WidthLabel's top row
}

void TestMainWindowForm::topmostWidgetAtPoint()
{
    QFETCH(QPoint, point);

    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QWidget *found = m_window->childAt(point);
    QVERIFY(found);
    // A click inside a compound widget lands on one of its parts.
    while (found->objectName().isEmpty() || found->objectName().startsWith(QLatin1String("qt_")))
        found = found->parentWidget();
    QCOMPARE(found->objectName(), QString::fromLatin1(QTest::currentDataTag()).section(QLatin1Char(' '), 0, 0));
}

void TestMainWindowForm::screenshot()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    const QPixmap picture = m_window->grab();
    QCOMPARE(picture.size(), QSize(726, 547));

    const QString folder = qEnvironmentVariable("ZENTAVAL_TEST_ARTEFACTS");
    if (folder.isEmpty())
        QSKIP("ZENTAVAL_TEST_ARTEFACTS names no folder for the screenshot");
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(picture.save(QDir(folder).filePath(QStringLiteral("main-window.png"))));
}

QTEST_MAIN(TestMainWindowForm)
#include "tst_mainwindowform.moc"
