// The results that depend on Qt's own code, checked against digests that the Qt 5 and the Qt 6
// builds share: nearest-neighbour scaling into the analysis size, the conversions of every
// decoded format to 32-bit words, and the maps of the bundled photograph and of pictures built
// here; and, where ztroi is built, its overlays and crops. A digest that one build gives and the
// other does not means that a result would depend on the Qt version.

#include "ZTSalienzMixer.h"

#include "crops/ZTCropWriter.h"
#include "crops/ZTOverlayPainter.h"

#include <QCryptographicHash>
#include <QtTest>

namespace {

// The size, the format and the stored bytes of every row; the colour table of indexed formats.
QByteArray digest(const QImage& image)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    const QByteArray head = QByteArray::number(image.width()) + 'x'
        + QByteArray::number(image.height()) + ':' + QByteArray::number(int(image.format()));
    hash.addData(head);
    const int rowBytes = (image.width() * image.depth() + 7) / 8;
    for (int y = 0; y < image.height(); ++y) {
        hash.addData(QByteArray::fromRawData(
            reinterpret_cast<const char*>(image.constScanLine(y)), rowBytes));
    }
    for (const QRgb colour : image.colorTable()) {
        hash.addData(QByteArray::number(colour));
    }
    return hash.result().toHex().left(16);
}

// Noise with a gradient, a quarter transparent and some half transparent, the same on every
// machine. Built from words: a conversion of Qt's would already depend on the Qt version.
QImage noisePicture(const QSize& size, quint32 seed)
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
    return image;
}

// One byte a pixel, written directly: Qt 6 converts to grey with other weights than Qt 5.
QImage greyPicture(const QSize& size, QImage::Format format)
{
    QImage image(size, format);
    const int bytesPerPixel = image.depth() / 8;
    for (int y = 0; y < size.height(); ++y) {
        uchar* line = image.scanLine(y);
        for (int i = 0; i < size.width() * bytesPerPixel; ++i) {
            line[i] = uchar((i * 37 + y * 11) ^ (i >> 2));
        }
    }
    return image;
}

// The picture in @p format: grey formats written directly, the others converted from noise
// (conversions from ARGB32 into these formats give the same bytes under both Qt versions).
QImage sourcePicture(QImage::Format format, const QSize& size)
{
    if (format == QImage::Format_Grayscale8 || format == QImage::Format_Grayscale16) {
        return greyPicture(size, format);
    }
    return noisePicture(size, quint32(size.width() * 131 + size.height())).convertToFormat(format);
}

const QList<int>& sourceSides()
{
    static const QList<int> sides {1, 2, 3, 7, 33, 100, 641, 1500};
    return sides;
}

const QList<QSize>& analysisSizes()
{
    static const QList<QSize> sizes {QSize(1, 1), QSize(2, 3), QSize(17, 5), QSize(100, 100),
        QSize(320, 240), QSize(480, 480), QSize(999, 37)};
    return sizes;
}

// A salience map of diagonal waves, brightest towards the bottom right, as ARGB32 words.
QImage wavyMap(const QSize& size)
{
    QImage map(size, QImage::Format_ARGB32);
    for (int y = 0; y < size.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(map.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const int value
                = ((x + 2 * y) * 9 % 160) + (x + y) * 95 / (size.width() + size.height());
            line[x] = qRgb(value, value, value);
        }
    }
    return map;
}

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
    void scaledIntoAnalysisSize_data();
    void scaledIntoAnalysisSize();
    void convertedToWords_data();
    void convertedToWords();
    void maps_data();
    void maps();
    void overlays_data();
    void overlays();
    void crops_data();
    void crops();
};

// 8x8 source sizes by 7 analysis sizes: 448 pairs a format, up- and downscaling, odd ratios and
// one-pixel sides, scaled as the mixer scales.
void tst_ZTQtIdentity::scaledIntoAnalysisSize_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("ARGB32") << int(QImage::Format_ARGB32) << QByteArray("bc6a5c781a177229");
    QTest::newRow("RGB32") << int(QImage::Format_RGB32) << QByteArray("4e2d25a9d5484a2b");
    QTest::newRow("ARGB32_Premultiplied")
        << int(QImage::Format_ARGB32_Premultiplied) << QByteArray("49ba0d475d17989c");
    QTest::newRow("RGB888") << int(QImage::Format_RGB888) << QByteArray("e7cc788e7dfaf4c5");
    QTest::newRow("Indexed8") << int(QImage::Format_Indexed8) << QByteArray("0b9c6c41c0a19d66");
    QTest::newRow("Grayscale8") << int(QImage::Format_Grayscale8) << QByteArray("5128bc6361bc29fd");
    QTest::newRow("Grayscale16") << int(QImage::Format_Grayscale16)
                                 << QByteArray("3dc97d6db488f0fe");
    QTest::newRow("RGBA64") << int(QImage::Format_RGBA64) << QByteArray("24f0955d13c351f8");
    QTest::newRow("Mono") << int(QImage::Format_Mono) << QByteArray("b30e4177a55d6d68");
}

void tst_ZTQtIdentity::scaledIntoAnalysisSize()
{
    QFETCH(int, format);
    QFETCH(QByteArray, expected);
    QCryptographicHash all(QCryptographicHash::Md5);
    for (const int width : sourceSides()) {
        for (const int height : sourceSides()) {
            const QImage source = sourcePicture(QImage::Format(format), QSize(width, height));
            for (const QSize& target : analysisSizes()) {
                all.addData(
                    digest(source.scaled(target, Qt::KeepAspectRatio, Qt::FastTransformation)));
            }
        }
    }
    QCOMPARE(all.result().toHex().left(16), expected);
}

// Every format that a decoder gives ztroi's loader or a host may hand the mixer, converted to
// the 32-bit words that the methods read.
void tst_ZTQtIdentity::convertedToWords_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("Mono") << int(QImage::Format_Mono) << QByteArray("0a49741778a8465d");
    QTest::newRow("Indexed8") << int(QImage::Format_Indexed8) << QByteArray("eb114f6e08456769");
    QTest::newRow("RGB32") << int(QImage::Format_RGB32) << QByteArray("f7ea5c75e0c8d389");
    QTest::newRow("ARGB32_Premultiplied")
        << int(QImage::Format_ARGB32_Premultiplied) << QByteArray("8b5efca45ece5fb3");
    QTest::newRow("RGB16") << int(QImage::Format_RGB16) << QByteArray("3ee733f64c43634a");
    QTest::newRow("RGB888") << int(QImage::Format_RGB888) << QByteArray("f7ea5c75e0c8d389");
    QTest::newRow("RGBA8888") << int(QImage::Format_RGBA8888) << QByteArray("926efa93f8a5e05d");
    QTest::newRow("Grayscale8") << int(QImage::Format_Grayscale8) << QByteArray("44335a628460404d");
    QTest::newRow("Grayscale16") << int(QImage::Format_Grayscale16)
                                 << QByteArray("eda5ac629262a8ed");
    QTest::newRow("RGBA64") << int(QImage::Format_RGBA64) << QByteArray("23d553469b229657");
    QTest::newRow("BGR888") << int(QImage::Format_BGR888) << QByteArray("f7ea5c75e0c8d389");
}

void tst_ZTQtIdentity::convertedToWords()
{
    QFETCH(int, format);
    QFETCH(QByteArray, expected);
    const QImage source = sourcePicture(QImage::Format(format), QSize(67, 45));
    QCryptographicHash all(QCryptographicHash::Md5);
    for (const QImage::Format words : {QImage::Format_ARGB32, QImage::Format_RGB32,
             QImage::Format_ARGB32_Premultiplied, QImage::Format_RGBA8888}) {
        all.addData(digest(source.convertToFormat(words)));
    }
    QCOMPARE(all.result().toHex().left(16), expected);
}

// The salience map with every default method, of the bundled photograph and of built pictures.
void tst_ZTQtIdentity::maps_data()
{
    QTest::addColumn<QImage>("picture");
    QTest::addColumn<QSize>("analysisSize");
    QTest::addColumn<QByteArray>("expected");
    const QImage photo(QStringLiteral(ZTROI_SAMPLE_PHOTO));
    QTest::newRow("bundled photograph, 480x480")
        << photo << QSize(480, 480) << QByteArray("b7b0cb5925cf9096");
    QTest::newRow("bundled photograph, 97x61")
        << photo << QSize(97, 61) << QByteArray("f1682c0a5473ac7f");
    QTest::newRow("noise with transparency, upscaled")
        << noisePicture(QSize(61, 47), 5) << QSize(480, 480) << QByteArray("175e2c83c5b78b1f");
    QTest::newRow("grey, 16 bits") << greyPicture(QSize(301, 199), QImage::Format_Grayscale16)
                                   << QSize(200, 200) << QByteArray("711b6d44af0af2c7");
    QTest::newRow("indexed")
        << noisePicture(QSize(257, 129), 9).convertToFormat(QImage::Format_Indexed8)
        << QSize(480, 480) << QByteArray("883eec76d07045e7");
}

void tst_ZTQtIdentity::maps()
{
    QFETCH(QImage, picture);
    QFETCH(QSize, analysisSize);
    QFETCH(QByteArray, expected);
    QVERIFY(!picture.isNull());
    ZTSalienzMixer mixer(analysisSize);
    QCOMPARE(digest(mixer.analyze(picture)), expected);
}

