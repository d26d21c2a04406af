#include "ZTSalienzMaximizerVertical.h"

#include "ZTSalienceMap_p.h"
#include "ZTSalienzPixelWeight_p.h"

ZTSalienzMaximizerVertical::ZTSalienzMaximizerVertical(ZTSalienzPixelWeightMethod method)
    : m_pixelWeightMethod(method)
{}

ZTSalienzMaximizerVertical::~ZTSalienzMaximizerVertical() = default;

// Row sums, one 64-bit entry per row.
QList<qint64> ZTSalienzMaximizerVertical::sums(const QImage& map) const
{
    const QImage source = ZTSalienceMap::with32BitPixels(map);
    const int width = source.width();
    const int height = source.height();
    const ZTSalienzPixelWeight::Table weights(m_pixelWeightMethod);

    QList<qint64> rowSums;
    rowSums.reserve(height);
    for (int y = 0; y < height; ++y) {
        const QRgb* const line = reinterpret_cast<const QRgb*>(source.constScanLine(y));
        qint64 sum = 0;
        for (int x = 0; x < width; ++x) {
            sum += weights[ZTSalienceMap::salience(line[x])];
        }
        rowSums.append(sum);
    }
    return rowSums;
}

int ZTSalienzMaximizerVertical::pixelFunction(int value) const
{
    return ZTSalienzPixelWeight::weight(m_pixelWeightMethod, value);
}
