#include "ZTHistogram.h"

#include "ZTBlockHistogram_p.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace {

constexpr double initialMinimum = 1000.0;
constexpr double initialMaximum = 0.0;
using ZTBlockHistogram::channelLevels;

// The bin of channel value @p value (0 ... 255) among @p bins bins: (value * bins) / 256. The
// product is taken in 64 bits, so any int bin count gives the exact quotient.
inline size_t binOf(quint32 value, int bins)
{
    return size_t((quint64(value) * quint64(bins)) / channelLevels);
}

// Bin counts below 1 have no table to count into: 0 becomes one bin, a negative count is what
// new[] refuses with std::bad_array_new_length.
int usableBinCount(int bins)
{
    if (bins < 0) {
        throw std::bad_array_new_length();
    }
    return bins == 0 ? 1 : bins;
}

// The entries of a dense table whose bits are not all 0; whether any is.
bool sparseOf(const std::vector<double>& table, ZTBlockHistogram::Sparse& histogram)
{
    bool anyEmpty = false;
    for (size_t bin = 0; bin < table.size(); ++bin) {
        quint64 bits;
        std::memcpy(&bits, &table[bin], sizeof bits);
        if (bits == 0) {
            anyEmpty = true;
        } else {
            histogram.bins.push_back(bin);
            histogram.values.push_back(table[bin]);
        }
    }
    return anyEmpty;
}

// @p table as the dense form of @p histogram, with @p size entries.
void assignTable(std::vector<double>& table, size_t size, const ZTBlockHistogram::Sparse& histogram)
{
    table.assign(size, histogram.emptyValue);
    for (size_t i = 0; i < histogram.bins.size(); ++i) {
        table[histogram.bins[i]] = histogram.values[i];
    }
}

} // namespace

void ZTBlockHistogram::normalise(Sparse& histogram, bool anyEmpty)
{
    // The extremes do not depend on where the +0.0 entries stand among the others: no table
    // holds -0.0, and NaN entries compare false either way.
    double minimum = initialMinimum;
    double maximum = initialMaximum;
    for (const double value : histogram.values) {
        if (value < minimum) {
            minimum = value;
        }
        if (value > maximum) {
            maximum = value;
        }
    }
    if (anyEmpty && 0.0 < minimum) {
        minimum = 0.0;
    }
    // A flat table gives 0 / 0 = NaN everywhere; the distance skips NaN entries of the expected
    // histogram, and an edge weighing NaN never joins two blocks.
    const double range = maximum - minimum;
    for (double& value : histogram.values) {
        value = (value - minimum) / range;
    }
    histogram.emptyValue = (0.0 - minimum) / range;
}

double ZTBlockHistogram::chiSquare(const Sparse& expected, const Sparse& observed)
{
    // Both walk the bins in ascending order.
    size_t k = 0;
    return chiSquare(expected, [&observed, &k](size_t bin) {
        while (k < observed.bins.size() && observed.bins[k] < bin) {
            ++k;
        }
        return k < observed.bins.size() && observed.bins[k] == bin ? observed.values[k]
                                                                   : observed.emptyValue;
    });
}

ZTBlockHistogram::Counter::Counter(int bins1, int bins2)
    : m_cells(size_t(bins1) * size_t(bins2))
    , m_counts(2 * m_cells, 0)
{
    for (quint32 v = 0; v < channelLevels; ++v) {
        m_rowStart[v] = binOf(v, bins1) * size_t(bins2);
        m_column[v] = binOf(v, bins2);
    }
}

