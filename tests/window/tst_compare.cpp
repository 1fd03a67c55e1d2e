#include "eyepicture.h"
#include "io/capturefile.h"
#include "io/picturefile.h"
#include "window/comparewindow.h"
#include "windowharness.h"

#include <QDir>
#include <QImageReader>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace WindowHarness;

namespace {

const QColor Outline(255, 40, 255);
const QColor Trace(60, 200, 90);

// An eye as EyePlot shows it (239 x 254): black, with a ring of traces one
// pixel wide around a black rectangle of `width` x `height` pixels whose top
// left corner is at (70, 97).
QImage ringedEye(int width, int height)
{
    QImage picture(239, 254, QImage::Format_RGB888);
    picture.fill(Qt::black);
    QPainter painter(&picture);
    painter.setPen(Trace);
    painter.drawRect(69, 96, width + 1, height + 1);
    return picture;
}

// A rendered eye with late traces crossing its opening: an eye that closes.
QImage closingEye(const QImage &eye)
{
    QImage closing = eye.convertToFormat(QImage::Format_RGB888);
    QPainter painter(&closing);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int trace = 0; trace < 6; ++trace) {
        painter.setPen(QPen(QColor(40, 120 + 20 * trace, 200 - 25 * trace), 1.2));
        QPainterPath path(QPointF(0, 60 + 6 * trace));
        path.cubicTo(QPointF(80, 70 + 9 * trace), QPointF(150, 150 + 5 * trace),
                     QPointF(239, 170 + 4 * trace));
        painter.drawPath(path);
    }
    return closing;
}

// Opens the context menu as a right click on `widget` does; the menu shown, or null.
QMenu *rightClick(QWidget *widget)
{
    const QPoint point(widget->width() / 2, widget->height() / 2);
    QContextMenuEvent event(QContextMenuEvent::Mouse, point, widget->mapToGlobal(point));
    QApplication::sendEvent(widget, &event);
    return qobject_cast<QMenu *>(QApplication::activePopupWidget());
}

// Answers the next open dialog with `fileName`.
void answerOpenDialog(const QString &fileName, int triesLeft = 30)
{
    QTimer::singleShot(100, [fileName, triesLeft] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog) {
            if (triesLeft > 0)
                answerOpenDialog(fileName, triesLeft - 1);
            return;
        }
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(fileName);
        QTimer::singleShot(0, dialog, [dialog] { QMetaObject::invokeMethod(dialog, "accept"); });
    });
}

// Answers the next message box with OK and keeps its text.
void answerMessageBox(QString *text, int triesLeft = 60)
{
    QTimer::singleShot(50, [text, triesLeft] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box && triesLeft > 0)
            return answerMessageBox(text, triesLeft - 1);
        if (!box)
            return;
        *text = box->text();
        box->button(QMessageBox::Ok)->click();
    });
}

void saveScreenshot(const QImage &picture, const QString &name)
{
    const QString folder = qEnvironmentVariable("ZENTAVAL_TEST_ARTEFACTS");
    QVERIFY(folder.isEmpty() || (QDir().mkpath(folder) && picture.save(QDir(folder).filePath(name))));
}

QColor colourAt(const QImage &picture, int x, int y)
{
    return picture.pixelColor(x, y).toRgb();
}

} // namespace

class TestCompare : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void menuEntries_data();
    void menuEntries();
    void referenceComesFromTheEyeOrAFile_data();
    void referenceComesFromTheEyeOrAFile();
    void fileThatIsNoCaptureLeavesTheReference();
    void outlineDrawnWhereTheReferenceOpeningEnds();
    void compareWindowShowsTheFiguresAndFollowsTheEye();
    void savedPictureCarriesItsContext();
    void compareFollowsAScan();

