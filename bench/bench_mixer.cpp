// The mixer: the weighted mix of four maps, and whole analyses of a 12-megapixel picture.
#include "BenchPictures.h"

#include "ZTGaussROI.h"
#include "ZTSalienzMixer.h"

#include <benchmark/benchmark.h>

namespace {

void BM_Mix4(benchmark::State& state)
{
    const QSize size = BenchPictures::analysisSize(int(state.range(0)));
    const QImage photoMap = BenchPictures::salienceMap(size);
    ZTGaussROI prior;
    const QList<QImage> maps {photoMap, prior.evaluate(photoMap), photoMap, photoMap};
    const QList<int> weights {20, 2, -10, 10};
    ZTSalienzMixer mixer(size);
    for (auto _ : state) {
        benchmark::DoNotOptimize(mixer.mix(maps, weights));
    }
}
BENCHMARK(BM_Mix4)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

// Scaling the 4000x3000 picture into the analysis size is part of every analysis.
void BM_Analyze12MP(benchmark::State& state)
{
    static const QImage picture = BenchPictures::photo(QSize(4000, 3000));
    const QSize size = BenchPictures::analysisSize(int(state.range(0)));
    ZTSalienzMixer mixer(size);
    for (auto _ : state) {
        benchmark::DoNotOptimize(mixer.analyze(picture));
    }
}
BENCHMARK(BM_Analyze12MP)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);

} // namespace
