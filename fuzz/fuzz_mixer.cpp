// Fuzz target: a whole analysis as a host runs it. The input decides the picture (size, format,
// pixels), the mixer's analysis size, the weight and enabled flag of every method, the histogram
// settings, very important areas, and then the clusterer's counts and the maximizers' pixel
// weights and lengths applied to the result. Settings reach far outside the documented limits.
//
// Findings: crashes and sanitizer reports, any exception but std::bad_array_new_length for a
// negative bin count, any Qt message but the very important areas' size warning, and maps that
// break the salience map contract.

#include "ZTFuzzChecks.h"
#include "ZTFuzzInput.h"
#include "ZTNaiveReferences.h"

#include <ZTAbstractROI.h>
#include <ZTSalienzClusterer.h>
#include <ZTSalienzMaximizerHorizontal.h>
#include <ZTSalienzMaximizerVertical.h>
#include <ZTSalienzMixer.h>

#include <QImage>
#include <QList>
#include <QRect>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <new>

namespace {

using ZTFuzz::require;

// Work images up to this many pixels are analysed; larger ones cost seconds under the sanitizers
// without reaching code that smaller ones miss. The mixer refuses work images of more than 2^29
// pixels itself, which the input may still ask for.
constexpr qint64 analysedPixels = 420 * 420;
constexpr qint64 refusedPixels = qint64(1) << 29;
constexpr qint64 repeatedPixels = 64 * 64;

// Histogram tables beyond 257 bins per channel act as 257; above this many table entries over
// all blocks an input is analysed with at most two bins per channel instead, to stay fast.
constexpr qint64 histogramEntryBudget = qint64(1) << 22;
constexpr int histogramBinLimit = 257;
constexpr int cheapBins = 2;

constexpr int methodKeys[] = {SalienzSobel, SalienzGauss, SalienzHistogram,
    SalienzVeryImportantAreas, SalienzAchanta, -1, 5, std::numeric_limits<int>::max()};
constexpr int maxAreas = 8;

// The work image's size as the mixer scales @p picture into @p analysisSize; empty when the
// mixer has no work image.
QSize workSize(const QImage& picture, const QSize& analysisSize)
{
    if (picture.isNull() || !analysisSize.isValid()) {
        return picture.size();
    }
    if (analysisSize.isEmpty()) {
        return QSize();
    }
    const QSize scaled = picture.size().scaled(analysisSize, Qt::KeepAspectRatio);
    return QSize(std::max(scaled.width(), 1), std::max(scaled.height(), 1));
}

qint64 pixels(const QSize& size)
{
    return size.isEmpty() ? 0 : qint64(size.width()) * size.height();
}

int effectiveBins(int bins)
{
    return std::clamp(bins, 1, histogramBinLimit);
}

struct HistogramSettings
{
    int bins1;
    int bins2;
    int horizontalBlocks;
    int verticalBlocks;
};

// Whether the histogram method would fill more table entries than the budget allows.
bool histogramTooCostly(const HistogramSettings& settings, const QSize& work)
{
    if (settings.horizontalBlocks < 1 || settings.verticalBlocks < 1 || work.isEmpty()
        || work.width() / settings.horizontalBlocks < 1
        || work.height() / settings.verticalBlocks < 1) {
        return false;
    }
    const qint64 blocks = qint64(settings.horizontalBlocks) * settings.verticalBlocks;
    const qint64 entries = qint64(effectiveBins(settings.bins1)) * effectiveBins(settings.bins2);
    return blocks * entries > histogramEntryBudget;
}

// The maximizers' result: the start of a window strictly inside the axis, 0 or -1.
void checkBestRange(int start, int axis, int length)
{
    if (length < 0) {
        require(start == -1, "negative length gives -1");
    } else if (axis < length) {
        require(start == 0, "window longer than the axis gives 0");
    } else {
        require(start == -1 || (start >= 1 && start <= axis - length - 1),
            "best range start lies strictly inside the axis");
    }
}

void postAnalysis(ZTFuzz::Reader& in, const QImage& map)
{
    ZTSalienzClusterer clusterer;
    clusterer.setCountCubesH(in.setting());
    clusterer.setCountCubesV(in.setting());
    const QImage cubes = clusterer.cluster(map);
    require(cubes.size() == map.size(), "cluster keeps the map's size");
    require(cubes.isNull() || ZTFuzz::isOpaqueGrey(cubes), "cluster gives opaque grey");
    require(clusterer.totalSalience(map) >= 0, "total salience is not negative");
    clusterer.cubeSize(in.size());

    const auto method = ZTSalienzPixelWeightMethod(in.setting());
    const int length = in.setting();
    const ZTSalienzMaximizerHorizontal horizontal(method);
    checkBestRange(horizontal.startOfBestRange(map, length), map.width(), length);
    const ZTSalienzMaximizerVertical vertical(method);
    checkBestRange(vertical.startOfBestRange(map, length), map.height(), length);
}

} // namespace

