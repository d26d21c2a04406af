#ifndef ZTHISTOGRAMROI_H
#define ZTHISTOGRAMROI_H

#include "ZTAbstractROI.h"

/**
 * Histogram segmentation salience: marks large areas of uniform colour.
 *
 * The image is cut into a grid of equal blocks (block width = image width / horizontal blocks,
 * block height = image height / vertical blocks; pixels right of and below the last whole block
 * belong to none). Every block is described by a normalised Cb x Cr histogram (ZTHistogram);
 * neighbouring blocks (8-connected) whose chi-square distance is at most the threshold are
 * joined into segments. Every block of a segment whose height span exceeds vertical blocks *
 * minimum height, or whose width span exceeds horizontal blocks * minimum width (spans in
 * blocks: largest minus smallest row or column), is painted grey w * h - 1 (clamped to
 * 0 ... 255). Everything else stays black. Brightness plays no part.
 *
 * Defaults: threshold 0.67, 11 x 15 blocks, minimum height 0.25, minimum width 0.5, 32 x 32
 * bins. With them a 150 x 110 picture of one colour becomes grey 139 all over.
 *
 * Limits: a block count below 1 gives a black map; there is no upper limit on the grid, but a
 * grid finer than the image (a block count above the image's width or height) leaves every
 * block empty and the map black. Bin counts of 0 count as 1; a negative bin count makes
 * evaluate() throw std::bad_array_new_length.
 */
class ZTREGIONOFINTEREST_EXPORT ZTHistogramROI : public ZTAbstractROI
{
public:
    /** Enabled, weight 0, and the defaults above. */
    ZTHistogramROI();
    ~ZTHistogramROI() override;

    /**
     * The segmentation map of @p image: Format_ARGB32, @p image's size, opaque grey. A null
     * image gives a null map. An image without 32-bit 0xAARRGGBB pixels (Format_RGB32,
     * Format_ARGB32, Format_ARGB32_Premultiplied) is converted to Format_ARGB32 first.
     *
     * Throws std::bad_array_new_length for a negative bin count when the image is not null and
     * both block counts are at least 1; allocation failures propagate as std::bad_alloc.
     */
    QImage evaluate(const QImage& image) override;

    /** Largest edge weight across which two blocks are joined; NaN joins nothing. */
    void setChiSquareThreshold(double threshold);
    /** Number of block rows. */
    void setVerticalBlocks(int blocks);
    /** Number of block columns. */
    void setHorizontalBlocks(int blocks);
    /** Fraction of the block rows that a segment's height span must exceed to be painted. */
    void setMinHeight(double fraction);
    /** Fraction of the block columns that a segment's width span must exceed to be painted. */
    void setMinWidth(double fraction);
    /** Number of Cb (channel 1) bins of the block histograms. */
    void setBin1(int bins);
    /** Number of Cr (channel 2) bins of the block histograms. */
    void setBin2(int bins);

    /**
     * Fills the block in column @p x and row @p y of @p target (the rectangle at
     * (x * blockWidth, y * blockHeight) of size blockWidth x blockHeight, clipped to the image)
     * with opaque grey: @p value truncated toward zero and clamped to 0 ... 255 (NaN gives 0).
     * A block size below 1 paints nothing. Targets of Format_Indexed8 are left alone; other
     * non-32-bit targets are painted with QPainter.
     */
    void drawTarget(
        int x, int y, double value, QImage& target, int blockWidth, int blockHeight) const;

    /**
     * Converts the 0xAARRGGBB pixel @p rgb to a packed YCbCr word 0xFF, Y, Cb, Cr (alpha, red,
     * green, blue bytes): Y = 0.587 G + 0.299 R + 0.114 B, Cr = (R - Y) 0.713 + 128,
     * Cb = (B - Y) 0.564 + 128, each truncated toward zero. Alpha is ignored. A grey pixel gives
     * Cb = Cr = 128 and a luma of v or v - 1 (pure red gives 76, 84, 255).
     */
    unsigned int RGB2YCrCb(const unsigned int& rgb) const;

    /**
     * A new Format_ARGB32 image of @p source's size holding RGB2YCrCb() of every pixel of
     * @p source that lies within @p frame's width and height; pixels outside @p frame are 0.
     * @p frame supplies only that extent. A @p source without 32-bit 0xAARRGGBB pixels is
     * converted to Format_ARGB32 first. A null @p source gives a null image.
     */
    QImage convertToYcbcr(QImage frame, const QImage& source) const;

private:
    double m_chiSquareThreshold;
    int m_verticalBlocks;
    int m_horizontalBlocks;
    double m_minHeight;
    double m_minWidth;
    int m_bin1;
    int m_bin2;
};

#endif // ZTHISTOGRAMROI_H
