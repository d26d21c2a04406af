#include "ZTGaussianBlur.h"

#include "ZTPixelAccess_p.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Sigma derived from the kernel size when none is given.
constexpr double derivedSigmaSlope = 0.3;
constexpr double derivedSigmaOffset = 0.8;
constexpr QRgb opaqueAlpha = 0xFF000000u;

// Low 8 bits of a channel sum divided by the kernel sum, truncated toward zero.
inline QRgb channelBits(double sum, double divisor)
{
    return QRgb(int(sum / divisor)) & 0xFFu;
}

inline QRgb opaquePixel(double red, double green, double blue, double divisor)
{
    return opaqueAlpha | (channelBits(red, divisor) << 16) | (channelBits(green, divisor) << 8)
        | channelBits(blue, divisor);
}

} // namespace

ZTGaussianBlur::ZTGaussianBlur(int size, double sigma)
{
    setEnabled(true);
    // evaluate() reads 2 * (size / 2) + 1 weights, so only odd sizes of at least 1 are used.
    int oddSize = std::max(size, 1);
    if (oddSize % 2 == 0) {
        ++oddSize;
    }
    kernel = createGaussianKernel(oddSize, sigma);
}

ZTGaussianBlur::~ZTGaussianBlur() = default;

// Weights exp(-x^2 / (2 sigma^2)) at x = i - (size - 1) / 2, scaled by the inverse of their sum.
QVector<double> ZTGaussianBlur::createGaussianKernel(int size, double sigma)
{
    QVector<double> weights;
    if (size < 1) {
        return weights;
    }
    if (!(sigma > 0.0)) {
        sigma = ((double(size - 1) * 0.5 - 1.0) * derivedSigmaSlope) + derivedSigmaOffset;
    }
    const double scale = -0.5 / (sigma * sigma);
    const double centre = double(size - 1) * 0.5;

    weights.reserve(size);
    double sum = 0.0;
    for (int i = 0; i < size; ++i) {
        const double x = double(i) - centre;
        // At the middle the exponent is 0 for every finite scale; pinning the weight to 1 keeps
        // an infinite scale (a sigma whose square underflows) from turning it into exp(NaN).
        const double weight = x == 0.0 ? 1.0 : std::exp(x * (scale * x));
        weights.append(weight);
        sum += weight;
    }
    const double factor = 1.0 / sum;
    for (double& weight : weights) {
        weight *= factor;
    }
    return weights;
}

// Row pass from the input into the target, then column pass in place on the target, top to
// bottom. Per pixel and channel the weighted samples are added in kernel order starting from 0;
// samples outside the picture are skipped, but the divisor stays the full kernel sum. Arms that
// reach past the picture are cut to it first, which skips exactly the samples the loop would
// skip, so huge kernels cost no more than the picture is wide or high.
QImage ZTGaussianBlur::evaluate(const QImage& image)
{
    QImage target = createTargetImage(image);
    const int width = image.width();
    const int height = image.height();
    if (height < 1 || width < 1) {
        return target;
    }
    const int half = kernel.size() / 2;
    const double* const weights = kernel.constData() + half; // weights[k] for k = -half ... half
    double divisor = 0.0;
    for (const double weight : kernel) {
        divisor += weight;
    }

    // Row pass. QRgb-word formats are read straight from their scan lines; the dropped alpha is
    // the only thing QImage::pixel would change in them. Other formats go through the reader.
    const bool wordFormat = ZTPixelAccess::holdsQRgbWords(image.format());
    const ZTPixelAccess::PixelReader reader(image);
    std::vector<QRgb> converted(wordFormat ? 0 : size_t(width));
    for (int y = 0; y < height; ++y) {
        const QRgb* source = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        if (!wordFormat) {
            for (int x = 0; x < width; ++x) {
                converted[size_t(x)] = reader.pixel(x, y);
            }
            source = converted.data();
        }
        QRgb* const line = reinterpret_cast<QRgb*>(target.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int first = std::max(-half, -x);
            const int last = std::min(half, width - 1 - x);
            double red = 0.0;
            double green = 0.0;
            double blue = 0.0;
            for (int k = first; k <= last; ++k) {
                const double weight = weights[k];
                const QRgb pixel = source[x + k];
                red += weight * qRed(pixel);
                green += weight * qGreen(pixel);
                blue += weight * qBlue(pixel);
            }
            line[x] = opaquePixel(red, green, blue, divisor);
        }
    }

    // Column pass. Row y reads rows y - half ... y + half of the target: the rows above already
    // hold their final values, row y and those below still hold the row pass. Only column x feeds
    // pixel x, so a whole row can be accumulated before it is written back.
    const size_t columns = size_t(width);
    std::vector<double> reds(columns);
    std::vector<double> greens(columns);
    std::vector<double> blues(columns);
    for (int y = 0; y < height; ++y) {
        std::fill(reds.begin(), reds.end(), 0.0);
        std::fill(greens.begin(), greens.end(), 0.0);
        std::fill(blues.begin(), blues.end(), 0.0);
        const int first = std::max(-half, -y);
        const int last = std::min(half, height - 1 - y);
        for (int k = first; k <= last; ++k) {
            const double weight = weights[k];
            const QRgb* const source = reinterpret_cast<const QRgb*>(target.constScanLine(y + k));
            for (int x = 0; x < width; ++x) {
                const QRgb pixel = source[x];
                reds[size_t(x)] += weight * qRed(pixel);
                greens[size_t(x)] += weight * qGreen(pixel);
                blues[size_t(x)] += weight * qBlue(pixel);
            }
        }
        QRgb* const line = reinterpret_cast<QRgb*>(target.scanLine(y));
        for (int x = 0; x < width; ++x) {
            line[x] = opaquePixel(reds[size_t(x)], greens[size_t(x)], blues[size_t(x)], divisor);
        }
    }
    return target;
}
