#ifndef ZTNAIVEREFERENCES_H
#define ZTNAIVEREFERENCES_H

// Straightforward implementations of the filters, the centre prior, the Sobel map and the mix,
// written as their definitions read. The tests and the fuzz targets compare the library's fast
// versions with them, so that a fast path that silently computes something else is a failure as
// much as a crash is.

#include <QImage>
#include <QList>
#include <QVector>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>

namespace ZTNaive {

// The Sobel kernels, row by row: the response to horizontal edges, and to vertical ones.
inline constexpr int sobelHorizontal[9] = {1, 2, 1, 0, 0, 0, -1, -2, -1};
inline constexpr int sobelVertical[9] = {1, 0, -1, 2, 0, -2, 1, 0, -1};

// The pixel as QImage::pixel reads it, except that an index outside the colour table reads 0.
inline QRgb readPixel(const QImage& image, int x, int y)
{
    const QImage::Format format = image.format();
    if (format == QImage::Format_Indexed8 || format == QImage::Format_Mono
        || format == QImage::Format_MonoLSB) {
        const int index = image.pixelIndex(x, y);
        return index < image.colorCount() ? image.color(index) : 0u;
    }
    return image.pixel(x, y);
}

// One pass of the blur along @p step, from @p source into @p target, which may be the same.
inline void naiveBlurPass(
    const QImage& source, QImage& target, const QVector<double>& kernel, const QPoint& step)
{
    const int half = kernel.size() / 2;
    const double divisor = std::accumulate(kernel.begin(), kernel.end(), 0.0);
    const auto channel = [divisor](double sum) { return QRgb(int(sum / divisor)) & 0xFFu; };
    for (int y = 0; y < source.height(); ++y) {
        for (int x = 0; x < source.width(); ++x) {
            double red = 0.0, green = 0.0, blue = 0.0;
            for (int k = -half; k <= half; ++k) {
                const QPoint at = QPoint(x, y) + k * step;
                if (source.rect().contains(at)) {
                    const QRgb p = readPixel(source, at.x(), at.y());
                    red += kernel[k + half] * qRed(p);
                    green += kernel[k + half] * qGreen(p);
                    blue += kernel[k + half] * qBlue(p);
                }
            }
            target.setPixel(
                x, y, 0xFF000000u | channel(red) << 16 | channel(green) << 8 | channel(blue));
        }
    }
}

// The two-pass blur with @p kernel: rows into the target, then columns in place from the top.
inline QImage naiveBlur(const QImage& image, const QVector<double>& kernel)
{
    QImage target(image.size(), QImage::Format_ARGB32);
    naiveBlurPass(image, target, kernel, QPoint(1, 0));
    naiveBlurPass(target, target, kernel, QPoint(0, 1));
    return target;
}

// The cross maximum filter through QImage::pixel and QImage::setPixel; indexed images are
// compared in their Format_ARGB32 form.
inline QImage naiveMaxFilter(const QImage& image, int size, int threshold)
{
    QImage result = image.copy();
    const int half = size / 2; // below 0 no arm position is in range
    const int width = image.width(), height = image.height();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const QRgb p = image.pixel(x, y);
            if (qRed(p) <= threshold) {
                continue;
            }
            // Arm positions outside the picture are skipped: the arms are cut to it.
            for (int xx = std::max(0, x - half); xx <= std::min(width - 1, x + half); ++xx) {
                if (qRed(p) > qRed(result.pixel(xx, y))) {
                    result.setPixel(xx, y, p);
                }
            }
            for (int yy = std::max(0, y - half); yy <= std::min(height - 1, y + half); ++yy) {
                if (qRed(p) > qRed(result.pixel(x, yy))) {
                    result.setPixel(x, yy, p);
                }
            }
        }
    }
    return result;
}

// The centre prior of a picture of @p size.
inline QImage naivePrior(const QSize& size)
{
    QImage target(size, QImage::Format_ARGB32);
    const double w = size.width(), h = size.height();
    for (double y = 0.0; y < h; y += 1.0) {
        const double dy = y - 0.5 * h;
        for (double x = 0.0; x < w; x += 1.0) {
            const double dx = x - 0.5 * w;
            const int g = int(std::exp(((dx * dx + dy * dy) * -0.5) / 16900.0) * 255.0);
            target.setPixel(int(x), int(y), qRgb(g, g, g));
        }
    }
    return target;
}

