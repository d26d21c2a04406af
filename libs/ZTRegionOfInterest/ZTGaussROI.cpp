#include "ZTGaussROI.h"

#include "ZTSalienceMap_p.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr double variance = 16900.0; // sigma = 130 pixels
constexpr double peak = 255.0;
constexpr double centreFactor = 0.5;

// The prior at squared distance dx * dx + dy * dy from the centre, in exactly the order of
// operations that fixes its bits, truncated toward zero.
inline int priorValue(double dx, double dy)
{
    const double value = std::exp(((dx * dx + dy * dy) * -0.5) / variance) * peak;
    return int(value);
}

// Distances as integers: with u = 2 * x - width and v = 2 * y - height, dx = u / 2 and dy = v / 2
// exactly, so dx * dx + dy * dy is n / 4 with n = u * u + v * v, exactly in double while the
// sides stay below 2^24. The value therefore depends on the integer n alone, and this is the
// formula for it, bit for bit.
constexpr int largestIntegerSide = 1 << 24;

inline int valueAt(qint64 n)
{
    const double value = std::exp(((double(n) * 0.25) * -0.5) / variance) * peak;
    return int(value);
}

// The value as a step function of n. The real function 255 * e^(-n / 135200) falls by a factor
// of at least e^(-1 / 135200), about 1 - 7.4e-6, per unit of n, while the computed value differs
// from it by a relative error below 1e-14 (rounding of the division and the product, and an exp
// accurate to well within 2^10 ulps). So wherever n lies at least 1 away from the real crossing
// n*(g) of a level g, the computed value is on the same side of g as the real one: the value
// falls monotonically there.
//
// limit[g] is an n with valueAt(limit[g] - 1) >= g > valueAt(limit[g]), found with exp itself.
// Then n*(g) lies strictly between limit[g] - 2 and limit[g] + 1 (were it not, limit[g] - 1 or
// limit[g] would be on the wrong side), so every n other than limit[g] - 2 and limit[g] + 1
// has valueAt(n) >= g exactly when n < limit[g]. Those two are computed with exp.
class PriorLevels
{
public:
    PriorLevels()
    {
        m_limit[0] = std::numeric_limits<qint64>::max(); // every value is >= 0
        for (int g = 1; g <= ZTSalienceMap::largestSalience; ++g) {
            m_limit[size_t(g)] = limitOf(g);
        }
    }

    // The value at n, from the limits outside the two unsure points of each limit. Levels
    // lower than g are crossed at larger n: *level, the count of limits above n, is kept from
    // call to call, so that a walk towards the centre costs O(1) per pixel.
    int value(qint64 n, int* level) const
    {
        int g = *level;
        while (g < ZTSalienceMap::largestSalience && n < m_limit[size_t(g + 1)]) {
            ++g;
        }
        *level = g;
        const bool unsure = (g > 0 && n == m_limit[size_t(g)] - 2)
            || (g < ZTSalienceMap::largestSalience && n == m_limit[size_t(g + 1)] + 1);
        return unsure ? valueAt(n) : g;
    }

private:
    // Starts at the real crossing 135200 * ln(255 / g) and steps to where valueAt changes.
    static qint64 limitOf(int g)
    {
        qint64 n = std::max<qint64>(1, std::llround(135200.0 * std::log(peak / g)));
        while (valueAt(n) >= g) {
            ++n;
        }
        while (n > 1 && valueAt(n - 1) < g) {
            --n;
        }
        return n;
    }

    std::array<qint64, ZTSalienceMap::largestSalience + 1> m_limit;
};

} // namespace

ZTGaussROI::ZTGaussROI() = default;

ZTGaussROI::~ZTGaussROI() = default;

// The map is symmetric about the centre column and row: column x and column width - x have
// distances that are exact negatives of each other, so their values are bit-identical. Only the
// top-left quadrant, the centre column and the centre row are computed; the rest is mirrored.
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
    const bool integerDistances = width < largestIntegerSide && height < largestIntegerSide;
    const PriorLevels levels;

    // Columns 0 ... width / 2 are computed; column x >= 1 mirrors to width - x.
    const int computedColumns = std::min(width / 2 + 1, width);
    std::vector<QRgb> halfRow(size_t(computedColumns), 0);

    for (int y = 0; y <= height / 2 && y < height; ++y) {
        if (integerDistances) {
            const qint64 v = 2 * qint64(y) - height;
            int level = 0;
            for (int x = 0; x < computedColumns; ++x) {
                const qint64 u = 2 * qint64(x) - width;
                const int value = levels.value(u * u + v * v, &level);
                halfRow[size_t(x)] = ZTSalienceMap::grey(unsigned(value));
            }
        } else {
            const double dy = double(y) - centreFactor * h;
            for (int x = 0; x < computedColumns; ++x) {
                const double dx = double(x) - centreFactor * w;
                halfRow[size_t(x)] = ZTSalienceMap::grey(unsigned(priorValue(dx, dy)));
            }
        }
        QRgb* line = reinterpret_cast<QRgb*>(target.scanLine(y));
        std::copy(halfRow.begin(), halfRow.end(), line);
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
