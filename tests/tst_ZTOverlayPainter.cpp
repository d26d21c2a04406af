#include "ZTOverlayPainter.h"

#include <QtTest>

namespace {

QImage filled(const QSize& size, QRgb colour)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

// The overlay's blend for one channel: the photo's grey kept at 150/256, under heat of strength
// v (stretched to the map's maximum) and alpha 7v/8.
int blended(int grey, int hot, int v)
{
    const int alpha = v * 7 / 8;
    return (grey * 150 / 256 * (255 - alpha) + hot * alpha) / 255;
}

ZTCrop crop(const QRect& rect)
{
    ZTCrop c;
    c.rect = rect;
    return c;
}

} // namespace

class tst_ZTOverlayPainter : public QObject
{
    Q_OBJECT

private slots:
    void heatBlend_data();
    void heatBlend();
    void largePhotosAreScaledDown_data();
    void largePhotosAreScaledDown();
    void cropsAreDrawnInsideTheirRect();
    void nullInputGivesNullOverlay();
};

void tst_ZTOverlayPainter::heatBlend_data()
{
    QTest::addColumn<int>("salience");
    QTest::addColumn<QRgb>("expected");

    // The photo (200, 100, 50) is grey 126. The map's maximum is 200, so salience s shows as heat
    // v = s * 255 / 200, coloured (3v, 3v - 255, 3v - 510) clamped to 0 ... 255.
    const int grey = qGray(200, 100, 50);
    QTest::newRow("no salience: dimmed grey")
        << 0 << qRgb(blended(grey, 0, 0), blended(grey, 0, 0), blended(grey, 0, 0));
    QTest::newRow("40 is dark red (v 51)")
        << 40 << qRgb(blended(grey, 153, 51), blended(grey, 0, 51), blended(grey, 0, 51));
    QTest::newRow("100 is orange (v 127)")
        << 100 << qRgb(blended(grey, 255, 127), blended(grey, 126, 127), blended(grey, 0, 127));
    QTest::newRow("the maximum is white")
        << 200 << qRgb(blended(grey, 255, 255), blended(grey, 255, 255), blended(grey, 255, 255));
}

void tst_ZTOverlayPainter::heatBlend()
{
    QFETCH(int, salience);
    QFETCH(QRgb, expected);

    // Left half of the map at the salience under test, right half at the maximum 200.
    QImage map = filled(QSize(16, 16), qRgb(200, 200, 200));
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 8; ++x) {
            map.setPixel(x, y, qRgb(salience, salience, salience));
        }
    }
    const QImage overlay = ZTOverlayPainter::paint(
        filled(QSize(64, 64), qRgb(200, 100, 50)), map, QSize(64, 64), {}, QPoint(60, 60));
    QCOMPARE(overlay.size(), QSize(64, 64));
    // Inside the left half, away from the smoothed border and the focal ring.
    QCOMPARE(overlay.pixel(5, 5), expected);
    QCOMPARE(overlay.pixel(20, 40), expected);
}

void tst_ZTOverlayPainter::largePhotosAreScaledDown_data()
{
    QTest::addColumn<QSize>("photo");
    QTest::addColumn<QSize>("expected");

    QTest::newRow("small stays") << QSize(600, 400) << QSize(600, 400);
    QTest::newRow("limit stays") << QSize(1600, 900) << QSize(1600, 900);
    QTest::newRow("wide") << QSize(3200, 1000) << QSize(1600, 500);
    QTest::newRow("tall") << QSize(1000, 4000) << QSize(400, 1600);
}

void tst_ZTOverlayPainter::largePhotosAreScaledDown()
{
    QFETCH(QSize, photo);
    QFETCH(QSize, expected);
    const QImage overlay = ZTOverlayPainter::paint(
        filled(photo, qRgb(1, 2, 3)), filled(QSize(48, 32), qRgb(0, 0, 0)), photo, {}, QPoint());
    QCOMPARE(overlay.size(), expected);
}

void tst_ZTOverlayPainter::cropsAreDrawnInsideTheirRect()
{
    // Input 400x200 shown at 200x100: the crop (100, 0, 200, 200) becomes (50, 0, 100, 100).
    const QImage overlay = ZTOverlayPainter::paint(filled(QSize(200, 100), qRgb(0, 0, 0)),
        filled(QSize(20, 10), qRgb(0, 0, 0)), QSize(400, 200), {crop(QRect(100, 0, 200, 200))},
        QPoint(0, 0));
    const QRgb cyan = ZTOverlayPainter::cropColour(0).rgb();
    QCOMPARE(overlay.pixel(50, 50), cyan);  // left edge
    QCOMPARE(overlay.pixel(149, 50), cyan); // right edge, inside the crop
    QCOMPARE(overlay.pixel(100, 0), cyan);  // top edge
    QCOMPARE(overlay.pixel(100, 99), cyan); // bottom edge
    QCOMPARE(overlay.pixel(49, 50), qRgb(0, 0, 0));
    QCOMPARE(overlay.pixel(150, 50), qRgb(0, 0, 0));
    QCOMPARE(overlay.pixel(100, 50), qRgb(0, 0, 0));
}

void tst_ZTOverlayPainter::nullInputGivesNullOverlay()
{
    const QImage photo = filled(QSize(8, 8), qRgb(1, 2, 3));
    QVERIFY(ZTOverlayPainter::paint(QImage(), photo, QSize(8, 8), {}, QPoint()).isNull());
    QVERIFY(ZTOverlayPainter::paint(photo, QImage(), QSize(8, 8), {}, QPoint()).isNull());
    QVERIFY(ZTOverlayPainter::paint(photo, photo, QSize(), {}, QPoint()).isNull());
}

QTEST_GUILESS_MAIN(tst_ZTOverlayPainter)
#include "tst_ZTOverlayPainter.moc"
