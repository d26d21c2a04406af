#include "ZTMaxFilter.h"

#include "ZTMaxFilter_p.h"
#include "ZTPixelAccess_p.h"
#include "ZTSalienceMap_p.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace {

constexpr int largestRed = 255;

inline int redOf(QRgb pixel)
{
    return int((pixel >> 16) & 0xFFu);
}

// A spreading candidate as one ordered 64-bit key: red + 1 in the high word (so 0 stands for "no
// candidate") and the complement of the candidate's position along its arm in the low word. The
// greatest key is then the reddest candidate and, among equally red ones, the first along the
// arm, which is the first in row-major order.
inline quint64 candidateKey(QRgb pixel, int threshold, int position)
{
    const int red = redOf(pixel);
    // All ones for a spreading pixel, 0 otherwise; branch-free, as reds vary from pixel to pixel.
    const quint64 spreads = quint64(0) - quint64(red > threshold);
    return ((quint64(red + 1) << 32) | quint64(~quint32(position))) & spreads;
}

inline int keyRed(quint64 key)
{
    return int(key >> 32) - 1;
}

inline int keyPosition(quint64 key)
{
    return int(~quint32(key));
}

// The maximum of every window of 2 * half + 1 keys centred on the positions of a line, windows
// cut at the line's ends, in constant time per position (van Herk / Gil-Werman). The line is
// padded with half empty keys on either side and cut into blocks of the window's length; each
// window then covers a tail of one block and a head of the next, whose running maxima are known.
class LineMaximum
{
public:
    LineMaximum(int length, int half)
        : m_length(length)
        , m_half(half)
        , m_padded(size_t(length) + 2 * size_t(half), 0)
        , m_suffix(size_t(length))
    {}

    /** The length keys of the line, to be filled before compute(). */
    quint64* keys() { return m_padded.data() + m_half; }

    /** Writes the maximum of the window centred on position i to out[i]. */
    void compute(quint64* out)
    {
        const std::ptrdiff_t length = m_length;
        const std::ptrdiff_t window = 2 * std::ptrdiff_t(m_half) + 1;
        const std::ptrdiff_t padded = length + window - 1;
        const quint64* const keys = m_padded.data();

        // Maxima from each window start to the end of its block. A block that starts inside the
        // line ends at most at the last padded key.
        for (std::ptrdiff_t start = 0; start < length; start += window) {
            quint64 maximum = 0;
            std::ptrdiff_t i = start + window - 1;
            for (; i >= length; --i) {
                maximum = std::max(maximum, keys[i]);
            }
            for (; i >= start; --i) {
                maximum = std::max(maximum, keys[i]);
                m_suffix[size_t(i)] = maximum;
            }
        }
        // Maxima from each block's start to each window end, joined with the suffix maxima.
        for (std::ptrdiff_t start = 0; start < padded; start += window) {
            const std::ptrdiff_t end = std::min(start + window, padded);
            quint64 maximum = 0;
            for (std::ptrdiff_t i = start; i < end; ++i) {
                maximum = std::max(maximum, keys[i]);
                const std::ptrdiff_t windowStart = i - (window - 1);
                if (windowStart >= 0) {
                    out[windowStart] = std::max(m_suffix[size_t(windowStart)], maximum);
                }
            }
        }
    }

private:
    const int m_length;
    const int m_half;
    std::vector<quint64> m_padded;
    std::vector<quint64> m_suffix;
};

