// Crops as pictures: their sizes, the decode size they need, their file names and formats, and
// how a crop is cut from a (possibly reduced, possibly transparent) decode; and the overlay
// painted over a photo.

#include "ZTImageTestSupport.h"
#include "ZTToolTestSupport.h"
#include "crops/ZTCropPlanner.h"
#include "crops/ZTCropWriter.h"
#include "crops/ZTOverlayPainter.h"

#include <QColorSpace>
#include <QPainter>
#include <QtTest>

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
    void overlayColours_data();
    void overlayColours();
    void overlaySizeCropsAndNullInput();
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
    const ZTCropRequest asked = cropRequest(crop);
    const QSize window
        = ZTSalienzCropPlanner::largestWindow(picture, asked.aspectWidth, asked.aspectHeight);
    QCOMPARE(writer.outputSize(asked, window), output);
    QCOMPARE(writer.neededSize(picture, {asked}), needed);
    QCOMPARE(writer.memoryBytes({asked}), bytes);
    QCOMPARE(writer.memoryBytesPerPixel({asked}), bytesPerPixel);
    // Several crops need the largest of their decodes.
    QCOMPARE(writer.neededSize(picture, {cropRequest("1x1"), asked, cropRequest("2x3")}), needed);
}

void tst_ZTCropWriter::fileKinds_data()
{
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<QStringList>("kinds");

    const auto row = [](const char* name, const QStringList& requests, const QStringList& kinds) {
        QTest::newRow(name) << requests << kinds;
    };
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
        crops.append({cropRequest(text), {}, 0.0, false});
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
    QImage halfClear = ZTImageTest::uniform(QSize(40, 20), qRgba(0, 255, 0, 0));
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
    QImage reduced = ZTImageTest::uniform(QSize(20, 10), qRgb(255, 255, 255));
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
    const ZTCrop crop {cropRequest("4x2"), rect, 0.0, false};
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

void tst_ZTCropWriter::overlayColours_data()
{
    QTest::addColumn<QRgb>("photoPixel");
    QTest::addColumn<QList<QRgb>>("colours"); // over salience 0, 40, 100 and 200, as far as given

    // The photo (200, 100, 50) is grey 126, kept at 150/256: 73. The map's maximum is 200, so
    // salience s shows as heat v = s * 255 / 200, coloured (3v, 3v - 255, 3v - 510) clamped to
    // 0 ... 255, with alpha 7v/8.
    QTest::newRow("heat over an opaque photo")
        << qRgb(200, 100, 50)
        << QList<QRgb> {qRgb(73, 73, 73), qRgb(86, 60, 60), qRgb(152, 96, 41), qRgb(232, 232, 232)};
    // Transparent photo pixels are laid over white before they turn grey.
    QTest::newRow("half transparent: (227, 177, 152), grey 190")
        << qRgba(200, 100, 50, 128) << QList<QRgb> {qRgb(111, 111, 111)};
}

// Four stripes of salience, each 16 pixels of the overlay wide, looked at in their middle, away
// from the smoothed borders and the focal ring.
void tst_ZTCropWriter::overlayColours()
{
    QFETCH(QRgb, photoPixel);
    QFETCH(QList<QRgb>, colours);

    QImage map(16, 1, QImage::Format_ARGB32);
    for (int x = 0; x < 16; ++x) {
        const int salience = QList<int> {0, 40, 100, 200}.at(x / 4);
        map.setPixel(x, 0, qRgb(salience, salience, salience));
    }
    const QImage photo = ZTImageTest::uniform(QSize(64, 64), photoPixel);
    const QImage overlay = ZTOverlayPainter::paint(photo, map, QSize(64, 64), {}, QPoint(60, 60));
    QList<QRgb> seen;
    for (int column = 0; column < colours.size(); ++column) {
        seen.append(overlay.pixel(column * 16 + 8, 20));
    }
    QCOMPARE(seen, colours);
}

void tst_ZTCropWriter::overlaySizeCropsAndNullInput()
{
    const QImage black = ZTImageTest::uniform(QSize(48, 32), qRgb(0, 0, 0));
    // Scaled down to fit 1600x1600, never up.
    for (const auto& [photo, shown] : {std::pair {QSize(1600, 900), QSize(1600, 900)},
             {QSize(3200, 1000), QSize(1600, 500)}, {QSize(1000, 4000), QSize(400, 1600)}}) {
        QCOMPARE(
            ZTOverlayPainter::paint(black.scaled(photo), black, photo, {}, QPoint()).size(), shown);
    }
    // Input 400x200 shown at 200x100: the crop (100, 0, 200, 200) is drawn just inside the
    // overlay's rect (50, 0, 100, 100).
    const ZTCrop crop {{}, QRect(100, 0, 200, 200), 0.0, false};
    const QImage overlay
        = ZTOverlayPainter::paint(black.scaled(200, 100), black, QSize(400, 200), {crop}, QPoint());
    QList<QRgb> seen;
    for (const QPoint& point : {QPoint(50, 50), QPoint(149, 50), QPoint(100, 0), QPoint(100, 99),
             QPoint(49, 50), QPoint(150, 50), QPoint(100, 50)}) {
        seen.append(overlay.pixel(point));
    }
    const QRgb cyan = ZTOverlayPainter::cropColour(0).rgb();
    QCOMPARE(
        seen, (QList<QRgb> {cyan, cyan, cyan, cyan, qRgb(0, 0, 0), qRgb(0, 0, 0), qRgb(0, 0, 0)}));
    QVERIFY(ZTOverlayPainter::paint(QImage(), black, QSize(8, 8), {}, QPoint()).isNull());
    QVERIFY(ZTOverlayPainter::paint(black, QImage(), QSize(8, 8), {}, QPoint()).isNull());
    QVERIFY(ZTOverlayPainter::paint(black, black, QSize(), {}, QPoint()).isNull());
}

QTEST_GUILESS_MAIN(tst_ZTCropWriter)
#include "tst_ZTCropWriter.moc"
