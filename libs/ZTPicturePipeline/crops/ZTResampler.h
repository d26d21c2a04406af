#ifndef ZTRESAMPLER_H
#define ZTRESAMPLER_H

#include <QImage>
#include <QRectF>
#include <QSize>

/**
 * Scales a window of a picture to an exact size, one axis after the other.
 *
 * Along an axis that shrinks, every output pixel is the area average of the source pixels it
 * covers, fractions of pixels at its edges included, so fine patterns turn into their mean grey
 * instead of aliasing into coarse ones. Along an axis that grows (or keeps its length), output
 * pixels are interpolated linearly between the two nearest source pixel centres. Pixels outside
 * the window never contribute.
 *
 * The four bytes of a pixel are filtered independently: give premultiplied pixels for pictures
 * with transparency. The arithmetic is fixed point (weights in 1/65536, the rows between the two
 * passes in 1/256 of a level, products summed exactly and rounded once per pass), so results are
 * reproducible and within a level of the exact average, a flat area keeps its exact value however
 * much it shrinks, and a window of the output's size at whole-pixel coordinates is copied
 * unchanged.
 */
class ZTResampler
{
public:
    /**
     * @p window of @p image (in pixels, may be fractional; clipped to the image) scaled to exactly
     * @p size. @p image is Format_RGB32, Format_ARGB32 or Format_ARGB32_Premultiplied, and the
     * result has its format and colour space (no other metadata). A null image, an empty size,
     * a window outside the image, another format, or too little memory give a null image.
     */
    static QImage resample(const QImage& image, const QRectF& window, const QSize& size);
};

#endif // ZTRESAMPLER_H
