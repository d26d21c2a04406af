// The resampler of crops and thumbnails: what its fixed-point arithmetic must keep exact.

#include "crops/ZTResampler.h"

#include <QtTest>

namespace {

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
    void mirroringCommutes_data();
    void mirroringCommutes();
    void exactCases_data();
    void exactCases();
};

void tst_ZTResampler::mirroringCommutes_data()
{
    QTest::addColumn<QSize>("input");
    QTest::addColumn<QSize>("output");

    QTest::newRow("shrunk by 6, taps of 1/6") << QSize(6, 1) << QSize(1, 1);
    QTest::newRow("shrunk by 5/3") << QSize(5, 4) << QSize(3, 2);
    QTest::newRow("shrunk by 10/3") << QSize(10, 1) << QSize(3, 1);
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

void tst_ZTResampler::exactCases_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<QRectF>("window");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QImage>("expected"); // null: refused

    const QImage image = pattern(QSize(40, 30));
    QImage flat(QSize(97, 89), QImage::Format_ARGB32);
    flat.fill(qRgba(255, 1, 128, 254));
    QImage flatSmall(QSize(7, 5), QImage::Format_ARGB32);
    flatSmall.fill(qRgba(255, 1, 128, 254));
    QTest::newRow("a window of the output's size is copied")
        << image << QRectF(3, 4, 20, 10) << QSize(20, 10) << image.copy(3, 4, 20, 10);
    QTest::newRow("a flat area keeps its value")
        << flat << QRectF(0.3, 0.7, 96, 88) << QSize(7, 5) << flatSmall;
    QTest::newRow("a window outside the picture")
        << image << QRectF(50, 50, 10, 10) << QSize(5, 5) << QImage();
    QTest::newRow("an empty size") << image << QRectF(0, 0, 10, 10) << QSize(0, 5) << QImage();
    QTest::newRow("another format") << image.convertToFormat(QImage::Format_RGB888)
                                    << QRectF(0, 0, 10, 10) << QSize(5, 5) << QImage();
}

void tst_ZTResampler::exactCases()
{
    QFETCH(QImage, image);
    QFETCH(QRectF, window);
    QFETCH(QSize, size);
    QFETCH(QImage, expected);

    QCOMPARE(ZTResampler::resample(image, window, size), expected);
}

QTEST_GUILESS_MAIN(tst_ZTResampler)
#include "tst_ZTResampler.moc"
