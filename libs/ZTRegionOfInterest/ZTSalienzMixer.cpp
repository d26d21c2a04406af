#include "ZTSalienzMixer.h"

#include "ZTAbstractROI.h"
#include "ZTGaussROI.h"
#include "ZTHistogramROI.h"
#include "ZTSalienceMap_p.h"
#include "ZTSalienzAchanta.h"
#include "ZTSimd_p.h"
#include "ZTSobelROI.h"
#include "ZTVeryImportantAreasROI.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <vector>

namespace {

// Default weights, as passed to setMethodWeight() (the histogram's is stored negated).
constexpr int defaultSobelWeight = 20;
constexpr int defaultGaussWeight = 2;
constexpr int defaultHistogramWeight = 10;
constexpr int defaultAreasWeight = 20;
constexpr int defaultAchantaWeight = 10;

// The largest work image: 2 GiB of 32-bit pixels.
constexpr qint64 maxWorkPixels = qint64(1) << 29;

// A map of the mix with its weight and the part of it that the result reads.
struct Source
{
    QImage map;
    qint64 weight;
    int width;
    int height;
};

// v = min(floor(a / n), 255) for sums a from 0 to 255 * n, as a multiplication and a shift: with
// 2^shift >= 255 * n * n and multiplier m = ceil(2^shift / n), floor(a * m / 2^shift) equals
// floor(a / n). Write e = m * n - 2^shift (0 <= e < n) and a = q * n + r (0 <= r < n); then
// a * m / 2^shift = q + r / n + a * e / (n * 2^shift), where r / n <= (n - 1) / n and
// a * e < 255 * n * n <= 2^shift makes the last term less than 1 / n: together less than 1.
// For n <= 2^16 the multiplier fits 32 bits and a * m stays below 2^49.
class ExactQuotient
{
public:
    static constexpr qint64 largestDivisor = qint64(1) << 16;

    explicit ExactQuotient(qint64 divisor)
    {
        const quint64 square
            = quint64(ZTSalienceMap::largestSalience) * quint64(divisor) * quint64(divisor);
        while ((quint64(1) << m_shift) < square) {
            ++m_shift;
        }
        m_multiplier = ((quint64(1) << m_shift) + quint64(divisor) - 1) / quint64(divisor);
    }

    /** floor(a / divisor) for 0 <= a <= 255 * divisor. */
    quint32 operator()(qint32 a) const { return quint32((quint64(a) * m_multiplier) >> m_shift); }

private:
    int m_shift = 0;
    quint64 m_multiplier = 1;
};

// The mix with 32-bit sums: every weighted sum fits, and 0 < normaliser <= 2^16. Negative sums
// truncate toward 0 and clamp to 0; sums of 255 * normaliser and more clamp to 255.
// sums[x] += red of line[x] * weight; the buffers are distinct, so the loop vectorises.
inline void addWeightedReds(
    const QRgb* __restrict line, qint32 weight, qint32* __restrict sums, int count)
{
    for (int x = 0; x < count; ++x) {
        sums[x] += ZTSalienceMap::salience(line[x]) * weight;
    }
}

inline void mix32(const std::vector<Source>& sources, qint64 normaliser, QImage& result)
{
    const int width = result.width();
    const qint32 largest = qint32(ZTSalienceMap::largestSalience * normaliser);
    const ExactQuotient quotient(normaliser);
    std::vector<qint32> sums(static_cast<size_t>(width));
    for (int y = 0; y < result.height(); ++y) {
        std::fill(sums.begin(), sums.end(), 0);
        for (const Source& source : sources) {
            if (y >= source.height) {
                continue;
            }
            addWeightedReds(reinterpret_cast<const QRgb*>(source.map.constScanLine(y)),
                qint32(source.weight), sums.data(), source.width);
        }
        QRgb* const out = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < width; ++x) {
            out[x] = ZTSalienceMap::grey(quotient(std::clamp(sums[size_t(x)], 0, largest)));
        }
    }
}

} // namespace

