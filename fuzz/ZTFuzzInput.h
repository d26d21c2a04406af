#ifndef ZTFUZZINPUT_H
#define ZTFUZZINPUT_H

// The byte format shared by the library's fuzz targets and the seed generator: a reader that
// turns fuzz bytes into pictures and settings, and a writer that makes inputs for chosen
// settings. Values are read from the front; a reader that runs out of bytes reads zeros, so every
// byte string is a valid input.

#include <QByteArray>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QVector>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

namespace ZTFuzz {

// Integers that sit at the edges of the documented limits and of the int range. A setting byte
// from settingTableStart on picks one of them, so the fuzzer reaches them without guessing four
// bytes; smaller bytes are small integers around 0, and the last byte value is followed by four
// raw bytes.
constexpr int intEdges[] = {
    std::numeric_limits<int>::min(),
    std::numeric_limits<int>::min() + 1,
    -1000000000,
    -65536,
    -257,
    -256,
    -101,
    -100,
    -91,
    -90,
    -46,
    -45,
    -7,
    -4,
    -3,
    -2,
    -1,
    0,
    1,
    2,
    3,
    4,
    7,
    45,
    46,
    90,
    91,
    99,
    100,
    101,
    150,
    151,
    153,
    154,
    255,
    256,
    257,
    1000,
    65535,
    65536,
    1 << 20,
    1000000000,
    std::numeric_limits<int>::max() / 2,
    std::numeric_limits<int>::max() - 1,
    std::numeric_limits<int>::max(),
};
constexpr int intEdgeCount = int(sizeof(intEdges) / sizeof(intEdges[0]));
constexpr int smallIntBias = 64; // byte b below settingTableStart is the integer b - 64
constexpr int settingTableStart = 160;
constexpr int rawSetting = 255;

const double doubleEdges[] = {
    std::numeric_limits<double>::quiet_NaN(),
    -std::numeric_limits<double>::quiet_NaN(),
    std::numeric_limits<double>::infinity(),
    -std::numeric_limits<double>::infinity(),
    0.0,
    -0.0,
    std::numeric_limits<double>::denorm_min(),
    std::numeric_limits<double>::min(),
    1e-300,
    std::numeric_limits<double>::max(),
    -std::numeric_limits<double>::max(),
    0.25,
    0.5,
    0.67,
    1.0,
    -1.0,
    2.6,
    100.0,
    1e9,
    -1e9,
};
constexpr int doubleEdgeCount = int(sizeof(doubleEdges) / sizeof(doubleEdges[0]));
constexpr int rawDouble = 255;

// Picture sides: a byte below largeSideStart is a side of byte % smallSides pixels, the bytes
// from there on reach up to 32 + 31 * 12 = 404 pixels in steps of 12.
constexpr int smallSides = 32;
constexpr int largeSideStart = 224;
constexpr int largeSideStep = 12;
constexpr int largestSide = smallSides + (255 - largeSideStart) * largeSideStep;

// The formats a picture can have; the table index is what the input names.
constexpr QImage::Format pictureFormats[] = {
    QImage::Format_ARGB32,
    QImage::Format_RGB32,
    QImage::Format_ARGB32_Premultiplied,
    QImage::Format_Indexed8,
    QImage::Format_Mono,
    QImage::Format_MonoLSB,
    QImage::Format_Grayscale8,
    QImage::Format_RGB888,
    QImage::Format_RGB16,
    QImage::Format_ARGB4444_Premultiplied,
    QImage::Format_RGBA8888,
    QImage::Format_A2RGB30_Premultiplied,
    QImage::Format_Alpha8,
    QImage::Format_Grayscale16,
    QImage::Format_RGBA64,
};
constexpr int pictureFormatCount = int(sizeof(pictureFormats) / sizeof(pictureFormats[0]));

class Reader
{
public:
    Reader(const uint8_t* data, size_t size)
        : m_data(data)
        , m_size(size)
    {}

    bool atEnd() const { return m_position >= m_size; }

    uint8_t byte() { return m_position < m_size ? m_data[m_position++] : 0; }

    bool flag() { return (byte() & 1u) != 0; }

    uint32_t word()
    {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            value |= uint32_t(byte()) << (8 * i);
        }
        return value;
    }

    /** A number in 0 ... count - 1. */
    int choice(int count) { return int(byte()) % count; }

