#include "ZTGaussianBlur.h"
#include "ZTImageTestSupport.h"
#include "ZTSobelROI.h"

#include <QtTest>

#include <cmath>
#include <random>

namespace {

using Kernel = std::array<int, 9>;
const Kernel horizontalEdges = {1, 2, 1, 0, 0, 0, -1, -2, -1};
const Kernel verticalEdges = {1, 0, -1, 2, 0, -2, 1, 0, -1};

// The edge response as defined, pixel by pixel.
QImage naiveConvolute(const QImage& image, const Kernel& kernel)
{
    const QImage source = image.convertToFormat(QImage::Format_ARGB32);
    QImage target(source.size(), QImage::Format_ARGB32);
    const int width = source.width();
    const int height = source.height();
    if (width < 3 || height < 3) {
        target.fill(0xFF000000u);
        return target;
    }
    for (int y = 1; y < height - 1; ++y) {
        for (int x = 1; x < width - 1; ++x) {
            int r = 0, g = 0, b = 0;
            for (int i = 0; i < 3; ++i) {
                for (int j = 0; j < 3; ++j) {
                    const QRgb p = source.pixel(x - 1 + j, y - 1 + i);
                    r += kernel[size_t(3 * i + j)] * qRed(p);
                    g += kernel[size_t(3 * i + j)] * qGreen(p);
                    b += kernel[size_t(3 * i + j)] * qBlue(p);
                }
            }
            const uint v = uint((std::abs(r) + std::abs(g) + std::abs(b)) / 12) & 0xFF;
            target.setPixel(x, y, uint(qAlpha(source.pixel(x, y))) << 24 | v << 16 | v << 8 | v);
        }
    }
    for (int x = 0; x < width; ++x) {
        target.setPixel(x, 0, target.pixel(x, 1));
        target.setPixel(x, height - 1, target.pixel(x, height - 2));
    }
    for (int y = 0; y < height; ++y) {
        target.setPixel(0, y, target.pixel(1, y));
        target.setPixel(width - 1, y, target.pixel(width - 2, y));
    }
    return target;
}

QImage naiveCombine(const QImage& first, const QImage& second)
{
    QImage target(first.size(), first.format());
    for (int y = 0; y < first.height(); ++y) {
        for (int x = 0; x < first.width(); ++x) {
            const int a = qRed(first.pixel(x, y));
            const int b = qRed(second.pixel(x, y));
            const uint m = uint(qMin(int(std::sqrt(double(a * a + b * b))), 255));
            target.setPixel(x, y, uint(qAlpha(first.pixel(x, y))) << 24 | m << 16 | m << 8 | m);
        }
    }
    return target;
}

QImage naiveSobel(const QImage& image)
{
    ZTGaussianBlur blur(3, 2.6);
    const QImage blurred = blur.evaluate(image);
    const QImage magnitude = naiveCombine(
        naiveConvolute(blurred, horizontalEdges), naiveConvolute(blurred, verticalEdges));
    return ZTImageTest::naiveMaxFilter(magnitude, 7, 50);
}

// A Sobel method whose responses are fixed, to show that evaluate() builds on convolute().
class FixedResponses : public ZTSobelROI
{
public:
    QImage convolute(const QImage& image) const override
    {
        QImage responses(image.size(), QImage::Format_ARGB32);
        responses.fill(qRgb(30, 30, 30));
        responses.setPixel(image.width() / 2, image.height() / 2, qRgb(100, 100, 100));
        return responses;
    }
};

QImage uniform(int width, int height, QRgb colour)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

} // namespace

class tst_ZTSobelROI : public QObject
{
    Q_OBJECT

private slots:
    void totalWeightIsEight();
    void kernelOrientation_data();
    void kernelOrientation();
    void strongestResponseIs255();
    void uniformPicture();
    void picturesWithoutInterior_data();
    void picturesWithoutInterior();
    void combine_data();
    void combine();
    void combineOfMismatchedImages();
    void combineOfEveryPair();
    void evaluateUsesOverriddenConvolute();
    void evaluationIsRepeatable();
    void matchesNaiveMap_data();
    void matchesNaiveMap();
    void nullImageGivesNullMap();
};

