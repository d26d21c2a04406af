#include "ZTGaussianBlur.h"

#include "ZTPixelAccess_p.h"
#include "ZTSalienceMap_p.h"
#include "ZTSimd_p.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Sigma derived from the kernel size when none is given.
constexpr double derivedSigmaSlope = 0.3;
constexpr double derivedSigmaOffset = 0.8;

// Why the passes below give the bits of the blur as defined (per pixel and channel, the weighted
// samples added in kernel order to 0.0, samples outside the picture skipped, the sum divided by
// the kernel sum, truncated, low 8 bits kept):
// - Every weight and every sample is >= +0, so every product and partial sum is >= +0. Adding
//   +0.0 to such a value returns it unchanged, so a skipped sample may stand as a 0 sample of a
//   framed line, and the first addition to 0.0 may be left out.
// - Each output still sees its products added one by one in kernel order; the loops only run
//   over many outputs at once, which the compiler vectorises without changing any operation.
// - x / 1.0 == x for every double, so a kernel sum of exactly 1.0 needs no division.
// - Converting the truncated int to a byte keeps its low 8 bits, as the definition stores.

// sums[x] = weights[0] * in[x] + weights[1] * in[x + 1] + ..., added in that order.
void weightedSums(const double* __restrict in, const double* weights, int taps,
    double* __restrict sums, size_t count)
{
    const double first = weights[0];
    for (size_t x = 0; x < count; ++x) {
        sums[x] = first * in[x];
    }
    for (int k = 1; k < taps; ++k) {
        const double weight = weights[k];
        const double* const shifted = in + k;
        for (size_t x = 0; x < count; ++x) {
            sums[x] = sums[x] + weight * shifted[x];
        }
    }
}

// out[x] = low 8 bits of int(sums[x] / divisor).
void storeChannel(
    const double* __restrict sums, double divisor, quint8* __restrict out, size_t count)
{
    if (divisor == 1.0) {
        for (size_t x = 0; x < count; ++x) {
            out[x] = quint8(int(sums[x]));
        }
    } else {
        for (size_t x = 0; x < count; ++x) {
            out[x] = quint8(int(sums[x] / divisor));
        }
    }
}

// sums[x] = weight * plane row[x] (first), or sums[x] + weight * row[x].
void addWeightedRow(
    const quint8* __restrict row, double weight, bool first, double* __restrict sums, size_t count)
{
    if (first) {
        for (size_t x = 0; x < count; ++x) {
            sums[x] = weight * double(row[x]);
        }
    } else {
        for (size_t x = 0; x < count; ++x) {
            sums[x] = sums[x] + weight * double(row[x]);
        }
    }
}

// Both passes run on planes of channel bytes (red, green, blue), row by row. The column pass
// works in place from the top: row y is summed whole from the finished rows above it and the rows
// of the row pass from y down, and only then stored. So only the rows within the kernel's reach
// of y are alive, in a ring of rows, and each row goes through the row pass just before the
// column pass needs it. An arm longer than the picture is cut to it: the kernel's outer weights
// would only meet samples outside the picture.
inline void blur(const QImage& image, const QVector<double>& kernel, QImage& target)
{
    const int width = target.width();
    const int height = target.height();
    const size_t columns = size_t(width);
    const int fullHalf = kernel.size() / 2;
    const int rowHalf = std::min(fullHalf, width - 1);
    const int columnHalf = std::min(fullHalf, height - 1);
    const double* const weights = kernel.constData() + fullHalf; // k = -half ... half
    double divisor = 0.0;
    for (const double weight : kernel) {
        divisor += weight;
    }

    const size_t ringRows = 2 * size_t(columnHalf) + 1;
    std::vector<quint8> planes(3 * columns * ringRows);
    const auto planeRow = [&](int channel, int y) {
        return planes.data() + ((size_t(y) % ringRows) * 3 + size_t(channel)) * columns;
    };
    std::vector<double> sums(columns);

    // Row pass over lines framed by rowHalf zero samples on either side. QRgb-word formats are
    // read straight from their scan lines (the dropped alpha is all that QImage::pixel would
    // change in them), other formats through the reader.
    const bool words = ZTPixelAccess::holdsQRgbWords(image.format());
    const ZTPixelAccess::PixelReader reader(image);
    std::vector<QRgb> converted(words ? 0 : columns);
    const size_t framed = columns + 2 * size_t(rowHalf);
    std::vector<double> lines(3 * framed, 0.0);
    const auto rowPass = [&](int y) {
        const QRgb* source = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        if (!words) {
            for (int x = 0; x < width; ++x) {
                converted[size_t(x)] = reader.pixel(x, y);
            }
            source = converted.data();
        }
        for (int channel = 0; channel < 3; ++channel) {
            double* const line = lines.data() + size_t(channel) * framed + rowHalf;
            const int shift = 16 - 8 * channel;
            for (int x = 0; x < width; ++x) {
                line[x] = double((source[x] >> shift) & 0xFFu);
            }
            weightedSums(line - rowHalf, weights - rowHalf, 2 * rowHalf + 1, sums.data(), columns);
            storeChannel(sums.data(), divisor, planeRow(channel, y), columns);
        }
    };

    int rowsPassed = 0;
    for (int y = 0; y < height; ++y) {
        const int first = std::max(-columnHalf, -y);
        const int last = std::min(columnHalf, height - 1 - y);
        for (; rowsPassed <= y + last; ++rowsPassed) {
            rowPass(rowsPassed);
        }
        for (int channel = 0; channel < 3; ++channel) {
            for (int k = first; k <= last; ++k) {
                addWeightedRow(
                    planeRow(channel, y + k), weights[k], k == first, sums.data(), columns);
            }
            storeChannel(sums.data(), divisor, planeRow(channel, y), columns);
        }
        const quint8* const red = planeRow(0, y);
        const quint8* const green = planeRow(1, y);
        const quint8* const blue = planeRow(2, y);
        QRgb* const line = reinterpret_cast<QRgb*>(target.scanLine(y));
        for (int x = 0; x < width; ++x) {
            line[x] = ZTSalienceMap::opaqueAlpha | (QRgb(red[x]) << 16) | (QRgb(green[x]) << 8)
                | QRgb(blue[x]);
        }
    }
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
    m_kernel = createGaussianKernel(oddSize, sigma);
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

QImage ZTGaussianBlur::evaluate(const QImage& image)
{
    QImage target = createTargetImage(image);
    if (!target.isNull()) {
        ZTSimd::run([&] { blur(image, m_kernel, target); });
    }
    return target;
}
