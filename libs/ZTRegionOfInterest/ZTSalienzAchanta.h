#ifndef ZTSALIENZACHANTA_H
#define ZTSALIENZACHANTA_H

#include "ZTAbstractROI.h"
#include "ZTMaxFilter.h"

#include <QList>

/**
 * Colour-contrast salience: every pixel is rated by the squared distance between its colour,
 * smoothed by a 1-2-1 kernel, and the mean colour of its maximum symmetric surround (as far to
 * both sides as the nearer border, along each axis), in a luma / red-difference /
 * blue-difference space. The distances are stretched to 0 ... 255, and values above 150 spread
 * 45 pixels along their row and column (a ZTMaxFilter of size 90, threshold 150).
 *
 * A plane is a list of width x height values in row-major order (pixel (x, y) at
 * y * width + x); a summed-area table is a list of height rows of width values.
 */
class ZTREGIONOFINTEREST_EXPORT ZTSalienzAchanta : public ZTAbstractROI
{
public:
    ZTSalienzAchanta();
    ~ZTSalienzAchanta() override;

    /**
     * The colour-contrast map of @p image: an opaque grey Format_ARGB32 map of its size.
     * Format_RGB32, Format_ARGB32 and Format_ARGB32_Premultiplied words are read as they are
     * (alpha ignored); other formats are converted with adjustFormat() first. A picture whose
     * distances spread by less than 1 (a uniform one) gives a black map; a null image gives a
     * null map. While it runs it holds a width x height plane of doubles with the stretched map
     * (12 bytes per pixel), then the map with the filter's buffers, and a few rows of work memory.
     */
    QImage evaluate(const QImage& image) override;

    /** A list of @p count zeros; empty for a count below 1. */
    QList<double> createZeroedList(int count) const;

    /** @p height rows of createZeroedList(@p width); empty for a height below 1. */
    QList<QList<double>> createZeroed2dList(int width, int height) const;

    /**
     * Smooths the @p width x @p height plane @p input into @p output, first along the rows, then
     * along the columns, with @p kernel centred on each pixel (arms of kernel length / 2). Each
     * pass divides by the sum of the weights that fall inside the plane, so a constant plane
     * stays constant up to rounding. @p output must already hold width x height values; all of
     * them are overwritten. An even kernel's last weight lies past the arms and is not used.
     * With an empty kernel, a width or height below 1, or planes shorter than width x height,
     * @p output is left unchanged.
     */
    void gaussianSmooth(const QList<double>& input, int width, int height,
        const QList<double>& kernel, QList<double>& output);

    /**
     * Fills @p table with the summed-area table of the @p width x @p height @p plane: entry
     * [y][x] is the sum over the rectangle from (0, 0) to (x, y). The table must already have
     * @p height rows of @p width values; otherwise, or for a plane shorter than width x height,
     * it is left unchanged.
     */
    void integralImage(
        const QList<double>& plane, int width, int height, QList<QList<double>>& table);

    /**
     * The sum of the plane over the rectangle from (@p x1, @p y1) to (@p x2, @p y2) inclusive,
     * from four entries of its summed-area @p table; x1 or y1 of 0 or below take the rectangle
     * from the table's edge. Returns 0 when an entry it needs lies outside the table.
     */
    double integralSum(const QList<QList<double>>& table, int x1, int y1, int x2, int y2);

private:
    ZTMaxFilter m_maxFilter;
};

#endif // ZTSALIENZACHANTA_H
