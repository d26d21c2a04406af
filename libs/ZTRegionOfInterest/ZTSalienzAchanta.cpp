#include "ZTSalienzAchanta.h"

#include "ZTColourSpace_p.h"
#include "ZTPixelAccess_p.h"
#include "ZTSalienceMap_p.h"
#include "ZTSimd_p.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

namespace {

constexpr int spreadSize = 90;
constexpr int spreadThreshold = 150;

// The stretch starts its minimum far above any squared distance of 8-bit colours (3 * 255^2).
constexpr double stretchMinimumStart = 1073741824.0; // 2^30

// Colour space: luma and the two colour differences, kept as unrounded doubles, with the
// coefficients and the order of operations of the chroma conversion of the histogram method.
using namespace ZTColourSpace;

constexpr int channelCount = 3; // luma, red difference, blue difference

/** An inclusive interval of pixel positions along one axis. */
struct Span
{
    int first;
    int last;
};

/**
 * The maximum symmetric surround of @p position along an axis of @p length pixels: as far to
 * both sides as the nearer border, cut to the axis. In the right half it is one pixel shorter on
 * the right (position 3 of 5 spans 1 ... 4); position 0 spans only itself.
 */
constexpr Span span(int position, int length)
{
    // 64-bit doubling, so positions near the int limit cannot overflow.
    const long long twice = 2 * static_cast<long long>(position);
    if (position < length - position) {
        return {0, int(std::min<long long>(twice, length - 1))};
    }
    return {int(std::max<long long>(twice - length, 0)), length - 1};
}

/**
 * Separable smoothing of a width x height plane, renormalised by the weights that fall inside
 * it: rows from @p input into @p scratch, then columns from @p scratch into @p output. Works on
 * QList planes and on contiguous ones alike. Arms are cut to the plane and to the kernel, so an
 * even kernel's last weight is not used.
 */
template<typename Input, typename Output>
void smoothPlane(const Input& input, int width, int height, const std::vector<double>& kernel,
    std::vector<double>& scratch, Output& output)
{
    const int half = int(kernel.size() / 2);
    const int lastWeight = int(kernel.size()) - 1 - half; // half - 1 for an even kernel
    const double* const weights = kernel.data() + half;

    for (int y = 0; y < height; ++y) {
        const std::ptrdiff_t row = std::ptrdiff_t(y) * width;
        for (int x = 0; x < width; ++x) {
            const int first = std::max(-half, -x);
            const int last = std::min(lastWeight, width - 1 - x);
            double sum = 0.0;
            double used = 0.0;
            for (int k = first; k <= last; ++k) {
                sum += input[row + x + k] * weights[k];
                used += weights[k];
            }
            scratch[size_t(row + x)] = sum / used;
        }
    }
    for (int y = 0; y < height; ++y) {
        const std::ptrdiff_t row = std::ptrdiff_t(y) * width;
        const int first = std::max(-half, -y);
        const int last = std::min(lastWeight, height - 1 - y);
        for (int x = 0; x < width; ++x) {
            double sum = 0.0;
            double used = 0.0;
            for (int k = first; k <= last; ++k) {
                sum += scratch[size_t(row + std::ptrdiff_t(k) * width + x)] * weights[k];
                used += weights[k];
            }
            output[row + x] = sum / used;
        }
    }
}

/** Sum over (x1, y1) ... (x2, y2) from a summed-area table reached through entry(y, x). */
template<typename Entry>
double rectangleSum(const Entry& entry, int x1, int y1, int x2, int y2)
{
    const double whole = entry(y2, x2);
    if (x1 <= 0 && y1 <= 0) {
        return whole;
    }
    if (x1 <= 0) {
        return whole - entry(y1 - 1, x2);
    }
    if (y1 <= 0) {
        return whole - entry(y2, x1 - 1);
    }
    return ((whole + entry(y1 - 1, x1 - 1)) - entry(y1 - 1, x2)) - entry(y2, x1 - 1);
}

// Whether a list of @p size values holds a plane of at least one pixel.
bool holdsPlane(qint64 size, int width, int height)
{
    return width >= 1 && height >= 1 && size >= qint64(width) * qint64(height);
}

// One row of each of the three channels, side by side in one buffer.
class ChannelRows
{
public:
    explicit ChannelRows(int width)
        : m_width(size_t(width))
        , m_values(channelCount * m_width)
    {}

