#include "crops/ZTResampler.h"

#include <QColorSpace>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr int bytesPerPixel = 4;
// Weights are fractions of 2^16, at most 2^16 - 1: a single tap of weight 1 loses 1/65536, which
// the final rounding absorbs, so a window of the output's size is still copied exactly.
constexpr std::uint32_t weightOne = 1u << 16;
constexpr std::uint32_t maxWeight = weightOne - 1;
// Intermediate rows hold 8.8 fixed point: a byte value shifted left by this many bits.
constexpr int fractionBits = 8;

// The source pixels that make each output pixel along one axis, and their weights (summing to
// weightOne), `stride` weight slots per output pixel, the unused ones 0.
struct AxisTaps
{
    std::vector<int> first;
    std::vector<int> count;
    std::vector<std::uint16_t> weights;
    int stride = 0;

    const std::uint16_t* weightsOf(int output) const
    {
        return weights.data() + size_t(output) * size_t(stride);
    }
    // One past the last source pixel that any output pixel reads.
    int end() const
    {
        int last = 0;
        for (size_t i = 0; i < first.size(); ++i) {
            last = std::max(last, first[i] + count[i]);
        }
        return last;
    }
};

// Rounds @p exact (summing to at most 1) to fixed point: each weight is the difference of the
// rounded running sums, so the weights sum to the rounded total, weightOne when no source pixel
// is missing (maxWeight for a single tap), and a flat area stays flat however many taps there
// are.
void quantize(const double* exact, int count, std::uint16_t* weights)
{
    double total = 0.0;
    std::int64_t previous = 0;
    for (int k = 0; k < count; ++k) {
        total += exact[k];
        const std::int64_t rounded = std::llround(total * weightOne);
        weights[k] = std::uint16_t(std::clamp<std::int64_t>(rounded - previous, 0, maxWeight));
        previous = rounded;
    }
}

// The taps for @p outputs pixels made from the source span [start, start + length), which lies
// in the image. Shrinking: each output pixel averages the span's share it covers, by area.
// Otherwise: linear interpolation between the nearest source pixel centres, clamped to the span.
AxisTaps axisTaps(double start, double length, int outputs)
{
    const int lowest = int(std::floor(start));
    const int highest = std::max(lowest, int(std::ceil(start + length)) - 1);
    const double step = length / outputs;
    const bool shrinking = step > 1.0;

    AxisTaps taps;
    // Even, for the horizontal pass, which takes two taps at a time.
    taps.stride = shrinking ? (int(std::ceil(step)) + 2) & ~1 : 2;
    taps.first.resize(size_t(outputs));
    taps.count.resize(size_t(outputs));
    taps.weights.assign(size_t(outputs) * size_t(taps.stride), 0);
    std::vector<double> exact(size_t(taps.stride));
    for (int i = 0; i < outputs; ++i) {
        int first = 0;
        int count = 1;
        exact[0] = 1.0;
        if (shrinking) {
            const double from = start + i * step;
            const double to = from + step;
            first = std::clamp(int(std::floor(from)), lowest, highest);
            const int last = std::clamp(int(std::ceil(to)) - 1, first, highest);
            count = std::min(last - first + 1, taps.stride);
            for (int k = 0; k < count; ++k) {
                const double overlap
                    = std::min(to, first + k + 1.0) - std::max(from, double(first + k));
                exact[size_t(k)] = std::max(0.0, overlap) / step;
            }
        } else {
            const double centre
                = std::clamp(start + (i + 0.5) * step - 0.5, double(lowest), double(highest));
            first = int(std::floor(centre));
            const double fraction = centre - first;
            if (fraction > 0.0) {
                count = 2;
                exact[0] = 1.0 - fraction;
                exact[1] = fraction;
            }
        }
        taps.first[size_t(i)] = first;
        taps.count[size_t(i)] = count;
        quantize(exact.data(), count, taps.weights.data() + size_t(i) * size_t(taps.stride));
    }
    return taps;
}

// @p value times @p weight (a fraction of 2^16), exactly: the products of one output value are
// summed in 32 bits and rounded once, so that no truncation accumulates over many taps.
inline std::uint32_t weighted(std::uint16_t value, std::uint16_t weight)
{
    return std::uint32_t(value) * weight;
}

// Bytes of a row that the vertical pass sums over all its source rows at a time: their 32-bit
// sums stay in the first-level cache however many rows an output row averages.
constexpr int stripBytes = 1024;

