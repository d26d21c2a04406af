#include "ZTImageTestSupport.h"
#include "ZTSalienzAchanta.h"
#include "ZTSalienzAchanta_p.h"

#include <QtTest>

#include <random>

namespace {

struct NaiveResult
{
    QImage raw; // the stretched map before the maximum filter
    QList<double> salience;
};

// The method as defined, step by step, through the exported list helpers.
NaiveResult naiveAchanta(ZTSalienzAchanta& method, const QImage& image)
{
    const bool words = image.format() == QImage::Format_RGB32
        || image.format() == QImage::Format_ARGB32
        || image.format() == QImage::Format_ARGB32_Premultiplied;
    const QImage source = words ? image : image.convertToFormat(QImage::Format_ARGB32);
    const int width = source.width();
    const int height = source.height();
    const int n = width * height;

    QList<double> luma = method.createZeroedList(n);
    QList<double> red = method.createZeroedList(n);
    QList<double> blue = method.createZeroedList(n);
    QList<double> salience = method.createZeroedList(n);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const QRgb p = reinterpret_cast<const QRgb*>(source.constScanLine(y))[x];
            const double r = qRed(p), g = qGreen(p), b = qBlue(p);
            const double l = (g * 0.587 + 0.299 * r) + 0.114 * b;
            luma[y * width + x] = l;
            red[y * width + x] = (r - l) * 0.713 + 128;
            blue[y * width + x] = (b - l) * 0.564 + 128;
        }
    }
    const QList<double> kernel = {1.0, 2.0, 1.0};
    QList<double> smoothLuma = method.createZeroedList(n);
    QList<double> smoothRed = method.createZeroedList(n);
    QList<double> smoothBlue = method.createZeroedList(n);
    method.gaussianSmooth(luma, width, height, kernel, smoothLuma);
    method.gaussianSmooth(red, width, height, kernel, smoothRed);
    method.gaussianSmooth(blue, width, height, kernel, smoothBlue);
    QList<QList<double>> lumaTable = method.createZeroed2dList(width, height);
    QList<QList<double>> redTable = method.createZeroed2dList(width, height);
    QList<QList<double>> blueTable = method.createZeroed2dList(width, height);
    method.integralImage(luma, width, height, lumaTable);
    method.integralImage(red, width, height, redTable);
    method.integralImage(blue, width, height, blueTable);

    for (int y = 0; y < height; ++y) {
        const int y1 = y < height - y ? 0 : qMax(2 * y - height, 0);
        const int y2 = y < height - y ? qMin(2 * y, height - 1) : height - 1;
        for (int x = 0; x < width; ++x) {
            const int x1 = x < width - x ? 0 : qMax(2 * x - width, 0);
            const int x2 = x < width - x ? qMin(2 * x, width - 1) : width - 1;
            const double area = (x2 - x1 + 1) * (y2 - y1 + 1);
            const int i = y * width + x;
            const double dl = method.integralSum(lumaTable, x1, y1, x2, y2) / area - smoothLuma[i];
            const double dr = method.integralSum(redTable, x1, y1, x2, y2) / area - smoothRed[i];
            const double db = method.integralSum(blueTable, x1, y1, x2, y2) / area - smoothBlue[i];
            salience[i] = (dl * dl + dr * dr) + db * db;
        }
    }

    double minimum = 1073741824.0;
    double maximum = 0.0;
    for (const double s : salience) {
        minimum = s < minimum ? s : minimum;
        maximum = s > maximum ? s : maximum;
    }
    const int range = int(maximum - minimum);
    QImage raw(source.size(), QImage::Format_ARGB32);
    raw.fill(0xFF000000u);
    if (range != 0) {
        for (int i = 0; i < n; ++i) {
            const int v = int(salience[i] - minimum);
            const int value = qBound(0, (v * 255) / range, 255);
            raw.setPixel(i % width, i / width, qRgb(value, value, value));
        }
    }
    return {raw, salience};
}

QImage uniform(int width, int height, QRgb colour, QImage::Format format = QImage::Format_ARGB32)
{
    QImage image(width, height, format);
    image.fill(colour);
    return image;
}

