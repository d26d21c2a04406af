#include "crops/ZTOverlayPainter.h"

#include "crops/ZTResampler.h"

#include <ZTMapGeometry.h>

#include <QColorSpace>
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

// @p channel of a pixel with @p alpha laid over white.
inline int onWhite(int channel, int alpha)
{
    return (channel * alpha + 255 * (255 - alpha) + 127) / 255;
}

// True when every pixel of the ARGB32 @p picture is opaque.
bool isOpaque(const QImage& picture)
{
    for (int y = 0; y < picture.height(); ++y) {
        const QRgb* const line = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
        QRgb alphas = 0xFF000000u;
        for (int x = 0; x < picture.width(); ++x) {
            alphas &= line[x];
        }
        if (qAlpha(alphas) != 0xFF) {
            return false;
        }
    }
    return true;
}

// The ARGB32 @p picture laid over white (as ztroi's JPEG crops are); a null image when memory
// runs out.
QImage laidOverWhite(const QImage& picture)
{
    QImage opaque(picture.size(), QImage::Format_RGB32);
    if (opaque.isNull()) {
        return QImage();
    }
    const int width = picture.width();
    for (int y = 0; y < picture.height(); ++y) {
        const QRgb* const in = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
        QRgb* const out = reinterpret_cast<QRgb*>(opaque.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int alpha = qAlpha(in[x]);
            out[x] = qRgb(onWhite(qRed(in[x]), alpha), onWhite(qGreen(in[x]), alpha),
                onWhite(qBlue(in[x]), alpha));
        }
    }
    return opaque;
}

// @p image scaled to exactly @p size by ZTResampler, not by Qt, whose smooth scaling rounds
// differently from one Qt version to the next. Transparent pixels are laid over white first, so
// that their colour does not bleed into the grey. A null image when memory runs out.
QImage scaledExactly(const QImage& image, const QSize& size)
{
    const QImage words
        = image.format() == QImage::Format_ARGB32 || image.format() == QImage::Format_RGB32
        ? image
        : image.convertToFormat(QImage::Format_ARGB32);
    if (words.isNull()) {
        return QImage();
    }
    const QRectF whole(words.rect());
    if (words.format() == QImage::Format_RGB32) {
        return ZTResampler::resample(words, whole, size);
    }
    if (isOpaque(words)) {
        // Opaque ARGB32 words are RGB32 words: read in place.
        const QImage opaque(words.constBits(), words.width(), words.height(), words.bytesPerLine(),
            QImage::Format_RGB32);
        return ZTResampler::resample(opaque, whole, size);
    }
    const QImage opaque = laidOverWhite(words);
    return opaque.isNull() ? QImage() : ZTResampler::resample(opaque, whole, size);
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
    QImage overlay = scaledExactly(photo, size);
    const QImage heatMap = scaledExactly(map, size);
    if (overlay.isNull() || heatMap.isNull()) {
        return QImage();
    }
    // The photo's resolution and colour space, which the resampler does not carry over.
    overlay.setColorSpace(photo.colorSpace());
    overlay.setDotsPerMeterX(photo.dotsPerMeterX());
    overlay.setDotsPerMeterY(photo.dotsPerMeterY());
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
