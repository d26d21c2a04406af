#include "ZTHistogram.h"
#include "ZTHistogramROI.h"
#include "ZTHistogramROI_p.h"

#include <QDir>
#include <QPainter>
#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <vector>

namespace {

struct Settings
{
    double threshold = 0.67;
    int rows = 11;
    int columns = 15;
    double minHeight = 0.25;
    double minWidth = 0.5;
    int bins1 = 32;
    int bins2 = 32;

    Settings withThreshold(double t) const { return with(&Settings::threshold, t); }
    Settings withGrid(int r, int c) const
    {
        return with(&Settings::rows, r).with(&Settings::columns, c);
    }
    Settings withMinima(double h, double w) const
    {
        return with(&Settings::minHeight, h).with(&Settings::minWidth, w);
    }
    Settings withBins(int b1, int b2) const
    {
        return with(&Settings::bins1, b1).with(&Settings::bins2, b2);
    }
    template<typename T>
    Settings with(T Settings::*field, T value) const
    {
        Settings copy = *this;
        copy.*field = value;
        return copy;
    }
};

void apply(ZTHistogramROI& roi, const Settings& s)
{
    roi.setChiSquareThreshold(s.threshold);
    roi.setVerticalBlocks(s.rows);
    roi.setHorizontalBlocks(s.columns);
    roi.setMinHeight(s.minHeight);
    roi.setMinWidth(s.minWidth);
    roi.setBin1(s.bins1);
    roi.setBin2(s.bins2);
}

QImage filled(const QSize& size, QRgb colour, QImage::Format format = QImage::Format_ARGB32)
{
    QImage image(size, format);
    image.fill(QColor::fromRgba(colour));
    return image;
}

// A black map with the given grey rectangles painted in order.
QImage greyMap(const QSize& size, const QVector<QPair<QRect, int>>& areas)
{
    QImage map = filled(size, qRgb(0, 0, 0));
    QPainter painter(&map);
    for (const auto& area : areas) {
        painter.fillRect(area.first, QColor(area.second, area.second, area.second));
    }
    return map;
}

// The segmentation built from its tested parts in the plainest way: a converted copy of every
// block (pixel by pixel), a histogram per block, every pair of neighbours compared, segments as
// connected components of the edges that weigh at most the threshold (sorting them first would
// join the same pairs), QPainter for the blocks. Counts the edges that weigh NaN.
QImage naiveSegmentation(const QImage& image, const Settings& s, int* nanEdges = nullptr)
{
    QImage map = greyMap(image.size(), {});
    const int rows = s.rows;
    const int columns = s.columns;
    if (map.isNull() || rows < 1 || columns < 1) {
        return map;
    }
    const int bw = image.width() / columns;
    const int bh = image.height() / rows;
    const ZTHistogramROI roi;
    std::vector<ZTHistogram> histograms;
    for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < columns; ++j) {
            QImage block(bw, bh, QImage::Format_ARGB32);
            for (int y = 0; y < bh; ++y) {
                for (int x = 0; x < bw; ++x) {
                    block.setPixel(x, y, roi.RGB2YCrCb(image.pixel(j * bw + x, i * bh + y)));
                }
            }
            histograms.emplace_back(block, s.bins1, s.bins2);
            histograms.back().normalizeHistogram();
        }
    }

    std::vector<int> label(histograms.size());
    for (size_t k = 0; k < label.size(); ++k) {
        label[k] = int(k);
    }
    for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < columns; ++j) {
            for (const QPoint step : {QPoint(1, -1), QPoint(1, 0), QPoint(1, 1), QPoint(0, 1)}) {
                const int ni = i + step.y();
                const int nj = j + step.x();
                if (ni < 0 || ni >= rows || nj >= columns) {
                    continue;
                }
                const int a = i * columns + j;
                const int b = ni * columns + nj;
                const double w = histograms[size_t(a)].compareHistogram(&histograms[size_t(b)]);
                if (nanEdges && std::isnan(w)) {
                    ++*nanEdges;
                }
                const int old = label[size_t(b)];
                if (w <= s.threshold && old != label[size_t(a)]) {
                    std::replace(label.begin(), label.end(), old, label[size_t(a)]);
                }
            }
        }
    }

    QPainter painter(&map);
    for (int k = 0; k < rows * columns; ++k) {
        int left = columns, right = -1, top = rows, bottom = -1;
        for (int other = 0; other < rows * columns; ++other) {
            if (label[size_t(other)] == label[size_t(k)]) {
                left = qMin(left, other % columns);
                right = qMax(right, other % columns);
                top = qMin(top, other / columns);
                bottom = qMax(bottom, other / columns);
            }
        }
        const int w = right - left;
        const int h = bottom - top;
        if (h > rows * s.minHeight || w > columns * s.minWidth) {
            const int level = qBound(0, w * h - 1, 255);
            painter.fillRect(
                k % columns * bw, k / columns * bh, bw, bh, QColor(level, level, level));
        }
    }
    return map;
}

