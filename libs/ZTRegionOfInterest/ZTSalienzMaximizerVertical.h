#ifndef ZTSALIENZMAXIMIZERVERTICAL_H
#define ZTSALIENZMAXIMIZERVERTICAL_H

#include "ZTSalienzMaximizerAbstract.h"
#include "ZTSalienzPixelWeightMethod.h"

/**
 * Maximizer along the vertical axis: sums every row of a salience map, so startOfBestRange()
 * gives the start row of the most salient window of a given height.
 */
class ZTREGIONOFINTEREST_EXPORT ZTSalienzMaximizerVertical : public ZTSalienzMaximizerAbstract
{
public:
    /** Weighs pixels with @p method; any value other than SalienzPixelWeightThreshold is linear. */
    explicit ZTSalienzMaximizerVertical(ZTSalienzPixelWeightMethod method);
    ~ZTSalienzMaximizerVertical() override;

    /**
     * One entry per row, map.height() entries: entry y is the sum over all columns of
     * pixelFunction() of the red component at (x, y). A null map (QImage reports a width and
     * height of 0 for any image without rows or columns) gives an empty list. Maps of any depth
     * are read through their 32-bit form.
     */
    QList<qint64> sums(const QImage& map) const override;

    /**
     * The weight of salience @p value (0 ... 255): @p value itself, or with
     * SalienzPixelWeightThreshold @p value if it is above 153 and 0 otherwise.
     */
    int pixelFunction(int value) const;

private:
    ZTSalienzPixelWeightMethod m_pixelWeightMethod;
};

#endif // ZTSALIENZMAXIMIZERVERTICAL_H
