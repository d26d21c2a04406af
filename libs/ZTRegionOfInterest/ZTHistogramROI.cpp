#include "ZTHistogramROI.h"
#include "ZTHistogramROI_p.h"

#include "ZTColourSpace_p.h"
#include "ZTDisjointSet.h"
#include "ZTSalienceMap_p.h"
#include "ZTSegmentEdge.h"
#include "ZTSimd_p.h"

#include <QMap>
#include <QPainter>
#include <QVector>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <vector>

namespace {

constexpr double defaultChiSquareThreshold = 0.67;
constexpr int defaultVerticalBlocks = 11;
constexpr int defaultHorizontalBlocks = 15;
constexpr double defaultMinHeight = 0.25;
constexpr double defaultMinWidth = 0.5;
constexpr int defaultBins = 32;

// Luma and chroma weights of the conversion.
using namespace ZTColourSpace;

constexpr QRgb noPixel = 0u;
constexpr int maxLevel = 255;

// The largest bin count that can change a result (see evaluate()).
constexpr int largestUsefulBins = 257;

// Histograms of three block rows are alive at a time: the row above, the row and the row below.
constexpr int histogramRows = 3;

// Marks a segment that is not painted; painted segments store w * h - 1 >= -1.
constexpr int notPainted = std::numeric_limits<int>::min();

// Formats whose pixels are 32-bit 0xAARRGGBB words, read as they are.
bool hasRgbWords(const QImage& image)
{
    const QImage::Format format = image.format();
    return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32
        || format == QImage::Format_ARGB32_Premultiplied;
}

// The low 8 bits of a channel value truncated toward zero.
inline quint32 lowByte(double value)
{
    return quint32(int(value)) & 0xFFu;
}

// A paint value truncated toward zero and clamped to a grey level; NaN gives 0.
int greyLevel(double value)
{
    if (!(value > 0.0)) {
        return 0;
    }
    if (value >= maxLevel) {
        return maxLevel;
    }
    return int(value);
}

// The bin counts that a histogram really has: 0 counts as one bin (a negative count is refused
// before any histogram is made).
int usableBins(int bins)
{
    return bins < 1 ? 1 : bins;
}

/*
 * Where a pixel falls in a block histogram: its Cb value picks the table row (Cb * bins1) / 256,
 * its Cr value the column (Cr * bins2) / 256. Both are looked up per channel value; only the low
 * 8 bits of a chroma value are kept, as in the packed YCbCr word.
 */
class BinTable
{
public:
    BinTable(int bins1, int bins2)
    {
        for (quint32 v = 0; v < channelLevels; ++v) {
            m_rowStart[v] = size_t((quint64(v) * quint64(bins1)) / channelLevels) * size_t(bins2);
            m_column[v] = size_t((quint64(v) * quint64(bins2)) / channelLevels);
        }
    }