// A picture of a few random colours in random rectangles, so that segments form.
QImage randomBlockPicture(QRandomGenerator& random, const QSize& size, QImage::Format format)
{
    QVector<QColor> palette;
    const int colours = random.bounded(2, 6);
    for (int c = 0; c < colours; ++c) {
        palette << QColor::fromRgb(random.generate() | 0xFF000000u);
    }
    QImage picture(size, QImage::Format_ARGB32);
    picture.fill(palette[0]);
    QPainter painter(&picture);
    const int rectangles = random.bounded(1, 12);
    for (int r = 0; r < rectangles; ++r) {
        const int x = random.bounded(size.width());
        const int y = random.bounded(size.height());
        painter.fillRect(x, y, random.bounded(1, size.width() - x + 1),
            random.bounded(1, size.height() - y + 1), palette[random.bounded(colours)]);
    }
    painter.end();
    return picture.convertToFormat(format);
}

void verifySameMap(const QImage& actual, const QImage& expected, const char* name)
{
    QCOMPARE(actual.size(), expected.size());
    QCOMPARE(actual.format(), QImage::Format_ARGB32);
    if (actual != expected) {
        const QString stem = QDir::temp().filePath(QString("tst_ZTHistogramROI-%1").arg(name));
        actual.save(stem + "-actual.png");
        expected.save(stem + "-expected.png");
        QFAIL(qPrintable(QString("maps differ; saved as %1-*.png").arg(stem)));
    }
}

} // namespace

Q_DECLARE_METATYPE(Settings)
Q_DECLARE_METATYPE(ZTSimd::Level)

class tst_ZTHistogramROI : public QObject
{
    Q_OBJECT

private slots:
    void conversion_data();
    void conversion();
    void greyLumaIsTruncated();
    void convertWholeImage_data();
    void convertWholeImage();
    void convertWithinFrame();
    void chromaOfEveryColour_data();
    void chromaOfEveryColour();

    void drawTarget_data();
    void drawTarget();
    void drawTargetOnOtherFormats();

    void evaluate_data();
    void evaluate();
    void evaluateMatchesNaiveReference_data();
    void evaluateMatchesNaiveReference();
    void hugeBinCountsAllocatedGigabytes_data();
    void hugeBinCountsAllocatedGigabytes();
    void negativeBinCountsThrow_data();
    void negativeBinCountsThrow();
};

void tst_ZTHistogramROI::conversion_data()
{
    QTest::addColumn<uint>("rgb");
    QTest::addColumn<uint>("ycbcr");

    QTest::newRow("red") << 0xFFFF0000u << qRgb(76, 84, 255);
    QTest::newRow("green") << 0xFF00FF00u << qRgb(149, 43, 21);
    QTest::newRow("blue") << 0xFF0000FFu << qRgb(29, 255, 107);
    QTest::newRow("white") << 0xFFFFFFFFu << qRgb(255, 128, 128);
    QTest::newRow("black") << 0xFF000000u << qRgb(0, 128, 128);
    QTest::newRow("grey 128 has luma 127") << 0xFF808080u << qRgb(127, 128, 128);
    QTest::newRow("transparent red") << 0x00FF0000u << qRgb(76, 84, 255);
    QTest::newRow("half transparent blue") << 0x800000FFu << qRgb(29, 255, 107);
}

