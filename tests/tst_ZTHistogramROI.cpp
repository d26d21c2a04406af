#include "ZTHistogram.h"
#include "ZTHistogramROI.h"
#include "ZTHistogramROI_p.h"
#include "ZTImageTestSupport.h"

#include <QPainter>
#include <QtTest>

#include <cmath>
#include <limits>
#include <new>

namespace {

constexpr int intMax = std::numeric_limits<int>::max();
const double notANumber = std::numeric_limits<double>::quiet_NaN();

// The method's settings, in this order; the defaults unless a row gives them.
struct Settings
{
    double threshold = 0.67;
    int rows = 11;
    int columns = 15;
    double minHeight = 0.25;
    double minWidth = 0.5;
    int bins1 = 32;
    int bins2 = 32;
};

QImage segmentation(const QImage& image, const Settings& s)
{
    ZTHistogramROI roi;
    roi.setChiSquareThreshold(s.threshold);
    roi.setVerticalBlocks(s.rows);
    roi.setHorizontalBlocks(s.columns);
    roi.setMinHeight(s.minHeight);
    roi.setMinWidth(s.minWidth);
    roi.setBin1(s.bins1);
    roi.setBin2(s.bins2);
    return roi.evaluate(image);
}

// A picture of @p size in @p colour with the given (rectangle, colour) areas painted over it.
QImage painted(const QSize& size, QRgb colour, const QVector<QPair<QRect, QRgb>>& areas = {})
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    QPainter painter(&image);
    for (const auto& area : areas) {
        painter.fillRect(area.first, QColor(area.second));
    }
    return image;
}

// A black map with the given (rectangle, grey level) areas.
QImage greys(const QSize& size, const QVector<QPair<QRect, int>>& areas = {})
{
    QVector<QPair<QRect, QRgb>> grey;
    for (const auto& area : areas) {
        grey << qMakePair(area.first, qRgb(area.second, area.second, area.second));
    }
    return painted(size, qRgb(0, 0, 0), grey);
}

// The segmentation in the plainest way, from its tested parts: the converted image, a normalised
// ZTHistogram per block, segments as connected components of the edges to the 8-connected
// neighbours that weigh at most the threshold (the sorted walk joins the same pairs), the blocks of
// long segments filled. Counts the edges that weigh NaN.
QImage naiveSegmentation(const QImage& image, const Settings& s, int* nanEdges = nullptr)
{
    QImage map = greys(image.size());
    const QImage ycbcr = ZTHistogramROI().convertToYcbcr(image, image);
    const int n = s.rows * s.columns;
    const QSize block(image.width() / qMax(s.columns, 1), image.height() / qMax(s.rows, 1));
    const auto rect = [&](int k) {
        return QRect(QPoint(k % s.columns * block.width(), k / s.columns * block.height()), block);
    };
    std::vector<ZTHistogram> histograms;
    QVector<int> segment;
    for (int k = 0; k < n && !image.isNull(); ++k) {
        histograms.emplace_back(ycbcr.copy(rect(k)), s.bins1, s.bins2);
        histograms.back().normalizeHistogram();
        segment << k;
    }
    for (int a = 0; a < segment.size(); ++a) {
        for (const QPoint step : {QPoint(1, -1), QPoint(1, 0), QPoint(1, 1), QPoint(0, 1)}) {
            const int i = a / s.columns + step.y();
            const int b = i * s.columns + a % s.columns + step.x();
            if (i < 0 || i >= s.rows || a % s.columns + step.x() >= s.columns) {
                continue;
            }
            const double weight = histograms[size_t(a)].compareHistogram(&histograms[size_t(b)]);
            if (nanEdges && std::isnan(weight)) {
                ++*nanEdges;
            }
            if (weight <= s.threshold) {
                std::replace(segment.begin(), segment.end(), int(segment[b]), int(segment[a]));
            }
        }
    }
    QMap<int, QRect> boxes;
    for (int k = 0; k < segment.size(); ++k) {
        boxes[segment[k]] |= QRect(k % s.columns, k / s.columns, 1, 1);
    }
    QPainter painter(&map);
    for (int k = 0; k < segment.size(); ++k) {
        const int w = boxes[segment[k]].width() - 1;
        const int h = boxes[segment[k]].height() - 1;
        const int level = qBound(0, w * h - 1, 255);
        if (h > s.rows * s.minHeight || w > s.columns * s.minWidth) {
            painter.fillRect(rect(k), QColor(level, level, level));
        }
    }
    return map;
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
    void convertToYcbcr();
    void chromaOfEveryColour_data();
    void chromaOfEveryColour();
    void drawTarget_data();
    void drawTarget();
    void evaluate_data();
    void evaluate();
    void hugeBinCountsAllocatedGigabytes();
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
}

