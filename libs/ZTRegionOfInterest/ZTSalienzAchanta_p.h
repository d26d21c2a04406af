#ifndef ZTSALIENZACHANTA_P_H
#define ZTSALIENZACHANTA_P_H

// Internals of ZTSalienzAchanta, shared with its tests so that they can compare the salience
// plane itself, not only the stretched map. Not installed.

#include <QImage>

#include <algorithm>
#include <cstddef>
#include <vector>

namespace ZTSymmetricSurround {

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

// Colour space: luma and the two colour differences, kept as unrounded doubles.
constexpr double lumaRed = 0.299;
constexpr double lumaGreen = 0.587;
constexpr double lumaBlue = 0.114;
constexpr double redDifferenceScale = 0.713;
constexpr double blueDifferenceScale = 0.564;
constexpr double differenceOffset = 128.0;

enum class Channel { Luma, RedDifference, BlueDifference };

inline double channelValue(QRgb pixel, Channel channel)
{
    const double red = qRed(pixel);
    const double green = qGreen(pixel);
    const double blue = qBlue(pixel);
    const double luma = (green * lumaGreen + lumaRed * red) + lumaBlue * blue;
    switch (channel) {
    case Channel::Luma:
        return luma;
    case Channel::RedDifference:
        return (red - luma) * redDifferenceScale + differenceOffset;
    case Channel::BlueDifference:
        return (blue - luma) * blueDifferenceScale + differenceOffset;
    }
    return luma;
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

/**
 * Turns a contiguous plane into its summed-area table, in place: each value is read before the
 * table entry replaces it, and the row above already holds table entries.
 */
inline void toSummedAreaTable(std::vector<double>& plane, int width, int height)
{
    for (int y = 0; y < height; ++y) {
        double* const row = plane.data() + std::ptrdiff_t(y) * width;
        double rowSum = 0.0;
        for (int x = 0; x < width; ++x) {
            rowSum += row[x];
            row[x] = y > 0 ? row[x - width] + rowSum : rowSum;
        }
    }
}

/**
 * The salience of every pixel of @p source, row-major: the squared distance, summed over luma,
 * red difference and blue difference, between the mean of its surround and its 1-2-1 smoothed
 * colour. @p source must hold 0xAARRGGBB words (alpha is ignored).
 *
 * The channels are handled one after the other: the channel plane, its smoothing, then the
 * plane turned into its summed-area table in place, and the squared distance added to the
 * salience. That gives (luma^2 + red^2) + blue^2, the same sum in the same order as taking the
 * channels together, with four planes instead of ten.
 */
inline std::vector<double> saliencePlane(const QImage& source)
{
    const int width = source.width();
    const int height = source.height();
    const size_t count = size_t(width) * size_t(height);

    std::vector<Span> columnSpans(static_cast<size_t>(width));
    for (int x = 0; x < width; ++x) {
        columnSpans[size_t(x)] = span(x, width);
    }
    std::vector<Span> rowSpans(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        rowSpans[size_t(y)] = span(y, height);
    }

    const std::vector<double> kernel = {1.0, 2.0, 1.0};
    std::vector<double> plane(count);
    std::vector<double> smoothed(count);
    std::vector<double> scratch(count);
    std::vector<double> salience(count);
    const auto tableEntry
        = [&](int y, int x) { return plane[size_t(y) * size_t(width) + size_t(x)]; };

    for (const Channel channel : {Channel::Luma, Channel::RedDifference, Channel::BlueDifference}) {
        for (int y = 0; y < height; ++y) {
            const QRgb* const line = reinterpret_cast<const QRgb*>(source.constScanLine(y));
            double* const row = plane.data() + size_t(y) * size_t(width);
            for (int x = 0; x < width; ++x) {
                row[x] = channelValue(line[x], channel);
            }
        }
        smoothPlane(plane, width, height, kernel, scratch, smoothed);
        toSummedAreaTable(plane, width, height);

        for (int y = 0; y < height; ++y) {
            const Span rows = rowSpans[size_t(y)];
            const long long rowCount = static_cast<long long>(rows.last) - rows.first + 1;
            const size_t offset = size_t(y) * size_t(width);
            for (int x = 0; x < width; ++x) {
                const Span columns = columnSpans[size_t(x)];
                // 64-bit area: the same value as the int product wherever that does not overflow.
                const double area
                    = double((static_cast<long long>(columns.last) - columns.first + 1) * rowCount);
                const double mean
                    = rectangleSum(tableEntry, columns.first, rows.first, columns.last, rows.last)
                    / area;
                const double distance = mean - smoothed[offset + size_t(x)];
                double& value = salience[offset + size_t(x)];
                value
                    = channel == Channel::Luma ? distance * distance : value + distance * distance;
            }
        }
    }
    return salience;
}

} // namespace ZTSymmetricSurround

#endif // ZTSALIENZACHANTA_P_H