void tst_ZTHistogramROI::conversion()
{
    QFETCH(uint, rgb);
    QFETCH(uint, ycbcr);

    const ZTHistogramROI roi;
    QCOMPARE(roi.RGB2YCrCb(rgb), ycbcr);
}

// The luma sum 0.587 v + 0.299 v + 0.114 v lies just below v for 65 grey levels.
void tst_ZTHistogramROI::greyLumaIsTruncated()
{
    const ZTHistogramROI roi;
    QVector<int> below;
    for (int v = 0; v < 256; ++v) {
        const QRgb converted = roi.RGB2YCrCb(qRgb(v, v, v));
        QCOMPARE(qBlue(converted), 128);
        QCOMPARE(qGreen(converted), 128);
        QCOMPARE(qAlpha(converted), 255);
        QVERIFY(qRed(converted) == v || qRed(converted) == v - 1);
        if (qRed(converted) == v - 1) {
            below << v;
        }
    }
    QCOMPARE(below.size(), 65);
    for (const int v : {1, 2, 4, 8, 128}) {
        QVERIFY2(below.contains(v), qPrintable(QString::number(v)));
    }
}

void tst_ZTHistogramROI::convertWholeImage_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<bool>("opaque");

    QTest::newRow("ARGB32") << QImage::Format_ARGB32 << false;
    QTest::newRow("RGB32") << QImage::Format_RGB32 << true;
    QTest::newRow("ARGB32 premultiplied, opaque") << QImage::Format_ARGB32_Premultiplied << true;
    QTest::newRow("RGB888 is widened first") << QImage::Format_RGB888 << true;
    QTest::newRow("RGBA8888 is reordered first") << QImage::Format_RGBA8888 << false;
    QTest::newRow("RGB16 is widened first") << QImage::Format_RGB16 << true;
}

// Runs of equal colours and changes of alpha alone exercise the reuse of the last conversion.
void tst_ZTHistogramROI::convertWholeImage()
{
    QFETCH(QImage::Format, format);
    QFETCH(bool, opaque);

    QRandomGenerator random {quint32(format)};
    QImage argb(37, 23, QImage::Format_ARGB32);
    QRgb colour = 0;
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            if (random.bounded(4) == 0) {
                colour = random.generate();
            } else if (random.bounded(4) == 0) {
                colour ^= 0x7F000000u;
            }
            argb.setPixel(x, y, opaque ? colour | 0xFF000000u : colour);
        }
    }
    const QImage source = argb.convertToFormat(format);
    const ZTHistogramROI roi;
    const QImage converted = roi.convertToYcbcr(source, source);
    QCOMPARE(converted.size(), source.size());
    QCOMPARE(converted.format(), QImage::Format_ARGB32);
    for (int y = 0; y < source.height(); ++y) {
        for (int x = 0; x < source.width(); ++x) {
            QCOMPARE(converted.pixel(x, y), roi.RGB2YCrCb(source.pixel(x, y)));
        }
    }
}

void tst_ZTHistogramROI::convertWithinFrame()
{
    const ZTHistogramROI roi;
    const QImage source = filled(QSize(5, 4), qRgb(255, 0, 0));
    const QRgb red = qRgb(76, 84, 255);

    const QImage part = roi.convertToYcbcr(QImage(3, 2, QImage::Format_ARGB32), source);
    QCOMPARE(part.size(), QSize(5, 4));
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 5; ++x) {
            QCOMPARE(part.pixel(x, y), x < 3 && y < 2 ? red : 0u);
        }
    }
    const QImage larger = roi.convertToYcbcr(QImage(50, 40, QImage::Format_ARGB32), source);
    QCOMPARE(larger, filled(QSize(5, 4), red));
    QVERIFY(roi.convertToYcbcr(source, QImage()).isNull());
}

