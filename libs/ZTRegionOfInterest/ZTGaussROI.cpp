#include "ZTGaussROI.h"

#include "ZTSalienceMap_p.h"

#include <cmath>
#include <vector>

namespace {

constexpr double variance = 16900.0; // sigma = 130 pixels
constexpr double peak = 255.0;
constexpr double centreFactor = 0.5;

// The prior at squared distance dx * dx + dy * dy from the centre, in exactly the order of
// operations that fixes its bits, truncated toward zero.
inline unsigned priorValue(double dx, double dy)
{
    const double value = std::exp(((dx * dx + dy * dy) * -0.5) / variance) * peak;
    return unsigned(int(value));
}

} // namespace

ZTGaussROI::ZTGaussROI() = default;

ZTGaussROI::~ZTGaussROI() = default;

// The map is symmetric about the centre column and row: column x and column width - x have
// distances that are exact negatives of each other (all values are small integers or halves),
// so their squares, and the pixel values, are bit-identical. Only the top-left quadrant, the
// centre column and the centre row are computed; the rest is mirrored.
QImage ZTGaussROI::evaluate(const QImage& image)
{
    QImage target = createTargetImage(image);
    if (target.isNull()) {
        return target;
    }
    const int width = target.width();
    const int height = target.height();
    const double w = width;
    const double h = height;

    // Columns 0 ... width / 2 are computed; column x >= 1 mirrors to width - x.
    const int computedColumns = width / 2 + 1;
    std::vector<QRgb> halfRow(size_t(computedColumns), 0);

    for (int y = 0; y <= height / 2 && y < height; ++y) {
        const double dy = double(y) - centreFactor * h;
        for (int x = 0; x < computedColumns && x < width; ++x) {
            const double dx = double(x) - centreFactor * w;
            halfRow[size_t(x)] = ZTSalienceMap::grey(priorValue(dx, dy));
        }
        QRgb* line = reinterpret_cast<QRgb*>(target.scanLine(y));
        for (int x = 0; x < computedColumns && x < width; ++x) {
            line[x] = halfRow[size_t(x)];
        }
        for (int x = computedColumns; x < width; ++x) {
            line[x] = halfRow[size_t(width - x)];
        }
        // Row y >= 1 mirrors to height - y.
        const int mirror = height - y;
        if (y >= 1 && mirror != y && mirror < height) {
            std::copy(line, line + width, reinterpret_cast<QRgb*>(target.scanLine(mirror)));
        }
    }
    return target;
}