void tst_ZTSobelROI::totalWeightIsEight()
{
    ZTSobelROI sobel;
    QCOMPARE(sobel.totalWeight(), 8);
    sobel.configureSobelV();
    QCOMPARE(sobel.totalWeight(), 8);
    sobel.configureSobelH();
    QCOMPARE(sobel.totalWeight(), 8);
}

void tst_ZTSobelROI::kernelOrientation_data()
{
    QTest::addColumn<bool>("vertical");
    QTest::addColumn<bool>("horizontalKernel");
    QTest::addColumn<int>("response");
    // Horizontal edge: rows 0 and 1 white (255), rows 2 ... 4 black; the sum at row 1 or 2 is
    // (255 + 2 * 255 + 255) * 3 channels / 12 = 255.
    QTest::newRow("horizontal edge, horizontal-edge kernel") << false << true << 255;
    QTest::newRow("horizontal edge, vertical-edge kernel") << false << false << 0;
    QTest::newRow("vertical edge, vertical-edge kernel") << true << false << 255;
    QTest::newRow("vertical edge, horizontal-edge kernel") << true << true << 0;
}

void tst_ZTSobelROI::kernelOrientation()
{
    QFETCH(bool, vertical);
    QFETCH(bool, horizontalKernel);
    QFETCH(int, response);
    QImage image = uniform(5, 5, qRgb(0, 0, 0));
    for (int i = 0; i < 5; ++i) {
        for (int j = 0; j < 2; ++j) {
            image.setPixel(vertical ? j : i, vertical ? i : j, qRgb(255, 255, 255));
        }
    }
    ZTSobelROI sobel; // starts with the horizontal-edge kernel
    if (!horizontalKernel) {
        sobel.configureSobelV();
    }
    const QImage edges = sobel.convolute(image);
    QCOMPARE(edges.pixel(2, 2), qRgb(response, response, response));
    QCOMPARE(edges, naiveConvolute(image, horizontalKernel ? horizontalEdges : verticalEdges));
}

// 3 channels * 4 * 255 / 12: the largest response fits 8 bits exactly; the borders copy it.
void tst_ZTSobelROI::strongestResponseIs255()
{
    QImage image = uniform(3, 3, qRgb(0, 0, 0));
    for (int x = 0; x < 3; ++x) {
        image.setPixel(x, 0, qRgb(255, 255, 255));
    }
    ZTSobelROI sobel;
    QCOMPARE(sobel.convolute(image), uniform(3, 3, qRgb(255, 255, 255)));
}

// The blur darkens the border of a uniform 8x8 picture of (200, 100, 50), which gives edges.
void tst_ZTSobelROI::uniformPicture()
{
    ZTSobelROI sobel;
    const QImage map = sobel.evaluate(uniform(8, 8, qRgb(200, 100, 50)));
    QCOMPARE(map.format(), QImage::Format_ARGB32);
    const int row5[] = {38, 38, 0, 0, 0, 0, 38, 38};
    for (int x = 0; x < 8; ++x) {
        QCOMPARE(map.pixel(x, 5), qRgb(row5[x], row5[x], row5[x]));
    }
    QCOMPARE(map.pixel(0, 0), qRgb(45, 45, 45));
    QCOMPARE(map.pixel(7, 0), qRgb(45, 45, 45));
    QCOMPARE(map.pixel(0, 7), qRgb(48, 48, 48));
    QCOMPARE(map.pixel(7, 7), qRgb(48, 48, 48));
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            QVERIFY(qRed(map.pixel(x, y)) <= 50);
        }
    }
}

void tst_ZTSobelROI::picturesWithoutInterior_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("1x1") << QSize(1, 1);
    QTest::newRow("2x2") << QSize(2, 2);
    QTest::newRow("2 wide") << QSize(2, 9);
    QTest::newRow("2 high") << QSize(9, 2);
    QTest::newRow("1 high") << QSize(30, 1);
}

