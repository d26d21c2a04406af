// Crops of a 12-megapixel picture: planning them on its salience map, and what --write-crops adds
// to the analysis of a 12-megapixel JPEG: making one 1080x1350 crop from the decoded picture and
// encoding it, and, with --fast-decode, the larger decode it needs.
#include "BenchPictures.h"

#include "ZTOptionParser.h"
#include "ZTSalienzCropPlanner.h"
#include "ZTToolSettings.h"
#include "crops/ZTCropPlanner.h"
#include "crops/ZTCropWriter.h"
#include "input/ZTImageLoader.h"

#include <QBuffer>

#include <benchmark/benchmark.h>

#include <random>

namespace {

const QSize twelveMegapixels(4000, 3000);

// The photograph at 12 megapixels with sensor-like grain, so that it encodes like a photo.
const QImage& grainyPhoto()
{
    static const QImage photo = [] {
        QImage image = BenchPictures::photo(twelveMegapixels);
        std::mt19937 random(2024);
        std::normal_distribution<float> grain(0.0f, 4.0f);
        for (int y = 0; y < image.height(); ++y) {
            QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const auto noisy
                    = [&](int v) { return std::clamp(int(v + grain(random)), 0, 255); };
                line[x] = qRgb(noisy(qRed(line[x])), noisy(qGreen(line[x])), noisy(qBlue(line[x])));
            }
        }
        return image;
    }();
    return photo;
}

const QByteArray& photoJpeg()
{
    static const QByteArray jpeg = [] {
        QByteArray data;
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        grainyPhoto().save(&buffer, "jpeg", 90);
        return data;
    }();
    return jpeg;
}

// The centred 4:5 crop of the picture for a 1080x1350 request.
ZTCrop portraitCrop()
{
    ZTCrop crop;
    ZTOptionParser::parseCrop(QStringLiteral("1080x1350"), &crop.request);
    const QSize window = ZTSalienzCropPlanner::largestWindow(twelveMegapixels, 4, 5);
    crop.rect = QRect(QPoint((twelveMegapixels.width() - window.width()) / 2, 0), window);
    return crop;
}

// ztroi's default crops (1:1, 4:5 and 16:9) and the focal point of the picture, planned on its
// 480x360 salience map with the map read once: without declared areas (A = 0) and with a head
// and another area (A = 1), which the planner places the crops around.
void BM_CropPlan(benchmark::State& state)
{
    static const QImage map = BenchPictures::salienceMap(QSize(480, 360));
    const QList<ZTSalienzCropPlanner::DeclaredArea> areas {
        {QRect(600, 500, 800, 900), QRect(800, 700, 400, 400)}, {QRect(2800, 1200, 600, 600), {}}};
    for (auto _ : state) {
        ZTSalienzCropPlanner planner(map, twelveMegapixels);
        if (state.range(0) == 1) {
            planner.setDeclaredAreas(areas);
        }
        for (const QSize aspect : {QSize(1, 1), QSize(4, 5), QSize(16, 9)}) {
            benchmark::DoNotOptimize(planner.cropForAspect(aspect.width(), aspect.height()));
        }
        benchmark::DoNotOptimize(planner.focalPoint());
    }
}
BENCHMARK(BM_CropPlan)->DenseRange(0, 1)->Unit(benchmark::kMicrosecond);

// Scaling the 2400x3000 crop window of the decoded picture to 1080x1350.
void BM_CropRender12MP(benchmark::State& state)
{
    const QImage& picture = grainyPhoto();
    const ZTCrop crop = portraitCrop();
    const ZTCropWriter writer;
    for (auto _ : state) {
        benchmark::DoNotOptimize(writer.render(picture, twelveMegapixels, crop, "jpg"));
    }
}
BENCHMARK(BM_CropRender12MP)->Unit(benchmark::kMillisecond);

// The crop made and encoded as ztroi writes it (JPEG, quality 90), into memory.
void BM_CropWrite12MP(benchmark::State& state)
{
    const QImage& picture = grainyPhoto();
    const ZTCrop crop = portraitCrop();
    const ZTCropWriter writer;
    for (auto _ : state) {
        QByteArray data;
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        writer.render(picture, twelveMegapixels, crop, "jpg").save(&buffer, "jpg", 90);
        benchmark::DoNotOptimize(data);
    }
}
BENCHMARK(BM_CropWrite12MP)->Unit(benchmark::kMillisecond);

// Reading the 12-megapixel JPEG as ztroi does: decoded fully (F = 0), at the size that the
// analysis alone needs with --fast-decode (F = 1, 1/8), and at the size that a 1080x1350 crop
// needs besides (F = 2, 1/2).
void BM_DecodeJpeg12MP(benchmark::State& state)
{
    ZTImageLoader loader;
    const ZTCrop crop = portraitCrop();
    const ZTCropWriter writer;
    if (state.range(0) >= 1) {
        const bool withCrop = state.range(0) == 2;
        loader.setFastDecodeNeed([&](const QSize& upright) {
            constexpr int side = ZTToolSettings::defaultAnalysisSide;
            const QSize analysis = upright.scaled(side, side, Qt::KeepAspectRatio);
            return withCrop ? analysis.expandedTo(writer.neededSize(upright, {crop.request}))
                            : analysis;
        });
    }
    QByteArray jpeg = photoJpeg();
    for (auto _ : state) {
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::ReadOnly);
        benchmark::DoNotOptimize(loader.load(&buffer));
    }
    state.SetLabel(QStringLiteral("%1x%2")
                       .arg(loader.image().width())
                       .arg(loader.image().height())
                       .toStdString());
}
BENCHMARK(BM_DecodeJpeg12MP)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

} // namespace
