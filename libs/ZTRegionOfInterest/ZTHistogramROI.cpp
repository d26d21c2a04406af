#include "ZTHistogramROI.h"

#include "ZTBlockHistogram_p.h"
#include "ZTColourSpace_p.h"
#include "ZTDisjointSet.h"
#include "ZTPixelAccess_p.h"
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

// The largest bin count that can change a result (see evaluate()).
constexpr int largestUsefulBins = 257;

// Block rows whose histograms are alive at a time.
constexpr int histogramRows = 3;

// Marks a segment that is not painted; painted segments store w * h - 1 >= -1.
constexpr int notPainted = std::numeric_limits<int>::min();

// A paint value truncated toward zero and clamped to a grey level; NaN gives 0.
int greyLevel(double value)
{
    if (!(value > 0.0)) {
        return 0;
    }
    if (value >= ZTSalienceMap::largestSalience) {
        return ZTSalienceMap::largestSalience;
    }
    return int(value);
}

// The low 8 bits of a channel value truncated toward zero.
inline quint32 lowByte(double value)
{
    return quint32(int(value)) & 0xFFu;
}

// Luma and the two chroma differences, truncated (not rounded) to integers; the sum for the luma
// is taken in this order, which puts it just below v for 65 grey levels v.
inline QRgb packedYcbcr(QRgb rgb)
{
    const double r = int((rgb >> 16) & 0xFFu);
    const double g = int((rgb >> 8) & 0xFFu);
    const double b = int(rgb & 0xFFu);
    const double y = lumaGreen * g + lumaRed * r + lumaBlue * b;
    const double cr = (r - y) * redDifferenceScale + differenceOffset;
    const double cb = (b - y) * blueDifferenceScale + differenceOffset;
    return ZTSalienceMap::opaqueAlpha | lowByte(y) << 16 | lowByte(cb) << 8 | lowByte(cr);
}

// packedYcbcr() of the width x height words of @p source into @p target; a loop without
// branches, which the compiler vectorises.
inline void convertWords(const QImage& source, QImage& target, int width, int height)
{
    for (int y = 0; y < height; ++y) {
        const QRgb* const in = reinterpret_cast<const QRgb*>(source.constScanLine(y));
        QRgb* const out = reinterpret_cast<QRgb*>(target.scanLine(y));
        for (int x = 0; x < width; ++x) {
            out[x] = packedYcbcr(in[x]);
        }
    }
}

} // namespace

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

unsigned int ZTHistogramROI::RGB2YCrCb(const unsigned int& rgb) const
{
    return packedYcbcr(rgb);
}

QImage ZTHistogramROI::convertToYcbcr(QImage frame, const QImage& source) const
{
    QImage converted = createTargetImage(source);
    if (converted.isNull()) {
        return converted;
    }
    const QImage words = ZTPixelAccess::holdsQRgbWords(source.format())
        ? source
        : source.convertToFormat(QImage::Format_ARGB32);
    const int width = std::min(frame.width(), words.width());
    const int height = std::min(frame.height(), words.height());
    if (width < converted.width() || height < converted.height()) {
        converted.fill(noPixel);
    }
    ZTSimd::run([&] { convertWords(words, converted, width, height); });
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
    if (ZTPixelAccess::holdsQRgbWords(target.format())) {
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

// The steps: convert each block row and count its blocks into normalised histograms, keeping
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

    // 256 channel levels fill at most 256 bins, in the same order for any count above 256, and
    // from 257 bins on an unused bin keeps every table's minimum at 0: all counts from 257 up
    // give the same normalised entries and distances. Beyond that a table would only grow, up
    // to gigabytes per block.
    const int bins1 = std::min(m_bin1, largestUsefulBins);
    const int bins2 = std::min(m_bin2, largestUsefulBins);
    // Each block row is converted on its own: no converted copy of the whole picture is alive.
    const QImage words = ZTPixelAccess::holdsQRgbWords(image.format())
        ? image
        : image.convertToFormat(QImage::Format_ARGB32);
    // Normalised histograms of three block rows are alive at a time: the row above, the row and
    // the row below.
    ZTBlockHistogram::Counter counter(std::max(bins1, 1), std::max(bins2, 1));
    std::vector<ZTBlockHistogram::Sparse> histograms(size_t(histogramRows) * size_t(columns));
    const auto histogramRow = [&](int row) {
        return histograms.data() + size_t(row % histogramRows) * size_t(columns);
    };
    const auto countRow = [&](int row) {
        ZTBlockHistogram::Sparse* const out = histogramRow(row);
        const QImage band(words.constScanLine(row * blockHeight), columns * blockWidth, blockHeight,
            words.bytesPerLine(), words.format());
        const QImage ycbcr = convertToYcbcr(band, band);
        for (int j = 0; j < columns; ++j) {
            counter.count(ycbcr, QRect(j * blockWidth, 0, blockWidth, blockHeight));
            ZTBlockHistogram::normalise(out[j], counter.takeCounts(out[j]));
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
        const ZTBlockHistogram::Sparse* const above = i > 0 ? histogramRow(i - 1) : nullptr;
        const ZTBlockHistogram::Sparse* const current = histogramRow(i);
        const ZTBlockHistogram::Sparse* const below = i + 1 < rows ? histogramRow(i + 1) : nullptr;
        for (int j = 0; j < columns; ++j) {
            const int id = i * columns + j;
            const bool hasRight = j + 1 < columns;
            const auto distance = [&current, j](const ZTBlockHistogram::Sparse& other) {
                return ZTBlockHistogram::chiSquare(current[j], other);
            };
            if (above && hasRight) {
                edges.emplace_back(id, id - columns + 1, distance(above[j + 1]));
            }
            if (hasRight) {
                edges.emplace_back(id, id + 1, distance(current[j + 1]));
            }
            if (below && hasRight) {
                edges.emplace_back(id, id + columns + 1, distance(below[j + 1]));
            }
            if (below) {
                edges.emplace_back(id, id + columns, distance(below[j]));
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
