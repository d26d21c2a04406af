// ztroi's face detection (--faces): reducing a picture and searching it with the frontal and
// both profile cascades. Needs a build with OpenCV and the cascades of opencv-data.
#include "BenchPictures.h"

#include "faces/ZTFaceDetector.h"

#include <benchmark/benchmark.h>

namespace {

// Range 0: the picture's size, 12 megapixels (0) or 640x480 (1); range 1: the photograph (0) or
// the colour blocks (1), on which more windows get past the cascades' first stages.
void BM_FaceDetect(benchmark::State& state)
{
    const QSize size = state.range(0) == 0 ? QSize(4000, 3000) : QSize(640, 480);
    const QImage picture
        = state.range(1) == 0 ? BenchPictures::photo(size) : BenchPictures::contrast(size);
    ZTFaceDetector detector;
    if (!detector.load()) {
        state.SkipWithError(qPrintable(detector.errorString()));
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(detector.detect(picture));
    }
}
BENCHMARK(BM_FaceDetect)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->ArgNames({"size", "contrast"})
    ->Unit(benchmark::kMillisecond);

} // namespace