    double* channel(int c) { return m_values.data() + size_t(c) * m_width; }
    const double* channel(int c) const { return m_values.data() + size_t(c) * m_width; }

private:
    size_t m_width;
    std::vector<double> m_values;
};

// The three channel values of every pixel of a scan line.
void convertLine(const QRgb* line, int width, ChannelRows& out)
{
    double* const luma = out.channel(0);
    double* const red = out.channel(1);
    double* const blue = out.channel(2);
    for (int x = 0; x < width; ++x) {
        const QRgb pixel = line[x];
        const double r = int((pixel >> 16) & 0xFFu);
        const double g = int((pixel >> 8) & 0xFFu);
        const double b = int(pixel & 0xFFu);
        const double l = (g * lumaGreen + lumaRed * r) + lumaBlue * b;
        luma[x] = l;
        red[x] = (r - l) * redDifferenceScale + differenceOffset;
        blue[x] = (b - l) * blueDifferenceScale + differenceOffset;
    }
}

// The 1-2-1 kernel exactly as the general smoothing evaluates it: the weighted sum from 0.0 in
// kernel order over the neighbours inside the plane, divided by the sum of their weights (4 inside,
// 3 at a border, 2 for a plane one value wide).
inline double smoothInside(double before, double at, double after)
{
    return (((0.0 + before * 1.0) + at * 2.0) + after * 1.0) / 4.0;
}

inline double smoothAtStart(double at, double after)
{
    return ((0.0 + at * 2.0) + after * 1.0) / 3.0;
}

inline double smoothAtEnd(double before, double at)
{
    return ((0.0 + before * 1.0) + at * 2.0) / 3.0;
}

inline double smoothAlone(double at)
{
    return (0.0 + at * 2.0) / 2.0;
}

// Horizontal 1-2-1 smoothing of a row of @p width values.
void smoothAlongRow(const double* in, int width, double* out)
{
    if (width == 1) {
        out[0] = smoothAlone(in[0]);
        return;
    }
    out[0] = smoothAtStart(in[0], in[1]);
    for (int x = 1; x < width - 1; ++x) {
        out[x] = smoothInside(in[x - 1], in[x], in[x + 1]);
    }
    out[width - 1] = smoothAtEnd(in[width - 2], in[width - 1]);
}

/*
 * The smoothed colour planes, one row at a time from the top. The horizontally smoothed rows
 * above, at and below the wanted row are kept in a ring of three; the wanted row is their
 * vertical smoothing. Every value passes through the same operations as in the whole-plane
 * smoothing, horizontal pass first.
 */
class SmoothedRows
{
public:
    explicit SmoothedRows(const QImage& source)
        : m_source(source)
        , m_width(source.width())
        , m_height(source.height())
        , m_colours(m_width)
        , m_ring {ChannelRows(m_width), ChannelRows(m_width), ChannelRows(m_width)}
        , m_smoothed(m_width)
    {}

    // The smoothed row @p y. Rows are asked for in ascending order.
    const ChannelRows& row(int y)
    {
        while (m_made <= std::min(y + 1, m_height - 1)) {
            makeHorizontalRow(m_made++);
        }
        for (int c = 0; c < channelCount; ++c) {
            smoothAlongColumns(y, c);
        }
        return m_smoothed;
    }

private:
    const double* horizontal(int y, int c) const { return m_ring[y % 3].channel(c); }

    void makeHorizontalRow(int y)
    {
        convertLine(reinterpret_cast<const QRgb*>(m_source.constScanLine(y)), m_width, m_colours);
        for (int c = 0; c < channelCount; ++c) {
            smoothAlongRow(m_colours.channel(c), m_width, m_ring[y % 3].channel(c));
        }
    }

    void smoothAlongColumns(int y, int c)
    {
        double* const out = m_smoothed.channel(c);
        const double* const at = horizontal(y, c);
        if (m_height == 1) {
            for (int x = 0; x < m_width; ++x) {
                out[x] = smoothAlone(at[x]);
            }
        } else if (y == 0) {
            const double* const after = horizontal(y + 1, c);
            for (int x = 0; x < m_width; ++x) {
                out[x] = smoothAtStart(at[x], after[x]);
            }
        } else if (y == m_height - 1) {
            const double* const before = horizontal(y - 1, c);
            for (int x = 0; x < m_width; ++x) {
                out[x] = smoothAtEnd(before[x], at[x]);
            }
        } else {
            const double* const before = horizontal(y - 1, c);
            const double* const after = horizontal(y + 1, c);
            for (int x = 0; x < m_width; ++x) {
                out[x] = smoothInside(before[x], at[x], after[x]);
            }
        }
    }

