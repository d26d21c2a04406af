#ifndef ZTSALIENCEMAP_P_H
#define ZTSALIENCEMAP_P_H

// Internal helpers shared by the classes that write or read salience maps. Not installed.

#include <QImage>

namespace ZTSalienceMap {

/** The most salient value of a map pixel (the least is 0). */
constexpr int largestSalience = 255;

/** The alpha bits of an opaque pixel word. */
constexpr QRgb opaqueAlpha = 0xFF000000u;

/** The opaque grey pixel that stores salience @p v (0 ... 255). */
constexpr QRgb grey(unsigned v)
{
    return opaqueAlpha | (v << 16) | (v << 8) | v;
}

/** Salience of a map pixel: its red component. */
constexpr int salience(QRgb pixel)
{
    return int((pixel >> 16) & 0xFFu);
}

/**
 * @p map itself when its pixels are 32-bit words, otherwise a Format_ARGB32 copy. Readers walk
 * scan lines as QRgb words, which a map with fewer bits per pixel would overrun.
 */
inline QImage with32BitPixels(const QImage& map)
{
    if (map.isNull() || map.depth() == 32) {
        return map;
    }
    return map.convertToFormat(QImage::Format_ARGB32);
}

} // namespace ZTSalienceMap

#endif // ZTSALIENCEMAP_P_H
