// Crops as pictures: their sizes, the decode size they need, their file names and formats, and
// how a crop is cut from a (possibly reduced, possibly transparent) decode.

#include "ZTCropWriter.h"
#include "ZTOptionParser.h"

#include <QColorSpace>
#include <QtTest>

namespace {

ZTCropRequest request(const QString& text)
{
    ZTCropRequest parsed;
    if (!ZTOptionParser::parseCrop(text, &parsed)) {
        qFatal("bad crop %s", qPrintable(text));
    }
    return parsed;
}

using Probes = QList<QPair<QPoint, QRgb>>; // output pixels and what they must be

} // namespace

class tst_ZTCropWriter : public QObject
{
    Q_OBJECT

private slots:
    void sizes_data();
    void sizes();
    void fileKindsAndSuffixes();
    void render_data();
    void render();
};

void tst_ZTCropWriter::sizes_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QString>("crop");
    QTest::addColumn<int>("maxSide");
    QTest::addColumn<QSize>("output");
    QTest::addColumn<QSize>("needed"); // the smallest decode that the crop needs

    QTest::newRow("WxH: exactly that, from 45% of a 12-MP picture")
        << QSize(4000, 3000) << "1080x1350" << 0 << QSize(1080, 1350) << QSize(1800, 1350);
    QTest::newRow("W:H: the window's own pixels, all of the picture")
        << QSize(4000, 3000) << "16:9" << 0 << QSize(4000, 2250) << QSize(4000, 3000);
    QTest::newRow("--max-side bounds W:H")
        << QSize(4000, 3000) << "16:9" << 1000 << QSize(1000, 562) << QSize(1000, 750);
    QTest::newRow("--max-side leaves WxH alone")
        << QSize(4000, 3000) << "1080x1350" << 500 << QSize(1080, 1350) << QSize(1800, 1350);
    QTest::newRow("larger than the picture: no larger decode")
        << QSize(600, 400) << "1080x1350" << 0 << QSize(1080, 1350) << QSize(600, 400);
    QTest::newRow("a sliver keeps a pixel")
        << QSize(300, 200) << "100000:1" << 10 << QSize(10, 1) << QSize(300, 200);
}

void tst_ZTCropWriter::sizes()
{
    QFETCH(QSize, picture);
    QFETCH(QString, crop);
    QFETCH(int, maxSide);
    QFETCH(QSize, output);
    QFETCH(QSize, needed);

    const ZTCropWriter writer(QString(), ZTCropWriter::defaultQuality, maxSide);
    const ZTCropRequest asked = request(crop);
    const QSize window
        = ZTCropPlanner::largestWindow(picture, asked.aspectWidth, asked.aspectHeight);
    QCOMPARE(writer.outputSize(asked, window), output);
    QCOMPARE(writer.neededSize(picture, {asked}), needed);
    // Several crops need the largest of their decodes.
    QCOMPARE(writer.neededSize(picture, {request("1x1"), asked, request("2x3")}), needed);
}

void tst_ZTCropWriter::fileKindsAndSuffixes()
{
    QList<ZTCrop> crops;
    for (const char* text : {"16:9", "16:9", "16x9", "1080x1350", "32:18"}) {
        crops.append({request(text), QRect(), 0.0, false});
    }
    QCOMPARE(ZTCropWriter::fileKinds(crops),
        (QStringList {"crop-16x9", "crop-16x9-2", "crop-16x9-3", "crop-1080x1350", "crop-32x18"}));

    // The picture's own format where crops can be written in it, else JPEG.
    const ZTCropWriter own;
    QStringList suffixes;
    for (const char* format : {"jpeg", "png", "webp", "gif", "tiff", "bmp"}) {
        suffixes.append(own.suffixFor(format));
    }
    QCOMPARE(suffixes, (QStringList {"jpg", "png", "webp", "jpg", "jpg", "jpg"}));
    const ZTCropWriter png(QStringLiteral("png"), 40);
    QCOMPARE(png.suffixFor("jpeg"), QStringLiteral("png"));
    QCOMPARE(png.qualityFor("png"), -1); // lossless: the quality would only set the compression
    QCOMPARE(png.qualityFor("webp"), 40);
}

