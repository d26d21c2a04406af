#ifndef ZTPICTUREHEADER_H
#define ZTPICTUREHEADER_H

#include "types/ZTError.h"

#include <QByteArray>
#include <QPair>
#include <QSize>
#include <QString>
#include <QVector>

/**
 * What a picture file says about itself before anything is decoded: its format from the
 * signature, the largest canvas that decoding allocates, and whether every part that its
 * structure announces is there. Only the container is read (JPEG markers, PNG and MNG chunks,
 * GIF blocks, BMP headers and pixel rows or RLE codes, WebP's RIFF chunks, the first TIFF
 * directory and its strips or tiles, ICO entries), never the compressed pixels: it takes time in
 * proportion to the file's size and no memory.
 */
struct ZTPictureHeader
{
    /** Qt's name of the format ("jpeg", "png", ...); empty when no known signature matches. */
    QByteArray format;
    /**
     * The largest canvas, as stored (before an EXIF orientation), that decoding allocates: for
     * a GIF its screen and every frame, for an ICO its largest entry, for an MNG its largest
     * layer. Invalid when the header gives no size.
     */
    QSize size;
    /**
     * Why the file is incomplete, its structure broken, or its decoding larger than its size
     * tells (TIFF tiles beyond the picture, too many samples a pixel); empty when it is whole.
     */
    QString damage;
    /** Damaged, or TooLarge for a part beyond its limit (an ICC profile). */
    ZTError::Kind damageKind = ZTError::Kind::Damaged;
    /** JPEG: the number of scans (SOS markers); 0 for other formats. */
    int scans = 0;
    /**
     * The most memory that decoding takes per pixel of size: the decoder's buffers, the
     * conversion to 32-bit pixels and an orientation turn.
     */
    int bytesPerPixel = 0;
    /**
     * BMP: the pixels are RLE codes, which may leave pixels undefined (an early end of the
     * bitmap, a delta that jumps over pixels or rows); the format makes those index 0.
     */
    bool codesMaySkipPixels = false;
    /**
     * The memory that decoding takes besides the pixels, for what the decoder keeps of the file:
     * ICC profiles (inflated) and EXIF data, with the copies that Qt makes of them.
     */
    qint64 metadataBytes = 0;
    /**
     * Parts of the file (offset and length) that the decoder need not see, in file order: PNG
     * text chunks and JPEG comments, which decoders inflate or copy into text that ztroi never
     * uses, and MNG loops, which would make the decoder run the same chunks again and again.
     */
    QVector<QPair<qint64, qint64>> unusedParts;

    /** Reads the header and the structure of the file @p data. */
    static ZTPictureHeader read(const QByteArray& data);

    /**
     * Removes the unusedParts of a file read as @p header from its bytes @p data, in place,
     * so that the decoder never sees them.
     */
    static void dropUnusedParts(const ZTPictureHeader& header, QByteArray* data);
};

#endif // ZTPICTUREHEADER_H
