#ifndef ZTSALIENZCLUSTERER_H
#define ZTSALIENZCLUSTERER_H

#include "ZTRegionOfInterestExport.h"

#include <QImage>
#include <QSize>

/**
 * Scores the cells ("cubes") of a coarse grid laid over a salience map.
 *
 * Each cube is scored by the salience it holds against an even spread of the map's total
 * salience: a cube with exactly its share scores 128, and a cube whose bright pixels stand out
 * strongly saturates at 255. In cluster() the map's width is cut into countCubesV() columns and
 * its height into countCubesH() rows.
 */
class ZTREGIONOFINTEREST_EXPORT ZTSalienzClusterer
{
public:
    /** Both counts 10. */
    ZTSalienzClusterer();
    virtual ~ZTSalienzClusterer();

    /** Number of cube rows in cluster(); stored unchanged, values below 1 act as 1. */
    void setCountCubesH(int count);
    int countCubesH() const;

    /** Number of cube columns in cluster(); stored unchanged, values below 1 act as 1. */
    void setCountCubesV(int count);
    int countCubesV() const;

    /** QSize(countCubesH(), countCubesV()), as stored. */
    QSize countCubes() const;

    /**
     * The cube size for a map of @p size, pairing the counts with the other axis than cluster()
     * does: width size.height() / countCubesV(), height size.width() / countCubesH() (integer
     * divisions; counts below 1 act as 1). The two agree for square sizes only.
     */
    QSize cubeSize(const QSize& size) const;

    /**
     * The sum of the red components of all pixels of @p map; 0 for a null map. Saturates at
     * INT_MAX for maps whose total leaves the int range.
     */
    int totalSalience(const QImage& map) const;

    /**
     * The cube map of @p map: a Format_ARGB32 image of its size in which every pixel of a cube
     * holds that cube's score as an opaque grey, 0 ... 255.
     *
     * Cubes are W / countCubesV() pixels wide and H / countCubesH() high (at least one pixel);
     * when W or H is not a multiple of that, a narrower column or lower row of cubes covers the
     * rest of the map. A cube scores sum * 128 / expected, at most 255, where expected is the
     * total salience divided by the number of full cubes; when the mean excess of its pixels
     * above the map's mean is more than twice that mean, its sum is first multiplied by that
     * mean excess.
     *
     * A map whose total salience is below countCubesV() * countCubesH() (an all-black map, for
     * one) has an expectation of 0 and gives an all-black map. A null map gives a null image.
     * Maps of any depth are read through their 32-bit form.
     */
    QImage cluster(const QImage& map) const;

private:
    int m_countCubesH;
    int m_countCubesV;
};

#endif // ZTSALIENZCLUSTERER_H