void tst_ZTHistogramROI::chromaOfEveryColour_data()
{
    QTest::addColumn<ZTSimd::Level>("level");
    QTest::newRow("baseline") << ZTSimd::Level::Baseline;
    QTest::newRow("AVX2") << ZTSimd::Level::Avx2;
}

// The block counting converts whole rows at once, compiled for the baseline and for AVX2; both
// must give RGB2YCrCb's chroma for each of the 2^24 colours, whatever the alpha.
void tst_ZTHistogramROI::chromaOfEveryColour()
{
    QFETCH(ZTSimd::Level, level);
    if (level == ZTSimd::Level::Avx2 && ZTSimd::available() != ZTSimd::Level::Avx2) {
        QSKIP("This processor has no AVX2");
    }
    const ZTHistogramROI roi;
    constexpr int rowLength = 4099; // not a multiple of any vector width
    std::vector<QRgb> pixels(rowLength);
    std::vector<qint32> cb(rowLength);
    std::vector<qint32> cr(rowLength);
    for (quint32 first = 0; first < (1u << 24); first += rowLength) {
        const int count = int(std::min<quint32>(rowLength, (1u << 24) - first));
        for (int i = 0; i < count; ++i) {
            pixels[size_t(i)]
                = ((first + quint32(i)) * 0x9E3779B9u & 0xFF000000u) | (first + quint32(i));
        }
        ZTBlockHistograms::chroma(pixels.data(), count, cb.data(), cr.data(), level);
        for (int i = 0; i < count; ++i) {
            const QRgb packed = roi.RGB2YCrCb(pixels[size_t(i)]);
            if (cb[size_t(i)] != qGreen(packed) || cr[size_t(i)] != qBlue(packed)) {
                QFAIL(qPrintable(QString("colour %1: %2, %3 instead of %4, %5")
                                     .arg(pixels[size_t(i)], 8, 16, QLatin1Char('0'))
                                     .arg(cb[size_t(i)])
                                     .arg(cr[size_t(i)])
                                     .arg(qGreen(packed))
                                     .arg(qBlue(packed))));
            }
        }
    }
}

void tst_ZTHistogramROI::drawTarget_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QPoint>("block");
    QTest::addColumn<QSize>("blockSize");
    QTest::addColumn<QRect>("painted");
    QTest::addColumn<int>("level");

    const QPoint b(2, 1);
    const QSize s(3, 2);
    const QRect r(6, 2, 3, 2);
    QTest::newRow("139") << 139.0 << b << s << r << 139;
    QTest::newRow("truncated, not rounded") << 12.9 << b << s << r << 12;
    QTest::newRow("-1, a one-block-high segment") << -1.0 << b << s << r << 0;
    QTest::newRow("above 255") << 300.0 << b << s << r << 255;
    QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << b << s << r << 0;
    QTest::newRow("clipped at the corner") << 80.0 << QPoint(3, 2) << s << QRect(9, 4, 1, 1) << 80;
    QTest::newRow("negative column") << 80.0 << QPoint(-1, 0) << QSize(12, 2) << QRect() << 0;
    QTest::newRow("zero width") << 80.0 << QPoint(0, 0) << QSize(0, 2) << QRect() << 0;
    QTest::newRow("far away") << 80.0 << QPoint(std::numeric_limits<int>::max(), 0)
                              << QSize(1 << 20, 2) << QRect() << 0;
}

void tst_ZTHistogramROI::drawTarget()
{
    QFETCH(double, value);
    QFETCH(QPoint, block);
    QFETCH(QSize, blockSize);
    QFETCH(QRect, painted);
    QFETCH(int, level);

    const ZTHistogramROI roi;
    QImage target = filled(QSize(10, 5), qRgb(7, 7, 7));
    roi.drawTarget(block.x(), block.y(), value, target, blockSize.width(), blockSize.height());
    QCOMPARE(target, greyMap(QSize(10, 5), {{QRect(0, 0, 10, 5), 7}, {painted, level}}));
}

