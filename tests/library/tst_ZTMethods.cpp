// The salience methods and the filters they are built from: the abstract base, the blur, the
// maximum filter, the Sobel map, the centre prior, the surround contrast, the histogram
// segmentation and the very important areas, each against its straightforward reference; and the
// mixer that runs and mixes them. The histogram method's parts are tested here too: the chroma
// conversion, ZTHistogram's block histograms and their distance, and the disjoint set that joins
// the blocks, with its geometry. The crops planned from the maps are tst_ZTSalienzPostAnalysis's.

#include "ZTDisjointSet.h"
#include "ZTGaussROI.h"
#include "ZTGaussianBlur.h"
#include "ZTHistogram.h"
#include "ZTHistogramROI.h"
#include "ZTImageTestSupport.h"
#include "ZTMaxFilter.h"
#include "ZTSalienzAchanta.h"
#include "ZTSalienzMixer.h"
#include "ZTSegmentEdge.h"
#include "ZTSobelROI.h"
#include "ZTVeryImportantAreasROI.h"

#include <QPainter>
#include <QtTest>

#include <climits>
#include <cmath>
#include <new>
#include <numeric>
#include <stdexcept>
#include <utility>

using namespace ZTImageTest;

namespace {

using Rects = QList<QRect>;

// A Sobel method whose responses are 30 everywhere.
class FixedResponses : public ZTSobelROI
{
public:
    QImage convolute(const QImage& in) const override { return uniform(in.size(), 0xFF1E1E1E); }
};

// The surround contrast plane as defined, from the exported list helpers, of 32-bit words.
QList<double> naiveSalience(const QImage& source)
{
    ZTSalienzAchanta m;
    const int w = source.width(), h = source.height();
    QList<double> planes[3], smoothed[3], salience = m.createZeroedList(w * h);
    QList<QList<double>> tables[3];
    for (int i = 0; i < w * h; ++i) {
        const QRgb p = reinterpret_cast<const QRgb*>(source.constScanLine(i / w))[i % w];
        const double r = qRed(p), g = qGreen(p), b = qBlue(p);
        const double luma = (g * 0.587 + 0.299 * r) + 0.114 * b;
        planes[0].append(luma);
        planes[1].append((r - luma) * 0.713 + 128);
        planes[2].append((b - luma) * 0.564 + 128);
    }
    for (int c = 0; c < 3; ++c) {
        smoothed[c] = m.createZeroedList(w * h);
        m.gaussianSmooth(planes[c], w, h, {1.0, 2.0, 1.0}, smoothed[c]);
        tables[c] = m.createZeroed2dList(w, h);
        m.integralImage(planes[c], w, h, tables[c]);
    }
    // The surround of a pixel: the largest span centred on it that fits, along one axis.
    const auto span = [](int v, int n) {
        return v < n - v ? std::pair(0, qMin(2 * v, n - 1)) : std::pair(qMax(2 * v - n, 0), n - 1);
    };
    for (int i = 0; i < w * h; ++i) {
        const auto [x1, x2] = span(i % w, w);
        const auto [y1, y2] = span(i / w, h);
        const double area = (x2 - x1 + 1) * (y2 - y1 + 1);
        double d[3];
        for (int c = 0; c < 3; ++c) {
            d[c] = m.integralSum(tables[c], x1, y1, x2, y2) / area - smoothed[c][i];
        }
        salience[i] = (d[0] * d[0] + d[1] * d[1]) + d[2] * d[2];
    }
    return salience;
}

// The surround contrast map as defined: the plane stretched to 0 ... 255 (black for a range of
// 0), then the maximum filter of size 90 and threshold 150.
QImage naiveSurroundMap(const QImage& picture)
{
    // The three formats of 0xAARRGGBB words are read as they are, others in their ARGB32 form.
    const bool words = picture.format() >= QImage::Format_RGB32
        && picture.format() <= QImage::Format_ARGB32_Premultiplied;
    const QImage source = words ? picture : picture.convertToFormat(QImage::Format_ARGB32);
    const QList<double> salience = naiveSalience(source);
    const auto [low, high] = std::minmax_element(salience.begin(), salience.end());
    const int range = salience.isEmpty() ? 0 : int(*high - *low);
    QImage stretched(source.size(), QImage::Format_ARGB32);
    for (int i = 0; i < salience.size(); ++i) {
        const int value = range == 0 ? 0 : qBound(0, int(salience[i] - *low) * 255 / range, 255);
        stretched.setPixel(i % source.width(), i / source.width(), qRgb(value, value, value));
    }
    return naiveMaxFilter(stretched, 90, 150);
}

QImage areasMap(const Rects& rects, const QSize& size, const QSize& reference)
{
    return ZTVeryImportantAreasROI(rects, reference).evaluate(uniform(size, qRgb(30, 200, 90)));
}

// Black, grey ellipses in the halo bounds, then the white rectangles, through a plain QPainter.
QImage paintedAreas(const Rects& halos, const Rects& rects)
{
    QImage map = uniform(QSize(64, 48), 0xFF000000u);
    QPainter painter(&map);
    painter.setPen(QColor(0xA0, 0xA0, 0xA4));
    painter.setBrush(QColor(0xA0, 0xA0, 0xA4));
    for (const QRect& bounds : halos) {
        painter.drawEllipse(bounds);
    }
    painter.setPen(Qt::white);
    painter.setBrush(Qt::white);
    painter.drawRects(rects.toVector());
    return map;
}

// Two maps of 251 x 262 pixels that hold every pair of reds, 256 x 256, the first with alpha
// 255 - red; the width leaves a remainder after each group of pixels handled at once.
std::pair<QImage, QImage> everyPairOfReds()
{
    QImage first(251, 262, QImage::Format_ARGB32), second(first.size(), QImage::Format_ARGB32);
    for (int i = 0; i < 251 * 262; ++i) {
        first.setPixel(i % 251, i / 251, qRgba(i % 65536 / 256, 0, 0, 255 - i % 65536 / 256));
        second.setPixel(i % 251, i / 251, qRgb(i % 256, 0, 0));
    }
    return {first, second};
}

// Enables the methods under the keys in @p kept and disables the others.
void enableOnly(ZTSalienzMixer& mixer, const QList<int>& kept)
{
    for (int key = SalienzSobel; key <= SalienzAchanta; ++key) {
        mixer.setMethodEnabled(ZTSalienzMethod(key), kept.contains(key));
    }
}

// The messages that Qt logs while @p run runs, with their type and context.
template<typename Run>
QStringList messagesDuring(Run run)
{
    static QStringList messages;
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& c, const QString& text) {
            messages << QString("%1 %2 %3:%4 %5: %6")
                            .arg(type == QtWarningMsg ? "warning" : "other", c.category, c.file)
                            .arg(c.line)
                            .arg(c.function, text);
        });
    run();
    qInstallMessageHandler(previous);
    return std::exchange(messages, {});
}

