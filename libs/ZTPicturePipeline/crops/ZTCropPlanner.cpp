#include "crops/ZTCropPlanner.h"

ZTCropPlanner::ZTCropPlanner(
    const QImage& map, const QSize& inputSize, ZTSalienzPixelWeightMethod method)
    : m_planner(map, inputSize, method)
{}

void ZTCropPlanner::setDeclaredAreas(const QList<ZTDeclaredArea>& areas)
{
    QList<ZTSalienzCropPlanner::DeclaredArea> declared;
    declared.reserve(areas.size());
    for (const ZTDeclaredArea& area : areas) {
        declared.append({area.rect, area.core});
    }
    m_planner.setDeclaredAreas(declared);
}

// The request's reduced aspect: an output size plans as its aspect does.
ZTCrop ZTCropPlanner::plan(const ZTCropRequest& request) const
{
    const ZTSalienzCropPlanner::Crop planned
        = m_planner.cropForAspect(request.aspectWidth, request.aspectHeight);
    ZTCrop crop;
    crop.request = request;
    crop.rect = planned.rect;
    crop.salienceKept = planned.salienceKept;
    crop.centred = planned.centred;
    crop.areasKept = planned.areasKept;
    return crop;
}

QPoint ZTCropPlanner::focalPoint() const
{
    return m_planner.focalPoint();
}
