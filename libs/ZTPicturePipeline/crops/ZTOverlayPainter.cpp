#include "crops/ZTOverlayPainter.h"

#include <ZTMapGeometry_p.h>

#include <QPainter>
#include <QPen>

#include <algorithm>
#include <iterator>

namespace {

struct NamedColour
{
    QRgb rgb;
    const char* name;
};

constexpr NamedColour cropColours[] = {
    {0xFF00E5FF, "cyan"},
    {0xFF76FF03, "green"},
    {0xFFFF4081, "pink"},
    {0xFFFFEA00, "yellow"},
    {0xFF2979FF, "blue"},
    {0xFFFFFFFF, "white"},
};
constexpr int cropColourCount = int(std::size(cropColours));

// The photo is shown in grey at this share (of 256) of its brightness, so the heat stands out.
constexpr int photoShare = 150;

// "Hot" colour ramp for salience v: black, red, yellow, white.
inline int ramp(int v, int offset)
{
    return std::clamp(3 * v - offset, 0, 255);
}

// Blends heat of strength v (0 ... 255) over the dimmed grey photo; the heat covers up to seven
// eighths of it where v is 255.
inline QRgb heat(QRgb photo, int v)
{
    const int alpha = v * 7 / 8;
    const int base = qGray(photo) * photoShare / 256 * (255 - alpha);
    const auto channel = [base, alpha](int hot) { return (base + hot * alpha) / 255; };
    return qRgb(channel(ramp(v, 0)), channel(ramp(v, 255)), channel(ramp(v, 510)));
}

// The largest salience of @p map, at least 1.
int maximumSalience(const QImage& map)
{
    int maximum = 1;
    for (int y = 0; y < map.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(map.constScanLine(y));
        for (int x = 0; x < map.width(); ++x) {
            maximum = std::max(maximum, qRed(line[x]));
        }
    }
    return maximum;
}

} // namespace

QColor ZTOverlayPainter::cropColour(int index)
{
    return QColor::fromRgb(cropColours[std::max(0, index) % cropColourCount].rgb);
}

QString ZTOverlayPainter::cropColourName(int index)
{
    return QString::fromLatin1(cropColours[std::max(0, index) % cropColourCount].name);
}

QImage ZTOverlayPainter::paint(const QImage& photo, const QImage& map, const QSize& inputSize,
    const QList<ZTCrop>& crops, const QPoint& focus)
{
    if (photo.isNull() || map.isNull() || inputSize.isEmpty()) {
        return QImage();
    }
    const QSize size = std::max(photo.width(), photo.height()) > maxSide
        ? photo.size().scaled(maxSide, maxSide, Qt::KeepAspectRatio)
        : photo.size();
    QImage overlay = photo.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                         .convertToFormat(QImage::Format_RGB32);
    const QImage heatMap = map.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                               .convertToFormat(QImage::Format_RGB32);
    if (overlay.isNull() || heatMap.isNull()) {
        return QImage();
    }
    // The heat is stretched so that the map's most salient spot glows white.
    const int maximum = maximumSalience(heatMap);
    for (int y = 0; y < size.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(overlay.scanLine(y));
        const QRgb* salience = reinterpret_cast<const QRgb*>(heatMap.constScanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            line[x] = heat(line[x], qRed(salience[x]) * 255 / maximum);
        }
    }

    // Crops and the focal point arrive in input pixels; the overlay may be smaller.
    const ZTMapGeometry toOverlay(inputSize, size);
    const int penWidth = std::max(2, std::max(size.width(), size.height()) / 300);
    QPainter painter(&overlay);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    for (int i = 0; i < crops.size(); ++i) {
        const QRect rect = toOverlay.toMap(crops.at(i).rect);
        if (rect.isNull()) {
            continue;
        }
        painter.setPen(QPen(cropColour(i), penWidth, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        // Keep the whole stroke inside the crop, so crops at the border stay visible.
        const qreal inset = penWidth / 2.0;
        painter.drawRect(QRectF(rect).adjusted(inset, inset, -inset, -inset));
    }
    const QPointF centre(toOverlay.toMapX(focus.x()) + 0.5, toOverlay.toMapY(focus.y()) + 0.5);
    const qreal radius = 4.0 * penWidth;
    painter.setPen(QPen(Qt::black, penWidth + 2));
    painter.drawEllipse(centre, radius, radius);
    painter.setPen(QPen(Qt::white, penWidth));
    painter.drawEllipse(centre, radius, radius);
    painter.end();
    return overlay;
}
