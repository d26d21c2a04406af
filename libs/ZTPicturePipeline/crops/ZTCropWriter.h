#ifndef ZTCROPWRITER_H
#define ZTCROPWRITER_H

#include "types/ZTCrop.h"
#include "types/ZTCropRequest.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

/**
 * Turns planned crops into pictures: the crop window of the upright picture, scaled by
 * ZTResampler to the requested output size ("WxH": exactly that, or with no-enlarge the largest
 * size of exactly its aspect within both it and the window; "W:H": the window's own size, or the
 * largest of exactly the window's aspect within a longest side). Where not even the reduced
 * aspect fits, ZTSalienzCropPlanner::largestWindow() rounds to the nearest pixel instead. The
 * colour space is kept; other metadata (EXIF, comments, resolution) is not carried over, so nothing
 * can turn the written picture again.
 */
class ZTCropWriter
{
public:
    /** The default --quality for JPEG and WebP crops. */
    static constexpr int defaultQuality = 90;

    /**
     * @p format is "jpg", "png", "webp", or empty for the picture's own format where it is one
     * of those (else JPEG); @p quality (0 ... 100) is used for JPEG and WebP; @p maxSide (0: no
     * limit) bounds the longer side of "W:H" crops; with @p noEnlarge a "WxH" crop is never
     * made larger than its window.
     */
    ZTCropWriter(const QString& format = QString(), int quality = defaultQuality, int maxSide = 0,
        bool noEnlarge = false);

    /** The formats that crops can be written in. */
    static QStringList formats();

    /** The suffix of crops of a picture read in @p inputFormat (Qt's name, such as "jpeg"). */
    QString suffixFor(const QByteArray& inputFormat) const;
    /** The quality to write a crop with @p suffix at: -1 for the lossless PNG. */
    int qualityFor(const QString& suffix) const;

    /** The size of the picture for @p request from a crop window of @p window pixels. */
    QSize outputSize(const ZTCropRequest& request, const QSize& window) const;

    /**
     * The scale of a crop window of @p window pixels written at @p written pixels: the larger of
     * the two sides' ratios, so above 1 whenever a side is enlarged; 1 when either is empty.
     */
    static double scale(const QSize& window, const QSize& written);
    /** Whether writing @p window at @p written enlarges it along either side. */
    static bool enlarges(const QSize& window, const QSize& written);

    /**
     * The smallest size of a picture of @p picture pixels (upright) that every crop of
     * @p requests can be made from without enlarging it; @p picture itself at most.
     */
    QSize neededSize(const QSize& picture, const QList<ZTCropRequest>& requests) const;

    /**
     * The most memory that making and encoding one of @p requests takes besides the picture:
     * memoryBytes(), and memoryBytesPerPixel() for each pixel of the picture. An output pixel
     * takes 8 bytes (the crop and the encoder's copy of it); the crop window of a transparent
     * picture is copied first (4 bytes a pixel). With a valid @p picture (its size in pixels),
     * a W:H crop within --max-side counts no more pixels than the picture has, as it is never
     * larger; an invalid one counts the whole --max-side box.
     */
    qint64 memoryBytes(const QList<ZTCropRequest>& requests, const QSize& picture = QSize()) const;
    qint64 memoryBytesPerPixel(const QList<ZTCropRequest>& requests) const;

    /**
     * The picture of @p crop, from @p picture, a decode of a picture of @p inputSize pixels
     * (possibly reduced). Transparent pictures are composited onto white for a @p suffix that
     * has no transparency (jpg). A null image when it cannot be made (no memory).
     */
    QImage render(const QImage& picture, const QSize& inputSize, const ZTCrop& crop,
        const QString& suffix) const;

    /**
     * The kinds of the files of @p crops, in their order: "crop-16x9" for "16:9",
     * "crop-1080x1350px" for "1080x1350", with -2, -3, ... appended to repeats.
     */
    static QStringList fileKinds(const QList<ZTCrop>& crops);

private:
    QString m_format;
    int m_quality;
    int m_maxSide;
    bool m_noEnlarge;
};

#endif // ZTCROPWRITER_H
