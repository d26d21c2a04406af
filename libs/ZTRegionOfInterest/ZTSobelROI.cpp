#include "ZTSobelROI.h"

#include "ZTGaussianBlur.h"
#include "ZTMaxFilter.h"
#include "ZTSalienceMap_p.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

constexpr std::array<int, 9> horizontalEdgeKernel = {1, 2, 1, 0, 0, 0, -1, -2, -1};
constexpr std::array<int, 9> verticalEdgeKernel = {1, 0, -1, 2, 0, -2, 1, 0, -1};

// The blur before the edge detection and the spreading of strong edges after it.
constexpr int blurSize = 3;
constexpr double blurSigma = 2.6;
constexpr int spreadSize = 7;
constexpr int spreadThreshold = 50;

constexpr int largestSalience = 255;
constexpr QRgb alphaBits = 0xFF000000u;
constexpr QRgb opaqueBlack = 0xFF000000u;

// Grey value v with the alpha of @p alphaSource.
inline QRgb greyWithAlpha(QRgb alphaSource, QRgb v)
{
    return (alphaSource & alphaBits) | (v << 16) | (v << 8) | v;
}

} // namespace

ZTSobelROI::ZTSobelROI()
{
    configureSobelH();
}

ZTSobelROI::~ZTSobelROI() = default;

void ZTSobelROI::configureSobelH()
{
    kernel = horizontalEdgeKernel;
}

void ZTSobelROI::configureSobelV()
{
    kernel = verticalEdgeKernel;
}

int ZTSobelROI::totalWeight() const
{
    int total = 0;
    for (const int entry : kernel) {
        total += std::abs(entry);
    }
    return total;
}

// Integer 3x3 correlation (the kernel is not flipped) of each colour channel over the interior
// pixels. The sum of the three absolute responses is divided by 3 * totalWeight() / 2, so the
// strongest possible Sobel response, 3 * 4 * 255, maps to exactly 255.
QImage ZTSobelROI::convolute(const QImage& image) const
{
    const QImage source = adjustFormat(image);
    QImage target = createTargetImage(source);
    const int width = target.width();
    const int height = target.height();
    if (target.isNull()) {
        return target;
    }
    if (width < 3 || height < 3) {
        // No interior pixel: nothing to copy to the borders either.
        target.fill(opaqueBlack);
        return target;
    }
    const int divisor = (totalWeight() / 2) * 3;
    Q_ASSERT(divisor > 0);
    const std::array<int, 9> weights = kernel; // a local copy cannot alias the written pixels

    for (int y = 1; y < height - 1; ++y) {
        const QRgb* const rows[3] = {
            reinterpret_cast<const QRgb*>(source.constScanLine(y - 1)),
            reinterpret_cast<const QRgb*>(source.constScanLine(y)),
            reinterpret_cast<const QRgb*>(source.constScanLine(y + 1)),
        };
        QRgb* const line = reinterpret_cast<QRgb*>(target.scanLine(y));
        for (int x = 1; x < width - 1; ++x) {
            int red = 0;
            int green = 0;
            int blue = 0;
            for (int i = 0; i < 3; ++i) {
                for (int j = 0; j < 3; ++j) {
                    const int weight = weights[size_t(3 * i + j)];
                    const QRgb pixel = rows[i][x - 1 + j];
                    red += weight * qRed(pixel);
                    green += weight * qGreen(pixel);
                    blue += weight * qBlue(pixel);
                }
            }
            const int v = (std::abs(red) + std::abs(green) + std::abs(blue)) / divisor;
            line[x] = greyWithAlpha(rows[1][x], QRgb(v) & 0xFFu);
        }
    }

    // Outer rows first, then outer columns, so the corners copy the diagonal interior pixel.
    const size_t rowBytes = size_t(width) * sizeof(QRgb);
    std::copy_n(target.constScanLine(1), rowBytes, target.scanLine(0));
    std::copy_n(target.constScanLine(height - 2), rowBytes, target.scanLine(height - 1));
    for (int y = 0; y < height; ++y) {
        QRgb* const line = reinterpret_cast<QRgb*>(target.scanLine(y));
        line[0] = line[1];
        line[width - 1] = line[width - 2];
    }
    return target;
}

// Magnitude sqrt(a^2 + b^2) of the red channels, truncated; above 255 it saturates, so the
// strongest corners stay the most salient instead of wrapping to their low 8 bits.
QImage ZTSobelROI::combine(const QImage& first, const QImage& second)
{
    const QImage a = ZTSalienceMap::with32BitPixels(first);
    const QImage b = ZTSalienceMap::with32BitPixels(second);
    QImage target(a.size(), a.format());
    const int width = a.width();
    const int height = a.height();
    const int secondWidth = std::min(width, b.width());
    const int secondHeight = std::min(height, b.height());

    for (int y = 0; y < height; ++y) {
        const QRgb* const firstLine = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const QRgb* const secondLine
            = y < secondHeight ? reinterpret_cast<const QRgb*>(b.constScanLine(y)) : nullptr;
        QRgb* const line = reinterpret_cast<QRgb*>(target.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int red = ZTSalienceMap::salience(firstLine[x]);
            const int otherRed
                = secondLine && x < secondWidth ? ZTSalienceMap::salience(secondLine[x]) : 0;
            const int magnitude = int(std::sqrt(double(red * red + otherRed * otherRed)));
            line[x] = greyWithAlpha(firstLine[x], QRgb(std::min(magnitude, largestSalience)));
        }
    }
    return target;
}

QImage ZTSobelROI::evaluate(const QImage& image)
{
    ZTGaussianBlur blur(blurSize, blurSigma);
    const QImage blurred = blur.evaluate(image);
    configureSobelH();
    const QImage horizontalEdges = convolute(blurred);
    configureSobelV();
    const QImage verticalEdges = convolute(blurred);
    const QImage magnitude = combine(horizontalEdges, verticalEdges);
    ZTMaxFilter spread(spreadSize, spreadThreshold);
    return spread.evaluate(magnitude);
}
