#ifndef ZTMAPGEOMETRY_H
#define ZTMAPGEOMETRY_H

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
 *
 * ZTSalienzCropPlanner converts its crops with it. A host uses it for rectangles that it hands to
 * the mixer or reads off a map: declared areas in picture pixels become work-image rectangles for
 * ZTSalienzMixer::injectVeryImportantAreas() with toMap(), and a rectangle found on the map (or
 * on any picture scaled to the map's size) becomes picture pixels with toInput().
 */
class ZTREGIONOFINTEREST_EXPORT ZTMapGeometry
{
public:
    /** With an empty size on either side every conversion gives 0 or a null rect. */
    ZTMapGeometry(const QSize& inputSize, const QSize& mapSize);

    /** The input picture's size, as given. */
    QSize inputSize() const { return m_input; }
    /** The map's size, as given. */
    QSize mapSize() const { return m_map; }

    /**
     * The input edge that corresponds to map edge @p mapX (0 ... map width); any int is
     * converted by the same ratio. 0 when either size is empty.
     */
    int toInputX(int mapX) const;
    /** As toInputX(), for the vertical edge @p mapY. */
    int toInputY(int mapY) const;
    /** The map edge that corresponds to input edge @p inputX (0 ... input width), as toInputX(). */
    int toMapX(int inputX) const;
    /** As toMapX(), for the vertical edge @p inputY. */
    int toMapY(int inputY) const;

    /**
     * @p mapRect with its edges converted to the input; a result narrower or lower than a pixel
     * grows to one. A null rect, or an empty size on either side, gives a null rect. The result is
     * not clipped to the input.
     */
    QRect toInput(const QRect& mapRect) const;
    /** @p inputRect with its edges converted to the map, as toInput() the other way. */
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

#endif // ZTMAPGEOMETRY_H
