// The resampler that scales crops and thumbnails: within a level of the exact area average
// (shrinking) or linear interpolation (enlarging), symmetric, and refusing what it cannot scale.

#include "ZTImageTestSupport.h"
#include "crops/ZTResampler.h"

#include <QtTest>

#include <cmath>

namespace {
constexpr double refused = -1.0; // a tolerance that stands for a null image

// Random pixel words: every channel, alpha too, counts.
QImage randomPicture(const QSize& size)
{
    std::mt19937 random(quint32(size.width() * 1000 + size.height()));
    return ZTImageTest::randomPicture(size, QImage::Format_ARGB32, random, ZTImageTest::allReds());
}

// The weight of source pixel j in output pixel i along an axis, from the definition: shrinking,
// the share of output pixel i's span that source pixel j covers; otherwise linear interpolation
// at output pixel i's centre, kept inside the span's pixels.
double weight(int i, int j, double start, double length, int outputs)
{
    const double step = length / outputs;
    if (step > 1.0) {
        const double from = start + i * step;
        return std::max(0.0, std::min(from + step, j + 1.0) - std::max(from, double(j))) / step;
    }
    const double centre = std::clamp(
        start + (i + 0.5) * step - 0.5, std::floor(start), std::ceil(start + length) - 1.0);
    return std::max(0.0, 1.0 - std::abs(centre - j));
}

// The largest difference of any channel between @p actual and the exact, unrounded resampling
// of @p window of @p source.
double largestError(const QImage& actual, const QImage& source, const QRectF& window)
{
    double largest = 0.0;
    for (int y = 0; y < actual.height(); ++y) {
        for (int x = 0; x < actual.width(); ++x) {
            for (int shift = 0; shift < 32; shift += 8) { // each channel of the pixel word
                double exact = 0.0;
                for (int sy = 0; sy < source.height(); ++sy) {
                    const double rowWeight
                        = weight(y, sy, window.y(), window.height(), actual.height());
                    for (int sx = 0; rowWeight > 0.0 && sx < source.width(); ++sx) {
                        exact += rowWeight
                            * weight(x, sx, window.x(), window.width(), actual.width())
                            * ((source.pixel(sx, sy) >> shift) & 0xff);
                    }
                }
                const int channel = (actual.pixel(x, y) >> shift) & 0xff;
                largest = std::max(largest, std::abs(channel - exact));
            }
        }
    }
    return largest;
}

// A picture of @p size whose channels vary differently along both axes. Its values make truncated
// weights show (random ones of pictures this small may not).
QImage pattern(const QSize& size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            image.setPixel(x, y,
                qRgb((x * 37 + y * 91) % 256, (x * 113 + y * 7 + 50) % 256,
                    (x * x * 5 + y * 3) % 256));
        }
    }
    return image;
}

} // namespace

class tst_ZTResampler : public QObject
{
    Q_OBJECT

private slots:
    void matchesTheExactResult_data();
    void matchesTheExactResult();
    void mirroringCommutes_data();
    void mirroringCommutes();
};

void tst_ZTResampler::matchesTheExactResult_data()
{
    QTest::addColumn<QImage>("source");
    QTest::addColumn<QRectF>("window");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<double>("tolerance"); // from the exact result, in levels; or refused

    // Rounding to whole levels costs half a level, the truncated fixed point a little more; a
    // point-sampling scaler would miss random pixels by far more.
    const auto row = [](const char* name, const QImage& source, const QRectF& window,
                         const QSize& size, double tolerance = 0.75) {
        QTest::newRow(name) << source << window << size << tolerance;
    };
    row("a window at fractions of pixels", randomPicture({200, 50}), {3.25, 1.5, 150.5, 40.25},
        {47, 13});
    row("1000x1: wider, all rows in one", randomPicture({64, 64}), {0, 0, 64, 64}, {1000, 1});
    row("same size at whole pixels: a copy", randomPicture({40, 30}), {5, 6, 20, 10}, {20, 10}, 0);
    row("a window beyond the picture is clipped", randomPicture({30, 20}), {-10, 10, 50, 20},
        {10, 4});
    // A thousand source pixels to an output pixel: no rounding may pile up, a flat area keeps its
    // exact value (to within the reference's floating point).
    const QImage flat = ZTImageTest::uniform(QSize(1100, 1100), qRgba(77, 128, 201, 254));
    row("flat grey, 1000:1 at fractions of pixels", flat, {50.25, 20.5, 1000, 1000}, {1, 1}, 1e-6);
    // What it cannot scale gives a null image.
    const QImage image = randomPicture(QSize(40, 30));
    row("a null image", QImage(), {0, 0, 8, 8}, {4, 4}, refused);
    row("a window outside the picture", image, {50, 50, 10, 10}, {5, 5}, refused);
    row("an empty size", image, {0, 0, 10, 10}, {0, 5}, refused);
    row("another format", image.convertToFormat(QImage::Format_RGB888), {0, 0, 10, 10}, {5, 5},
        refused);
}

// Exactly the size asked for, within a level of the exact area average (shrinking) or linear
// interpolation (enlarging) in every channel; or refused.
void tst_ZTResampler::matchesTheExactResult()
{
    QFETCH(QImage, source);
    QFETCH(QRectF, window);
    QFETCH(QSize, size);
    QFETCH(double, tolerance);

    const QImage scaled = ZTResampler::resample(source, window, size);
    if (tolerance == refused) {
        QVERIFY(scaled.isNull());
        return;
    }
    QVERIFY(scaled.size() == size && scaled.format() == source.format());
    const double error = largestError(scaled, source, window.intersected(QRectF(source.rect())));
    QVERIFY2(error <= tolerance, qPrintable(QString::number(error)));
}

void tst_ZTResampler::mirroringCommutes_data()
{
    QTest::addColumn<QSize>("input");
    QTest::addColumn<QSize>("output");

    QTest::newRow("shrunk by 6, taps of 1/6") << QSize(6, 1) << QSize(1, 1);
    QTest::newRow("shrunk by 5/3") << QSize(5, 4) << QSize(3, 2);
    QTest::newRow("grown") << QSize(6, 1) << QSize(11, 7);
}

// A picture scaled and then mirrored is the mirrored picture scaled: rounding the taps' weights
// must not favour the pixels on one side of an output pixel.
void tst_ZTResampler::mirroringCommutes()
{
    QFETCH(QSize, input);
    QFETCH(QSize, output);

    const QImage image = pattern(input);
    const QRectF all(image.rect());
    for (const bool horizontally : {true, false}) {
        QCOMPARE(ZTResampler::resample(image, all, output).mirrored(horizontally, !horizontally),
            ZTResampler::resample(image.mirrored(horizontally, !horizontally), all, output));
    }
}

QTEST_GUILESS_MAIN(tst_ZTResampler)
#include "tst_ZTResampler.moc"
