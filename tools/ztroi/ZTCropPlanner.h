#ifndef ZTCROPPLANNER_H
#define ZTCROPPLANNER_H

#include "ZTMapGeometry.h"
#include "ZTSalienceProfile.h"

#include <ZTSalienzPixelWeightMethod.h>

#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>

/** One --crop request: an aspect ratio ("16:9") or an output size ("1920x1080"). */
struct ZTCropRequest
{
    QString text;        ///< as the user wrote it, without leading zeros: "16:9", "1920x1080"
    int aspectWidth = 0; ///< the aspect, reduced to lowest terms
    int aspectHeight = 0;
    QSize outputSize; ///< the requested size for "WxH", invalid for "W:H"

    /** "W:H" with both reduced, e.g. "16:9" for "1920x1080". */
    QString aspectText() const;
};

/**
 * An area that crops keep whole where they can, in input pixels. Where a crop's window is too
 * small for it, the crop keeps its core whole instead (for a head: the face); the core of an
 * area without one is the area itself.
 */
struct ZTDeclaredArea
{
    QRect rect;
    QRect core;
};

/** A planned crop in input coordinates. */
struct ZTCrop
{
    ZTCropRequest request;
    QRect rect;                ///< in pixels of the input picture (after EXIF orientation)
    double salienceKept = 0.0; ///< share of the map's total salience inside the crop, 0 ... 1
    bool centred = true;       ///< true when the salience did not place the crop (see plan())
    int areasKept = -1; ///< declared areas kept (see ZTCropPlanner); -1 when none are declared
};

/**
 * Plans crops of a picture from its salience map.
 *
 * For each requested aspect the crop is the largest window of that aspect that fits the picture;
 * it spans the whole picture along one axis and is free to move along the other. Its position on
 * the free axis is the start of the most salient window of the same length on the map, found by a
 * maximizer and converted back to input pixels. The crop is centred instead when the window fills
 * the free axis on the map, when the maximizer finds no window (-1: too little room, or no
 * salience), and when the aspect matches the picture's exactly.
 *
 * Declared areas (setDeclaredAreas()) are constraints that come before the salience: a crop
 * keeps every area whole when its window can hold them all at once; otherwise it keeps the most
 * areas that fit into it together (of equal counts the set of more pixels, then the one whose
 * placement keeps more salience, then the earliest); an area too large for the window counts
 * with its core. The starts of the window that keep that set form a range, its freedom; the
 * maximizer places the window within it, and where it finds nothing there the crop is centred
 * within it (and not marked centred when the freedom is a single start). When no area fits into
 * the window, the crop is placed as without areas. A crop's areasKept counts the areas whole
 * inside it, and those too large for it whose core is whole inside it.
 */
class ZTCropPlanner
{
public:
    /**
     * The start of the most salient window of @p length map pixels along @p axis
     * (Qt::Horizontal: a column, Qt::Vertical: a row), or -1 when there is none.
     */
    using BestStart = std::function<int(Qt::Orientation axis, int length)>;

    /**
     * The start of the most salient window of @p length map pixels along @p axis among the
     * starts @p first ... @p last, or -1 when there is none.
     */
    using BestStartWithin
        = std::function<int(Qt::Orientation axis, int length, int first, int last)>;

    /** Both placements on one map. */
    struct Maximizer
    {
        BestStart start;
        BestStartWithin startWithin;
    };

    /**
     * Placement by the library's maximizers (ZTSalienzMaximizerHorizontal for columns,
     * ZTSalienzMaximizerVertical for rows) on @p map, with pixels weighed by @p method, from
     * running sums taken once for all crops of the map. start gives the same starts as their
     * startOfBestRange(). startWithin searches the same way among the starts first ... last only:
     * a strictly positive sum is needed, the earliest of equal sums wins, and a window flush with
     * an edge of the map is never a candidate, as in startOfBestRange(); the starts first and
     * last themselves are candidates unless they are such edges.
     */
    static Maximizer maximizer(const QImage& map, ZTSalienzPixelWeightMethod method);

    /**
     * @p profile sums the salience map, @p inputSize is the picture's size in the coordinates
     * that crops are reported in, @p bestStart places a window on the map.
     */
    ZTCropPlanner(const ZTSalienceProfile& profile, const QSize& inputSize, BestStart bestStart);

    /**
     * Declares @p areas that crops keep whole where they can, placed within their freedom by
     * @p startWithin. Each area and core is clipped to the picture; an area without a pixel in
     * it is left out, also from areasKept, and an empty core is the area itself.
     */
    void setDeclaredAreas(const QList<ZTDeclaredArea>& areas, BestStartWithin startWithin);

    /** The crop for @p request; a request without an aspect gives a null rect. */
    ZTCrop plan(const ZTCropRequest& request) const;

    /**
     * The salience-weighted centroid of the map as an input pixel, inside the picture; the
     * picture's centre when the map has no salience.
     */
    QPoint focalPoint() const;

    /**
     * The share of the map's salience that @p inputRect keeps, 0 ... 1: the map's columns (rows)
     * between its edges when it is narrower (lower) than the picture, otherwise all of it. Crops
     * always span the picture on one axis. 0 for a map without salience or an empty rect.
     */
    double salienceKept(const QRect& inputRect) const;

    /**
     * The largest size of aspect @p aspectWidth : @p aspectHeight (truncated to whole pixels, at
     * least one) that fits into @p picture. Invalid for an empty picture or a non-positive aspect.
     */
    static QSize largestWindow(const QSize& picture, int aspectWidth, int aspectHeight);

private:
    struct FreeAxis;
    struct Placement
    {
        int offset = 0;
        bool centred = true;
    };

    FreeAxis freeAxis(const QSize& window) const;
    Placement placeBySalience(const FreeAxis& axis) const;
    Placement placeAmongAreas(const FreeAxis& axis) const;
    Placement placeWithin(const FreeAxis& axis, int first, int last) const;
    QRect windowAt(const FreeAxis& axis, int offset) const;
    static QRect areaFor(const ZTDeclaredArea& area, const QSize& window);

    ZTSalienceProfile m_profile;
    ZTMapGeometry m_geometry;
    BestStart m_bestStart;
    BestStartWithin m_startWithin;
    QList<ZTDeclaredArea> m_areas; ///< clipped to the picture
    bool m_areasDeclared = false;
};

#endif // ZTCROPPLANNER_H