QList<int> redsOfRow(const QImage& map, int y)
{
    QList<int> reds;
    for (int x = 0; x < map.width(); ++x) {
        reds.append(qRed(map.pixel(x, y)));
    }
    return reds;
}

// The compiled variants of the row loops that this processor runs.
QList<ZTSimd::Level> levels()
{
    QList<ZTSimd::Level> result {ZTSimd::Level::Baseline};
    if (ZTSimd::available() == ZTSimd::Level::Avx2) {
        result.append(ZTSimd::Level::Avx2);
    }
    return result;
}

// Exact comparison of two lists of doubles (QCOMPARE compares doubles fuzzily).
bool sameValues(const QList<double>& actual, const QList<double>& expected)
{
    if (actual.size() != expected.size()) {
        return false;
    }
    for (int i = 0; i < actual.size(); ++i) {
        if (!(actual[i] == expected[i])) {
            qWarning("value %d: %.17g, expected %.17g", i, actual[i], expected[i]);
            return false;
        }
    }
    return true;
}

} // namespace

class tst_ZTSalienzAchanta : public QObject
{
    Q_OBJECT

private slots:
    void zeroedLists();
    void gaussianSmooth_data();
    void gaussianSmooth();
    void gaussianSmoothLeavesOutputOfBadInput_data();
    void gaussianSmoothLeavesOutputOfBadInput();
    void integralImage();
    void integralImageLeavesTooSmallTable();
    void integralSum_data();
    void integralSum();
    void surroundSpan_data();
    void surroundSpan();
    void redPixelInGrey();
    void uniformPictureGivesBlackMap_data();
    void uniformPictureGivesBlackMap();
    void matchesNaiveMap_data();
    void matchesNaiveMap();
    void nullImageGivesNullMap();
};

void tst_ZTSalienzAchanta::zeroedLists()
{
    ZTSalienzAchanta method;
    QCOMPARE(method.createZeroedList(3), QList<double>({0.0, 0.0, 0.0}));
    QVERIFY(method.createZeroedList(0).isEmpty());
    QVERIFY(method.createZeroedList(-4).isEmpty());
    QCOMPARE(method.createZeroed2dList(2, 3), QList<QList<double>>({{0, 0}, {0, 0}, {0, 0}}));
    QVERIFY(method.createZeroed2dList(2, 0).isEmpty());
    QVERIFY(method.createZeroed2dList(2, -1).isEmpty());
    QCOMPARE(method.createZeroed2dList(0, 2), QList<QList<double>>({{}, {}}));
}

void tst_ZTSalienzAchanta::gaussianSmooth_data()
{
    QTest::addColumn<QList<double>>("input");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QList<double>>("kernel");
    QTest::addColumn<QList<double>>("expected");

    const QList<double> kernel = {1.0, 2.0, 1.0};
    // Borders divide by 3, the interior by 4.
    QTest::newRow("row") << QList<double> {3, 6, 9} << 3 << 1 << kernel << QList<double> {4, 6, 8};
    QTest::newRow("column") << QList<double> {3, 6, 9} << 1 << 3 << kernel
                            << QList<double> {4, 6, 8};
    QTest::newRow("spot in a 3x3 plane") << QList<double> {0, 0, 0, 0, 12, 0, 0, 0,
        0} << 3 << 3 << kernel << QList<double> {4.0 / 3, 2, 4.0 / 3, 2, 3, 2, 4.0 / 3, 2, 4.0 / 3};
    QTest::newRow("constant plane stays constant") << QVector<double>(12, 7.5).toList() << 4 << 3
                                                   << kernel << QVector<double>(12, 7.5).toList();
    QTest::newRow("even kernel: last weight unused")
        << QList<double> {2, 4, 6} << 3 << 1 << QList<double> {1.0, 1.0} << QList<double> {2, 3, 5};
    QTest::newRow("single weight copies") << QList<double> {2, 4, 6, 8} << 2 << 2
                                          << QList<double> {5.0} << QList<double> {2, 4, 6, 8};
}

