#ifndef BENCHPICTURES_H
#define BENCHPICTURES_H

#include <QImage>
#include <QSize>

namespace BenchPictures {

/** The bundled photograph scaled (smoothly) to @p size, as Format_ARGB32. */
QImage photo(const QSize& size);

/**
 * A picture full of strong colour contrast: small blocks of saturated random colours, so that
 * edge and contrast maps have many pixels above the maximum filters' thresholds.
 */
QImage contrast(const QSize& size);

/** A salience map of the photograph at @p size (the mixer's result), for the post-analysis. */
QImage salienceMap(const QSize& size);

/** The analysis sizes that the method benchmarks run at, by index. */
QSize analysisSize(int index);

} // namespace BenchPictures

#endif // BENCHPICTURES_H
