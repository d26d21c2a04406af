#ifndef ZTBLOCKHISTOGRAM_P_H
#define ZTBLOCKHISTOGRAM_P_H

// The arithmetic of the block histograms of ZTHistogram and ZTHistogramROI, on histograms kept
// sparse: most bins of a block hold no pixel. Not installed.

#include <QImage>

#include <cmath>
#include <vector>

namespace ZTBlockHistogram {

constexpr int channelLevels = 256; // the values of an 8-bit channel

/**
 * A histogram table as its entries whose bits are not all 0 (+0.0), in table order with their
 * bins (row * columns + column), and the value that every other entry holds.
 */
struct Sparse
{
    std::vector<size_t> bins;
    std::vector<double> values;
    double emptyValue = 0.0;
};

/**
 * ZTHistogram::normalizeHistogram() of the table that @p histogram stands for, whose left-out
 * entries are +0.0 (and absent if not @p anyEmpty): each entry e becomes (e - min) / (max - min),
 * the maximum starting at 0.0 and the minimum at 1000.0.
 */
void normalise(Sparse& histogram, bool anyEmpty);

/**
 * ZTHistogram::compareHistogram(): the sum of (a - b)^2 / a over the entries a of @p expected,
 * in table order, skipping those with |a| > 0 false (the left-out +0.0 entries among them), where
 * @p observedAt(bin) gives the entry b opposite bin.
 */
template<typename ObservedAt>
double chiSquare(const Sparse& expected, ObservedAt observedAt)
{
    double sum = 0.0;
    for (size_t i = 0; i < expected.bins.size(); ++i) {
        const double a = expected.values[i];
        if (std::fabs(a) > 0.0) {
            const double d = a - observedAt(expected.bins[i]);
            sum += d * d / a;
        }
    }
    return sum;
}

/** chiSquare() of two histograms of the same table shape. */
double chiSquare(const Sparse& expected, const Sparse& observed);

/**
 * Counts blocks of packed YCbCr words into a table of bins1 x bins2 whole numbers: Cb (bits 8-15)
 * picks the row (Cb * bins1) / 256, Cr (bits 0-7) the column (Cr * bins2) / 256.
 */
class Counter
{
public:
    /** Bin counts of at least 1. */
    Counter(int bins1, int bins2);

    /** Counts the pixels of @p block, a rectangle inside @p words (32-bit pixels). */
    void count(const QImage& words, const QRect& block);

    /**
     * Moves the counts into @p histogram (its empty value 0.0) and leaves the table empty for
     * the next block. Returns whether any bin is empty.
     */
    bool takeCounts(Sparse& histogram);

private:
    size_t m_rowStart[channelLevels];
    size_t m_column[channelLevels];
    size_t m_cells;
    // Even columns, then odd columns, so that runs of pixels in one bin do not wait for each
    // other's increments; signed, because they convert to double faster.
    std::vector<qint32> m_counts;
};

} // namespace ZTBlockHistogram

#endif // ZTBLOCKHISTOGRAM_P_H