    /** Any int, with small values and the edges of intEdges most likely. */
    int setting()
    {
        const int tag = byte();
        if (tag < settingTableStart) {
            return tag - smallIntBias;
        }
        if (tag == rawSetting) {
            return int(word());
        }
        return intEdges[(tag - settingTableStart) % intEdgeCount];
    }

    /** Any double, NaN and the infinities included. */
    double real()
    {
        const int tag = byte();
        if (tag == rawDouble) {
            const uint64_t low = word();
            const uint64_t bits = low | uint64_t(word()) << 32;
            double value;
            std::memcpy(&value, &bits, sizeof value);
            return value;
        }
        return doubleEdges[tag % doubleEdgeCount];
    }

    int side()
    {
        const int b = byte();
        return b < largeSideStart ? b % smallSides
                                  : smallSides + (b - largeSideStart) * largeSideStep;
    }

    // Braces fix the order in which the arguments are read.
    QSize size() { return QSize {setting(), setting()}; }
    /** A rectangle by its corners, which any four ints can be (its size need not fit an int). */
    QRect rect()
    {
        const QPoint topLeft {setting(), setting()};
        return QRect(topLeft, QPoint {setting(), setting()});
    }

    /**
     * A picture: sides, format, for indexed formats a colour table of 0 ... 255 entries (so that
     * indices can lie outside it), then the pixel bytes, which repeat the rest of the input.
     */
    QImage picture()
    {
        const int width = side();
        const int height = side();
        const QImage::Format format = pictureFormats[choice(pictureFormatCount)];
        const int colours = byte();
        QVector<QRgb> table;
        if (format == QImage::Format_Indexed8 || format == QImage::Format_Mono
            || format == QImage::Format_MonoLSB) {
            for (int i = 0; i < colours; ++i) {
                table.append(word());
            }
        }
        QImage image(width, height, format);
        if (image.isNull()) {
            return image;
        }
        image.setColorTable(table);
        uchar* const bits = image.bits();
        const size_t total = size_t(image.sizeInBytes());
        const size_t available = m_position < m_size ? m_size - m_position : 0;
        if (available == 0) {
            std::memset(bits, 0, total);
            return image;
        }
        for (size_t i = 0; i < total; ++i) {
            bits[i] = m_data[m_position + i % available];
        }
        return image;
    }

private:
    const uint8_t* const m_data;
    const size_t m_size;
    size_t m_position = 0;
};

/** Writes inputs that Reader reads back as the given values. */
class Writer
{
public:
    void byte(int value) { m_bytes.append(char(uint8_t(value))); }
    void flag(bool value) { byte(value ? 1 : 0); }

    void word(uint32_t value)
    {
        for (int i = 0; i < 4; ++i) {
            byte(int(value >> (8 * i)));
        }
    }

    void setting(int value)
    {
        if (value >= -smallIntBias && value < settingTableStart - smallIntBias) {
            byte(value + smallIntBias);
            return;
        }
        for (int i = 0; i < intEdgeCount && settingTableStart + i < rawSetting; ++i) {
            if (intEdges[i] == value) {
                byte(settingTableStart + i);
                return;
            }
        }
        byte(rawSetting);
        word(uint32_t(value));
    }

    void real(double value)
    {
        for (int i = 0; i < doubleEdgeCount; ++i) {
            // Bit equality tells NaNs and zeros of either sign apart.
            if (std::memcmp(&doubleEdges[i], &value, sizeof value) == 0) {
                byte(i);
                return;
            }
        }
        byte(rawDouble);
        uint64_t bits;
        std::memcpy(&bits, &value, sizeof value);
        word(uint32_t(bits));
        word(uint32_t(bits >> 32));
    }

    /** A side that Reader::side() reads back exactly for 0 ... 31 and 32 + 12k up to 404. */
    void side(int value)
    {
        if (value < smallSides) {
            byte(value);
        } else {
            byte(largeSideStart + (value - smallSides) / largeSideStep);
        }
    }

    void size(const QSize& value)
    {
        setting(value.width());
        setting(value.height());
    }

    void rect(const QRect& value)
    {
        setting(value.left());
        setting(value.top());
        setting(value.right());
        setting(value.bottom());
    }

    /** A picture header (no colour table); the pixels are the bytes written after it. */
    void pictureHeader(int width, int height, int formatIndex)
    {
        side(width);
        side(height);
        byte(formatIndex);
        byte(0);
    }

    void bytes(const QByteArray& data) { m_bytes.append(data); }

    QByteArray data() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

} // namespace ZTFuzz

#endif // ZTFUZZINPUT_H
