#ifndef ZTCOLOURSPACE_P_H
#define ZTCOLOURSPACE_P_H

// The luma / colour-difference space shared by the histogram segmentation and the symmetric
// surround: Y = 0.587 G + 0.299 R + 0.114 B, Cr = (R - Y) 0.713 + 128, Cb = (B - Y) 0.564 + 128.
// Each user keeps its own order of operations. Not installed.

namespace ZTColourSpace {

constexpr double lumaRed = 0.299;
constexpr double lumaGreen = 0.587;
constexpr double lumaBlue = 0.114;
constexpr double redDifferenceScale = 0.713;
constexpr double blueDifferenceScale = 0.564;
constexpr double differenceOffset = 128.0;

} // namespace ZTColourSpace

#endif // ZTCOLOURSPACE_P_H
