#ifndef ZTPICTUREFILES_H
#define ZTPICTUREFILES_H

// Picture files built in code for the tests of ztroi's reading: one small picture in every format
// that ztroi reads, in the variants whose decoders differ, and the hostile files (tiny files that
// declare huge pictures, a JPEG of thousands of scans).

#include "ZTToolTestSupport.h"

#include <QImageWriter>
#include <QtEndian>

#include <map>

namespace ZTPictureFiles {

inline void appendBigEndian(QByteArray& data, quint32 value)
{
    const uchar bytes[4]
        = {uchar(value >> 24), uchar(value >> 16), uchar(value >> 8), uchar(value)};
    data.append(reinterpret_cast<const char*>(bytes), 4);
}

inline void appendLittleEndian16(QByteArray& data, quint16 value)
{
    data.append(char(value & 0xFF)).append(char(value >> 8));
}

inline void appendLittleEndian32(QByteArray& data, quint32 value)
{
    appendLittleEndian16(data, quint16(value & 0xFFFF));
    appendLittleEndian16(data, quint16(value >> 16));
}

// A PNG-style chunk: length, type, data and the CRC-32 of type and data.
inline QByteArray chunk(const char* type, const QByteArray& data)
{
    QByteArray out;
    appendBigEndian(out, quint32(data.size()));
    const QByteArray typed = QByteArray(type, 4) + data;
    quint32 crc = 0xFFFFFFFFu;
    for (const char c : typed) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    out += typed;
    appendBigEndian(out, ~crc);
    return out;
}

// The 8 bytes of a width and a height, big-endian, that start IHDR and MHDR chunks.
inline QByteArray bigEndianSize(quint32 width, quint32 height)
{
    QByteArray out;
    appendBigEndian(out, width);
    appendBigEndian(out, height);
    return out;
}

// @p image as a GIF of two colours (dark and light by the green channel). Qt writes no GIF: the
// LZW codes are 3 bits wide, and a clear code after every two pixels keeps them so.
inline QByteArray gif(const QImage& image)
{
    QByteArray out("GIF89a");
    appendLittleEndian16(out, quint16(image.width()));
    appendLittleEndian16(out, quint16(image.height()));
    out.append("\x81\0\0", 3); // a global table of 4 colours
    out.append("\x28\x32\x2D\xE6\xAA\x28\0\0\0\0\0\0", 12);
    out.append(',');
    out.append(QByteArray(4, '\0'));
    appendLittleEndian16(out, quint16(image.width()));
    appendLittleEndian16(out, quint16(image.height()));
    out.append('\0').append('\2'); // no local table; LZW minimum code size 2
    QByteArray codes;
    quint32 bits = 0;
    int count = 0;
    const auto put = [&](quint32 code) {
        bits |= code << count;
        for (count += 3; count >= 8; count -= 8, bits >>= 8) {
            codes.append(char(bits & 0xFF));
        }
    };
    for (int i = 0; i < image.width() * image.height(); ++i) {
        if (i % 2 == 0) {
            put(4); // clear
        }
        put(qGreen(image.pixel(i % image.width(), i / image.width())) > 100 ? 1 : 0);
    }
    put(5); // end of information
    if (count > 0) {
        codes.append(char(bits));
    }
    for (int at = 0; at < codes.size(); at += 255) {
        const QByteArray block = codes.mid(at, 255);
        out.append(char(block.size())).append(block);
    }
    return out.append('\0').append(';');
}

// @p image as written by Qt's @p format writer, with @p configure applied to the writer.
template<typename Configure>
QByteArray written(const QImage& image, const char* format, Configure configure)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    configure(writer);
    if (!writer.write(image)) {
        qFatal("cannot write a %s picture", format);
    }
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
    appendLittleEndian16(out, quint16(entries.size()));
    for (const auto& [tag, value] : entries) {
        const bool isShort = tag < 273 || tag == 277;
        const bool isOffset = tag == 273 || tag == 324;
        QByteArray field(12, '\0');
        qToLittleEndian<quint16>(tag, field.data());
        qToLittleEndian<quint16>(isShort ? 3 : 4, field.data() + 2);
        qToLittleEndian<quint32>(1, field.data() + 4);
        qToLittleEndian<quint32>(isOffset ? pixelsAt : value, field.data() + 8);
        out += field;
    }
    return out + QByteArray(4, '\0') + pixels;
}

// @p image's pixels as 8-bit RGB samples, row by row.
inline QByteArray rgbSamples(const QImage& image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    QByteArray out;
    for (int y = 0; y < rgb.height(); ++y) {
        out.append(reinterpret_cast<const char*>(rgb.constScanLine(y)), 3 * rgb.width());
    }
    return out;
}