const auto grey = [](int v) { return qRgb(v, v, v); };
const QRgb black = qRgb(0, 0, 0), red = qRgb(255, 0, 0), blue = qRgb(0, 0, 255);

// The method's settings, in this order; the defaults unless a row gives them.
struct Settings
{
    double threshold = 0.67;
    int rows = 11, columns = 15;
    double minHeight = 0.25, minWidth = 0.5;
    int bins1 = 32, bins2 = 32;
};

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

// A one-row block of packed YCbCr words with counts[i] pixels in Cr bin i of counts.size() bins.
QImage columns(const QVector<int>& counts)
{
    QImage block(std::accumulate(counts.begin(), counts.end(), 0), 1, QImage::Format_ARGB32);
    for (int i = 0, x = 0; i < counts.size(); x += counts[i++]) {
        const QRgb word = qRgb(50, 0, (i * 256 + counts.size() - 1) / counts.size());
        std::fill_n(reinterpret_cast<QRgb*>(block.scanLine(0)) + x, counts[i], word);
    }
    return block;
}

// 3 x 3 blocks of 16 x 32 pixels. Each block holds the 256 Cr values once, and 256 more pixels
// of Cr 0 (the top two block rows) or of Cr 255 (the bottom row).
QImage everyCrInEveryBlock()
{
    const ZTHistogramROI roi;
    QVector<QRgb> ofCr(256, 0);
    for (int i = 0; i < 65536; ++i) {
        const QRgb colour = qRgb(i / 256, i % 256, i % 256);
        ofCr[qBlue(roi.RGB2YCrCb(colour))] = colour;
    }
    QImage image(48, 96, QImage::Format_ARGB32);
    for (int i = 0; i < 48 * 96; ++i) {
        const int x = i % 48, y = i / 48, k = y % 32 * 16 + x % 16;
        image.setPixel(x, y, ofCr[k < 256 ? k : (y < 64 ? 0 : 255)]);
    }
    return image;
}

// The segmentation in the plainest way, from its tested parts: the converted image, a normalised
// ZTHistogram per block, segments as connected components of the edges to the 8-connected
// neighbours that weigh at most the threshold (the sorted walk joins the same pairs), the blocks
// of segments that span far enough filled.
QImage naiveSegmentation(const QImage& image, const Settings& s)
{
    const QImage ycbcr = ZTHistogramROI().convertToYcbcr(image, image);
    const QSize block(image.width() / qMax(s.columns, 1), image.height() / qMax(s.rows, 1));
    const auto rect = [&](int k) {
        return QRect(QPoint(k % s.columns * block.width(), k / s.columns * block.height()), block);
    };
    std::vector<ZTHistogram> histograms;
    QVector<int> segment;
    for (int k = 0; k < s.rows * s.columns && !image.isNull(); ++k) {
        histograms.emplace_back(ycbcr.copy(rect(k)), s.bins1, s.bins2);
        histograms.back().normalizeHistogram();
        segment << k;
    }
    for (int a = 0; a < segment.size(); ++a) {
        for (const QPoint step : {QPoint(1, -1), QPoint(1, 0), QPoint(1, 1), QPoint(0, 1)}) {
            const int i = a / s.columns + step.y(), j = a % s.columns + step.x();
            const int b = i * s.columns + j;
            if (i >= 0 && i < s.rows && j < s.columns
                && histograms[size_t(a)].compareHistogram(&histograms[size_t(b)]) <= s.threshold) {
                std::replace(segment.begin(), segment.end(), int(segment[b]), int(segment[a]));
            }
        }
    }
    QMap<int, QRect> boxes;
    for (int k = 0; k < segment.size(); ++k) {
        boxes[segment[k]] |= QRect(k % s.columns, k / s.columns, 1, 1);
    }
    QImage map = painted(image.size(), black);
    QPainter painter(&map);
    for (int k = 0; k < segment.size(); ++k) {
        const int w = boxes[segment[k]].width() - 1, h = boxes[segment[k]].height() - 1;
        if (h > s.rows * s.minHeight || w > s.columns * s.minWidth) {
            painter.fillRect(rect(k), QColor(grey(qBound(0, w * h - 1, 255))));
        }
    }
    return map;
}

using Points = std::vector<QPoint>;

QString text(const Points& points)
{
    QStringList list;
    for (const QPoint& p : points) {
        list << QString("(%1,%2)").arg(p.x()).arg(p.y());
    }
    return list.join(' ');
}

// A centre to 9 digits, which tells every float apart; NaN shows as nan.
QString text(const centroid& c)
{
    return QString("%1 %2").arg(c.x, 0, 'g', 9).arg(c.y, 0, 'g', 9);
}

} // namespace

Q_DECLARE_METATYPE(Settings)
Q_DECLARE_METATYPE(Points)

