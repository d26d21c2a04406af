#ifndef ZTNUMPYPICTURE_H
#define ZTNUMPYPICTURE_H

#include <QImage>

#include <pybind11/numpy.h>

#include <cstdint>
#include <string>

/**
 * A NumPy array of 8-bit pixels seen as a QImage, mostly without a copy.
 *
 * A picture is an H x W x 3 or H x W x 4 array whose channels are in the order @p channels names:
 * "RGB", "BGR", "RGBA" or "BGRA"; an empty @p channels means RGB or RGBA. An H x W array is grey.
 * A map is an H x W array of salience values.
 *
 * The image reads the array's memory when the pixels of each row are packed (any positive row
 * stride will do, so crops of a larger array qualify) and, for four channels, aligned to 4 bytes;
 * other layouts (flipped, every other column, ...) are first copied into a packed array. The object
 * keeps the array alive: image() and its copies are valid while the object lives. Construct and
 * destroy it with the GIL held; image() may be used without it.
 *
 * Throws pybind11::type_error for anything but a uint8 array, pybind11::value_error for another
 * shape, a channel order that does not match the shape, an empty array and one too large for a
 * QImage (2 GiB).
 */
class ZTNumpyPicture
{
public:
    enum Kind { Picture, Map };

    ZTNumpyPicture(const pybind11::object& array, Kind kind, const std::string& channels = {});
    Q_DISABLE_COPY(ZTNumpyPicture)

    const QImage& image() const { return m_image; }

    /** The red components of @p map (a salience or cube map) as an H x W uint8 array. */
    static pybind11::array_t<std::uint8_t> mapToArray(const QImage& map);
    /**
     * A crop's picture as an H x W x 3 array (H x W x 4 with alpha when it has transparency,
     * not premultiplied), in RGB(A) order, or BGR(A) with @p bgr.
     */
    static pybind11::array_t<std::uint8_t> cropToArray(const QImage& crop, bool bgr);
    /** @p image as an H x W x 4 uint8 array in RGBA order. */
    static pybind11::array_t<std::uint8_t> pictureToArray(const QImage& image);

private:
    pybind11::array m_array;
    QImage m_image;
};

#endif // ZTNUMPYPICTURE_H
