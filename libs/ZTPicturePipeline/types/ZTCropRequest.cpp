#include "types/ZTCropRequest.h"

QString ZTCropRequest::aspectText() const
{
    return QStringLiteral("%1:%2").arg(aspectWidth).arg(aspectHeight);
}
