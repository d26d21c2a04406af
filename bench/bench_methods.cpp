// Every salience method's evaluate at three analysis sizes, on the photograph and on a picture
// full of strong colour contrast. Range 0 picks the size, range 1 the picture (0 photo,
// 1 contrast).
#include "BenchPictures.h"

#include "ZTGaussROI.h"
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
BENCHMARK_TEMPLATE(BM_Evaluate, ZTGaussROI)->Apply(methodArguments);

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

} // namespace