    size_t operator()(qint32 cb, qint32 cr) const
    {
        return m_rowStart[quint32(cb) & 0xFFu] + m_column[quint32(cr) & 0xFFu];
    }

private:
    static constexpr quint32 channelLevels = 256;
    size_t m_rowStart[channelLevels];
    size_t m_column[channelLevels];
};

// The chroma values Cb and Cr of RGB2YCrCb() for @p count pixels, with the same operations,
// truncated toward zero; a loop without branches.
inline void chromaLoop(const QRgb* pixels, int count, qint32* cb, qint32* cr)
{
    for (int x = 0; x < count; ++x) {
        const QRgb p = pixels[x];
        const double r = int((p >> 16) & 0xFFu);
        const double g = int((p >> 8) & 0xFFu);
        const double b = int(p & 0xFFu);
        const double y = lumaGreen * g + lumaRed * r + lumaBlue * b;
        cr[x] = int((r - y) * redDifferenceScale + differenceOffset);
        cb[x] = int((b - y) * blueDifferenceScale + differenceOffset);
    }
}

void chromaBaseline(const QRgb* pixels, int count, qint32* cb, qint32* cr)
{
    chromaLoop(pixels, count, cb, cr);
}

ZTROI_TARGET_AVX2 void chromaAvx2(const QRgb* pixels, int count, qint32* cb, qint32* cr)
{
    chromaLoop(pixels, count, cb, cr);
}

using ChromaFunction = void (*)(const QRgb*, int, qint32*, qint32*);

ChromaFunction chromaFunction(ZTSimd::Level level)
{
    return level == ZTSimd::Level::Avx2 ? chromaAvx2 : chromaBaseline;
}

/*
 * A normalised block histogram kept sparse: the bins that hold pixels, in table order, with
 * their normalised values, and the value of every empty bin. The values are those of
 * ZTHistogram::normalizeHistogram(), (count - minimum) / (maximum - minimum) with the minimum
 * starting at 1000 and the maximum at 0.
 */
struct SparseHistogram
{
    std::vector<size_t> bins;
    std::vector<double> values;
    double emptyValue = 0.0;
};

/*
 * Counts blocks of a picture and turns the counts into sparse histograms. The pixels of a block
 * row are converted to their chroma first, then counted into two tables, one for even and one
 * for odd columns, so that runs of pixels in one bin do not wait for each other's increments.
 */
class BlockCounter
{
public:
    BlockCounter(const QImage& words, int blockWidth, int bins1, int bins2, ZTSimd::Level level)
        : m_words(words)
        , m_blockWidth(blockWidth)
        , m_bins(bins1, bins2)
        , m_binCount(size_t(bins1) * size_t(bins2))
        , m_counts(2 * m_binCount, 0u)
        , m_cb(size_t(blockWidth))
        , m_cr(size_t(blockWidth))
        , m_chroma(chromaFunction(level))
    {}

    void count(int left, int top, int height, SparseHistogram& histogram)
    {
        quint32* const even = m_counts.data();
        quint32* const odd = even + m_binCount;
        const qint32* const cb = m_cb.data();
        const qint32* const cr = m_cr.data();
        for (int y = top; y < top + height; ++y) {
            const QRgb* const line = reinterpret_cast<const QRgb*>(m_words.constScanLine(y));
            m_chroma(line + left, m_blockWidth, m_cb.data(), m_cr.data());
            int x = 0;
            for (; x + 1 < m_blockWidth; x += 2) {
                ++even[m_bins(cb[x], cr[x])];
                ++odd[m_bins(cb[x + 1], cr[x + 1])];
            }
            if (x < m_blockWidth) {
                ++even[m_bins(cb[x], cr[x])];
            }
        }
        collect(histogram);
    }

private:
    // Moves the filled bins into @p histogram, in table order, clearing the tables, and
    // normalises them. Counts are whole numbers, so their extremes are taken as integers.
    void collect(SparseHistogram& histogram)
    {
        histogram.bins.clear();
        histogram.values.clear();
        quint32* const even = m_counts.data();
        quint32* const odd = even + m_binCount;
        quint32 smallest = std::numeric_limits<quint32>::max();
        quint32 largest = 0;
        for (size_t bin = 0; bin < m_binCount; ++bin) {
            const quint32 count = even[bin] + odd[bin];
            if (count != 0) {
                histogram.bins.push_back(bin);
                histogram.values.push_back(count);
                smallest = std::min(smallest, count);
                largest = std::max(largest, count);
                even[bin] = 0;
                odd[bin] = 0;
            }
        }
        if (histogram.bins.size() < m_binCount) {
            smallest = 0; // an empty bin
        }
        const double minimum = std::min(normalizeMinimumStart, double(smallest));
        const double maximum = std::max(normalizeMaximumStart, double(largest));
        const double range = maximum - minimum;
        for (double& value : histogram.values) {
            value = (value - minimum) / range;
        }
        histogram.emptyValue = (0.0 - minimum) / range;
    }

    static constexpr double normalizeMinimumStart = 1000.0;
    static constexpr double normalizeMaximumStart = 0.0;

