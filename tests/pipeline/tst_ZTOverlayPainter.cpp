#include "crops/ZTOverlayPainter.h"

#include <QtTest>

class tst_ZTOverlayPainter : public QObject
{
    Q_OBJECT

private slots:
    void heatBlend();
    void transparentPhotoLaidOverWhite_data();
    void transparentPhotoLaidOverWhite();
    void sizeCropsAndNullInput();
};

// The photo (200, 100, 50) is grey 126, kept at 150/256: 73. The map's maximum is 200, so
// salience s shows as heat v = s * 255 / 200, coloured (3v, 3v - 255, 3v - 510) clamped to
// 0 ... 255, with alpha 7v/8.
void tst_ZTOverlayPainter::heatBlend()
{
    // Four stripes of salience 0, 40 (v 51), 100 (v 127) and 200, each 16 pixels of the overlay
    // wide; looked at in their middle, away from the smoothed borders and the focal ring.
    QImage map(16, 1, QImage::Format_ARGB32);
    for (int x = 0; x < 16; ++x) {
        const int salience = QList<int> {0, 40, 100, 200}.at(x / 4);
        map.setPixel(x, 0, qRgb(salience, salience, salience));
    }
    QImage photo(64, 64, QImage::Format_ARGB32);
    photo.fill(qRgb(200, 100, 50));
    const QImage overlay = ZTOverlayPainter::paint(photo, map, QSize(64, 64), {}, QPoint(60, 60));
    QList<QRgb> seen;
    for (int column = 0; column < 4; ++column) {
        seen.append(overlay.pixel(column * 16 + 8, 20));
    }
    QCOMPARE(seen,
        (QList<QRgb> {qRgb(73, 73, 73), qRgb(86, 60, 60), qRgb(152, 96, 41), qRgb(232, 232, 232)}));
}

// Transparent photo pixels are laid over white before they turn grey, whatever colour they hide;
// with no heat, grey g shows as g * 150 / 256.
void tst_ZTOverlayPainter::transparentPhotoLaidOverWhite_data()
{
    QTest::addColumn<QRgb>("photoPixel");
    QTest::addColumn<int>("grey");
    QTest::newRow("opaque (200, 100, 50): grey 126") << qRgba(200, 100, 50, 255) << 73;
    QTest::newRow("half transparent: (227, 177, 152), grey 190") << qRgba(200, 100, 50, 128) << 111;
    QTest::newRow("transparent black: white") << qRgba(0, 0, 0, 0) << 149;
    QTest::newRow("transparent red: white") << qRgba(255, 0, 0, 0) << 149;
}

void tst_ZTOverlayPainter::transparentPhotoLaidOverWhite()
{
    QFETCH(QRgb, photoPixel);
    QFETCH(int, grey);
    // Shrunk from 2000 to 1600 pixels wide: a flat picture stays flat.
    QImage photo(2000, 10, QImage::Format_ARGB32);
    photo.fill(photoPixel);
    QImage map(4, 4, QImage::Format_ARGB32);
    map.fill(qRgb(0, 0, 0));
    const QImage overlay = ZTOverlayPainter::paint(photo, map, photo.size(), {}, QPoint(1999, 9));
    QCOMPARE(overlay.size(), QSize(1600, 8));
    QCOMPARE(overlay.pixel(800, 4), qRgb(grey, grey, grey));
}

void tst_ZTOverlayPainter::sizeCropsAndNullInput()
{
    QImage black(48, 32, QImage::Format_ARGB32);
    black.fill(qRgb(0, 0, 0));
    // Scaled down to fit 1600x1600, never up.
    for (const auto& [photo, shown] :
        {std::pair {QSize(600, 400), QSize(600, 400)}, {QSize(1600, 900), QSize(1600, 900)},
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

QTEST_GUILESS_MAIN(tst_ZTOverlayPainter)
#include "tst_ZTOverlayPainter.moc"