    const QImage& m_source;
    const int m_width;
    const int m_height;
    int m_made = 0; // horizontal rows made so far
    ChannelRows m_colours;
    ChannelRows m_ring[3];
    ChannelRows m_smoothed;
};

/*
 * The summed-area tables of the three colour planes, walked from the top: only the newest rows
 * are kept. An entry is the entry above plus the running sum of its own row, as in the whole
 * table. Two rows are made per step, so that six running sums (two rows of three channels),
 * which depend on nothing but themselves, advance side by side.
 */
class SummedAreaRows
{
public:
    explicit SummedAreaRows(const QImage& source)
        : m_source(source)
        , m_width(source.width())
        , m_colours {ChannelRows(m_width), ChannelRows(m_width)}
        , m_tables {ChannelRows(m_width), ChannelRows(m_width)}
    {}

    // Calls visit(r, tableRow) for every row r from 0 to @p lastRow, in order.
    template<typename Visit>
    void walk(int lastRow, Visit&& visit)
    {
        for (int c = 0; c < channelCount; ++c) {
            std::fill_n(m_tables[1].channel(c), m_width, 0.0); // the row above row 0
        }
        int r = 0;
        for (; r + 1 <= lastRow; r += 2) {
            convertLine(line(r), m_width, m_colours[0]);
            convertLine(line(r + 1), m_width, m_colours[1]);
            addRowPair();
            visit(r, m_tables[0]);
            visit(r + 1, m_tables[1]);
        }
        if (r == lastRow) {
            convertLine(line(r), m_width, m_colours[0]);
            addRow();
            visit(r, m_tables[1]);
        }
    }

private:
    const QRgb* line(int y) const
    {
        return reinterpret_cast<const QRgb*>(m_source.constScanLine(y));
    }

    // Table rows r (into m_tables[0]) and r + 1 (into m_tables[1], which holds row r - 1).
    void addRowPair()
    {
        const double* const first[3]
            = {m_colours[0].channel(0), m_colours[0].channel(1), m_colours[0].channel(2)};
        const double* const second[3]
            = {m_colours[1].channel(0), m_colours[1].channel(1), m_colours[1].channel(2)};
        double* const upper[3]
            = {m_tables[0].channel(0), m_tables[0].channel(1), m_tables[0].channel(2)};
        double* const lower[3]
            = {m_tables[1].channel(0), m_tables[1].channel(1), m_tables[1].channel(2)};
        double firstSum[3] = {0.0, 0.0, 0.0};
        double secondSum[3] = {0.0, 0.0, 0.0};
        for (int x = 0; x < m_width; ++x) {
            for (int c = 0; c < channelCount; ++c) {
                firstSum[c] += first[c][x];
                secondSum[c] += second[c][x];
                const double entry = lower[c][x] + firstSum[c];
                upper[c][x] = entry;
                lower[c][x] = entry + secondSum[c];
            }
        }
    }

    // Table row r into m_tables[1], which holds row r - 1.
    void addRow()
    {
        for (int c = 0; c < channelCount; ++c) {
            const double* const values = m_colours[0].channel(c);
            double* const table = m_tables[1].channel(c);
            double sum = 0.0;
            for (int x = 0; x < m_width; ++x) {
                sum += values[x];
                table[x] += sum;
            }
        }
    }