// The filter on an image whose scan lines hold QRgb words, in time proportional to its pixel
// count. For every pixel it finds the best spreading candidate of its row window and of its
// column window (the same van Herk / Gil-Werman scheme, run down the columns with a ring of
// suffix rows so that only one window's height of rows is held), and copies the better of the two
// if it is redder than the pixel. Of two equally red candidates the column one wins if it lies
// above the pixel, since it comes first in row-major order.
void spreadQRgbWords(const QImage& input, QImage& result, int half, int threshold)
{
    const int width = input.width();
    const int height = input.height();
    // QImage::setPixel forces alpha to 255 in an RGB32 image and stores the word as it is in the
    // other two formats.
    const QRgb writtenAlpha
        = input.format() == QImage::Format_RGB32 ? ZTSalienceMap::opaqueAlpha : 0u;

    const size_t columns = size_t(width);
    std::vector<const QRgb*> rows(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        rows[size_t(y)] = reinterpret_cast<const QRgb*>(input.constScanLine(y));
    }

    // An arm longer than the picture reaches the whole row or column; cutting it changes nothing.
    LineMaximum rowMaximum(width, std::min(half, width - 1));
    std::vector<quint64> rowBest(columns);

    const int columnHalf = std::min(half, height - 1);
    const std::ptrdiff_t window = 2 * std::ptrdiff_t(columnHalf) + 1;
    const std::ptrdiff_t paddedRows = std::ptrdiff_t(height) + window - 1;
    const size_t ringRows = size_t(std::min<std::ptrdiff_t>(window, height));
    std::vector<quint64> suffixRing(ringRows * columns);
    std::vector<quint64> prefix(columns);
    std::vector<quint64> running(columns);

    // Column keys of padded row j (row j - columnHalf of the picture; empty outside it), merged
    // into a row of maxima.
    const auto mergeColumnKeys = [&](std::ptrdiff_t j, quint64* maxima) {
        const std::ptrdiff_t y = j - columnHalf;
        if (y < 0 || y >= height) {
            return;
        }
        const QRgb* const line = rows[size_t(y)];
        for (int x = 0; x < width; ++x) {
            maxima[x] = std::max(maxima[x], candidateKey(line[x], threshold, int(y)));
        }
    };

    for (std::ptrdiff_t j = 0; j < paddedRows; ++j) {
        const std::ptrdiff_t inBlock = j % window;
        if (inBlock == 0) {
            std::fill(prefix.begin(), prefix.end(), 0);
        }
        mergeColumnKeys(j, prefix.data());

        // At the end of a block, the suffix maxima of its rows that start a window.
        const std::ptrdiff_t blockStart = j - inBlock;
        if (inBlock == window - 1 && blockStart < height) {
            std::fill(running.begin(), running.end(), 0);
            for (std::ptrdiff_t i = j; i >= blockStart; --i) {
                mergeColumnKeys(i, running.data());
                if (i < height) {
                    std::copy(running.begin(), running.end(),
                        suffixRing.begin() + std::ptrdiff_t(size_t(i % window) * size_t(width)));
                }
            }
        }

        const std::ptrdiff_t y = j - (window - 1);
        if (y < 0) {
            continue;
        }
        const QRgb* const line = rows[size_t(y)];
        quint64* const rowKeys = rowMaximum.keys();
        for (int x = 0; x < width; ++x) {
            rowKeys[x] = candidateKey(line[x], threshold, x);
        }
        rowMaximum.compute(rowBest.data());

        const quint64* const suffix = suffixRing.data() + size_t(y % window) * size_t(width);
        QRgb* const out = reinterpret_cast<QRgb*>(result.scanLine(int(y)));
        for (int x = 0; x < width; ++x) {
            const quint64 rowKey = rowBest[size_t(x)];
            const quint64 columnKey = std::max(suffix[x], prefix[size_t(x)]);
            const int ownRed = redOf(line[x]);
            const int rowRed = keyRed(rowKey);
            const int columnRed = keyRed(columnKey);
            if (rowRed <= ownRed && columnRed <= ownRed) {
                continue;
            }
            const bool fromColumn
                = columnRed > rowRed || (columnRed == rowRed && keyPosition(columnKey) < y);
            const QRgb winner
                = fromColumn ? rows[size_t(keyPosition(columnKey))][x] : line[keyPosition(rowKey)];
            out[x] = winner | writtenAlpha;
        }
    }
}

// The filter exactly as its definition reads, through pixel reads and writes, for formats whose
// scan lines are not QRgb words. A pixel written into some of them reads back with another red
// (premultiplied formats with few alpha bits), and later comparisons see that red, so these
// formats are not given the candidate search above. Indexed images copy the winner's index.
void spreadPixelByPixel(const QImage& input, QImage& result, int half, int threshold)
{
    const int width = input.width();
    const int height = input.height();
    const bool indexed = ZTPixelAccess::isIndexed(input.format());
    const ZTPixelAccess::PixelReader source(input);
    const ZTPixelAccess::PixelReader target(result);

    const auto spreadOnto = [&](QRgb pixel, int fromX, int fromY, int x, int y) {
        if (redOf(pixel) <= redOf(target.pixel(x, y))) {
            return;
        }
        if (indexed) {
            result.setPixel(x, y, uint(input.pixelIndex(fromX, fromY)));
        } else {
            result.setPixel(x, y, pixel);
        }
    };

    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const QRgb pixel = source.pixel(x, y);
            if (redOf(pixel) <= threshold) {
                continue;
            }
            // Arm positions outside the picture are skipped, so the arms are cut to it.
            const int lastX = int(std::min<qint64>(qint64(x) + half, width - 1));
            for (int xx = std::max(x - half, 0); xx <= lastX; ++xx) {
                spreadOnto(pixel, x, y, xx, y);
            }
            const int lastY = int(std::min<qint64>(qint64(y) + half, height - 1));
            for (int yy = std::max(y - half, 0); yy <= lastY; ++yy) {
                spreadOnto(pixel, x, y, x, yy);
            }
        }
    }
}

