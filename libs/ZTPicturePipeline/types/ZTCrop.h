#ifndef ZTCROP_H
#define ZTCROP_H

#include "types/ZTCropRequest.h"

#include <QRect>

/** A planned crop in input coordinates. */
struct ZTCrop
{
    ZTCropRequest request;
    QRect rect;                ///< in pixels of the input picture (after EXIF orientation)
    double salienceKept = 0.0; ///< share of the map's total salience inside the crop, 0 ... 1
    bool centred = true;       ///< true when the salience did not place the crop (see plan())
    int areasKept = -1; ///< declared areas kept (see ZTCropPlanner); -1 when none are declared
};

#endif // ZTCROP_H
