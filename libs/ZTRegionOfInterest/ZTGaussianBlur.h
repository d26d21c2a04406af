#ifndef ZTGAUSSIANBLUR_H
#define ZTGAUSSIANBLUR_H

#include "ZTAbstractROI.h"

#include <QVector>

/**
 * Two-pass Gaussian blur: one kernel of normalised weights applied along the rows, then in place
 * along the columns. The borders darken, because samples outside the picture are skipped while
 * every pass still divides by the full kernel sum.
 *
 * The kernel is fixed at construction; one blur can serve any number of pictures.
 */
class ZTREGIONOFINTEREST_EXPORT ZTGaussianBlur : public ZTAbstractROI
{
public:
    /**
     * A blur whose kernel has @p size weights, built by createGaussianKernel(size, sigma).
     * A size below 1 acts as 1 (a single weight 1.0: no blur); an even size is raised to the next
     * odd one (4 acts as 5, also when the sigma is derived from the size). The kernel holds one
     * double per weight, so its memory grows with the size.
     */
    ZTGaussianBlur(int size, double sigma);
    ~ZTGaussianBlur() override;

    /**
     * The @p size Gaussian weights about the middle of the kernel, scaled to sum to 1 up to
     * rounding. A @p sigma of 0, below 0 or NaN is derived from the size:
     * ((size - 1) * 0.5 - 1) * 0.3 + 0.8, which gives 0.8 for size 3 and 1.1 for size 5.
     * Returns an empty kernel for a size below 1. A sigma so small that its square underflows
     * gives an odd kernel weight 1 in the middle and 0 elsewhere; an even kernel has no middle
     * weight, and then every weight is NaN. Reads nothing of the object.
     */
    QVector<double> createGaussianKernel(int size, double sigma);

    /**
     * The blurred @p image in Format_ARGB32, of the same size, with alpha 255 everywhere; the
     * input's alpha is dropped. Any format is read as QImage::pixel reads it (indexed pixels
     * outside the colour table read as 0). Each channel is the weighted sum divided by the kernel
     * sum, truncated toward zero. Pixels within size / 2 of a border come out darker, and since
     * the column pass works in place from the top, each row is computed from the finished rows
     * above it. A null image gives a null image.
     */
    QImage evaluate(const QImage& image) override;

private:
    QVector<double> m_kernel;
};

#endif // ZTGAUSSIANBLUR_H
