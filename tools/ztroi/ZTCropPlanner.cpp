#include "ZTCropPlanner.h"

#include <ZTSalienzMaximizerHorizontal.h>
#include <ZTSalienzMaximizerVertical.h>

#include <algorithm>

QString ZTCropRequest::aspectText() const
{
    return QStringLiteral("%1:%2").arg(aspectWidth).arg(aspectHeight);
}

ZTCropPlanner::ZTCropPlanner(
    const ZTSalienceProfile& profile, const QSize& inputSize, BestStart bestStart)
    : m_profile(profile)
    , m_geometry(inputSize, profile.mapSize())
    , m_bestStart(std::move(bestStart))
{}

// startOfBestRange() is bestRange() over the running sums of the map's columns (rows); those are
// summed once here and shared by every crop of the map.
ZTCropPlanner::BestStart ZTCropPlanner::maximizerStart(
    const QImage& map, ZTSalienzPixelWeightMethod method)
{
    const ZTSalienzMaximizerHorizontal horizontal(method);
    const ZTSalienzMaximizerVertical vertical(method);
    const QList<qint64> columns = horizontal.conglumerate(horizontal.sums(map));
    const QList<qint64> rows = vertical.conglumerate(vertical.sums(map));
    return [horizontal, vertical, columns, rows](Qt::Orientation axis, int length) {
        return axis == Qt::Horizontal ? horizontal.bestRange(columns, length)
                                      : vertical.bestRange(rows, length);
    };
}

QSize ZTCropPlanner::largestWindow(const QSize& picture, int aspectWidth, int aspectHeight)
{
    if (picture.isEmpty() || aspectWidth <= 0 || aspectHeight <= 0) {
        return QSize();
    }
    const qint64 width = picture.width();
    const qint64 height = picture.height();
    // Compare width / height with aspectWidth / aspectHeight without dividing.
    if (width * aspectHeight > height * aspectWidth) {
        return QSize(int(std::max<qint64>(1, height * aspectWidth / aspectHeight)), int(height));
    }
    return QSize(int(width), int(std::max<qint64>(1, width * aspectHeight / aspectWidth)));
}

ZTCrop ZTCropPlanner::plan(const ZTCropRequest& request) const
{
    ZTCrop crop;
    crop.request = request;
    const QSize input = m_geometry.inputSize();
    const QSize window = largestWindow(input, request.aspectWidth, request.aspectHeight);
    if (!window.isValid()) {
        return crop;
    }
    crop.rect = QRect(QPoint(0, 0), window);

    const bool horizontal = window.width() < input.width();
    const bool vertical = window.height() < input.height();
    if (horizontal || vertical) {
        const Qt::Orientation axis = horizontal ? Qt::Horizontal : Qt::Vertical;
        const int inputLength = horizontal ? input.width() : input.height();
        const int windowLength = horizontal ? window.width() : window.height();
        const int mapLength
            = horizontal ? m_geometry.mapSize().width() : m_geometry.mapSize().height();
        const int mapWindow = ZTMapGeometry::scaleRounded(windowLength, mapLength, inputLength);
        // A window that covers the whole map axis has nowhere to go.
        const int start = mapWindow < mapLength && m_bestStart ? m_bestStart(axis, mapWindow) : -1;
        const int room = inputLength - windowLength;
        int offset = room / 2;
        if (start >= 0) {
            const int mapped = horizontal ? m_geometry.toInputX(start) : m_geometry.toInputY(start);
            offset = std::clamp(mapped, 0, room);
            crop.centred = false;
        }
        crop.rect.moveTo(horizontal ? offset : 0, horizontal ? 0 : offset);
    }
    crop.salienceKept = salienceKept(crop.rect);
    return crop;
}

double ZTCropPlanner::salienceKept(const QRect& inputRect) const
{
    const qint64 total = m_profile.total();
    if (total <= 0 || inputRect.isEmpty()) {
        return 0.0;
    }
    // Map pixels are counted when the crop's edges, converted to the map, enclose them; the
    // share is then taken on the axis on which the crop is narrower than the picture.
    const QSize input = m_geometry.inputSize();
    qint64 kept = total;
    if (inputRect.width() < input.width()) {
        kept = m_profile.columnRange(
            m_geometry.toMapX(inputRect.left()), m_geometry.toMapX(inputRect.right() + 1));
    } else if (inputRect.height() < input.height()) {
        kept = m_profile.rowRange(
            m_geometry.toMapY(inputRect.top()), m_geometry.toMapY(inputRect.bottom() + 1));
    }
    return double(kept) / double(total);
}

QPoint ZTCropPlanner::focalPoint() const
{
    const QSize input = m_geometry.inputSize();
    const QSize map = m_geometry.mapSize();
    if (input.isEmpty() || map.isEmpty()) {
        return QPoint();
    }
    const QPointF centre = m_profile.centroid();
    const int x = int(centre.x() * input.width() / map.width());
    const int y = int(centre.y() * input.height() / map.height());
    return QPoint(std::clamp(x, 0, input.width() - 1), std::clamp(y, 0, input.height() - 1));
}
