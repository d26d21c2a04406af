#ifndef ZTSOBELROI_H
#define ZTSOBELROI_H

#include "ZTAbstractROI.h"

#include <array>

/**
 * Edge salience: the picture is blurred (ZTGaussianBlur, size 3, sigma 2.6), convolved with a
 * horizontal-edge and a vertical-edge Sobel kernel, the two responses are joined into a gradient
 * magnitude, and magnitudes above 50 spread three pixels along their row and column
 * (ZTMaxFilter, size 7, threshold 50).
 *
 * The object holds the 3x3 kernel that convolute() applies; evaluate() configures it itself, so
 * one object must not be evaluated from two threads at once.
 */
class ZTREGIONOFINTEREST_EXPORT ZTSobelROI : public ZTAbstractROI
{
public:
    /** Configures the horizontal-edge kernel. */
    ZTSobelROI();
    ~ZTSobelROI() override;

    /**
     * The edge salience map of @p image, any format: an opaque grey Format_ARGB32 map of its
     * size. Leaves the vertical-edge kernel configured. A picture less than 3 pixels wide or high
     * has no edges: its map is black. A null image gives a null map.
     */
    QImage evaluate(const QImage& image) override;

    /**
     * The response of @p image to the configured kernel: @p image is converted to Format_ARGB32,
     * and each interior pixel gets v = (|red sum| + |green sum| + |blue sum|) / 12 (truncated) in
     * its three colour channels, with its own alpha. The outer rows, then the outer columns, copy
     * their inner neighbours, so a corner takes the interior pixel diagonally next to it. A
     * picture less than 3 pixels wide or high has no interior: every pixel is opaque black.
     * A null image gives a null image.
     */
    virtual QImage convolute(const QImage& image) const;

    /** Sets the horizontal-edge kernel 1, 2, 1 / 0, 0, 0 / -1, -2, -1 (rows from the top). */
    void configureSobelH();
    /** Sets the vertical-edge kernel 1, 0, -1 / 2, 0, -2 / 1, 0, -1 (rows from the top). */
    void configureSobelV();

    /** The sum of the absolute kernel entries: 8 for either Sobel kernel. */
    int totalWeight() const;

    /**
     * Gradient magnitude of two responses: per pixel m = sqrt(a * a + b * b) truncated, with a
     * the red of @p first and b the red of @p second at the same position, stored with the alpha
     * of @p first in all three colour channels. A magnitude above 255 (up to 360) is stored as 255.
     * The result has the size of @p first and its format if that holds 32-bit pixels; otherwise
     * both arguments are read through a Format_ARGB32 copy and the result is Format_ARGB32. Where
     * @p second has no pixel, b is 0. Reads nothing of the object.
     */
    QImage combine(const QImage& first, const QImage& second);

private:
    // Entry 3 * i + j weighs the pixel in row y - 1 + i and column x - 1 + j.
    std::array<int, 9> m_kernel;
};

#endif // ZTSOBELROI_H
