#ifndef ZTIMAGELOADER_H
#define ZTIMAGELOADER_H

#include <QImage>
#include <QSize>
#include <QString>

#include <functional>
#include <utility>

class QIODevice;
class QImageReader;

/**
 * Reads a picture for analysis, defensively: the header is read first, so a picture with no or a
 * zero size, or with more pixels than the limit, is refused before anything is decoded; the EXIF
 * orientation is applied; a JPEG that ends early is refused although Qt would return it with a
 * grey bottom; the result is converted to Format_ARGB32, which the salience methods read.
 *
 * Every picture source (files, the bundled photograph, fuzzing input) goes through load().
 * Safe to use from several threads at once, one loader per thread.
 */
class ZTImageLoader
{
public:
    /** The default limit: 100 million pixels (400 MB once decoded). */
    static constexpr qint64 defaultMaxPixels = 100'000'000;

    ZTImageLoader();

    /** Pictures with more pixels than @p pixels (at least 1) are refused. */
    void setMaxPixels(qint64 pixels);
    qint64 maxPixels() const { return m_maxPixels; }

    /**
     * With a valid @p analysisSize, JPEG pictures are decoded at a reduced size (1/2, 1/4 or 1/8,
     * by the decoder's DCT scaling) that is never below the size of the picture scaled to fit
     * @p analysisSize. The decoded image is then smaller than inputSize(), and its pixels may
     * differ slightly from a full decode. An invalid size (the default) decodes fully.
     */
    void setFastDecodeSize(const QSize& analysisSize);

    /** The smallest upright size that is needed of a picture whose full upright size is given. */
    using NeededSize = std::function<QSize(const QSize& upright)>;
    /**
     * Like setFastDecodeSize(), with the reduced size never below @p needed(upright size),
     * for callers that need more than the analysis size. An empty function decodes fully.
     */
    void setFastDecodeNeed(NeededSize needed);

    /** Reads the file at @p path (Qt resource paths such as ":/..." work too). */
    bool load(const QString& path);
    /** Reads from @p device, which must be open for reading; the format is found from content. */
    bool load(QIODevice* device);

    /** The decoded picture in Format_ARGB32, upright; null after a failed load. */
    QImage image() const { return m_image; }
    /** image(), handed over: the loader no longer holds it. */
    QImage takeImage() { return std::exchange(m_image, QImage()); }
    /** The picture's full size, upright (after the EXIF orientation); invalid after a failure. */
    QSize inputSize() const { return m_inputSize; }
    /** The format the last picture was stored in, as Qt names it ("jpeg", "png", ...). */
    QByteArray format() const { return m_format; }
    /** One short sentence on why the last load() failed; empty after a success. */
    QString errorString() const { return m_error; }

private:
    bool read(QImageReader& reader);
    bool fail(const QString& error);

    qint64 m_maxPixels = defaultMaxPixels;
    NeededSize m_fastDecodeNeed;
    QImage m_image;
    QByteArray m_format;
    QSize m_inputSize;
    QString m_error;
};

#endif // ZTIMAGELOADER_H
