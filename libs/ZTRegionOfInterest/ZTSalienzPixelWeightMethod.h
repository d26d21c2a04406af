#ifndef ZTSALIENZPIXELWEIGHTMETHOD_H
#define ZTSALIENZPIXELWEIGHTMETHOD_H

/**
 * How the maximizers weigh the salience v (0 ... 255) of one pixel. Every value other than
 * SalienzPixelWeightThreshold behaves as SalienzPixelWeightLinear; the fixed underlying type
 * makes any int a valid value of the enumeration.
 */
enum ZTSalienzPixelWeightMethod : int {
    SalienzPixelWeightLinear = 0,   ///< every pixel counts v
    SalienzPixelWeightThreshold = 1 ///< only bright pixels count: v if v > 153, otherwise 0
};

#endif // ZTSALIENZPIXELWEIGHTMETHOD_H