private:
    void activate(QWidget *widget)
    {
        widget->show();
        widget->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(widget));
    }
    // Chooses an entry from the context menu, or presses its shortcut.
    void choose(const char *actionName, bool fromMenu)
    {
        auto *action = m_window->findChild<QAction *>(actionName);
        QVERIFY2(action, actionName);
        if (!fromMenu) {
            activate(m_window.get());
            return QTest::keySequence(m_window.get(), action->shortcut());
        }
        QMenu *menu = rightClick(m_window->form()->EyePlot);
        QVERIFY(menu);
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
    }
    // Shows a picture on EyePlot as a Capturing pass does, and lets it paint.
    void show(const QImage &picture)
    {
        m_window->form()->EyePlot->setPixmap(QPixmap::fromImage(picture));
        m_window->form()->EyePlot->repaint();
    }
    static CompareWindow *compareWindow()
    {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *window = qobject_cast<CompareWindow *>(widget))
                return window;
        return nullptr;
    }
    static QString text(QWidget *window, const char *name)
    {
        auto *label = window->findChild<QLabel *>(name);
        return label ? label->text() : QString("no label %1").arg(name);
    }
    QString saveFile(const QString &name, const QImage &picture)
    {
        const QString path = m_dir.filePath(name);
        return picture.save(path) ? path : QString();
    }

    QTemporaryDir m_dir;
    std::unique_ptr<SimulatedInstrument> m_instrument;
    std::unique_ptr<MainWindow> m_window;
};

void TestCompare::init()
{
    m_window = makeWindow({});
    activate(m_window.get());
}

void TestCompare::cleanup()
{
    m_window.reset(); // the window goes before its instrument
    m_instrument.reset();
}

void TestCompare::menuEntries_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("entry");
    QTest::newRow("Set as Reference") << "setReferenceAction"
                                      << "Set as Reference Ctrl+Shift+R";
    QTest::newRow("Open Reference...") << "openReferenceAction"
                                       << "Open Reference... ";
    QTest::newRow("Clear Reference") << "clearReferenceAction"
                                     << "Clear Reference ";
    QTest::newRow("Show Reference Outline") << "referenceOutlineAction"
                                            << "Show Reference Outline Ctrl+Shift+O";
    QTest::newRow("Compare") << "compareAction"
                             << "Compare Ctrl+K";
}

void TestCompare::menuEntries()
{
    QFETCH(QString, action);
    QFETCH(QString, entry);
    QMenu *menu = rightClick(m_window->form()->EyePlot);
    QVERIFY(menu);
    QStringList entries;
    for (QAction *shown : menu->actions())
        entries << shown->text() + " " + shown->shortcut().toString();
    menu->hide();
    QVERIFY2(entries.contains(entry), qPrintable(entries.join(" | ")));
    QVERIFY(m_window->findChild<QAction *>(action.toLatin1().constData()));

    // Each entry does its work from the menu and from its shortcut.
    for (const bool fromMenu : {true, false}) {
        if (action == "compareAction") {
            choose("compareAction", fromMenu);
            QTRY_VERIFY(compareWindow() && compareWindow()->isVisible());
            QCOMPARE(compareWindow()->windowTitle(), QString("Zentaval Compare"));
            compareWindow()->close();
        } else if (action == "referenceOutlineAction") {
            auto *outline = m_window->findChild<QAction *>("referenceOutlineAction");
            const bool was = outline->isChecked();
            choose("referenceOutlineAction", fromMenu);
            QCOMPARE(outline->isChecked(), !was);
        } else if (action == "setReferenceAction") {
            show(ringedEye(100, 60 - 10 * fromMenu));
            choose("setReferenceAction", fromMenu);
            choose("compareAction", false);
            QTRY_VERIFY(compareWindow());
            QCOMPARE(text(compareWindow(), "referenceOpenArea"),
                     fromMenu ? QString("5000 px") : QString("6000 px"));
        } else if (action == "clearReferenceAction") {
            show(ringedEye(100, 60));
            choose("setReferenceAction", false);
            if (!fromMenu)
                continue; // no shortcut
            choose("clearReferenceAction", true);
            choose("compareAction", false);
            QTRY_VERIFY(compareWindow());
            QCOMPARE(text(compareWindow(), "referenceOpenArea"), QString("\u2014"));
            QVERIFY(text(compareWindow(), "referencePicture").startsWith("No reference."));
        } else if (action == "openReferenceAction") {
            if (!fromMenu)
                continue; // no shortcut
            answerOpenDialog(saveFile("opened.png", ringedEye(50, 40)));
            choose("openReferenceAction", true);
            choose("compareAction", false);
            QTRY_VERIFY(compareWindow());
            QTRY_COMPARE(text(compareWindow(), "referenceOpenArea"), QString("2000 px"));
        }
    }
}

