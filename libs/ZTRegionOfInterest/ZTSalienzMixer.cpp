#include "ZTSalienzMixer.h"

#include "ZTAbstractROI.h"
#include "ZTGaussROI.h"
#include "ZTHistogramROI.h"
#include "ZTSalienceMap_p.h"
#include "ZTSalienzAchanta.h"
#include "ZTSobelROI.h"
#include "ZTVeryImportantAreasROI.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace {

// Default weights, as passed to setMethodWeight() (the histogram's is stored negated).
constexpr int defaultSobelWeight = 20;
constexpr int defaultGaussWeight = 2;
constexpr int defaultHistogramWeight = 10;
constexpr int defaultAreasWeight = 20;
constexpr int defaultAchantaWeight = 10;

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
    struct Source
    {
        QImage map;
        qint64 weight;
        int width;
        int height;
    };
    std::vector<Source> sources;
    const int paired = std::min(maps.size(), weights.size());
    sources.reserve(size_t(paired));
    for (int i = 0; i < paired; ++i) {
        const QImage map = ZTSalienceMap::with32BitPixels(maps.at(i));
        sources.push_back(
            {map, weights.at(i), std::min(map.width(), width), std::min(map.height(), height)});
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
            const qint64 value = std::clamp<qint64>(accumulator[size_t(x)] / normaliser, 0, 255);
            out[x] = ZTSalienceMap::grey(unsigned(value));
        }
    }
    return result;
}