ZTSalienzMixer::ZTSalienzMixer(const QSize& size)
    : m_size(size)
{
    m_methods.insert(SalienzAchanta, new ZTSalienzAchanta);
    m_methods.insert(SalienzSobel, new ZTSobelROI);
    m_methods.insert(SalienzGauss, new ZTGaussROI);
    m_methods.insert(SalienzHistogram, new ZTHistogramROI);
    setMethodWeight(SalienzSobel, defaultSobelWeight);
    setMethodWeight(SalienzGauss, defaultGaussWeight);
    setMethodWeight(SalienzHistogram, defaultHistogramWeight);
    setMethodWeight(SalienzAchanta, defaultAchantaWeight);
}

ZTSalienzMixer::~ZTSalienzMixer()
{
    qDeleteAll(m_methods);
    m_methods.clear();
}

void ZTSalienzMixer::setMethodWeight(ZTSalienzMethod method, int weight)
{
    if (ZTAbstractROI* roi = roiMethod(method)) {
        int stored = weight;
        if (method == SalienzHistogram) {
            // Negating INT_MIN would overflow; that histogram weight is stored as INT_MAX.
            stored = weight == std::numeric_limits<int>::min() ? std::numeric_limits<int>::max()
                                                               : -weight;
        }
        roi->setWeight(stored);
    }
}

ZTAbstractROI* ZTSalienzMixer::roiMethod(ZTSalienzMethod method) const
{
    return m_methods.value(method, nullptr);
}

ZTHistogramROI* ZTSalienzMixer::histogramROI() const
{
    // The constructor stores a ZTHistogramROI under this key and nothing replaces it.
    return static_cast<ZTHistogramROI*>(roiMethod(SalienzHistogram));
}

void ZTSalienzMixer::updateHistogramBinsChannel1(int bins)
{
    histogramROI()->setBin1(bins);
}

void ZTSalienzMixer::updateHistogramBinsChannel2(int bins)
{
    histogramROI()->setBin2(bins);
}

void ZTSalienzMixer::updateHistogramChiSquareThreshold(double threshold)
{
    histogramROI()->setChiSquareThreshold(threshold);
}

void ZTSalienzMixer::updateHistogramHorizontalBlocks(int blocks)
{
    histogramROI()->setHorizontalBlocks(blocks);
}

void ZTSalienzMixer::updateHistogramVerticalBlocks(int blocks)
{
    histogramROI()->setVerticalBlocks(blocks);
}

void ZTSalienzMixer::updateHistogramMinWidth(double fraction)
{
    histogramROI()->setMinWidth(fraction);
}

void ZTSalienzMixer::updateHistogramMinHeight(double fraction)
{
    histogramROI()->setMinHeight(fraction);
}

void ZTSalienzMixer::injectVeryImportantAreas(const QList<QRect>& rects, const QSize& size)
{
    // The new method is made before the old one goes, so an allocation failure leaves the mixer
    // as it was.
    ZTAbstractROI* const areas = new ZTVeryImportantAreasROI(rects, size);
    delete m_methods.value(SalienzVeryImportantAreas, nullptr);
    m_methods.insert(SalienzVeryImportantAreas, areas);
    setMethodWeight(SalienzVeryImportantAreas, defaultAreasWeight);
}

void ZTSalienzMixer::setMethodEnabled(ZTSalienzMethod method, bool enabled)
{
    if (ZTAbstractROI* roi = roiMethod(method)) {
        roi->setEnabled(enabled);
    }
}

bool ZTSalienzMixer::isMethodEnabled(ZTSalienzMethod method) const
{
    const ZTAbstractROI* roi = roiMethod(method);
    return roi && roi->isEnabled();
}

QImage ZTSalienzMixer::analyze(const QImage& image)
{
    const QList<WeightedMap> results = evaluateEnabled(image);
    if (results.isEmpty()) {
        return image;
    }
    if (results.size() == 1) {
        return results.first().map;
    }
    QList<QImage> maps;
    QList<int> weights;
    for (const WeightedMap& result : results) {
        maps.append(result.map);
        weights.append(result.weight);
    }
    return mix(maps, weights);
}

QList<QImage> ZTSalienzMixer::gatherResults(const QImage& image) const
{
    QList<QImage> maps;
    for (const WeightedMap& result : evaluateEnabled(image)) {
        maps.append(result.map);
    }
    return maps;
}

QList<int> ZTSalienzMixer::gatherWeights() const
{
    QList<int> weights;
    for (const ZTAbstractROI* roi : m_methods) {
        if (roi && roi->isEnabled()) {
            weights.append(roi->weight());
        }
    }
    return weights;
}