// Less than 3 pixels wide or high: no edge responses, an opaque black map.
void tst_ZTSobelROI::picturesWithoutInterior()
{
    QFETCH(QSize, size);
    std::mt19937 random(1);
    const QImage input
        = ZTImageTest::randomPicture(size, QImage::Format_ARGB32, random, ZTImageTest::allReds());
    ZTSobelROI sobel;
    const QImage black = uniform(size.width(), size.height(), qRgb(0, 0, 0));
    QCOMPARE(sobel.convolute(input), black);
    QCOMPARE(sobel.evaluate(input), black);
}

void tst_ZTSobelROI::combine_data()
{
    QTest::addColumn<int>("a");
    QTest::addColumn<int>("b");
    QTest::addColumn<int>("magnitude");
    QTest::newRow("3, 4") << 3 << 4 << 5;
    QTest::newRow("zero") << 0 << 0 << 0;
    QTest::newRow("truncated") << 1 << 1 << 1;
    QTest::newRow("255 alone") << 0 << 255 << 255;
    QTest::newRow("180, 180 is 254.6") << 180 << 180 << 254;
    QTest::newRow("181, 180 is 255.3, saturated") << 181 << 180 << 255;
    QTest::newRow("200, 200 is 282, saturated") << 200 << 200 << 255;
    QTest::newRow("255, 255 is 360, saturated") << 255 << 255 << 255;
}

void tst_ZTSobelROI::combine()
{
    QFETCH(int, a);
    QFETCH(int, b);
    QFETCH(int, magnitude);
    QImage first(2, 1, QImage::Format_ARGB32);
    first.fill(qRgba(a, 7, 9, 0x33));
    QImage second(2, 1, QImage::Format_ARGB32);
    second.fill(qRgba(b, 1, 2, 0x77));
    ZTSobelROI sobel;
    const QImage result = sobel.combine(first, second);
    QCOMPARE(result.format(), QImage::Format_ARGB32);
    QCOMPARE(result.pixel(1, 0), qRgba(magnitude, magnitude, magnitude, 0x33));
}

// Pixels missing from the second image read as 0; non-32-bit images are read as ARGB32.
void tst_ZTSobelROI::combineOfMismatchedImages()
{
    ZTSobelROI sobel;
    const QImage result
        = sobel.combine(uniform(3, 2, qRgb(30, 30, 30)), uniform(2, 1, qRgb(40, 40, 40)));
    QCOMPARE(result.pixel(1, 0), qRgb(50, 50, 50));
    QCOMPARE(result.pixel(2, 0), qRgb(30, 30, 30));
    QCOMPARE(result.pixel(0, 1), qRgb(30, 30, 30));

    const QImage first = uniform(2, 2, qRgb(30, 0, 0)).convertToFormat(QImage::Format_RGB888);
    const QImage second
        = uniform(2, 2, qRgb(40, 40, 40)).convertToFormat(QImage::Format_Grayscale8);
    QCOMPARE(sobel.combine(first, second), uniform(2, 2, qRgb(50, 50, 50)));
}

// Every pair of reds against the magnitude as defined, in a width that leaves a remainder of
// pixels after each group of eight.
void tst_ZTSobelROI::combineOfEveryPair()
{
    constexpr int width = 251;
    constexpr int height = (65536 + width - 1) / width;
    QImage first(width, height, QImage::Format_ARGB32);
    QImage second(width, height, QImage::Format_ARGB32);
    for (int i = 0; i < width * height; ++i) {
        const int a = i % 65536 / 256;
        const int b = i % 256;
        first.setPixel(i % width, i / width, qRgba(a, 0, 0, 255 - a));
        second.setPixel(i % width, i / width, qRgb(b, 0, 0));
    }
    ZTSobelROI sobel;
    QVERIFY(ZTImageTest::sameStoredPixels(
        sobel.combine(first, second), naiveCombine(first, second), "every pair"));
}