void ZTBlockHistogram::Counter::count(const QImage& words, const QRect& block)
{
    qint32* const even = m_counts.data();
    qint32* const odd = even + m_cells;
    const auto bin = [this](QRgb p) { return m_rowStart[(p >> 8) & 0xFFu] + m_column[p & 0xFFu]; };
    const int width = block.width();
    for (int y = block.top(); y <= block.bottom(); ++y) {
        const QRgb* const line
            = reinterpret_cast<const QRgb*>(words.constScanLine(y)) + block.left();
        int x = 0;
        for (; x + 3 < width; x += 4) {
            ++even[bin(line[x])];
            ++odd[bin(line[x + 1])];
            ++even[bin(line[x + 2])];
            ++odd[bin(line[x + 3])];
        }
        for (; x < width; ++x) {
            ++(x % 2 == 0 ? even : odd)[bin(line[x])];
        }
    }
}

bool ZTBlockHistogram::Counter::takeCounts(Sparse& histogram)
{
    histogram.bins.clear();
    histogram.values.clear();
    histogram.emptyValue = 0.0;
    qint32* const even = m_counts.data();
    qint32* const odd = even + m_cells;
    // Most bins are empty: runs of eight are passed over at once.
    constexpr size_t run = 8;
    for (size_t first = 0; first < m_cells; first += run) {
        const size_t last = std::min(first + run, m_cells);
        qint32 any = 0;
        for (size_t bin = first; bin < last; ++bin) {
            any |= even[bin] | odd[bin];
        }
        for (size_t bin = first; any != 0 && bin < last; ++bin) {
            if ((even[bin] | odd[bin]) != 0) {
                histogram.bins.push_back(bin);
                histogram.values.push_back(double(even[bin]) + double(odd[bin]));
                even[bin] = 0;
                odd[bin] = 0;
            }
        }
    }
    return histogram.bins.size() < m_cells;
}

ZTHistogram::ZTHistogram()
    : m_bins1(0)
    , m_bins2(0)
{}

// Counts a block of packed YCbCr words: Cb (bits 8-15) picks the row, Cr (bits 0-7) the column.
// The pixels are read as 32-bit words straight from the scan lines.
ZTHistogram::ZTHistogram(const QImage& block, int bins1, int bins2)
    : m_bins1(usableBinCount(bins1))
    , m_bins2(usableBinCount(bins2))
{
    const size_t rows = size_t(m_bins1);
    const size_t columns = size_t(m_bins2);
    if (rows > m_table.max_size() / columns) {
        throw std::bad_alloc();
    }

    const QImage words = block.depth() == 32 ? block : block.convertToFormat(QImage::Format_ARGB32);
    ZTBlockHistogram::Counter counter(m_bins1, m_bins2);
    counter.count(words, words.rect());
    ZTBlockHistogram::Sparse counts;
    counter.takeCounts(counts);
    assignTable(m_table, rows * columns, counts);
}

void ZTHistogram::normalizeHistogram()
{
    if (m_bins1 < 1) {
        return;
    }
    ZTBlockHistogram::Sparse histogram;
    ZTBlockHistogram::normalise(histogram, sparseOf(m_table, histogram));
    assignTable(m_table, m_table.size(), histogram);
}

double ZTHistogram::getHistogramValue(int x, int y)
{
    if (x < 0 || y < 0 || x >= m_bins2 || y >= m_bins1) {
        return 0.0;
    }
    return m_table[size_t(y) * size_t(m_bins2) + size_t(x)];
}

double ZTHistogram::compareHistogram(ZTHistogram* other)
{
    if (m_bins1 < 1) {
        return 0.0;
    }
    ZTBlockHistogram::Sparse expected;
    sparseOf(m_table, expected);
    // Entries that the other table lacks, or all of them if there is none, count as 0.0.
    const size_t columns = size_t(m_bins2);
    const size_t otherRows = other ? size_t(other->m_bins1) : 0;
    const size_t otherColumns = other ? size_t(other->m_bins2) : 0;
    return ZTBlockHistogram::chiSquare(expected, [&](size_t bin) {
        const size_t row = bin / columns;
        const size_t column = bin % columns;
        return row < otherRows && column < otherColumns
            ? other->m_table[row * otherColumns + column]
            : 0.0;
    });
}