void TestCompare::referenceComesFromTheEyeOrAFile_data()
{
    QTest::addColumn<QString>("source"); // "shown", or the file's name
    QTest::newRow("the picture shown") << "shown";
    QTest::newRow("a BMP as captured") << "eye.bmp";
    QTest::newRow("a PNG as saved") << "eye.png";
}

void TestCompare::referenceComesFromTheEyeOrAFile()
{
    QFETCH(QString, source);
    const QImage eye = Capture::shownPicture(QImage::fromData(EyePicture::captureBitmap(7)));
    QString origin;
    if (source == "shown") {
        show(eye);
        choose("setReferenceAction", false);
    } else {
        const QString path = m_dir.filePath(source);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        if (source.endsWith(".bmp"))
            file.write(EyePicture::captureBitmap(7));
        else
            QVERIFY(eye.save(&file, "PNG"));
        file.close();
        answerOpenDialog(path);
        choose("openReferenceAction", true);
        origin = path;
    }
    show(ringedEye(100, 60)); // the live eye moves on
    choose("compareAction", false);
    QTRY_VERIFY(compareWindow());
    auto *reference = compareWindow()->findChild<QLabel *>("referencePicture");
    QTRY_VERIFY(!reference->pixmap().isNull());
    QCOMPARE(reference->pixmap().size(), QSize(478, 508));
    QCOMPARE(reference->pixmap().toImage().convertToFormat(QImage::Format_RGB32),
             eye.scaled(478, 508).convertToFormat(QImage::Format_RGB32));
    const QString details = text(compareWindow(), "referenceDetails");
    if (origin.isEmpty())
        QVERIFY2(QRegularExpression("^shown at \\d\\d:\\d\\d:\\d\\d").match(details).hasMatch(),
                 qPrintable(details));
    else
        QVERIFY2(details.startsWith(origin), qPrintable(details));
}

void TestCompare::fileThatIsNoCaptureLeavesTheReference()
{
    show(ringedEye(100, 60));
    choose("setReferenceAction", false);
    QString said;
    answerOpenDialog(saveFile("small.png", ringedEye(100, 60).scaled(100, 100)));
    answerMessageBox(&said);
    choose("openReferenceAction", true);
    QTRY_VERIFY(!said.isEmpty());
    QVERIFY2(said.contains("small.png is no capture picture"), qPrintable(said));
    choose("compareAction", false);
    QTRY_VERIFY(compareWindow());
    QCOMPARE(text(compareWindow(), "referenceOpenArea"), QString("6000 px"));
}

