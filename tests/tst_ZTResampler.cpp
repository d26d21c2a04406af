#include "ZTResampler.h"

#include <QColorSpace>
#include <QtTest>

#include <cmath>
#include <random>
#include <vector>

namespace {

// Black and white stripes @p width pixels wide, running top to bottom, in coloured channels so
// that a mix-up of channels shows: white is (255, 200, 100, 255).
QImage stripes(const QSize& size, int width)
{
    QImage image(size, QImage::Format_ARGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            image.setPixel(x, y, (x / width) % 2 ? qRgb(255, 200, 100) : qRgba(0, 0, 0, 255));
        }
    }
    return image;
}

QImage randomPicture(const QSize& size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    std::mt19937 random(size.width() * 1000 + size.height());
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const int alpha = int(random() % 256);
            const auto channel = [&] { return int(random() % unsigned(alpha + 1)); };
            image.setPixel(x, y, qRgba(channel(), channel(), channel(), alpha));
        }
    }
    return image;
}

// The weight of source pixel j in output pixel i along an axis, straight from the definition:
// when shrinking, the share of output pixel i's span [start + i * step, start + (i + 1) * step)
// that source pixel j covers; otherwise linear interpolation at output pixel i's centre, kept
// inside the span's pixels.
double referenceWeight(int i, int j, double start, double length, int outputs)
{
    const double step = length / outputs;
    if (step > 1.0) {
        const double from = start + i * step;
        const double overlap = std::min(from + step, j + 1.0) - std::max(from, double(j));
        return std::max(0.0, overlap) / step;
    }
    const double centre = std::clamp(
        start + (i + 0.5) * step - 0.5, std::floor(start), std::ceil(start + length) - 1.0);
    return std::max(0.0, 1.0 - std::abs(centre - j));
}

// The largest difference of any channel of any pixel between @p actual and the exact, unrounded
// resampling of @p window of @p source.
double largestError(const QImage& actual, const QImage& source, const QRectF& window)
{
    const int width = actual.width();
    const int height = actual.height();
    std::vector<double> columns(size_t(width) * size_t(source.width()));
    std::vector<double> rows(size_t(height) * size_t(source.height()));
    for (int i = 0; i < width; ++i) {
        for (int j = 0; j < source.width(); ++j) {
            columns[size_t(i * source.width() + j)]
                = referenceWeight(i, j, window.x(), window.width(), width);
        }
    }
    for (int i = 0; i < height; ++i) {
        for (int j = 0; j < source.height(); ++j) {
            rows[size_t(i * source.height() + j)]
                = referenceWeight(i, j, window.y(), window.height(), height);
        }
    }
    double largest = 0.0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double sums[4] = {};
            for (int sy = 0; sy < source.height(); ++sy) {
                const double rowWeight = rows[size_t(y * source.height() + sy)];
                for (int sx = 0; rowWeight > 0.0 && sx < source.width(); ++sx) {
                    const double weight = rowWeight * columns[size_t(x * source.width() + sx)];
                    const QRgb pixel = source.pixel(sx, sy);
                    const int channels[4]
                        = {qRed(pixel), qGreen(pixel), qBlue(pixel), qAlpha(pixel)};
                    for (int c = 0; c < 4; ++c) {
                        sums[c] += weight * channels[c];
                    }
                }
            }
            const QRgb pixel = actual.pixel(x, y);
            const int got[4] = {qRed(pixel), qGreen(pixel), qBlue(pixel), qAlpha(pixel)};
            for (int c = 0; c < 4; ++c) {
                largest = std::max(largest, std::abs(got[c] - sums[c]));
            }
        }
    }
    return largest;
}

} // namespace

class tst_ZTResampler : public QObject
{
    Q_OBJECT

private slots:
    void matchesTheExactAverage_data();
    void matchesTheExactAverage();
    void refusedInput_data();
    void refusedInput();
};