class tst_ZTMethods : public QObject
{
    Q_OBJECT

private slots:
    void blurKernels();
    void matchesReferences_data();
    void matchesReferences();
    void maxFilterIndexOutsideColourTable();
    void sobelResponses();
    void priorMatchesFormula();
    void importantAreas_data();
    void importantAreas();
    void importantAreasSizeWarning();
    void mix_data();
    void mix();
    void analyze_data();
    void analyze();
    void analysisMatchesMethodsMixedByHand();
    void conversion();
    void histogram();
    void histogramMap_data();
    void histogramMap();
    void edgeOrder();
    void disjointSet_data();
    void disjointSet();
};

// The blur's kernels, which its reference takes from it. QVector compares doubles exactly.
void tst_ZTMethods::blurKernels()
{
    ZTGaussianBlur blur(3, 2.6);
    QCOMPARE(blur.createGaussianKernel(3, 2.6),
        QVector<double>({0.3250163199427705, 0.34996736011445906, 0.3250163199427705}));
    // Sigma 0 is derived from the size: 0.8 for size 3.
    QCOMPARE(blur.createGaussianKernel(3, 0.0),
        QVector<double>({0.2389942656229905, 0.5220114687540189, 0.2389942656229905}));
    // A sigma whose square underflows keeps the middle weight.
    QCOMPARE(blur.createGaussianKernel(5, 1e-200), QVector<double>({0, 0, 1, 0, 0}));
}

void tst_ZTMethods::matchesReferences_data()
{
    QTest::addColumn<QImage>("picture");
    std::mt19937 random(9);
    // The maximum filter runs on bands of 64 rows: heights around one and two bands.
    for (const QSize size : {QSize(0, 0), QSize(1, 1), QSize(1, 9), QSize(9, 1), QSize(2, 3),
             QSize(3, 4), QSize(31, 17), QSize(64, 48), QSize(19, 67), QSize(17, 131)}) {
        QTest::addRow("noise %dx%d", size.width(), size.height())
            << randomPicture(size, QImage::Format_RGB32, random);
    }
    // Some formats store a copy with another red than it was read with; indexed images copy
    // colour indices, and the maximum filter is compared in their ARGB32 form.
    for (const auto format :
        {QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied, QImage::Format_RGB888,
            QImage::Format_Grayscale8, QImage::Format_Indexed8, QImage::Format_RGBA8888,
            QImage::Format_ARGB8565_Premultiplied, QImage::Format_A2RGB30_Premultiplied}) {
        QTest::addRow("%s noise", QMetaEnum::fromType<QImage::Format>().valueToKey(format))
            << randomPicture(QSize(23, 19), format, random);
    }
    // Many equal reds with different other channels test the maximum filter's tie rules: the
    // first spreading pixel in row-major order wins, a pixel keeps its own value on a tie.
    QTest::newRow("few reds") << randomPicture(
        QSize(13, 7), QImage::Format_RGB32, random, {0, 1, 50, 51, 150, 254, 255});
    // Opaque grey maps take a path of their own in the maximum filter unless a pixel has a colour.
    QImage grey = randomPicture(QSize(41, 29), QImage::Format_Grayscale8, random)
                      .convertToFormat(QImage::Format_RGB32);
    QTest::newRow("opaque grey") << grey;
    grey.setPixel(20, 28, qRgb(200, 7, 9));
    QTest::newRow("opaque grey but one pixel") << grey;
    QTest::newRow("blocks") << randomBlocks(QSize(50, 31), 5, random);
    // Size 9 with the derived sigma sums to 0.9999999999999998: white sums to 254.99999999999997
    // mid-row, which only the division by the kernel sum brings back to 255.
    QTest::newRow("white: the blur divides by a kernel sum near 1")
        << uniform(QSize(17, 17), qRgb(255, 255, 255));
    QTest::newRow("uniform: black surround map") << uniform(QSize(11, 8), qRgb(90, 10, 200));
}

// Whole maps against the methods written out pixel by pixel: the blur for kernels narrower and
// wider than the picture (a size below 1 acts as 1, an even size as the next odd one), the
// maximum filter for arms from none to past the borders and thresholds at both ends of the red
// range, the Sobel map and its two responses, and the surround contrast map.
void tst_ZTMethods::matchesReferences()
{
    QFETCH(QImage, picture);
    const auto same = [](const QImage& actual, const QImage& expected, const QString& what) {
        return sameStoredPixels(actual, expected, QTest::currentDataTag() + (' ' + what));
    };
    for (const int size : {-4, 1, 2, 3, 4, 9, 41}) {
        for (const double sigma : {2.6, 0.0}) {
            ZTGaussianBlur blur(size, sigma);
            const QVector<double> kernel = blur.createGaussianKernel(qMax(size, 1) | 1, sigma);
            QVERIFY(same(blur.evaluate(picture), naiveBlur(picture, kernel),
                QString::asprintf("blur %d %g", size, sigma)));
        }
    }
    const auto argb = [](const QImage& image) {
        return image.format() == QImage::Format_Indexed8
            ? image.convertToFormat(QImage::Format_ARGB32)
            : image;
    };
    const int longestArms = 2 * (picture.width() + picture.height()) + 1;
    for (const int size : {INT_MIN, -2, 0, 1, 2, 3, 4, 7, 90, INT_MAX}) {
        for (const int threshold : {-1, 0, 50, 150, 254, 255, 300}) {
            QVERIFY(same(argb(ZTMaxFilter(size, threshold).evaluate(picture)),
                naiveMaxFilter(argb(picture), std::min(size, longestArms), threshold),
                QString::asprintf("maximum %d %d", size, threshold)));
        }
    }
    // Evaluated twice: evaluate() leaves the vertical-edge kernel configured.
    ZTSobelROI sobel;
    const QImage edges = naiveSobel(picture, ZTGaussianBlur(3, 2.6).createGaussianKernel(3, 2.6));
    QVERIFY(same(sobel.evaluate(picture), edges, "Sobel"));
    QVERIFY(same(sobel.evaluate(picture), edges, "Sobel again"));
    QVERIFY(same(sobel.convolute(picture), naiveConvolution(picture, sobelVertical), "V"));
    sobel.configureSobelH();
    QVERIFY(same(sobel.convolute(picture), naiveConvolution(picture, sobelHorizontal), "H"));
    QVERIFY(same(ZTSalienzAchanta().evaluate(picture), naiveSurroundMap(picture), "surround"));
}