// A BMP file of the DIB header @p dib, the colour table @p colours and @p pixels.
inline QByteArray bmp(const QByteArray& dib, const QByteArray& colours, const QByteArray& pixels)
{
    const quint32 pixelsAt = quint32(14 + dib.size() + colours.size());
    QByteArray out("BM");
    appendLittleEndian32(out, pixelsAt + quint32(pixels.size()));
    appendLittleEndian32(out, 0);
    appendLittleEndian32(out, pixelsAt);
    return out + dib + colours + pixels;
}

// @p image as an OS/2 BMP (the 12-byte header of 16-bit sizes) of 24 bits a pixel; the width
// must be a multiple of 4, so that rows need no padding.
inline QByteArray os2Bmp(const QImage& image)
{
    QByteArray dib;
    appendLittleEndian32(dib, 12);
    appendLittleEndian16(dib, quint16(image.width()));
    appendLittleEndian16(dib, quint16(image.height()));
    appendLittleEndian16(dib, 1); // planes
    appendLittleEndian16(dib, 24);
    const QImage bgr = image.convertToFormat(QImage::Format_RGB888).rgbSwapped();
    QByteArray rows;
    for (int y = bgr.height() - 1; y >= 0; --y) {
        rows.append(reinterpret_cast<const char*>(bgr.constScanLine(y)), 3 * bgr.width());
    }
    return bmp(dib, {}, rows);
}

// A BMP of @p size whose pixels are the RLE @p codes (RLE8, or RLE4 for @p bits 4) in the
// colours of @p colourTable.
inline QByteArray rleBmp(
    const QSize& size, int bits, const QVector<QRgb>& colourTable, const QByteArray& codes)
{
    QByteArray colours;
    for (const QRgb colour : colourTable) {
        colours.append(char(qBlue(colour))).append(char(qGreen(colour)));
        colours.append(char(qRed(colour))).append('\0');
    }
    QByteArray dib;
    for (const quint32 field : {40u, quint32(size.width()), quint32(size.height())}) {
        appendLittleEndian32(dib, field);
    }
    appendLittleEndian16(dib, 1); // planes
    appendLittleEndian16(dib, quint16(bits));
    appendLittleEndian32(dib, bits == 4 ? 2 : 1); // RLE4 or RLE8
    appendLittleEndian32(dib, quint32(codes.size()));
    appendLittleEndian32(dib, 0); // resolution
    appendLittleEndian32(dib, 0);
    appendLittleEndian32(dib, quint32(colourTable.size()));
    appendLittleEndian32(dib, 0); // important colours
    return bmp(dib, colours, codes);
}

// @p image as an 8-bit BMP compressed with RLE8: runs of one colour, each row ended by the
// end-of-line code, the last by the end-of-bitmap code.
inline QByteArray rle8Bmp(const QImage& image)
{
    const QImage indexed = image.convertToFormat(QImage::Format_Indexed8);
    QByteArray codes;
    for (int y = indexed.height() - 1; y >= 0; --y) {
        const uchar* row = indexed.constScanLine(y);
        for (int x = 0, run = 1; x < indexed.width(); x += run) {
            for (run = 1; x + run < indexed.width() && run < 255 && row[x + run] == row[x];) {
                ++run;
            }
            codes.append(char(run)).append(char(row[x]));
        }
        codes.append(QByteArray(2, '\0'));
    }
    codes.append('\0').append('\1');
    return rleBmp(indexed.size(), 8, indexed.colorTable(), codes);
}

// One picture in every format and variant that ztroi reads by default, by name.
inline QList<QPair<QString, QByteArray>> everyFormat()
{
    const QImage picture = scene(QSize(64, 48), QPoint(40, 20));
    const auto plain = [](QImageWriter&) {};
    return {
        {"jpeg", encoded(picture, "jpeg", 90)},
        {"progressive jpeg",
            written(picture, "jpeg", [](QImageWriter& w) { w.setProgressiveScanWrite(true); })},
        {"png", encoded(picture, "png")},
        {"16-bit png", encoded(picture.convertToFormat(QImage::Format_RGBA64), "png")},
        {"gif", gif(picture)},
        {"bmp", encoded(picture, "bmp")},
        {"8-bit bmp", encoded(picture.convertToFormat(QImage::Format_Indexed8), "bmp")},
        {"rle8 bmp", rle8Bmp(picture)},
        {"os2 bmp", os2Bmp(picture)},
        {"lossy webp", encoded(picture, "webp", 80)},
        {"lossless webp", encoded(picture, "webp", 100)},
        {"tiff", written(picture, "tiff", plain)},
        {"lzw tiff", written(picture, "tiff", [](QImageWriter& w) { w.setCompression(1); })},
        {"tiled tiff", tiff(picture.size(), 3, rgbSamples(picture), picture.size())},
    };
}

