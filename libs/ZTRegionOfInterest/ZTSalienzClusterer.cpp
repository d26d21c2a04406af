#include "ZTSalienzClusterer.h"

#include "ZTSalienceMap_p.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace {

constexpr int defaultCount = 10;
constexpr quint64 fairShareScore = 128; // the score of a cube that holds exactly its share
constexpr double boostThreshold = 2.0;  // mean excess over the map's mean that triggers the boost

// Counts below 1 would divide by zero or give negative cube sizes; they act as 1.
inline int atLeastOne(int count)
{
    return std::max(count, 1);
}

// The sum of the red components of a map of 32-bit pixels, in 64 bits: it cannot overflow for
// any image that QImage can hold.
quint64 redSum(const QImage& map)
{
    const int width = map.width();
    const int height = map.height();
    quint64 total = 0;
    for (int y = 0; y < height; ++y) {
        const QRgb* const line = reinterpret_cast<const QRgb*>(map.constScanLine(y));
        quint64 rowSum = 0;
        for (int x = 0; x < width; ++x) {
            rowSum += unsigned(ZTSalienceMap::salience(line[x]));
        }
        total += rowSum;
    }
    return total;
}

// Running figures of one cube.
struct CubeSums
{
    quint64 sum = 0;         // red values
    quint64 excess = 0;      // red values above the mean, minus the mean
    quint64 excessCount = 0; // pixels above the mean
};

// The score of one cube. The boost multiplies a cube's sum by the mean excess of its bright
// pixels when that excess is more than twice the map's mean, so a few strongly salient pixels
// lift their cube far above the rest. Excess and count are exact integers here; as doubles they
// are bit-identical to sums accumulated pixel by pixel in double, since every partial sum stays
// far below 2^53. The boosted sum is truncated toward zero and the score saturates at 255.
inline quint64 cubeScore(const CubeSums& cube, quint64 mean, quint64 expected)
{
    quint64 sum = cube.sum;
    if (cube.excessCount != 0) {
        const double meanExcess = double(cube.excess) / double(cube.excessCount);
        if (meanExcess > boostThreshold * double(mean)) {
            sum = quint64(meanExcess * double(sum));
        }
    }
    return std::min<quint64>(sum * fairShareScore / expected, ZTSalienceMap::largestSalience);
}

} // namespace

ZTSalienzClusterer::ZTSalienzClusterer()
    : m_countCubesH(defaultCount)
    , m_countCubesV(defaultCount)
{}

ZTSalienzClusterer::~ZTSalienzClusterer() = default;

void ZTSalienzClusterer::setCountCubesH(int count)
{
    m_countCubesH = count;
}

int ZTSalienzClusterer::countCubesH() const
{
    return m_countCubesH;
}

void ZTSalienzClusterer::setCountCubesV(int count)
{
    m_countCubesV = count;
}

int ZTSalienzClusterer::countCubesV() const
{
    return m_countCubesV;
}

QSize ZTSalienzClusterer::countCubes() const
{
    return QSize(m_countCubesH, m_countCubesV);
}

QSize ZTSalienzClusterer::cubeSize(const QSize& size) const
{
    return QSize(
        size.height() / atLeastOne(m_countCubesV), size.width() / atLeastOne(m_countCubesH));
}

int ZTSalienzClusterer::totalSalience(const QImage& map) const
{
    const quint64 total = redSum(ZTSalienceMap::with32BitPixels(map));
    return int(std::min<quint64>(total, std::numeric_limits<int>::max()));
}

// The map is walked one band of cube rows at a time: each row of the band adds its pixels to
// the running sums of the cubes it crosses, which visits every cube's pixels row by row, and
// the band's scores are then written as one row of grey pixels copied into every row of the
// band. The total is kept in 64 bits here (totalSalience() saturates), so very large maps get
// the true expectation.
QImage ZTSalienzClusterer::cluster(const QImage& map) const
{
    QImage result(map.size(), QImage::Format_ARGB32);
    if (result.isNull()) {
        return result;
    }
    const QImage source = ZTSalienceMap::with32BitPixels(map);
    const int width = source.width();
    const int height = source.height();
    const int columns = atLeastOne(m_countCubesV);
    const int rows = atLeastOne(m_countCubesH);

    const quint64 total = redSum(source);
    const quint64 expected = total / quint64(columns) / quint64(rows);
    if (expected == 0) {
        // No cube could earn a score: the map is black.
        result.fill(ZTSalienceMap::grey(0));
        return result;
    }
    const quint64 mean = total / quint64(width) / quint64(height);

    // A map smaller than the grid still gets cubes of at least one pixel.
    const int cubeWidth = std::max(width / columns, 1);
    const int cubeHeight = std::max(height / rows, 1);
    const int cubeColumns = (width - 1) / cubeWidth + 1;

    std::vector<CubeSums> cubes(static_cast<size_t>(cubeColumns));
    std::vector<QRgb> band(static_cast<size_t>(width));
    for (int y0 = 0; y0 < height;) {
        const int y1 = y0 + std::min(cubeHeight, height - y0);
        std::fill(cubes.begin(), cubes.end(), CubeSums());
        for (int y = y0; y < y1; ++y) {
            const QRgb* const line = reinterpret_cast<const QRgb*>(source.constScanLine(y));
            CubeSums* cube = cubes.data();
            for (int x0 = 0; x0 < width; ++cube) {
                const int x1 = x0 + std::min(cubeWidth, width - x0);
                quint64 sum = 0;
                quint64 excess = 0;
                quint64 excessCount = 0;
                // Branch-free: whether a pixel lies above the mean is as good as random.
                for (int x = x0; x < x1; ++x) {
                    const quint64 v = unsigned(ZTSalienceMap::salience(line[x]));
                    const quint64 above = v > mean ? 1 : 0;
                    sum += v;
                    excess += above * (v - mean);
                    excessCount += above;
                }
                cube->sum += sum;
                cube->excess += excess;
                cube->excessCount += excessCount;
                x0 = x1;
            }
        }

        const CubeSums* cube = cubes.data();
        for (int x0 = 0; x0 < width; ++cube) {
            const int x1 = x0 + std::min(cubeWidth, width - x0);
            const QRgb pixel = ZTSalienceMap::grey(unsigned(cubeScore(*cube, mean, expected)));
            std::fill(band.begin() + x0, band.begin() + x1, pixel);
            x0 = x1;
        }
        for (int y = y0; y < y1; ++y) {
            std::copy(band.cbegin(), band.cend(), reinterpret_cast<QRgb*>(result.scanLine(y)));
        }
        y0 = y1;
    }
    return result;
}