    const QImage& m_words;
    const int m_blockWidth;
    const BinTable m_bins;
    const size_t m_binCount;
    std::vector<quint32> m_counts; // even columns, then odd columns
    std::vector<qint32> m_cb;
    std::vector<qint32> m_cr;
    const ChromaFunction m_chroma;
};

/*
 * ZTHistogram::compareHistogram() on sparse histograms: the sum over the bins in table order of
 * (a - b)^2 / a, a from @p expected, b from @p observed, skipping bins where |a| > 0 fails. An
 * empty bin of the expected histogram is skipped: it normalises to 0 (some bin is empty, so the
 * minimum is 0) or, for a flat table, to NaN. So only its filled bins are visited, in the same
 * order, with the same operations.
 */
double chiSquare(const SparseHistogram& expected, const SparseHistogram& observed)
{
    double sum = 0.0;
    size_t k = 0;
    for (size_t i = 0; i < expected.bins.size(); ++i) {
        const double a = expected.values[i];
        if (!(std::fabs(a) > 0.0)) {
            continue;
        }
        const size_t bin = expected.bins[i];
        while (k < observed.bins.size() && observed.bins[k] < bin) {
            ++k;
        }
        const double b = k < observed.bins.size() && observed.bins[k] == bin ? observed.values[k]
                                                                             : observed.emptyValue;
        const double d = a - b;
        sum += d * d / a;
    }
    return sum;
}

} // namespace

void ZTBlockHistograms::chroma(
    const QRgb* pixels, int count, qint32* cb, qint32* cr, ZTSimd::Level level)
{
    chromaFunction(level)(pixels, count, cb, cr);
}

ZTHistogramROI::ZTHistogramROI()
    : m_chiSquareThreshold(defaultChiSquareThreshold)
    , m_verticalBlocks(defaultVerticalBlocks)
    , m_horizontalBlocks(defaultHorizontalBlocks)
    , m_minHeight(defaultMinHeight)
    , m_minWidth(defaultMinWidth)
    , m_bin1(defaultBins)
    , m_bin2(defaultBins)
{}

ZTHistogramROI::~ZTHistogramROI() = default;

void ZTHistogramROI::setChiSquareThreshold(double threshold)
{
    m_chiSquareThreshold = threshold;
}

void ZTHistogramROI::setVerticalBlocks(int blocks)
{
    m_verticalBlocks = blocks;
}

void ZTHistogramROI::setHorizontalBlocks(int blocks)
{
    m_horizontalBlocks = blocks;
}

void ZTHistogramROI::setMinHeight(double fraction)
{
    m_minHeight = fraction;
}

void ZTHistogramROI::setMinWidth(double fraction)
{
    m_minWidth = fraction;
}

void ZTHistogramROI::setBin1(int bins)
{
    m_bin1 = bins;
}

void ZTHistogramROI::setBin2(int bins)
{
    m_bin2 = bins;
}

// Luma and the two chroma differences, truncated (not rounded) to integers; the sum for the luma
// is taken in this order, which puts it just below v for 65 grey levels v.
unsigned int ZTHistogramROI::RGB2YCrCb(const unsigned int& rgb) const
{
    const double r = (rgb >> 16) & 0xFFu;
    const double g = (rgb >> 8) & 0xFFu;
    const double b = rgb & 0xFFu;
    const double y = lumaGreen * g + lumaRed * r + lumaBlue * b;
    const double cr = (r - y) * redDifferenceScale + differenceOffset;
    const double cb = (b - y) * blueDifferenceScale + differenceOffset;
    return ZTSalienceMap::opaqueAlpha | lowByte(y) << 16 | lowByte(cb) << 8 | lowByte(cr);
}