// A progressive JPEG whose last scan is repeated @p repeats times more.
inline QByteArray manyScans(int repeats)
{
    const QByteArray jpeg = written(scene(QSize(64, 48), QPoint(40, 20)), "jpeg",
        [](QImageWriter& w) { w.setProgressiveScanWrite(true); });
    const int lastScan = jpeg.lastIndexOf("\xFF\xDA");
    const QByteArray scan = jpeg.mid(lastScan, jpeg.size() - 2 - lastScan);
    return jpeg.left(jpeg.size() - 2) + scan.repeated(repeats) + "\xFF\xD9";
}

// A GIF of 35 bytes whose screen is @p width x @p height: a colour table of black and white and
// one 1x1 frame at its corner, its LZW codes clear, colour 0 and end in 3 bits each.
inline QByteArray gifScreen(quint16 width, quint16 height)
{
    QByteArray out("GIF89a");
    appendLittleEndian16(out, width);
    appendLittleEndian16(out, height);
    return out
        + QByteArray("\x80\0\0\0\0\0\xFF\xFF\xFF,\0\0\0\0\x01\0\x01\0\0\x02\x02\x44\x01\0;", 25);
}

// A PNG of @p width x @p height at @p bitDepth whose pixel data is one empty zlib stream: its
// structure is complete, and only decoding finds the pixels missing.
inline QByteArray pngClaiming(quint32 width, quint32 height, char bitDepth = 8)
{
    return QByteArray("\x89PNG\r\n\x1A\n", 8)
        + chunk("IHDR", bigEndianSize(width, height) + bitDepth + QByteArray("\6\0\0\0", 4))
        + chunk("IDAT", QByteArray("\x78\x9C\x03\0\0\0\0\x01", 8)) + chunk("IEND", {});
}

// An MNG of 108 bytes or less whose header declares @p width x @p height.
inline QByteArray mngClaiming(quint32 width, quint32 height)
{
    return QByteArray("\x8AMNG\r\n\x1A\n", 8)
        + chunk("MHDR", bigEndianSize(width, height) + QByteArray(20, '\0')) + chunk("MEND", {});
}

// An ICO whose directory says 256x256 around @p png.
inline QByteArray icoAround(const QByteArray& png)
{
    QByteArray out("\0\0\1\0\1\0\0\0\0\0\1\0\x20\0", 14);
    QByteArray sizes(8, '\0');
    qToLittleEndian<quint32>(quint32(png.size()), sizes.data());
    qToLittleEndian<quint32>(22u, sizes.data() + 4);
    return out + sizes + png;
}

// @p png with @p chunks inserted after its header chunk.
inline QByteArray pngWith(const QByteArray& png, const QByteArray& chunks)
{
    constexpr int afterHeader = 8 + 12 + 13;
    return png.left(afterHeader) + chunks + png.mid(afterHeader);
}

// A zTXt chunk whose text is @p bytes zeros, compressed (about a thousandth of that).
inline QByteArray zTXtOf(int bytes)
{
    return chunk(
        "zTXt", QByteArray("Comment\0\0", 9) + qCompress(QByteArray(bytes, '\0'), 9).mid(4));
}

// An iCCP chunk whose profile is @p bytes zeros, compressed.
inline QByteArray iCCPOf(int bytes)
{
    return chunk("iCCP", QByteArray("icc\0\0", 5) + qCompress(QByteArray(bytes, '\0'), 9).mid(4));
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

// An MNG of 16x16 whose only content is a loop of no frames, repeated @p iterations times.
inline QByteArray mngLooping(quint32 iterations)
{
    QByteArray loop(1, '\0'); // nesting level
    appendBigEndian(loop, iterations);
    return QByteArray("\x8AMNG\r\n\x1A\n", 8)
        + chunk("MHDR", bigEndianSize(16, 16) + QByteArray(20, '\0')) + chunk("LOOP", loop)
        + chunk("ENDL", QByteArray(1, '\0')) + chunk("MEND", {});
}

// The header of an uncompressed true-colour TGA of @p width x @p height, 24 bits a pixel, and
// its pixels (black): its first bytes are those of a CUR.
inline QByteArray tga(quint16 width, quint16 height)
{
    QByteArray out("\0\0\2\0\0\0\0\0\0\0\0\0", 12);
    appendLittleEndian16(out, width);
    appendLittleEndian16(out, height);
    out.append(char(24)).append('\0');
    return out + QByteArray(3 * width * height, '\0');
}

} // namespace ZTPictureFiles

#endif // ZTPICTUREFILES_H
