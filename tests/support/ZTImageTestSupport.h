#ifndef ZTIMAGETESTSUPPORT_H
#define ZTIMAGETESTSUPPORT_H

// Helpers shared by the image tests: pictures built in code, random pictures, exact comparison of
// stored pixel words, and the straightforward references of ZTNaiveReferences.h.

#include "ZTNaiveReferences.h"

#include <QImage>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>

namespace ZTImageTest {

using namespace ZTNaive;

// Whether @p actual and @p expected have the same format, size and stored bytes in every row
// (QImage's operator== ignores the alpha byte of Format_RGB32). A mismatch is logged under @p name.
inline bool sameStoredPixels(const QImage& actual, const QImage& expected, const QString& name)
{
    bool same = actual.format() == expected.format() && actual.size() == expected.size();
    for (int y = 0; same && y < actual.height(); ++y) {
        const size_t rowBytes = size_t(actual.width() * actual.depth() + 7) / 8;
        same = std::memcmp(actual.constScanLine(y), expected.constScanLine(y), rowBytes) == 0;
    }
    if (!same) {
        qWarning("%s: the images differ", qPrintable(name));
    }
    return same;
}

// A @p format picture of @p size filled with @p colour.
inline QImage uniform(const QSize& size, QRgb colour, QImage::Format format = QImage::Format_ARGB32)
{
    QImage image(size, format);
    image.fill(QColor::fromRgba(colour));
    return image;
}

// Every red value 0 ... 255.
inline std::vector<int> allReds()
{
    std::vector<int> reds(256);
    std::iota(reds.begin(), reds.end(), 0);
    return reds;
}

// A picture of random pixel words whose red components are drawn from @p reds, so that equal
// reds with different other channels are common. The 0xAARRGGBB formats keep a random alpha byte
// (Format_RGB32 too, as in scan lines written directly); other formats are converted.
inline QImage randomPicture(const QSize& size, QImage::Format format, std::mt19937& random,
    const std::vector<int>& reds = allReds())
{
    QImage words(size, QImage::Format_ARGB32); // rows of 4-byte pixels follow each other
    std::uniform_int_distribution<size_t> pick(0, reds.size() - 1);
    std::generate_n(reinterpret_cast<QRgb*>(words.bits()), size.width() * size.height(),
        [&] { return (quint32(random()) & 0xFF00FFFFu) | quint32(reds[pick(random)]) << 16; });
    if (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32_Premultiplied) {
        words.reinterpretAsFormat(format);
    }
    return words.convertToFormat(format);
}

// A picture of random colours in blocks of about @p block x @p block pixels.
inline QImage randomBlocks(const QSize& size, int block, std::mt19937& random)
{
    const QSize blocks((size.width() + block - 1) / block, (size.height() + block - 1) / block);
    return randomPicture(blocks, QImage::Format_ARGB32, random).scaled(size);
}

} // namespace ZTImageTest

#endif // ZTIMAGETESTSUPPORT_H