void tst_ZTCropWriter::render_data()
{
    QTest::addColumn<QImage>("picture");
    QTest::addColumn<QSize>("inputSize");
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<QString>("crop");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<Probes>("probes");

    // Every colour here has as much green as blue, but for the transparent pixels: opaque red on
    // the left, on the right transparent pixels that store green. Averaged without
    // premultiplying, the green would bleed into the output pixels on the border.
    QImage halfClear(40, 20, QImage::Format_ARGB32);
    halfClear.fill(qRgba(0, 255, 0, 0));
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 20; ++x) {
            halfClear.setPixel(x, y, qRgb(255, 0, 0));
        }
    }
    const QRgb red = qRgb(255, 0, 0);
    QTest::newRow("transparent to JPEG: on white")
        << halfClear << QSize(40, 20) << QRect(0, 0, 40, 20) << "13x7"
        << "jpg" << QImage::Format_RGB32 << Probes {{{0, 0}, red}, {{12, 6}, qRgb(255, 255, 255)}};
    QTest::newRow("transparent to PNG: stays transparent")
        << halfClear << QSize(40, 20) << QRect(0, 0, 40, 20) << "13x7"
        << "png" << QImage::Format_ARGB32_Premultiplied
        << Probes {{{0, 0}, red}, {{12, 6}, qRgba(0, 0, 0, 0)}};

    // A decode at half the picture's size: cyan on the left, white on the right. The right
    // square of the picture is the right half of the decode.
    QImage reduced(100, 50, QImage::Format_ARGB32);
    reduced.fill(qRgb(0, 255, 255));
    for (int y = 0; y < 50; ++y) {
        for (int x = 50; x < 100; ++x) {
            reduced.setPixel(x, y, qRgb(255, 255, 255));
        }
    }
    const QRgb white = qRgb(255, 255, 255);
    QTest::newRow("from a reduced decode, at the picture's size")
        << reduced << QSize(200, 100) << QRect(100, 0, 100, 100) << "1:1"
        << "jpg" << QImage::Format_RGB32 << Probes {{{0, 0}, white}, {{99, 99}, white}};
    QTest::newRow("from a reduced decode, scaled down")
        << reduced << QSize(200, 100) << QRect(50, 0, 100, 100) << "2x2"
        << "jpg" << QImage::Format_RGB32 << Probes {{{0, 0}, qRgb(0, 255, 255)}, {{1, 1}, white}};
}

void tst_ZTCropWriter::render()
{
    QFETCH(QImage, picture);
    QFETCH(QSize, inputSize);
    QFETCH(QRect, rect);
    QFETCH(QString, crop);
    QFETCH(QString, suffix);
    QFETCH(QImage::Format, format);
    QFETCH(Probes, probes);

    picture.setColorSpace(QColorSpace::AdobeRgb);
    const ZTCrop planned {request(crop), rect, 0.0, false};
    const QImage rendered = ZTCropWriter().render(picture, inputSize, planned, suffix);
    QCOMPARE(rendered.format(), format);
    QCOMPARE(rendered.colorSpace(), QColorSpace(QColorSpace::AdobeRgb));
    QCOMPARE(rendered.size(), ZTCropWriter().outputSize(planned.request, rect.size()));
    for (const auto& probe : probes) {
        QCOMPARE(
            QString::number(rendered.pixel(probe.first), 16), QString::number(probe.second, 16));
    }
    for (int y = 0; y < rendered.height(); ++y) {
        for (int x = 0; x < rendered.width(); ++x) {
            QCOMPARE(qGreen(rendered.pixel(x, y)), qBlue(rendered.pixel(x, y)));
        }
    }
}

QTEST_GUILESS_MAIN(tst_ZTCropWriter)
#include "tst_ZTCropWriter.moc"
