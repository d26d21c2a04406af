#ifndef ZTCROP_H
#define ZTCROP_H

#include "types/ZTCropRequest.h"

#include <QRect>
#include <QSize>
#include <QStringList>

/** A planned crop in input coordinates. */
struct ZTCrop
{
    ZTCropRequest request;
    QRect rect;                ///< in pixels of the input picture (after EXIF orientation)
    double salienceKept = 0.0; ///< share of the map's total salience inside the crop, 0 ... 1
    bool centred = true;       ///< true when the salience did not place the crop (see plan())
    int areasKept = -1; ///< declared areas kept (see ZTCropPlanner); -1 when none are declared
    /** Written size over the crop's size: below 1 when the file is reduced, above 1 when it is
     *  enlarged; 1 until a file is planned (ZTCropWarnings::assess()). */
    double scale = 1.0;
    /** The crop's picture as --write-crops writes it (or would); invalid until planned. */
    QSize writtenSize {};
    /** Why the crop may not be good enough to publish, as short stable words
     *  (ZTCropWarnings: "enlarged", "cuts-face", ...); empty when nothing is wrong. */
    QStringList warnings {};
};

#endif // ZTCROP_H
