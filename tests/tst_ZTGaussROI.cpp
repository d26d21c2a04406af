#include "ZTGaussROI.h"

#include <QtTest>

#include <cmath>

namespace {

// The prior computed pixel by pixel, straight from its formula.
QImage naivePrior(const QSize& size)
{
    QImage map(size, QImage::Format_ARGB32);
    const double w = size.width();
    const double h = size.height();
    for (double y = 0.0; y < h; y += 1.0) {
        const double dy = y - 0.5 * h;
        for (double x = 0.0; x < w; x += 1.0) {
            const double dx = x - 0.5 * w;
            const double value = std::exp(((dx * dx + dy * dy) * -0.5) / 16900.0) * 255.0;
            const int g = int(value);
            map.setPixel(int(x), int(y), qRgb(g, g, g));
        }
    }
    return map;
}

} // namespace

class tst_ZTGaussROI : public QObject
{
    Q_OBJECT

private slots:
    void pixelValues_data();
    void pixelValues();
    void matchesFormulaEverywhere_data();
    void matchesFormulaEverywhere();
    void contentIsIgnored();
    void nullImageGivesNullMap();
};

void tst_ZTGaussROI::pixelValues_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("position");
    QTest::addColumn<int>("value");

    QTest::newRow("1x1 has no pixel at the centre") << QSize(1, 1) << QPoint(0, 0) << 254;
    QTest::newRow("2x2 centre pixel") << QSize(2, 2) << QPoint(1, 1) << 255;
    QTest::newRow("2x2 top left") << QSize(2, 2) << QPoint(0, 0) << 254;
    QTest::newRow("2x2 top right") << QSize(2, 2) << QPoint(1, 0) << 254;
    QTest::newRow("2x2 bottom left") << QSize(2, 2) << QPoint(0, 1) << 254;
    QTest::newRow("640x480 centre") << QSize(640, 480) << QPoint(320, 240) << 255;
    QTest::newRow("640x480 top middle") << QSize(640, 480) << QPoint(320, 0) << 46;
    QTest::newRow("640x480 left middle") << QSize(640, 480) << QPoint(0, 240) << 12;
    QTest::newRow("640x480 corner") << QSize(640, 480) << QPoint(0, 0) << 2;
    QTest::newRow("640x480 far corner") << QSize(640, 480) << QPoint(639, 479) << 2;
    QTest::newRow("320x240 corner") << QSize(320, 240) << QPoint(0, 0) << 78;
    QTest::newRow("d = 130") << QSize(1000, 2) << QPoint(630, 1) << 154;
    QTest::newRow("d = 260") << QSize(1000, 2) << QPoint(240, 1) << 34;
    QTest::newRow("d = 390") << QSize(1000, 2) << QPoint(890, 1) << 2;
    QTest::newRow("d = 432") << QSize(1000, 2) << QPoint(932, 1) << 1;
    QTest::newRow("d = 433") << QSize(1000, 2) << QPoint(933, 1) << 0;
}

void tst_ZTGaussROI::pixelValues()
{
    QFETCH(QSize, size);
    QFETCH(QPoint, position);
    QFETCH(int, value);

    ZTGaussROI prior;
    const QImage map = prior.evaluate(QImage(size, QImage::Format_RGB32));
    QCOMPARE(map.size(), size);
    QCOMPARE(map.format(), QImage::Format_ARGB32);
    QCOMPARE(map.pixel(position), qRgb(value, value, value));
}

// Odd and even sizes exercise the mirrored columns and rows on both sides of the centre; the
// large ones reach every level of the prior down to 0 and every distance where it changes.
void tst_ZTGaussROI::matchesFormulaEverywhere_data()
{
    QTest::addColumn<QSize>("size");
    for (const QSize size : {QSize(1, 1), QSize(1, 7), QSize(7, 1), QSize(2, 3), QSize(5, 4),
             QSize(33, 17), QSize(320, 240), QSize(640, 480), QSize(641, 481), QSize(900, 3),
             QSize(3, 1001), QSize(1280, 960), QSize(1279, 959), QSize(1000, 2)}) {
        QTest::addRow("%dx%d", size.width(), size.height()) << size;
    }
}

void tst_ZTGaussROI::matchesFormulaEverywhere()
{
    QFETCH(QSize, size);
    ZTGaussROI prior;
    const QImage map = prior.evaluate(QImage(size, QImage::Format_ARGB32));
    QCOMPARE(map, naivePrior(size));
}

void tst_ZTGaussROI::contentIsIgnored()
{
    QImage black(31, 20, QImage::Format_RGB32);
    black.fill(Qt::black);
    QImage white(31, 20, QImage::Format_ARGB32);
    white.fill(Qt::white);
    ZTGaussROI prior;
    QCOMPARE(prior.evaluate(black), prior.evaluate(white));
}

void tst_ZTGaussROI::nullImageGivesNullMap()
{
    ZTGaussROI prior;
    QVERIFY(prior.evaluate(QImage()).isNull());
}

QTEST_GUILESS_MAIN(tst_ZTGaussROI)
#include "tst_ZTGaussROI.moc"
