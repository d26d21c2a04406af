#include "ZTGaussianBlur.h"
#include "ZTImageTestSupport.h"
#include "ZTSobelROI.h"

#include <QtTest>

#include <cmath>

using namespace ZTImageTest;

namespace {

const int horizontalEdges[9] = {1, 2, 1, 0, 0, 0, -1, -2, -1},
          verticalEdges[9] = {1, 0, -1, 2, 0, -2, 1, 0, -1};

// A Sobel method whose responses are 30 everywhere.
class FixedResponses : public ZTSobelROI
{
public:
    QImage convolute(const QImage& in) const override { return uniform(in.size(), 0xFF1E1E1E); }
};

// A subclass with the class's own responses, which evaluate() reaches through the virtual call.
class OwnResponses : public ZTSobelROI
{
public:
    QImage convolute(const QImage& in) const override { return ZTSobelROI::convolute(in); }
};

} // namespace

class tst_ZTSobelROI : public QObject
{
    Q_OBJECT

private slots:
    // totalWeight() is 8 for both kernels, so the divisor is 12 and the strongest response,
    // 3 * 4 * 255 / 12, is exactly 255: across a white first row, or column. The blur darkens
    // the border of a uniform picture, which gives edges, none above 50.
    void responsesAndMagnitudes()
    {
        ZTSobelROI sobel;
        for (const char* white :
            {"255, 255, 255, 0, 0, 0, 0, 0, 0", "255, 0, 0, 255, 0, 0, 255, 0, 0"}) {
            QCOMPARE(sobel.totalWeight(), 8);
            QCOMPARE(pixelsOf(sobel.convolute(pictureOf(QSize(3, 3), pixels(white)))),
                QVector<QRgb>(9, qRgb(255, 255, 255)));
            sobel.configureSobelV();
        }
        const QVector<QRgb> all
            = pixelsOf(sobel.evaluate(uniform(QSize(8, 8), qRgb(200, 100, 50))));
        QCOMPARE(all.mid(40, 8), pixels("38, 38, 0, 0, 0, 0, 38, 38"));
        QCOMPARE(QVector<QRgb>({all[0], all[7], all[56], all[63]}), pixels("45, 45, 48, 48"));
        QVERIFY(std::all_of(all.begin(), all.end(), [](QRgb p) { return qRed(p) <= 50; }));
        // evaluate() builds on a subclass's responses: magnitudes of 42, which do not spread.
        QCOMPARE(pixelsOf(FixedResponses().evaluate(uniform(QSize(9, 9), 0xFF000000))),
            QVector<QRgb>(81, qRgb(42, 42, 42)));
        // Every pair of reds against the magnitude as defined, in a width that leaves a remainder
        // after each group of eight.
        QImage first(251, 262, QImage::Format_ARGB32);
        QImage second(first.size(), QImage::Format_ARGB32);
        for (int i = 0; i < 65536; ++i) {
            first.setPixel(i % 251, i / 251, qRgba(i / 256, 0, 0, 255 - i / 256));
            second.setPixel(i % 251, i / 251, qRgb(i % 256, 0, 0));
        }
        QVERIFY(
            sameStoredPixels(sobel.combine(first, second), naiveCombine(first, second), "pairs"));
    }

    void matchesNaiveMap_data()
    {
        QTest::addColumn<QImage>("input");
        std::mt19937 random(9);
        // The maximum filter runs on bands of 64 rows: heights around one and two bands.
        for (const QSize size :
            {QSize(0, 0), QSize(1, 1), QSize(2, 9), QSize(9, 2), QSize(3, 3), QSize(4, 3),
                QSize(31, 17), QSize(64, 48), QSize(20, 64), QSize(19, 67), QSize(17, 131)}) {
            QTest::addRow("%dx%d", size.width(), size.height())
                << randomPicture(size, QImage::Format_RGB32, random, allReds());
        }
        // Steps from white to black a few rows above and below the borders of the bands, one
        // row further down in each group of four columns: their edges spread across the borders.
        QImage steps(60, 140, QImage::Format_RGB32);
        for (int y = 0; y < steps.height(); ++y) {
            QRgb* const line = reinterpret_cast<QRgb*>(steps.scanLine(y));
            for (int x = 0; x < steps.width(); ++x) {
                const int step = 56 + x / 4;
                line[x] = (y < step || (y >= step + 40 && y < step + 64)) ? qRgb(255, 255, 255)
                                                                          : qRgb(0, 0, 0);
            }
        }
        QTest::newRow("steps at the band borders") << steps;
        for (const auto format :
            {QImage::Format_ARGB32, QImage::Format_RGB888, QImage::Format_Indexed8,
                QImage::Format_Grayscale8, QImage::Format_ARGB32_Premultiplied}) {
            QTest::addRow("%s blocks", formatName(format))
                << randomBlocks(QSize(35, 26), 3, random).convertToFormat(format);
        }
    }

    // Whole maps against the method written out pixel by pixel, evaluated twice; evaluate()
    // leaves the vertical-edge kernel configured, and responses keep each pixel's alpha. Less
    // than 3 pixels wide or high there are no edges: responses and maps are black.
    void matchesNaiveMap()
    {
        QFETCH(QImage, input);
        ZTSobelROI sobel;
        const QImage blurred = ZTGaussianBlur(3, 2.6).evaluate(input);
        const QImage expected
            = naiveMaxFilter(naiveCombine(naiveConvolution(blurred, horizontalEdges),
                                 naiveConvolution(blurred, verticalEdges)),
                7, 50);
        QVERIFY(sameStoredPixels(sobel.evaluate(input), expected, QTest::currentDataTag()));
        QVERIFY(sameStoredPixels(sobel.evaluate(input), expected, QTest::currentDataTag()));
        QVERIFY(sameStoredPixels(OwnResponses().evaluate(input), expected, "subclass"));
        QVERIFY(
            sameStoredPixels(sobel.convolute(input), naiveConvolution(input, verticalEdges), "V"));
        sobel.configureSobelH();
        QVERIFY(sameStoredPixels(
            sobel.convolute(input), naiveConvolution(input, horizontalEdges), "H"));
    }
};

QTEST_GUILESS_MAIN(tst_ZTSobelROI)
#include "tst_ZTSobelROI.moc"
