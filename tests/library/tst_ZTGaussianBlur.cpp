#include "ZTGaussianBlur.h"
#include "ZTImageTestSupport.h"

#include <QtTest>

using namespace ZTImageTest;

class tst_ZTGaussianBlur : public QObject
{
    Q_OBJECT

private slots:
    // Size 3, sigma 2.6. QVector compares its doubles exactly.
    void fixedResults()
    {
        ZTGaussianBlur blur(3, 2.6);
        QCOMPARE(blur.createGaussianKernel(3, 2.6),
            QVector<double>({0.3250163199427705, 0.34996736011445906, 0.3250163199427705}));
        // Sigma 0 is derived from the size: 0.8 for size 3.
        QCOMPARE(blur.createGaussianKernel(3, 0.0),
            QVector<double>({0.2389942656229905, 0.5220114687540189, 0.2389942656229905}));
        QCOMPARE(blur.createGaussianKernel(1, 2.6), QVector<double> {1.0});
        QCOMPARE(blur.createGaussianKernel(0, 2.6), QVector<double>());
        // A sigma whose square underflows keeps the middle weight.
        QCOMPARE(blur.createGaussianKernel(5, 1e-200), QVector<double>({0, 0, 1, 0, 0}));
        // Uniform pictures: the borders darken, and the in-place column pass brightens the
        // interior from top to bottom.
        const QImage orange = blur.evaluate(uniform(QSize(5, 5), qRgb(200, 100, 50)));
        QCOMPARE(pixelsOf(orange.copy(2, 0, 1, 5)),
            pixels("134 67 33, 178 89 44, 192 96 48, 197 98 49, 134 66 33"));
        QCOMPARE(pixelsOf(orange.copy(0, 0, 1, 5)),
            pixels("90 45 22, 119 59 29, 129 64 31, 132 66 32, 89 44 21"));
        QCOMPARE(pixelsOf(blur.evaluate(uniform(QSize(4, 4), qRgb(255, 255, 255)))),
            pixels(
                "116, 172, 172, 116, 153, 228, 228, 153, 165, 246, 246, 165, 113, 169, 169, 113"));
    }

    // Size 9 with the derived sigma sums to 0.9999999999999998, not 1: white sums to
    // 254.99999999999997 in the middle of a row, which only the division by the kernel sum
    // brings back to 255 (a blur that skipped it would truncate to 254).
    void dividesByKernelSumNearOne()
    {
        ZTGaussianBlur blur(9, 0.0);
        const QVector<double> kernel = blur.createGaussianKernel(9, 0.0);
        QVERIFY(std::accumulate(kernel.begin(), kernel.end(), 0.0) != 1.0);
        const QImage white = uniform(QSize(17, 17), qRgb(255, 255, 255));
        QVERIFY(sameStoredPixels(blur.evaluate(white), naiveBlur(white, kernel), "white"));
    }

    // Pictures of several sizes and formats, with random alpha bytes that all become 255, against
    // the blur as defined, for kernels narrower and wider than the picture. A size below 1 acts as
    // 1 and an even size as the next odd one, also where the sigma is derived from the size.
    void matchesNaiveBlur()
    {
        std::mt19937 random(3);
        for (const QSize size : {QSize(0, 0), QSize(1, 1), QSize(1, 9), QSize(9, 1), QSize(2, 3),
                 QSize(17, 12), QSize(64, 48)}) {
            for (const QImage::Format format :
                {QImage::Format_RGB32, QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied,
                    QImage::Format_RGB888, QImage::Format_Grayscale8, QImage::Format_Indexed8}) {
                const QImage input = randomPicture(size, format, random, allReds());
                for (const int kernelSize : {-4, 1, 2, 3, 4, 9, 41}) {
                    for (const double sigma : {2.6, 0.0}) {
                        ZTGaussianBlur blur(kernelSize, sigma);
                        const QVector<double> kernel
                            = blur.createGaussianKernel(qMax(kernelSize, 1) | 1, sigma);
                        QVERIFY(sameStoredPixels(blur.evaluate(input), naiveBlur(input, kernel),
                            QString::asprintf("blur-%dx%d-format%d-size%d-sigma%g", size.width(),
                                size.height(), int(format), kernelSize, sigma)));
                    }
                }
            }
        }
    }
};

QTEST_GUILESS_MAIN(tst_ZTGaussianBlur)
#include "tst_ZTGaussianBlur.moc"