// One pass over the scan lines. Neighbouring pixels are often equal, so the last conversion is
// kept and reused; alpha takes no part in it.
QImage ZTHistogramROI::convertToYcbcr(QImage frame, const QImage& source) const
{
    QImage converted = createTargetImage(source);
    if (converted.isNull()) {
        return converted;
    }
    const QImage words
        = hasRgbWords(source) ? source : source.convertToFormat(QImage::Format_ARGB32);
    const int width = std::min(frame.width(), words.width());
    const int height = std::min(frame.height(), words.height());
    if (width < converted.width() || height < converted.height()) {
        converted.fill(noPixel);
    }
    constexpr quint32 colourBits = 0x00FFFFFFu;
    quint32 lastColour = 0;
    QRgb lastConverted = RGB2YCrCb(lastColour);
    for (int y = 0; y < height; ++y) {
        const QRgb* const in = reinterpret_cast<const QRgb*>(words.constScanLine(y));
        QRgb* const out = reinterpret_cast<QRgb*>(converted.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const quint32 colour = in[x] & colourBits;
            if (colour != lastColour) {
                lastColour = colour;
                lastConverted = RGB2YCrCb(colour);
            }
            out[x] = lastConverted;
        }
    }
    return converted;
}

void ZTHistogramROI::drawTarget(
    int x, int y, double value, QImage& target, int blockWidth, int blockHeight) const
{
    if (blockWidth < 1 || blockHeight < 1 || target.format() == QImage::Format_Indexed8) {
        return;
    }
    // The block clipped to the image, in 64 bits so that far-away blocks cannot overflow.
    const qint64 left = std::max<qint64>(qint64(x) * blockWidth, 0);
    const qint64 top = std::max<qint64>(qint64(y) * blockHeight, 0);
    const qint64 right = std::min<qint64>(qint64(x) * blockWidth + blockWidth, target.width());
    const qint64 bottom = std::min<qint64>(qint64(y) * blockHeight + blockHeight, target.height());
    if (left >= right || top >= bottom) {
        return;
    }
    const int level = greyLevel(value);
    const QRgb grey = ZTSalienceMap::grey(unsigned(level));
    // An opaque colour on 32-bit words is written as it is, which is what QPainter would do.
    if (hasRgbWords(target)) {
        for (qint64 row = top; row < bottom; ++row) {
            QRgb* const line = reinterpret_cast<QRgb*>(target.scanLine(int(row)));
            std::fill(line + left, line + right, grey);
        }
        return;
    }
    QPainter painter(&target);
    painter.fillRect(
        QRect(int(left), int(top), int(right - left), int(bottom - top)), QColor(grey));
}

