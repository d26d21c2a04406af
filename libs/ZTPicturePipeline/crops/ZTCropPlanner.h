#ifndef ZTCROPPLANNER_H
#define ZTCROPPLANNER_H

#include "types/ZTCrop.h"
#include "types/ZTCropRequest.h"
#include "types/ZTDeclaredArea.h"

#include <ZTSalienzCropPlanner.h>
#include <ZTSalienzPixelWeightMethod.h>

#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

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
