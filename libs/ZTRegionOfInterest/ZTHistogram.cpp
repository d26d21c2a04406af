#include "ZTHistogram.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Most entries of a block's table are empty (+0.0 before and after normalising), so the loops
// over a table pass over groups of empty entries at once.
constexpr size_t groupSize = 16;

// Whether the group of entries from @p entries on are all +0.0 (all bits 0).
inline bool isEmptyGroup(const double* entries)
{
#if defined(__SSE2__)
    const auto load = [entries](size_t i) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(entries + i));
    };
    const __m128i any
        = _mm_or_si128(_mm_or_si128(_mm_or_si128(load(0), load(2)), _mm_or_si128(load(4), load(6))),
            _mm_or_si128(_mm_or_si128(load(8), load(10)), _mm_or_si128(load(12), load(14))));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) == 0xFFFF;
#else
    quint64 bits[groupSize];
    std::memcpy(bits, entries, sizeof bits);
    quint64 any = 0;
    for (const quint64 word : bits) {
        any |= word;
    }
    return any == 0;
#endif
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
    const size_t cells = rows * columns;
    // Signed counts convert to double faster; a block holds fewer than 2^31 pixels.
    std::vector<qint32> counts(2 * cells, 0);
    qint32* const even = counts.data();
    qint32* const odd = even + cells;
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
    m_table.assign(even, even + cells); // exact: whole numbers below 2^31
    for (size_t i = 0; i < cells; ++i) {
        m_table[i] += double(odd[i]);
    }
}

void ZTHistogram::normalizeHistogram()
{
    if (m_bins1 < 1) {
        return;
    }
    // The extremes as the entries come, except that groups of +0.0 count once at the end: a
    // table holds no -0.0, so where a +0.0 stands among the entries changes neither extreme.
    double minimum = initialMinimum;
    double maximum = initialMaximum;
    bool emptyGroups = false;
    const size_t count = m_table.size();
    const double* const entries = m_table.data();
    for (size_t i = 0; i < count;) {
        if (i + groupSize <= count && isEmptyGroup(entries + i)) {
            emptyGroups = true;
            i += groupSize;
            continue;
        }
        const double entry = entries[i++];
        if (entry < minimum) {
            minimum = entry;
        }
        if (entry > maximum) {
            maximum = entry;
        }
    }
    if (emptyGroups && 0.0 < minimum) {
        minimum = 0.0;
    }
    // A flat table gives 0 / 0 = NaN everywhere; the distance skips NaN entries of the expected
    // histogram, and an edge weighing NaN never joins two blocks.
    const double range = maximum - minimum;
    for (double& entry : m_table) {
        const double normalised = (entry - minimum) / range;
        entry = normalised;
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
            if (size_t(x) + groupSize <= size_t(m_bins2) && isEmptyGroup(expected + x)) {
                x += int(groupSize) - 1;
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
