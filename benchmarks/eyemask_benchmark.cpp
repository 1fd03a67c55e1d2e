// The cost of the eye mask test on one captured picture: the eye found, the
// mask placed, its hits counted and the margin searched, with each shipped
// mask (the aim is under 5 ms); and the eye search alone.

#include "eyepicture.h"
#include "io/capturefile.h"
#include "io/maskfile.h"
#include "io/picturefile.h"
#include "rules/eyemask.h"

#include <benchmark/benchmark.h>

namespace {

EyeComparison::Occupancy shownEye(quint32 seed)
{
    const QImage shown = Capture::shownPicture(QImage::fromData(EyePicture::captureBitmap(seed)));
    return EyeComparison::occupancy(PictureFile::rgbPixels(shown));
}

void MaskTest(benchmark::State &state, const QString &maskName)
{
    const EyeComparison::Occupancy eye = shownEye(11);
    const MaskFile::Loaded loaded = MaskFile::load(maskName);
    if (!loaded.mask) {
        state.SkipWithError(qPrintable(loaded.error));
        return;
    }
    // A 10GBASE-R reading with a 500 mV swing.
    const EyeMask::Scale scale {10312.5, 500.0};
    EyeMask::Result result;
    for (auto _ : state) {
        result = EyeMask::judge(eye, *loaded.mask, scale);
        benchmark::DoNotOptimize(result.marginPercent);
    }
    state.SetLabel(EyeMask::summary(result).toStdString());
}
BENCHMARK_CAPTURE(MaskTest, nrz_hexagon, QStringLiteral("nrz-hexagon"))
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(MaskTest, sff8431_host_tx, QStringLiteral("sff8431-host-tx"))
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

void FindEye(benchmark::State &state)
{
    const EyeComparison::Occupancy eye = shownEye(11);
    for (auto _ : state)
        benchmark::DoNotOptimize(EyeMask::findEye(eye).eye);
}
BENCHMARK(FindEye)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace
