// The results that depend on Qt's own code, checked against digests that the Qt 5 and the Qt 6
// builds share: nearest-neighbour scaling into the analysis size, the conversions of every
// decoded format to 32-bit words, the maps of the bundled photograph and of pictures built here,
// ztroi's overlays and crops. Each digest covers many pictures; one that a build does not give
// means that a result would depend on the Qt version.

#include "ZTSalienzMixer.h"

#include "crops/ZTCropWriter.h"
#include "crops/ZTOverlayPainter.h"

#include <QCryptographicHash>
#include <QtTest>

#include <cstring>

namespace {

// The digest of the size, the format, the stored bytes of every row and the colour table of
// each of @p images.
QByteArray digestOf(const QList<QImage>& images)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    for (const QImage& image : images) {
        hash.addData(QByteArray::number(image.width()) + 'x' + QByteArray::number(image.height())
            + ':' + QByteArray::number(int(image.format())));
        const int rowBytes = (image.width() * image.depth() + 7) / 8;
        for (int y = 0; y < image.height(); ++y) {
            hash.addData(QByteArray::fromRawData(
                reinterpret_cast<const char*>(image.constScanLine(y)), rowBytes));
        }
        for (const QRgb colour : image.colorTable()) {
            hash.addData(QByteArray::number(colour));
        }
    }
    return hash.result().toHex().left(16);
}

// Noise in @p format with a gradient, a quarter transparent and some half transparent, the same
// on every machine. Built from words: a conversion of Qt's would already depend on the Qt
// version. Conversions from ARGB32 give the same bytes under both, except into grey, which Qt 6
// weighs otherwise than Qt 5: grey formats take the words' bytes as they are.
QImage noisePicture(const QSize& size, quint32 seed, QImage::Format format = QImage::Format_ARGB32)
{
    QImage image(size, QImage::Format_ARGB32);
    for (int y = 0; y < size.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int kind = int(seed >> 28) % 4;
            const int alpha = kind == 0 ? 0 : (kind == 1 ? int(seed >> 8) & 0xFF : 255);
            line[x] = qRgba(
                int(seed >> 16) & 0xFF, (x * 7 + y * 3) & 0xFF, int(seed >> 4) & 0xFF, alpha);
        }
    }
    if (format != QImage::Format_Grayscale8 && format != QImage::Format_Grayscale16) {
        return image.convertToFormat(format);
    }
    QImage grey(size, format);
    for (int y = 0; y < size.height(); ++y) {
        std::memcpy(
            grey.scanLine(y), image.constScanLine(y), size_t(size.width() * grey.depth() / 8));
    }
    return grey;
}

const QList<QImage::Format> decodedFormats {QImage::Format_Mono, QImage::Format_Indexed8,
    QImage::Format_RGB32, QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied,
    QImage::Format_RGB16, QImage::Format_RGB888, QImage::Format_BGR888, QImage::Format_RGBA8888,
    QImage::Format_Grayscale8, QImage::Format_Grayscale16, QImage::Format_RGBA64};

ZTCrop cropAt(const QRect& rect, const QSize& outputSize = QSize())
{
    ZTCrop crop;
    crop.rect = rect;
    crop.request.outputSize = outputSize;
    return crop;
}

} // namespace

class tst_ZTQtIdentity : public QObject
{
    Q_OBJECT

private slots:
    void resultsOfQtCode();
};

// Every format that a decoder gives ztroi's loader or a host may hand the mixer: scaled from 8x8
// source sizes into 7 analysis sizes (up and down, odd ratios, one-pixel sides) as the mixer
// scales, and converted to the 32-bit words that the methods read. Then the salience maps of
// every default method, of the bundled photograph and of built pictures; ztroi's overlays (the
// picture scaled to at most 1600 pixels a side, the map scaled to it, crop frames and the focal
// ring, at the borders too); its crops and the review page's thumbnails (windows at fractions of
// a pixel of a reduced decode, shrunk and enlarged, transparent pictures averaged premultiplied
// and laid over white for JPEG).
void tst_ZTQtIdentity::resultsOfQtCode()
{
    const QList<int> sides {1, 2, 3, 7, 33, 100, 641, 1500};
    const QList<QSize> analysisSizes {
        {1, 1}, {2, 3}, {17, 5}, {100, 100}, {320, 240}, {480, 480}, {999, 37}};
    QList<QImage> results;
    for (const QImage::Format format : decodedFormats) {
        for (const int width : sides) {
            for (const int height : sides) {
                const QImage source
                    = noisePicture(QSize(width, height), quint32(width * 131 + height), format);
                for (const QSize& target : analysisSizes) {
                    results.append(source.scaled(target, Qt::KeepAspectRatio));
                }
            }
        }
        for (const QImage::Format words : {QImage::Format_ARGB32, QImage::Format_RGB32,
                 QImage::Format_ARGB32_Premultiplied, QImage::Format_RGBA8888}) {
            results.append(noisePicture(QSize(67, 45), 67, format).convertToFormat(words));
        }
    }
    const QImage photo
        = QImage(QStringLiteral(ZTROI_SAMPLE_PHOTO)).convertToFormat(QImage::Format_ARGB32);
    QVERIFY(!photo.isNull());
    const QImage noise = noisePicture(QSize(301, 203), 7);
    const QImage grey = noisePicture(QSize(301, 199), 5, QImage::Format_Grayscale16);
    const QImage indexed
        = noisePicture(QSize(257, 129), 9).convertToFormat(QImage::Format_Indexed8);
    const QImage photoMap = ZTSalienzMixer(QSize(480, 480)).analyze(photo);
    const QImage noiseMap = ZTSalienzMixer(QSize(97, 61)).analyze(noise);
    const QImage wide = noisePicture(QSize(2003, 701), 3);
    const QImage small = grey.copy(0, 0, 37, 23);
    const ZTCropWriter writer;
    const ZTCrop window = cropAt({10, 20, 700, 500}, {210, 150});
    results += QList<QImage> {
        photoMap,
        ZTSalienzMixer(QSize(97, 61)).analyze(photo),
        ZTSalienzMixer(QSize(480, 480)).analyze(noise),
        ZTSalienzMixer(QSize(200, 200)).analyze(grey),
        ZTSalienzMixer(QSize(480, 480)).analyze(indexed),
        ZTOverlayPainter::paint(photo, photoMap, photo.size(),
            {cropAt({100, 0, 400, 400}), cropAt({0, 20, 600, 330}), cropAt({331, 251, 269, 149})},
            QPoint(281, 197)),
        ZTOverlayPainter::paint(wide, noiseMap, wide.size(),
            {cropAt({0, 0, 2003, 701}), cropAt({1000, 350, 3, 2})}, QPoint(0, 0)),
        ZTOverlayPainter::paint(
            small, noiseMap, small.size(), {cropAt({5, 5, 1, 1})}, QPoint(36, 22)),
        writer.render(photo, {1200, 800}, cropAt({101, 37, 901, 677}, {320, 240}), "jpg"),
        writer.render(photo, photo.size(), cropAt({250, 150, 61, 47}, {400, 300}), "png"),
        writer.render(noise, {903, 609}, window, "png"),
        writer.render(noise, {903, 609}, window, "jpg"),
    };
    QCOMPARE(digestOf(results), QByteArray("955bca225300c3e6"));
}

QTEST_GUILESS_MAIN(tst_ZTQtIdentity)
#include "tst_ZTQtIdentity.moc"