    const QImage& m_source;
    const int m_width;
    ChannelRows m_colours[2];
    ChannelRows m_tables[2];
};

/*
 * The salience of the columns begin ... end - 1 of one row: (d_luma^2 + d_red^2) + d_blue^2,
 * where d is the surround sum(c, x) divided by the surround's area, minus the smoothed colour.
 */
template<typename SurroundSum>
inline void salienceOfColumns(int begin, int end, const SurroundSum& sum,
    const double* columnCounts, double rowCount, const ChannelRows& smoothed, double* salience)
{
    const double* const luma = smoothed.channel(0);
    const double* const red = smoothed.channel(1);
    const double* const blue = smoothed.channel(2);
    for (int x = begin; x < end; ++x) {
        // Both factors are whole numbers and the product stays far below 2^53: exact, and equal
        // to the integer product converted to double.
        const double area = columnCounts[x] * rowCount;
        const double dLuma = sum(0, x) / area - luma[x];
        const double dRed = sum(1, x) / area - red[x];
        const double dBlue = sum(2, x) / area - blue[x];
        salience[x] = (dLuma * dLuma + dRed * dRed) + dBlue * dBlue;
    }
}

/*
 * The salience of one row from summed-area table rows. Along a row the surrounds fall in three
 * groups: the left half reaches from column 0 to 2x, the middle column of an even width spans
 * the whole row, and the right half reaches from 2x - width to the last column. Each surround
 * sum takes the same table entries in the same order as the general rectangle sum: from the
 * table row of the surround's last row alone when the surround starts at row 0, otherwise
 * minus the table row above the surround.
 */
void salienceRow(const ChannelRows* above, const ChannelRows& last, const double* columnCounts,
    double rowCount, const ChannelRows& smoothed, int width, double* salience)
{
    const double* const end[3] = {last.channel(0), last.channel(1), last.channel(2)};
    // The entries of the last column, the same for every surround of the middle and right groups.
    const double endWhole[3] = {end[0][width - 1], end[1][width - 1], end[2][width - 1]};
    const int leftEnd = (width + 1) / 2;
    const int rightBegin = width / 2 + 1;
    if (!above) {
        salienceOfColumns(
            0, leftEnd, [&](int c, int x) { return end[c][2 * x]; }, columnCounts, rowCount,
            smoothed, salience);
        salienceOfColumns(
            leftEnd, rightBegin, [&](int c, int) { return endWhole[c]; }, columnCounts, rowCount,
            smoothed, salience);
        salienceOfColumns(
            rightBegin, width,
            [&](int c, int x) { return endWhole[c] - end[c][2 * x - width - 1]; }, columnCounts,
            rowCount, smoothed, salience);
        return;
    }
    const double* const top[3] = {above->channel(0), above->channel(1), above->channel(2)};
    const double topWhole[3] = {top[0][width - 1], top[1][width - 1], top[2][width - 1]};
    salienceOfColumns(
        0, leftEnd, [&](int c, int x) { return end[c][2 * x] - top[c][2 * x]; }, columnCounts,
        rowCount, smoothed, salience);
    salienceOfColumns(
        leftEnd, rightBegin, [&](int c, int) { return endWhole[c] - topWhole[c]; }, columnCounts,
        rowCount, smoothed, salience);
    salienceOfColumns(
        rightBegin, width,
        [&](int c, int x) {
            const int before = 2 * x - width - 1;
            return ((endWhole[c] + top[c][before]) - topWhole[c]) - end[c][before];
        },
        columnCounts, rowCount, smoothed, salience);
}

/*
 * The salience plane row by row, from the top, with a few rows of work memory.
 *
 * The surround of row y in the upper half (2y < height) covers rows 0 ... 2y, so its sums come
 * from table row 2y alone; the first walk over the tables visits those rows. Every other row
 * ends at the last row of the table and starts at row 2y - height: the middle row of an even
 * height from row 0, the others from row 1 or below, which subtracts table row 2y - height - 1.
 * A second walk visits those rows, the last table row kept aside from the first.
 */
template<typename RowDone>
void forEachSalienceRow(const QImage& source, double* plane, RowDone&& rowDone)
{
    const int width = source.width();
    const int height = source.height();
    SummedAreaRows tables(source);
    SmoothedRows smoothed(source);
    ChannelRows lastTableRow(width);

    std::vector<double> columnCounts(size_t(width), 0.0);
    for (int x = 0; x < width; ++x) {
        const Span columns = span(x, width);
        columnCounts[size_t(x)] = columns.last - columns.first + 1;
    }

    const auto emitRow = [&](int y, const ChannelRows* above, const ChannelRows& last) {
        const Span rows = span(y, height);
        salienceRow(above, last, columnCounts.data(), rows.last - rows.first + 1, smoothed.row(y),
            width, plane + size_t(y) * size_t(width));
        rowDone(y);
    };

    tables.walk(height - 1, [&](int r, const ChannelRows& table) {
        if (r % 2 == 0) {
            emitRow(r / 2, nullptr, table);
        }
        if (r == height - 1) {
            lastTableRow = table;
        }
    });
    if (height % 2 == 0) {
        emitRow(height / 2, nullptr, lastTableRow);
    }
    tables.walk(height - 3, [&](int r, const ChannelRows& table) {
        if ((r + height + 1) % 2 == 0) {
            emitRow((r + height + 1) / 2, &table, lastTableRow);
        }
    });
}

// The smallest and the largest value of a salience plane, starting from the stretch's limits.
struct Extremes
{
    double minimum = stretchMinimumStart;
    double maximum = 0.0;
};

/*
 * The salience plane of @p source into @p plane (width x height doubles, row-major), with its
 * extremes. Salience is never NaN and never -0 (a sum of squares), so its smallest and largest
 * value do not depend on the order of the comparisons: four interleaved running extremes give
 * the same as one scan in index order.
 */
inline Extremes fillPlane(const QImage& source, double* plane)
{
    const int width = source.width();
    constexpr int lanes = 4;
    double minimum[lanes]
        = {stretchMinimumStart, stretchMinimumStart, stretchMinimumStart, stretchMinimumStart};
    double maximum[lanes] = {0.0, 0.0, 0.0, 0.0};
    forEachSalienceRow(source, plane, [&](int y) {
        const double* const row = plane + size_t(y) * size_t(width);
        int x = 0;
        for (; x + lanes <= width; x += lanes) {
            for (int k = 0; k < lanes; ++k) {
                minimum[k] = row[x + k] < minimum[k] ? row[x + k] : minimum[k];
                maximum[k] = row[x + k] > maximum[k] ? row[x + k] : maximum[k];
            }
        }
        for (; x < width; ++x) {
            minimum[0] = row[x] < minimum[0] ? row[x] : minimum[0];
            maximum[0] = row[x] > maximum[0] ? row[x] : maximum[0];
        }
    });
    Extremes extremes;
    for (int k = 0; k < lanes; ++k) {
        extremes.minimum = std::min(extremes.minimum, minimum[k]);
        extremes.maximum = std::max(extremes.maximum, maximum[k]);
    }
    return extremes;
}

/*
 * Division of whole numbers n below 2^31 by a fixed divisor d through one multiplication. With
 * L the smallest power such that 2^L >= d and k = 31 + L, m = ceil(2^k / d) exceeds 2^k / d by
 * less than 1, so n * m / 2^k exceeds n / d by less than n / 2^k < 2^-L <= 1 / d. n / d is a
 * whole number plus at most (d - 1) / d, so the excess never reaches the next whole number and
 * the truncated quotient is exact. m stays below 2^32, so the product fits 64 bits.
 */
class ExactDivision
{
public:
    explicit ExactDivision(quint32 divisor)
    {
        int bits = 0;
        while ((quint64(1) << bits) < divisor) {
            ++bits;
        }
        m_shift = 31 + bits;
        m_multiplier = quint32(((quint64(1) << m_shift) + divisor - 1) / divisor);
    }

