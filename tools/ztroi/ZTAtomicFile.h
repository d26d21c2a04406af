#ifndef ZTATOMICFILE_H
#define ZTATOMICFILE_H

#include <QImage>
#include <QString>

/**
 * Writes output files atomically: the data goes to a temporary file beside the target, which
 * replaces the target only once everything was written (QSaveFile). A failure leaves the target
 * as it was, or absent, never half written.
 */
class ZTAtomicFile
{
public:
    /**
     * Encodes @p image into @p path in the format that the path's suffix names (png, jpg, ...);
     * @p quality as for QImageWriter (-1: the format's default). Returns false and sets @p error
     * (when given) to one short sentence on failure.
     */
    static bool writeImage(
        const QString& path, const QImage& image, int quality = -1, QString* error = nullptr);
};

#endif // ZTATOMICFILE_H
