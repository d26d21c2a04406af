// Crops as pictures: their sizes, the decode size they need, their file names and formats, and
// how a crop is cut from a (possibly reduced, possibly transparent) decode.

#include "ZTImageTestSupport.h"
#include "ZTOptionParser.h"
#include "crops/ZTCropPlanner.h"
#include "crops/ZTCropWriter.h"

#include <QColorSpace>
#include <QPainter>
#include <QtTest>

namespace {

ZTCropRequest request(const QString& text)
{
    ZTCropRequest parsed;
    ZTOptionParser::parseCrop(text, &parsed);
    return parsed;
}

} // namespace

class tst_ZTCropWriter : public QObject
{
    Q_OBJECT

private slots:
    void sizes_data();
    void sizes();
    void fileKinds_data();
    void fileKinds();
    void suffixes();
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
    QTest::addColumn<qint64>("bytes"); // memory besides the picture, and per pixel of it
    QTest::addColumn<qint64>("bytesPerPixel");

    const auto row = [](const char* name, QSize picture, const char* crop, int maxSide,
                         QSize output, QSize needed, qint64 bytes, qint64 bytesPerPixel) {
        QTest::newRow(name) << picture << crop << maxSide << output << needed << bytes
                            << bytesPerPixel;
    };
    const QSize photo(4000, 3000);
    const qint64 portrait = 1080 * 1350 * 8;
    row("WxH: exactly that, from 45% of a 12-MP picture", photo, "1080x1350", 0, {1080, 1350},
        {1800, 1350}, portrait, 4);
    row("W:H: the window's own pixels, all of the picture", photo, "16:9", 0, {4000, 2250}, photo,
        0, 12);
    row("--max-side bounds W:H, in its exact aspect", photo, "16:9", 1000, {992, 558}, {992, 744},
        1000 * 1000 * 8, 4);
    row("--max-side leaves WxH alone", photo, "1080x1350", 500, {1080, 1350}, {1800, 1350},
        portrait, 4);
    row("larger than the picture: no larger decode", {600, 400}, "1080x1350", 0, {1080, 1350},
        {600, 400}, portrait, 4);
    row("a sliver keeps a pixel", {300, 200}, "100000:1", 10, {10, 1}, {300, 200}, 800, 4);
}

void tst_ZTCropWriter::sizes()
{
    QFETCH(QSize, picture);
    QFETCH(QString, crop);
    QFETCH(int, maxSide);
    QFETCH(QSize, output);
    QFETCH(QSize, needed);
    QFETCH(qint64, bytes);
    QFETCH(qint64, bytesPerPixel);

    const ZTCropWriter writer(QString(), ZTCropWriter::defaultQuality, maxSide);
    const ZTCropRequest asked = request(crop);
    const QSize window
        = ZTSalienzCropPlanner::largestWindow(picture, asked.aspectWidth, asked.aspectHeight);
    QCOMPARE(writer.outputSize(asked, window), output);
    QCOMPARE(writer.neededSize(picture, {asked}), needed);
    QCOMPARE(writer.memoryBytes({asked}), bytes);
    QCOMPARE(writer.memoryBytesPerPixel({asked}), bytesPerPixel);
    // Several crops need the largest of their decodes.
    QCOMPARE(writer.neededSize(picture, {request("1x1"), asked, request("2x3")}), needed);
}

void tst_ZTCropWriter::fileKinds_data()
{
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<QStringList>("kinds");

    const auto row = [](const char* name, const QStringList& requests, const QStringList& kinds) {
        QTest::newRow(name) << requests << kinds;
    };
    row("the defaults", {"1:1", "4:5", "16:9"}, {"crop-1x1", "crop-4x5", "crop-16x9"});
    row("an aspect and the size with its numbers differ", {"16:9", "16x9"},
        {"crop-16x9", "crop-16x9px"});
    row("a size first, then the aspect", {"1080x1350", "4:5"}, {"crop-1080x1350px", "crop-4x5"});
    row("leading zeros do not make a request of their own", {"16:9", "016:09", "0016x0009"},
        {"crop-16x9", "crop-16x9-2", "crop-16x9px"});
    row("repeats numbered in order", {"2:3", "2x3", "2:3", "2x3", "2:3"},
        {"crop-2x3", "crop-2x3px", "crop-2x3-2", "crop-2x3px-2", "crop-2x3-3"});
    row("an aspect in lowest terms is still its own request", {"2:1", "4:2"},
        {"crop-2x1", "crop-4x2"});
}