void tst_ZTResampler::matchesTheExactAverage_data()
{
    QTest::addColumn<QImage>("source");
    QTest::addColumn<QRectF>("window");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<double>("tolerance"); // from the exact result, in levels

    // Rounding to whole levels costs half a level, the truncated fixed point at most a little
    // more; a nearest-neighbour or point-sampled scaler would miss fine stripes by over 100.
    const auto row = [](const char* name, const QImage& source, const QRectF& window,
                         const QSize& size, double tolerance = 0.75) {
        QTest::newRow(name) << source << window << size << tolerance;
    };
    row("1-pixel stripes, 1000 to 333 columns", stripes({1000, 3}, 1), QRectF(0, 0, 1000, 3),
        QSize(333, 3));
    row("1-pixel stripes, a third of their size", stripes({99, 99}, 1), QRectF(0, 0, 99, 99),
        QSize(33, 33));
    row("2-pixel stripes, a window at fractions of pixels", stripes({200, 50}, 2),
        QRectF(3.25, 1.5, 150.5, 40.25), QSize(47, 13));
    row("1:3 output", randomPicture({64, 64}), QRectF(0, 0, 64, 64), QSize(21, 63));
    row("1000x1: wider, and all rows in one", randomPicture({64, 64}), QRectF(0, 0, 64, 64),
        QSize(1000, 1));
    row("1x1000", randomPicture({64, 64}), QRectF(8, 0, 48, 64), QSize(1, 1000));
    row("larger than the source, linear", randomPicture({10, 7}), QRectF(0, 0, 10, 7),
        QSize(97, 53));
    row("a window inside, shrunk and enlarged", randomPicture({60, 40}), QRectF(10, 5, 30, 12),
        QSize(7, 50));
    row("same size at whole pixels: a copy", randomPicture({40, 30}), QRectF(5, 6, 20, 10),
        QSize(20, 10), 0.0);
    row("a window beyond the picture is clipped", randomPicture({30, 20}), QRectF(-10, 10, 50, 20),
        QSize(10, 4));
}

// Output of exactly the size asked for, within a level of the exact area average (shrinking) or
// linear interpolation (enlarging), channel by channel; format and colour space carried over.
void tst_ZTResampler::matchesTheExactAverage()
{
    QFETCH(QImage, source);
    QFETCH(QRectF, window);
    QFETCH(QSize, size);
    QFETCH(double, tolerance);

    source.setColorSpace(QColorSpace::DisplayP3);
    const QImage scaled = ZTResampler::resample(source, window, size);
    QCOMPARE(scaled.size(), size);
    QCOMPARE(scaled.format(), source.format());
    QCOMPARE(scaled.colorSpace(), QColorSpace(QColorSpace::DisplayP3));
    const QRectF clipped = window.intersected(QRectF(source.rect()));
    const double error = largestError(scaled, source, clipped);
    QVERIFY2(error <= tolerance, qPrintable(QString::number(error)));
}

void tst_ZTResampler::refusedInput_data()
{
    QTest::addColumn<QImage>("source");
    QTest::addColumn<QRectF>("window");
    QTest::addColumn<QSize>("size");

    const QImage picture = stripes({8, 8}, 1);
    QTest::newRow("null image") << QImage() << QRectF(0, 0, 8, 8) << QSize(4, 4);
    QTest::newRow("empty size") << picture << QRectF(0, 0, 8, 8) << QSize(4, 0);
    QTest::newRow("window outside") << picture << QRectF(8, 0, 4, 4) << QSize(4, 4);
    QTest::newRow("empty window") << picture << QRectF(2, 2, 0, 4) << QSize(4, 4);
    QTest::newRow("8-bit grey") << picture.convertToFormat(QImage::Format_Grayscale8)
                                << QRectF(0, 0, 8, 8) << QSize(4, 4);
}

void tst_ZTResampler::refusedInput()
{
    QFETCH(QImage, source);
    QFETCH(QRectF, window);
    QFETCH(QSize, size);

    QVERIFY(ZTResampler::resample(source, window, size).isNull());
}

QTEST_GUILESS_MAIN(tst_ZTResampler)
#include "tst_ZTResampler.moc"