// A subclass's responses of 30 with one of 100 give magnitudes of 42 and one of 141, which
// spreads three pixels along its row and column.
void tst_ZTSobelROI::evaluateUsesOverriddenConvolute()
{
    FixedResponses sobel;
    const QImage map = sobel.evaluate(uniform(9, 9, qRgb(0, 0, 0)));
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 9; ++x) {
            const bool onCross = (y == 4 && qAbs(x - 4) <= 3) || (x == 4 && qAbs(y - 4) <= 3);
            QCOMPARE(map.pixel(x, y), onCross ? qRgb(141, 141, 141) : qRgb(42, 42, 42));
        }
    }
}

// A second evaluation gives the same map; afterwards the vertical-edge kernel is configured.
void tst_ZTSobelROI::evaluationIsRepeatable()
{
    std::mt19937 random(4);
    const QImage input = ZTImageTest::randomBlocks(QSize(40, 30), 5, random);
    ZTSobelROI sobel;
    const QImage first = sobel.evaluate(input);
    QCOMPARE(sobel.evaluate(input), first);
    QCOMPARE(sobel.convolute(input), naiveConvolute(input, verticalEdges));
}

void tst_ZTSobelROI::matchesNaiveMap_data()
{
    QTest::addColumn<QImage>("input");
    std::mt19937 random(9);
    for (const QSize size :
        {QSize(3, 3), QSize(4, 3), QSize(3, 4), QSize(3, 8), QSize(8, 3), QSize(8, 8),
            QSize(31, 17), QSize(64, 48), QSize(97, 5), QSize(5, 97), QSize(161, 121)}) {
        QTest::addRow("noise %dx%d", size.width(), size.height()) << ZTImageTest::randomPicture(
            size, QImage::Format_ARGB32, random, ZTImageTest::allReds());
        QTest::addRow("blocks %dx%d", size.width(), size.height())
            << ZTImageTest::randomBlocks(size, 4, random);
    }
    QTest::newRow("RGB888 blocks") << ZTImageTest::randomBlocks(QSize(33, 21), 3, random)
                                          .convertToFormat(QImage::Format_RGB888);
    QTest::newRow("RGB32 noise with random alpha bytes") << ZTImageTest::randomPicture(
        QSize(37, 29), QImage::Format_RGB32, random, ZTImageTest::allReds());
    QTest::newRow("Indexed8 blocks") << ZTImageTest::randomBlocks(QSize(35, 26), 3, random)
                                            .convertToFormat(QImage::Format_Indexed8);
    QTest::newRow("Grayscale8 blocks") << ZTImageTest::randomBlocks(QSize(26, 35), 2, random)
                                              .convertToFormat(QImage::Format_Grayscale8);
    QTest::newRow("transparent noise")
        << ZTImageTest::randomPicture(QSize(20, 20), QImage::Format_ARGB32, random, {0, 255})
               .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// Whole maps against the method written out pixel by pixel; every pixel is opaque grey.
void tst_ZTSobelROI::matchesNaiveMap()
{
    QFETCH(QImage, input);
    ZTSobelROI sobel;
    const QImage map = sobel.evaluate(input);
    QVERIFY(ZTImageTest::sameStoredPixels(map, naiveSobel(input), QTest::currentDataTag()));
    sobel.configureSobelH(); // the responses keep each pixel's alpha
    QCOMPARE(sobel.convolute(input), naiveConvolute(input, horizontalEdges));
    for (int y = 0; y < map.height(); ++y) {
        for (int x = 0; x < map.width(); ++x) {
            const QRgb pixel = map.pixel(x, y);
            QCOMPARE(pixel, qRgb(qRed(pixel), qRed(pixel), qRed(pixel)));
        }
    }
}

void tst_ZTSobelROI::nullImageGivesNullMap()
{
    ZTSobelROI sobel;
    QVERIFY(sobel.evaluate(QImage()).isNull());
    QVERIFY(sobel.convolute(QImage()).isNull());
}

QTEST_GUILESS_MAIN(tst_ZTSobelROI)
#include "tst_ZTSobelROI.moc"