void TestCompare::outlineDrawnWhereTheReferenceOpeningEnds()
{
    QLabel *plot = m_window->form()->EyePlot;
    show(ringedEye(100, 60));
    choose("setReferenceAction", false);
    // The eye closes: its ring's bottom is six rows higher.
    show(ringedEye(100, 54));
    const QImage live = plot->grab().toImage();
    choose("referenceOutlineAction", false);
    QImage drawn = plot->grab().toImage();
    QCOMPARE(drawn.size(), QSize(478, 508));
    // The reference opening spans (70, 97) to (169, 156); EyePlot shows each
    // pixel as 2 x 2.
    for (const QPoint &edge : {QPoint(70, 97), QPoint(169, 97), QPoint(70, 156), QPoint(169, 156),
                               QPoint(120, 97), QPoint(120, 156), QPoint(70, 130), QPoint(169, 130)}) {
        for (const QPoint &corner : {QPoint(0, 0), QPoint(1, 1)})
            QVERIFY2(colourAt(drawn, 2 * edge.x() + corner.x(), 2 * edge.y() + corner.y()) == Outline,
                     qPrintable(QString("(%1, %2)").arg(edge.x()).arg(edge.y())));
    }
    // Elsewhere the live eye shows as it did: the outline covers the
    // boundary's 316 pixels, 2 x 2 each, and nothing else.
    int outlined = 0;
    for (int y = 0; y < drawn.height(); ++y) {
        for (int x = 0; x < drawn.width(); ++x) {
            if (colourAt(drawn, x, y) == Outline)
                ++outlined;
            else
                QVERIFY2(drawn.pixel(x, y) == live.pixel(x, y), qPrintable(QString("%1, %2").arg(x).arg(y)));
        }
    }
    QCOMPARE(outlined, 4 * (2 * 100 + 2 * 60 - 4));
    QCOMPARE(colourAt(drawn, 2 * 120, 2 * 120), QColor(Qt::black));
    QVERIFY(colourAt(drawn, 2 * 120, 2 * 151).green() > 40); // the live ring inside the outline

    // Off again, the live eye alone.
    choose("referenceOutlineAction", true);
    drawn = plot->grab().toImage();
    QCOMPARE(colourAt(drawn, 2 * 120, 2 * 156), QColor(Qt::black));
    QCOMPARE(drawn, live);
}

void TestCompare::compareWindowShowsTheFiguresAndFollowsTheEye()
{
    // The reference as the instrument sent it: turned back, 24 bits.
    const QString reference
        = saveFile("reference.bmp", ringedEye(100, 60).transformed(QTransform().rotate(-90)));
    answerOpenDialog(reference);
    choose("openReferenceAction", true);
    show(ringedEye(100, 54));
    choose("compareAction", false);
    QTRY_VERIFY(compareWindow() && compareWindow()->isVisible());
    CompareWindow *window = compareWindow();
    QTRY_COMPARE(text(window, "referenceOpenArea"), QString("6000 px"));
    QCOMPARE(text(window, "currentOpenArea"), QString("5400 px"));
    QCOMPARE(text(window, "openChange"), QString("-10.00 %"));
    QCOMPARE(text(window, "changedShare"), QString("0.35 %"));
    QVERIFY(text(window, "referenceDetails").startsWith(reference));
    QVERIFY(text(window, "currentDetails").startsWith("shown at "));

    // The difference at twice its size: grey where both rings are, red where
    // only the current one is, blue where only the reference's is.
    const QImage difference = window->findChild<QLabel *>("differencePicture")->pixmap().toImage();
    QCOMPARE(difference.size(), QSize(478, 508));
    QCOMPARE(colourAt(difference, 2 * 100, 2 * 96), QColor(128, 128, 128));
    QCOMPARE(colourAt(difference, 2 * 100 + 1, 2 * 151 + 1), QColor(230, 0, 0));
    QCOMPARE(colourAt(difference, 2 * 100, 2 * 157), QColor(0, 0, 230));
    QCOMPARE(colourAt(difference, 2 * 100, 2 * 120), QColor(Qt::black));

    // The next capture pass shows a wider eye: the window follows.
    show(ringedEye(100, 66));
    QTRY_COMPARE(text(window, "currentOpenArea"), QString("6600 px"));
    QCOMPARE(text(window, "openChange"), QString("10.00 %"));
    QCOMPARE(window->findChild<QLabel *>("currentPicture")
                 ->pixmap()
                 .toImage()
                 .convertToFormat(QImage::Format_RGB32),
             ringedEye(100, 66).scaled(478, 508).convertToFormat(QImage::Format_RGB32));

    // Save Difference... writes the difference at the picture's own size.
    const QString saved = m_dir.filePath("difference.png");
    answerSaveDialog(saved);
    QTest::mouseClick(window->findChild<QPushButton *>("saveDifferenceButton"), Qt::LeftButton);
    QTRY_VERIFY(QFile::exists(saved));
    QImageReader reader(saved);
    QCOMPARE(reader.format(), QByteArray("png"));
    const QImage written = reader.read();
    QCOMPARE(written.size(), QSize(239, 254));
    QCOMPARE(written.convertToFormat(QImage::Format_RGB32),
             window->difference().convertToFormat(QImage::Format_RGB32));
    QCOMPARE(colourAt(written, 100, 163), QColor(230, 0, 0));
}

