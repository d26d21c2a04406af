#include "ZTGaussianBlur.h"

#include "ZTGaussianBlur_p.h"
#include "ZTPixelAccess_p.h"
#include "ZTSalienceMap_p.h"

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

// out[x] = low 8 bits of int(((w[0] * a[x] + w[1] * b[x]) + w[2] * c[x]) / divisor): the three-tap
// kernel of the Sobel method in one loop, without storing partial sums.
template<typename Sample>
void threeTaps(const Sample* __restrict a, const Sample* __restrict b, const Sample* __restrict c,
    const double* weights, double divisor, quint8* __restrict out, size_t count)
{
    const double first = weights[0];
    const double second = weights[1];
    const double third = weights[2];
    if (divisor == 1.0) {
        for (size_t x = 0; x < count; ++x) {
            const double sum
                = (first * double(a[x]) + second * double(b[x])) + third * double(c[x]);
            out[x] = quint8(int(sum));
        }
    } else {
        for (size_t x = 0; x < count; ++x) {
            const double sum
                = (first * double(a[x]) + second * double(b[x])) + third * double(c[x]);
            out[x] = quint8(int(sum / divisor));
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

// An arm longer than the picture reaches every pixel of its line: the kernel's outer weights only
// ever meet samples outside the picture, so the arms are cut to the line.
ZTBlur::RowStream::RowStream(const QImage& image, const QVector<double>& kernel, int keptRows)
    : m_image(image)
    , m_kernel(kernel)
    , m_reader(image)
    , m_wordFormat(ZTPixelAccess::holdsQRgbWords(image.format()))
    , m_width(std::max(image.width(), 1))
    , m_height(std::max(image.height(), 1))
    , m_columns(size_t(m_width))
    , m_rowHalf(std::min(kernel.size() / 2, m_width - 1))
    , m_columnHalf(std::min(kernel.size() / 2, m_height - 1))
{
    for (const double weight : m_kernel) {
        m_divisor += weight;
    }
    // Row y needs the passed rows y ... y + half and the finished rows y - half ... y - 1, and
    // is stored in a slot of its own.
    m_passedRows = m_columnHalf + 1;
    m_finishedRows = std::max(m_columnHalf + 1, keptRows);
    m_converted.resize(m_wordFormat ? 0 : m_columns);
    m_framedLines.assign(3 * (m_columns + 2 * size_t(m_rowHalf)), 0.0);
    m_sums.resize(m_columns);
    m_passed.resize(size_t(m_passedRows) * 3 * m_columns);
    m_finished.resize(size_t(m_finishedRows) * 3 * m_columns);
}

// Row pass of row y over lines framed by rowHalf zero samples on either side. QRgb-word formats
// are read straight from their scan lines; the dropped alpha is the only thing QImage::pixel
// would change in them. Other formats go through the reader.
void ZTBlur::RowStream::rowPass(int y)
{
    const QRgb* source = reinterpret_cast<const QRgb*>(m_image.constScanLine(y));
    if (!m_wordFormat) {
        for (int x = 0; x < m_width; ++x) {
            m_converted[size_t(x)] = m_reader.pixel(x, y);
        }
        source = m_converted.data();
    }
    const size_t framed = m_columns + 2 * size_t(m_rowHalf);
    double* const lines[3] = {m_framedLines.data() + m_rowHalf,
        m_framedLines.data() + framed + m_rowHalf, m_framedLines.data() + 2 * framed + m_rowHalf};
    for (int x = 0; x < m_width; ++x) {
        const QRgb pixel = source[x];
        lines[0][x] = double((pixel >> 16) & 0xFFu);
        lines[1][x] = double((pixel >> 8) & 0xFFu);
        lines[2][x] = double(pixel & 0xFFu);
    }
    const int fullHalf = m_kernel.size() / 2;
    const double* const weights = m_kernel.constData() + (fullHalf - m_rowHalf);
    for (int channel = 0; channel < 3; ++channel) {
        const double* const line = lines[channel];
        if (m_rowHalf == 1) {
            threeTaps(
                line - 1, line, line + 1, weights, m_divisor, passedRow(channel, y), m_columns);
            continue;
        }
        weightedSums(line - m_rowHalf, weights, 2 * m_rowHalf + 1, m_sums.data(), m_columns);
        storeChannel(m_sums.data(), m_divisor, passedRow(channel, y), m_columns);
    }
}

// Column pass of the next row y: the finished rows above it and the passed rows from y down.
// Only column x feeds pixel x, so the whole row is summed before it is stored.
void ZTBlur::RowStream::finishNextRow()
{
    const int y = m_nextFinished++;
    for (; m_nextPassed <= std::min(y + m_columnHalf, m_height - 1); ++m_nextPassed) {
        rowPass(m_nextPassed);
    }
    const int first = std::max(-m_columnHalf, -y);
    const int last = std::min(m_columnHalf, m_height - 1 - y);
    const double* const weights = m_kernel.constData() + m_kernel.size() / 2; // k = -half ... half
    for (int channel = 0; channel < 3; ++channel) {
        if (first == -1 && last == 1) {
            threeTaps(finishedRow(channel, y - 1), passedRow(channel, y), passedRow(channel, y + 1),
                weights - 1, m_divisor, finishedRow(channel, y), m_columns);
            continue;
        }
        for (int k = first; k <= last; ++k) {
            const quint8* const source
                = k < 0 ? finishedRow(channel, y + k) : passedRow(channel, y + k);
            addWeightedRow(source, weights[k], k == first, m_sums.data(), m_columns);
        }
        storeChannel(m_sums.data(), m_divisor, finishedRow(channel, y), m_columns);
    }
}

QImage ZTGaussianBlur::evaluate(const QImage& image)
{
    QImage target = createTargetImage(image);
    if (target.isNull()) {
        return target;
    }
    ZTBlur::RowStream rows(image, kernel, 1);
    const int width = target.width();
    for (int y = 0; y < target.height(); ++y) {
        rows.finishNextRow();
        const quint8* const red = rows.row(0, y);
        const quint8* const green = rows.row(1, y);
        const quint8* const blue = rows.row(2, y);
        QRgb* const line = reinterpret_cast<QRgb*>(target.scanLine(y));
        for (int x = 0; x < width; ++x) {
            line[x] = ZTSalienceMap::opaqueAlpha | (QRgb(red[x]) << 16) | (QRgb(green[x]) << 8)
                | QRgb(blue[x]);
        }
    }
    return target;
}
