#ifndef ZTCROPPLANNER_H
#define ZTCROPPLANNER_H

#include <ZTSalienzCropPlanner.h>
#include <ZTSalienzPixelWeightMethod.h>

#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

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
    bool centred = true;       ///< true when the salience did not place the crop
    int areasKept = -1; ///< declared areas kept (see ZTSalienzCropPlanner); -1 when none declared
};

/**
 * ztroi's crops: ZTSalienzCropPlanner planning the requests of the command line, with each crop
 * reported along with its request.
 */
class ZTCropPlanner
{
public:
    /**
     * For a picture of @p inputSize pixels (after EXIF orientation) whose salience map is
     * @p map, placed with pixels weighed by @p method (see ZTSalienzCropPlanner).
     */
    ZTCropPlanner(const QImage& map, const QSize& inputSize, ZTSalienzPixelWeightMethod method);

    /** Declares @p areas that crops keep whole where they can; areasKept counts from now on. */
    void setDeclaredAreas(const QList<ZTDeclaredArea>& areas);

    /** The crop for @p request; a request without an aspect gives a null rect. */
    ZTCrop plan(const ZTCropRequest& request) const;

    /** The map's focal point in input pixels (see ZTSalienzCropPlanner::focalPoint()). */
    QPoint focalPoint() const;

private:
    ZTSalienzCropPlanner m_planner;
};

#endif // ZTCROPPLANNER_H