// The response of @p image, read as Format_ARGB32, to a 3x3 kernel, borders copied inward.
inline QImage naiveConvolution(const QImage& image, const int (&kernel)[9])
{
    const QImage source = image.convertToFormat(QImage::Format_ARGB32);
    QImage target(source.size(), QImage::Format_ARGB32);
    target.fill(0xFF000000u);
    const int width = source.width(), height = source.height();
    for (int y = 0; width >= 3 && height >= 3 && y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            // A border pixel takes the response, and the alpha, of its inward neighbour.
            const int cx = std::clamp(x, 1, width - 2), cy = std::clamp(y, 1, height - 2);
            int red = 0, green = 0, blue = 0;
            for (int i = 0; i < 9; ++i) {
                const QRgb p = source.pixel(cx - 1 + i % 3, cy - 1 + i / 3);
                red += kernel[i] * qRed(p);
                green += kernel[i] * qGreen(p);
                blue += kernel[i] * qBlue(p);
            }
            const QRgb v = QRgb((std::abs(red) + std::abs(green) + std::abs(blue)) / 12) & 0xFFu;
            target.setPixel(x, y, (source.pixel(cx, cy) & 0xFF000000u) | v << 16 | v << 8 | v);
        }
    }
    return target;
}

// The magnitude of two responses, saturated at 255, with the alpha of @p a.
inline QImage naiveCombine(const QImage& a, const QImage& b)
{
    QImage magnitude(a.size(), QImage::Format_ARGB32);
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const int red = qRed(a.pixel(x, y)), otherRed = qRed(b.pixel(x, y));
            const QRgb m
                = QRgb(std::min(int(std::sqrt(double(red * red + otherRed * otherRed))), 255));
            magnitude.setPixel(x, y, (a.pixel(x, y) & 0xFF000000u) | m << 16 | m << 8 | m);
        }
    }
    return magnitude;
}

// The Sobel map: blur (size 3, sigma 2.6), the two edge responses, their magnitude saturated at
// 255, and the maximum filter of size 7 and threshold 50. The methods' fuzzer compares with it.
inline QImage naiveSobel(const QImage& image, const QVector<double>& blurKernel)
{
    const QImage blurred = naiveBlur(image, blurKernel);
    return naiveMaxFilter(naiveCombine(naiveConvolution(blurred, sobelHorizontal),
                              naiveConvolution(blurred, sobelVertical)),
        7, 50);
}

// The weighted mix: per pixel the sum of red x weight over the maps that have a weight, in 64
// bits, divided by the sum of the positive weights (1 without any), clamped to 0 ... 255. A map
// smaller than the first adds nothing where it has no pixel.
inline QImage naiveMix(const QList<QImage>& maps, const QList<int>& weights)
{
    if (maps.isEmpty() || maps.first().isNull()) {
        return QImage();
    }
    const qint64 positive = std::accumulate(weights.begin(), weights.end(), qint64(0),
        [](qint64 sum, int weight) { return sum + std::max(weight, 0); });
    const qint64 normaliser = positive == 0 ? 1 : positive;
    // Maps of 32-bit pixels are read as the words they hold, others in their ARGB32 form.
    QList<QImage> sources;
    for (int i = 0; i < std::min(maps.size(), weights.size()); ++i) {
        const QImage& map = maps.at(i);
        sources.append(map.depth() == 32 ? map : map.convertToFormat(QImage::Format_ARGB32));
    }
    QImage result(maps.first().size(), QImage::Format_ARGB32);
    for (int y = 0; y < result.height(); ++y) {
        for (int x = 0; x < result.width(); ++x) {
            qint64 sum = 0;
            for (int i = 0; i < sources.size(); ++i) {
                const QImage& map = sources.at(i);
                if (x < map.width() && y < map.height()) {
                    const QRgb word = reinterpret_cast<const QRgb*>(map.constScanLine(y))[x];
                    sum += qint64(qRed(word)) * weights.at(i);
                }
            }
            const int v = int(std::clamp<qint64>(sum / normaliser, 0, 255));
            result.setPixel(x, y, qRgb(v, v, v));
        }
    }
    return result;
}

} // namespace ZTNaive

#endif // ZTNAIVEREFERENCES_H
