#ifndef ZTCROPWARNINGS_H
#define ZTCROPWARNINGS_H

#include "types/ZTCrop.h"

#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>

class ZTCropWriter;

/**
 * Says how far a picture's crops can be trusted: the scale at which each is written, and short
 * warnings for crops that need a look before they are published.
 *
 * The warnings, in this order:
 * - "enlarged": the written picture is larger than the crop window along a side;
 * - "cuts-area": the crop holds part of a declared area (--area) but not all of it, although the
 *   area is no larger than the crop;
 * - "cuts-face": the same for a face found (the face's box, not the head around it);
 * - "weak": the crop keeps less than weakShare of the salience that the best crop of the same
 *   picture keeps.
 */
class ZTCropWarnings
{
public:
    /**
     * A crop is weak below this share of the best crop's salienceKept. Aspects differ in area,
     * so some difference is normal: on a 3:2 picture the 4:5 window has 63 % of the 16:9 one's
     * area, and salience placed by the map keeps more than area alone. A crop below half of
     * what another aspect keeps has lost at least half of the subject that the other found
     * room for.
     */
    static constexpr double weakShare = 0.5;

    static const QString enlarged;
    static const QString cutsArea;
    static const QString cutsFace;
    static const QString weak;

    /**
     * Sets each crop's written size and scale as @p writer makes it, and its warnings, given the
     * picture's declared @p areas and @p faces in input pixels (of a picture of @p pictureSize
     * pixels; areas are clipped to it). A crop with a null rect gets no warning.
     */
    static void assess(QList<ZTCrop>& crops, const ZTCropWriter& writer, const QSize& pictureSize,
        const QList<QRect>& areas, const QList<QRect>& faces);

    /**
     * Whether @p crop cuts @p area: holds part of it but not all, while @p area would fit into a
     * rect of @p crop's size. An empty area is never cut.
     */
    static bool cuts(const QRect& crop, const QRect& area);
};

#endif // ZTCROPWARNINGS_H
