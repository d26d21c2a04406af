#ifndef ZTDECLAREDAREA_H
#define ZTDECLAREDAREA_H

#include <QRect>

/**
 * An area that crops keep whole where they can, in input pixels. Where a crop's window is too
 * small for it, the crop keeps its core whole instead (for a head: the face); the core of an
 * area without one is the area itself.
 */
struct ZTDeclaredArea
{
    QRect rect;
    QRect core;
};

#endif // ZTDECLAREDAREA_H
