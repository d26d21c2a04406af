#include "ZTSalienzClusterer.h"

#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <vector>

namespace {

QImage uniformMap(const QSize& size, int value)
{
    QImage map(size, QImage::Format_ARGB32);
    map.fill(qRgb(value, value, value));
    return map;
}

// A map of one row with the given red values.
QImage rowMap(const QList<int>& values)
{
    QImage map(values.size(), 1, QImage::Format_ARGB32);
    for (int x = 0; x < values.size(); ++x) {
        map.setPixel(x, 0, qRgb(values.at(x), values.at(x), values.at(x)));
    }
    return map;
}

// A black map with a white square of side @p side in its top-left corner.
QImage whiteSquareMap(const QSize& size, int side)
{
    QImage map = uniformMap(size, 0);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            map.setPixel(x, y, qRgb(255, 255, 255));
        }
    }
    return map;
}

// Patches of 7x5 pixels, each either an even level with a little noise or sparse bright
// spots on black, so that cubes score across the whole range and some of them are boosted.
// Green and blue carry noise that a reader of the red component must ignore.
QImage randomMap(const QSize& size, quint32 seed)
{
    QRandomGenerator random(seed);
    const int patchColumns = size.width() / 7 + 1;
    std::vector<int> levels(size_t(patchColumns * (size.height() / 5 + 1)));
    for (int& level : levels) {
        level = random.bounded(3) == 0 ? -1 : random.bounded(20, 120);
    }
    QImage map(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const int level = levels[size_t(y / 5 * patchColumns + x / 7)];
            const int red = level >= 0   ? level + random.bounded(-10, 10)
                : random.bounded(8) == 0 ? random.bounded(100, 256)
                                         : 0;
            map.setPixel(x, y, qRgb(red, random.bounded(256), random.bounded(256)));
        }
    }
    return map;
}

// cluster() pixel by pixel, cube by cube, in floating point where the algorithm uses it.
QImage naiveCluster(const QImage& map, int countH, int countV)
{
    countH = std::max(countH, 1);
    countV = std::max(countV, 1);
    const int w = map.width();
    const int h = map.height();
    QImage result(map.size(), QImage::Format_ARGB32);
    quint64 total = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            total += quint64(qRed(map.pixel(x, y)));
        }
    }
    const quint64 expected = total / quint64(countV) / quint64(countH);
    if (expected == 0) {
        result.fill(qRgb(0, 0, 0));
        return result;
    }
    const double mean = double(total / quint64(w) / quint64(h));
    const int cubeHeight = std::max(h / countH, 1);
    const int cubeWidth = std::max(w / countV, 1);
    for (int y0 = 0; y0 < h; y0 += cubeHeight) {
        for (int x0 = 0; x0 < w; x0 += cubeWidth) {
            const int x1 = std::min(x0 + cubeWidth, w);
            const int y1 = std::min(y0 + cubeHeight, h);
            quint64 sum = 0;
            double excess = 0.0;
            double excessCount = 0.0;
            for (int y = y0; y < y1; ++y) {
                for (int x = x0; x < x1; ++x) {
                    const int v = qRed(map.pixel(x, y));
                    sum += quint64(v);
                    if (v > mean) {
                        excess += v - mean;
                        excessCount += 1.0;
                    }
                }
            }
            if (excessCount != 0.0 && excess / excessCount > 2.0 * mean) {
                sum = quint64((excess / excessCount) * double(sum));
            }
            const int value = int(std::min<quint64>(sum * 128 / expected, 255));
            for (int y = y0; y < y1; ++y) {
                for (int x = x0; x < x1; ++x) {
                    result.setPixel(x, y, qRgb(value, value, value));
                }
            }
        }
    }
    return result;
}

void compareMaps(const QImage& actual, const QImage& expected, const char* name)
{
    if (actual != expected) {
        const QString base = QDir::temp().filePath(QString("tst_ZTSalienzClusterer-") + name);
        actual.save(base + "-actual.png");
        expected.save(base + "-expected.png");
    }
    QCOMPARE(actual, expected);
}

} // namespace

class tst_ZTSalienzClusterer : public QObject
{
    Q_OBJECT

private slots:
    void countsAndCubeSize();
    void totalSalience_data();
    void totalSalience();
    void knownMaps_data();
    void knownMaps();
    void matchesNaiveReference_data();
    void matchesNaiveReference();
    void readsMapsOfAnyDepth();
    void nullMapGivesNullImage();
    void totalBeyondIntRangeKeepsTrueExpectation();
};