// ztroi's overlay: the picture scaled to at most 1600 pixels a side, the map scaled to it, crop
// frames and the focal ring, at the borders too.
void tst_ZTQtIdentity::overlays_data()
{
    QTest::addColumn<QImage>("picture");
    QTest::addColumn<QImage>("map");
    QTest::addColumn<QList<QRect>>("crops");
    QTest::addColumn<QPoint>("focus");
    QTest::addColumn<QByteArray>("expected");
    const QImage photo
        = QImage(QStringLiteral(ZTROI_SAMPLE_PHOTO)).convertToFormat(QImage::Format_ARGB32);
    QTest::newRow("bundled photograph with its map, three crops")
        << photo << ZTSalienzMixer(QSize(480, 480)).analyze(photo)
        << QList<QRect> {{100, 0, 400, 400}, {0, 20, 600, 330}, {331, 251, 269, 149}}
        << QPoint(281, 197) << QByteArray("202ba7de2e0e5b40");
    QTest::newRow("noise with transparency, shrunk, ring in the corner")
        << noisePicture(QSize(2003, 701), 3) << wavyMap(QSize(97, 61))
        << QList<QRect> {{0, 0, 2003, 701}, {1000, 350, 3, 2}} << QPoint(0, 0)
        << QByteArray("e7ac0142940268f3");
    QTest::newRow("grey picture, larger map, ring off the edge")
        << greyPicture(QSize(37, 23), QImage::Format_Grayscale8) << wavyMap(QSize(480, 300))
        << QList<QRect> {{5, 5, 1, 1}} << QPoint(36, 22) << QByteArray("37d662274a5f23c5");
}

void tst_ZTQtIdentity::overlays()
{
    QFETCH(QImage, picture);
    QFETCH(QImage, map);
    QFETCH(QList<QRect>, crops);
    QFETCH(QPoint, focus);
    QFETCH(QByteArray, expected);
    QVERIFY(!picture.isNull() && !map.isNull());
    QList<ZTCrop> planned;
    for (const QRect& rect : crops) {
        planned.append(cropAt(rect));
    }
    QCOMPARE(
        digest(ZTOverlayPainter::paint(picture, map, picture.size(), planned, focus)), expected);
}

// ztroi's crops and the review page's thumbnails: windows at fractions of a pixel of a reduced
// decode, and transparent pictures averaged premultiplied, laid over white for JPEG.
void tst_ZTQtIdentity::crops_data()
{
    QTest::addColumn<QImage>("picture");
    QTest::addColumn<QSize>("inputSize");
    QTest::addColumn<QRect>("crop");
    QTest::addColumn<QSize>("outputSize");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QByteArray>("expected");
    const QImage photo
        = QImage(QStringLiteral(ZTROI_SAMPLE_PHOTO)).convertToFormat(QImage::Format_ARGB32);
    QTest::newRow("bundled photograph as a reduced decode, shrunk")
        << photo << QSize(1200, 800) << QRect(101, 37, 901, 677) << QSize(320, 240)
        << QStringLiteral("jpg") << QByteArray("8af7cb45e75ece43");
    QTest::newRow("bundled photograph, enlarged")
        << photo << photo.size() << QRect(250, 150, 61, 47) << QSize(400, 300)
        << QStringLiteral("png") << QByteArray("546ccf990d56983d");
    const QImage noise = noisePicture(QSize(301, 203), 7);
    QTest::newRow("noise with transparency, kept transparent")
        << noise << QSize(903, 609) << QRect(10, 20, 700, 500) << QSize(210, 150)
        << QStringLiteral("png") << QByteArray("d1113707e01fa516");
    QTest::newRow("noise with transparency, laid over white")
        << noise << QSize(903, 609) << QRect(10, 20, 700, 500) << QSize(210, 150)
        << QStringLiteral("jpg") << QByteArray("1c0d35072c58703b");
}

void tst_ZTQtIdentity::crops()
{
    QFETCH(QImage, picture);
    QFETCH(QSize, inputSize);
    QFETCH(QRect, crop);
    QFETCH(QSize, outputSize);
    QFETCH(QString, suffix);
    QFETCH(QByteArray, expected);
    QVERIFY(!picture.isNull());
    const QImage rendered
        = ZTCropWriter().render(picture, inputSize, cropAt(crop, outputSize), suffix);
    QCOMPARE(rendered.size(), outputSize);
    QCOMPARE(digest(rendered), expected);
}

QTEST_GUILESS_MAIN(tst_ZTQtIdentity)
#include "tst_ZTQtIdentity.moc"
