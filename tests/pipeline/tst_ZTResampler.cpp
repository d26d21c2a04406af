// The resampler that scales crops and thumbnails: within a level of the exact area average
// (shrinking) or linear interpolation (enlarging), symmetric, and refusing what it cannot scale.

#include "ZTImageTestSupport.h"
#include "crops/ZTResampler.h"

#include <QtTest>

#include <cmath>

namespace {
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
            double exact[4] = {};
            for (int sy = 0; sy < source.height(); ++sy) {
                const double rowWeight
                    = weight(y, sy, window.y(), window.height(), actual.height());
                for (int sx = 0; rowWeight > 0.0 && sx < source.width(); ++sx) {
                    const double w
                        = rowWeight * weight(x, sx, window.x(), window.width(), actual.width());
                    const QRgb p = source.pixel(sx, sy);
                    exact[0] += w * qRed(p);
                    exact[1] += w * qGreen(p);
                    exact[2] += w * qBlue(p);
                    exact[3] += w * qAlpha(p);
                }
            }
            const QRgb p = actual.pixel(x, y);
            for (const double error : {qRed(p) - exact[0], qGreen(p) - exact[1],
                     qBlue(p) - exact[2], qAlpha(p) - exact[3]}) {
                largest = std::max(largest, std::abs(error));
            }
        }
    }
    return largest;
}

// A picture of @p size whose channels vary differently along both axes.
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

QImage whole(const QImage& image, const QSize& size)
{
    return ZTResampler::resample(image, QRectF(QPointF(0, 0), QSizeF(image.size())), size);
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
    void refusedInput_data();
    void refusedInput();
};

void tst_ZTResampler::matchesTheExactResult_data()
{
    QTest::addColumn<QImage>("source");
    QTest::addColumn<QRectF>("window");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<double>("tolerance"); // from the exact result, in levels

    // Rounding to whole levels costs half a level, the truncated fixed point a little more; a
    // point-sampling scaler would miss random pixels by far more.
    const auto row = [](const char* name, const QImage& source, const QRectF& window,
                         const QSize& size, double tolerance = 0.75) {
        QTest::newRow(name) << source << window << size << tolerance;
    };
    row("a third", randomPicture({99, 99}), {0, 0, 99, 99}, {33, 33});
    row("a window at fractions of pixels", randomPicture({200, 50}), {3.25, 1.5, 150.5, 40.25},
        {47, 13});
    row("1000x1: wider, all rows in one", randomPicture({64, 64}), {0, 0, 64, 64}, {1000, 1});
    row("1x1000", randomPicture({64, 64}), {8, 0, 48, 64}, {1, 1000});
    row("larger than the source", randomPicture({10, 7}), {0, 0, 10, 7}, {97, 53});
    row("a window inside, shrunk and enlarged", randomPicture({60, 40}), {10, 5, 30, 12}, {7, 50});
    row("same size at whole pixels: a copy", randomPicture({40, 30}), {5, 6, 20, 10}, {20, 10}, 0);
    row("a window beyond the picture is clipped", randomPicture({30, 20}), {-10, 10, 50, 20},
        {10, 4});
    // Hundreds of source pixels per output pixel: no rounding may pile up, a flat area keeps its
    // exact value.
    const auto flat = [](const QSize& size, QRgb colour) {
        QImage image(size, QImage::Format_ARGB32);
        image.fill(colour);
        return image;
    };
    constexpr double unchanged = 1e-6; // what the reference's floating point may miss by
    row("flat white, 1000:1", flat({2000, 2000}, qRgb(255, 255, 255)), {0, 0, 2000, 2000}, {2, 2},
        unchanged);
    row("flat grey, 1000:1 at fractions of pixels", flat({1100, 1100}, qRgba(77, 128, 201, 254)),
        {50.25, 20.5, 1000, 1000}, {1, 1}, unchanged);
}

// Exactly the size asked for, within a level of the exact area average (shrinking) or linear
// interpolation (enlarging) in every channel.
void tst_ZTResampler::matchesTheExactResult()
{
    QFETCH(QImage, source);
    QFETCH(QRectF, window);
    QFETCH(QSize, size);
    QFETCH(double, tolerance);

    const QImage scaled = ZTResampler::resample(source, window, size);
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
    for (const bool horizontally : {true, false}) {
        QCOMPARE(whole(image, output).mirrored(horizontally, !horizontally),
            whole(image.mirrored(horizontally, !horizontally), output));
    }
}

void tst_ZTResampler::refusedInput_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<QRectF>("window");
    QTest::addColumn<QSize>("size");

    // What is copied or kept flat is matchesTheExactResult's, at no tolerance.
    const QImage image = randomPicture(QSize(40, 30));
    QTest::newRow("a null image") << QImage() << QRectF(0, 0, 8, 8) << QSize(4, 4);
    QTest::newRow("a window outside the picture") << image << QRectF(50, 50, 10, 10) << QSize(5, 5);
    QTest::newRow("an empty size") << image << QRectF(0, 0, 10, 10) << QSize(0, 5);
    QTest::newRow("another format")
        << image.convertToFormat(QImage::Format_RGB888) << QRectF(0, 0, 10, 10) << QSize(5, 5);
}

void tst_ZTResampler::refusedInput()
{
    QFETCH(QImage, image);
    QFETCH(QRectF, window);
    QFETCH(QSize, size);

    QVERIFY(ZTResampler::resample(image, window, size).isNull());
}

QTEST_GUILESS_MAIN(tst_ZTResampler)
#include "tst_ZTResampler.moc"