// ZTROI_FUZZ_VERBOSE=1 prints what an input decodes to, for reproducing a finding.
bool verbose = false;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    verbose = qEnvironmentVariableIntValue("ZTROI_FUZZ_VERBOSE") != 0;
    qInstallMessageHandler(ZTFuzz::strictMessageHandler);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ZTFuzz::Reader in(data, size);

    const QSize analysisSize = in.size();
    ZTSalienzMixer mixer(analysisSize);
    for (const int key : methodKeys) {
        mixer.setMethodWeight(ZTSalienzMethod(key), in.setting());
        mixer.setMethodEnabled(ZTSalienzMethod(key), in.flag());
    }
    HistogramSettings histogram {in.setting(), in.setting(), in.setting(), in.setting()};
    mixer.updateHistogramChiSquareThreshold(in.real());
    mixer.updateHistogramMinWidth(in.real());
    mixer.updateHistogramMinHeight(in.real());
    if (in.flag()) {
        QList<QRect> areas;
        const int count = in.choice(maxAreas + 1);
        for (int i = 0; i < count; ++i) {
            areas.append(in.rect());
        }
        mixer.injectVeryImportantAreas(areas, in.size());
        mixer.setMethodEnabled(SalienzVeryImportantAreas, in.flag());
    }
    const QList<int> mixWeights = {in.setting(), in.setting(), in.setting()};
    const QImage picture = in.picture();

    const QSize work = workSize(picture, analysisSize);
    const qint64 workPixels = pixels(work);
    if (verbose) {
        std::fprintf(stderr,
            "picture %dx%d format %d, analysis size %dx%d, work %dx%d, bins %d x %d, blocks "
            "%d x %d\n",
            picture.width(), picture.height(), int(picture.format()), analysisSize.width(),
            analysisSize.height(), work.width(), work.height(), histogram.bins1, histogram.bins2,
            histogram.horizontalBlocks, histogram.verticalBlocks);
    }
    if (workPixels > analysedPixels && workPixels <= refusedPixels) {
        return 0;
    }
    if (histogramTooCostly(histogram, work)) {
        histogram.bins1 = std::min(histogram.bins1, cheapBins);
        histogram.bins2 = std::min(histogram.bins2, cheapBins);
    }
    mixer.updateHistogramBinsChannel1(histogram.bins1);
    mixer.updateHistogramBinsChannel2(histogram.bins2);
    mixer.updateHistogramHorizontalBlocks(histogram.horizontalBlocks);
    mixer.updateHistogramVerticalBlocks(histogram.verticalBlocks);

    const bool mayThrow = (histogram.bins1 < 0 || histogram.bins2 < 0)
        && mixer.isMethodEnabled(SalienzHistogram) && !work.isEmpty() && workPixels <= refusedPixels
        && histogram.horizontalBlocks >= 1 && histogram.verticalBlocks >= 1;
    QImage map;
    try {
        map = mixer.analyze(picture);
    } catch (const std::bad_array_new_length&) {
        require(mayThrow, "bad_array_new_length only for a negative bin count");
        return 0;
    }
    require(!mayThrow, "a negative bin count throws");

    QList<QImage> maps;
    if (workPixels > refusedPixels || work.isEmpty() || mixer.gatherWeights().isEmpty()) {
        require(map.constBits() == picture.constBits() && map.size() == picture.size(),
            "without a map the picture is returned as it is");
    } else {
        require(map.size() == work, "the map has the work image's size");
        // Running every method again doubles the cost; small work images suffice for it.
        if (workPixels <= repeatedPixels) {
            maps = mixer.gatherResults(picture);
            const QList<int> weights = mixer.gatherWeights();
            require(maps.size() == weights.size(), "one weight per map");
            if (maps.size() >= 2) {
                require(mixer.mix(maps, weights) == map, "analyze is the mix of its maps");
                require(ZTFuzz::isOpaqueGrey(map), "a mixed map is opaque grey");
            }
        }
    }

    // The mix of whatever a host hands it: the maps, the picture itself, any weights.
    maps.append(picture);
    const QImage mixed = mixer.mix(maps, mixWeights);
    if (pixels(maps.first().size()) <= repeatedPixels) {
        require(mixed == ZTNaive::naiveMix(maps, mixWeights), "mix equals the straightforward mix");
    }
    const QList<QImage> pictureFirst {picture, map};
    const QImage mixedPicture = mixer.mix(pictureFirst, mixWeights);
    if (pixels(picture.size()) <= repeatedPixels) {
        require(mixedPicture == ZTNaive::naiveMix(pictureFirst, mixWeights),
            "mix of the picture equals the straightforward mix");
    }

    postAnalysis(in, map);
    postAnalysis(in, picture);
    return 0;
}
