#include "ZTMaxFilter.h"

#include "ZTPixelAccess_p.h"
#include "ZTSalienceMap_p.h"
#include "ZTSimd_p.h"

#include <algorithm>
#include <vector>

namespace {

// maxima[i] = max(maxima[i], values[i]). A plain loop over two distinct buffers, which the
// compiler vectorises.
void raiseTo(quint8* __restrict maxima, const quint8* __restrict values, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        maxima[i] = std::max(maxima[i], values[i]);
    }
}

// The steps that grow a window of one entry into @p window entries by doubling: a window of run
// entries raised by the window step entries further on covers run + step entries. log2(window)
// steps, whatever the window.
template<typename RaiseByStep>
void growWindows(int window, RaiseByStep raiseByStep)
{
    for (int run = 1; run < window;) {
        const int step = std::min(run, window - run);
        raiseByStep(size_t(step));
        run += step;
    }
}

// Turns entry i of @p line into the maximum of entries i ... i + window - 1, the window cut at
// the end of the line. Raising in place from the start would be correct too (entry i + step is
// read before it is raised), but raiseTo's __restrict arguments must not overlap: each step
// reads a copy.
void lineMaxima(std::vector<quint8>& line, std::vector<quint8>& scratch, int window)
{
    growWindows(window, [&](size_t step) {
        std::copy(line.begin(), line.end(), scratch.begin());
        raiseTo(line.data(), scratch.data() + step, line.size() - step);
    });
}

// Turns row r of @p plane (rows of @p width bytes) into the maximum of rows r ... r + window - 1,
// the window cut at the last row, in place: each step raises the rows from the top by the row
// step below, which that step has not raised yet.
void columnMaxima(std::vector<quint8>& plane, size_t width, int window)
{
    const size_t rows = plane.size() / width;
    growWindows(window, [&](size_t step) {
        for (size_t r = 0; r + step < rows; ++r) {
            raiseTo(plane.data() + r * width, plane.data() + (r + step) * width, width);
        }
    });
}

// The reds of @p line that spread (those above @p threshold; the others stand as 0) into @p out.
// Returns whether every word of the line is the opaque grey word of its red.
bool spreadingReds(const QRgb* line, int width, int threshold, quint8* out)
{
    QRgb differences = 0;
    for (int x = 0; x < width; ++x) {
        const int red = ZTSalienceMap::salience(line[x]);
        differences |= line[x] ^ ZTSalienceMap::grey(unsigned(red));
        out[x] = quint8(red > threshold ? red : 0);
    }
    return differences == 0;
}

/*
 * The filter on an opaque grey map, whose every word follows from its red: a pixel becomes the
 * grey of the greatest red among its own and those above the threshold in its row and column
 * within half pixels, whichever pixels they are. Reds that do not spread stand as 0, which never
 * beats a pixel's own red. Rows and columns are framed by half empty entries before their start,
 * so that the window of half + 1 + half entries from a framed position is centred on the pixel.
 * An arm longer than the picture is cut to it, which changes nothing. Returns false, having
 * written nothing, if @p input is no opaque grey map.
 */
inline bool spreadGreyMap(const QImage& input, QImage& result, int half, int threshold)
{
    const int width = input.width();
    const int height = input.height();
    const size_t columns = size_t(width);
    const int rowHalf = std::min(half, width - 1);
    const int columnHalf = std::min(half, height - 1);
    const auto inputLine
        = [&input](int y) { return reinterpret_cast<const QRgb*>(input.constScanLine(y)); };

    std::vector<quint8> columnMaximum((size_t(height) + size_t(columnHalf)) * columns, 0);
    for (int y = 0; y < height; ++y) {
        quint8* const reds = columnMaximum.data() + size_t(y + columnHalf) * columns;
        if (!spreadingReds(inputLine(y), width, threshold, reds)) {
            return false;
        }
    }
    columnMaxima(columnMaximum, columns, 2 * columnHalf + 1);

    std::vector<quint8> rowMaximum(size_t(rowHalf) + columns, 0);
    std::vector<quint8> scratch(rowMaximum.size());
    for (int y = 0; y < height; ++y) {
        const QRgb* const own = inputLine(y);
        std::fill_n(rowMaximum.begin(), rowHalf, quint8(0));
        spreadingReds(own, width, threshold, rowMaximum.data() + rowHalf);
        lineMaxima(rowMaximum, scratch, 2 * rowHalf + 1);
        const quint8* const fromColumn = columnMaximum.data() + size_t(y) * columns;
        const quint8* const fromRow = rowMaximum.data();
        QRgb* const line = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int red
                = std::max({ZTSalienceMap::salience(own[x]), int(fromRow[x]), int(fromColumn[x])});
            line[x] = ZTSalienceMap::grey(unsigned(red));
        }
    }
    return true;
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
    if (!ZTPixelAccess::holdsQRgbWords(image.format())
        || !ZTSimd::run([&] { return spreadGreyMap(image, result, half, m_threshold); })) {
        spreadPixelByPixel(image, result, half, m_threshold);
    }
    return result;
}
