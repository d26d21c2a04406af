#ifndef ZTABSTRACTROI_H
#define ZTABSTRACTROI_H

#include "ZTRegionOfInterestExport.h"

#include <QImage>

/**
 * Base of every salience method and image filter.
 *
 * A salience map is a QImage::Format_ARGB32 image of the evaluated image's size in which every
 * pixel is an opaque grey qRgb(v, v, v); v, from 0 (not salient) to 255 (most salient), is read
 * from the red component. The enabled flag and the weight are read by ZTSalienzMixer only;
 * evaluate() neither reads nor changes them.
 */
class ZTREGIONOFINTEREST_EXPORT ZTAbstractROI
{
public:
    /** Enabled, weight 0. */
    ZTAbstractROI();
    virtual ~ZTAbstractROI();

    /**
     * Returns the salience map of @p image: same size, Format_ARGB32, opaque grey pixels.
     * The input is never modified; a null input gives a null map.
     */
    virtual QImage evaluate(const QImage& image) = 0;

    /** A new, uninitialised Format_ARGB32 image of @p image's size; null for a null image. */
    QImage createTargetImage(const QImage& image) const;

    /**
     * @p image itself (sharing its data) when it is Format_ARGB32, otherwise a copy converted to
     * Format_ARGB32 with the default conversion flags.
     */
    QImage adjustFormat(const QImage& image) const;

    void setEnabled(bool enabled);
    bool isEnabled() const;

    /** Stored unchanged, negative values included. */
    void setWeight(int weight);
    int weight() const;

private:
    bool m_enabled;
    int m_weight;
};

#endif // ZTABSTRACTROI_H
