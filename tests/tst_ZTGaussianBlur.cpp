#include "ZTGaussianBlur.h"
#include "ZTImageTestSupport.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <random>

namespace {

// The blur as defined: pixel reads, both passes pixel by pixel, the column pass in place.
QImage naiveBlur(const QImage& image, const QVector<double>& kernel)
{
    QImage target(image.size(), QImage::Format_ARGB32);
    const int half = kernel.size() / 2;
    double divisor = 0.0;
    for (const double weight : kernel) {
        divisor += weight;
    }
    const auto pass = [&](const QImage& from, bool columns) {
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                double sums[3] = {0.0, 0.0, 0.0};
                for (int k = -half; k <= half; ++k) {
                    const int xx = columns ? x : x + k;
                    const int yy = columns ? y + k : y;
                    if (xx >= 0 && xx < image.width() && yy >= 0 && yy < image.height()) {
                        const QRgb p = from.pixel(xx, yy);
                        sums[0] += kernel[k + half] * qRed(p);
                        sums[1] += kernel[k + half] * qGreen(p);
                        sums[2] += kernel[k + half] * qBlue(p);
                    }
                }
                uint pixel = 0xFF;
                for (const double sum : sums) {
                    pixel = pixel << 8 | (uint(int(sum / divisor)) & 0xFF);
                }
                target.setPixel(x, y, pixel);
            }
        }
    };
    pass(image, false);
    pass(target, true);
    return target;
}

QImage uniform(int width, int height, QRgb colour)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

} // namespace

class tst_ZTGaussianBlur : public QObject
{
    Q_OBJECT

private slots:
    void kernelWeights_data();
    void kernelWeights();
    void uniformPictureDarkensAtTheBorders_data();
    void uniformPictureDarkensAtTheBorders();
    void unusableSizesAreAdjusted_data();
    void unusableSizesAreAdjusted();
    void matchesNaiveBlur_data();
    void matchesNaiveBlur();
    void nullImageGivesNullImage();
};

void tst_ZTGaussianBlur::kernelWeights_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<double>("sigma");
    QTest::addColumn<QVector<double>>("weights");

    QTest::newRow("size 3, sigma 2.6")
        << 3 << 2.6
        << QVector<double> {0.3250163199427705, 0.34996736011445906, 0.3250163199427705};
    QTest::newRow("size 3, sigma 0")
        << 3 << 0.0 << QVector<double> {0.2389942656229905, 0.5220114687540189, 0.2389942656229905};
    QTest::newRow("size 1") << 1 << 2.6 << QVector<double> {1.0};
    QTest::newRow("size 0 is empty") << 0 << 2.6 << QVector<double> {};
    QTest::newRow("negative size is empty") << -5 << 2.6 << QVector<double> {};
    QTest::newRow("int minimum is empty")
        << std::numeric_limits<int>::min() << 0.0 << QVector<double> {};
    QTest::newRow("sigma whose square underflows")
        << 5 << 1e-200 << QVector<double> {0.0, 0.0, 1.0, 0.0, 0.0};
    QTest::newRow("infinite sigma is flat")
        << 4 << std::numeric_limits<double>::infinity() << QVector<double> {0.25, 0.25, 0.25, 0.25};
}

void tst_ZTGaussianBlur::kernelWeights()
{
    QFETCH(int, size);
    QFETCH(double, sigma);
    QFETCH(QVector<double>, weights);
    ZTGaussianBlur blur(3, 2.6);
    const QVector<double> kernel = blur.createGaussianKernel(size, sigma);
    QCOMPARE(kernel.size(), weights.size());
    for (int i = 0; i < kernel.size(); ++i) {
        // Exact: QCOMPARE would compare doubles fuzzily.
        QVERIFY2(kernel[i] == weights[i],
            qPrintable(QString::number(kernel[i], 'g', 17) + " at " + QString::number(i)));
    }
}

void tst_ZTGaussianBlur::uniformPictureDarkensAtTheBorders_data()
{
    QTest::addColumn<QImage>("input");
    QTest::addColumn<int>("column");
    QTest::addColumn<QVector<QRgb>>("expected"); // from the top

    const QImage orange = uniform(5, 5, qRgb(200, 100, 50));
    QTest::newRow("5x5 middle column")
        << orange << 2
        << QVector<QRgb> {qRgb(134, 67, 33), qRgb(178, 89, 44), qRgb(192, 96, 48),
               qRgb(197, 98, 49), qRgb(134, 66, 33)};
    QTest::newRow("5x5 left column") << orange << 0
                                     << QVector<QRgb> {qRgb(90, 45, 22), qRgb(119, 59, 29),
                                            qRgb(129, 64, 31), qRgb(132, 66, 32), qRgb(89, 44, 21)};

    const QImage white = uniform(4, 4, qRgb(255, 255, 255));
    const QVector<int> outer = {116, 153, 165, 113};
    const QVector<int> inner = {172, 228, 246, 169};
    for (int column = 0; column < 4; ++column) {
        const QVector<int>& values = column == 0 || column == 3 ? outer : inner;
        QVector<QRgb> expected;
        for (const int v : values) {
            expected.append(qRgb(v, v, v));
        }
        QTest::addRow("white 4x4 column %d", column) << white << column << expected;
    }
}

