#ifndef ZTOVERLAYPAINTER_H
#define ZTOVERLAYPAINTER_H

#include "types/ZTCrop.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QSize>
#include <QString>

/**
 * Draws the overlay picture: the photograph in dimmed grey, with its salience laid over it as
 * heat (dark red through yellow to white at the map's most salient spot), every crop as a
 * coloured rectangle and the focal point as a ring. No text is drawn, so no fonts are needed.
 */
class ZTOverlayPainter
{
public:
    /** Overlays are at most this many pixels on their long side. */
    static constexpr int maxSide = 1600;

    /**
     * The overlay of @p photo (any size, e.g. a reduced decode) with the salience @p map. Crops
     * and @p focus are in coordinates of a picture of @p inputSize. A null photo or map gives a
     * null image.
     */
    static QImage paint(const QImage& photo, const QImage& map, const QSize& inputSize,
        const QList<ZTCrop>& crops, const QPoint& focus);

    /** The colour of the crop at @p index in the overlay; colours repeat after six crops. */
    static QColor cropColour(int index);
    /** A plain name of cropColour(@p index), such as "cyan". */
    static QString cropColourName(int index);
};

#endif // ZTOVERLAYPAINTER_H
