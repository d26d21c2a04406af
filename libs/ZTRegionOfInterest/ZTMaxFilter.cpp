#include "ZTMaxFilter.h"

#include "ZTPixelAccess_p.h"
#include "ZTSalienceMap_p.h"

#include <algorithm>
#include <vector>

namespace {

// Whether every stored word is the opaque grey word of its red, as in every salience map.
bool isOpaqueGreyMap(const QImage& image)
{
    const int width = image.width();
    for (int y = 0; y < image.height(); ++y) {
        const QRgb* const line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        QRgb differences = 0;
        for (int x = 0; x < width; ++x) {
            differences
                |= line[x] ^ ZTSalienceMap::grey(unsigned(ZTSalienceMap::salience(line[x])));
        }
        if (differences != 0) {
            return false;
        }
    }
    return true;
}

// maxima[i] = max(maxima[i], values[i]). A plain loop over two distinct buffers, which the
// compiler vectorises.
void raiseTo(quint8* __restrict maxima, const quint8* __restrict values, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        maxima[i] = std::max(maxima[i], values[i]);
    }
}

// Turns line[i] into the maximum of line[i] ... line[i + window - 1] for every i that leaves
// room for the window (later entries end up undefined), by doubling: each level makes every
// entry cover up to twice as many entries, so the cost grows with log2(window).
void slidingMaximum(std::vector<quint8>& line, std::vector<quint8>& scratch, int window)
{
    for (int run = 1; run < window;) {
        const size_t step = size_t(std::min(run, window - run));
        std::copy(line.begin(), line.end(), scratch.begin());
        raiseTo(line.data(), scratch.data() + step, line.size() - step);
        run += int(step);
    }
}

// Turns row y of @p plane (rows of @p width bytes) into the maximum of rows y ... y + window - 1
// for every y that leaves room for the window, by van Herk / Gil-Werman blocks: the rows are cut
// into blocks of the window's height, and each window, which covers a tail of one block and a
// head of the next, joins the suffix maximum at its first row with the prefix maximum at its
// last. Three passes over the plane, whatever the window.
void columnMaxima(std::vector<quint8>& plane, size_t width, int window)
{
    const int rows = int(plane.size() / width);
    const auto row
        = [width](std::vector<quint8>& rowsOf, int y) { return rowsOf.data() + size_t(y) * width; };
    std::vector<quint8> suffix(plane);
    for (int y = rows - 2; y >= 0; --y) {
        if (y % window != window - 1) {
            raiseTo(row(suffix, y), row(suffix, y + 1), width);
        }
    }
    for (int y = 1; y < rows; ++y) {
        if (y % window != 0) {
            raiseTo(row(plane, y), row(plane, y - 1), width); // prefix maxima, in place
        }
    }
    for (int y = 0; y + window - 1 < rows; ++y) {
        raiseTo(row(suffix, y), row(plane, y + window - 1), width);
    }
    plane.swap(suffix);
}

/*
 * The filter on an opaque grey map, whose every word follows from its red: a pixel becomes the
 * grey of the greatest red among its own and those above the threshold in its row and column
 * within half pixels, whichever pixels they are. Reds that do not spread stand as 0, which never
 * beats a pixel's own red. An arm longer than the picture is cut to it, which changes nothing.
 */
void spreadGreyMap(const QImage& input, QImage& result, int half, int threshold)
{
    const int width = input.width();
    const int height = input.height();
    const size_t columns = size_t(width);
    const int rowHalf = std::min(half, width - 1);
    const int columnHalf = std::min(half, height - 1);

    // The spreading reds framed by columnHalf empty rows above and below.
    std::vector<quint8> spreading((size_t(height) + 2 * size_t(columnHalf)) * columns, 0);
    for (int y = 0; y < height; ++y) {
        const QRgb* const line = reinterpret_cast<const QRgb*>(input.constScanLine(y));
        quint8* const out = spreading.data() + size_t(y + columnHalf) * columns;
        for (int x = 0; x < width; ++x) {
            const int red = ZTSalienceMap::salience(line[x]);
            out[x] = quint8(red > threshold ? red : 0);
        }
    }
    std::vector<quint8> columnMaximum(spreading);
    columnMaxima(columnMaximum, columns, 2 * columnHalf + 1);

    // Each row framed by rowHalf empty entries on either side.
    std::vector<quint8> rowMaximum(columns + 2 * size_t(rowHalf));
    std::vector<quint8> scratch(rowMaximum.size());
    for (int y = 0; y < height; ++y) {
        std::fill(rowMaximum.begin(), rowMaximum.end(), quint8(0));
        std::copy_n(spreading.data() + size_t(y + columnHalf) * columns, columns,
            rowMaximum.data() + rowHalf);
        slidingMaximum(rowMaximum, scratch, 2 * rowHalf + 1);
        raiseTo(rowMaximum.data(), columnMaximum.data() + size_t(y) * columns, columns);
        const QRgb* const own = reinterpret_cast<const QRgb*>(input.constScanLine(y));
        QRgb* const line = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int red = std::max(ZTSalienceMap::salience(own[x]), int(rowMaximum[size_t(x)]));
            line[x] = ZTSalienceMap::grey(unsigned(red));
        }
    }
}

// The filter exactly as its definition reads, through pixel reads and writes, for the pictures
// whose words do not follow from their reds: coloured pictures, and formats whose scan lines are
// not QRgb words. A pixel written into some of those reads back with another red (premultiplied
// formats with few alpha bits), and later comparisons see that red. Indexed images copy the
// winner's index.
void spreadPixelByPixel(const QImage& input, QImage& result, int half, int threshold)
{
    const int width = input.width();
    const int height = input.height();
    const bool indexed = ZTPixelAccess::isIndexed(input.format());
    const ZTPixelAccess::PixelReader source(input);
    const ZTPixelAccess::PixelReader target(result);

    const auto spreadOnto = [&](QRgb pixel, int fromX, int fromY, int x, int y) {
        if (qRed(pixel) <= qRed(target.pixel(x, y))) {
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
            if (qRed(pixel) <= threshold) {
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

} // namespace

ZTMaxFilter::ZTMaxFilter(int size, int threshold)
    : m_size(size)
    , m_threshold(threshold)
{}

ZTMaxFilter::~ZTMaxFilter() = default;

QImage ZTMaxFilter::evaluate(const QImage& image)
{
    QImage result = image.copy();
    const int half = m_size / 2;
    if (result.isNull() || half <= 0 || m_threshold >= ZTSalienceMap::largestSalience) {
        return result;
    }
    if (ZTPixelAccess::holdsQRgbWords(image.format()) && isOpaqueGreyMap(image)) {
        spreadGreyMap(image, result, half, m_threshold);
    } else {
        spreadPixelByPixel(image, result, half, m_threshold);
    }
    return result;
}