// An index outside the colour table reads as red 0 without a warning, and the index of the
// pixel that wins over it is copied.
void tst_ZTMethods::maxFilterIndexOutsideColourTable()
{
    QImage indexed(3, 1, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(0, 0, 0), qRgb(100, 1, 2)});
    std::copy_n("\x01\x09\x00", 3, indexed.scanLine(0));
    QImage map;
    QCOMPARE(messagesDuring([&] { map = ZTMaxFilter(3, 50).evaluate(indexed); }), QStringList());
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(map.constScanLine(0)), 3),
        QByteArray("\x01\x01\x00", 3));
}

// The divisor is 12, 3 * totalWeight() / 2, so the strongest response, 3 * 4 * 255 / 12, is
// exactly 255 (the whole responses are compared above). evaluate() builds on a subclass's
// responses. The magnitude of every pair of reds, in a width that leaves a
// remainder after each group of eight.
void tst_ZTMethods::sobelResponses()
{
    QCOMPARE(FixedResponses().evaluate(uniform(QSize(9, 9), 0xFF000000)),
        uniform(QSize(9, 9), qRgb(42, 42, 42)));
    const auto [first, second] = everyPairOfReds();
    QVERIFY(sameStoredPixels(
        ZTSobelROI().combine(first, second), naiveCombine(first, second), "pairs"));
}

// Whole prior maps against the formula: odd and even sides mirror about the centre differently
// (1x1 has no pixel at the centre), large maps reach every level down to 0, and the picture's
// content plays no part.
void tst_ZTMethods::priorMatchesFormula()
{
    for (const QSize size : {QSize(0, 0), QSize(1, 1), QSize(7, 1), QSize(2, 3), QSize(641, 481),
             QSize(3, 1001), QSize(1279, 959), QSize(1280, 960)}) {
        std::mt19937 random(size.width());
        const QImage picture = randomPicture(size, QImage::Format_RGB32, random);
        QVERIFY(sameStoredPixels(ZTGaussROI().evaluate(picture), naivePrior(size),
            QString::asprintf("prior-%dx%d", size.width(), size.height())));
    }
}

void tst_ZTMethods::importantAreas_data()
{
    QTest::addColumn<Rects>("rects");
    QTest::addColumn<Rects>("halos"); // their bounding rectangles
    QTest::addColumn<Rects>("drawn"); // the white rectangles

    // Edges -3 and 0: the centre is -3 / 2 = -1 toward zero, not -2.
    QTest::newRow("negative centre truncates toward zero") << Rects {
        QRect(-3, -3, 4, 4)} << Rects {QRect(-5, -5, 8, 8)} << Rects {QRect(-3, -3, 4, 4)};
    const Rects overlapping {QRect(5, 5, 10, 8), QRect(12, 9, 12, 10), QRect(13, 8, 3, 20)};
    QTest::newRow("overlapping: all halos before all rectangles")
        << overlapping << Rects {QRect(-1, 0, 20, 16), QRect(5, 3, 24, 20), QRect(11, -3, 6, 40)}
        << overlapping;
    // A one-pixel rectangle at INT_MAX has the halo INT_MAX - 1 ... INT_MAX, whose left edge
    // plus width overflowed in QRect's (x, y, width, height) constructor (found by fuzz_methods;
    // the overflow shows under UndefinedBehaviorSanitizer). Rectangles whose size or halo leaves
    // the int range are clipped, never overflowed.
    QTest::newRow("haloEndingAtIntMaxOverflowedQRect")
        << Rects {QRect(QPoint(INT_MAX, INT_MAX), QPoint(INT_MAX, INT_MAX)),
               QRect(QPoint(INT_MAX - 5, INT_MIN), QPoint(INT_MAX, INT_MIN + 5))}
        << Rects {} << Rects {};
    QTest::newRow("the whole int range is clipped")
        << Rects {QRect(QPoint(INT_MIN, INT_MIN), QPoint(INT_MAX, INT_MAX))} << Rects {}
        << Rects {QRect(0, 0, 64, 48)};
}

void tst_ZTMethods::importantAreas()
{
    QFETCH(Rects, rects);
    QFETCH(Rects, halos);
    QFETCH(Rects, drawn);
    QCOMPARE(areasMap(rects, QSize(64, 48), QSize(64, 48)), paintedAreas(halos, drawn));
}

// Once per call in which the sizes differ, with the context that the library sets whatever the
// build settings of the code that logs; the rectangles are drawn unscaled, where they are.
void tst_ZTMethods::importantAreasSizeWarning()
{
    const Rects rects {QRect(10, 10, 20, 10), QRect(300, 200, 40, 60)};
    const QSize picture(320, 240);
    QImage mismatched, matched, nothingToDrawOn;
    const QStringList messages = messagesDuring([&] {
        mismatched = areasMap(rects, picture, QSize(640, 480));
        areasMap(rects, picture, QSize(320, 239)); // the height alone differs: a second
        matched = areasMap(rects, picture, picture);
        nothingToDrawOn = areasMap(rects, QSize(), QSize(640, 480));
    });
    const QString warning = QString::fromUtf8(
        "warning default libs/ZTRegionOfInterest/ZTVeryImportantAreasROI:49 virtual QImage "
        "ZTVeryImportantAreasROI::evaluate(const QImage&): TODO: umrechnen der Gr\xc3\xb6\xc3\x9f"
        "e! (worldmatrix berechnen)");
    QCOMPARE(messages, QVector<QString>(2, warning).toList());
    QVERIFY(mismatched == matched && nothingToDrawOn.isNull());
}

