#ifndef ZTCROPREQUEST_H
#define ZTCROPREQUEST_H

#include <QSize>
#include <QString>

/** One --crop request: an aspect ratio ("16:9") or an output size ("1920x1080"). */
struct ZTCropRequest
{
    QString text;        ///< as the user wrote it, without leading zeros: "16:9", "1920x1080"
    int aspectWidth = 0; ///< the aspect, reduced to lowest terms
    int aspectHeight = 0;
    QSize outputSize; ///< the requested size for "WxH", invalid for "W:H"

    /** "W:H" with both reduced, e.g. "16:9" for "1920x1080". */
    QString aspectText() const;
};

#endif // ZTCROPREQUEST_H
