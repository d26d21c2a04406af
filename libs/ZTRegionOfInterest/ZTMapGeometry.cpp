#include "ZTMapGeometry.h"

#include <algorithm>
#include <limits>

ZTMapGeometry::ZTMapGeometry(const QSize& inputSize, const QSize& mapSize)
    : m_input(inputSize)
    , m_map(mapSize)
{}

int ZTMapGeometry::scaleRounded(qint64 value, qint64 numerator, qint64 denominator)
{
    if (denominator <= 0) {
        return 0;
    }
    // Callers keep every factor within the int range, so the product fits into 64 bits; the
    // remainder decides the rounding, which keeps the doubling away from the product.
    const qint64 product = value * numerator;
    qint64 quotient = product / denominator;
    const qint64 remainder = product % denominator;
    if (2 * (remainder < 0 ? -remainder : remainder) >= denominator) {
        quotient += product < 0 ? -1 : 1;
    }
    return int(std::clamp<qint64>(
        quotient, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

int ZTMapGeometry::toInputX(int mapX) const
{
    return scaleRounded(mapX, m_input.width(), m_map.width());
}

int ZTMapGeometry::toInputY(int mapY) const
{
    return scaleRounded(mapY, m_input.height(), m_map.height());
}

int ZTMapGeometry::toMapX(int inputX) const
{
    return scaleRounded(inputX, m_map.width(), m_input.width());
}

int ZTMapGeometry::toMapY(int inputY) const
{
    return scaleRounded(inputY, m_map.height(), m_input.height());
}

QRect ZTMapGeometry::toInput(const QRect& mapRect) const
{
    return convert(mapRect, m_map, m_input);
}

QRect ZTMapGeometry::toMap(const QRect& inputRect) const
{
    return convert(inputRect, m_input, m_map);
}

// Converts the left/top and the exclusive right/bottom edges and keeps at least one pixel, so
// that a small area never vanishes when it is scaled down.
QRect ZTMapGeometry::convert(const QRect& rect, const QSize& from, const QSize& to)
{
    if (rect.isNull() || from.isEmpty() || to.isEmpty()) {
        return QRect();
    }
    const int left = scaleRounded(rect.x(), to.width(), from.width());
    const int top = scaleRounded(rect.y(), to.height(), from.height());
    const int right = scaleRounded(qint64(rect.x()) + rect.width(), to.width(), from.width());
    const int bottom = scaleRounded(qint64(rect.y()) + rect.height(), to.height(), from.height());
    return QRect(left, top, std::max(1, right - left), std::max(1, bottom - top));
}
