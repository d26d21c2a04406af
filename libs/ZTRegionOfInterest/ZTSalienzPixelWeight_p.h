#ifndef ZTSALIENZPIXELWEIGHT_P_H
#define ZTSALIENZPIXELWEIGHT_P_H

// The pixel weight shared by the horizontal and vertical maximizers. Not installed.

#include "ZTSalienzPixelWeightMethod.h"

#include <QtGlobal>

#include <array>

namespace ZTSalienzPixelWeight {

/** Brightest salience that SalienzPixelWeightThreshold still weighs 0. */
constexpr int threshold = 153;

/** The weight of salience @p value under @p method. */
constexpr int weight(ZTSalienzPixelWeightMethod method, int value)
{
    return method == SalienzPixelWeightThreshold && value <= threshold ? 0 : value;
}

/** weight() for every salience 0 ... 255, looked up once per pixel. */
class Table
{
public:
    explicit Table(ZTSalienzPixelWeightMethod method)
    {
        for (int v = 0; v < int(m_weights.size()); ++v) {
            m_weights[size_t(v)] = weight(method, v);
        }
    }

    qint64 operator[](int salience) const { return m_weights[size_t(salience)]; }

private:
    std::array<qint64, 256> m_weights;
};

} // namespace ZTSalienzPixelWeight

#endif // ZTSALIENZPIXELWEIGHT_P_H
