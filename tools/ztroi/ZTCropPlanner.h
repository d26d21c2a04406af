#ifndef ZTCROPPLANNER_H
#define ZTCROPPLANNER_H

#include "ZTMapGeometry.h"
#include "ZTSalienceProfile.h"

#include <ZTSalienzPixelWeightMethod.h>

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>

/** One --crop request: an aspect ratio ("16:9") or an output size ("1920x1080"). */
struct ZTCropRequest
{
    QString text;        ///< as the user wrote it
    int aspectWidth = 0; ///< the aspect, reduced to lowest terms
    int aspectHeight = 0;
    QSize outputSize; ///< the requested size for "WxH", invalid for "W:H"

    /** "W:H" with both reduced, e.g. "16:9" for "1920x1080". */
    QString aspectText() const;
};

/** A planned crop in input coordinates. */
struct ZTCrop
{
    ZTCropRequest request;
    QRect rect;                ///< in pixels of the input picture (after EXIF orientation)
    double salienceKept = 0.0; ///< share of the map's total salience inside the crop, 0 ... 1
    bool centred = true;       ///< true when the salience did not place the crop (see plan())
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
     * Placement by the library's maximizers (ZTSalienzMaximizerHorizontal for columns,
     * ZTSalienzMaximizerVertical for rows) on @p map, with pixels weighed by @p method: the same
     * starts as their startOfBestRange(), with the map's running sums taken once for all crops.
     */
    static BestStart maximizerStart(const QImage& map, ZTSalienzPixelWeightMethod method);

    /**
     * @p profile sums the salience map, @p inputSize is the picture's size in the coordinates
     * that crops are reported in, @p bestStart places a window on the map.
     */
    ZTCropPlanner(const ZTSalienceProfile& profile, const QSize& inputSize, BestStart bestStart);

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
    ZTSalienceProfile m_profile;
    ZTMapGeometry m_geometry;
    BestStart m_bestStart;
};

#endif // ZTCROPPLANNER_H