void tst_ZTMethods::mix_data()
{
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<QList<int>>("weights");
    QTest::addColumn<int>("expected");
    const auto row = [](const char* name, QList<int> values, QList<int> weights, int expected) {
        QTest::newRow(name) << values << weights << expected;
    };
    row("only positive weights normalise", {100, 100, 50}, {20, -10, 10}, 50);
    row("largest weights do not overflow", {255, 255}, {INT_MAX, INT_MAX}, 255);
    // Without values: every pair of reds. Weights n - 1 and 1 give every sum from 0 to
    // 255 * n, each divided by n.
    for (const int n : {1, 3, 7, 256, 257, 65537, 99991}) {
        row(qPrintable(QString("normaliser %1, every sum").arg(n)), {}, {n - 1, 1}, -1);
    }
    row("negative first", {}, {-7, 5}, -1);
    row("largest 32-bit sums", {}, {65536, -8355968}, -1);
    row("just past 32-bit sums", {}, {65536, -8355969}, -1);
    row("extreme weights", {}, {INT_MAX, INT_MIN}, -1);
}

// Maps of the given values, whose green, blue and alpha differ from their red, as only red
// is read, and of alternating widths and heights, as the result has the first map's size and
// a smaller map counts as 0 beyond its last column and row; or maps of every
// pair of reds, so every weighted sum, in a width that leaves a remainder after each group of
// pixels that the mix handles at once. Both against the mix as defined.
void tst_ZTMethods::mix()
{
    QFETCH(QList<int>, values);
    QFETCH(QList<int>, weights);
    QFETCH(int, expected);
    QList<QImage> full, maps; // maps smaller than full are views into it: reads past them count
    for (const int value : values) {
        full.append(uniform(QSize(9, 3), qRgba(value, 255 - value, 7, 99)));
        const QImage& f = full.last();
        maps.append(
            maps.size() % 2 ? QImage(f.constBits(), 7, 2, f.bytesPerLine(), f.format()) : f);
    }
    if (values.isEmpty()) {
        const auto [first, second] = everyPairOfReds();
        maps = {first, second};
    }
    const QImage mixed = ZTSalienzMixer(QSize(9, 9)).mix(maps, weights);
    QVERIFY(sameStoredPixels(mixed, naiveMix(maps, weights), QTest::currentDataTag()));
    QVERIFY(expected < 0 || mixed.pixel(0, 0) == qRgb(expected, expected, expected));
}

void tst_ZTMethods::analyze_data()
{
    QTest::addColumn<QSize>("analysisSize");
    QTest::addColumn<QSize>("pictureSize");
    QTest::addColumn<QList<int>>("enabled");
    QTest::addColumn<QSize>("mapSize");
    const QList<int> all {SalienzSobel, SalienzGauss, SalienzHistogram, SalienzAchanta};
    const auto row
        = [](const char* name, QSize analysis, QSize picture, QList<int> enabled, QSize map) {
              QTest::newRow(name) << analysis << picture << enabled << map;
          };
    // With only the centre prior enabled: its map of the work image, whatever its weight.
    row("portrait into 320x240", {320, 240}, {1200, 1600}, {SalienzGauss}, {180, 240});
    row("thin picture keeps one row", {320, 240}, {4000, 2}, {SalienzGauss}, {320, 1});
    // Without any map: the picture itself.
    row("every method disabled", {320, 240}, {64, 48}, {}, {});
    row("empty analysis size", {0, 240}, {64, 48}, all, {});
    row("null picture", {320, 240}, {}, all, {});
    // Regression (fuzz_mixer): scaling up to these made QImage log that it ran out of memory.
    // Work images above 2^29 pixels are refused before anything is allocated.
    row("huge analysis size logged out of memory", {INT_MAX, INT_MAX}, {64, 48}, all, {});
}

void tst_ZTMethods::analyze()
{
    QFETCH(QSize, analysisSize);
    QFETCH(QSize, pictureSize);
    QFETCH(QList<int>, enabled);
    const QImage picture = uniform(pictureSize, qRgb(40, 90, 160), QImage::Format_RGB32);
    QFETCH(QSize, mapSize);
    ZTSalienzMixer mixer(analysisSize);
    enableOnly(mixer, enabled);
    mixer.setMethodWeight(SalienzGauss, -7);
    QImage map;
    QCOMPARE(messagesDuring([&] { map = mixer.analyze(picture); }), QStringList());
    const QImage expected = mapSize.isValid()
        ? ZTGaussROI().evaluate(QImage(mapSize, QImage::Format_RGB32))
        : picture;
    QVERIFY(sameStoredPixels(map, expected, QTest::currentDataTag()));
}