void TestCompare::savedPictureCarriesItsContext()
{
    MeasurementLimits limits;
    limits.minHeight = 2; // no eye is 2 UI high
    limits.requireLock = true;
    m_window.reset();
    m_instrument = std::make_unique<SimulatedInstrument>();
    m_instrument->setIdentificationAnswer(SimulatedInstrument::defaultIdentificationAnswer(31337));
    m_window = makeWindow({m_instrument->devicePath()});
    m_window->setMeasurementLimits(limits);
    activate(m_window.get());
    QSignalSpy readings(m_window->session(), &InstrumentSession::readingAccepted);
    QSignalSpy connected(m_window->session(), &InstrumentSession::connected);
    QVERIFY2(connectTo(*m_window), qPrintable(m_window->form()->ResultsBox->toPlainText() + " | rows: " + rows(*m_window).join(", ")));
    QVERIFY(readings.wait(3000));
    show(ringedEye(100, 60));

    const QString path = m_dir.filePath("context.png");
    const QDateTime before = QDateTime::currentDateTimeUtc().addMSecs(-1000);
    answerSaveDialog(path);
    choose("savePictureAction", false);
    QTRY_VERIFY(QFile::exists(path));

    const QImage saved(path);
    QCOMPARE(saved.size(), QSize(239, 254));
    QCOMPARE(saved.text("Instrument"), connected.last().at(0).toString());
    QVERIFY2(saved.text("Instrument").contains("31337"), qPrintable(saved.text("Instrument")));
    QCOMPARE(saved.text("Device"), m_instrument->devicePath());
    QDateTime time = QDateTime::fromString(saved.text("Time"), Qt::ISODateWithMs);
    QVERIFY2(time.isValid() && time.timeSpec() == Qt::UTC && time >= before
                 && time <= QDateTime::currentDateTimeUtc(),
             qPrintable(saved.text("Time")));
    QCOMPARE(saved.text("Software"),
             QCoreApplication::applicationName() + " " + QCoreApplication::applicationVersion());
    // The reading in the log's columns: the last one the window showed
    // before the picture was taken.
    MeasurementRow shown;
    for (const QList<QVariant> &signal : std::as_const(readings)) {
        const auto row = signal.at(1).value<MeasurementRow>();
        if (row.time <= time)
            shown = row;
    }
    const QStringList cells = QString::fromLatin1(csvLine(shown)).trimmed().split(',');
    const QStringList columns = QString::fromLatin1(csvHeader()).trimmed().split(',');
    for (int column = 0; column < 8; ++column)
        QCOMPARE(saved.text(columns.at(column)), cells.at(column));
    QCOMPARE(saved.text("lamp"), QString("green"));
    QCOMPARE(saved.text("limits"), QString("eye_height_ui>=2 lamp=green"));
    QCOMPARE(saved.text("pass"), QString("0"));

    // Opened as the reference, the Compare window shows what it carries.
    answerOpenDialog(path);
    choose("openReferenceAction", true);
    choose("compareAction", false);
    QTRY_VERIFY(compareWindow());
    QTRY_VERIFY(text(compareWindow(), "referenceDetails").startsWith(path));
    const QString details = text(compareWindow(), "referenceDetails");
    QVERIFY2(details.contains("Device: " + m_instrument->devicePath()) && details.contains("pass: 0")
                 && details.contains("eye_height_ui: " + saved.text("eye_height_ui")),
             qPrintable(details));
    // The live picture is known by the same instrument and its reading.
    QTRY_VERIFY(text(compareWindow(), "currentDetails").contains("Instrument: " + saved.text("Instrument")));
}