// out[i] = max(a[i], b[i]); a and b may overlap each other but not out.
void maxOfPairs(
    const quint8* __restrict a, const quint8* __restrict b, quint8* __restrict out, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        out[i] = std::max(a[i], b[i]);
    }
}

// Turns data[i], for every i < data.size() - (window - 1), into the maximum of data[i + k] for
// k = 0 ... window - 1. Doubling: after the level of step s each entry
// is the maximum of a run of 2s entries, and a window is the union of two overlapping runs of
// the largest power of two that fits it. So the cost grows with log2(window), and every level is
// a plain loop over two distinct buffers, which the compiler vectorises. Entries past the valid
// range end up undefined; scratch must have data's size.
void slidingMaximum(std::vector<quint8>& data, std::vector<quint8>& scratch, int window)
{
    const size_t count = data.size();
    int run = 1;
    while (run < window) {
        const int step = std::min(run, window - run);
        const size_t offset = size_t(step);
        maxOfPairs(data.data(), data.data() + offset, scratch.data(), count - offset);
        data.swap(scratch);
        run += step;
    }
}

// Whether every stored word is the opaque grey word of its red.
bool isOpaqueGreyMap(const QImage& image)
{
    const int width = image.width();
    const int height = image.height();
    for (int y = 0; y < height; ++y) {
        const QRgb* const line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        QRgb differences = 0;
        for (int x = 0; x < width; ++x) {
            differences |= line[x] ^ ZTSalienceMap::grey(unsigned(redOf(line[x])));
        }
        if (differences != 0) {
            return false;
        }
    }
    return true;
}

// The reds of row y of a 32-bit image.
void copyReds(const QImage& image, int y, quint8* reds)
{
    const QRgb* const line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    const int width = image.width();
    for (int x = 0; x < width; ++x) {
        reds[x] = quint8(redOf(line[x]));
    }
}

// The filter on an opaque grey map through its reds, row by row for short arms, as a plane for
// long ones.
void spreadOpaqueGreyMap(const QImage& input, QImage& result, int half, int threshold)
{
    const int width = input.width();
    const int height = input.height();
    const auto store = [&result, width](int y, const quint8* row) {
        QRgb* const line = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < width; ++x) {
            line[x] = ZTSalienceMap::grey(row[x]);
        }
    };
    if (half <= ZTGreyMaxFilter::shortArm) {
        const auto fill = [&input](int y, quint8* row) { copyReds(input, y, row); };
        ZTGreyMaxFilter::spreadRows(width, height, half, threshold, fill, store);
        return;
    }
    const size_t columns = size_t(width);
    std::vector<quint8> reds(columns * size_t(height));
    for (int y = 0; y < height; ++y) {
        copyReds(input, y, reds.data() + size_t(y) * columns);
    }
    std::vector<quint8> spread(reds.size());
    ZTGreyMaxFilter::spread(reds.data(), spread.data(), width, height, half, threshold);
    for (int y = 0; y < height; ++y) {
        store(y, spread.data() + size_t(y) * columns);
    }
}

} // namespace

Q_NEVER_INLINE void ZTGreyMaxFilter::maxOfThree(const quint8* __restrict a,
    const quint8* __restrict b, const quint8* __restrict c, quint8* __restrict out, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        const quint8 ab = a[i] > b[i] ? a[i] : b[i];
        out[i] = ab > c[i] ? ab : c[i];
    }
}

Q_NEVER_INLINE void ZTGreyMaxFilter::raiseTo(
    quint8* __restrict maxima, const quint8* __restrict row, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        const quint8 value = row[i];
        maxima[i] = maxima[i] > value ? maxima[i] : value;
    }
}

