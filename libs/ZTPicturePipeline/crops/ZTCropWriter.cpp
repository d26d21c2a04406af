#include "crops/ZTCropWriter.h"

#include "crops/ZTCropPlanner.h"
#include "crops/ZTResampler.h"
#include "text/ZTUniqueNames.h"

#include <QColorSpace>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

const QLatin1String jpgSuffix("jpg");

// Memory per pixel: of a crop, of an encoder's converted copy of it, of a transparent picture's
// crop window copied to be premultiplied.
constexpr qint64 outputBytesPerPixel = 4;
constexpr qint64 encoderBytesPerPixel = 4;
constexpr qint64 windowCopyBytesPerPixel = 4;

// Whether every pixel of @p area of the ARGB32 @p picture is fully opaque. The alpha bytes are
// ANDed row by row rather than tested one by one, which the compiler vectorises.
bool isOpaque(const QImage& picture, const QRect& area)
{
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const QRgb* const line = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
        QRgb alphas = 0xFF000000u;
        for (int x = area.left(); x <= area.right(); ++x) {
            alphas &= line[x];
        }
        if (qAlpha(alphas) != 0xFF) {
            return false;
        }
    }
    return true;
}

// @p premultiplied laid over white, for formats without transparency.
QImage onWhite(const QImage& premultiplied)
{
    QImage flat(premultiplied.size(), QImage::Format_RGB32);
    if (flat.isNull()) {
        return QImage();
    }
    flat.fill(Qt::white);
    QPainter painter(&flat);
    painter.drawImage(0, 0, premultiplied);
    return flat;
}

// The request as file names carry it: an aspect with 'x' for ':' ("16x9"), an output size with
// "px" after it ("1920x1080px"), so that "16:9" and "16x9" never share a name.
QString fileText(const ZTCropRequest& request)
{
    QString text = request.text;
    text.replace(QLatin1Char(':'), QLatin1Char('x'));
    return request.outputSize.isValid() ? text + QLatin1String("px") : text;
}

} // namespace

ZTCropWriter::ZTCropWriter(const QString& format, int quality, int maxSide, bool noEnlarge)
    : m_format(format == QLatin1String("jpeg") ? QString(jpgSuffix) : format)
    , m_quality(std::clamp(quality, 0, 100))
    , m_maxSide(std::max(0, maxSide))
    , m_noEnlarge(noEnlarge)
{}

QStringList ZTCropWriter::formats()
{
    return {QStringLiteral("jpg"), QStringLiteral("png"), QStringLiteral("webp")};
}

QString ZTCropWriter::suffixFor(const QByteArray& inputFormat) const
{
    if (!m_format.isEmpty()) {
        return m_format;
    }
    const QString own = QString::fromLatin1(inputFormat == "jpeg" ? "jpg" : inputFormat.data());
    return formats().contains(own) ? own : QString(jpgSuffix);
}

int ZTCropWriter::qualityFor(const QString& suffix) const
{
    return suffix == QLatin1String("png") ? -1 : m_quality;
}

// Reduced sizes keep the exact aspect where whole pixels allow it, as the crop windows do:
// largestWindow() of the bound is a multiple of the reduced aspect when one fits.
QSize ZTCropWriter::outputSize(const ZTCropRequest& request, const QSize& window) const
{
    if (request.outputSize.isValid()) {
        const QSize& asked = request.outputSize;
        if (!m_noEnlarge || window.isEmpty()
            || (asked.width() <= window.width() && asked.height() <= window.height())) {
            return asked;
        }
        return ZTSalienzCropPlanner::largestWindow(
            asked.boundedTo(window), asked.width(), asked.height());
    }
    if (m_maxSide > 0 && std::max(window.width(), window.height()) > m_maxSide) {
        return ZTSalienzCropPlanner::largestWindow(
            window.boundedTo(QSize(m_maxSide, m_maxSide)), window.width(), window.height());
    }
    return window;
}

double ZTCropWriter::scale(const QSize& window, const QSize& written)
{
    if (window.isEmpty() || written.isEmpty()) {
        return 1.0;
    }
    return std::max(
        double(written.width()) / window.width(), double(written.height()) / window.height());
}

