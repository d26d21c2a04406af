// ztroi's face detection: the Haar cascades (--faces without the network) reducing a picture and
// searching it with the frontal and both profile cascades, and the neural detector, which is
// the default where its model is installed. Needs a build with OpenCV, the cascades of
// opencv-data and, for the network, OpenCV's dnn and the model of scripts/fetch-face-model.
#include "BenchPictures.h"

#include "faces/ZTFaceDetector.h"

#include <benchmark/benchmark.h>

namespace {

// Range 0: the picture's size, 12 megapixels 4:3 (0), 640x480 (1), or a 6000x2000 panorama
// (2), which the network also searches in squares along it; range 1: the photograph (0) or the
// colour blocks (1), on which more windows get past the cascades' first stages.
QImage benchPicture(const benchmark::State& state)
{
    const QSize sizes[] = {{4000, 3000}, {640, 480}, {6000, 2000}};
    const QSize size = sizes[state.range(0)];
    return state.range(1) == 0 ? BenchPictures::photo(size) : BenchPictures::contrast(size);
}

// Loads a detector while the model variable holds @p model (empty: none), puts the variable
// back, and times the detection of the benchmark's picture.
void timeDetection(benchmark::State& state, const QByteArray& model, ZTFaceDetector::Choice choice)
{
    const QImage picture = benchPicture(state);
    const bool named = qEnvironmentVariableIsSet(ZTFaceDetector::modelVariable);
    const QByteArray given = qgetenv(ZTFaceDetector::modelVariable);
    qputenv(ZTFaceDetector::modelVariable, model);
    ZTFaceDetector detector;
    const bool loaded = detector.load(choice);
    if (named) {
        qputenv(ZTFaceDetector::modelVariable, given);
    } else {
        qunsetenv(ZTFaceDetector::modelVariable);
    }
    if (!loaded) {
        state.SkipWithError(qPrintable(detector.errorString()));
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(detector.detect(picture));
    }
}

// No model: the cascades stand in.
void BM_FaceDetect(benchmark::State& state)
{
    timeDetection(state, QByteArray(), ZTFaceDetector::Choice::BlazeFaceOrCascades);
}
BENCHMARK(BM_FaceDetect)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->ArgNames({"size", "contrast"})
    ->Unit(benchmark::kMillisecond);

// The model from $ZTROI_FACE_MODEL, else where scripts/fetch-face-model put it for this build.
void BM_BlazeFaceDetect(benchmark::State& state)
{
    const QByteArray given = qgetenv(ZTFaceDetector::modelVariable);
    timeDetection(state,
        qEnvironmentVariableIsSet(ZTFaceDetector::modelVariable)
            ? given
            : QByteArray(ZTROI_BENCH_FACE_MODEL),
        ZTFaceDetector::Choice::BlazeFaceOnly);
}
BENCHMARK(BM_BlazeFaceDetect)
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->ArgNames({"size", "contrast"})
    ->Unit(benchmark::kMillisecond);

} // namespace