void tst_ZTSalienzClusterer::countsAndCubeSize()
{
    ZTSalienzClusterer clusterer;
    QCOMPARE(clusterer.countCubes(), QSize(10, 10));
    QCOMPARE(clusterer.cubeSize(QSize(200, 100)), QSize(10, 20));

    clusterer.setCountCubesH(4);
    clusterer.setCountCubesV(5);
    QCOMPARE(clusterer.countCubesH(), 4);
    QCOMPARE(clusterer.countCubesV(), 5);
    QCOMPARE(clusterer.countCubes(), QSize(4, 5));
    // Width from the height and countCubesV, height from the width and countCubesH.
    QCOMPARE(clusterer.cubeSize(QSize(200, 100)), QSize(20, 50));

    clusterer.setCountCubesH(0);
    clusterer.setCountCubesV(-3);
    QCOMPARE(clusterer.countCubes(), QSize(0, -3));
    QCOMPARE(clusterer.cubeSize(QSize(200, 100)), QSize(100, 200));
}

void tst_ZTSalienzClusterer::totalSalience_data()
{
    QTest::addColumn<QImage>("map");
    QTest::addColumn<int>("total");

    QImage fourValues(2, 2, QImage::Format_ARGB32);
    fourValues.setPixel(0, 0, qRgb(1, 1, 1));
    fourValues.setPixel(1, 0, qRgb(2, 2, 2));
    fourValues.setPixel(0, 1, qRgb(3, 3, 3));
    fourValues.setPixel(1, 1, qRgb(4, 4, 4));
    QTest::newRow("red values 1, 2, 3, 4") << fourValues << 10;

    QImage redOnly(3, 1, QImage::Format_ARGB32);
    redOnly.fill(qRgba(7, 255, 255, 0));
    QTest::newRow("green, blue and alpha are ignored") << redOnly << 21;
    QTest::newRow("null map") << QImage() << 0;
    QTest::newRow("8-bit map")
        << uniformMap(QSize(5, 3), 9).convertToFormat(QImage::Format_Grayscale8) << 135;
}

void tst_ZTSalienzClusterer::totalSalience()
{
    QFETCH(QImage, map);
    QFETCH(int, total);
    QCOMPARE(ZTSalienzClusterer().totalSalience(map), total);
}

void tst_ZTSalienzClusterer::knownMaps_data()
{
    QTest::addColumn<QImage>("map");
    QTest::addColumn<QSize>("counts"); // countCubesH, countCubesV
    QTest::addColumn<QRect>("area");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("elsewhere"); // every pixel outside area

    const QSize defaults(10, 10);
    QTest::newRow("uniform 100x100 scores its fair share")
        << uniformMap(QSize(100, 100), 100) << defaults << QRect(0, 0, 100, 100) << 128 << -1;
    QTest::newRow("105 wide: full cubes")
        << uniformMap(QSize(105, 100), 100) << defaults << QRect(0, 0, 100, 100) << 121 << 60;
    QTest::newRow("105 wide: 5-pixel edge column")
        << uniformMap(QSize(105, 100), 100) << defaults << QRect(100, 0, 5, 100) << 60 << 121;
    QTest::newRow("white square is boosted, the rest is 0")
        << whiteSquareMap(QSize(100, 100), 10) << defaults << QRect(0, 0, 10, 10) << 255 << 0;
    QTest::newRow("counts swap axes: 4 columns of 25, 2 rows of 10")
        << whiteSquareMap(QSize(100, 20), 10) << QSize(2, 4) << QRect(0, 0, 25, 10) << 255 << 0;
    QTest::newRow("all black: expectation 0 gives black")
        << uniformMap(QSize(30, 20), 0) << defaults << QRect(0, 0, 30, 20) << 0 << -1;
    QImage total99 = uniformMap(QSize(100, 100), 0);
    for (int x = 0; x < 99; ++x) {
        total99.setPixel(x, 0, qRgb(1, 1, 1));
    }
    QTest::newRow("total 99 below 100 cubes gives black")
        << total99 << defaults << QRect(0, 0, 100, 100) << 0 << -1;
    // Mean 20: the left cube's one pixel above it has an excess of 80 > 40 and is boosted
    // (80 * 120 * 128 / 80), which a pixel at the mean, counted as excess, would prevent.
    QTest::newRow("pixels at the mean are no excess")
        << rowMap({20, 100, 0, 0, 0, 0, 0, 40}) << QSize(1, 2) << QRect(0, 0, 4, 1) << 255 << 64;
    QTest::newRow("counts below 1 act as 1")
        << uniformMap(QSize(13, 7), 50) << QSize(0, -3) << QRect(0, 0, 13, 7) << 128 << -1;
    QTest::newRow("map smaller than the grid: one-pixel cubes")
        << uniformMap(QSize(5, 3), 200) << defaults << QRect(0, 0, 5, 3) << 255 << -1;
    // 32-bit arithmetic would wrap the boosted sum times 128 and score 63.
    QTest::newRow("boosted sum beyond 32 bits saturates")
        << whiteSquareMap(QSize(50, 50), 27) << QSize(1, 1) << QRect(0, 0, 50, 50) << 255 << -1;
}