bool ZTCropWriter::enlarges(const QSize& window, const QSize& written)
{
    return !window.isEmpty()
        && (written.width() > window.width() || written.height() > window.height());
}

QSize ZTCropWriter::neededSize(const QSize& picture, const QList<ZTCropRequest>& requests) const
{
    double scale = 0.0;
    for (const ZTCropRequest& request : requests) {
        const QSize window = ZTSalienzCropPlanner::largestWindow(
            picture, request.aspectWidth, request.aspectHeight);
        if (!window.isValid()) {
            continue;
        }
        const QSize output = outputSize(request, window);
        scale = std::max({scale, double(output.width()) / window.width(),
            double(output.height()) / window.height()});
    }
    scale = std::min(scale, 1.0);
    return QSize(int(std::ceil(picture.width() * scale)), int(std::ceil(picture.height() * scale)));
}

qint64 ZTCropWriter::memoryBytes(const QList<ZTCropRequest>& requests, const QSize& picture) const
{
    const auto pixels = [](const QSize& size) { return qint64(size.width()) * size.height(); };
    qint64 largest = 0;
    for (const ZTCropRequest& request : requests) {
        const QSize size = request.outputSize.isValid() ? request.outputSize
            : m_maxSide > 0                             ? QSize(m_maxSide, m_maxSide)
                                                        : QSize(0, 0);
        // A W:H crop is the window or smaller, and the window is the picture at most.
        const bool windowSized = !request.outputSize.isValid() && picture.isValid();
        largest = std::max(
            largest, windowSized ? std::min(pixels(size), pixels(picture)) : pixels(size));
    }
    return largest * (outputBytesPerPixel + encoderBytesPerPixel);
}

qint64 ZTCropWriter::memoryBytesPerPixel(const QList<ZTCropRequest>& requests) const
{
    if (requests.isEmpty()) {
        return 0;
    }
    // W:H crops without --max-side are as large as their window, at most the picture.
    const bool pictureSized = m_maxSide == 0
        && std::any_of(requests.cbegin(), requests.cend(),
            [](const ZTCropRequest& request) { return !request.outputSize.isValid(); });
    return windowCopyBytesPerPixel
        + (pictureSized ? outputBytesPerPixel + encoderBytesPerPixel : 0);
}

QImage ZTCropWriter::render(
    const QImage& picture, const QSize& inputSize, const ZTCrop& crop, const QString& suffix) const
{
    if (picture.isNull() || inputSize.isEmpty() || crop.rect.isEmpty()) {
        return QImage();
    }
    // The crop is planned in pixels of the full picture; a reduced decode is smaller.
    const double scaleX = double(picture.width()) / inputSize.width();
    const double scaleY = double(picture.height()) / inputSize.height();
    const QRectF window(crop.rect.x() * scaleX, crop.rect.y() * scaleY, crop.rect.width() * scaleX,
        crop.rect.height() * scaleY);
    const QRect area = window.toAlignedRect() & picture.rect();
    const QSize size = outputSize(crop.request, crop.rect.size());
    const QImage argb = picture.format() == QImage::Format_ARGB32
        ? picture
        : picture.convertToFormat(QImage::Format_ARGB32);

    QImage result;
    if (isOpaque(argb, area)) {
        // Opaque ARGB32 pixels are RGB32 pixels: read in place, and the crop has no alpha
        // channel for the writer to store.
        const QImage opaque(argb.constBits(), argb.width(), argb.height(), argb.bytesPerLine(),
            QImage::Format_RGB32);
        result = ZTResampler::resample(opaque, window, size);
    } else {
        // Averaged premultiplied, so that the colour of transparent pixels does not bleed.
        const QImage premultiplied
            = argb.copy(area).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        result = ZTResampler::resample(premultiplied, window.translated(-area.topLeft()), size);
        if (suffix == jpgSuffix && !result.isNull()) {
            result = onWhite(result);
        }
    }
    result.setColorSpace(picture.colorSpace());
    return result;
}

QStringList ZTCropWriter::fileKinds(const QList<ZTCrop>& crops)
{
    QStringList kinds;
    ZTUniqueNames unique;
    for (const ZTCrop& crop : crops) {
        kinds.append(unique.take(QStringLiteral("crop-") + fileText(crop.request)));
    }
    return kinds;
}
