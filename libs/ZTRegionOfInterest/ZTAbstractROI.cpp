#include "ZTAbstractROI.h"

ZTAbstractROI::ZTAbstractROI()
    : m_enabled(true)
    , m_weight(0)
{}

ZTAbstractROI::~ZTAbstractROI() = default;

QImage ZTAbstractROI::createTargetImage(const QImage& image) const
{
    return QImage(image.size(), QImage::Format_ARGB32);
}

QImage ZTAbstractROI::adjustFormat(const QImage& image) const
{
    if (image.format() == QImage::Format_ARGB32) {
        return image;
    }
    return image.convertToFormat(QImage::Format_ARGB32);
}

void ZTAbstractROI::setEnabled(bool enabled)
{
    m_enabled = enabled;
}

bool ZTAbstractROI::isEnabled() const
{
    return m_enabled;
}

void ZTAbstractROI::setWeight(int weight)
{
    m_weight = weight;
}

int ZTAbstractROI::weight() const
{
    return m_weight;
}
