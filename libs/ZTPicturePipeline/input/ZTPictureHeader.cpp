#include "input/ZTPictureHeader.h"

#include <QtEndian>

#include <algorithm>
#include <climits>
#include <cstring>
#include <zlib.h>

namespace {

// Per pixel of the canvas: the finished 32-bit picture, and a second one for the conversion to
// Format_ARGB32 or an orientation turn.
constexpr int outputBytes = 4 + 4;

const QString truncated = QStringLiteral("truncated picture data");
const QString broken = QStringLiteral("damaged picture data");

// Bounds-checked little- and big-endian reads from a part of the file; reads outside give 0,
// so callers check has() before they trust a value.
class Bytes
{
public:
    Bytes(const uchar* data, qint64 size)
        : m_data(data)
        , m_size(size)
    {}
    explicit Bytes(const QByteArray& data)
        : Bytes(reinterpret_cast<const uchar*>(data.constData()), data.size())
    {}

    qint64 size() const { return m_size; }
    const uchar* data() const { return m_data; }
    bool has(qint64 at, qint64 count) const
    {
        return at >= 0 && count >= 0 && at <= m_size && count <= m_size - at;
    }
    Bytes part(qint64 at, qint64 count) const
    {
        return has(at, count) ? Bytes(m_data + at, count) : Bytes(nullptr, 0);
    }
    uint u8(qint64 at) const { return has(at, 1) ? m_data[at] : 0; }
    uint le16(qint64 at) const { return has(at, 2) ? qFromLittleEndian<quint16>(m_data + at) : 0; }
    uint be16(qint64 at) const { return has(at, 2) ? qFromBigEndian<quint16>(m_data + at) : 0; }
    uint le24(qint64 at) const { return le16(at) | u8(at + 2) << 16; }
    quint32 le32(qint64 at) const
    {
        return has(at, 4) ? qFromLittleEndian<quint32>(m_data + at) : 0;
    }
    quint32 be32(qint64 at) const { return has(at, 4) ? qFromBigEndian<quint32>(m_data + at) : 0; }
    bool matches(qint64 at, const char* text, int length) const
    {
        return has(at, length) && std::memcmp(m_data + at, text, size_t(length)) == 0;
    }
    // The position of the next 0xFF at or after @p at, or size().
    qint64 nextFF(qint64 at) const
    {
        if (at >= m_size) {
            return m_size;
        }
        const void* found = std::memchr(m_data + at, 0xFF, size_t(m_size - at));
        return found ? static_cast<const uchar*>(found) - m_data : m_size;
    }

private:
    const uchar* m_data;
    qint64 m_size;
};

QSize largest(const QSize& a, const QSize& b)
{
    if (!a.isValid() || !b.isValid()) {
        return a.isValid() ? a : b;
    }
    return qint64(a.width()) * a.height() >= qint64(b.width()) * b.height() ? a : b;
}

ZTPictureHeader damaged(
    ZTPictureHeader header, const QString& why, ZTError::Kind kind = ZTError::Kind::Damaged)
{
    header.damage = why;
    header.damageKind = kind;
    return header;
}

// JPEG: markers and their segments up to the end-of-image marker, stepping over the
// entropy-coded data after each start of scan. Multi-scan (progressive) pictures keep every
// coefficient, two bytes per sample, until the last scan.
bool isFrameMarker(uint marker)
{
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// After a scan header at @p at: the position of the marker that ends the scan. In the data, a
// 0xFF is followed by 0 (a stuffed byte) or a restart marker, which belong to the scan.
qint64 endOfScan(const Bytes& b, qint64 at)
{
    for (at = b.nextFF(at); at + 1 < b.size(); at = b.nextFF(at + 2)) {
        const uint next = b.u8(at + 1);
        if (next != 0 && !(next >= 0xD0 && next <= 0xD7)) {
            return at;
        }
    }
    return b.size();
}

// Qt's decoder has libjpeg keep every comment, EXIF (APP1) and ICC (APP2) segment, and then
// joins the comments into text, the EXIF segments into one array and the ICC ones into another.
// Comments are left out of what the decoder sees; the others count: libjpeg's copy and Qt's,
// which may have grown to twice its length while it was joined.
constexpr uint comMarker = 0xFE;
constexpr uint exifMarker = 0xE1;
constexpr uint iccMarker = 0xE2;
constexpr qint64 keptMarkerCopies = 3;

ZTPictureHeader readJpeg(const Bytes& b, ZTPictureHeader header)
{
    int components = 0;
    for (qint64 at = 2;;) {
        while (b.u8(at) == 0xFF && b.u8(at + 1) == 0xFF) {
            ++at; // fill bytes before a marker
        }
        if (!b.has(at, 2)) {
            return damaged(header, truncated);
        }
        if (b.u8(at) != 0xFF) {
            return damaged(header, broken);
        }
        const uint marker = b.u8(at + 1);
        at += 2;
        if (marker == 0xD9) {
            break;
        }
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
            continue; // markers without a segment
        }
        const qint64 length = b.be16(at);
        if (!b.has(at, 2) || !b.has(at, length)) {
            return damaged(header, truncated);
        }
        if (length < 2 || marker == 0xD8 || marker == 0) {
            return damaged(header, broken);
        }
        if (marker == comMarker) {
            header.unusedParts.append({at - 2, 2 + length});
        } else if (marker == exifMarker || marker == iccMarker) {
            header.metadataBytes += keptMarkerCopies * length;
        }
        if (isFrameMarker(marker) && length >= 8) {
            header.size = QSize(int(b.be16(at + 5)), int(b.be16(at + 3)));
            components = int(b.u8(at + 7));
        }
        at += length;
        if (marker == 0xDA) {
            ++header.scans;
            at = endOfScan(b, at);
        }
    }
    if (header.scans == 0) {
        return damaged(header, broken);
    }
    header.bytesPerPixel = outputBytes + (header.scans > 1 ? 2 * components : 0);
    return header;
}

// PNG and MNG: chunks of length, type, data and checksum, from the one after the signature up
// to @p last. Reports each chunk's type and data to @p chunk. The checksums are checked here:
// libpng stops at a wrong one with a message of its own on standard error.
template<typename Chunk>
bool walkChunks(const Bytes& b, const char* last, ZTPictureHeader& header, Chunk chunk)
{
    for (qint64 at = 8;;) {
        const qint64 length = b.be32(at);
        if (!b.has(at, 12) || !b.has(at + 8, length + 4)) {
            header.damage = truncated;
            return false;
        }
        if (length > 0x7FFFFFFF) {
            header.damage = broken;
            return false;
        }
        const Bytes typeAndData = b.part(at + 4, 4 + length);
        if (crc32(0, typeAndData.data(), uInt(typeAndData.size())) != b.be32(at + 8 + length)) {
            header.damage = broken;
            return false;
        }
        chunk(b.part(at + 4, 4), b.part(at + 8, length));
        if (b.matches(at + 4, last, 4)) {
            return true;
        }
        at += 12 + length;
    }
}

// The size in the first 8 bytes of an IHDR, MHDR or JHDR chunk, big-endian.
QSize chunkSize(const Bytes& data)
{
    return QSize(int(std::min<quint32>(data.be32(0), INT_MAX)),
        int(std::min<quint32>(data.be32(4), INT_MAX)));
}

// The whole chunk (length, type, data and checksum) whose type is at @p type in the file @p b.
QPair<qint64, qint64> wholeChunk(const Bytes& b, const Bytes& type, const Bytes& data)
{
    return {type.data() - b.data() - 4, 12 + data.size()};
}

bool isTextChunk(const Bytes& type)
{
    return type.matches(0, "tEXt", 4) || type.matches(0, "zTXt", 4) || type.matches(0, "iTXt", 4);
}

// ICC profiles are copied into the written crops, so they are kept, but one that inflates to
// more than a profile of a photograph is (the largest printer profiles take a few MB) is refused:
// libpng inflates it whole, Qt copies it and parses the copy.
constexpr qint64 maxIccProfileBytes = qint64(16) << 20;
constexpr qint64 iccProfileCopies = 3;

// The size of the zlib stream @p compressed once inflated, counted without keeping it, and
// stopped past @p limit; -1 when the stream is damaged (the decoder then ignores the profile).
qint64 inflatedSize(const Bytes& compressed, qint64 limit)
{
    z_stream stream = {};
    if (inflateInit(&stream) != Z_OK) {
        return -1;
    }
    stream.next_in = const_cast<Bytef*>(compressed.data());
    stream.avail_in = uInt(compressed.size());
    Bytef scratch[16384];
    qint64 total = 0;
    int status = Z_OK;
    while (status == Z_OK && total <= limit) {
        stream.next_out = scratch;
        stream.avail_out = sizeof scratch;
        status = inflate(&stream, Z_NO_FLUSH);
        total += qint64(sizeof scratch - stream.avail_out);
        if (status == Z_BUF_ERROR && stream.avail_in == 0) {
            break; // the stream ends early
        }
    }
    inflateEnd(&stream);
    return status == Z_OK || status == Z_STREAM_END ? total : -1;
}

// iCCP: a name of 1 to 79 bytes, its NUL, the compression method, then the zlib stream.
qint64 iccProfileSize(const Bytes& data)
{
    const void* const nul = std::memchr(data.data(), 0, size_t(std::min<qint64>(data.size(), 80)));
    if (!nul) {
        return 0;
    }
    const qint64 stream = static_cast<const uchar*>(nul) - data.data() + 2;
    return std::max<qint64>(
        0, inflatedSize(data.part(stream, data.size() - stream), maxIccProfileBytes));
}

ZTPictureHeader readPng(const Bytes& b, ZTPictureHeader header)
{
    if (!b.matches(12, "IHDR", 4)) {
        return damaged(header, b.has(12, 4) ? broken : truncated);
    }
    int bitDepth = 8;
    qint64 profileBytes = 0;
    walkChunks(b, "IEND", header, [&](const Bytes& type, const Bytes& data) {
        if (type.matches(0, "IHDR", 4)) {
            header.size = chunkSize(data);
            bitDepth = int(data.u8(8));
        } else if (isTextChunk(type)) {
            header.unusedParts.append(wholeChunk(b, type, data));
        } else if (type.matches(0, "iCCP", 4) && profileBytes == 0) {
            profileBytes = iccProfileSize(data); // libpng reads only the first
        }
    });
    if (profileBytes > maxIccProfileBytes) {
        return damaged(header,
            QStringLiteral("an ICC profile larger than %1 MB").arg(maxIccProfileBytes >> 20),
            ZTError::Kind::TooLarge);
    }
    header.metadataBytes = iccProfileCopies * profileBytes;
    // Sixteen bits a sample decode into 64-bit pixels first.
    header.bytesPerPixel = outputBytes + (bitDepth > 8 ? 4 : 0);
    return header;
}

// The chunks that make an MNG decoder go back and play chunks again: loops (LOOP to ENDL) and
// the repetition of the whole (TERM). Without them each chunk is decoded at most once, so that
// decoding takes time in proportion to the file; ztroi reads only the first frame anyway.
bool isMngRepetition(const Bytes& type)
{
    return type.matches(0, "LOOP", 4) || type.matches(0, "ENDL", 4) || type.matches(0, "TERM", 4);
}

ZTPictureHeader readMng(const Bytes& b, ZTPictureHeader header)
{
    walkChunks(b, "MEND", header, [&](const Bytes& type, const Bytes& data) {
        if (type.matches(0, "MHDR", 4) || type.matches(0, "IHDR", 4)
            || type.matches(0, "JHDR", 4)) {
            header.size = largest(header.size, chunkSize(data));
        } else if (isMngRepetition(type)) {
            header.unusedParts.append(wholeChunk(b, type, data));
        }
    });
    // The canvas, a layer being decoded, its 16-bit form, and Qt's copy.
    header.bytesPerPixel = 4 * 4;
    return header;
}

// GIF: the screen, its colour table, then extensions and frames (each with its colour table and
// LZW data in sub-blocks) up to the trailer. Qt decodes into a screen-sized image and keeps a
// second one for frames that restore what was under them.
ZTPictureHeader readGif(const Bytes& b, ZTPictureHeader header)
{
    if (!b.has(0, 13)) {
        return damaged(header, truncated);
    }
    header.size = QSize(int(b.le16(6)), int(b.le16(8)));
    header.bytesPerPixel = outputBytes + 4;
    const auto colourTable = [&b](qint64 flagsAt) {
        const uint flags = b.u8(flagsAt);
        return flags & 0x80 ? qint64(3) << ((flags & 7) + 1) : 0;
    };
    const auto skipSubBlocks = [&b](qint64 at) {
        while (b.has(at, 1) && b.u8(at) != 0) {
            at += 1 + b.u8(at);
        }
        return b.has(at, 1) ? at + 1 : -1;
    };
    for (qint64 at = 13 + colourTable(10);;) {
        if (!b.has(at, 1)) {
            return damaged(header, truncated);
        }
        switch (b.u8(at)) {
        case 0x3B: // trailer
            return header;
        case 0x21: // extension: label, then sub-blocks
            at = skipSubBlocks(at + 2);
            break;
        case 0x2C: // frame: position, size, flags, colour table, LZW code size, sub-blocks
            if (!b.has(at, 10)) {
                return damaged(header, truncated);
            }
            header.size = header.size.expandedTo(
                QSize(int(b.le16(at + 1) + b.le16(at + 5)), int(b.le16(at + 3) + b.le16(at + 7))));
            at = skipSubBlocks(at + 10 + colourTable(at + 9) + 1);
            break;
        default:
            return damaged(header, broken);
        }
        if (at < 0) {
            return damaged(header, truncated);
        }
    }
}

// BMP: the file and DIB headers, the colour table, and either every row of pixels or, for RLE
// compression, codes up to the end-of-bitmap code.
bool rleComplete(const Bytes& b, qint64 at, bool fourBits)
{
    while (b.has(at, 2)) {
        const uint count = b.u8(at);
        const uint code = b.u8(at + 1);
        at += 2;
        if (count > 0 || code == 0) {
            continue; // a run, or the end of a line
        }
        if (code == 1) {
            return true; // end of bitmap
        }
        if (code == 2) {
            at += 2; // delta
            continue;
        }
        const qint64 literal = fourBits ? (code + 1) / 2 : code;
        at += literal + (literal & 1); // literal pixels, padded to a 16-bit boundary
    }
    return false;
}

ZTPictureHeader readBmp(const Bytes& b, ZTPictureHeader header)
{
    const qint64 dibSize = b.le32(14);
    if (!b.has(0, 18) || !b.has(14, dibSize)) {
        return damaged(header, truncated);
    }
    const bool core = dibSize == 12; // the OS/2 header: 16-bit sizes, 3-byte colours
    if (!core && dibSize < 40) {
        return damaged(header, broken);
    }
    const qint64 width = core ? b.le16(18) : qint32(b.le32(18));
    const qint64 height = core ? b.le16(20) : qAbs(qint64(qint32(b.le32(22))));
    const int bitsPerPixel = int(b.le16(core ? 24 : 28));
    const uint compression = core ? 0 : b.le32(30);
    if (width <= 0 || width > INT_MAX || height > INT_MAX) {
        return damaged(header, broken);
    }
    header.size = QSize(int(width), int(height));
    header.bytesPerPixel = outputBytes;

    const qint64 colours = bitsPerPixel > 8 ? 0
        : core || !b.le32(46)               ? 1 << bitsPerPixel
                                            : b.le32(46);
    const qint64 masks = compression == 3 && dibSize == 40 ? 12 : 0;
    const qint64 pixels = b.le32(10);
    if (!b.has(14 + dibSize + masks, colours * (core ? 3 : 4)) || !b.has(pixels, 0)) {
        return damaged(header, truncated);
    }
    if (compression == 1 || compression == 2) {
        header.codesMaySkipPixels = true;
        return rleComplete(b, pixels, compression == 2) ? header : damaged(header, truncated);
    }
    const qint64 rowBytes = (width * bitsPerPixel + 31) / 32 * 4;
    const bool allRows = rowBytes == 0 || height <= (b.size() - pixels) / rowBytes;
    return allRows ? header : damaged(header, truncated);
}

// WebP: a RIFF file whose chunks all fit; the canvas from VP8X, the frame sizes from VP8, VP8L
// and animation frames. Lossless decoding keeps a second 32-bit copy, animation a canvas.
ZTPictureHeader readWebp(const Bytes& b, ZTPictureHeader header)
{
    const qint64 end = 8 + qint64(b.le32(4));
    if (!b.has(0, 16) || !b.has(0, end)) {
        return damaged(header, truncated);
    }
    header.bytesPerPixel = outputBytes + 4;
    for (qint64 at = 12; at < end;) {
        const qint64 length = b.le32(at + 4);
        const qint64 data = at + 8;
        if (!b.has(at, 8) || data + length > end) {
            return damaged(header, truncated);
        }
        QSize size;
        if (b.matches(at, "VP8X", 4)) {
            size = QSize(int(b.le24(data + 4)) + 1, int(b.le24(data + 7)) + 1);
        } else if (b.matches(at, "ANMF", 4)) {
            size = QSize(int(b.le24(data + 6)) + 1, int(b.le24(data + 9)) + 1);
        } else if (b.matches(at, "VP8 ", 4)) {
            size = QSize(int(b.le16(data + 6) & 0x3FFF), int(b.le16(data + 8) & 0x3FFF));
        } else if (b.matches(at, "VP8L", 4)) {
            const quint32 bits = b.le32(data + 1);
            size = QSize(int(bits & 0x3FFF) + 1, int((bits >> 14) & 0x3FFF) + 1);
        }
        header.size = largest(header.size, size);
        at = data + length + (length & 1);
    }
    return header;
}

// TIFF: the first directory, whose entries' values and strips or tiles must all be in the file.
// libtiff reads whole strips or tiles, which may be as large as the picture's raw samples.
// Photographs have at most five samples a pixel (CMYK and alpha); more are refused.
constexpr quint32 maxTiffSamples = 8;

class TiffDirectory
{
public:
    TiffDirectory(const Bytes& b, bool bigEndian)
        : m_b(b)
        , m_bigEndian(bigEndian)
    {}

