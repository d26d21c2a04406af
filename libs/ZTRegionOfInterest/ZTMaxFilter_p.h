#ifndef ZTMAXFILTER_P_H
#define ZTMAXFILTER_P_H

// The cross maximum filter on a plane of salience bytes. Internal; not installed.

#include <QtGlobal>

#include <vector>

namespace ZTGreyMaxFilter {

/**
 * The cross maximum filter of ZTMaxFilter on an opaque grey map held as one byte per pixel:
 * out = the greatest of the pixel's own value and every value above @p threshold in its row or
 * column within @p half pixels. On such a map the winning pixel of ZTMaxFilter is the grey word
 * of that greatest value, whichever pixel it came from, so ties need no care here.
 *
 * @p plane and @p out hold width * height bytes, row by row; they may be the same buffer.
 * @p half must be at least 1. Each buffer is allocated once per call.
 */
void spread(const quint8* plane, quint8* out, int width, int height, int half, int threshold);

} // namespace ZTGreyMaxFilter

#endif // ZTMAXFILTER_P_H