// The fast path for 32-bit words and QPainter agree; an 8-bit indexed target is left alone.
void tst_ZTHistogramROI::drawTargetOnOtherFormats()
{
    const ZTHistogramROI roi;
    for (const QImage::Format format :
        {QImage::Format_RGB32, QImage::Format_ARGB32_Premultiplied, QImage::Format_RGB888}) {
        QImage target = filled(QSize(6, 4), qRgb(0, 0, 0), format);
        roi.drawTarget(1, 0, 90.0, target, 3, 3);
        QCOMPARE(target.format(), format);
        QCOMPARE(target.convertToFormat(QImage::Format_ARGB32),
            greyMap(QSize(6, 4), {{QRect(3, 0, 3, 3), 90}}));
    }
    QImage indexed = filled(QSize(6, 4), qRgb(0, 0, 0)).convertToFormat(QImage::Format_Indexed8);
    const QImage before = indexed;
    roi.drawTarget(0, 0, 90.0, indexed, 3, 3);
    QCOMPARE(indexed, before);
}

void tst_ZTHistogramROI::evaluate_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<Settings>("settings");
    QTest::addColumn<QImage>("expected");

    const Settings defaults;
    const QSize size(150, 110);
    const QRgb red = qRgb(255, 0, 0);
    const QRgb blue = qRgb(0, 0, 255);
    const QImage oneColour = filled(size, qRgb(30, 160, 90));
    QImage halves = filled(size, blue);
    QPainter(&halves).fillRect(0, 0, 70, 110, QColor(red));
    QImage band = filled(size, blue);
    QPainter(&band).fillRect(0, 50, 150, 10, QColor(red));
    const QImage black = greyMap(size, {});
    const QImage all139 = greyMap(size, {{QRect(0, 0, 150, 110), 139}});
    const QImage redAndBlue
        = greyMap(size, {{QRect(0, 0, 70, 110), 59}, {QRect(70, 0, 80, 110), 69}});

    QTest::newRow("150x110 one colour: one segment, grey 139") << oneColour << defaults << all139;
    QTest::newRow("157x117 one colour: the leftover stays black")
        << filled(QSize(157, 117), qRgb(200, 10, 10), QImage::Format_RGB32) << defaults
        << greyMap(QSize(157, 117), {{QRect(0, 0, 150, 110), 139}});
    QTest::newRow("red and blue halves: the walk ends at weight 1.0")
        << halves << defaults << redAndBlue;
    QTest::newRow("red and blue halves, threshold 1.0 joins them")
        << halves << defaults.withThreshold(1.0) << all139;
    QTest::newRow("24-bit picture is converted first")
        << halves.convertToFormat(QImage::Format_RGB888) << defaults << redAndBlue;
    QTest::newRow("red band on blue: the band is painted level 0")
        << band << defaults
        << greyMap(size, {{QRect(0, 0, 150, 50), 55}, {QRect(0, 60, 150, 50), 55}});
    QTest::newRow("one block: no edges, not painted") << halves << defaults.withGrid(1, 1) << black;
    QTest::newRow("negative threshold: every block alone")
        << oneColour << defaults.withThreshold(-0.1) << black;
    QTest::newRow("NaN threshold joins nothing")
        << oneColour << defaults.withThreshold(std::numeric_limits<double>::quiet_NaN()) << black;
    QTest::newRow("negative vertical blocks") << oneColour << defaults.withGrid(-1, 15) << black;
    QTest::newRow("zero horizontal blocks") << oneColour << defaults.withGrid(11, 0) << black;
    QTest::newRow("grid finer than the image: empty blocks")
        << filled(QSize(10, 200), red) << defaults << greyMap(QSize(10, 200), {});
    QTest::newRow("101 columns: no grid capacity") << filled(QSize(203, 5),
        blue) << defaults.withGrid(2, 101) << greyMap(QSize(203, 5), {{QRect(0, 0, 202, 4), 99}});
    QTest::newRow("bins of 0 count as 1: flat histograms, weights 0")
        << halves << defaults.withBins(0, 0) << all139;
    QTest::newRow("one bin of 2000 pixels: the minimum stays at 1000")
        << filled(QSize(150, 400), red) << defaults.withBins(0, 1).withGrid(2, 15)
        << greyMap(QSize(150, 400), {{QRect(0, 0, 150, 400), 13}});
    QTest::newRow("minimum height reached alone")
        << oneColour << defaults.withMinima(0.9, 1.0) << all139;
    QTest::newRow("neither minimum reached")
        << oneColour << defaults.withMinima(0.95, 1.0) << black;
    const QImage square = filled(QSize(40, 40), red);
    const Settings fourByFour = defaults.withGrid(4, 4);
    QTest::newRow("height span equal to the minimum is not enough")
        << square << fourByFour.withMinima(0.75, 1.0) << greyMap(QSize(40, 40), {});
    QTest::newRow("width span equal to the minimum is not enough")
        << square << fourByFour.withMinima(1.0, 0.75) << greyMap(QSize(40, 40), {});
}

