#ifndef ZTSALIENZMAXIMIZERHORIZONTAL_H
#define ZTSALIENZMAXIMIZERHORIZONTAL_H

#include "ZTSalienzMaximizerAbstract.h"
#include "ZTSalienzPixelWeightMethod.h"

/**
 * Maximizer along the horizontal axis: sums every column of a salience map, so
 * startOfBestRange() gives the start column of the most salient window of a given width.
 */
class ZTREGIONOFINTEREST_EXPORT ZTSalienzMaximizerHorizontal : public ZTSalienzMaximizerAbstract
{
public:
    /** Weighs pixels with @p method; any value other than SalienzPixelWeightThreshold is linear. */
    explicit ZTSalienzMaximizerHorizontal(ZTSalienzPixelWeightMethod method);
    ~ZTSalienzMaximizerHorizontal() override;

    /**
     * One entry per column, map.width() entries: entry x is the sum over all rows of
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

#endif // ZTSALIENZMAXIMIZERHORIZONTAL_H
