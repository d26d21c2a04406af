#ifndef ZTSALIENZCROPPLANNER_H
#define ZTSALIENZCROPPLANNER_H

#include "ZTRegionOfInterestExport.h"
#include "ZTSalienzPixelWeightMethod.h"

#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <memory>

/**
 * Plans crops of a picture from its salience map (ZTSalienzMixer::analyze()): for each requested
 * aspect the crop rectangle in picture pixels, the share of the salience it keeps, and the
 * picture's focal point.
 *
 * For each aspect the crop is the largest window of exactly that aspect that fits the picture
 * (largestWindow()). It moves along the axis of which it leaves the larger share free (the free
 * axis); across it, it spans the picture or, where the exact aspect leaves a few pixels over, is
 * centred in them. Its position on the free axis is the start of the most salient window of the
 * same length on the map, found by ZTSalienzMaximizerHorizontal (columns) or
 * ZTSalienzMaximizerVertical (rows) with the given pixel weighing, and converted back to picture
 * pixels, rounded to the nearest. The crop is centred instead when the window fills the free axis
 * on the map, when the maximizer finds no window (too little room, or no salience), and when the
 * aspect is the picture's exactly.
 *
 * Declared areas (setDeclaredAreas()) come before the salience: a crop keeps every area whole when
 * its window can hold them all at once; otherwise it keeps the most areas that fit into it
 * together (of equal counts the set of more pixels, then the one whose placement keeps more
 * salience, then the earliest); an area too large for the window counts with its core. The starts
 * of the window that keep that set form a range; the maximizer places the window within it, and
 * where it finds nothing there the crop is centred within it (and not marked centred when the
 * range is a single start). When no area fits into the window, the crop is placed as without
 * areas.
 *
 * The map and the picture may differ in size and in proportion; the map is read once, when the
 * planner is made. Planners are values: copies are independent, a const planner may be used from
 * several threads at once, and a planner moved from may only be assigned to or destroyed.
 */
class ZTREGIONOFINTEREST_EXPORT ZTSalienzCropPlanner
{
public:
    /**
     * An area that crops keep whole where they can, in picture pixels, e.g. a head. Where a
     * crop's window is too small for it, the crop keeps its core whole instead (for a head: the
     * face); a null or empty core is the area itself.
     */
    struct DeclaredArea
    {
        QRect rect;
        QRect core;
    };

    /** A planned crop. */
    struct Crop
    {
        /**
         * In picture pixels, inside the picture and spanning it along one axis; null for an
         * empty picture or an aspect that is not positive.
         */
        QRect rect;
        /** The share of the map's salience inside the crop, 0 ... 1 (see salienceKept()). */
        double salienceKept = 0.0;
        /**
         * The declared areas whole inside the crop, those too large for it counted when their
         * core is; -1 while no areas are declared (setDeclaredAreas() not called).
         */
        int areasKept = -1;
        /** True when the salience did not place the crop (see the class description). */
        bool centred = true;
    };

    /**
     * A planner for a picture of @p pictureSize pixels whose salience map is @p salienceMap: the
     * red component of each pixel (0 ... 255) is its salience; maps of any depth are read. The
     * maximizers weigh the pixels by @p method; salienceKept() and focalPoint() count every
     * pixel linearly. A null or black map centres every crop and keeps 0 of the salience.
     */
    ZTSalienzCropPlanner(const QImage& salienceMap, const QSize& pictureSize,
        ZTSalienzPixelWeightMethod method = SalienzPixelWeightLinear);
    ZTSalienzCropPlanner(const ZTSalienzCropPlanner& other);
    ZTSalienzCropPlanner(ZTSalienzCropPlanner&& other) noexcept;
    ZTSalienzCropPlanner& operator=(const ZTSalienzCropPlanner& other);
    ZTSalienzCropPlanner& operator=(ZTSalienzCropPlanner&& other) noexcept;
    ~ZTSalienzCropPlanner();

    /** The picture's size that crops are planned for. */
    QSize pictureSize() const;

    /**
     * Declares @p areas that crops keep whole where they can, replacing those declared before.
     * Each area and core is clipped to the picture; an area without a pixel inside the picture
     * is left out, also from Crop::areasKept. From this call on Crop::areasKept counts, even for
     * an empty list (then 0).
     */
    void setDeclaredAreas(const QList<DeclaredArea>& areas);

    /**
     * The crop of aspect @p aspectWidth : @p aspectHeight, e.g. 16 : 9; both must be positive,
     * otherwise the crop's rect is null (and it keeps nothing).
     */
    Crop cropForAspect(int aspectWidth, int aspectHeight) const;

    /**
     * The crop for an output of @p outputSize pixels, e.g. 1080 x 1350: the crop of that size's
     * aspect, which a host then scales to @p outputSize. An empty size gives a null rect.
     */
    Crop cropForSize(const QSize& outputSize) const;

    /**
     * The salience-weighted centroid of the map's pixel centres, in picture pixels and inside the
     * picture; the picture's centre when the map has no salience, (0, 0) for an empty picture or
     * a null map.
     */
    QPoint focalPoint() const;

    /**
     * The share of the map's salience that @p pictureRect keeps, 0 ... 1, counted along one
     * axis as crops move: the map's columns (rows) between the rect's edges converted to the map,
     * rounded to the nearest, when the rect leaves out a larger share of the picture's width
     * (height) than of its height (width) (of equal shares, the columns); all of it for a rect
     * as large as the picture. 0 for a map without salience or an empty rect.
     */
    double salienceKept(const QRect& pictureRect) const;

    /**
     * The largest size of exactly the aspect @p aspectWidth : @p aspectHeight that fits into
     * @p picture: with the aspect reduced to a : b, the size k * a x k * b for the largest whole
     * k that fits, when a x b itself fits. An output size therefore gives the same window as its
     * reduced aspect. Otherwise (a picture smaller than a x b on a side, as 10000 : 1 on a
     * picture 5000 pixels wide) the window spans the picture along one side and its other side
     * is rounded to the nearest whole pixel, but at least one (5000 x 1).
     * Invalid for an empty picture or an aspect that is not positive.
     */
    static QSize largestWindow(const QSize& picture, int aspectWidth, int aspectHeight);

private:
    class Private;
    std::unique_ptr<Private> d;
};

#endif // ZTSALIENZCROPPLANNER_H
