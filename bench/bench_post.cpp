// The host-side post-analysis on a 640x480 salience map of the photograph.
#include "BenchPictures.h"

#include "ZTSalienzClusterer.h"
#include "ZTSalienzMaximizerHorizontal.h"
#include "ZTSalienzMaximizerVertical.h"

#include <benchmark/benchmark.h>

namespace {

const QImage& map640()
{
    static const QImage map = BenchPictures::salienceMap(QSize(640, 480));
    return map;
}

void BM_Clusterer(benchmark::State& state)
{
    const ZTSalienzClusterer clusterer;
    for (auto _ : state) {
        benchmark::DoNotOptimize(clusterer.cluster(map640()));
    }
}
BENCHMARK(BM_Clusterer)->Unit(benchmark::kMicrosecond);

template<typename Maximizer>
void BM_Maximizer(benchmark::State& state)
{
    const Maximizer maximizer(SalienzPixelWeightLinear);
    for (auto _ : state) {
        benchmark::DoNotOptimize(maximizer.startOfBestRange(map640(), 360));
    }
}
BENCHMARK_TEMPLATE(BM_Maximizer, ZTSalienzMaximizerHorizontal)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Maximizer, ZTSalienzMaximizerVertical)->Unit(benchmark::kMicrosecond);

} // namespace