void TestCompare::compareFollowsAScan()
{
    // The reference: a rendered eye as the instrument sends it. The scan: the
    // same eye with late traces crossing its opening.
    const QByteArray referenceBitmap = EyePicture::captureBitmap(11);
    const QImage eye = Capture::shownPicture(QImage::fromData(referenceBitmap));
    const QByteArray closingBitmap = EyePicture::bmp24(closingEye(eye).transformed(QTransform().rotate(-90)));
    const QString reference = m_dir.filePath("golden.bmp");
    QFile golden(reference);
    QVERIFY(golden.open(QIODevice::WriteOnly) && golden.write(referenceBitmap) == referenceBitmap.size());
    golden.close();

    m_window.reset();
    m_instrument = std::make_unique<SimulatedInstrument>();
    m_instrument->setBaudRate(1000000);
    m_instrument->setCaptureSource([closingBitmap] { return closingBitmap; });
    m_window = makeWindow({m_instrument->devicePath()});
    activate(m_window.get());
    QVERIFY2(connectTo(*m_window), qPrintable(m_window->form()->ResultsBox->toPlainText() + " | rows: " + rows(*m_window).join(", ")));
    answerOpenDialog(reference);
    choose("openReferenceAction", true);
    choose("referenceOutlineAction", false);
    choose("compareAction", false);
    QTRY_VERIFY(compareWindow() && compareWindow()->isVisible());
    CompareWindow *window = compareWindow();

    const QString capture = m_dir.filePath("scanned.bmp");
    scanInto(*m_window, capture);
    QTRY_COMPARE_WITH_TIMEOUT(m_window->form()->ScanProgressBar->value(), 100, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(m_window->session()->scan(), InstrumentSession::Scan::Idle, 3000);
    QCOMPARE(fileBytes(capture), closingBitmap);

    // The window compares the file's picture with the reference's.
    const EyeComparison::Occupancy before = EyeComparison::occupancy(
        PictureFile::rgbPixels(PictureFile::loadCapturePicture(reference).picture));
    const EyeComparison::Occupancy after
        = EyeComparison::occupancy(PictureFile::rgbPixels(PictureFile::loadCapturePicture(capture).picture));
    const EyeComparison::Figures expected = *EyeComparison::compare(before, after);
    QVERIFY(expected.referenceOpenArea > 5000 && expected.currentOpenArea < expected.referenceOpenArea);
    QTRY_COMPARE(window->figures().value_or(EyeComparison::Figures()).currentOpenArea,
                 expected.currentOpenArea);
    QCOMPARE(window->figures()->referenceOpenArea, expected.referenceOpenArea);
    QCOMPARE(window->figures()->changedPercent, expected.changedPercent);
    QCOMPARE(text(window, "currentOpenArea"), QString("%1 px").arg(expected.currentOpenArea));
    QCOMPARE(window->findChild<QLabel *>("currentPicture")
                 ->pixmap()
                 .toImage()
                 .convertToFormat(QImage::Format_RGB32),
             closingEye(eye).scaled(478, 508).convertToFormat(QImage::Format_RGB32));
    // Known by the instrument and its reading when it was shown.
    const QString details = text(window, "currentDetails");
    QVERIFY2(details.startsWith("shown at ") && details.contains("Device: " + m_instrument->devicePath())
                 && details.contains("eye_height_ui: "),
             qPrintable(details));

    saveScreenshot(m_window->grab().toImage(), "outline.png");
    saveScreenshot(window->grab().toImage(), "compare.png");
    // The two files, for zentaval-cli compare.
    const QString artefacts = qEnvironmentVariable("ZENTAVAL_TEST_ARTEFACTS");
    if (!artefacts.isEmpty()) {
        QFile::remove(artefacts + "/golden.bmp");
        QFile::remove(artefacts + "/board.bmp");
        QVERIFY(QFile::copy(reference, artefacts + "/golden.bmp")
                && QFile::copy(capture, artefacts + "/board.bmp"));
    }
}

QTEST_MAIN(TestCompare)
#include "tst_compare.moc"
