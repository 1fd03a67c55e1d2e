#include "eyepicture.h"
#include "io/capturefile.h"
#include "window/comparewindow.h"
#include "windowharness.h"

#include <QImageReader>
#include <QLabel>
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

QColor colourAt(const QImage &picture, int x, int y)
{
    return picture.pixelColor(x, y).toRgb();
}

// A picture as a label shows it, and an eye as EyePlot and the Compare
// window show it: twice its size.
QImage shownOn(QWidget *window, const char *label)
{
    return window->findChild<QLabel *>(label)->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
}
QImage twice(const QImage &eye)
{
    return eye.scaled(478, 508).convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TestCompare : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_window = makeWindow({});
        QVERIFY(activate(m_window.get()));
    }
    void cleanup()
    {
        m_window.reset(); // the window goes before its instrument
        m_instrument.reset();
    }
    // Each entry does its work from the menu (the cases below use the shortcuts).
    void menuEntries()
    {
        show(ringedEye(100, 50));
        choose("setReferenceAction", true);
        show(ringedEye(100, 60)); // the live eye moves on
        choose("compareAction", true);
        QTRY_VERIFY(compareWindow() && compareWindow()->isVisible());
        QCOMPARE(compareWindow()->windowTitle(), QString("Zentaval Compare"));
        QTRY_COMPARE(text(compareWindow(), "referenceOpenArea"), QString("5000 px"));
        const QString details = text(compareWindow(), "referenceDetails");
        QVERIFY2(QRegularExpression("^shown at \\d\\d:\\d\\d:\\d\\d").match(details).hasMatch(),
                 qPrintable(details));
        QCOMPARE(shownOn(compareWindow(), "referencePicture"), twice(ringedEye(100, 50)));

        // A file that is no capture picture leaves the reference as it was.
        QString said;
        answerSaveDialog(saveFile("small.png", ringedEye(100, 60).scaled(100, 100)));
        answerMessageBox(&said);
        choose("openReferenceAction", true);
        QTRY_VERIFY(!said.isEmpty());
        QVERIFY2(said.contains("small.png is no capture picture"), qPrintable(said));
        compared("5000 px");
        choose("clearReferenceAction", true);
        QVERIFY(text(compared("\u2014"), "referencePicture").startsWith("No reference."));
    }
    void outlineDrawnWhereTheReferenceOpeningEnds()
    {
        QLabel *plot = m_window->form()->EyePlot;
        show(ringedEye(100, 60));
        choose("setReferenceAction", false);
        show(ringedEye(100, 54)); // the eye closes: its ring's bottom is six rows higher
        const QImage live = plot->grab().toImage();
        QVERIFY(colourAt(live, 2 * 70, 2 * 97) != Outline); // not drawn until asked
        choose("referenceOutlineAction", false);
        const QImage drawn = plot->grab().toImage();
        QCOMPARE(drawn.size(), QSize(478, 508));
        // The reference opening spans (70, 97) to (169, 156), each pixel shown
        // as 2 x 2; the outline covers its boundary's 316 pixels and nothing else.
        for (const QPoint &edge : {QPoint(70, 97), QPoint(169, 97), QPoint(70, 156), QPoint(169, 156),
                                   QPoint(120, 97), QPoint(120, 156), QPoint(70, 130), QPoint(169, 130)}) {
            QCOMPARE(colourAt(drawn, 2 * edge.x(), 2 * edge.y()), Outline);
            QCOMPARE(colourAt(drawn, 2 * edge.x() + 1, 2 * edge.y() + 1), Outline);
        }
        int outlined = 0;
        for (int y = 0; y < drawn.height(); ++y) {
            for (int x = 0; x < drawn.width(); ++x) {
                if (colourAt(drawn, x, y) == Outline)
                    ++outlined;
                else
                    QVERIFY2(drawn.pixel(x, y) == live.pixel(x, y),
                             qPrintable(QString("%1, %2").arg(x).arg(y)));
            }
        }
        QCOMPARE(outlined, 4 * (2 * 100 + 2 * 60 - 4));
        choose("referenceOutlineAction", true); // off again: the live eye alone
        QCOMPARE(plot->grab().toImage(), live);
    }
    void compareWindowShowsTheFiguresAndFollowsTheEye()
    {
        // The reference as the instrument sent it: turned back, 24 bits.
        const QString reference
            = saveFile("reference.bmp", ringedEye(100, 60).transformed(QTransform().rotate(-90)));
        answerSaveDialog(reference);
        choose("openReferenceAction", true);
        show(ringedEye(100, 54));
        CompareWindow *window = compared("6000 px");
        QVERIFY(window->isVisible());
        QCOMPARE(text(window, "currentOpenArea"), QString("5400 px"));
        QCOMPARE(text(window, "openChange"), QString("-10.00 %"));
        QCOMPARE(text(window, "changedShare"), QString("0.35 %"));
        QVERIFY(text(window, "referenceDetails").startsWith(reference));
        QVERIFY(text(window, "currentDetails").startsWith("shown at "));
        QCOMPARE(shownOn(window, "referencePicture"), twice(ringedEye(100, 60)));

        // The difference at twice its size: grey where both rings are, red where
        // only the current one is, blue where only the reference's is.
        QCOMPARE(shownOn(window, "differencePicture"), twice(window->difference()));
        QCOMPARE(colourAt(window->difference(), 100, 96), QColor(128, 128, 128));
        QCOMPARE(colourAt(window->difference(), 100, 151), QColor(230, 0, 0));
        QCOMPARE(colourAt(window->difference(), 100, 157), QColor(0, 0, 230));

        // The next capture pass shows a wider eye: the window follows.
        show(ringedEye(100, 66));
        QTRY_COMPARE(text(window, "currentOpenArea"), QString("6600 px"));
        QCOMPARE(text(window, "openChange"), QString("10.00 %"));
        QCOMPARE(shownOn(window, "currentPicture"), twice(ringedEye(100, 66)));

        // Save Difference... writes the difference at the picture's own size.
        const QString saved = m_dir.filePath("difference.png");
        answerSaveDialog(saved);
        QTest::mouseClick(window->findChild<QPushButton *>("saveDifferenceButton"), Qt::LeftButton);
        QTRY_VERIFY(QFile::exists(saved));
        QImageReader reader(saved);
        QCOMPARE(reader.format(), QByteArray("png"));
        const QImage written = reader.read();
        QCOMPARE(written.convertToFormat(QImage::Format_RGB32),
                 window->difference().convertToFormat(QImage::Format_RGB32));
        QCOMPARE(colourAt(written, 100, 163), QColor(230, 0, 0));
    }
    // A scan of an eye that closes, outlined and compared with its golden eye;
    // the picture saved with what is known of it, opened as the reference.
    void compareFollowsAScan()
    {
        // The reference: a rendered eye as the instrument sends it. The scan: the
        // same eye with late traces crossing its opening.
        const QByteArray referenceBitmap = EyePicture::captureBitmap(11);
        const QImage eye = Capture::shownPicture(QImage::fromData(referenceBitmap));
        const QByteArray closingBitmap
            = EyePicture::bmp24(closingEye(eye).transformed(QTransform().rotate(-90)));
        const QString reference = m_dir.filePath("golden.bmp");
        QFile golden(reference);
        QVERIFY(golden.open(QIODevice::WriteOnly) && golden.write(referenceBitmap) == referenceBitmap.size());
        golden.close();

        MeasurementLimits limits;
        limits.minHeight = 2; // no eye is 2 UI high
        limits.requireLock = true;
        m_instrument = std::make_unique<SimulatedInstrument>();
        m_instrument->setIdentificationAnswer(SimulatedInstrument::defaultIdentificationAnswer(31337));
        m_instrument->setBaudRate(1000000);
        m_instrument->setCaptureSource([closingBitmap] { return closingBitmap; });
        m_window = makeWindow({m_instrument->devicePath()});
        m_window->setMeasurementLimits(limits);
        QVERIFY(activate(m_window.get()));
        QVERIFY2(connectTo(*m_window), qPrintable(m_window->form()->ResultsBox->toPlainText()));
        QSignalSpy readings(m_window->session(), &InstrumentSession::readingAccepted);
        answerSaveDialog(reference);
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

        // The window follows the scan: the file's picture, an eye that closes.
        QTRY_COMPARE(shownOn(window, "currentPicture"), twice(closingEye(eye)));
        QVERIFY(window->figures()
                && window->figures()->currentOpenArea < window->figures()->referenceOpenArea);
        // Known by the instrument and its reading when it was shown.
        const QString details = text(window, "currentDetails");
        QVERIFY2(details.startsWith("shown at ") && details.contains("Device: " + m_instrument->devicePath())
                     && details.contains("eye_height_ui: "),
                 qPrintable(details));
        QVERIFY(saveScreenshot(m_window->grab().toImage(), "outline.png"));
        QVERIFY(saveScreenshot(window->grab().toImage(), "compare.png"));

        // Save Picture As...: the picture with its instrument, device, time and
        // the last reading the window showed before it, in the log's columns.
        QVERIFY(readings.count() > 0 || readings.wait(3000));
        const QString path = m_dir.filePath("context.png");
        const QDateTime before = QDateTime::currentDateTimeUtc().addMSecs(-1000);
        answerSaveDialog(path);
        choose("savePictureAction", false);
        QTRY_VERIFY(QFile::exists(path));
        const QImage saved(path);
        QCOMPARE(saved.size(), QSize(239, 254));
        QCOMPARE(saved.text("Instrument").toLatin1(),
                 SimulatedInstrument::defaultIdentificationAnswer(31337).mid(1).chopped(1));
        QCOMPARE(saved.text("Device"), m_instrument->devicePath());
        const QDateTime time = QDateTime::fromString(saved.text("Time"), Qt::ISODateWithMs);
        QVERIFY2(time.isValid() && time.timeSpec() == Qt::UTC && time >= before
                     && time <= QDateTime::currentDateTimeUtc(),
                 qPrintable(saved.text("Time")));
        QCOMPARE(saved.text("Software"),
                 QCoreApplication::applicationName() + " " + QCoreApplication::applicationVersion());
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

        // Opened as the reference, the Compare window shows what it carries;
        // the live picture is known by the same instrument.
        answerSaveDialog(path);
        choose("openReferenceAction", true);
        QTRY_VERIFY(text(window, "referenceDetails").startsWith(path));
        const QString carried = text(window, "referenceDetails");
        QVERIFY2(carried.contains("Device: " + m_instrument->devicePath()) && carried.contains("pass: 0")
                     && carried.contains("eye_height_ui: " + saved.text("eye_height_ui")),
                 qPrintable(carried));
        QVERIFY(text(window, "currentDetails").contains("Instrument: " + saved.text("Instrument")));
    }

private:
    void choose(const char *actionName, bool fromMenu)
    {
        QVERIFY2(WindowHarness::choose(*m_window, actionName, fromMenu), actionName);
    }
    // Shows a picture on EyePlot as a Capturing pass does, and lets it paint.
    void show(const QImage &picture)
    {
        m_window->form()->EyePlot->setPixmap(QPixmap::fromImage(picture));
        m_window->form()->EyePlot->repaint();
    }
    // Opens the Compare window by its shortcut once it has `referenceArea`.
    CompareWindow *compared(const QString &referenceArea)
    {
        choose("compareAction", false);
        [&] { QTRY_COMPARE(text(compareWindow(), "referenceOpenArea"), referenceArea); }();
        return compareWindow();
    }
    static CompareWindow *compareWindow() { return topLevels<CompareWindow>().value(0); }
    static QString text(QWidget *window, const char *name)
    {
        auto *label = window ? window->findChild<QLabel *>(name) : nullptr;
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

QTEST_MAIN(TestCompare)
#include "tst_compare.moc"
