// Fuzz target: the library's classes one at a time, with the arguments that the mixer never
// passes: blur and maximum filter sizes negative, even, 0 and large, thresholds at the int
// range's ends, histogram settings and bin counts of any value, drawTarget() and integralSum()
// anywhere, very important rectangles with enormous coordinates, union-find forests joined and
// queried at any index, and convex hulls of points anywhere in the int plane.
//
// Findings: crashes and sanitizer reports, any exception but std::bad_array_new_length for a
// negative bin count, any Qt message but the very important areas' size warning, and results
// that break a documented promise.

#include "ZTFuzzChecks.h"
#include "ZTFuzzInput.h"
#include "ZTNaiveReferences.h"

#include <ZTDisjointSet.h>
#include <ZTGaussROI.h>
#include <ZTGaussianBlur.h>
#include <ZTHistogram.h>
#include <ZTHistogramROI.h>
#include <ZTMaxFilter.h>
#include <ZTSalienzAchanta.h>
#include <ZTSobelROI.h>
#include <ZTVeryImportantAreasROI.h>

#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <new>
#include <vector>

namespace {

using ZTFuzz::require;

// Resource bounds of the fuzzer, not of the library: a kernel of n weights costs n doubles and
// n exponentials, and a forest of n cells n elements.
constexpr int largestBlurSize = 1 << 16;
constexpr qint64 largestForest = 1 << 16;
constexpr int largestForestSide = 256;
constexpr int largestKernel = 64;
constexpr int maxRectangles = 8;
constexpr int maxPoints = 64;
constexpr int maxForestOperations = 256;
constexpr int histogramBinLimit = 257;
constexpr int largestTableBins = 1 << 10;
constexpr qint64 histogramEntryBudget = qint64(1) << 22;

// Pictures up to this many pixels, and blur kernels up to this size, are compared with the
// straightforward implementations of ZTNaiveReferences.h.
constexpr qint64 comparedPixels = 48 * 48;
constexpr int largestComparedKernel = 257;
// The blur that ZTSobelROI applies first.
constexpr int sobelBlurSize = 3;
constexpr double sobelBlurSigma = 2.6;

int boundedBlurSize(int size)
{
    return size > largestBlurSize ? largestBlurSize : size;
}

// Pictures small enough to be compared with the straightforward implementations.
bool comparable(const QImage& picture)
{
    return qint64(picture.width()) * picture.height() <= comparedPixels;
}

void fuzzBlur(ZTFuzz::Reader& in, const QImage& picture)
{
    const int size = boundedBlurSize(in.setting());
    const double sigma = in.real();
    ZTGaussianBlur blur(size, sigma);
    const QImage blurred = blur.evaluate(picture);
    require(blurred.size() == picture.size(), "blur keeps the size");
    if (comparable(picture) && size <= largestComparedKernel) {
        // The constructor's kernel: sizes below 1 act as 1, even sizes as the next odd one.
        const int used = std::max(size, 1) | 1;
        require(blurred == ZTNaive::naiveBlur(picture, blur.createGaussianKernel(used, sigma)),
            "blur equals the straightforward blur");
    }
    const int kernelSize = boundedBlurSize(in.setting());
    blur.createGaussianKernel(kernelSize, in.real());
}

void fuzzMaxFilter(ZTFuzz::Reader& in, const QImage& picture)
{
    const int size = in.setting();
    const int threshold = in.setting();
    ZTMaxFilter filter(size, threshold);
    const QImage filtered = filter.evaluate(picture);
    require(filtered.size() == picture.size() && filtered.format() == picture.format(),
        "the maximum filter keeps size and format");
    // Other formats are filtered through pixel reads and writes already.
    const QImage::Format format = picture.format();
    if (comparable(picture)
        && (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32
            || format == QImage::Format_ARGB32_Premultiplied)) {
        require(filtered == ZTNaive::naiveMaxFilter(picture, size, threshold),
            "maximum filter equals the straightforward filter");
    }
}

void fuzzSobel(ZTFuzz::Reader& in, const QImage& picture, const QImage& other)
{
    ZTSobelROI sobel;
    const QImage map = sobel.evaluate(picture);
    ZTFuzz::requireMap(map, picture.size(), "Sobel map");
    if (comparable(picture)) {
        ZTGaussianBlur blur(sobelBlurSize, sobelBlurSigma);
        const QVector<double> kernel = blur.createGaussianKernel(sobelBlurSize, sobelBlurSigma);
        require(
            map == ZTNaive::naiveSobel(picture, kernel), "Sobel map equals the straightforward one");
    }
    if (in.flag()) {
        sobel.configureSobelV();
    }
    const QImage response = sobel.convolute(picture);
    require(response.size() == picture.size(), "convolute keeps the size");
    const QImage magnitude = sobel.combine(picture, other);
    require(magnitude.size() == picture.size(), "combine has the first argument's size");
}

void fuzzAchanta(ZTFuzz::Reader& in, const QImage& picture)
{
    ZTSalienzAchanta achanta;
    ZTFuzz::requireMap(achanta.evaluate(picture), picture.size(), "symmetric surround map");

    // The helpers with planes and sizes that need not agree.
    const int width = in.setting();
    const int height = in.setting();
    const int count = std::clamp(in.setting(), -1, picture.width() * picture.height() + 1);
    QList<double> plane = achanta.createZeroedList(count);
    for (int i = 0; i < plane.size(); ++i) {
        plane[i] = double((i * 37) % 256);
    }
    QList<double> kernel;
    const int kernelLength = std::clamp(in.setting(), 0, largestKernel);
    for (int i = 0; i < kernelLength; ++i) {
        kernel.append(in.real());
    }
    QList<double> smoothed = plane;
    achanta.gaussianSmooth(plane, width, height, kernel, smoothed);
    const bool tableFits = width >= 1 && height >= 1 && qint64(width) * height <= plane.size();
    QList<QList<double>> table
        = tableFits ? achanta.createZeroed2dList(width, height) : QList<QList<double>>();
    achanta.integralImage(plane, width, height, table);
    const QRect corners = in.rect();
    achanta.integralSum(table, corners.left(), corners.top(), corners.right(), corners.bottom());
}

void fuzzHistogram(ZTFuzz::Reader& in, const QImage& picture)
{
    ZTHistogramROI histogram;
    const int bins1 = in.setting();
    const int bins2 = in.setting();
    const int horizontal = in.setting();
    const int vertical = in.setting();
    histogram.setChiSquareThreshold(in.real());
    histogram.setMinWidth(in.real());
    histogram.setMinHeight(in.real());
    histogram.setHorizontalBlocks(horizontal);
    histogram.setVerticalBlocks(vertical);

    // Tables of up to 257 x 257 entries for every block are slow; cut them to the budget. A
    // block holds at least one pixel, so there are at most as many as the largest picture has.
    const qint64 blocks = horizontal >= 1 && vertical >= 1
        ? qint64(std::min(horizontal, ZTFuzz::largestSide))
            * std::min(vertical, ZTFuzz::largestSide)
        : 0;
    const qint64 entries
        = qint64(std::clamp(bins1, 1, histogramBinLimit)) * std::clamp(bins2, 1, histogramBinLimit);
    const bool cheap = blocks * entries <= histogramEntryBudget;
    histogram.setBin1(cheap ? bins1 : std::min(bins1, 2));
    histogram.setBin2(cheap ? bins2 : std::min(bins2, 2));
    const bool negativeBins = std::min(bins1, bins2) < 0;
    const bool mayThrow = negativeBins && !picture.isNull() && horizontal >= 1 && vertical >= 1;
    try {
        ZTFuzz::requireMap(histogram.evaluate(picture), picture.size(), "histogram map");
        require(!mayThrow, "a negative bin count throws");
    } catch (const std::bad_array_new_length&) {
        require(mayThrow, "bad_array_new_length only for a negative bin count");
    }

    QImage target = picture.copy();
    const QPoint block {in.setting(), in.setting()};
    const double value = in.real();
    const QSize blockSize = in.size();
    histogram.drawTarget(
        block.x(), block.y(), value, target, blockSize.width(), blockSize.height());
    const QSize frame {in.side(), in.side()};
    const QImage converted
        = histogram.convertToYcbcr(QImage(frame, QImage::Format_ARGB32), picture);
    require(converted.size() == picture.size(), "convertToYcbcr has the source's size");
    histogram.RGB2YCrCb(in.word());

    // Histograms of the picture's words and of its converted form, of any bin counts.
    const QSize ownBins = in.size().boundedTo(QSize(largestTableBins, largestTableBins));
    const QSize otherBins = in.size().boundedTo(QSize(largestTableBins, largestTableBins));
    try {
        ZTHistogram own(converted, ownBins.width(), ownBins.height());
        ZTHistogram other(picture, otherBins.width(), otherBins.height());
        own.normalizeHistogram();
        if (in.flag()) {
            other.normalizeHistogram();
        }
        own.compareHistogram(&other);
        other.compareHistogram(&own);
        own.compareHistogram(nullptr);
        const QPoint bin = in.rect().topLeft();
        own.getHistogramValue(bin.x(), bin.y());
        ZTHistogram placeholder;
        placeholder.normalizeHistogram();
        placeholder.compareHistogram(&own);
        require(placeholder.getHistogramValue(0, 0) == 0.0, "a placeholder holds nothing");
    } catch (const std::bad_array_new_length&) {
        require(std::min({ownBins.width(), ownBins.height(), otherBins.width(), otherBins.height()})
                < 0,
            "ZTHistogram refuses only negative bin counts");
    }
}

void fuzzAreas(ZTFuzz::Reader& in, const QImage& picture)
{
    QList<QRect> rects;
    const int count = in.choice(maxRectangles + 1);
    for (int i = 0; i < count; ++i) {
        rects.append(in.rect());
    }
    const QSize reference = in.flag() ? picture.size() : in.size();
    ZTVeryImportantAreasROI areas(rects, reference);
    const int warningsBefore = ZTFuzz::areasWarningCount();
    const QImage map = areas.evaluate(picture);
    require(map.size() == picture.size(), "the areas map has the picture's size");
    const int expectedWarnings = !picture.isNull() && reference != picture.size() ? 1 : 0;
    require(ZTFuzz::areasWarningCount() - warningsBefore == expectedWarnings,
        "one size warning per evaluation with differing sizes");
}

void fuzzForest(ZTFuzz::Reader& in)
{
    int height = in.setting();
    int width = in.setting();
    // A product of two negative sides is a positive count too, with as many elements.
    qint64 cells = qint64(height) * width;
    if (cells > largestForest && cells <= std::numeric_limits<int>::max()) {
        height = std::clamp(height, -largestForestSide, largestForestSide);
        width = std::clamp(width, -largestForestSide, largestForestSide);
        cells = qint64(height) * width;
    }
    ZTDisjointSet forest(height, width);
    const int operations = in.choice(maxForestOperations);
    for (int i = 0; i < operations; ++i) {
        switch (in.choice(4)) {
        case 0:
            forest.find(in.setting());
            break;
        case 1: {
            const int a = forest.find(in.setting());
            forest.join(a, forest.find(in.setting()));
            break;
        }
        case 2: {
            const int a = in.setting();
            forest.join(a, in.setting());
            break;
        }
        default:
            forest.size(in.setting());
            break;
        }
    }
    const int count = forest.getCount();
    const QMap<int, QVector<int>> sizes = forest.getSegmentSizes();
    const std::map<int, segment> informations = forest.getSegmentInformations();
    require(sizes.size() == int(informations.size()), "one box and one centroid per segment");
    if (height >= 1 && width >= 1 && cells <= std::numeric_limits<int>::max()) {
        require(sizes.size() == count, "one segment per set");
    }

    std::vector<QPoint> points;
    const int pointCount = in.choice(maxPoints);
    for (int i = 0; i < pointCount; ++i) {
        points.push_back(QPoint {in.setting(), in.setting()});
    }
    std::vector<QPoint> hull = forest.convex_hull(points);
    require(hull.size() <= 2 * points.size(), "a hull has at most twice as many points");
    if (!hull.empty()) {
        forest.calculateCentroid(&hull);
    }
    if (points.size() >= 3) {
        forest.cross(points[0], points[1], points[2]);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qInstallMessageHandler(ZTFuzz::strictMessageHandler);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ZTFuzz::Reader in(data, size);
    const int part = in.choice(7);
    if (part == 6) {
        fuzzForest(in);
        return 0;
    }
    // A part's settings follow the picture's header and share their bytes with its pixels.
    const QImage picture = in.picture();
    switch (part) {
    case 0:
        fuzzBlur(in, picture);
        break;
    case 1:
        fuzzMaxFilter(in, picture);
        break;
    case 2: {
        ZTGaussROI gauss;
        const QImage prior = gauss.evaluate(picture);
        ZTFuzz::requireMap(prior, picture.size(), "centre prior map");
        require(prior == ZTNaive::naivePrior(picture.size()), "the prior is the Gaussian bump");
        fuzzSobel(in, picture, in.picture());
        break;
    }
    case 3:
        fuzzAchanta(in, picture);
        break;
    case 4:
        fuzzHistogram(in, picture);
        break;
    default:
        fuzzAreas(in, picture);
        break;
    }
    return 0;
}
