// Every salience method's evaluate at three analysis sizes, on the photograph and on a picture
// full of strong colour contrast. Range 0 picks the size, range 1 the picture (0 photo,
// 1 contrast).
#include "BenchPictures.h"

#include "ZTGaussROI.h"
#include "ZTHistogramROI.h"
#include "ZTMaxFilter.h"
#include "ZTSalienzAchanta.h"
#include "ZTSobelROI.h"
#include "ZTVeryImportantAreasROI.h"

#include <benchmark/benchmark.h>

namespace {

QImage picture(const benchmark::State& state)
{
    const QSize size = BenchPictures::analysisSize(int(state.range(0)));
    return state.range(1) == 0 ? BenchPictures::photo(size) : BenchPictures::contrast(size);
}

void methodArguments(benchmark::internal::Benchmark* benchmark)
{
    benchmark->ArgNames({"size", "contrast"})->Unit(benchmark::kMicrosecond);
    for (int size = 0; size < 3; ++size) {
        for (int kind = 0; kind < 2; ++kind) {
            benchmark->Args({size, kind});
        }
    }
}

template<typename Method>
void BM_Evaluate(benchmark::State& state)
{
    const QImage image = picture(state);
    Method method;
    for (auto _ : state) {
        benchmark::DoNotOptimize(method.evaluate(image));
    }
}
BENCHMARK_TEMPLATE(BM_Evaluate, ZTSobelROI)->Apply(methodArguments);
BENCHMARK_TEMPLATE(BM_Evaluate, ZTGaussROI)->Apply(methodArguments);
BENCHMARK_TEMPLATE(BM_Evaluate, ZTHistogramROI)->Apply(methodArguments);
BENCHMARK_TEMPLATE(BM_Evaluate, ZTSalienzAchanta)->Apply(methodArguments);

void BM_VeryImportantAreas(benchmark::State& state)
{
    const QImage image = picture(state);
    const QList<QRect> areas {
        QRect(image.width() / 4, image.height() / 4, image.width() / 5, image.height() / 6),
        QRect(image.width() / 2, image.height() / 3, 40, 30)};
    ZTVeryImportantAreasROI method(areas, image.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(method.evaluate(image));
    }
}
BENCHMARK(BM_VeryImportantAreas)->Apply(methodArguments);

// The maximum filter at the sizes its two users pass (7 and 90), on the Sobel magnitude of the
// picture, so that the share of spreading pixels is that of a real evaluation. Range 2 is the size.
void BM_MaxFilter(benchmark::State& state)
{
    const QImage image = picture(state);
    ZTSobelROI sobel;
    sobel.configureSobelH();
    const QImage horizontal = sobel.convolute(image);
    sobel.configureSobelV();
    const QImage magnitude = sobel.combine(horizontal, sobel.convolute(image));
    ZTMaxFilter filter(int(state.range(2)), 50);
    for (auto _ : state) {
        benchmark::DoNotOptimize(filter.evaluate(magnitude));
    }
}
BENCHMARK(BM_MaxFilter)
    ->ArgNames({"size", "contrast", "filter"})
    ->ArgsProduct({{0, 1, 2}, {0, 1}, {7, 90}})
    ->Unit(benchmark::kMicrosecond);

} // namespace