// The steps: convert the image once; count every block into a normalised histogram, keeping
// three block rows of histograms alive; link every 8-connected pair of blocks once by an edge
// weighing the chi-square distance of its left (or upper) block to the other; sort the edges
// stably by weight; join across edges up to the threshold; paint the blocks of segments that
// stretch far enough.
QImage ZTHistogramROI::evaluate(const QImage& image)
{
    QImage map = createTargetImage(image);
    if (map.isNull()) {
        return map;
    }
    map.fill(ZTSalienceMap::grey(0));

    const int rows = m_verticalBlocks;
    const int columns = m_horizontalBlocks;
    if (rows < 1 || columns < 1) {
        return map;
    }
    // ZTHistogram refuses negative bin counts; refuse them here already, so that the outcome
    // does not depend on whether the blocks below hold pixels.
    if (m_bin1 < 0 || m_bin2 < 0) {
        throw std::bad_array_new_length();
    }
    const int blockWidth = map.width() / columns;
    const int blockHeight = map.height() / rows;
    // Blocks without pixels: whatever their segments, painting them paints nothing. Past this
    // point rows <= height and columns <= width, so rows * columns and every block id fit an int.
    if (blockWidth < 1 || blockHeight < 1) {
        return map;
    }

    const QImage words = hasRgbWords(image) ? image : image.convertToFormat(QImage::Format_ARGB32);
    // 256 channel levels fill at most 256 bins, in the same order for any count above 256, and
    // from 257 bins on an unused bin keeps every table's minimum at 0: all counts from 257 up
    // give the same normalised entries and distances. Beyond that a table would only grow, up
    // to gigabytes per block (and the two count tables to more than can be addressed).
    const int bins1 = usableBins(std::min(m_bin1, largestUsefulBins));
    const int bins2 = usableBins(std::min(m_bin2, largestUsefulBins));
    BlockCounter counter(words, blockWidth, bins1, bins2, ZTSimd::available());
    std::vector<SparseHistogram> histograms(size_t(histogramRows) * size_t(columns));
    const auto histogramRow = [&](int row) {
        return histograms.data() + size_t(row % histogramRows) * size_t(columns);
    };
    const auto countRow = [&](int row) {
        SparseHistogram* const out = histogramRow(row);
        for (int j = 0; j < columns; ++j) {
            counter.count(j * blockWidth, row * blockHeight, blockHeight, out[j]);
        }
    };

    const size_t v = size_t(rows);
    const size_t h = size_t(columns);
    std::vector<ZTSegmentEdge> edges;
    edges.reserve(v * (h - 1) + (v - 1) * h + 2 * (v - 1) * (h - 1));
    countRow(0);
    for (int i = 0; i < rows; ++i) {
        if (i + 1 < rows) {
            countRow(i + 1);
        }
        const SparseHistogram* const above = i > 0 ? histogramRow(i - 1) : nullptr;
        const SparseHistogram* const current = histogramRow(i);
        const SparseHistogram* const below = i + 1 < rows ? histogramRow(i + 1) : nullptr;
        for (int j = 0; j < columns; ++j) {
            const int id = i * columns + j;
            const bool hasRight = j + 1 < columns;
            const SparseHistogram& own = current[j];
            if (above && hasRight) {
                edges.emplace_back(id, id - columns + 1, chiSquare(own, above[j + 1]));
            }
            if (hasRight) {
                edges.emplace_back(id, id + 1, chiSquare(own, current[j + 1]));
            }
            if (below && hasRight) {
                edges.emplace_back(id, id + columns + 1, chiSquare(own, below[j + 1]));
            }
            if (below) {
                edges.emplace_back(id, id + columns, chiSquare(own, below[j]));
            }
        }
    }

    // A NaN weight (a flat histogram opposite a filled bin) has no place among the numbers, and
    // a comparison that is not a strict weak order would make the sort undefined. Those edges go
    // after every numbered edge, in the order they were made. They can neither end the walk nor
    // join two blocks, so the walk stops before them.
    const auto numbered = std::stable_partition(
        edges.begin(), edges.end(), [](ZTSegmentEdge edge) { return !std::isnan(edge.weight()); });
    std::stable_sort(edges.begin(), numbered);

    ZTDisjointSet forest(rows, columns);
    for (auto edge = edges.begin(); edge != numbered; ++edge) {
        const double weight = edge->weight();
        if (weight > m_chiSquareThreshold) {
            break;
        }
        const int a = forest.find(edge->from());
        const int b = forest.find(edge->to());
        if (a != b && weight <= m_chiSquareThreshold) {
            forest.join(a, b);
        }
    }

    // What each segment paints, by root: w * h - 1 for a segment that spans far enough.
    const double minHeightSpan = rows * m_minHeight;
    const double minWidthSpan = columns * m_minWidth;
    std::vector<int> paintValue(v * h, notPainted);
    const QMap<int, QVector<int>> extents = forest.getSegmentSizes();
    for (auto extent = extents.cbegin(); extent != extents.cend(); ++extent) {
        const QVector<int>& box = extent.value();
        const int widthSpan = box[2] - box[0];
        const int heightSpan = box[3] - box[1];
        if (double(heightSpan) > minHeightSpan || double(widthSpan) > minWidthSpan) {
            paintValue[size_t(extent.key())] = widthSpan * heightSpan - 1;
        }
    }
    for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < columns; ++j) {
            const int value = paintValue[size_t(forest.find(i * columns + j))];
            if (value != notPainted) {
                drawTarget(j, i, value, map, blockWidth, blockHeight);
            }
        }
    }
    return map;
}
