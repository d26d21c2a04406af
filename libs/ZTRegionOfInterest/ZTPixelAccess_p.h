#ifndef ZTPIXELACCESS_P_H
#define ZTPIXELACCESS_P_H

// Internal helpers for the filters that accept pictures of any format. Not installed.

#include <QImage>
#include <QVector>

namespace ZTPixelAccess {

/**
 * Whether the scan lines of @p format hold 0xAARRGGBB words that QImage::pixel returns as they
 * are (for Format_RGB32 with the alpha byte forced to 0xFF).
 */
inline bool holdsQRgbWords(QImage::Format format)
{
    return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32
        || format == QImage::Format_ARGB32_Premultiplied;
}

/** Whether the pixels of @p format are indices into the colour table. */
inline bool isIndexed(QImage::Format format)
{
    return format == QImage::Format_Mono || format == QImage::Format_MonoLSB
        || format == QImage::Format_Indexed8;
}

/**
 * Reads pixels as QImage::pixel does, except that an indexed pixel whose index lies outside the
 * colour table reads as 0 silently instead of with a logged warning.
 *
 * The reader refers to the image, so it sees later writes to it; the image must outlive it.
 */
class PixelReader
{
public:
    explicit PixelReader(const QImage& image)
        : m_image(image)
        , m_colours(image.colorTable())
        , m_indexed(isIndexed(image.format()))
    {}

    QRgb pixel(int x, int y) const
    {
        if (!m_indexed) {
            return m_image.pixel(x, y);
        }
        const int index = m_image.pixelIndex(x, y);
        return index < m_colours.size() ? m_colours.at(index) : 0u;
    }

private:
    const QImage& m_image;
    const QVector<QRgb> m_colours;
    const bool m_indexed;
};

} // namespace ZTPixelAccess

#endif // ZTPIXELACCESS_P_H
