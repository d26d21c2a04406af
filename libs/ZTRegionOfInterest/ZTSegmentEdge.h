#ifndef ZTSEGMENTEDGE_H
#define ZTSEGMENTEDGE_H

#include "ZTRegionOfInterestExport.h"

/**
 * A weighted edge between two cells of a grid, named by their cell indices (row * columns +
 * column). Edges are ordered by weight alone, so a sorted list runs from the most alike pair of
 * cells to the least alike. A plain value: copy it freely.
 */
class ZTREGIONOFINTEREST_EXPORT ZTSegmentEdge
{
public:
    /** From cell 0 to cell 0, weight 0.0. */
    ZTSegmentEdge();
    /** Stores the three values unchanged. */
    ZTSegmentEdge(int from, int to, double weight);
    virtual ~ZTSegmentEdge();

    /** Index of the first cell. */
    int from();
    /** Index of the second cell. */
    int to();
    /** Dissimilarity of the two cells. */
    double weight();

    /**
     * True exactly when this edge's weight is less than @p other's; the cells play no part.
     * Strict: of two equal weights neither is less, and a NaN weight compares false both ways.
     */
    bool operator<(const ZTSegmentEdge& other) const;

private:
    int m_from;
    int m_to;
    double m_weight;
};

#endif // ZTSEGMENTEDGE_H