void tst_ZTSalienzAchanta::gaussianSmooth()
{
    QFETCH(QList<double>, input);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QList<double>, kernel);
    QFETCH(QList<double>, expected);
    ZTSalienzAchanta method;
    QList<double> output = method.createZeroedList(width * height);
    method.gaussianSmooth(input, width, height, kernel, output);
    QVERIFY(sameValues(output, expected));
}

void tst_ZTSalienzAchanta::gaussianSmoothLeavesOutputOfBadInput_data()
{
    QTest::addColumn<QList<double>>("input");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QList<double>>("kernel");
    QTest::newRow("empty kernel") << QList<double> {1, 2, 3, 4} << 2 << 2 << QList<double> {};
    QTest::newRow("input too short")
        << QList<double> {1, 2, 3} << 2 << 2 << QList<double> {1, 2, 1};
    QTest::newRow("plane larger than the output")
        << QVector<double>(6, 1.0).toList() << 3 << 2 << QList<double> {1, 2, 1};
    QTest::newRow("height 0") << QList<double> {1, 2, 3, 4} << 4 << 0 << QList<double> {1, 2, 1};
    QTest::newRow("negative width")
        << QList<double> {1, 2, 3, 4} << -2 << -2 << QList<double> {1, 2, 1};
}

void tst_ZTSalienzAchanta::gaussianSmoothLeavesOutputOfBadInput()
{
    QFETCH(QList<double>, input);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QList<double>, kernel);
    ZTSalienzAchanta method;
    QList<double> output = {9, 9, 9, 9};
    method.gaussianSmooth(input, width, height, kernel, output);
    QCOMPARE(output, QList<double>({9, 9, 9, 9}));
}

void tst_ZTSalienzAchanta::integralImage()
{
    ZTSalienzAchanta method;
    QList<QList<double>> table = method.createZeroed2dList(3, 2);
    method.integralImage({1, 2, 3, 4, 5, 6}, 3, 2, table);
    QCOMPARE(table, QList<QList<double>>({{1, 3, 6}, {5, 12, 21}}));
}

void tst_ZTSalienzAchanta::integralImageLeavesTooSmallTable()
{
    ZTSalienzAchanta method;
    for (const QList<QList<double>>& tooSmall :
        {QList<QList<double>> {{7, 7, 7}, {7, 7}}, QList<QList<double>> {{7, 7, 7}}}) {
        QList<QList<double>> table = tooSmall;
        method.integralImage({1, 2, 3, 4, 5, 6}, 3, 2, table);
        QCOMPARE(table, tooSmall);
    }
}

void tst_ZTSalienzAchanta::integralSum_data()
{
    QTest::addColumn<QRect>("rectangle");
    QTest::addColumn<double>("sum");
    // The plane 1, 2, 3 / 4, 5, 6.
    QTest::newRow("whole plane") << QRect(QPoint(0, 0), QPoint(2, 1)) << 21.0;
    QTest::newRow("from the top edge") << QRect(QPoint(1, 0), QPoint(2, 1)) << 16.0;
    QTest::newRow("from the left edge") << QRect(QPoint(0, 1), QPoint(2, 1)) << 15.0;
    QTest::newRow("inside") << QRect(QPoint(1, 1), QPoint(2, 1)) << 11.0;
    QTest::newRow("one pixel") << QRect(QPoint(1, 1), QPoint(1, 1)) << 5.0;
    QTest::newRow("corner pixel is its own sum") << QRect(QPoint(0, 0), QPoint(0, 0)) << 1.0;
    QTest::newRow("negative start counts from the edge")
        << QRect(QPoint(-3, -3), QPoint(0, 0)) << 1.0;
    QTest::newRow("end past the right") << QRect(QPoint(0, 0), QPoint(3, 1)) << 0.0;
    QTest::newRow("end past the bottom") << QRect(QPoint(0, 0), QPoint(2, 2)) << 0.0;
    QTest::newRow("start past the right") << QRect(QPoint(5, 1), QPoint(2, 1)) << 0.0;
    QTest::newRow("negative end") << QRect(QPoint(0, 0), QPoint(-1, 0)) << 0.0;
}

void tst_ZTSalienzAchanta::integralSum()
{
    QFETCH(QRect, rectangle);
    QFETCH(double, sum);
    ZTSalienzAchanta method;
    QList<QList<double>> table = method.createZeroed2dList(3, 2);
    method.integralImage({1, 2, 3, 4, 5, 6}, 3, 2, table);
    QCOMPARE(method.integralSum(
                 table, rectangle.left(), rectangle.top(), rectangle.right(), rectangle.bottom()),
        sum);
}

void tst_ZTSalienzAchanta::surroundSpan_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::newRow("0 of 5: itself") << 0 << 5 << 0 << 0;
    QTest::newRow("1 of 5") << 1 << 5 << 0 << 2;
    QTest::newRow("2 of 5: whole axis") << 2 << 5 << 0 << 4;
    QTest::newRow("3 of 5: one shorter on the right") << 3 << 5 << 1 << 4;
    QTest::newRow("0 of 4: itself") << 0 << 4 << 0 << 0;
    QTest::newRow("2 of 4: one shorter on the right") << 2 << 4 << 0 << 3;
    QTest::newRow("3 of 4") << 3 << 4 << 2 << 3;
    QTest::newRow("0 of 1") << 0 << 1 << 0 << 0;
    QTest::newRow("near the int limit") << 1073741823 << 2147483647 << 0 << 2147483646;
    QTest::newRow("past the int middle") << 1073741824 << 2147483647 << 1 << 2147483646;
}

void tst_ZTSalienzAchanta::surroundSpan()
{
    QFETCH(int, position);
    QFETCH(int, length);
    QFETCH(int, first);
    QFETCH(int, last);
    const ZTSymmetricSurround::Span span = ZTSymmetricSurround::span(position, length);
    QCOMPARE(span.first, first);
    QCOMPARE(span.last, last);
}

// A 5x5 grey (128, 128, 128) picture with a pixel (255, 0, 0) in the middle.
void tst_ZTSalienzAchanta::redPixelInGrey()
{
    QImage picture = uniform(5, 5, qRgb(128, 128, 128), QImage::Format_RGB32);
    picture.setPixel(2, 2, qRgb(255, 0, 0));
    ZTSalienzAchanta method;

    const NaiveResult naive = naiveAchanta(method, picture);
    const QList<QList<int>> rawRows = {
        {0, 0, 0, 0, 0}, {0, 13, 19, 2, 0}, {0, 19, 255, 32, 0}, {0, 2, 32, 0, 0}, {0, 0, 0, 0, 0}};
    for (int y = 0; y < 5; ++y) {
        QCOMPARE(redsOfRow(naive.raw, y), rawRows[y]);
    }
    QCOMPARE(qRound(naive.salience[12] * 100), 91604);
    QCOMPARE(qRound(naive.salience[13] * 100), 11684);
    QCOMPARE(qRound(naive.salience[17] * 100), 11684);
    QCOMPARE(qRound(naive.salience[11] * 100), 7068);
    QCOMPARE(qRound(naive.salience[7] * 100), 7068);

    // The centre spreads over its row and column; the rest keeps its value.
    const QImage map = method.evaluate(picture);
    QCOMPARE(map.format(), QImage::Format_ARGB32);
    const QList<QList<int>> spreadRows = {{0, 0, 255, 0, 0}, {0, 13, 255, 2, 0},
        {255, 255, 255, 255, 255}, {0, 2, 255, 0, 0}, {0, 0, 255, 0, 0}};
    for (int y = 0; y < 5; ++y) {
        QCOMPARE(redsOfRow(map, y), spreadRows[y]);
    }
}

void tst_ZTSalienzAchanta::uniformPictureGivesBlackMap_data()
{
    QTest::addColumn<QImage>("picture");
    QTest::newRow("1x1") << uniform(1, 1, qRgb(10, 200, 30));
    QTest::newRow("5x5 RGB32") << uniform(5, 5, qRgb(128, 128, 128), QImage::Format_RGB32);
    QTest::newRow("7x3 transparent") << uniform(7, 3, qRgba(255, 0, 255, 0));
    QTest::newRow("1 high") << uniform(40, 1, qRgb(1, 2, 3));
    QTest::newRow("RGB888") << uniform(6, 9, qRgb(90, 180, 45), QImage::Format_RGB888);
}