// End-to-end analyses against the methods' own maps of the work image mixed by hand, after
// each change of the set (histogramMap covers pictures of other formats). A second injection
// destroys the first method (the sanitizer build would report a leak or a double free) and
// brings a fresh, enabled one with the new areas and weight 20.
void tst_ZTMethods::analysisMatchesMethodsMixedByHand()
{
    std::mt19937 random(5);
    const QImage picture = randomBlocks(QSize(400, 300), 40, random);
    const QImage work = picture.scaled(320, 240, Qt::KeepAspectRatio, Qt::FastTransformation);
    const QList<QRect> areas {QRect(50, 40, 60, 40), QRect(250, 150, 30, 50)};
    const QImage sobel = ZTSobelROI().evaluate(work), prior = ZTGaussROI().evaluate(work);
    const QImage histogram = ZTHistogramROI().evaluate(work);
    const QImage important = ZTVeryImportantAreasROI(areas, work.size()).evaluate(work);
    const QImage replaced
        = ZTVeryImportantAreasROI({QRect(9, 9, 5, 5)}, work.size()).evaluate(work);
    const QImage surround = ZTSalienzAchanta().evaluate(work);
    ZTSalienzMixer mixer(QSize(320, 240));
    const auto mixesByHand = [&](const QList<QImage>& maps, QList<int> weights, QString name) {
        return mixer.gatherWeights() == weights
            && sameStoredPixels(mixer.analyze(picture), naiveMix(maps, weights), name);
    };
    QVERIFY(mixer.mix({}, {}).isNull() && mixer.mix({QImage(), prior}, {1, 1}).isNull());
    // Keys without a method (very important areas before an injection, or outside the
    // enumeration) are ignored.
    for (const auto key : {SalienzVeryImportantAreas, ZTSalienzMethod(-1), ZTSalienzMethod(9)}) {
        mixer.setMethodWeight(key, 50);
        mixer.setMethodEnabled(key, true);
        QVERIFY(!mixer.roiMethod(key) && !mixer.isMethodEnabled(key));
    }
    QVERIFY(mixesByHand({sobel, prior, histogram, surround}, {20, 2, -10, 10}, "default set"));
    mixer.injectVeryImportantAreas(areas, QSize(320, 240));
    const QList<QImage> allMaps {sobel, prior, histogram, important, surround};
    QVERIFY(mixesByHand(allMaps, {20, 2, -10, 20, 10}, "injected"));
    // The histogram's weight is stored negated. A disabled method in the middle of the key
    // order must not shift the later weights.
    mixer.setMethodWeight(SalienzSobel, -5);
    mixer.setMethodWeight(SalienzHistogram, -5);
    mixer.setMethodEnabled(SalienzGauss, false);
    QVERIFY(mixesByHand({sobel, histogram, important, surround}, {-5, 5, 20, 10}, "reweighted"));
    mixer.setMethodEnabled(SalienzVeryImportantAreas, false);
    mixer.setMethodWeight(SalienzVeryImportantAreas, 3);
    mixer.injectVeryImportantAreas({QRect(9, 9, 5, 5)}, QSize(320, 240));
    QVERIFY(mixesByHand({sobel, histogram, replaced, surround}, {-5, 5, 20, 10}, "twice"));
    mixer.setMethodWeight(SalienzHistogram, INT_MIN); // saturates
    QCOMPARE(mixer.gatherWeights(), QList<int>({-5, INT_MAX, 20, 10}));
}

// The single conversion: truncated, so that the luma of 65 grey levels, among them 1, 2, 4, 8
// and 128, lies just below the level; alpha takes no part. convertToYcbcr() converts whole rows
// at once, compiled for AVX2 where the processor has it: it must give RGB2YCrCb() of each of the
// 2^24 colours, whatever the alpha.
void tst_ZTMethods::conversion()
{
    const ZTHistogramROI roi;
    for (const auto& pair :
        QVector<QPair<QRgb, QRgb>> {{red, qRgb(76, 84, 255)}, {qRgb(0, 255, 0), qRgb(149, 43, 21)},
            {blue, qRgb(29, 255, 107)}, {0x00FF0000u, qRgb(76, 84, 255)},
            {grey(1), qRgb(0, 128, 128)}, {grey(128), qRgb(127, 128, 128)}}) {
        QCOMPARE(roi.RGB2YCrCb(pair.first), pair.second);
    }
    constexpr quint32 length = 4099; // rows that no vector width divides
    QImage colours(int(length), 1, QImage::Format_ARGB32);
    QRgb* const pixels = reinterpret_cast<QRgb*>(colours.bits());
    for (quint32 first = 0; first < (1u << 24); first += length) {
        for (quint32 i = 0; i < length; ++i) {
            pixels[i] = ((first + i) * 0x9E3779B9u & 0xFF000000u) | ((first + i) & 0xFFFFFFu);
        }
        const QImage converted = roi.convertToYcbcr(colours, colours);
        const QRgb* const words = reinterpret_cast<const QRgb*>(converted.constBits());
        for (quint32 i = 0; i < length; ++i) {
            if (words[i] != roi.RGB2YCrCb(pixels[i])) {
                QFAIL(qPrintable(QString::number(pixels[i], 16)));
            }
        }
    }
}

// A grey block falls into row 16, column 16 of 32 x 32 bins; one bin of 2000 pixels normalises
// to 1, the minimum staying at 1000; 0 bins count as 1, and a flat table gives NaN. Normalised
// (1, 0.5, 0) against (1, 0, 0) and the other way round; a histogram against itself;
// (1 - 0.25)^2 / 1 + (0.25 - 1)^2 / 0.25 summed over the bins; a flat table of NaN as this
// histogram, and as the other one opposite a full bin. Negative bin counts and tables beyond
// memory are refused; the method refuses negative counts before it counts the blocks, so even
// when the blocks are empty.
void tst_ZTMethods::histogram()
{
    const auto normalised = [](const QImage& block, int bins1, int bins2) {
        ZTHistogram histogram(block, bins1, bins2);
        histogram.normalizeHistogram();
        return histogram;
    };
    const auto distance = [&](const QVector<int>& expected, const QVector<int>& other) {
        ZTHistogram a = normalised(columns(expected), 1, expected.size());
        ZTHistogram b = normalised(columns(other), 1, other.size());
        return a.compareHistogram(&b);
    };
    ZTHistogram greyBlock = normalised(painted(QSize(16, 16), qRgb(127, 128, 128)), 32, 32);
    ZTHistogram big = normalised(columns({2000}), 1, 1), flat = normalised(columns({9}), 0, 0);
    QCOMPARE(QVector<double>({greyBlock.getHistogramValue(16, 16),
                 greyBlock.getHistogramValue(15, 16), big.getHistogramValue(0, 0)}),
        QVector<double>({1, 0, 1}));
    QVERIFY(std::isnan(flat.getHistogramValue(0, 0)));
    QCOMPARE(QVector<double>({distance({2, 1, 0}, {1, 0, 0}), distance({1, 0, 0}, {2, 1, 0}),
                 distance({7, 3, 0, 1}, {7, 3, 0, 1}), distance({4, 1, 0}, {1, 4, 0}),
                 distance({3, 3}, {1, 0})}),
        QVector<double>({0.5, 0, 0, 2.8125, 0}));
    QVERIFY(std::isnan(distance({1, 0}, {3, 3})));
    for (const QPoint bins : {QPoint(-1, 32), QPoint(32, -1), QPoint(0, -7)}) {
        QVERIFY_EXCEPTION_THROWN(
            ZTHistogram(columns({1}), bins.x(), bins.y()), std::bad_array_new_length);
        ZTHistogramROI roi;
        roi.setBin1(bins.x());
        roi.setBin2(bins.y());
        QVERIFY_EXCEPTION_THROWN(roi.evaluate(painted(QSize(3, 3), 0)), std::bad_array_new_length);
    }
    QVERIFY_EXCEPTION_THROWN(ZTHistogram(columns({1}), INT_MAX, INT_MAX), std::bad_alloc);
}

