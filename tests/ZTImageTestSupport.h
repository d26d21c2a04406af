#ifndef ZTIMAGETESTSUPPORT_H
#define ZTIMAGETESTSUPPORT_H

// Helpers shared by the image tests: exact comparison of stored pixel words and random pictures.

#include <QDir>
#include <QImage>
#include <QString>
#include <QtTest>

#include <cstring>
#include <random>
#include <vector>

namespace ZTImageTest {

/**
 * Whether @p actual and @p expected have the same format, size and stored bytes in every row
 * (QImage's operator== ignores the alpha byte of Format_RGB32). On a mismatch both images are
 * saved in the temporary folder under @p name and the first differing pixel is reported.
 */
inline bool sameStoredPixels(const QImage& actual, const QImage& expected, const QString& name)
{
    if (actual.format() != expected.format() || actual.size() != expected.size()) {
        qWarning("%s: format %d / %d, size %dx%d / %dx%d", qPrintable(name), actual.format(),
            expected.format(), actual.width(), actual.height(), expected.width(),
            expected.height());
        return false;
    }
    const int rowBytes = (actual.width() * actual.depth() + 7) / 8;
    for (int y = 0; y < actual.height(); ++y) {
        if (std::memcmp(actual.constScanLine(y), expected.constScanLine(y), size_t(rowBytes))
            != 0) {
            int x = 0;
            while (x < actual.width() && actual.pixel(x, y) == expected.pixel(x, y)) {
                ++x;
            }
            const QString base = QDir::temp().filePath(name);
            actual.save(base + QLatin1String("-actual.png"));
            expected.save(base + QLatin1String("-expected.png"));
            qWarning(
                "%s: first difference in row %d near column %d (%08x / %08x), saved as %s-*.png",
                qPrintable(name), y, x, x < actual.width() ? actual.pixel(x, y) : 0u,
                x < actual.width() ? expected.pixel(x, y) : 0u, qPrintable(base));
            return false;
        }
    }
    return true;
}

/**
 * A picture of random pixel words whose red components are drawn from @p reds, so that equal
 * reds with different other channels are common. For Format_RGB32 the alpha byte is random too,
 * as in scan lines written directly.
 */
inline QImage randomPicture(
    const QSize& size, QImage::Format format, std::mt19937& random, const std::vector<int>& reds)
{
    QImage argb(size, QImage::Format_ARGB32);
    std::uniform_int_distribution<quint32> word;
    std::uniform_int_distribution<size_t> pick(0, reds.size() - 1);
    for (int y = 0; y < argb.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(argb.scanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            line[x] = (word(random) & 0xFF00FFFFu) | (quint32(reds[pick(random)]) << 16);
        }
    }
    if (format == QImage::Format_ARGB32 || format == QImage::Format_RGB32
        || format == QImage::Format_ARGB32_Premultiplied) {
        // Reinterpret the words rather than convert them, keeping every bit random.
        QImage words(size, format);
        for (int y = 0; y < argb.height(); ++y) {
            std::memcpy(words.scanLine(y), argb.constScanLine(y), size_t(argb.width()) * 4);
        }
        return words;
    }
    return argb.convertToFormat(format);
}

/** Every red value 0 ... 255. */
inline std::vector<int> allReds()
{
    std::vector<int> reds(256);
    for (int i = 0; i < 256; ++i) {
        reds[size_t(i)] = i;
    }
    return reds;
}

/** A picture of random colours in blocks of about @p block x @p block pixels. */
inline QImage randomBlocks(const QSize& size, int block, std::mt19937& random)
{
    const QSize blocks((size.width() + block - 1) / block, (size.height() + block - 1) / block);
    return randomPicture(blocks, QImage::Format_ARGB32, random, allReds()).scaled(size);
}

// The filter exactly as defined, through QImage::pixel and QImage::setPixel.
inline QImage naiveMaxFilter(const QImage& input, int size, int threshold)
{
    QImage result = input.copy(0, 0, input.width(), input.height());
    const int half = size / 2;
    for (int y = 0; y < input.height(); ++y) {
        for (int x = 0; x < input.width(); ++x) {
            const QRgb p = input.pixel(x, y);
            if (qRed(p) <= threshold || half < 0) {
                continue;
            }
            for (int k = -half; k <= half; ++k) {
                const int xx = x + k;
                if (xx >= 0 && xx < input.width() && qRed(p) > qRed(result.pixel(xx, y))) {
                    result.setPixel(xx, y, p);
                }
            }
            for (int k = -half; k <= half; ++k) {
                const int yy = y + k;
                if (yy >= 0 && yy < input.height() && qRed(p) > qRed(result.pixel(x, yy))) {
                    result.setPixel(x, yy, p);
                }
            }
        }
    }
    return result;
}

} // namespace ZTImageTest

#endif // ZTIMAGETESTSUPPORT_H