// Regression: "16:9" and "16x9" were both written as NAME.crop-16x9, the second as -2.
void tst_ZTCropWriter::fileKinds()
{
    QFETCH(QStringList, requests);
    QFETCH(QStringList, kinds);

    QList<ZTCrop> crops;
    for (const QString& text : requests) {
        crops.append({request(text), {}, 0.0, false});
    }
    QCOMPARE(ZTCropWriter::fileKinds(crops), kinds);
}

void tst_ZTCropWriter::suffixes()
{
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
    QTest::addColumn<QImage>("picture"); // a decode of a 40x20 picture
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("pixels"); // of the 4x2 crop, row by row, as #aarrggbb

    // Opaque red on the left, on the right transparent pixels that store green: averaged without
    // premultiplying, the green would bleed into the border pixels.
    QImage halfClear(40, 20, QImage::Format_ARGB32);
    halfClear.fill(qRgba(0, 255, 0, 0));
    QPainter(&halfClear).fillRect(0, 0, 20, 20, Qt::red);
    QTest::newRow("transparent to JPEG: on white")
        << halfClear << QRect(0, 0, 40, 20) << "jpg"
        << "#ffff0000 #ffff0000 #ffffffff #ffffffff #ffff0000 #ffff0000 #ffffffff #ffffffff";
    // 7.5 pixels to an output pixel: the third covers 5 red ones.
    QTest::newRow("transparent to PNG: premultiplied")
        << halfClear << QRect(0, 10, 30, 10) << "png"
        << "#ffff0000 #ffff0000 #aaaa0000 #00000000 #ffff0000 #ffff0000 #aaaa0000 #00000000";
    // A decode at half the picture's size, red on its left half. The crop's first pixel covers
    // decoded columns 5 to 8.75, its second 8.75 to 12.5: a third red.
    QImage reduced(20, 10, QImage::Format_ARGB32);
    reduced.fill(Qt::white);
    QPainter(&reduced).fillRect(0, 0, 10, 10, Qt::red);
    QTest::newRow("from a reduced decode")
        << reduced << QRect(10, 0, 30, 20) << "jpg"
        << "#ffff0000 #ffffaaaa #ffffffff #ffffffff #ffff0000 #ffffaaaa #ffffffff #ffffffff";
}

// A 4x2 crop cut from a decode that may be reduced or transparent, colour space kept.
void tst_ZTCropWriter::render()
{
    QFETCH(QImage, picture);
    QFETCH(QRect, rect);
    QFETCH(QString, suffix);
    QFETCH(QString, pixels);

    picture.setColorSpace(QColorSpace::AdobeRgb);
    const ZTCrop crop {request("4x2"), rect, 0.0, false};
    const QImage rendered = ZTCropWriter().render(picture, QSize(40, 20), crop, suffix);
    QCOMPARE(rendered.colorSpace(), QColorSpace(QColorSpace::AdobeRgb));
    QCOMPARE(rendered.hasAlphaChannel(), suffix == "png");
    QStringList seen;
    for (int y = 0; y < rendered.height(); ++y) {
        for (int x = 0; x < rendered.width(); ++x) {
            seen.append(QColor::fromRgba(rendered.pixel(x, y)).name(QColor::HexArgb));
        }
    }
    QCOMPARE(seen.join(' '), pixels);
}

QTEST_GUILESS_MAIN(tst_ZTCropWriter)
#include "tst_ZTCropWriter.moc"