void tst_ZTHistogramROI::conversion()
{
    QFETCH(uint, rgb);
    QTEST(ZTHistogramROI().RGB2YCrCb(rgb), "ycbcr");
}

// The luma sum 0.587 v + 0.299 v + 0.114 v lies just below v for 65 grey levels.
void tst_ZTHistogramROI::greyLumaIsTruncated()
{
    QVector<int> below;
    for (int v = 0; v < 256; ++v) {
        const QRgb converted = ZTHistogramROI().RGB2YCrCb(qRgb(v, v, v));
        QCOMPARE(converted | 0x00FF0000u, qRgb(255, 128, 128));
        below << v - qRed(converted);
    }
    QCOMPARE(below.count(1), 65);
    QCOMPARE(below.count(0), 256 - 65);
    QCOMPARE(
        (QVector<int> {below[1], below[2], below[4], below[8], below[128]}), QVector<int>(5, 1));
}

// Runs of equal colours exercise the reuse of the last conversion, which starts as black's. The
// frame bounds the converted part; a picture of another format is converted to 32 bits first.
void tst_ZTHistogramROI::convertToYcbcr()
{
    std::mt19937 random(1);
    QImage source = ZTImageTest::randomBlocks(QSize(37, 23), 3, random);
    source.setPixel(0, 0, qRgb(0, 0, 0));
    QImage expected = source;
    for (int y = 0; y < source.height(); ++y) {
        for (int x = 0; x < source.width(); ++x) {
            expected.setPixel(x, y, ZTHistogramROI().RGB2YCrCb(source.pixel(x, y)));
        }
    }
    QImage part = painted(source.size(), 0);
    QPainter(&part).drawImage(0, 0, expected.copy(0, 0, 20, 9));
    const ZTHistogramROI roi;
    QCOMPARE(roi.convertToYcbcr(source, source), expected);
    QCOMPARE(roi.convertToYcbcr(source, source.convertToFormat(QImage::Format_RGB888)), expected);
    QCOMPARE(roi.convertToYcbcr(QImage(50, 40, QImage::Format_ARGB32), source), expected);
    QCOMPARE(roi.convertToYcbcr(QImage(20, 9, QImage::Format_ARGB32), source), part);
    QVERIFY(roi.convertToYcbcr(source, QImage()).isNull());
}

void tst_ZTHistogramROI::chromaOfEveryColour_data()
{
    QTest::addColumn<ZTSimd::Level>("level");
    QTest::newRow("baseline") << ZTSimd::Level::Baseline;
    QTest::newRow("AVX2") << ZTSimd::Level::Avx2;
}

// The block counting converts rows at once, compiled for the baseline and for AVX2; both must
// give RGB2YCrCb's chroma for each of the 2^24 colours, whatever the alpha.
void tst_ZTHistogramROI::chromaOfEveryColour()
{
    QFETCH(ZTSimd::Level, level);
    if (level != ZTSimd::Level::Baseline && ZTSimd::available() != level) {
        QSKIP("This processor has no AVX2");
    }
    constexpr quint32 length = 4099; // rows that no vector width divides
    std::vector<QRgb> pixels(length);
    std::vector<qint32> cb(length), cr(length);
    for (quint32 first = 0; first < (1u << 24); first += length) {
        for (quint32 i = 0; i < length; ++i) {
            pixels[i] = ((first + i) * 0x9E3779B9u & 0xFF000000u) | ((first + i) & 0xFFFFFFu);
        }
        ZTBlockHistograms::chroma(pixels.data(), int(length), cb.data(), cr.data(), level);
        for (quint32 i = 0; i < length; ++i) {
            const QRgb packed = ZTHistogramROI().RGB2YCrCb(pixels[i]);
            if (cb[i] != qGreen(packed) || cr[i] != qBlue(packed)) {
                QFAIL(qPrintable(QString("colour %1").arg(pixels[i], 8, 16, QChar('0'))));
            }
        }
    }
}

