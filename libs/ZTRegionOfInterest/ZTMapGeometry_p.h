#ifndef ZTMAPGEOMETRY_P_H
#define ZTMAPGEOMETRY_P_H

// Not installed: shared by the crop planner, ztroi and its face module, which link the library.

#include "ZTRegionOfInterestExport.h"

#include <QRect>
#include <QSize>

/**
 * Converts coordinates between an input picture and its salience map, which the mixer computes
 * at the analysis size (usually smaller, sometimes larger than the picture).
 *
 * A map pixel m covers the input span [m * I / M, (m + 1) * I / M) on its axis, where I and M are
 * the input's and the map's length. Edges are converted by that ratio and rounded to the nearest
 * integer (halves away from zero), in 64-bit arithmetic. When the map is not larger than the
 * input, converting a map edge to the input and back gives the same map edge.
 */
class ZTREGIONOFINTEREST_EXPORT ZTMapGeometry
{
public:
    /** With an empty size on either side every conversion gives 0 or a null rect. */
    ZTMapGeometry(const QSize& inputSize, const QSize& mapSize);

    QSize inputSize() const { return m_input; }
    QSize mapSize() const { return m_map; }

    /** The input edge that corresponds to map edge @p mapX (may be 0 ... map width). */
    int toInputX(int mapX) const;
    int toInputY(int mapY) const;
    /** The map edge that corresponds to input edge @p inputX (may be 0 ... input width). */
    int toMapX(int inputX) const;
    int toMapY(int inputY) const;

    /** @p mapRect with its edges converted to the input; an empty result grows to 1 x 1. */
    QRect toInput(const QRect& mapRect) const;
    /** @p inputRect with its edges converted to the map; an empty result grows to 1 x 1. */
    QRect toMap(const QRect& inputRect) const;

    /**
     * Rounds @p value * @p numerator / @p denominator to the nearest integer, halves away from
     * zero; 0 when @p denominator is not positive. The result is clamped to the int range.
     */
    static int scaleRounded(qint64 value, qint64 numerator, qint64 denominator);

private:
    static QRect convert(const QRect& rect, const QSize& from, const QSize& to);

    QSize m_input;
    QSize m_map;
};

#endif // ZTMAPGEOMETRY_P_H
