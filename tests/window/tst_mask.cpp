#include "eyepicture.h"
#include "io/capturefile.h"
#include "io/eyeoverlay.h"
#include "io/maskfile.h"
#include "io/sessionlog.h"
#include "window/commandline.h"
#include "window/eyeplotoverlay.h"
#include "windowharness.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPainter>
#include <QTemporaryDir>

using namespace WindowHarness;

namespace {

QImage shownEye(quint32 seed)
{
    return Capture::shownPicture(QImage::fromData(EyePicture::captureBitmap(seed)));
}

// The eye with a few late edges reaching into its opening from the left
// crossing: hits for a mask, the opening still one region, its middle (where
// the levels are found) unchanged.
QImage lateEdgesEye(const QImage &eye)
{
    QImage late = eye.convertToFormat(QImage::Format_RGB888);
    QPainter painter(&late);
    painter.setPen(QColor(40, 160, 150));
    for (int trace = 0; trace < 4; ++trace)
        painter.drawLine(80 + 3 * trace, 113, 100 + 3 * trace, 163);
    return late;
}

EyeMask::Mask shipped(const QString &name)
{
    return MaskFile::load(name).mask.value_or(EyeMask::Mask());
}

QString writeFile(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() ? path : QString();
}

const QByteArray SquareMask = "protocol: {name: Square, reference: the test}\n"
                              "units: {xscale: ui, yscale: amplitude}\n"
                              "conditions: {hitrate: 1e-12}\n"
                              "mask:\n  - points: [{x: -0.1, y: 0.1}, {x: 0.1, y: 0.1}, {x: 0.1, y: -0.1}, "
                              "{x: -0.1, y: -0.1}]\n";

} // namespace

