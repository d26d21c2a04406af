#include "ZTHistogram.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace {

constexpr double initialMinimum = 1000.0;
constexpr double initialMaximum = 0.0;
constexpr int channelLevels = 256;

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

// Whether the four entries from @p entries on are all +0.0.
inline bool allZeroBits(const double* entries)
{
    quint64 bits[4];
    std::memcpy(bits, entries, sizeof bits);
    return (bits[0] | bits[1] | bits[2] | bits[3]) == 0;
}

} // namespace

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
    m_table.assign(rows * columns, 0.0);

    const QImage words = block.depth() == 32 ? block : block.convertToFormat(QImage::Format_ARGB32);
    const int width = words.width();
    const int height = words.height();
    // Bins looked up per channel value; pixels counted in whole numbers, even and odd columns
    // apart, so that runs of pixels in one bin do not wait for each other's increments.
    size_t rowStart[channelLevels];
    size_t column[channelLevels];
    for (quint32 v = 0; v < channelLevels; ++v) {
        rowStart[v] = binOf(v, m_bins1) * columns;
        column[v] = binOf(v, m_bins2);
    }
    const size_t cells = m_table.size();
    std::vector<quint32> counts(2 * cells, 0);
    quint32* const even = counts.data();
    quint32* const odd = even + cells;
    const auto bin = [&](QRgb p) { return rowStart[(p >> 8) & 0xFFu] + column[p & 0xFFu]; };
    for (int y = 0; y < height; ++y) {
        const QRgb* const line = reinterpret_cast<const QRgb*>(words.constScanLine(y));
        int x = 0;
        for (; x + 1 < width; x += 2) {
            ++even[bin(line[x])];
            ++odd[bin(line[x + 1])];
        }
        if (x < width) {
            ++even[bin(line[x])];
        }
    }
    for (size_t i = 0; i < cells; ++i) {
        m_table[i] = double(even[i]) + double(odd[i]);
    }
}

void ZTHistogram::normalizeHistogram()
{
    if (m_bins1 < 1) {
        return;
    }
    double minimum = initialMinimum;
    double maximum = initialMaximum;
    for (const double entry : m_table) {
        if (entry < minimum) {
            minimum = entry;
        }
        if (entry > maximum) {
            maximum = entry;
        }
    }
    // A flat table gives 0 / 0 = NaN everywhere; the distance skips NaN entries of the expected
    // histogram, and an edge weighing NaN never joins two blocks.
    // Empty bins, usually most of them, share one value.
    const double range = maximum - minimum;
    const double empty = (0.0 - minimum) / range;
    for (double& entry : m_table) {
        entry = entry == 0.0 ? empty : (entry - minimum) / range;
    }
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
    const int otherRows = other ? other->m_bins1 : 0;
    const int otherColumns = other ? other->m_bins2 : 0;
    // Columns of this table that the other table also has; the rest compare against 0.0.
    const int sharedColumns = std::min(m_bins2, otherColumns);
    double sum = 0.0;
    for (int y = 0; y < m_bins1; ++y) {
        const double* const expected = m_table.data() + size_t(y) * size_t(m_bins2);
        const double* const observed
            = y < otherRows ? other->m_table.data() + size_t(y) * size_t(otherColumns) : nullptr;
        for (int x = 0; x < m_bins2; ++x) {
            // Most entries of a normalised table are +0.0, which adds nothing: groups of four of
            // them are passed over at once.
            if (x + 4 <= m_bins2 && allZeroBits(expected + x)) {
                x += 3;
                continue;
            }
            const double a = expected[x];
            const double b = observed && x < sharedColumns ? observed[x] : 0.0;
            if (std::fabs(a) > 0.0) {
                const double d = a - b;
                sum += d * d / a;
            }
        }
    }
    return sum;
}