// Size 3, sigma 2.6: the borders darken, and the in-place column pass brightens the interior
// from top to bottom.
void tst_ZTGaussianBlur::uniformPictureDarkensAtTheBorders()
{
    QFETCH(QImage, input);
    QFETCH(int, column);
    QFETCH(QVector<QRgb>, expected);
    ZTGaussianBlur blur(3, 2.6);
    const QImage result = blur.evaluate(input);
    QCOMPARE(result.format(), QImage::Format_ARGB32);
    QCOMPARE(result.size(), input.size());
    for (int y = 0; y < expected.size(); ++y) {
        QCOMPARE(result.pixel(column, y), expected[y]);
    }
}

void tst_ZTGaussianBlur::unusableSizesAreAdjusted_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<double>("sigma");
    QTest::addColumn<int>("actsAs");
    QTest::newRow("size 0 acts as 1") << 0 << 2.6 << 1;
    QTest::newRow("size -4 acts as 1") << -4 << 0.0 << 1;
    QTest::newRow("int minimum acts as 1") << std::numeric_limits<int>::min() << 1.0 << 1;
    QTest::newRow("size 2 acts as 3") << 2 << 2.6 << 3;
    QTest::newRow("size 4 acts as 5") << 4 << 2.6 << 5;
    QTest::newRow("size 4 with derived sigma acts as 5") << 4 << 0.0 << 5;
}

void tst_ZTGaussianBlur::unusableSizesAreAdjusted()
{
    QFETCH(int, size);
    QFETCH(double, sigma);
    QFETCH(int, actsAs);
    std::mt19937 random(size & 0xFFFF);
    const QImage input = ZTImageTest::randomPicture(
        QSize(9, 8), QImage::Format_ARGB32, random, ZTImageTest::allReds());
    ZTGaussianBlur blur(size, sigma);
    ZTGaussianBlur reference(actsAs, sigma);
    QVERIFY(ZTImageTest::sameStoredPixels(
        blur.evaluate(input), reference.evaluate(input), "adjusted size"));
}

void tst_ZTGaussianBlur::matchesNaiveBlur_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<QSize>("size");
    for (const QImage::Format format : {QImage::Format_RGB32, QImage::Format_ARGB32,
             QImage::Format_ARGB32_Premultiplied, QImage::Format_RGB888, QImage::Format_RGB16,
             QImage::Format_Grayscale8, QImage::Format_Indexed8, QImage::Format_RGBA8888}) {
        for (const QSize size :
            {QSize(1, 1), QSize(1, 9), QSize(9, 1), QSize(2, 3), QSize(17, 12), QSize(64, 48)}) {
            QTest::addRow("format %d, %dx%d", int(format), size.width(), size.height())
                << format << size;
        }
    }
}

// Whole pictures of every kind of format against the blur as defined, for kernels narrower and
// wider than the picture. Size 1 copies the colours; random alpha bytes all become 255.
void tst_ZTGaussianBlur::matchesNaiveBlur()
{
    QFETCH(QImage::Format, format);
    QFETCH(QSize, size);
    std::mt19937 random(static_cast<unsigned>(size.width() * 100 + size.height()));
    const QImage input = ZTImageTest::randomPicture(size, format, random, ZTImageTest::allReds());
    for (const int kernelSize : {1, 3, 5, 9, 41}) {
        for (const double sigma : {2.6, 0.0, 0.3}) {
            ZTGaussianBlur blur(kernelSize, sigma);
            const QString name = QStringLiteral("blur-%1-%2x%3-size%4-sigma%5")
                                     .arg(int(format))
                                     .arg(size.width())
                                     .arg(size.height())
                                     .arg(kernelSize)
                                     .arg(sigma);
            const QImage expected = naiveBlur(input, blur.createGaussianKernel(kernelSize, sigma));
            QVERIFY2(ZTImageTest::sameStoredPixels(blur.evaluate(input), expected, name),
                qPrintable(name));
        }
    }
}

void tst_ZTGaussianBlur::nullImageGivesNullImage()
{
    ZTGaussianBlur blur(3, 2.6);
    QVERIFY(blur.evaluate(QImage()).isNull());
}

QTEST_GUILESS_MAIN(tst_ZTGaussianBlur)
#include "tst_ZTGaussianBlur.moc"