class TestMask : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_window = makeWindow({});
        m_window->show();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    }
    void cleanup()
    {
        m_window.reset();
        m_instrument.reset();
    }

    void commandLine_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("maskName"); // empty: refused
        QTest::addColumn<QString>("said");
        QTest::newRow("file") << writeFile(m_dir.filePath("square.yaml"), SquareMask) << "Square" << "";
        QTest::newRow("unknown name") << "no-such-mask" << "" << "--mask no-such-mask: ";
        QTest::newRow("no mask") << writeFile(m_dir.filePath("bad.yaml"), "protocol: {name: x}\nmask: 3\n")
                                 << "" << "line ";
    }
    void commandLine()
    {
        QFETCH(QString, value);
        QFETCH(QString, maskName);
        QFETCH(QString, said);
        QCommandLineParser parser;
        QString error;
        const auto line = parseCommandLine(parser, {"zentaval", "--mask", value}, &error);
        QCOMPARE(line && line->mask ? line->mask->name : QString(), maskName);
        QVERIFY2(error.contains(said), qPrintable(error));
        QVERIFY(parser.helpText().contains("--mask <NAME|FILE>"));
    }

    // The entries, Ctrl+M, a choice, a change made elsewhere (a remote client),
    // a file that is no mask refused and one that is.
    void menuChoosesTheMaskAndFollowsIt()
    {
        QCOMPARE(maskEntries(false),
                 QStringList({"None", "nrz-hexagon", "sff8431-host-tx", "Open Mask File..."}));
        QCOMPARE(maskEntries(true), QStringList {"None"});
        QTest::keySequence(m_window.get(), QKeySequence(Qt::CTRL | Qt::Key_M));
        auto *popup = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QVERIFY(popup && popup->objectName() == "maskMenu");
        QTest::mouseClick(popup, Qt::LeftButton, {}, popup->actionGeometry(popup->actions().at(1)).center());
        QCOMPARE(m_window->session()->mask().value_or(EyeMask::Mask()).name, shipped("nrz-hexagon").name);
        QCOMPARE(maskEntries(true), QStringList {"nrz-hexagon"});

        m_window->session()->setMask(shipped("sff8431-host-tx"));
        QCOMPARE(maskEntries(true), QStringList {"sff8431-host-tx"});

        const auto open = [this](const QString &file) {
            answerSaveDialog(file);
            m_window->findChild<QAction *>("openMaskAction")->trigger();
        };
        QString said;
        answerMessageBox(&said);
        open(writeFile(m_dir.filePath("three.yaml"), "protocol: {name: x}\nunits: {xscale: ui, yscale: v}\n"
                                                     "mask:\n  - points: [{x: 0, y: 0}]\n"));
        QTRY_VERIFY(!said.isEmpty());
        QVERIFY2(said.contains("three.yaml is no mask file") && said.contains("line "), qPrintable(said));
        QCOMPARE(maskEntries(true), QStringList {"sff8431-host-tx"});

        open(writeFile(m_dir.filePath("square.yaml"), SquareMask));
        QTRY_COMPARE(maskEntries(true), QStringList {"Square (from a file)"});
        const QString corner = EyeOverlay::cornerLine(overlay()->layers());
        QVERIFY2(corner.startsWith("Square: ") && corner.endsWith(" (file's hit rate 1e-12 not applied)"),
                 qPrintable(corner));
        m_window->findChild<QAction *>("noMaskAction")->trigger();
        QVERIFY(!m_window->session()->mask());
        QCOMPARE(maskEntries(true), QStringList {"None"});
    }

    void overlayOverALiveEye_data()
    {
        QTest::addColumn<QImage>("picture");
        QTest::addColumn<bool>("hits");
        QTest::newRow("clean eye") << shownEye(11) << false;
        QTest::newRow("late edges") << lateEdgesEye(shownEye(11)) << true;
        QImage black(239, 254, QImage::Format_RGB888);
        black.fill(Qt::black);
        QTest::newRow("no eye") << black << false;
    }
    // Over the live eye, at twice its size, the nrz-hexagon mask: its light
    // fill where it lies on the background, red on each hit, the picture as
    // it is elsewhere; the picture is judged as the rules judge it.
    void overlayOverALiveEye()
    {
        QFETCH(QImage, picture);
        QFETCH(bool, hits);
        QLabel *plot = m_window->form()->EyePlot;
        show(picture);
        const QImage plain = plot->grab().toImage().convertToFormat(QImage::Format_RGB32);
        m_window->session()->setMask(shipped("nrz-hexagon"));
        show(lateEdgesEye(shownEye(11)).mirrored(true, false)); // the pass before: judged afresh
        show(picture);
        const QImage drawn = plot->grab().toImage().convertToFormat(QImage::Format_RGB32);

        const EyeMask::Result expected = MaskFile::judgePicture(picture, shipped("nrz-hexagon"), {});
        const std::optional<EyeMask::Result> live = overlay()->liveJudgement();
        QVERIFY(live);
        QCOMPARE(live->hits.pixels, expected.hits.pixels);
        QCOMPARE(EyeOverlay::cornerLine(overlay()->layers()), EyeMask::summary(expected));
        QCOMPARE(EyeOverlay::annotated(picture, overlay()->layers()), drawn); // as the tool writes it
        QCOMPARE(expected.hits.total > 0, hits);
        for (const QPoint &hit : expected.hits.pixels)
            QCOMPARE(drawn.pixelColor(2 * hit.x() + 1, 2 * hit.y() + 1), EyeOverlay::HitColour);
        if (!expected.hasEye()) { // only the corner line is drawn
            QCOMPARE(drawn.copy(0, 60, 478, 448), plain.copy(0, 60, 478, 448));
            return;
        }
        // Inside the mask around the eye centre, unoccupied pixels are the fill over black.
        const QPoint centre = expected.search.eye->centre().toPoint();
        const int alpha = EyeOverlay::MaskFillAlpha;
        for (QPoint pixel = centre - QPoint(0, 3); pixel.y() <= centre.y() + 3; ++pixel.ry()) {
            const QColor colour = drawn.pixelColor(2 * pixel.x(), 2 * pixel.y());
            QVERIFY2(expected.hits.pixels.contains(pixel)
                         || (qAbs(colour.green() - 230 * alpha / 255) <= 2
                             && qAbs(colour.blue() - 255 * alpha / 255) <= 2),
                     qPrintable(colour.name()));
        }
        // Far from the eye's middle (right edge, halfway between the ticks) the picture is as it is.
        QCOMPARE(drawn.pixel(470, 2 * centre.y() + 30), plain.pixel(470, 2 * centre.y() + 30));
        QVERIFY(saveScreenshot(drawn,
                               "overlay-" + QString(QTest::currentDataTag()).replace(' ', '-') + ".png"));
    }

    void maskJudgesEachScan_data()
    {
        QTest::addColumn<QImage>("picture");
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("log");
        QTest::newRow("clean eye, CSV log") << shownEye(11) << "nrz-hexagon" << "log.csv";
        QTest::newRow("late edges, JSON Lines log")
            << lateEdgesEye(shownEye(11)) << "sff8431-host-tx" << "log.jsonl";
    }
    // A scan judged by the mask given on the command line: the corner line says
    // what the session found, the saved PNG carries it, the log notes it.
    void maskJudgesEachScan()
    {
        QFETCH(QImage, picture);
        QFETCH(QString, mask);
        QFETCH(QString, log);
        m_window.reset();
        m_instrument = std::make_unique<SimulatedInstrument>();
        m_instrument->setBaudRate(1000000);
        const QByteArray bitmap = EyePicture::bmp24(picture.transformed(QTransform().rotate(-90)));
        m_instrument->setCaptureSource([bitmap] { return bitmap; });
        m_window = makeWindow({m_instrument->devicePath()});
        QCommandLineParser parser;
        m_window->session()->setMask(parseCommandLine(parser, {"zentaval", "--mask", mask}, nullptr)->mask);
        m_window->show();
        QVERIFY(connectTo(*m_window));
        const QString logFile = m_dir.filePath(log);
        QVERIFY(m_window->startMeasurementLog(logFile));

        const QString capture = m_dir.filePath("scanned.bmp");
        scanInto(*m_window, capture);
        QTRY_VERIFY_WITH_TIMEOUT(m_window->session()->maskResult(), 15000);
        QTRY_COMPARE_WITH_TIMEOUT(m_window->session()->scan(), InstrumentSession::Scan::Idle, 3000);
        const EyeMask::Result result = *m_window->session()->maskResult();
        QVERIFY2(result.judged(), qPrintable(EyeMask::summary(result)));
        QTRY_COMPARE(EyeOverlay::cornerLine(overlay()->layers()), EyeMask::summary(result));
        QVERIFY(saveScreenshot(m_window->grab().toImage(), result.hits.total ? "mask-hits.png" : "mask.png"));

        const QString saved = m_dir.filePath("judged.png");
        answerSaveDialog(saved);
        m_window->findChild<QAction *>("savePictureAction")->trigger();
        QTRY_VERIFY(QFile::exists(saved));
        const QImage png(saved);
        QStringList texts;
        for (const char *key : {"mask", "mask_hits", "mask_margin_pct", "mask_pass"})
            texts << png.text(key);
        QCOMPARE(texts, QStringList({result.maskName, QString::number(result.hits.total),
                                     QString::number(result.marginPercent), result.pass ? "1" : "0"}));
        QFile::remove(saved);

        const QString written = QString::fromUtf8(fileBytes(logFile));
        const QStringList noted = written.split('\n').filter(QRegularExpression("^(# mask |\\{\"mask\")"));
        QCOMPARE(noted.size(), 1);
        if (log.endsWith(".csv")) {
            QVERIFY2(noted[0].endsWith(" " + EyeMask::summary(result) + ", capture " + capture),
                     qPrintable(written));
            return;
        }
        QCOMPARE(QJsonDocument::fromJson(noted[0].toUtf8()).object().value("mask").toObject(),
                 QJsonObject({{"name", result.maskName}, {"hits", qint64(result.hits.total)},
                              {"margin_pct", result.marginPercent}, {"pass", result.pass},
                              {"capture", capture}}));
    }

private:
    EyePlotOverlay *overlay() const { return m_window->findChild<EyePlotOverlay *>("EyePlotOverlay"); }
    QStringList maskEntries(bool checkedOnly) const
    {
        QStringList texts;
        for (QAction *entry : m_window->findChild<QMenu *>("maskMenu")->actions())
            if (entry->isVisible() && !entry->isSeparator() && (!checkedOnly || entry->isChecked()))
                texts << entry->text();
        return texts;
    }
    void show(const QImage &picture)
    {
        m_window->form()->EyePlot->setPixmap(QPixmap::fromImage(picture));
        m_window->form()->EyePlot->repaint();
    }

    QTemporaryDir m_dir;
    std::unique_ptr<SimulatedInstrument> m_instrument;
    std::unique_ptr<MainWindow> m_window;
};

QTEST_MAIN(TestMask)
#include "tst_mask.moc"