    quint32 operator()(quint32 numerator) const
    {
        return quint32((quint64(numerator) * quint64(m_multiplier)) >> m_shift);
    }

private:
    quint32 m_multiplier;
    int m_shift;
};

/*
 * The salience of @p source, stretched into grey map words: fills @p plane with the salience,
 * then writes v * 255 / range for every pixel (v the salience above the minimum, truncated to an
 * int) into the rows of @p map, @p mapStride bytes apart. Returns false, writing nothing to the
 * map, when the salience spreads by less than 1.
 */
inline bool stretchSalience(const QImage& source, double* plane, uchar* map, qsizetype mapStride)
{
    const int width = source.width();
    const int height = source.height();
    const Extremes extremes = fillPlane(source, plane);
    const double minimum = extremes.minimum;
    const int range = int(extremes.maximum - minimum);
    if (range < 1) {
        return false;
    }
    // v <= range, and range is at most about 3 * 255^2, so v * 255 stays far below 2^31.
    const ExactDivision byRange {quint32(range)};
    for (int y = 0; y < height; ++y) {
        const double* const row = plane + size_t(y) * size_t(width);
        QRgb* const words = reinterpret_cast<QRgb*>(map + y * mapStride);
        for (int x = 0; x < width; ++x) {
            const int v = int(row[x] - minimum);
            const quint32 value = std::min(byRange(quint32(v * ZTSalienceMap::largestSalience)),
                quint32(ZTSalienceMap::largestSalience));
            words[x] = ZTSalienceMap::grey(value);
        }
    }
    return true;
}

// The stretched salience map of @p source before the maximum filter, or opaque black when the
// salience spreads by less than 1. @p source holds 0xAARRGGBB words (alpha is ignored).
QImage stretchedSalience(const QImage& source)
{
    QImage map(source.size(), QImage::Format_ARGB32);
    if (map.isNull()) {
        return map;
    }
    // The plane goes away before the map is returned, so that the maximum filter that follows in
    // evaluate() can reuse its memory.
    const std::unique_ptr<double[]> plane(
        new double[size_t(source.width()) * size_t(source.height())]);
    uchar* const bits = map.bits();
    const qsizetype stride = map.bytesPerLine();
    const bool stretched
        = ZTSimd::run([&] { return stretchSalience(source, plane.get(), bits, stride); });
    if (!stretched) {
        map.fill(ZTSalienceMap::grey(0));
    }
    return map;
}

} // namespace

