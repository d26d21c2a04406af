#include "ZTVeryImportantAreasROI.h"

#include <QBrush>
#include <QColor>
#include <QPainter>
#include <QRectF>

#include <algorithm>
#include <limits>
#include <utility>

namespace {

// The context of the size warning is part of the library's interface: hosts filter and route
// it by these values, so they are fixed here rather than taken from the build.
constexpr char warningFile[] = "libs/ZTRegionOfInterest/ZTVeryImportantAreasROI";
constexpr int warningLine = 49;
constexpr char warningFunction[]
    = "virtual QImage ZTVeryImportantAreasROI::evaluate(const QImage&)";
constexpr char warningCategory[] = "default";
constexpr char sizeWarning[] = "TODO: umrechnen der Größe! (worldmatrix berechnen)";

// Outlines reach one pixel beyond a shape's right and bottom edges; a rectangle clipped to the
// picture grown by this margin still covers every pixel of the picture that it covered before,
// and its clipped edges fall outside the picture.
constexpr int clipMargin = 2;

constexpr bool fitsInt(qint64 value)
{
    return value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max();
}

// The halo of @p rect: a filled ellipse in the bounding rectangle of twice the rectangle's width
// and height around its centre. The centre is the sum of the two edges halved toward zero, as
// QRect::center() computes it; everything is computed in 64 bits so that rectangles near the
// ends of the int range cannot overflow. Such halos are drawn through QRectF, whose floating
// point coordinates QPainter clips itself; every other halo goes through QRect, whose
// normalisation of negative sizes differs from QRectF's.
void drawHalo(QPainter& painter, const QRect& rect)
{
    const qint64 width = qint64(rect.right()) - rect.left() + 1;
    const qint64 height = qint64(rect.bottom()) - rect.top() + 1;
    const qint64 centreX = (qint64(rect.left()) + rect.right()) / 2;
    const qint64 centreY = (qint64(rect.top()) + rect.bottom()) / 2;
    const qint64 left = centreX - width;
    const qint64 top = centreY - height;
    if (fitsInt(left) && fitsInt(top) && fitsInt(2 * width) && fitsInt(2 * height)
        && fitsInt(left + 2 * width - 1) && fitsInt(top + 2 * height - 1)) {
        painter.drawEllipse(QRect(int(left), int(top), int(2 * width), int(2 * height)));
    } else {
        painter.drawEllipse(
            QRectF(double(left), double(top), double(2 * width), double(2 * height)));
    }
}

// @p rect, filled and outlined. A rectangle whose size or outline leaves the int range is first
// clipped to the picture grown by clipMargin, so QPainter is never handed coordinates whose
// width it cannot compute in an int.
void drawArea(QPainter& painter, const QRect& rect, const QSize& pictureSize)
{
    const qint64 width = qint64(rect.right()) - rect.left() + 1;
    const qint64 height = qint64(rect.bottom()) - rect.top() + 1;
    if (fitsInt(width) && fitsInt(height) && fitsInt(qint64(rect.right()) + 1)
        && fitsInt(qint64(rect.bottom()) + 1)) {
        painter.drawRect(rect);
        return;
    }
    const auto clip = [](int a, int b, int extent) {
        return std::make_pair(std::clamp(std::min(a, b), -clipMargin, extent + clipMargin - 1),
            std::clamp(std::max(a, b), -clipMargin, extent + clipMargin - 1));
    };
    const auto [x1, x2] = clip(rect.left(), rect.right(), pictureSize.width());
    const auto [y1, y2] = clip(rect.top(), rect.bottom(), pictureSize.height());
    painter.drawRect(QRect(QPoint(x1, y1), QPoint(x2, y2)));
}

} // namespace

ZTVeryImportantAreasROI::ZTVeryImportantAreasROI(QList<QRect> rects, const QSize& size)
    : m_rectangles(std::move(rects))
    , m_referenceSize(size)
{}

ZTVeryImportantAreasROI::~ZTVeryImportantAreasROI() = default;

QImage ZTVeryImportantAreasROI::evaluate(const QImage& image)
{
    QImage target = createTargetImage(image);
    // Nothing to paint on; a painter on a null image would only log warnings of its own.
    if (target.isNull()) {
        return target;
    }
    target.fill(QColor(Qt::black).rgba());

    QPainter painter(&target);
    if (m_referenceSize != image.size()) {
        // The rectangles are not scaled to the picture: they are drawn where they are.
        QMessageLogger(warningFile, warningLine, warningFunction, warningCategory)
            .warning("%s", sizeWarning);
    }

    painter.setPen(QColor(Qt::gray));
    painter.setBrush(QBrush(Qt::gray, Qt::SolidPattern));
    for (const QRect& rect : qAsConst(m_rectangles)) {
        drawHalo(painter, rect);
    }
    painter.setPen(QColor(Qt::white));
    painter.setBrush(QBrush(Qt::white, Qt::SolidPattern));
    for (const QRect& rect : qAsConst(m_rectangles)) {
        drawArea(painter, rect, target.size());
    }
    painter.end();
    return target;
}