// One output row of the vertical pass, @p bytes of it: the weighted sum of its source rows,
// rounded to 8.8 fixed point. The sums stay below 2^24, as the weights sum to at most 1.
void filterRows(const QImage& image, const AxisTaps& rows, int y, int firstByte, int bytes,
    std::uint16_t* __restrict row)
{
    constexpr int shift = 16 - fractionBits;
    constexpr std::uint32_t half = 1u << (shift - 1);
    const std::uint16_t* const weights = rows.weightsOf(y);
    const int first = rows.first[size_t(y)];
    const int count = rows.count[size_t(y)];
    std::uint32_t sums[stripBytes];
    for (int strip = firstByte; strip < firstByte + bytes; strip += stripBytes) {
        const int length = std::min(stripBytes, firstByte + bytes - strip);
        const uchar* __restrict source = image.constScanLine(first) + strip;
        for (int i = 0; i < length; ++i) {
            sums[i] = half + weighted(source[i], weights[0]);
        }
        // Two source rows at a time: half the loads and stores of the sums.
        int k = 1;
        for (; k + 1 < count; k += 2) {
            const uchar* __restrict upper = image.constScanLine(first + k) + strip;
            const uchar* __restrict lower = image.constScanLine(first + k + 1) + strip;
            const std::uint16_t upperWeight = weights[k];
            const std::uint16_t lowerWeight = weights[k + 1];
            for (int i = 0; i < length; ++i) {
                sums[i] += weighted(upper[i], upperWeight) + weighted(lower[i], lowerWeight);
            }
        }
        if (k < count) {
            source = image.constScanLine(first + k) + strip;
            for (int i = 0; i < length; ++i) {
                sums[i] += weighted(source[i], weights[k]);
            }
        }
        for (int i = 0; i < length; ++i) {
            row[i] = std::uint16_t(sums[i] >> shift);
        }
        row += length;
    }
}

// The column weights of each output pixel repeated for the four channels of every tap, so that
// they lie side by side with the pixels they weigh.
std::vector<std::uint16_t> channelWeights(const AxisTaps& columns)
{
    std::vector<std::uint16_t> weights(columns.weights.size() * bytesPerPixel);
    for (size_t i = 0; i < columns.weights.size(); ++i) {
        std::fill_n(
            weights.begin() + std::ptrdiff_t(i * bytesPerPixel), bytesPerPixel, columns.weights[i]);
    }
    return weights;
}

// The horizontal pass over one filtered row, whose first pixel is source column @p firstColumn.
// Every output pixel runs over all `stride` taps (an even number; unused ones weigh 0), two taps
// at a time: eight channel values times their eight weights, side by side in vectors. The two
// halves of the sums are added at the end; all of it fits in 32 bits, as the row's values stay
// below 2^16 and the weights sum to at most 1.
void filterColumns(const std::uint16_t* __restrict row, const AxisTaps& columns,
    const std::uint16_t* __restrict weights, int firstColumn, int width, uchar* __restrict out)
{
    constexpr int lanes = 2 * bytesPerPixel;
    constexpr int shift = 16 + fractionBits;
    constexpr std::uint32_t half = 1u << (shift - 1);
    const int values = columns.stride * bytesPerPixel;
    for (int x = 0; x < width; ++x) {
        const std::uint16_t* const pixels
            = row + size_t(columns.first[size_t(x)] - firstColumn) * bytesPerPixel;
        const std::uint16_t* const pixelWeights = weights + size_t(x) * size_t(values);
        std::uint32_t sum[lanes] = {half, half, half, half, 0, 0, 0, 0};
        for (int i = 0; i < values; i += lanes) {
            for (int c = 0; c < lanes; ++c) {
                sum[c] += weighted(pixels[i + c], pixelWeights[i + c]);
            }
        }
        for (int c = 0; c < bytesPerPixel; ++c) {
            out[x * bytesPerPixel + c] = uchar((sum[c] + sum[c + bytesPerPixel]) >> shift);
        }
    }
}

} // namespace

QImage ZTResampler::resample(const QImage& image, const QRectF& window, const QSize& size)
{
    const QImage::Format format = image.format();
    const bool supported = format == QImage::Format_RGB32 || format == QImage::Format_ARGB32
        || format == QImage::Format_ARGB32_Premultiplied;
    const QRectF clipped = window.intersected(QRectF(QPointF(0, 0), QSizeF(image.size())));
    if (image.isNull() || !supported || size.isEmpty() || clipped.isEmpty()) {
        return QImage();
    }
    QImage out(size, format);
    if (out.isNull()) {
        return QImage();
    }
    out.setColorSpace(image.colorSpace());

    const AxisTaps columns = axisTaps(clipped.x(), clipped.width(), size.width());
    const AxisTaps rows = axisTaps(clipped.y(), clipped.height(), size.height());
    // Only the source columns that some output pixel reads are filtered vertically. The row
    // has room for a whole stride of (unused) taps after its last pixel.
    const int firstColumn = columns.first.front();
    const int bytes = (columns.end() - firstColumn) * bytesPerPixel;
    std::vector<std::uint16_t> row(static_cast<size_t>(bytes + columns.stride * bytesPerPixel));
    const std::vector<std::uint16_t> weights = channelWeights(columns);
    for (int y = 0; y < size.height(); ++y) {
        filterRows(image, rows, y, firstColumn * bytesPerPixel, bytes, row.data());
        filterColumns(
            row.data(), columns, weights.data(), firstColumn, size.width(), out.scanLine(y));
    }
    return out;
}
