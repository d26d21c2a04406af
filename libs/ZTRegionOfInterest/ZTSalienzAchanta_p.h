#ifndef ZTSALIENZACHANTA_P_H
#define ZTSALIENZACHANTA_P_H

// Internals of ZTSalienzAchanta, shared with its tests so that they can compare the salience
// plane itself, not only the stretched map. Not installed.

#include "ZTRegionOfInterestExport.h"
#include "ZTSimd_p.h"

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
 * The salience of every pixel of @p source, row-major: the squared distance, summed over luma,
 * red difference and blue difference, between the mean of its surround and its 1-2-1 smoothed
 * colour, added in that order. @p source must hold 0xAARRGGBB words (alpha is ignored); a null
 * source gives an empty plane. This is the plane that ZTSalienzAchanta::evaluate() stretches;
 * @p level picks the compiled variant of the loops (both give the same plane).
 */
ZTREGIONOFINTEREST_EXPORT std::vector<double> saliencePlane(
    const QImage& source, ZTSimd::Level level = ZTSimd::available());

/**
 * The stretched salience map of @p source before the maximum filter: a Format_ARGB32 image of
 * its size whose pixels are opaque grey v * 255 / range (v the salience above the smallest,
 * truncated), or opaque black when the salience spreads by less than 1. @p source must hold
 * 0xAARRGGBB words (alpha is ignored); a null source gives a null map. @p level picks the compiled
 * variant of the loops (both give the same map).
 */
ZTREGIONOFINTEREST_EXPORT QImage stretchedSalience(const QImage& source, ZTSimd::Level level);

} // namespace ZTSymmetricSurround

#endif // ZTSALIENZACHANTA_P_H