Q_NEVER_INLINE void ZTGreyMaxFilter::spreadingValues(
    const quint8* __restrict values, int threshold, quint8* __restrict out, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        out[i] = spreading(values[i], threshold);
    }
}

ZTGreyMaxFilter::RowMaxima::RowMaxima(int width, int half, int threshold)
    : m_width(width)
    , m_half(std::min(half, width - 1)) // a longer arm reaches the whole row
    , m_threshold(clampedThreshold(threshold))
    , m_framed(size_t(width) + 2 * size_t(m_half))
    , m_scratch(m_framed.size())
{}

// The row framed by half empty (0) entries on either side, so that windows are cut at its ends.
const quint8* ZTGreyMaxFilter::RowMaxima::compute(const quint8* values)
{
    std::fill(m_framed.begin(), m_framed.end(), quint8(0));
    spreadingValues(values, m_threshold, m_framed.data() + m_half, size_t(m_width));
    slidingMaximum(m_framed, m_scratch, 2 * m_half + 1);
    return m_framed.data();
}

// Column maxima over the plane of spreading values framed by empty rows above and below, by the
// van Herk / Gil-Werman scheme on whole rows: the framed rows are cut into blocks of the window's
// height; a window then covers a tail of one block and a head of the next, so its maximum is the
// suffix maximum at its first row joined with the prefix maximum at its last. Three row passes,
// whatever the arm length. Row maxima row by row.
void ZTGreyMaxFilter::spread(
    const quint8* plane, quint8* out, int width, int height, int half, int threshold)
{
    const int limit = clampedThreshold(threshold);
    const int columnHalf = std::min(half, height - 1); // a longer arm reaches the whole column
    const size_t columns = size_t(width);
    const size_t pixels = columns * size_t(height);
    const int window = 2 * columnHalf + 1;
    const int framedRows = height + window - 1;

    std::vector<quint8> prefix(size_t(framedRows) * columns, 0);
    spreadingValues(plane, limit, prefix.data() + size_t(columnHalf) * columns, pixels);
    const auto row
        = [columns](std::vector<quint8>& rows, int y) { return rows.data() + size_t(y) * columns; };

    // Suffix maxima of the blocks in which some window starts; every such block ends inside the
    // framed rows.
    std::vector<quint8> columnMaxima(size_t(framedRows) * columns);
    for (int start = 0; start < height; start += window) {
        const int last = start + window - 1;
        std::copy_n(row(prefix, last), columns, row(columnMaxima, last));
        for (int y = last - 1; y >= start; --y) {
            maxOfPairs(row(prefix, y), row(columnMaxima, y + 1), row(columnMaxima, y), columns);
        }
    }
    // Prefix maxima of every block, in place.
    for (int y = 1; y < framedRows; ++y) {
        if (y % window != 0) {
            raiseTo(row(prefix, y), row(prefix, y - 1), columns);
        }
    }
    // Row y of columnMaxima becomes the maximum over picture rows y - columnHalf ... y +
    // columnHalf.
    for (int y = 0; y < height; ++y) {
        raiseTo(row(columnMaxima, y), row(prefix, y + window - 1), columns);
    }

    RowMaxima rowMaxima(width, half, threshold);
    for (int y = 0; y < height; ++y) {
        const quint8* const in = plane + size_t(y) * columns;
        maxOfThree(in, rowMaxima.compute(in), columnMaxima.data() + size_t(y) * columns,
            out + size_t(y) * columns, columns);
    }
}

ZTMaxFilter::ZTMaxFilter(int size, int threshold)
    : size(size)
    , threshold(threshold)
{}

ZTMaxFilter::~ZTMaxFilter() = default;

QImage ZTMaxFilter::evaluate(const QImage& image)
{
    QImage result = image.copy();
    const int half = size / 2;
    if (result.isNull() || half <= 0 || threshold >= largestRed) {
        return result;
    }
    if (ZTPixelAccess::holdsQRgbWords(image.format())) {
        // Salience maps are opaque grey: there the winner's word follows from its red alone.
        if (isOpaqueGreyMap(image)) {
            spreadOpaqueGreyMap(image, result, half, threshold);
        } else {
            spreadQRgbWords(image, result, half, threshold);
        }
    } else {
        spreadPixelByPixel(image, result, half, threshold);
    }
    return result;
}
