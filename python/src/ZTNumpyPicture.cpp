#include "ZTNumpyPicture.h"

#include <QtGlobal>

#include <climits>
#include <cstring>

namespace py = pybind11;

namespace {

// BGRA bytes are one 0xAARRGGBB word, Format_ARGB32, on a little-endian machine only.
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "BGRA arrays are read as Format_ARGB32 words");

struct ChannelOrder
{
    const char* name;
    int channels;
    QImage::Format format;
};

constexpr ChannelOrder channelOrders[] = {
    {"RGB", 3, QImage::Format_RGB888},
    {"BGR", 3, QImage::Format_BGR888},
    {"RGBA", 4, QImage::Format_RGBA8888},
    {"BGRA", 4, QImage::Format_ARGB32},
};

std::string shapeText(const py::array& array)
{
    return py::str(array.attr("shape")).cast<std::string>();
}

QImage::Format formatOf(int channels, const std::string& order)
{
    if (channels == 1 && order.empty()) {
        return QImage::Format_Grayscale8;
    }
    for (const ChannelOrder& known : channelOrders) {
        if (known.channels == channels && (order.empty() || order == known.name)) {
            return known.format;
        }
    }
    throw py::value_error("channels '" + order + "' do not fit an array of "
        + std::to_string(channels) + " channel" + (channels == 1 ? "" : "s")
        + "; expected RGB or BGR for 3 channels, RGBA or BGRA for 4");
}

// The distance between rows in bytes; a single row is as long as its pixels, whatever stride NumPy
// reports for it.
py::ssize_t rowStrideOf(const py::array& array, int channels)
{
    return array.shape(0) == 1 ? array.shape(1) * channels : array.strides(0);
}

// QImage counts the bytes of a row and of the whole image in int.
bool fitsQImage(py::ssize_t height, py::ssize_t width, py::ssize_t rowBytes)
{
    return width <= INT_MAX && rowBytes <= INT_MAX && height <= INT_MAX / rowBytes;
}

// Whether QImage can read the array's memory as it is: packed pixels in rows of a positive
// stride that QImage can count, and 32-bit pixels aligned as the methods read them. The stride of
// an axis of length 1 does not matter.
bool qimageReadsInPlace(const py::array& array, int channels)
{
    const bool packedChannels = array.ndim() == 2 || array.strides(2) == 1;
    const bool packedPixels = array.shape(1) == 1 || array.strides(1) == channels;
    const py::ssize_t rowStride = rowStrideOf(array, channels);
    if (!packedChannels || !packedPixels || rowStride < array.shape(1) * channels
        || !fitsQImage(array.shape(0), array.shape(1), rowStride)) {
        return false;
    }
    const auto address = reinterpret_cast<std::uintptr_t>(array.data());
    return channels != 4 || (address % 4 == 0 && rowStride % 4 == 0);
}

} // namespace

ZTNumpyPicture::ZTNumpyPicture(const py::object& object, Kind kind, const std::string& channels)
{
    if (!py::isinstance<py::array>(object)) {
        throw py::type_error("expected a NumPy array of uint8, got "
            + py::str(py::type::of(object).attr("__name__")).cast<std::string>());
    }
    m_array = py::reinterpret_borrow<py::array>(object);
    if (m_array.dtype().kind() != 'u' || m_array.itemsize() != 1) {
        throw py::type_error("expected an array of dtype uint8, got "
            + py::str(m_array.dtype()).cast<std::string>());
    }
    const bool grey = m_array.ndim() == 2;
    if (kind == Map && !grey) {
        throw py::value_error("expected an H x W map, got shape " + shapeText(m_array));
    }
    if (!grey && (m_array.ndim() != 3 || m_array.shape(2) < 3 || m_array.shape(2) > 4)) {
        throw py::value_error(
            "expected an H x W x 3 or H x W x 4 array, got shape " + shapeText(m_array));
    }
    const int channelCount = grey ? 1 : int(m_array.shape(2));
    const QImage::Format format = formatOf(channelCount, channels);
    if (m_array.shape(0) == 0 || m_array.shape(1) == 0) {
        throw py::value_error("the array is empty: shape " + shapeText(m_array));
    }

    const py::ssize_t height = m_array.shape(0);
    const py::ssize_t width = m_array.shape(1);
    // Checked before a copy, which could otherwise take all memory for a broadcast array.
    if (!fitsQImage(height, width, width * channelCount)) {
        throw py::value_error("the array is too large for a picture: shape " + shapeText(m_array));
    }
    if (!qimageReadsInPlace(m_array, channelCount)) {
        m_array = py::module_::import("numpy").attr("ascontiguousarray")(m_array);
    }
    const py::ssize_t rowStride = rowStrideOf(m_array, channelCount);
    m_image = QImage(
        static_cast<const uchar*>(m_array.data()), int(width), int(height), int(rowStride), format);
    if (m_image.isNull()) {
        throw py::value_error("the array cannot be read as a picture: shape " + shapeText(m_array));
    }
}

py::array_t<std::uint8_t> ZTNumpyPicture::mapToArray(const QImage& map)
{
    const bool argbWords
        = map.format() == QImage::Format_ARGB32 || map.format() == QImage::Format_RGB32;
    const QImage words = argbWords ? map : map.convertToFormat(QImage::Format_ARGB32);
    const int width = words.width();
    const int height = words.height();
    py::array_t<std::uint8_t> array({height, width});
    std::uint8_t* out = array.mutable_data();
    for (int y = 0; y < height; ++y) {
        const QRgb* const line = reinterpret_cast<const QRgb*>(words.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            *out++ = std::uint8_t(qRed(line[x]));
        }
    }
    return array;
}

py::array_t<std::uint8_t> ZTNumpyPicture::pictureToArray(const QImage& image)
{
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    const int width = rgba.width();
    const int height = rgba.height();
    py::array_t<std::uint8_t> array({height, width, 4});
    const size_t rowBytes = size_t(width) * 4;
    for (int y = 0; y < height; ++y) {
        std::memcpy(array.mutable_data(y), rgba.constScanLine(y), rowBytes);
    }
    return array;
}

py::array_t<std::uint8_t> ZTNumpyPicture::cropToArray(const QImage& crop, bool bgr)
{
    const bool alpha = crop.hasAlphaChannel();
    const int channels = alpha ? 4 : 3;
    QImage::Format format = alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888;
    if (bgr) {
        // Qt has no 8-bit BGRA format: ARGB32 words are B, G, R, A bytes on this machine.
        format = alpha ? QImage::Format_ARGB32 : QImage::Format_BGR888;
    }
    const QImage converted = crop.convertToFormat(format);
    const int width = converted.width();
    const int height = converted.height();
    py::array_t<std::uint8_t> array({height, width, channels});
    const size_t rowBytes = size_t(width) * channels;
    for (int y = 0; y < height; ++y) {
        std::memcpy(array.mutable_data(y), converted.constScanLine(y), rowBytes);
    }
    return array;
}
