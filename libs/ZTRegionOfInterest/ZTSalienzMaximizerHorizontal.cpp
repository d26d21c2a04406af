#include "ZTSalienzMaximizerHorizontal.h"

#include "ZTSalienceMap_p.h"
#include "ZTSalienzPixelWeight_p.h"

#include <vector>

ZTSalienzMaximizerHorizontal::ZTSalienzMaximizerHorizontal(ZTSalienzPixelWeightMethod method)
    : m_pixelWeightMethod(method)
{}

ZTSalienzMaximizerHorizontal::~ZTSalienzMaximizerHorizontal() = default;

// Column sums, accumulated row by row into one 64-bit entry per column.
QList<qint64> ZTSalienzMaximizerHorizontal::sums(const QImage& map) const
{
    const QImage source = ZTSalienceMap::with32BitPixels(map);
    const int width = source.width();
    const int height = source.height();
    const ZTSalienzPixelWeight::Table weights(m_pixelWeightMethod);

    std::vector<qint64> columnSums(static_cast<size_t>(width), 0);
    for (int y = 0; y < height; ++y) {
        const QRgb* const line = reinterpret_cast<const QRgb*>(source.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            columnSums[size_t(x)] += weights[ZTSalienceMap::salience(line[x])];
        }
    }
    return QList<qint64>(columnSums.cbegin(), columnSums.cend());
}

int ZTSalienzMaximizerHorizontal::pixelFunction(int value) const
{
    return ZTSalienzPixelWeight::weight(m_pixelWeightMethod, value);
}
