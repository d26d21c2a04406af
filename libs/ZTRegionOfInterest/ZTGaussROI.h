#ifndef ZTGAUSSROI_H
#define ZTGAUSSROI_H

#include "ZTAbstractROI.h"

/**
 * Centre prior: a round Gaussian bump of fixed width (sigma 130 pixels, peak 255) centred on the
 * picture, independent of its content. The centre lies at (width / 2, height / 2) in pixel
 * indices, so a 1x1 picture gives 254 and a 640x480 picture 255 at (320, 240).
 */
class ZTREGIONOFINTEREST_EXPORT ZTGaussROI : public ZTAbstractROI
{
public:
    ZTGaussROI();
    ~ZTGaussROI() override;

    /** The prior for a picture of @p image's size; a null image gives a null map. */
    QImage evaluate(const QImage& image) override;
};

#endif // ZTGAUSSROI_H
