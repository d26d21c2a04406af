#ifndef ZTMAXFILTER_H
#define ZTMAXFILTER_H

#include "ZTAbstractROI.h"

/**
 * Cross-shaped maximum filter that widens the bright spots of a map: every pixel whose red
 * exceeds the threshold copies itself onto the pixels of its row and of its column, up to
 * size / 2 pixels away, wherever those are less red.
 *
 * Each result pixel is the input pixel with the greatest red among itself and every spreading
 * pixel in its row or column within size / 2. The comparisons are strict, so a pixel keeps its
 * own value on a tie, and among equally red spreading pixels the first in row-major order wins.
 * All four channels travel with the winner; only red is compared.
 */
class ZTREGIONOFINTEREST_EXPORT ZTMaxFilter : public ZTAbstractROI
{
public:
    /**
     * A filter whose cross is @p size pixels wide: each arm reaches size / 2 pixels (truncated
     * toward zero) to either side. Only pixels with a red strictly above @p threshold spread.
     * Any size below 2 (arms of length 0, or negative ones) and any threshold of 255 or more
     * leave every picture unchanged.
     */
    ZTMaxFilter(int size, int threshold);
    ~ZTMaxFilter() override;

    /**
     * The filtered copy of @p image, in its own format and size; a null image gives a null image.
     * Pixels are read as QImage::pixel reads them and written as QImage::setPixel writes them, so
     * a pixel copied within a Format_RGB32 image gets alpha 255. Opaque grey maps in
     * Format_RGB32, Format_ARGB32 or Format_ARGB32_Premultiplied (every salience map) take time
     * proportional to the pixel count times log2 of the arms' length, as rows and columns grow
     * their windows in vectorised doubling passes; other pictures are filtered pixel by pixel
     * along the arms, in time proportional to the pixel count times the arms' length. In an
     * indexed image a winning pixel's colour index is copied, and an index outside the colour
     * table reads as red 0.
     */
    QImage evaluate(const QImage& image) override;

private:
    int m_size;
    int m_threshold;
};

#endif // ZTMAXFILTER_H
