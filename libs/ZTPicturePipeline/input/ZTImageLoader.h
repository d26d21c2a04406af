#ifndef ZTIMAGELOADER_H
#define ZTIMAGELOADER_H

#include "input/ZTPictureHeader.h"
#include "types/ZTError.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>
#include <utility>

class QIODevice;
class QImageReader;
class ZTMemoryBudget;

/**
 * Reads a picture for analysis, defensively. The whole file is read into memory and its
 * structure checked before anything is decoded (ZTPictureHeader): a format that is not allowed,
 * a truncated or damaged file, a size beyond the pixel limit, a JPEG with too many scans or a
 * picture whose decoding would not fit the memory budget is refused, and only the decoder of the
 * format found is used. Decoding that the decoder reports as damaged is refused too; its other
 * messages are kept in messages(). The EXIF orientation is applied and the result converted to
 * Format_ARGB32, which the salience methods read.
 *
 * Every picture source (files, the bundled photograph, fuzzing input) goes through load().
 * Safe to use from several threads at once, one loader per thread.
 */
class ZTImageLoader
{
public:
    /** The default limit: 100 million pixels (400 MB once decoded). */
    static constexpr qint64 defaultMaxPixels = 100'000'000;
    /**
     * The largest limit that setMaxPixels() takes: 2^40 pixels. Memory is counted in bytes per
     * pixel, which no picture within it can take beyond a 64-bit count.
     */
    static constexpr qint64 largestMaxPixels = qint64(1) << 40;
    /** JPEG pictures with more scans are refused: each scan is a pass over every coefficient. */
    static constexpr int maxJpegScans = 100;
    /** Larger files are refused. */
    static constexpr qint64 maxFileBytes = qint64(1) << 30;

    /** The formats read unless setFormats() says otherwise: jpeg, png, gif, bmp, webp, tiff. */
    static QList<QByteArray> defaultFormats();
    /** Every format that setFormats() accepts: the default ones, ico, cur and mng. */
    static QList<QByteArray> allowableFormats();

    ZTImageLoader();
    ~ZTImageLoader();
    Q_DISABLE_COPY(ZTImageLoader)

    /** Pictures with more pixels than @p pixels (1 to largestMaxPixels) are refused. */
    void setMaxPixels(qint64 pixels);
    qint64 maxPixels() const { return m_maxPixels; }

    /** The formats to read, by Qt's names, from allowableFormats(); others are refused. */
    void setFormats(const QList<QByteArray>& formats);

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

    /**
     * Each load() reserves its picture's memory in @p budget (not owned; null: none), the file,
     * the decoding (memoryEstimate()), @p extraBytes and @p extraBytesPerPixel for each pixel of
     * the picture for the work that follows, and holds it until the next load() or the loader's
     * end. A picture that cannot fit is refused.
     */
    void setMemoryBudget(
        ZTMemoryBudget* budget, qint64 extraBytes = 0, qint64 extraBytesPerPixel = 0);

    /** The memory of the work that follows the decoding of a picture of the size given. */
    using WorkBytes = std::function<qint64(const QSize& picture)>;
    /**
     * Like setMemoryBudget() above, with @p workBytes(the picture's stored size) for the work
     * that follows, for work that is not in proportion to the picture (crops bounded by a box).
     */
    void setMemoryBudget(ZTMemoryBudget* budget, WorkBytes workBytes);

    /** The most memory that decoding the picture of @p header takes, its file of @p fileBytes too.
     */
    static qint64 memoryEstimate(const ZTPictureHeader& header, qint64 fileBytes);

    /**
     * Reads the file at @p path, a name as ZTFileName gives it (never a Qt resource). Only
     * regular files are read; others are refused without being read from.
     */
    bool load(const QString& path);
    /** Reads from @p device, which must be open for reading. */
    bool load(QIODevice* device);
    /**
     * Reads the encoded picture in @p data, a file's bytes held in memory, with the checks and
     * the memory budget of a file of that size. The bytes are shared, not copied.
     */
    bool loadData(const QByteArray& data);

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
    /** The kind of the last load()'s failure; None after a success. */
    ZTError::Kind errorKind() const { return m_errorKind; }
    /** What the decoder said during the last load() (libpng's, libtiff's warnings ...). */
    QStringList messages() const { return m_messages; }

private:
    bool reserve(qint64 bytes);
    void releaseReservation();
    bool check(const ZTPictureHeader& header);
    qint64 reservation(const ZTPictureHeader& header, qint64 fileBytes) const;
    bool decode(const QByteArray& data, const ZTPictureHeader& header);
    bool fail(ZTError::Kind kind, const QString& error);

    qint64 m_maxPixels = defaultMaxPixels;
    QList<QByteArray> m_formats;
    NeededSize m_fastDecodeNeed;
    ZTMemoryBudget* m_budget = nullptr;
    WorkBytes m_workBytes;
    qint64 m_reserved = 0;
    QImage m_image;
    QByteArray m_format;
    QSize m_inputSize;
    QString m_error;
    ZTError::Kind m_errorKind = ZTError::Kind::None;
    QStringList m_messages;
};

#endif // ZTIMAGELOADER_H