void tst_ZTSalienzClusterer::knownMaps()
{
    QFETCH(QImage, map);
    QFETCH(QSize, counts);
    QFETCH(QRect, area);
    QFETCH(int, value);
    QFETCH(int, elsewhere);

    ZTSalienzClusterer clusterer;
    clusterer.setCountCubesH(counts.width());
    clusterer.setCountCubesV(counts.height());
    const QImage result = clusterer.cluster(map);
    QCOMPARE(result.size(), map.size());
    QCOMPARE(result.format(), QImage::Format_ARGB32);
    for (int y = 0; y < result.height(); ++y) {
        for (int x = 0; x < result.width(); ++x) {
            const int expected = area.contains(x, y) ? value : elsewhere;
            if (expected >= 0 && result.pixel(x, y) != qRgb(expected, expected, expected)) {
                QFAIL(qPrintable(QString("pixel (%1, %2) is %3, expected %4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(result.pixel(x, y), 8, 16)
                                     .arg(expected)));
            }
        }
    }
}

void tst_ZTSalienzClusterer::matchesNaiveReference_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("countH");
    QTest::addColumn<int>("countV");

    QTest::newRow("64x48 default grid") << QSize(64, 48) << 10 << 10;
    QTest::newRow("100x100 default grid") << QSize(100, 100) << 10 << 10;
    QTest::newRow("61x37, 7 rows, 3 columns") << QSize(61, 37) << 7 << 3;
    QTest::newRow("37x61, 3 rows, 7 columns") << QSize(37, 61) << 3 << 7;
    QTest::newRow("one cube") << QSize(40, 30) << 1 << 1;
    QTest::newRow("one-pixel cubes") << QSize(12, 9) << 9 << 12;
    QTest::newRow("grid larger than the map") << QSize(6, 4) << 10 << 10;
    QTest::newRow("single row") << QSize(50, 1) << 1 << 8;
    QTest::newRow("single column") << QSize(1, 50) << 8 << 1;
    QTest::newRow("1x1") << QSize(1, 1) << 10 << 10;
}

void tst_ZTSalienzClusterer::matchesNaiveReference()
{
    QFETCH(QSize, size);
    QFETCH(int, countH);
    QFETCH(int, countV);

    ZTSalienzClusterer clusterer;
    clusterer.setCountCubesH(countH);
    clusterer.setCountCubesV(countV);
    for (quint32 seed = 1; seed <= 4; ++seed) {
        const QImage map = randomMap(size, seed);
        compareMaps(
            clusterer.cluster(map), naiveCluster(map, countH, countV), QTest::currentDataTag());
    }
}

void tst_ZTSalienzClusterer::readsMapsOfAnyDepth()
{
    const QImage map = randomMap(QSize(45, 33), 7).convertToFormat(QImage::Format_Grayscale8);
    ZTSalienzClusterer clusterer;
    QCOMPARE(clusterer.cluster(map), clusterer.cluster(map.convertToFormat(QImage::Format_RGB32)));
}

void tst_ZTSalienzClusterer::nullMapGivesNullImage()
{
    QVERIFY(ZTSalienzClusterer().cluster(QImage()).isNull());
}

// 3000 x 3000 white pixels hold 2 295 000 000, beyond INT_MAX: totalSalience() saturates, but
// the cube scores still see the true total and give every cube its fair share.
void tst_ZTSalienzClusterer::totalBeyondIntRangeKeepsTrueExpectation()
{
    const QImage map = uniformMap(QSize(3000, 3000), 255);
    ZTSalienzClusterer clusterer;
    QCOMPARE(clusterer.totalSalience(map), std::numeric_limits<int>::max());
    const QImage result = clusterer.cluster(map);
    QCOMPARE(result.pixel(0, 0), qRgb(128, 128, 128));
    QCOMPARE(result, uniformMap(QSize(3000, 3000), 128));
}

QTEST_GUILESS_MAIN(tst_ZTSalienzClusterer)
#include "tst_ZTSalienzClusterer.moc"