// The picture scaled into the analysis size without smoothing. Methods read 32-bit pixel words
// from scan lines, so any other format is converted after scaling (the cheaper side).
QImage ZTSalienzMixer::workImage(const QImage& image) const
{
    // A null picture stays null; scaling it would only make Qt log a warning.
    if (image.isNull()) {
        return image;
    }
    // Refused before anything is allocated: scaling up to such a size would fail with a logged
    // "out of memory", or reserve gigabytes that Qt's painter cannot address.
    const QSize size
        = m_size.isValid() ? image.size().scaled(m_size, Qt::KeepAspectRatio) : image.size();
    if (qint64(size.width()) * size.height() > maxWorkPixels) {
        return QImage();
    }
    QImage work = m_size.isValid()
        ? image.scaled(m_size, Qt::KeepAspectRatio, Qt::FastTransformation)
        : image;
    if (!work.isNull() && work.format() != QImage::Format_RGB32
        && work.format() != QImage::Format_ARGB32) {
        work = work.convertToFormat(QImage::Format_ARGB32);
    }
    return work;
}

// Each map stays paired with the weight of the method that made it, so a method that returned
// a null map can never shift the weights of the maps after it.
QList<ZTSalienzMixer::WeightedMap> ZTSalienzMixer::evaluateEnabled(const QImage& image) const
{
    QList<WeightedMap> results;
    const QImage work = workImage(image);
    for (ZTAbstractROI* roi : m_methods) {
        if (!roi || !roi->isEnabled()) {
            continue;
        }
        const QImage map = roi->evaluate(work);
        if (!map.isNull()) {
            results.append({map, roi->weight()});
        }
    }
    return results;
}

// One accumulator row for the whole call. Accumulators and the normaliser are 64-bit: within
// 32-bit range the results are those of 32-bit arithmetic, and weights near the int range's
// ends cannot overflow.
QImage ZTSalienzMixer::mix(const QList<QImage>& maps, const QList<int>& weights)
{
    if (maps.isEmpty() || maps.first().isNull()) {
        return QImage();
    }
    const int width = maps.first().width();
    const int height = maps.first().height();
    QImage result(width, height, QImage::Format_ARGB32);
    if (result.isNull()) {
        return result;
    }

    qint64 normaliser = 0;
    for (const int weight : weights) {
        if (weight > 0) {
            normaliser += weight;
        }
    }
    if (normaliser == 0) {
        normaliser = 1;
    }

    // Only maps with a weight take part; each is read over the part it shares with the result.
    std::vector<Source> sources;
    const int paired = std::min(maps.size(), weights.size());
    sources.reserve(size_t(paired));
    for (int i = 0; i < paired; ++i) {
        const QImage map = ZTSalienceMap::with32BitPixels(maps.at(i));
        sources.push_back(
            {map, weights.at(i), std::min(map.width(), width), std::min(map.height(), height)});
    }

    // Sums and quotients in 32 bits when no sum can leave their range, which holds for any
    // sensible weights; these loops vectorise. The results are those of the 64-bit loop below.
    qint64 largestSum = 0;
    for (const Source& source : sources) {
        largestSum += ZTSalienceMap::largestSalience * std::abs(source.weight);
    }
    if (largestSum <= std::numeric_limits<qint32>::max()
        && normaliser <= ExactQuotient::largestDivisor) {
        ZTSimd::run([&] { mix32(sources, normaliser, result); });
        return result;
    }

    std::vector<qint64> accumulator(static_cast<size_t>(width));
    for (int y = 0; y < height; ++y) {
        std::fill(accumulator.begin(), accumulator.end(), 0);
        for (const Source& source : sources) {
            if (y >= source.height) {
                continue;
            }
            const QRgb* line = reinterpret_cast<const QRgb*>(source.map.constScanLine(y));
            for (int x = 0; x < source.width; ++x) {
                accumulator[size_t(x)] += ZTSalienceMap::salience(line[x]) * source.weight;
            }
        }
        QRgb* out = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const qint64 value = std::clamp<qint64>(
                accumulator[size_t(x)] / normaliser, 0, ZTSalienceMap::largestSalience);
            out[x] = ZTSalienceMap::grey(unsigned(value));
        }
    }
    return result;
}
