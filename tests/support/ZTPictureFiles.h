#ifndef ZTPICTUREFILES_H
#define ZTPICTUREFILES_H

// Picture files built in code for the tests of ztroi's reading: one small picture in every format
// that ztroi reads, in the variants whose decoders differ, and the hostile files (tiny files that
// declare huge pictures, a JPEG of thousands of scans, chunks that inflate to megabytes).

#include "ZTToolTestSupport.h"

#include <QImageWriter>
#include <QtEndian>

#include <map>

namespace ZTPictureFiles {

// The 4 bytes of @p value, big-endian, as PNG-style files store their numbers.
inline QByteArray bigEndian32(quint32 value)
{
    value = qToBigEndian(value);
    return QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
}

// @p value appended to @p data in little-endian byte order, in the bytes of its type.
template<typename T>
void appendLittleEndian(QByteArray& data, T value)
{
    value = qToLittleEndian(value);
    data.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// A PNG-style chunk: length, type, data and the CRC-32 of type and data.
inline QByteArray chunk(const char* type, const QByteArray& data)
{
    const QByteArray typed = QByteArray(type, 4) + data;
    quint32 crc = 0xFFFFFFFFu;
    for (const char c : typed) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return bigEndian32(data.size()) + typed + bigEndian32(~crc);
}

// @p image as a progressive JPEG, whose scans each refine the whole picture.
inline QByteArray progressiveJpeg(const QImage& image)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(true);
    writer.write(image);
    return data;
}

// An uncompressed little-endian RGB TIFF of @p size with @p samples 8-bit samples a pixel:
// @p pixels in one strip, or in one tile of @p tile when that is valid.
inline QByteArray tiff(
    const QSize& size, quint16 samples, const QByteArray& pixels, const QSize& tile = QSize())
{
    // Tag and value; the offset of the pixels (tag 273 or 324) is filled in below.
    std::map<quint16, quint32> entries = {{256, quint32(size.width())},
        {257, quint32(size.height())}, {258, 8}, {259, 1}, {262, 2}, {277, samples}};
    if (tile.isValid()) {
        entries.insert({{322, quint32(tile.width())}, {323, quint32(tile.height())}, {324, 0},
            {325, quint32(pixels.size())}});
    } else {
        entries.insert({{273, 0}, {278, quint32(size.height())}, {279, quint32(pixels.size())}});
    }
    const quint32 pixelsAt = quint32(8 + 2 + 12 * entries.size() + 4);
    QByteArray out("II*\0\x08\0\0\0", 8);
    appendLittleEndian<quint16>(out, quint16(entries.size()));
    for (const auto& [tag, value] : entries) {
        const bool isShort = tag < 273 || tag == 277;
        const bool isOffset = tag == 273 || tag == 324;
        // A short value is the first two bytes of the field, the rest zeros.
        appendLittleEndian<quint16>(out, tag);
        appendLittleEndian<quint16>(out, isShort ? 3 : 4);
        appendLittleEndian<quint32>(out, 1);
        appendLittleEndian<quint32>(out, isOffset ? pixelsAt : value);
    }
    return out + QByteArray(4, '\0') + pixels;
}

// A BMP of @p size whose pixels are the RLE @p codes (RLE8, or RLE4 for @p bits 4) in the
// colours of @p colourTable.
inline QByteArray rleBmp(
    const QSize& size, int bits, const QVector<QRgb>& colourTable, const QByteArray& codes)
{
    QByteArray colours; // blue, green, red and a zero byte each
    for (const QRgb colour : colourTable) {
        appendLittleEndian<quint32>(colours, colour & 0xFFFFFFu);
    }
    // The file's size, a reserved field and where the pixels start; then the header's size, the
    // picture's, 1 plane and the bits a pixel (two 16-bit fields), RLE4 or RLE8, the codes' size,
    // no resolution, the colours, all of them important.
    const quint32 pixelsAt = quint32(14 + 40 + colours.size());
    QByteArray out("BM");
    for (const quint32 field : {pixelsAt + quint32(codes.size()), 0u, pixelsAt, 40u,
             quint32(size.width()), quint32(size.height()), 1u | quint32(bits) << 16,
             bits == 4 ? 2u : 1u, quint32(codes.size()), 0u, 0u, quint32(colourTable.size()), 0u}) {
        appendLittleEndian(out, field);
    }
    return out + colours + codes;
}

// A GIF of 35 bytes whose screen is @p width x @p height: a colour table of black and white and
// one 1x1 frame at its corner, its LZW codes clear, colour 0 and end in 3 bits each.
inline QByteArray gifScreen(quint16 width, quint16 height)
{
    QByteArray out("GIF89a");
    appendLittleEndian<quint16>(out, width);
    appendLittleEndian<quint16>(out, height);
    return out
        + QByteArray("\x80\0\0\0\0\0\xFF\xFF\xFF,\0\0\0\0\x01\0\x01\0\0\x02\x02\x44\x01\0;", 25);
}

// One picture in every format and variant that ztroi reads by default, by name. The RLE one ends
// half way, leaving the rest to the background.
inline QList<QPair<QString, QByteArray>> everyFormat()
{
    const QImage picture = scene(QSize(64, 48), QPoint(40, 20));
    return {
        {"jpeg", encoded(picture, "jpeg", 90)},
        {"progressive jpeg", progressiveJpeg(picture)},
        {"png", encoded(picture, "png")},
        {"16-bit png", encoded(picture.convertToFormat(QImage::Format_RGBA64), "png")},
        {"gif", gifScreen(64, 48)},
        {"bmp", encoded(picture, "bmp")},
        {"rle8 bmp",
            rleBmp(picture.size(), 8, {qRgb(0, 0, 0), qRgb(255, 255, 255)},
                QByteArray("\x40\x01\0\0", 4).repeated(24) + QByteArray("\0\1", 2))},
        {"lossy webp", encoded(picture, "webp", 80)},
        {"lossless webp", encoded(picture, "webp", 100)},
        {"tiff", encoded(picture, "tiff")},
        {"tiled tiff", tiff(picture.size(), 3, QByteArray(64 * 48 * 3, '\x80'), picture.size())},
    };
}

// A progressive JPEG whose last scan is repeated @p repeats times more.
inline QByteArray manyScans(int repeats)
{
    const QByteArray jpeg = progressiveJpeg(scene(QSize(64, 48), QPoint(40, 20)));
    const int lastScan = jpeg.lastIndexOf("\xFF\xDA");
    return jpeg.chopped(2) + jpeg.mid(lastScan).chopped(2).repeated(repeats) + "\xFF\xD9";
}

// A PNG of @p width x @p height at @p bitDepth whose pixel data is one empty zlib stream: its
// structure is complete, and only decoding finds the pixels missing.
inline QByteArray pngClaiming(quint32 width, quint32 height, char bitDepth = 8)
{
    return QByteArray("\x89PNG\r\n\x1A\n", 8)
        + chunk(
            "IHDR", bigEndian32(width) + bigEndian32(height) + bitDepth + QByteArray("\6\0\0\0", 4))
        + chunk("IDAT", QByteArray("\x78\x9C\x03\0\0\0\0\x01", 8)) + chunk("IEND", {});
}

// An MNG whose header declares @p width x @p height, of the @p chunks.
inline QByteArray mng(quint32 width, quint32 height, const QByteArray& chunks = {})
{
    return QByteArray("\x8AMNG\r\n\x1A\n", 8)
        + chunk("MHDR", bigEndian32(width) + bigEndian32(height) + QByteArray(20, '\0')) + chunks
        + chunk("MEND", {});
}

// @p png with @p chunks inserted after its header chunk.
inline QByteArray pngWith(const QByteArray& png, const QByteArray& chunks)
{
    return png.left(8 + 12 + 13) + chunks + png.mid(8 + 12 + 13); // signature, IHDR
}

// A chunk of @p type (zTXt, iCCP) of a keyword and @p bytes zeros, compressed (about a
// thousandth of that), that decoders inflate.
inline QByteArray compressedChunk(const char* type, int bytes)
{
    return chunk(type, QByteArray("keyword\0\0", 9) + qCompress(QByteArray(bytes, '\0'), 9).mid(4));
}

// @p jpeg with @p count segments of @p marker (0xFE: a comment, 0xE1: APP1 ...) of @p length
// bytes each (at most 65533) after its start of image.
inline QByteArray jpegWith(const QByteArray& jpeg, uchar marker, int count, int length)
{
    QByteArray segment("\xFF", 1);
    segment.append(char(marker)).append(char((length + 2) >> 8)).append(char((length + 2) & 0xFF));
    segment += QByteArray(length, 'x');
    return jpeg.left(2) + segment.repeated(count) + jpeg.mid(2);
}

} // namespace ZTPictureFiles

#endif // ZTPICTUREFILES_H