void tst_ZTSalienzAchanta::uniformPictureGivesBlackMap()
{
    QFETCH(QImage, picture);
    ZTSalienzAchanta method;
    QCOMPARE(method.evaluate(picture), uniform(picture.width(), picture.height(), qRgb(0, 0, 0)));
}

void tst_ZTSalienzAchanta::matchesNaiveMap_data()
{
    QTest::addColumn<QImage>("picture");
    std::mt19937 random(21);
    // Odd and even widths and heights from 1 up: the rows are made in two walks over the table
    // (upper and lower half), the columns in three groups (left, middle, right).
    for (const QSize size :
        {QSize(1, 1), QSize(2, 1), QSize(1, 2), QSize(2, 2), QSize(3, 3), QSize(4, 4), QSize(3, 4),
            QSize(4, 3), QSize(1, 9), QSize(9, 1), QSize(2, 3), QSize(5, 5), QSize(7, 6),
            QSize(6, 7), QSize(16, 9), QSize(33, 20), QSize(64, 48), QSize(120, 97)}) {
        QTest::addRow("RGB32 noise %dx%d", size.width(), size.height())
            << ZTImageTest::randomPicture(
                   size, QImage::Format_RGB32, random, ZTImageTest::allReds());
        QTest::addRow("blocks %dx%d", size.width(), size.height())
            << ZTImageTest::randomBlocks(size, 4, random);
    }
    QTest::newRow("premultiplied words") << ZTImageTest::randomPicture(
        QSize(21, 13), QImage::Format_ARGB32_Premultiplied, random, ZTImageTest::allReds());
    QTest::newRow("RGB888 blocks") << ZTImageTest::randomBlocks(QSize(50, 31), 5, random)
                                          .convertToFormat(QImage::Format_RGB888);
    QTest::newRow("RGBA8888 blocks") << ZTImageTest::randomBlocks(QSize(31, 50), 3, random)
                                            .convertToFormat(QImage::Format_RGBA8888);
    QTest::newRow("two colours") << ZTImageTest::randomPicture(
        QSize(40, 40), QImage::Format_ARGB32, random, {0, 255});
    QTest::newRow("uniform") << uniform(11, 8, qRgb(90, 10, 200));
}

// Whole maps and salience planes against the method written out from its list helpers and
// the filter as defined. The plane and the stretched map are checked for both compiled variants
// of the row loops.
void tst_ZTSalienzAchanta::matchesNaiveMap()
{
    QFETCH(QImage, picture);
    ZTSalienzAchanta method;
    const NaiveResult naive = naiveAchanta(method, picture);
    const QImage expected = ZTImageTest::naiveMaxFilter(naive.raw, 90, 150);
    QVERIFY(
        ZTImageTest::sameStoredPixels(method.evaluate(picture), expected, QTest::currentDataTag()));

    const QImage words = picture.depth() == 32 && picture.format() != QImage::Format_RGBA8888
        ? picture
        : picture.convertToFormat(QImage::Format_ARGB32);
    for (const ZTSimd::Level level : levels()) {
        // The stretch hides small differences, so the saliences are compared as well.
        const std::vector<double> plane = ZTSymmetricSurround::saliencePlane(words, level);
        QVERIFY(sameValues(QList<double>(plane.cbegin(), plane.cend()), naive.salience));

        QVERIFY(ZTImageTest::sameStoredPixels(ZTSymmetricSurround::stretchedSalience(words, level),
            naive.raw, QTest::currentDataTag()));
    }
}

void tst_ZTSalienzAchanta::nullImageGivesNullMap()
{
    ZTSalienzAchanta method;
    QVERIFY(method.evaluate(QImage()).isNull());
    QVERIFY(ZTSymmetricSurround::saliencePlane(QImage()).empty());
}

QTEST_GUILESS_MAIN(tst_ZTSalienzAchanta)
#include "tst_ZTSalienzAchanta.moc"