void tst_ZTHistogramROI::drawTarget_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<double>("value");
    QTest::addColumn<QRect>("block"); // column, row, block width, block height
    QTest::addColumn<QRect>("painted");
    QTest::addColumn<int>("level");

    const auto argb = QImage::Format_ARGB32;
    const QRect block(2, 1, 3, 2);
    const QRect area(6, 2, 3, 2);
    QTest::newRow("truncated, not rounded") << argb << 12.9 << block << area << 12;
    QTest::newRow("above 255") << argb << 300.0 << block << area << 255;
    QTest::newRow("NaN") << argb << notANumber << block << area << 0;
    QTest::newRow("clipped at the corner")
        << argb << 80.0 << QRect(3, 2, 3, 2) << QRect(9, 4, 1, 1) << 80;
    QTest::newRow("far away") << argb << 80.0 << QRect(intMax, 0, 1 << 20, 2) << QRect() << 0;
    QTest::newRow("RGB888, through QPainter")
        << QImage::Format_RGB888 << 90.0 << block << area << 90;
    QTest::newRow("indexed is left alone")
        << QImage::Format_Indexed8 << 90.0 << block << QRect() << 0;
}

void tst_ZTHistogramROI::drawTarget()
{
    QFETCH(QImage::Format, format);
    QFETCH(double, value);
    QFETCH(QRect, block);
    QFETCH(QRect, painted);

    // Converted from copies: QImage's in-place conversion of a painted temporary keeps a stale
    // paint engine, on which QPainter then paints nothing.
    const QImage before = greys(QSize(10, 5), {{QRect(0, 0, 10, 5), 7}});
    QImage target = before.convertToFormat(format);
    ZTHistogramROI().drawTarget(block.x(), block.y(), value, target, block.width(), block.height());
    QFETCH(int, level);
    const QImage after = greys(QSize(10, 5), {{QRect(0, 0, 10, 5), 7}, {painted, level}});
    QCOMPARE(target, after.convertToFormat(format));
}

void tst_ZTHistogramROI::evaluate_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<Settings>("settings");
    QTest::addColumn<QImage>("expected");

    const QSize size(150, 110);
    const QRgb red = qRgb(255, 0, 0);
    const QRgb blue = qRgb(0, 0, 255);
    const QImage halves = painted(size, blue, {{QRect(0, 0, 70, 110), red}});
    const QImage all139 = greys(size, {{QRect(0, 0, 150, 110), 139}});
    QTest::newRow("150x110 one colour: one segment, grey 139")
        << painted(size, red) << Settings() << all139;
    QTest::newRow("157x117: the leftover stays black") << painted(QSize(157, 117),
        blue) << Settings() << greys(QSize(157, 117), {{QRect(0, 0, 150, 110), 139}});
    QTest::newRow("red and blue halves: the walk ends at weight 1.0")
        << halves << Settings()
        << greys(size, {{QRect(0, 0, 70, 110), 59}, {QRect(70, 0, 80, 110), 69}});
    QTest::newRow("red and blue halves, threshold 1.0") << halves << Settings {1.0} << all139;
    QTest::newRow("red band on blue: the band is level 0")
        << painted(size, blue, {{QRect(0, 50, 150, 10), red}}) << Settings()
        << greys(size, {{QRect(0, 0, 150, 50), 55}, {QRect(0, 60, 150, 50), 55}});
    QTest::newRow("one block: no edges, not painted")
        << halves << Settings {0.67, 1, 1} << greys(size);
    QTest::newRow("negative threshold: every block alone")
        << halves << Settings {-0.1} << greys(size);
    QTest::newRow("negative vertical blocks") << halves << Settings {0.67, -1} << greys(size);
    QTest::newRow("zero horizontal blocks") << halves << Settings {0.67, 11, 0} << greys(size);
    QTest::newRow("null image, null map") << QImage() << Settings() << QImage();
    QTest::newRow("101 columns") << painted(QSize(203, 5), blue) << Settings {0.67, 2, 101}
                                 << greys(QSize(203, 5), {{QRect(0, 0, 202, 4), 99}});
    QTest::newRow("one bin of 2000 pixels: the minimum stays at 1000")
        << painted(QSize(150, 400), red) << Settings {0.67, 2, 15, 0.25, 0.5, 1, 1}
        << greys(QSize(150, 400), {{QRect(0, 0, 150, 400), 13}});
    QTest::newRow("spans equal to the minima are not enough")
        << painted(QSize(40, 40), red) << Settings {0.67, 4, 4, 0.75, 0.75} << greys(QSize(40, 40));

    // Two Cb bins and one Cr bin: block column 2, half red and half blue, has a flat table of
    // NaN, so the edges from uniform blocks to it weigh NaN. They neither join nor end the walk.
    const QImage flat = painted(QSize(60, 40), red,
        {{QRect(25, 0, 5, 40), blue}, {QRect(30, 0, 30, 20), blue},
            {QRect(50, 20, 10, 20), qRgb(200, 0, 255)}});
    for (const double threshold : {0.5, 1.0, 3.0}) {
        const Settings s {threshold, 4, 6, 0, 0, 2, 1};
        int nanEdges = 0;
        QTest::addRow("flat histograms, threshold %g", threshold)
            << flat << s << naiveSegmentation(flat, s, &nanEdges);
        QVERIFY(nanEdges > 0);
    }
    // Random pictures and settings: blocks of one pixel, of none, leftover rows and columns,
    // bins that every block fills. The reference proves the sparse histograms and the AVX2 or
    // baseline chroma of this processor.
    std::mt19937 random(20240607);
    const auto below = [&random](int n) { return int(random() % unsigned(n)); };
    const QImage::Format formats[]
        = {QImage::Format_ARGB32, QImage::Format_RGB32, QImage::Format_RGB888};
    const double thresholds[] = {0.0, 0.3, 0.67, 1.0, 2.5};
    const int bins[] = {0, 1, 2, 3, 5, 8, 32};
    const double minima[] = {0.0, 0.25, 0.5, 0.8};
    for (int n = 0; n < 40; ++n) {
        const QSize size(1 + below(170), 1 + below(130));
        const QImage image = ZTImageTest::randomBlocks(size, 1 + below(40), random)
                                 .convertToFormat(formats[below(3)]);
        const Settings s {thresholds[below(5)], 1 + below(14), 1 + below(18), minima[below(4)],
            minima[below(4)], bins[below(7)], bins[below(7)]};
        QTest::addRow("random %d: %dx%d, %dx%d blocks, %dx%d bins, threshold %g", n, image.width(),
            image.height(), s.columns, s.rows, s.bins1, s.bins2, s.threshold)
            << image << s << naiveSegmentation(image, s);
    }
}