void tst_ZTHistogramROI::evaluate()
{
    QFETCH(QImage, image);
    QFETCH(Settings, settings);
    QFETCH(QImage, expected);

    ZTHistogramROI roi;
    apply(roi, settings);
    const QImage before = image;
    verifySameMap(roi.evaluate(image), expected, QTest::currentDataTag());
    QCOMPARE(image, before);
}

void tst_ZTHistogramROI::evaluateMatchesNaiveReference_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<Settings>("settings");
    QTest::addColumn<bool>("nanEdges");

    // Two Cb bins and one Cr bin: block column 2, half red and half blue, has equal counts and
    // a flat table of NaN, so the edges from uniform blocks to it weigh NaN. They must neither
    // join nor end the walk.
    QImage flat = filled(QSize(60, 40), qRgb(255, 0, 0));
    QPainter painter(&flat);
    painter.fillRect(25, 0, 5, 40, QColor(0, 0, 255));
    painter.fillRect(30, 0, 30, 20, QColor(0, 0, 255));
    painter.fillRect(50, 20, 10, 20, QColor(200, 0, 255));
    painter.end();
    const Settings flatSettings = Settings().withGrid(4, 6).withBins(2, 1).withMinima(0.0, 0.0);
    for (const double threshold : {0.5, 1.0, 3.0}) {
        QTest::addRow("flat histograms, threshold %g", threshold)
            << flat << flatSettings.withThreshold(threshold) << true;
    }

    QRandomGenerator random(20240607);
    // Blocks of one and two pixels, odd block sizes, and bins that every block fills.
    const struct
    {
        const char* name;
        QSize size;
        Settings settings;
    } grids[] = {
        {"one-pixel blocks", QSize(15, 11), Settings()},
        {"two-pixel-wide blocks, leftover rows", QSize(31, 34), Settings()},
        {"3x5 blocks, leftover columns", QSize(47, 55), Settings()},
        {"one Cb bin, two Cr bins: full tables", QSize(90, 66), Settings().withBins(1, 2)},
        {"odd bin counts", QSize(150, 110), Settings().withBins(7, 5).withThreshold(2.0)},
    };
    for (const auto& grid : grids) {
        QTest::newRow(grid.name) << randomBlockPicture(random, grid.size, QImage::Format_RGB32)
                                 << grid.settings << false;
    }
    const double thresholds[] = {0.0, 0.3, 0.67, 1.0, 2.5};
    const int bins[] = {0, 1, 2, 3, 8, 32};
    const double minima[] = {0.0, 0.25, 0.5, 0.8};
    const QImage::Format formats[]
        = {QImage::Format_ARGB32, QImage::Format_RGB32, QImage::Format_RGB888};
    for (int n = 0; n < 40; ++n) {
        const QSize size(random.bounded(1, 170), random.bounded(1, 130));
        Settings s;
        if (n > 0) {
            s = s.withThreshold(thresholds[random.bounded(5)])
                    .withGrid(random.bounded(1, 14), random.bounded(1, 18))
                    .withMinima(minima[random.bounded(4)], minima[random.bounded(4)])
                    .withBins(bins[random.bounded(6)], bins[random.bounded(6)]);
        }
        QTest::addRow("%d: %dx%d, %dx%d blocks, %dx%d bins, threshold %g", n, size.width(),
            size.height(), s.columns, s.rows, s.bins1, s.bins2, s.threshold)
            << randomBlockPicture(random, size, formats[random.bounded(3)]) << s << false;
    }
}