void tst_ZTMethods::histogramMap_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<Settings>("settings");
    QTest::addColumn<QImage>("expected");

    const QSize size(150, 110);
    const QImage halves = painted(size, blue, {{QRect(0, 0, 70, 110), red}});
    const QImage allBlack = painted(size, black);
    QTest::newRow("red and blue halves: the walk ends at weight 1.0")
        << halves << Settings() << painted(size, grey(69), {{QRect(0, 0, 70, 110), grey(59)}});
    QTest::newRow("negative vertical blocks") << halves << Settings {0.67, -1} << allBlack;
    QTest::newRow("zero horizontal blocks") << halves << Settings {0.67, 11, 0} << allBlack;
    QTest::newRow("null image, null map") << QImage() << Settings() << QImage();
    QTest::newRow("101 columns, level 299 clamped to 255")
        << painted(QSize(203, 5), blue) << Settings {0.67, 4, 101}
        << painted(QSize(203, 5), black, {{QRect(0, 0, 202, 4), grey(255)}});
    // Regression (fuzz_mixer): 65536 x 65536 bins made every block a table of 32 GiB. Counts
    // from 257 up are 257, which leave a bin empty: the two kinds of block are 256 apart, and
    // only the top two rows join. Filling every bin, 256 would make them 1 apart (the minimum 1,
    // not 0), and all would join.
    QTest::newRow("300 bins count as 257, which leave a bin empty")
        << everyCrInEveryBlock() << Settings {2.0, 3, 3, 0, 0, 1, 300}
        << painted(QSize(48, 96), black, {{QRect(0, 0, 48, 64), grey(1)}});
    std::mt19937 random(20240607);
    // Two Cb bins and one Cr bin: block column 2, half red and half blue, has a flat table of
    // NaN, so the edges from uniform blocks to it weigh NaN. They neither join nor end the walk.
    const QImage flat = painted(QSize(60, 40), red,
        {{QRect(25, 0, 5, 40), blue}, {QRect(30, 0, 30, 20), blue},
            {QRect(50, 20, 10, 20), qRgb(200, 0, 255)}});
    QTest::newRow("flat histograms") << flat << Settings {1.0, 4, 6, 0, 0, 2, 1}
                                     << naiveSegmentation(flat, {1.0, 4, 6, 0, 0, 2, 1});
    // Tables beyond the address space threw std::bad_alloc. Counts from 257 up give one map.
    const QImage blocks = randomBlocks(QSize(70, 50), 12, random);
    QTest::newRow("hugeBinCountsAllocatedGigabytes")
        << blocks << Settings {1.5, 4, 5, 0, 0, INT_MAX, INT_MAX}
        << naiveSegmentation(blocks, {1.5, 4, 5, 0, 0, 257, 257});
    // Random pictures and settings: blocks of one pixel, of none, leftover rows and columns,
    // bins that every block fills. The reference proves the sparse histograms and the AVX2 or
    // baseline chroma of this processor.
    const auto pick = [&random](std::initializer_list<double> values) {
        return values.begin()[random() % values.size()];
    };
    for (int n = 0; n < 40; ++n) {
        const QSize size(1 + random() % 170, 1 + random() % 130);
        const QImage image = randomBlocks(size, 1 + random() % 40, random)
                                 .convertToFormat(QImage::Format(int(pick({4, 5, 13}))));
        const Settings s {pick({0.0, 0.3, 0.67, 1.0, 2.5}), 1 + int(random() % 14),
            1 + int(random() % 18), pick({0, 0.25, 0.5, 0.8}), pick({0, 0.25, 0.5, 0.8}),
            int(pick({0, 1, 2, 3, 5, 8, 32})), int(pick({0, 1, 2, 3, 5, 8, 32}))};
        QTest::addRow("random %d: %dx%d, %dx%d blocks, %dx%d bins, threshold %g", n, image.width(),
            image.height(), s.columns, s.rows, s.bins1, s.bins2, s.threshold)
            << image << s << naiveSegmentation(image, s);
    }
}

void tst_ZTMethods::histogramMap()
{
    QFETCH(QImage, image);
    QFETCH(Settings, settings);
    QFETCH(QImage, expected);
    // A mixer's forwarders set up its own histogram method, which it runs alone on the picture
    // itself: an invalid analysis size keeps the picture's.
    ZTSalienzMixer mixer(QSize(-1, -1));
    enableOnly(mixer, {SalienzHistogram});
    mixer.updateHistogramChiSquareThreshold(settings.threshold);
    mixer.updateHistogramVerticalBlocks(settings.rows);
    mixer.updateHistogramHorizontalBlocks(settings.columns);
    mixer.updateHistogramMinHeight(settings.minHeight);
    mixer.updateHistogramMinWidth(settings.minWidth);
    mixer.updateHistogramBinsChannel1(settings.bins1);
    mixer.updateHistogramBinsChannel2(settings.bins2);
    const QString tag = QTest::currentDataTag();
    QVERIFY(sameStoredPixels(mixer.histogramROI()->evaluate(image), expected, tag));
    QVERIFY(sameStoredPixels(mixer.analyze(image), expected, tag + " through a mixer"));
}

