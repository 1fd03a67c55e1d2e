// The cost of comparing two eyes: the figures for two pictures (as the
// Compare window and zentaval-cli compare work them out), the Compare
// window following one new picture, and EyePlot's repaint with the
// reference outline over it beside the repaint without; the same with the
// mask test drawn over it (the mask, its hits, the eye found, the corner
// line), for a repaint alone and for a new picture, which is judged.

#include "eyepicture.h"
#include "io/capturefile.h"
#include "io/instrumentsession.h"
#include "io/maskfile.h"
#include "io/picturefile.h"
#include "io/serialports.h"
#include "rules/eyecomparison.h"
#include "window/comparewindow.h"
#include "window/mainwindow.h"
#include "window/mainwindowui.h"
#include "window/picturecomparison.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QWindow>

#include <memory>

namespace {

QImage shownEye(quint32 seed)
{
    return Capture::shownPicture(QImage::fromData(EyePicture::captureBitmap(seed)));
}

// The eye with late traces crossing its opening.
QImage closingEye(const QImage &eye)
{
    QImage closing = eye.convertToFormat(QImage::Format_RGB888);
    QPainter painter(&closing);
    painter.setPen(QColor(40, 160, 150));
    for (int trace = 0; trace < 6; ++trace)
        painter.drawLine(0, 60 + 6 * trace, 239, 170 + 4 * trace);
    return closing;
}

// The figures for two pictures from the pictures themselves: plain pixels,
// occupancy, both openings, the changed share.
void CompareTwoPictures(benchmark::State &state)
{
    const QImage reference = shownEye(11);
    const QImage current = closingEye(reference);
    for (auto _ : state) {
        const auto figures
            = EyeComparison::compare(EyeComparison::occupancy(PictureFile::rgbPixels(reference)),
                                     EyeComparison::occupancy(PictureFile::rgbPixels(current)));
        benchmark::DoNotOptimize(figures);
    }
}
BENCHMARK(CompareTwoPictures)->Unit(benchmark::kMicrosecond)->UseRealTime();

// One opening alone, the largest part of the figures.
void EyeOpening(benchmark::State &state)
{
    const EyeComparison::Occupancy occupancy = EyeComparison::occupancy(PictureFile::rgbPixels(shownEye(11)));
    for (auto _ : state)
        benchmark::DoNotOptimize(EyeComparison::eyeOpening(occupancy).area);
}
BENCHMARK(EyeOpening)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The real main window, shown, with a rendered eye on EyePlot.
class WindowBench
{
public:
    explicit WindowBench(benchmark::State &state)
    {
        window = std::make_unique<MainWindow>(
            std::make_unique<SystemSerialPorts>(QStringList(), SystemSerialPorts::Enumeration::ExtraOnly));
        comparison = window->findChild<PictureComparison *>(QStringLiteral("PictureComparison"));
        eyePlot = window->form()->EyePlot;
        window->show();
        for (int i = 0; i < 100 && !(window->windowHandle() && window->windowHandle()->isExposed()); ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (!comparison || !window->windowHandle()->isExposed())
            state.SkipWithError("window not shown");
        reference = shownEye(11);
        current = closingEye(reference);
    }

    // A Capturing pass's picture set on EyePlot, and the repaint that follows.
    void showAndRepaint()
    {
        eyePlot->setPixmap(QPixmap::fromImage(current));
        eyePlot->repaint();
    }

    std::unique_ptr<MainWindow> window;
    PictureComparison *comparison = nullptr;
    QLabel *eyePlot = nullptr;
    QImage reference;
    QImage current;
};

void EyePlotRepaint(benchmark::State &state)
{
    WindowBench bench(state);
    for (auto _ : state)
        bench.showAndRepaint();
}
BENCHMARK(EyePlotRepaint)->Unit(benchmark::kMicrosecond)->UseRealTime();

void EyePlotRepaintWithOutline(benchmark::State &state)
{
    WindowBench bench(state);
    bench.eyePlot->setPixmap(QPixmap::fromImage(bench.reference));
    bench.comparison->setReferenceFromShown();
    bench.comparison->setOutlineShown(true);
    for (auto _ : state)
        bench.showAndRepaint();
}
BENCHMARK(EyePlotRepaintWithOutline)->Unit(benchmark::kMicrosecond)->UseRealTime();

// A repaint of the same picture (an expose, a dialog moved over it): the
// judgement is kept, only drawn.
void EyePlotRepaintSamePicture(benchmark::State &state)
{
    WindowBench bench(state);
    bench.eyePlot->setPixmap(QPixmap::fromImage(bench.current));
    for (auto _ : state)
        bench.eyePlot->repaint();
}
BENCHMARK(EyePlotRepaintSamePicture)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The same with the reference outline and a mask that the closing eye hits.
void EyePlotRepaintSamePictureWithMask(benchmark::State &state)
{
    WindowBench bench(state);
    bench.eyePlot->setPixmap(QPixmap::fromImage(bench.reference));
    bench.comparison->setReferenceFromShown();
    bench.comparison->setOutlineShown(true);
    bench.window->session()->setMask(MaskFile::load(QStringLiteral("nrz-hexagon")).mask);
    bench.eyePlot->setPixmap(QPixmap::fromImage(bench.current));
    bench.eyePlot->repaint();
    if (!bench.window->session()->mask())
        state.SkipWithError("no nrz-hexagon mask");
    for (auto _ : state)
        bench.eyePlot->repaint();
}
BENCHMARK(EyePlotRepaintSamePictureWithMask)->Unit(benchmark::kMicrosecond)->UseRealTime();

// A Capturing pass's new picture with the mask in use: judged, then drawn.
void EyePlotRepaintWithMask(benchmark::State &state)
{
    WindowBench bench(state);
    bench.window->session()->setMask(MaskFile::load(QStringLiteral("nrz-hexagon")).mask);
    if (!bench.window->session()->mask())
        state.SkipWithError("no nrz-hexagon mask");
    for (auto _ : state)
        bench.showAndRepaint();
}
BENCHMARK(EyePlotRepaintWithMask)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The Compare window after a new picture: the figures, the difference and
// the three enlarged pictures set on their labels, then painted.
void CompareWindowFollows(benchmark::State &state)
{
    WindowBench bench(state);
    bench.eyePlot->setPixmap(QPixmap::fromImage(bench.reference));
    bench.comparison->setReferenceFromShown();
    bench.eyePlot->setPixmap(QPixmap::fromImage(bench.current));
    CompareWindow compare(bench.comparison);
    compare.show();
    QCoreApplication::processEvents();
    for (auto _ : state) {
        compare.showComparison();
        compare.repaint();
    }
}
BENCHMARK(CompareWindowFollows)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace
