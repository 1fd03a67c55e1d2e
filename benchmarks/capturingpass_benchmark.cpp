// One Capturing pass on the real capture template, step for step as the
// window does it for every piece of a scan, beside its floor: loading and
// turning the same picture alone. The remaining benchmarks take the pass apart
// to show where its time goes.

#include "rules/capture.h"
#include "io/capturefile.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTransform>
#include <QWindow>

#include <unistd.h>

namespace {

// What the instrument sends in one 500 ms pass at 115,200 baud.
constexpr qint64 PieceBytes = 5760;
// Half-way through a capture.
constexpr qint64 PieceOffset = 92160;

// A capture file made from the template in a folder of its own, and a label
// like EyePlot that shows the turned picture.
class CaptureBench
{
public:
    explicit CaptureBench(benchmark::State &state, bool shown)
    {
        QFile templateFile(QStringLiteral(ZENTAVAL_CAPTURE_TEMPLATE));
        if (!templateFile.open(QIODevice::ReadOnly)) {
            state.SkipWithError("capture template missing");
            return;
        }
        blank = templateFile.readAll();
        fileName = folder.filePath(QStringLiteral("capture.bmp"));
        const QString error = Capture::prepareCaptureFile(templateFile.fileName(), fileName);
        if (!error.isEmpty()) {
            state.SkipWithError(qPrintable(error));
            return;
        }
        // Different bytes from the template's, so every write changes the file.
        piece = blank.mid(PieceOffset, PieceBytes);
        for (char &byte : piece)
            byte = char(~byte);

        eyePlot.setScaledContents(true);
        eyePlot.setFixedSize(478, 508);
        if (shown && !showOnScreen()) {
            state.SkipWithError("label not exposed");
            return;
        }
        state.SetLabel(std::to_string(blank.size()) + " B file, " + std::to_string(PieceBytes) + " B piece");
    }

    // Shows the label and waits until it can be painted.
    bool showOnScreen()
    {
        eyePlot.show();
        QElapsedTimer waited;
        waited.start();
        while (!(eyePlot.windowHandle() && eyePlot.windowHandle()->isExposed()) && waited.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return eyePlot.windowHandle() && eyePlot.windowHandle()->isExposed();
    }

    // The floor of a pass: decoding and turning the file, as the pass does.
    QPixmap loadAndTurn() const
    {
        return QPixmap::fromImage(
            QImage(fileName).transformed(QTransform().rotate(90), Qt::FastTransformation));
    }

    QTemporaryDir folder;
    QByteArray blank;
    QByteArray piece;
    QString fileName;
    QLabel eyePlot;
};

// The window's own step for every piece, and its picture set on the label.
bool capturingPass(CaptureBench &bench)
{
    const Capture::StoredPiece stored = Capture::writeCapturePiece(bench.fileName, PieceOffset, bench.piece);
    const QImage picture = Capture::captureFilePicture(bench.fileName);
    bench.eyePlot.setPixmap(QPixmap::fromImage(picture));
    return stored.error.isEmpty() && !picture.isNull();
}

void CapturingPass(benchmark::State &state)
{
    CaptureBench bench(state, false);
    for (auto _ : state) {
        if (!capturingPass(bench)) {
            state.SkipWithError("pass failed");
            break;
        }
    }
}
BENCHMARK(CapturingPass)->Unit(benchmark::kMicrosecond)->UseRealTime();

void LoadAndTurn(benchmark::State &state)
{
    CaptureBench bench(state, false);
    // Kept until the next picture replaces it, as the label keeps it: freeing
    // every picture at once lets the allocator hand its memory back and fault
    // it in again, which the window never does.
    QPixmap shown;
    for (auto _ : state) {
        shown = bench.loadAndTurn();
        if (shown.isNull()) {
            state.SkipWithError("picture did not load");
            break;
        }
    }
}
BENCHMARK(LoadAndTurn)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The same two with the label painted, as the event loop paints EyePlot after
// each pass: the picture is scaled to the label then.
void CapturingPassPainted(benchmark::State &state)
{
    CaptureBench bench(state, true);
    for (auto _ : state) {
        if (!capturingPass(bench)) {
            state.SkipWithError("pass failed");
            break;
        }
        bench.eyePlot.repaint();
    }
}
BENCHMARK(CapturingPassPainted)->Unit(benchmark::kMicrosecond)->UseRealTime();

void LoadAndTurnPainted(benchmark::State &state)
{
    CaptureBench bench(state, true);
    for (auto _ : state) {
        bench.eyePlot.setPixmap(bench.loadAndTurn());
        bench.eyePlot.repaint();
    }
}
BENCHMARK(LoadAndTurnPainted)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The parts of a pass.

// The piece written in place, as the window and zentaval-cli write it.
void PassWritePiece(benchmark::State &state)
{
    CaptureBench bench(state, false);
    for (auto _ : state)
        benchmark::DoNotOptimize(Capture::writeCapturePiece(bench.fileName, PieceOffset, bench.piece));
}
BENCHMARK(PassWritePiece)->Unit(benchmark::kMicrosecond)->UseRealTime();

// What a pass cost before it wrote the piece in place: the whole file read,
// the piece placed in memory and the whole file written back.
void PassRewriteWholeFile(benchmark::State &state)
{
    CaptureBench bench(state, false);
    QFile captureFile(bench.fileName);
    for (auto _ : state) {
        captureFile.open(QIODevice::ReadWrite | QIODevice::ExistingOnly);
        QByteArray content = captureFile.readAll();
        Capture::placePiece(content, PieceOffset, bench.piece);
        captureFile.seek(0);
        captureFile.write(content);
        captureFile.flush();
        captureFile.close();
    }
}
BENCHMARK(PassRewriteWholeFile)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Not done by the program: what forcing the piece to the disk would add.
void PassWritePieceSynced(benchmark::State &state)
{
    CaptureBench bench(state, false);
    QFile captureFile(bench.fileName);
    for (auto _ : state) {
        captureFile.open(QIODevice::ReadWrite | QIODevice::ExistingOnly);
        captureFile.seek(PieceOffset);
        captureFile.write(bench.piece);
        captureFile.flush();
        ::fsync(captureFile.handle());
        captureFile.close();
    }
}
BENCHMARK(PassWritePieceSynced)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Decoding as the pass does: through QImage, which no pixmap cache stands in front of.
void PassLoadPictureThroughImage(benchmark::State &state)
{
    CaptureBench bench(state, false);
    for (auto _ : state)
        benchmark::DoNotOptimize(QPixmap::fromImage(QImage(bench.fileName)));
}
BENCHMARK(PassLoadPictureThroughImage)->Unit(benchmark::kMicrosecond)->UseRealTime();

void PassTurnPicture(benchmark::State &state)
{
    CaptureBench bench(state, false);
    const QPixmap capture(bench.fileName);
    for (auto _ : state)
        benchmark::DoNotOptimize(capture.transformed(QTransform().rotate(90), Qt::FastTransformation));
}
BENCHMARK(PassTurnPicture)->Unit(benchmark::kMicrosecond)->UseRealTime();

void PassPaintScaled(benchmark::State &state)
{
    CaptureBench bench(state, true);
    const QPixmap turned = bench.loadAndTurn();
    for (auto _ : state) {
        // A new picture each time, so the label's scaled copy is made again.
        bench.eyePlot.setPixmap(turned.copy());
        bench.eyePlot.repaint();
    }
}
BENCHMARK(PassPaintScaled)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace
