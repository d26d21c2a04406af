#ifndef ZTSALIENZMIXER_H
#define ZTSALIENZMIXER_H

#include "ZTRegionOfInterestExport.h"
#include "ZTSalienzMethod.h"

#include <QImage>
#include <QList>
#include <QMap>
#include <QRect>
#include <QSize>

class ZTAbstractROI;
class ZTHistogramROI;

/**
 * Analyses a picture: scales it to the analysis size, lets every enabled salience method evaluate
 * it and mixes their maps by weight into one salience map.
 *
 * The mixer owns its methods and destroys them with itself; it is neither copied nor assigned.
 * Methods are visited in ascending ZTSalienzMethod order.
 *
 * A new mixer holds four methods, all enabled: Sobel edges (weight 20), the centre prior (2),
 * histogram segmentation (10, stored as -10) and the symmetric-surround contrast (10). Very
 * important areas join only through injectVeryImportantAreas().
 */
class ZTREGIONOFINTEREST_EXPORT ZTSalienzMixer
{
public:
    /**
     * @p size is the analysis size. An invalid size (negative width or height) analyses every
     * picture at its own size; an empty one (a width or height of 0) turns every picture into a
     * null work image, so analyze() returns its input.
     */
    explicit ZTSalienzMixer(const QSize& size);
    ~ZTSalienzMixer();

    /**
     * Sets the weight of the method under @p method. The weight of SalienzHistogram is stored
     * negated (10 is stored as -10), so its uniform areas lower the mixed salience. A key that
     * holds no method is ignored.
     */
    void setMethodWeight(ZTSalienzMethod method, int weight);

    /** The method under @p method, or null. The mixer keeps ownership. */
    ZTAbstractROI* roiMethod(ZTSalienzMethod method) const;

    /** The histogram segmentation method (never null); the mixer keeps ownership. */
    ZTHistogramROI* histogramROI() const;

    /**
     * Forwarders to the histogram segmentation method's setters; each value is passed on
     * unchanged and used from the next analysis on (see ZTHistogramROI for ranges and defaults).
     */
    void updateHistogramBinsChannel1(int bins);
    void updateHistogramBinsChannel2(int bins);
    void updateHistogramChiSquareThreshold(double threshold);
    void updateHistogramHorizontalBlocks(int blocks);
    void updateHistogramVerticalBlocks(int blocks);
    void updateHistogramMinWidth(double fraction);
    void updateHistogramMinHeight(double fraction);

    /**
     * Adds the very important areas @p rects, given in a picture of @p size, as an enabled method
     * of weight 20 under SalienzVeryImportantAreas. A method injected before is destroyed, and any
     * pointer to it from roiMethod() becomes invalid. The areas are drawn into the work image as
     * they are; pass rectangles in work-image coordinates and the work image's size, or the method
     * logs a warning on every analysis.
     */
    void injectVeryImportantAreas(const QList<QRect>& rects, const QSize& size);

    /** Enables or disables the method under @p method; a key without a method is ignored. */
    void setMethodEnabled(ZTSalienzMethod method, bool enabled);
    /** Whether the method under @p method is enabled; false for a key without a method. */
    bool isMethodEnabled(ZTSalienzMethod method) const;

    /**
     * The salience map of @p image at the work image's size. With no map (every method disabled,
     * a null picture or an empty analysis size) the input itself is returned; with one map that
     * map, unweighted; otherwise mix() of the maps, each paired with its own method's weight.
     */
    QImage analyze(const QImage& image);

    /**
     * The non-null maps of the enabled methods, in key order, for the work image: @p image scaled
     * to the analysis size (keeping its aspect ratio, without smoothing) and converted to
     * Format_ARGB32 unless it is Format_RGB32 or Format_ARGB32.
     */
    QList<QImage> gatherResults(const QImage& image) const;

    /** The stored weights of the enabled methods, in key order. */
    QList<int> gatherWeights() const;

    /**
     * Weighted mix: per pixel, the sum of red(map i) * weights[i], divided (truncating) by the
     * sum of the positive weights (1 if there is none), clamped to 0 ... 255, as an opaque grey
     * Format_ARGB32 map of the first map's size. A map smaller than the first contributes 0 where
     * it has no pixel, a map without a weight contributes nothing, and an empty list gives a null
     * image.
     */
    QImage mix(const QList<QImage>& maps, const QList<int>& weights);

private:
    Q_DISABLE_COPY(ZTSalienzMixer)

    struct WeightedMap
    {
        QImage map;
        int weight;
    };

    QImage workImage(const QImage& image) const;
    QList<WeightedMap> evaluateEnabled(const QImage& image) const;

    QMap<ZTSalienzMethod, ZTAbstractROI*> m_methods;
    QSize m_size;
};

#endif // ZTSALIENZMIXER_H
