#ifndef ZTHISTOGRAM_H
#define ZTHISTOGRAM_H

#include "ZTRegionOfInterestExport.h"

#include <QImage>

#include <vector>

/**
 * Two-dimensional chroma histogram of one image block.
 *
 * The block holds packed YCbCr words (0xFF, Y, Cb, Cr in the alpha, red, green and blue bytes, as
 * ZTHistogramROI::convertToYcbcr() makes them). The histogram counts Cb (channel 1, table rows)
 * against Cr (channel 2, table columns); luma plays no part. A channel value v falls into bin
 * (v * bins) / 256, so with 32 bins each bin covers 8 consecutive levels.
 *
 * The histogram owns its table; copies are deep and independent.
 */
class ZTREGIONOFINTEREST_EXPORT ZTHistogram
{
public:
    /** An empty placeholder: no table, both bin counts 0. Meant to be assigned a built one. */
    ZTHistogram();

    /**
     * Builds a @p bins1 x @p bins2 table and counts the pixels of @p block, row by row: the entry
     * in row (Cb * bins1) / 256 and column (Cr * bins2) / 256 grows by 1.0 per pixel. Counts are
     * not divided by the block's area. A null block gives a table of zeros.
     *
     * A bin count of 0 is treated as 1. A negative bin count throws std::bad_array_new_length; a
     * table too large to address throws std::bad_alloc. A block without 32 bits per pixel is
     * converted to Format_ARGB32 before it is counted.
     */
    ZTHistogram(const QImage& block, int bins1, int bins2);

    /**
     * Min-max normalisation in place: every entry e becomes (e - min) / (max - min), where the
     * maximum starts at 0.0 and the minimum at 1000.0, so a table whose counts all exceed 1000
     * does not reach 0.0. Usually the fullest bin becomes 1.0 and empty bins 0.0. A flat table
     * (maximum equal to minimum, as for an empty block or a one-bin histogram of at most 1000
     * pixels) divides zero by zero: every entry becomes NaN. Does nothing on a placeholder.
     */
    void normalizeHistogram();

    /**
     * The entry in row @p y (channel-1 bin) and column @p x (channel-2 bin); 0.0 for indices
     * outside the table and for a placeholder.
     */
    double getHistogramValue(int x, int y);

    /**
     * Pearson's chi-square distance with this histogram as the expected distribution: the sum of
     * (a - b)^2 / a over the entries a of this table and b of @p other at the same position, in
     * row-major order, skipping entries with a = 0 (and NaN entries of this table). Asymmetric:
     * a bin that is empty here adds nothing, however full @p other is there. NaN entries of
     * @p other opposite a non-zero entry make the distance NaN.
     *
     * @p other is not taken over; it is expected to have at least this histogram's bin counts.
     * Entries it lacks, and every entry of a null @p other, count as 0.0. A placeholder gives 0.0.
     */
    double compareHistogram(ZTHistogram* other);

private:
    std::vector<double> m_table; // row-major, m_bins1 rows of m_bins2 entries
    int m_bins1;
    int m_bins2;
};

#endif // ZTHISTOGRAM_H