    uint u16(qint64 at) const { return m_bigEndian ? m_b.be16(at) : m_b.le16(at); }
    quint32 u32(qint64 at) const { return m_bigEndian ? m_b.be32(at) : m_b.le32(at); }

    // Where the values of the entry at @p entry are, and how many there are of @p *width bytes;
    // -1 when they are not all in the file.
    qint64 values(qint64 entry, qint64* count, int* width) const
    {
        // Bytes per value of each field type, from BYTE (1) to IFD (13).
        static constexpr int typeWidths[] = {1, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
        const uint type = u16(entry + 2);
        *width = typeWidths[type < 14 ? type : 0];
        *count = u32(entry + 4);
        const qint64 bytes = *count * *width;
        const qint64 at = bytes <= 4 ? entry + 8 : u32(entry + 8);
        return m_b.has(at, bytes) ? at : -1;
    }
    quint32 value(qint64 at, int width, qint64 index) const
    {
        return width == 2 ? u16(at + 2 * index)
            : width == 4  ? u32(at + 4 * index)
                          : m_b.u8(at + index);
    }

private:
    const Bytes& m_b;
    bool m_bigEndian;
};

ZTPictureHeader readTiff(const Bytes& b, ZTPictureHeader header)
{
    const TiffDirectory tiff(b, b.u8(0) == 'M');
    const qint64 directory = tiff.u32(4);
    const qint64 entries = tiff.u16(directory);
    if (!b.has(directory, 2) || !b.has(directory + 2, entries * 12)) {
        return damaged(header, truncated);
    }
    enum Tag {
        Width = 256,
        Height = 257,
        BitsPerSample = 258,
        StripOffsets = 273,
        SamplesPerPixel = 277,
        StripByteCounts = 279,
        TileWidth = 322,
        TileLength = 323,
        TileOffsets = 324,
        TileByteCounts = 325
    };
    quint32 bits = 1;
    quint32 samples = 1;
    QSize tile;
    qint64 offsets = -1, offsetCount = 0, lengths = -1, lengthCount = 0;
    int offsetWidth = 0, lengthWidth = 0;
    for (qint64 i = 0; i < entries; ++i) {
        const qint64 entry = directory + 2 + 12 * i;
        qint64 count = 0;
        int valueWidth = 0;
        const qint64 at = tiff.values(entry, &count, &valueWidth);
        if (at < 0) {
            return damaged(header, truncated);
        }
        const int first = int(std::min<quint32>(tiff.value(at, valueWidth, 0), INT_MAX));
        switch (tiff.u16(entry)) {
        case Width:
            header.size.setWidth(first);
            break;
        case Height:
            header.size.setHeight(first);
            break;
        case BitsPerSample:
            bits = quint32(first);
            break;
        case SamplesPerPixel:
            samples = quint32(first);
            break;
        case TileWidth:
            tile.setWidth(first);
            break;
        case TileLength:
            tile.setHeight(first);
            break;
        case StripOffsets:
        case TileOffsets:
            offsets = at, offsetCount = count, offsetWidth = valueWidth;
            break;
        case StripByteCounts:
        case TileByteCounts:
            lengths = at, lengthCount = count, lengthWidth = valueWidth;
            break;
        }
    }
    if (offsets < 0 || lengths < 0 || offsetCount != lengthCount) {
        return damaged(header, broken);
    }
    for (qint64 i = 0; i < offsetCount; ++i) {
        if (!b.has(tiff.value(offsets, offsetWidth, i), tiff.value(lengths, lengthWidth, i))) {
            return damaged(header, truncated);
        }
    }
    // libtiff decodes a whole strip or tile at a time. Strips are never longer than the picture
    // (libtiff clamps RowsPerStrip to it), but a tile can be any size, and one beyond the picture
    // takes memory that the picture's size does not tell. Qt 6's reader also refuses a tile that
    // holds more bytes than the decoded picture, which Qt 5's reads: refused here for both, so
    // that a file gives the same result whichever Qt reads it.
    if (tile.width() > header.size.width() || tile.height() > header.size.height()) {
        return damaged(header,
            QStringLiteral("tiles larger than the picture (%1x%2)")
                .arg(tile.width())
                .arg(tile.height()));
    }
    if (samples > maxTiffSamples) {
        return damaged(header,
            QStringLiteral("more samples per pixel than a picture has (%1, more than %2)")
                .arg(samples)
                .arg(maxTiffSamples));
    }
    // Samples deeper than 8 bits decode into 64-bit pixels first.
    const int rawBytes = int(samples * std::min<quint32>((bits + 7) / 8, 8));
    header.bytesPerPixel = outputBytes + (bits > 8 ? 8 : 0) + rawBytes;
    return header;
}

// ICO and CUR: a directory of entries, each a PNG or a BMP without its file header. The sizes in
// the directory are only hints (one byte each); the entries' own headers count. A directory of
// no entries is no icon: an uncompressed TGA without a colour map starts with the bytes of a CUR.
ZTPictureHeader readIco(const Bytes& b, ZTPictureHeader header)
{
    const qint64 count = b.le16(4);
    if (b.has(4, 2) && count == 0) {
        return ZTPictureHeader();
    }
    if (!b.has(6, 16 * count)) {
        return damaged(header, truncated);
    }
    header.bytesPerPixel = outputBytes + 4;
    for (qint64 i = 0; i < count; ++i) {
        const qint64 entry = 6 + 16 * i;
        const Bytes image = b.part(b.le32(entry + 12), b.le32(entry + 8));
        if (!b.has(b.le32(entry + 12), b.le32(entry + 8))) {
            return damaged(header, truncated);
        }
        ZTPictureHeader inner;
        if (image.matches(0, "\x89PNG\r\n\x1A\n", 8)) {
            inner = readPng(image, inner);
        } else {
            // BITMAPINFOHEADER: the height counts the colour and the mask rows.
            inner.size = QSize(qint32(image.le32(4)), qint32(image.le32(8)) / 2);
            if (!image.has(0, 40)) {
                inner.damage = truncated;
            }
        }
        if (!inner.damage.isEmpty()) {
            return damaged(header, inner.damage);
        }
        header.size = largest(header.size, inner.size);
        header.metadataBytes += inner.metadataBytes;
    }
    return header;
}

struct Signature
{
    const char* format;
    const char* bytes;
    int length;
    int at;
    ZTPictureHeader (*read)(const Bytes&, ZTPictureHeader);
};

const Signature signatures[] = {
    {"jpeg", "\xFF\xD8\xFF", 3, 0, readJpeg},
    {"png", "\x89PNG\r\n\x1A\n", 8, 0, readPng},
    {"gif", "GIF87a", 6, 0, readGif},
    {"gif", "GIF89a", 6, 0, readGif},
    {"bmp", "BM", 2, 0, readBmp},
    {"webp", "WEBP", 4, 8, readWebp}, // after "RIFF" and the file's length
    {"tiff", "II*\0", 4, 0, readTiff},
    {"tiff", "MM\0*", 4, 0, readTiff},
    {"ico", "\0\0\1\0", 4, 0, readIco},
    {"cur", "\0\0\2\0", 4, 0, readIco},
    {"mng", "\x8AMNG\r\n\x1A\n", 8, 0, readMng},
};

} // namespace

ZTPictureHeader ZTPictureHeader::read(const QByteArray& data)
{
    const Bytes b(data);
    for (const Signature& signature : signatures) {
        if (b.matches(signature.at, signature.bytes, signature.length)
            && (signature.at == 0 || b.matches(0, "RIFF", 4))) {
            ZTPictureHeader header;
            header.format = signature.format;
            return signature.read(b, header);
        }
    }
    return ZTPictureHeader();
}

void ZTPictureHeader::dropUnusedParts(const ZTPictureHeader& header, QByteArray* data)
{
    if (header.unusedParts.isEmpty()) {
        return;
    }
    char* const bytes = data->data();
    qint64 kept = header.unusedParts.first().first;
    for (int i = 0; i < header.unusedParts.size(); ++i) {
        const qint64 from = header.unusedParts.at(i).first + header.unusedParts.at(i).second;
        const qint64 to = i + 1 < header.unusedParts.size() ? header.unusedParts.at(i + 1).first
                                                            : qint64(data->size());
        std::memmove(bytes + kept, bytes + from, size_t(to - from));
        kept += to - from;
    }
    data->truncate(int(kept));
}
