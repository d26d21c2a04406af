#include "ZTSalienzAchanta.h"

#include "ZTPixelAccess_p.h"
#include "ZTSalienceMap_p.h"
#include "ZTSalienzAchanta_p.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace {

constexpr int spreadSize = 90;
constexpr int spreadThreshold = 150;

// The stretch starts its minimum far above any squared distance of 8-bit colours (3 * 255^2).
constexpr double stretchMinimumStart = 1073741824.0; // 2^30
constexpr int largestSalience = 255;
constexpr QRgb opaqueBlack = 0xFF000000u;

// Whether a list of @p size values holds a plane of at least one pixel.
bool holdsPlane(qint64 size, int width, int height)
{
    return width >= 1 && height >= 1 && size >= qint64(width) * qint64(height);
}

} // namespace

ZTSalienzAchanta::ZTSalienzAchanta()
    : maxFilter(spreadSize, spreadThreshold)
{}

ZTSalienzAchanta::~ZTSalienzAchanta() = default;

QList<double> ZTSalienzAchanta::createZeroedList(int count) const
{
    QList<double> list;
    if (count < 1) {
        return list;
    }
    list.reserve(count);
    for (int i = 0; i < count; ++i) {
        list.append(0.0);
    }
    return list;
}

QList<QList<double>> ZTSalienzAchanta::createZeroed2dList(int width, int height) const
{
    QList<QList<double>> rows;
    if (height < 1) {
        return rows;
    }
    rows.reserve(height);
    for (int y = 0; y < height; ++y) {
        rows.append(createZeroedList(width));
    }
    return rows;
}

void ZTSalienzAchanta::gaussianSmooth(const QList<double>& input, int width, int height,
    const QList<double>& kernel, QList<double>& output)
{
    if (kernel.isEmpty() || !holdsPlane(input.size(), width, height)
        || !holdsPlane(output.size(), width, height)) {
        return;
    }
    const std::vector<double> weights(kernel.cbegin(), kernel.cend());
    std::vector<double> scratch(size_t(width) * size_t(height));
    ZTSymmetricSurround::smoothPlane(input, width, height, weights, scratch, output);
}

void ZTSalienzAchanta::integralImage(
    const QList<double>& plane, int width, int height, QList<QList<double>>& table)
{
    if (!holdsPlane(plane.size(), width, height) || table.size() < height) {
        return;
    }
    for (int y = 0; y < height; ++y) {
        if (table.at(y).size() < width) {
            return;
        }
    }
    for (int y = 0; y < height; ++y) {
        QList<double>& row = table[y];
        double rowSum = 0.0;
        for (int x = 0; x < width; ++x) {
            rowSum += plane.at(y * width + x);
            row[x] = y > 0 ? table.at(y - 1).at(x) + rowSum : rowSum;
        }
    }
}

double ZTSalienzAchanta::integralSum(
    const QList<QList<double>>& table, int x1, int y1, int x2, int y2)
{
    bool inside = true;
    const auto entry = [&](int y, int x) {
        if (y < 0 || y >= table.size() || x < 0 || x >= table.at(y).size()) {
            inside = false;
            return 0.0;
        }
        return table.at(y).at(x);
    };
    const double sum = ZTSymmetricSurround::rectangleSum(entry, x1, y1, x2, y2);
    return inside ? sum : 0.0;
}

// The salience plane, stretched between its smallest and largest value into a grey map, whose
// brightest pixels then spread along their rows and columns.
QImage ZTSalienzAchanta::evaluate(const QImage& image)
{
    if (image.isNull()) {
        return createTargetImage(image);
    }
    const QImage source
        = ZTPixelAccess::holdsQRgbWords(image.format()) ? image : adjustFormat(image);
    const std::vector<double> salience = ZTSymmetricSurround::saliencePlane(source);
    const int width = source.width();
    const int height = source.height();

    double minimum = stretchMinimumStart;
    double maximum = 0.0;
    for (const double value : salience) {
        if (value < minimum) {
            minimum = value;
        }
        if (value > maximum) {
            maximum = value;
        }
    }
    const int range = int(maximum - minimum);

    QImage map = createTargetImage(image);
    if (range < 1) {
        map.fill(opaqueBlack);
    } else {
        for (int y = 0; y < height; ++y) {
            const double* const row = salience.data() + size_t(y) * size_t(width);
            QRgb* const line = reinterpret_cast<QRgb*>(map.scanLine(y));
            for (int x = 0; x < width; ++x) {
                const int v = int(row[x] - minimum);
                const int value = std::clamp((v * largestSalience) / range, 0, largestSalience);
                line[x] = ZTSalienceMap::grey(unsigned(value));
            }
        }
    }
    return maxFilter.evaluate(map);
}
