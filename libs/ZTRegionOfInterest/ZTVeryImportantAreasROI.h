#ifndef ZTVERYIMPORTANTAREASROI_H
#define ZTVERYIMPORTANTAREASROI_H

#include "ZTAbstractROI.h"

#include <QList>
#include <QRect>
#include <QSize>

/**
 * Salience of rectangles that the host declares very important: each rectangle is fully
 * salient (white, 255), and a filled ellipse of twice its width and height around its centre
 * gives it a halo of medium salience (Qt::gray, red 160; its blue is 164). All halos are drawn
 * before all rectangles, so no halo covers a rectangle. The picture's content is not read.
 */
class ZTREGIONOFINTEREST_EXPORT ZTVeryImportantAreasROI : public ZTAbstractROI
{
public:
    /**
     * @p rects are the very important areas in the coordinates of the pictures that evaluate()
     * will receive; @p size is the size of the picture in which the host gave them.
     */
    ZTVeryImportantAreasROI(QList<QRect> rects, const QSize& size);
    ~ZTVeryImportantAreasROI() override;

    /**
     * A black map of @p image's size with the halos and rectangles painted by QPainter with
     * default settings (no antialiasing, one-pixel outlines), clipped at the borders. When the
     * reference size differs from @p image's size, the one warning of the library is logged
     * once per call and the rectangles are still drawn at their given coordinates. A null image
     * gives a null map and logs nothing.
     */
    QImage evaluate(const QImage& image) override;

private:
    QList<QRect> m_rectangles;
    QSize m_referenceSize;
};

#endif // ZTVERYIMPORTANTAREASROI_H
