#include "crops/ZTCropWarnings.h"

#include "crops/ZTCropWriter.h"

#include <algorithm>

const QString ZTCropWarnings::enlarged = QStringLiteral("enlarged");
const QString ZTCropWarnings::cutsArea = QStringLiteral("cuts-area");
const QString ZTCropWarnings::cutsFace = QStringLiteral("cuts-face");
const QString ZTCropWarnings::weak = QStringLiteral("weak");

namespace {

bool cutsAny(const QRect& crop, const QList<QRect>& areas)
{
    return std::any_of(areas.cbegin(), areas.cend(),
        [&crop](const QRect& area) { return ZTCropWarnings::cuts(crop, area); });
}

} // namespace

bool ZTCropWarnings::cuts(const QRect& crop, const QRect& area)
{
    const bool fits = area.width() <= crop.width() && area.height() <= crop.height();
    return !area.isEmpty() && fits && crop.intersects(area) && !crop.contains(area);
}

void ZTCropWarnings::assess(QList<ZTCrop>& crops, const ZTCropWriter& writer,
    const QSize& pictureSize, const QList<QRect>& areas, const QList<QRect>& faces)
{
    // An area reaching out of the picture is cut by every crop; only its part inside counts.
    const QRect picture(QPoint(0, 0), pictureSize);
    QList<QRect> inside;
    for (const QRect& area : areas) {
        inside.append(area.intersected(picture));
    }
    double bestKept = 0.0;
    for (const ZTCrop& crop : crops) {
        bestKept = std::max(bestKept, crop.salienceKept);
    }
    for (ZTCrop& crop : crops) {
        crop.warnings.clear();
        if (crop.rect.isEmpty()) {
            continue;
        }
        crop.writtenSize = writer.outputSize(crop.request, crop.rect.size());
        crop.scale = ZTCropWriter::scale(crop.rect.size(), crop.writtenSize);
        if (ZTCropWriter::enlarges(crop.rect.size(), crop.writtenSize)) {
            crop.warnings.append(enlarged);
        }
        if (cutsAny(crop.rect, inside)) {
            crop.warnings.append(cutsArea);
        }
        if (cutsAny(crop.rect, faces)) {
            crop.warnings.append(cutsFace);
        }
        if (crop.salienceKept < weakShare * bestKept) {
            crop.warnings.append(weak);
        }
    }
}