void tst_ZTHistogramROI::evaluate()
{
    QFETCH(QImage, image);
    QFETCH(Settings, settings);
    QFETCH(QImage, expected);

    const QImage before = image;
    QVERIFY(ZTImageTest::sameStoredPixels(
        segmentation(image, settings), expected, QTest::currentDataTag()));
    QCOMPARE(image, before);
}

// Regression (fuzz_mixer): 65536 x 65536 bins made every block a table of 32 GiB, and tables
// beyond the address space threw std::bad_alloc. Counts above 257 cannot change a map: they
// give the naive map of 257 bins, and moderately large counts the naive map of their own.
void tst_ZTHistogramROI::hugeBinCountsAllocatedGigabytes()
{
    std::mt19937 random(20241205);
    const QImage image = ZTImageTest::randomBlocks(QSize(70, 50), 12, random);
    for (const QPoint bins : {QPoint(300, 300), QPoint(1000, 2), QPoint(256, 512),
             QPoint(65536, 65536), QPoint(intMax, 5), QPoint(1, intMax), QPoint(intMax, intMax)}) {
        Settings s {1.5, 4, 5, 0, 0, bins.x(), bins.y()};
        const QImage map = segmentation(image, s);
        if (std::max(bins.x(), bins.y()) > 1000) {
            s.bins1 = std::min(bins.x(), 257);
            s.bins2 = std::min(bins.y(), 257);
        }
        QVERIFY(ZTImageTest::sameStoredPixels(
            map, naiveSegmentation(image, s), QString("%1x%2 bins").arg(bins.x()).arg(bins.y())));
    }
}

// Refused before the blocks are counted, so an image smaller than the grid throws as well.
void tst_ZTHistogramROI::negativeBinCountsThrow()
{
    for (const QSize size : {QSize(150, 110), QSize(3, 3)}) {
        for (const QPoint bins : {QPoint(-1, 32), QPoint(32, -4), QPoint(0, -1)}) {
            const Settings s {0.67, 11, 15, 0.25, 0.5, bins.x(), bins.y()};
            QVERIFY_EXCEPTION_THROWN(segmentation(painted(size, 0), s), std::bad_array_new_length);
        }
    }
}

QTEST_GUILESS_MAIN(tst_ZTHistogramROI)
#include "tst_ZTHistogramROI.moc"