// Only the weights count (the cells would order the other way); NaN is neither less nor more.
void tst_ZTMethods::edgeOrder()
{
    const auto less
        = [](double a, double b) { return ZTSegmentEdge(9, 8, a) < ZTSegmentEdge(1, 2, b); };
    const double nan = std::nan("");
    QCOMPARE(QVector<bool>({less(0.5, 0.5), less(0.25, 0.5), less(nan, 1.0), less(1.0, nan)}),
        QVector<bool>({false, true, false, false}));
}

// A row's operation is the first word of its name. Forest rows join the pairs (a, b) given as
// points and show find(cell) and size(cell), the size of every element, the count and the
// number of segments. "segment" rows instead join the roots of the pairs' cells and show the box
// of cell's segment in getSegmentSizes, its box in getSegmentInformations and its centre. The
// others take the points as the vertices of convex_hull(), calculateCentroid() or cross().
void tst_ZTMethods::disjointSet_data()
{
    QTest::addColumn<QSize>("grid"); // columns x rows
    QTest::addColumn<Points>("points");
    QTest::addColumn<int>("cell");
    QTest::addColumn<QString>("result");

    const auto row
        = [](const char* name, QSize grid, const Points& points, int cell, const char* result) {
              QTest::newRow(name) << grid << points << cell << QString(result);
          };
    row("new 3 x 4", {4, 3}, {}, 11, "11 1 | 1 1 1 1 1 1 1 1 1 1 1 1 | 12 | 12");
    row("product beyond int", {65536, 65536}, {}, 0, "-1 0 | | 0 | 0");
    row("join(0, 1): the second wins ties", {2, 2}, {{0, 1}}, 0, "1 1 | 1 2 1 1 | 3 | 3");
    row("segment: row 0 and column 0 of a 6 x 4 grid", {6, 4},
        {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {0, 6}, {6, 12}, {12, 18}}, 0,
        "0 0 5 3 | 0 0 6 4 | 2.35483861 1.51612902");
    row("segment: diagonal, zero-area hull", {4, 4}, {{0, 5}, {5, 10}, {10, 15}}, 0,
        "0 0 3 3 | 0 0 4 4 | nan nan");
    row("hull of no points", {}, {}, 0, "");
    row("hull of the corners of a 2 x 2 block of cells", {},
        {{0, 0}, {1, 1}, {1, 0}, {2, 1}, {0, 1}, {1, 2}, {1, 1}, {2, 2}}, 0,
        "(0,0) (1,0) (2,1) (2,2) (1,2) (0,1) (0,0)");
    row("hull: x before y, (1,5) sorts before (2,0) and (1,6)", {}, {{2, 0}, {1, 6}, {1, 5}}, 0,
        "(1,5) (2,0) (1,6) (1,5)");
    row("centroid of a single vertex", {}, {{3, 4}}, 0, "nan nan");
    row("centroid of no polygon", {}, {}, 0, "throws std::out_of_range");
    // Summing the moments in double, or multiplying in float, gives other last bits.
    row("centroid: moments rounded to float after every edge, the closing one too", {},
        {{181, 170}, {277, 35}, {206, 229}, {126, 263}}, 0, "202.14267 173.643295");
    row("cross wraps at 2^31", {}, {{0, 0}, {65536, 0}, {0, 32768}}, 0, "-2147483648");
}

void tst_ZTMethods::disjointSet()
{
    QFETCH(QSize, grid);
    QFETCH(Points, points);
    QFETCH(int, cell);

    ZTDisjointSet set(grid.height(), grid.width());
    const QString operation = QString(QTest::currentDataTag())
                                  .section(QRegularExpression(QStringLiteral("[ :]")), 0, 0);
    const bool segment = operation == "segment";
    QString result;
    QTextStream out(&result);
    if (operation == "hull") {
        result = text(set.convex_hull(points));
    } else if (operation == "cross") {
        result = QString::number(set.cross(points[0], points[1], points[2]));
    } else if (operation == "centroid" && points.empty()) {
        QVERIFY_EXCEPTION_THROWN(set.calculateCentroid(nullptr), std::out_of_range);
        QVERIFY_EXCEPTION_THROWN(set.calculateCentroid(&points), std::out_of_range);
        result = "throws std::out_of_range";
    } else if (operation == "centroid") {
        const Points before = points;
        result = text(set.calculateCentroid(&points));
        QVERIFY(points == before);
    } else {
        for (const QPoint join : points) {
            set.join(
                segment ? set.find(join.x()) : join.x(), segment ? set.find(join.y()) : join.y());
        }
        if (segment) {
            const ::segment s = set.getSegmentInformations().at(set.find(cell));
            for (const int value : set.getSegmentSizes().value(set.find(cell))) {
                out << value << ' ';
            }
            out << "| " << s.left << ' ' << s.top << ' ' << s.right << ' ' << s.bottom << " | "
                << text(s.center);
        } else {
            out << set.find(cell) << ' ' << set.size(cell) << " |";
            const qint64 cells = qint64(grid.width()) * grid.height();
            for (int i = 0; cells <= INT_MAX && i < cells; ++i) {
                out << ' ' << set.size(i);
            }
            out << " | " << set.getCount() << " | " << set.getSegmentSizes().size();
        }
    }
    QTEST(result, "result");
}

QTEST_GUILESS_MAIN(tst_ZTMethods)
#include "tst_ZTMethods.moc"