ZTSalienzAchanta::ZTSalienzAchanta()
    : m_maxFilter(spreadSize, spreadThreshold)
{}

ZTSalienzAchanta::~ZTSalienzAchanta() = default;

QList<double> ZTSalienzAchanta::createZeroedList(int count) const
{
    QList<double> list;
    if (count < 1) {
        return list;
    }
    list.reserve(count);
    for (int i = 0; i < count; ++i) {
        list.append(0.0);
    }
    return list;
}

QList<QList<double>> ZTSalienzAchanta::createZeroed2dList(int width, int height) const
{
    QList<QList<double>> rows;
    if (height < 1) {
        return rows;
    }
    rows.reserve(height);
    for (int y = 0; y < height; ++y) {
        rows.append(createZeroedList(width));
    }
    return rows;
}

void ZTSalienzAchanta::gaussianSmooth(const QList<double>& input, int width, int height,
    const QList<double>& kernel, QList<double>& output)
{
    if (kernel.isEmpty() || !holdsPlane(input.size(), width, height)
        || !holdsPlane(output.size(), width, height)) {
        return;
    }
    const std::vector<double> weights(kernel.cbegin(), kernel.cend());
    std::vector<double> scratch(size_t(width) * size_t(height));
    smoothPlane(input, width, height, weights, scratch, output);
}

void ZTSalienzAchanta::integralImage(
    const QList<double>& plane, int width, int height, QList<QList<double>>& table)
{
    if (!holdsPlane(plane.size(), width, height) || table.size() < height) {
        return;
    }
    for (int y = 0; y < height; ++y) {
        if (table.at(y).size() < width) {
            return;
        }
    }
    for (int y = 0; y < height; ++y) {
        QList<double>& row = table[y];
        double rowSum = 0.0;
        for (int x = 0; x < width; ++x) {
            rowSum += plane.at(y * width + x);
            row[x] = y > 0 ? table.at(y - 1).at(x) + rowSum : rowSum;
        }
    }
}

double ZTSalienzAchanta::integralSum(
    const QList<QList<double>>& table, int x1, int y1, int x2, int y2)
{
    bool inside = true;
    const auto entry = [&](int y, int x) {
        if (y < 0 || y >= table.size() || x < 0 || x >= table.at(y).size()) {
            inside = false;
            return 0.0;
        }
        return table.at(y).at(x);
    };
    const double sum = rectangleSum(entry, x1, y1, x2, y2);
    return inside ? sum : 0.0;
}

// The salience plane, stretched between its smallest and largest value into a grey map, whose
// brightest pixels then spread along their rows and columns.
QImage ZTSalienzAchanta::evaluate(const QImage& image)
{
    if (image.isNull()) {
        return createTargetImage(image);
    }
    const QImage source
        = ZTPixelAccess::holdsQRgbWords(image.format()) ? image : adjustFormat(image);
    return m_maxFilter.evaluate(stretchedSalience(source));
}
