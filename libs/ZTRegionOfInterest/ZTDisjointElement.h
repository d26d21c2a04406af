#ifndef ZTDISJOINTELEMENT_H
#define ZTDISJOINTELEMENT_H

#include "ZTRegionOfInterestExport.h"

/**
 * One cell of a ZTDisjointSet forest: plain data that the set reads and writes directly.
 */
class ZTREGIONOFINTEREST_EXPORT ZTDisjointElement
{
public:
    /** Rank 0, size 0, parent 0. */
    ZTDisjointElement();
    /** Stores the three values unchanged, in this order. */
    ZTDisjointElement(int rank, int size, int parent);
    virtual ~ZTDisjointElement();

    /** Union-by-rank rank: 0 for a single cell, grows only when two roots of equal rank join. */
    int rank;
    /** Number of cells in the tree under this element; exact while the element is a root. */
    int size;
    /** Index of the parent element; the element's own index when it is a root. */
    int parent;
};

#endif // ZTDISJOINTELEMENT_H
