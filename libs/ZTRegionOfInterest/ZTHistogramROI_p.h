#ifndef ZTHISTOGRAMROI_P_H
#define ZTHISTOGRAMROI_P_H

// Internals of ZTHistogramROI, shared with its tests so that both compiled variants of the
// chroma conversion can be compared with ZTHistogramROI::RGB2YCrCb(). Not installed.

#include "ZTRegionOfInterestExport.h"
#include "ZTSimd_p.h"

#include <QImage>

namespace ZTBlockHistograms {

/**
 * The chroma values of @p count 0xAARRGGBB @p pixels, as ZTHistogramROI::RGB2YCrCb() computes
 * them before it keeps their low 8 bits: Cb into @p cb, Cr into @p cr, truncated toward zero.
 * @p level picks the compiled variant of the loop (both give the same values).
 */
ZTREGIONOFINTEREST_EXPORT void chroma(
    const QRgb* pixels, int count, qint32* cb, qint32* cr, ZTSimd::Level level);

} // namespace ZTBlockHistograms

#endif // ZTHISTOGRAMROI_P_H
