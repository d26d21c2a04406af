// The histogram segmentation method and its parts: the chroma conversion, ZTHistogram's block
// histograms and their distance, the disjoint set that joins the blocks with its geometry, and
// the whole map against a plain reference.

#include "ZTDisjointSet.h"
#include "ZTHistogram.h"
#include "ZTHistogramROI.h"
#include "ZTImageTestSupport.h"
#include "ZTSegmentEdge.h"

#include <QPainter>
#include <QtTest>

#include <cmath>
#include <limits>
#include <new>
#include <numeric>
#include <stdexcept>

namespace {

constexpr int intMax = std::numeric_limits<int>::max();
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
    for (int red = 0; red < 256; ++red) {
        for (int other = 0; other < 256; ++other) {
            const QRgb colour = qRgb(red, other, other);
            ofCr[qBlue(roi.RGB2YCrCb(colour))] = colour;
        }
    }
    QImage image(48, 96, QImage::Format_ARGB32);
    for (int y = 0; y < 96; ++y) {
        for (int x = 0; x < 48; ++x) {
            const int i = y % 32 * 16 + x % 16;
            image.setPixel(x, y, ofCr[i < 256 ? i : (y < 64 ? 0 : 255)]);
        }
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
using Pairs = QVector<QPoint>; // (a, b) for join(a, b)

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

class tst_ZTHistogramROI : public QObject
{
    Q_OBJECT

private slots:
    void conversion();
    void histogram();
    void evaluate_data();
    void evaluate();
    void edgeOrder();
    void forest_data();
    void forest();
    void geometry_data();
    void geometry();
};

// The single conversion: truncated, so that the luma of 65 grey levels, among them 1, 2, 4, 8
// and 128, lies just below the level; alpha takes no part. convertToYcbcr() converts whole rows
// at once, compiled for AVX2 where the processor has it: it must give RGB2YCrCb() of each of the
// 2^24 colours, whatever the alpha.
void tst_ZTHistogramROI::conversion()
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
void tst_ZTHistogramROI::histogram()
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
    QVERIFY_EXCEPTION_THROWN(ZTHistogram(columns({1}), intMax, intMax), std::bad_alloc);
}

void tst_ZTHistogramROI::evaluate_data()
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
    const QImage blocks = ZTImageTest::randomBlocks(QSize(70, 50), 12, random);
    QTest::newRow("hugeBinCountsAllocatedGigabytes")
        << blocks << Settings {1.5, 4, 5, 0, 0, intMax, intMax}
        << naiveSegmentation(blocks, {1.5, 4, 5, 0, 0, 257, 257});
    // Random pictures and settings: blocks of one pixel, of none, leftover rows and columns,
    // bins that every block fills. The reference proves the sparse histograms and the AVX2 or
    // baseline chroma of this processor.
    const auto pick = [&random](std::initializer_list<double> values) {
        return values.begin()[random() % values.size()];
    };
    for (int n = 0; n < 40; ++n) {
        const QSize size(1 + random() % 170, 1 + random() % 130);
        const QImage image = ZTImageTest::randomBlocks(size, 1 + random() % 40, random)
                                 .convertToFormat(QImage::Format(int(pick({4, 5, 13}))));
        const Settings s {pick({0.0, 0.3, 0.67, 1.0, 2.5}), 1 + int(random() % 14),
            1 + int(random() % 18), pick({0, 0.25, 0.5, 0.8}), pick({0, 0.25, 0.5, 0.8}),
            int(pick({0, 1, 2, 3, 5, 8, 32})), int(pick({0, 1, 2, 3, 5, 8, 32}))};
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
    ZTHistogramROI roi;
    roi.setChiSquareThreshold(settings.threshold);
    roi.setVerticalBlocks(settings.rows);
    roi.setHorizontalBlocks(settings.columns);
    roi.setMinHeight(settings.minHeight);
    roi.setMinWidth(settings.minWidth);
    roi.setBin1(settings.bins1);
    roi.setBin2(settings.bins2);
    QVERIFY(ZTImageTest::sameStoredPixels(roi.evaluate(image), expected, QTest::currentDataTag()));
}

// Only the weights count (the cells would order the other way); NaN is neither less nor more.
void tst_ZTHistogramROI::edgeOrder()
{
    const auto less
        = [](double a, double b) { return ZTSegmentEdge(9, 8, a) < ZTSegmentEdge(1, 2, b); };
    const double nan = std::nan("");
    QCOMPARE(QVector<bool>({less(0.5, 0.5), less(0.25, 0.5), less(nan, 1.0), less(1.0, nan)}),
        QVector<bool>({false, true, false, false}));
}

// A row joins the pairs as given and shows find(cell) and size(cell), the size of every
// element, the count and the number of segments. A row named "segment" instead joins
// the roots of the pairs' cells and shows the box of cell's segment in getSegmentSizes, its box
// in getSegmentInformations and its centre.
void tst_ZTHistogramROI::forest_data()
{
    QTest::addColumn<QSize>("grid"); // columns x rows
    QTest::addColumn<Pairs>("joins");
    QTest::addColumn<int>("cell");
    QTest::addColumn<QString>("result");

    QTest::newRow("new 3 x 4") << QSize(4, 3) << Pairs {} << 11
                               << "11 1 | 1 1 1 1 1 1 1 1 1 1 1 1 | 12 | 12";
    QTest::newRow("product beyond int") << QSize(65536, 65536) << Pairs {} << 0 << "-1 0 | | 0 | 0";
    QTest::newRow("join(0, 1): the second wins ties")
        << QSize(2, 2) << Pairs {{0, 1}} << 0 << "1 1 | 1 2 1 1 | 3 | 3";
    QTest::newRow("segment: row 0 and column 0 of a 6 x 4 grid")
        << QSize(6, 4) << Pairs {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {0, 6}, {6, 12}, {12, 18}}
        << 0 << "0 0 5 3 | 0 0 6 4 | 2.35483861 1.51612902";
    QTest::newRow("segment: diagonal, zero-area hull")
        << QSize(4, 4) << Pairs {{0, 5}, {5, 10}, {10, 15}} << 0 << "0 0 3 3 | 0 0 4 4 | nan nan";
}

void tst_ZTHistogramROI::forest()
{
    QFETCH(QSize, grid);
    QFETCH(Pairs, joins);
    QFETCH(int, cell);

    ZTDisjointSet set(grid.height(), grid.width());
    const bool segment = QString(QTest::currentDataTag()).startsWith("segment");
    for (const QPoint join : joins) {
        set.join(segment ? set.find(join.x()) : join.x(), segment ? set.find(join.y()) : join.y());
    }
    QString result;
    QTextStream out(&result);
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
    QTEST(result, "result");
}

void tst_ZTHistogramROI::geometry_data()
{
    QTest::addColumn<Points>("points");
    QTest::addColumn<QString>("result");

    // The first word of a row's name is the operation.
    QTest::newRow("hull of no points") << Points {} << "";
    QTest::newRow("hull of the corners of a 2 x 2 block of cells")
        << Points {{0, 0}, {1, 1}, {1, 0}, {2, 1}, {0, 1}, {1, 2}, {1, 1}, {2, 2}}
        << "(0,0) (1,0) (2,1) (2,2) (1,2) (0,1) (0,0)";
    QTest::newRow("hull: x before y, (1,5) sorts before (2,0) and (1,6)")
        << Points {{2, 0}, {1, 6}, {1, 5}} << "(1,5) (2,0) (1,6) (1,5)";
    QTest::newRow("centroid of a single vertex") << Points {{3, 4}} << "nan nan";
    QTest::newRow("centroid of no polygon") << Points {} << "throws std::out_of_range";
    // Summing the moments in double, or multiplying in float, gives other last bits.
    QTest::newRow("centroid: moments rounded to float after every edge, the closing one too")
        << Points {{181, 170}, {277, 35}, {206, 229}, {126, 263}} << "202.14267 173.643295";
    QTest::newRow("cross wraps at 2^31")
        << Points {{0, 0}, {65536, 0}, {0, 32768}} << "-2147483648";
}

void tst_ZTHistogramROI::geometry()
{
    QFETCH(Points, points);

    ZTDisjointSet set(0, 0);
    const QString operation = QString(QTest::currentDataTag())
                                  .section(QRegularExpression(QStringLiteral("[ :]")), 0, 0);
    QString result;
    if (operation == "hull") {
        result = text(set.convex_hull(points));
    } else if (operation == "cross") {
        result = QString::number(set.cross(points[0], points[1], points[2]));
    } else if (points.empty()) {
        QVERIFY_EXCEPTION_THROWN(set.calculateCentroid(nullptr), std::out_of_range);
        QVERIFY_EXCEPTION_THROWN(set.calculateCentroid(&points), std::out_of_range);
        result = "throws std::out_of_range";
    } else {
        const Points before = points;
        result = text(set.calculateCentroid(&points));
        QVERIFY(points == before);
    }
    QTEST(result, "result");
}

QTEST_GUILESS_MAIN(tst_ZTHistogramROI)
#include "tst_ZTHistogramROI.moc"
