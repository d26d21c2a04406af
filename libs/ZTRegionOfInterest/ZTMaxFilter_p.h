#ifndef ZTMAXFILTER_P_H
#define ZTMAXFILTER_P_H

// The cross maximum filter on opaque grey maps held as one byte per pixel. Internal; not
// installed.
//
// On an opaque grey map the winning pixel of ZTMaxFilter is the grey word of the greatest value
// among the pixel's own value and every value above the threshold in its row or column within
// half pixels, whichever pixel that value came from; so ties need no care, and a value that does
// not spread may stand as 0, which never beats a pixel's own value.

#include <QtGlobal>

#include <algorithm>
#include <vector>

namespace ZTGreyMaxFilter {

/** Arms up to this length are filtered row by row (spreadRows), longer ones as a plane. */
constexpr int shortArm = 8;

/** Clamps a threshold to -1 ... 255, the range in which it can matter for a byte. */
inline int clampedThreshold(int threshold)
{
    return std::clamp(threshold, -1, 255);
}

/** The value that @p value spreads: itself above @p threshold (clamped), else 0. */
inline quint8 spreading(quint8 value, int threshold)
{
    return int(value) > threshold ? value : quint8(0);
}

// Loops over whole rows, kept out of line so that their buffers are known not to overlap and
// the compiler vectorises them.

/** out[i] = max(a[i], b[i], c[i]); out may not overlap the others. */
void maxOfThree(const quint8* a, const quint8* b, const quint8* c, quint8* out, size_t count);

/** maxima[i] = max(maxima[i], row[i]); the buffers may not overlap. */
void raiseTo(quint8* maxima, const quint8* row, size_t count);

/** out[i] = the value that values[i] spreads above @p threshold; no overlap. */
void spreadingValues(const quint8* values, int threshold, quint8* out, size_t count);

/**
 * Maxima of the spreading values of one row over windows of half pixels on either side, cut at
 * the row's ends. Buffers are allocated once, at construction.
 */
class RowMaxima
{
public:
    RowMaxima(int width, int half, int threshold);

    /** The maxima for the row @p values of width bytes; valid until the next call. */
    const quint8* compute(const quint8* values);

private:
    int m_width;
    int m_half;
    int m_threshold;
    std::vector<quint8> m_framed;
    std::vector<quint8> m_scratch;
};

/**
 * The filter of the width x height plane @p plane into @p out (both row by row, not
 * overlapping), with arms of @p half >= 1 pixels. Along columns its cost does not grow with the
 * arms; along rows it grows with their logarithm, in passes that the compiler vectorises.
 */
void spread(const quint8* plane, quint8* out, int width, int height, int half, int threshold);

/**
 * The same filter with the picture streamed: fill(y, row) must write input row y (width bytes)
 * and is called for y = 0, 1, ... in order; take(y, row) receives each finished row in order.
 * Only 2 * half + 1 input rows are held, and each output row takes the maximum over them
 * directly, so this suits short arms (half up to shortArm).
 */
template<typename Fill, typename Take>
void spreadRows(int width, int height, int half, int threshold, Fill fill, Take take)
{
    const int limit = clampedThreshold(threshold);
    const int columnHalf = std::min(half, height - 1);
    const size_t columns = size_t(width);
    const size_t ringRows = size_t(2 * columnHalf + 1);
    std::vector<quint8> values(ringRows * columns);
    std::vector<quint8> spreads(ringRows * columns);
    std::vector<quint8> columnMaxima(columns);
    std::vector<quint8> out(columns);
    RowMaxima rowMaxima(width, half, threshold);
    const auto slot = [&](int y) { return size_t(y) % ringRows * columns; };

    int filled = 0;
    for (int y = 0; y < height; ++y) {
        for (; filled <= std::min(y + columnHalf, height - 1); ++filled) {
            quint8* const row = values.data() + slot(filled);
            fill(filled, row);
            spreadingValues(row, limit, spreads.data() + slot(filled), columns);
        }
        const int first = std::max(y - columnHalf, 0);
        const int last = std::min(y + columnHalf, height - 1);
        std::copy_n(spreads.data() + slot(first), columns, columnMaxima.data());
        for (int row = first + 1; row <= last; ++row) {
            raiseTo(columnMaxima.data(), spreads.data() + slot(row), columns);
        }
        const quint8* const own = values.data() + slot(y);
        maxOfThree(own, rowMaxima.compute(own), columnMaxima.data(), out.data(), columns);
        take(y, out.data());
    }
}

} // namespace ZTGreyMaxFilter

#endif // ZTMAXFILTER_P_H