void tst_ZTHistogramROI::evaluateMatchesNaiveReference()
{
    QFETCH(QImage, image);
    QFETCH(Settings, settings);
    QFETCH(bool, nanEdges);

    ZTHistogramROI roi;
    apply(roi, settings);
    int nanEdgeCount = 0;
    const QImage expected = naiveSegmentation(image, settings, &nanEdgeCount);
    QVERIFY(!nanEdges || nanEdgeCount > 0);
    verifySameMap(roi.evaluate(image), expected, QTest::currentDataTag());
}

// Regression (fuzz_mixer): 65536 x 65536 bins made every block a table of 32 GiB, and tables
// beyond the address space threw std::bad_alloc. Counts above 257 cannot change a map; they give
// the naive map of 257 bins, and moderately large counts give the naive map of their own.
void tst_ZTHistogramROI::hugeBinCountsAllocatedGigabytes_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<Settings>("settings");
    QTest::addColumn<Settings>("reference");

    QRandomGenerator random(20241205);
    constexpr int intMax = std::numeric_limits<int>::max();
    const int binCounts[][2] = {{300, 300}, {1000, 2}, {256, 512}, {65536, 65536}, {intMax, 5},
        {1, intMax}, {intMax, intMax}};
    for (const auto& bins : binCounts) {
        const QSize size(random.bounded(20, 90), random.bounded(20, 70));
        const Settings s = Settings()
                               .withGrid(random.bounded(2, 6), random.bounded(2, 7))
                               .withThreshold(random.bounded(2.0))
                               .withMinima(0.0, 0.0)
                               .withBins(bins[0], bins[1]);
        const bool huge = std::max(bins[0], bins[1]) > 1000;
        const Settings reference
            = huge ? s.withBins(std::min(bins[0], 257), std::min(bins[1], 257)) : s;
        QTest::addRow("%dx%d bins", bins[0], bins[1])
            << randomBlockPicture(random, size, QImage::Format_RGB32) << s << reference;
    }
}

void tst_ZTHistogramROI::hugeBinCountsAllocatedGigabytes()
{
    QFETCH(QImage, image);
    QFETCH(Settings, settings);
    QFETCH(Settings, reference);

    ZTHistogramROI roi;
    apply(roi, settings);
    verifySameMap(
        roi.evaluate(image), naiveSegmentation(image, reference), QTest::currentDataTag());
}

void tst_ZTHistogramROI::negativeBinCountsThrow_data()
{
    QTest::addColumn<int>("bins1");
    QTest::addColumn<int>("bins2");
    QTest::addColumn<QSize>("size");

    QTest::newRow("channel 1") << -1 << 32 << QSize(150, 110);
    QTest::newRow("channel 2") << 32 << -4 << QSize(150, 110);
    QTest::newRow("channel 2 with 0 channel-1 bins") << 0 << -1 << QSize(150, 110);
    QTest::newRow("image smaller than the grid") << -1 << 32 << QSize(3, 3);
}

void tst_ZTHistogramROI::negativeBinCountsThrow()
{
    QFETCH(int, bins1);
    QFETCH(int, bins2);
    QFETCH(QSize, size);

    ZTHistogramROI roi;
    roi.setBin1(bins1);
    roi.setBin2(bins2);
    const QImage image = filled(size, qRgb(1, 2, 3));
    QVERIFY_EXCEPTION_THROWN(roi.evaluate(image), std::bad_array_new_length);
    // Without pixels or without blocks there is no histogram to build.
    QVERIFY(roi.evaluate(QImage()).isNull());
    roi.setVerticalBlocks(0);
    QCOMPARE(roi.evaluate(image), greyMap(size, {}));
}

// The tables of 2^31 - 1 bins per channel cannot be addressed: refused before any allocation.
QTEST_GUILESS_MAIN(tst_ZTHistogramROI)
#include "tst_ZTHistogramROI.moc"
