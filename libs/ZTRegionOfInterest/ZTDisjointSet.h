#ifndef ZTDISJOINTSET_H
#define ZTDISJOINTSET_H

#include "ZTDisjointElement.h"
#include "ZTRegionOfInterestExport.h"

#include <QMap>
#include <QPoint>
#include <QVector>

#include <map>
#include <vector>

/** A point in cell units: x to the right, y downward. */
struct centroid
{
    float x;
    float y;
};

/**
 * Box and centroid of one segment, in cell corner coordinates: the cell in column x and row y is
 * the unit square from (x, y) to (x + 1, y + 1).
 */
struct segment
{
    /** Smallest column of the segment's cells. */
    int left;
    /** Smallest row of the segment's cells. */
    int top;
    /** Far corner: largest column + 1. */
    int right;
    /** Far corner: largest row + 1. */
    int bottom;
    /** Area centroid of the segment (see ZTDisjointSet::getSegmentInformations()). */
    centroid center;
};

/**
 * Union-find forest over the cells of a grid of @c height rows and @c width columns, with union
 * by rank. A cell is named by its index, row * width + column; a set (a segment) is named by the
 * index of its root.
 *
 * Indices outside 0 ... height * width - 1 are ignored by every member (see each one). The
 * statistics members re-link every cell to its root through find(); the segments and their roots
 * stay as they are.
 */
class ZTREGIONOFINTEREST_EXPORT ZTDisjointSet
{
public:
    /**
     * A grid of @p height rows and @p width columns, every cell a set of its own: rank 0, size 1,
     * its own parent. The count is height * width; when that product is below 1 (a count of 0 or
     * a negative count) the set has no elements. A product beyond the int range makes an empty
     * grid: height, width and count 0.
     */
    ZTDisjointSet(int height, int width);

    /** Number of disjoint sets: height * width at first, one less after every join. */
    int getCount();

    /**
     * The size field of element @p i, without find(): the number of cells of its set while @p i
     * is a root, otherwise the size its tree had when it was attached. 0 for an index outside
     * the grid.
     */
    int size(int i);

    /**
     * The root of the set that holds cell @p i, or -1 for an index outside the grid. Re-links
     * @p i itself to the root; the elements passed on the way keep their parents.
     */
    int find(int i);

    /**
     * Merges the sets whose roots are @p a and @p b (union by rank, the higher rank becomes the
     * root; on equal ranks @p b does and its rank grows by one) and lowers the count by one.
     * Does nothing unless @p a and @p b are two different roots inside the grid.
     */
    void join(int a, int b);

    /**
     * The bounding box of every segment, keyed by its root in ascending order: left column, top
     * row, right column and bottom row, all inclusive cell positions (a one-cell segment at
     * (x, y) gives [x, y, x, y]). Empty for a grid without rows or columns.
     */
    QMap<int, QVector<int>> getSegmentSizes();

    /**
     * Box and centroid of every segment, keyed by its root in ascending order. right and bottom
     * are the far corner of the box (largest column + 1, largest row + 1). The centroid of a
     * segment of one to three cells is the mean of its cells' centres, summed in float; of four
     * or more cells, calculateCentroid() of the convex hull of the cells' top-left and
     * bottom-right corners. Cells that lie on one line from top-left to bottom-right make a
     * hull of zero area and a NaN centroid. Empty for a grid without rows or columns.
     */
    std::map<int, segment> getSegmentInformations();

    /**
     * Convex hull of @p points by the monotone chain: a closed polygon that starts at the
     * smallest point (smallest x, then smallest y), ends with it again and runs clockwise as
     * drawn on an image. Points on a hull edge and duplicates are dropped. No points give an
     * empty hull, one point itself; collinear points give [first, last, first].
     */
    std::vector<QPoint> convex_hull(std::vector<QPoint> points);

    /**
     * Area centroid of the polygon whose vertices @p polygon holds in order, closed from the
     * last vertex back to the first (a repeated first vertex at the end changes nothing). The
     * signed area is summed in double, the two moments in float. A polygon of zero area gives
     * NaN coordinates. An empty or null @p polygon throws std::out_of_range. The caller keeps
     * ownership of @p polygon, which is not changed.
     */
    centroid calculateCentroid(std::vector<QPoint>* polygon);

    /**
     * (a - o) x (b - o): (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x). Positive when
     * o, a, b turn clockwise as drawn on an image (y down), 0 when they lie on one line. Wraps
     * modulo 2^32 like int arithmetic instead of overflowing.
     */
    int cross(QPoint o, QPoint a, QPoint b);

private:
    bool contains(int i) const;
    bool isEmptyGrid() const;

    QVector<ZTDisjointElement> m_elements;
    int m_height;
    int m_width;
    int m_count;
};

#endif // ZTDISJOINTSET_H
