#include "ZTSalienzClusterer.h"

#include <QPainter>
#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <limits>

namespace {

// A map whose salience at (x, y) is red(x, y); green and blue carry noise that must be ignored.
QImage makeMap(const QSize& size, const std::function<int(int, int)>& red)
{
    QImage map(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            map.setPixel(x, y, qRgb(red(x, y), x * 7, y * 3));
        }
    }
    return map;
}

QImage uniformMap(const QSize& size, int value)
{
    return makeMap(size, [value](int, int) { return value; });
}

// Patches of 7x5 pixels, each an even level with noise or sparse bright spots on black, so that
// cubes score across the whole range and some are boosted.
QImage randomMap(const QSize& size, quint32 seed)
{
    QRandomGenerator random(seed);
    QVector<int> levels((size.width() / 7 + 1) * (size.height() / 5 + 1));
    for (int& level : levels) {
        level = random.bounded(3) == 0 ? -1 : random.bounded(20, 120);
    }
    return makeMap(size, [&](int x, int y) {
        const int level = levels.at(y / 5 * (size.width() / 7 + 1) + x / 7);
        return level >= 0 ? level + random.bounded(-10, 10)
                          : (random.bounded(8) == 0 ? random.bounded(100, 256) : 0);
    });
}

// cluster() as described, cube by cube and pixel by pixel, in double where it uses doubles.
QImage naiveCluster(const QImage& map, int countH, int countV)
{
    countH = std::max(countH, 1);
    countV = std::max(countV, 1);
    const int w = map.width();
    const int h = map.height();
    quint64 total = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            total += quint64(qRed(map.pixel(x, y)));
        }
    }
    QImage result(map.size(), QImage::Format_ARGB32);
    result.fill(qRgb(0, 0, 0));
    const quint64 expected = total / quint64(countV) / quint64(countH);
    if (expected == 0) {
        return result;
    }
    const double mean = double(total / quint64(w) / quint64(h));
    const int cubeHeight = std::max(h / countH, 1);
    const int cubeWidth = std::max(w / countV, 1);
    for (int y0 = 0; y0 < h; y0 += cubeHeight) {
        for (int x0 = 0; x0 < w; x0 += cubeWidth) {
            const QRect cube = QRect(x0, y0, cubeWidth, cubeHeight) & map.rect();
            quint64 sum = 0;
            double excess = 0.0;
            double excessCount = 0.0;
            for (int y = cube.top(); y <= cube.bottom(); ++y) {
                for (int x = cube.left(); x <= cube.right(); ++x) {
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
            QPainter(&result).fillRect(cube, QColor(value, value, value));
        }
    }
    return result;
}

} // namespace

class tst_ZTSalienzClusterer : public QObject
{
    Q_OBJECT

private slots:
    void countsAndCubeSize();
    void totalSalience();
    void cluster_data();
    void cluster();
    void readsMapsOfAnyDepth();
};

void tst_ZTSalienzClusterer::countsAndCubeSize()
{
    ZTSalienzClusterer clusterer;
    QCOMPARE(clusterer.countCubes(), QSize(10, 10));
    QCOMPARE(clusterer.cubeSize(QSize(200, 100)), QSize(10, 20));
    clusterer.setCountCubesH(4);
    clusterer.setCountCubesV(5);
    QCOMPARE(clusterer.countCubes(), QSize(4, 5));
    QCOMPARE(clusterer.cubeSize(QSize(200, 100)), QSize(20, 50));
    clusterer.setCountCubesV(-3);
    QCOMPARE(clusterer.countCubesV(), -3);
    QCOMPARE(clusterer.cubeSize(QSize(200, 100)), QSize(100, 50));
}

// 3000 x 3000 white pixels hold 2 295 000 000, beyond INT_MAX: totalSalience() saturates, but
// cluster() keeps the true total and gives every cube its fair share, 128.
void tst_ZTSalienzClusterer::totalSalience()
{
    ZTSalienzClusterer clusterer;
    QCOMPARE(
        clusterer.totalSalience(makeMap(QSize(2, 2), [](int x, int y) { return 1 + x + 2 * y; })),
        10);
    QCOMPARE(clusterer.totalSalience(QImage()), 0);
    QImage white(3000, 3000, QImage::Format_ARGB32);
    white.fill(Qt::white);
    QCOMPARE(clusterer.totalSalience(white), std::numeric_limits<int>::max());
    QImage fairShare(white.size(), QImage::Format_ARGB32);
    fairShare.fill(qRgb(128, 128, 128));
    QCOMPARE(clusterer.cluster(white), fairShare);
}

// Every result is compared with the naive reference as a whole, and at one pixel with the value
// that the row states.
void tst_ZTSalienzClusterer::cluster_data()
{
    QTest::addColumn<QImage>("map");
    QTest::addColumn<QSize>("counts"); // countCubesH, countCubesV
    QTest::addColumn<QPoint>("position");
    QTest::addColumn<int>("value");

    const QSize defaults(10, 10);
    const QImage square
        = makeMap(QSize(100, 100), [](int x, int y) { return x < 10 && y < 10 ? 255 : 0; });
    QTest::newRow("uniform 100x100: fair share")
        << uniformMap(QSize(100, 100), 100) << defaults << QPoint(55, 55) << 128;
    QTest::newRow("105x100: full cube")
        << uniformMap(QSize(105, 100), 100) << defaults << QPoint(99, 99) << 121;
    QTest::newRow("105x100: 5-pixel edge cube")
        << uniformMap(QSize(105, 100), 100) << defaults << QPoint(100, 0) << 60;
    QTest::newRow("white square: boosted cube") << square << defaults << QPoint(9, 9) << 255;
    QTest::newRow("white square: other cubes") << square << defaults << QPoint(10, 0) << 0;
    // Cubes 25 wide and 10 high; with the counts on the other axes (50 x 5) this pixel would
    // share a boosted cube with the white columns.
    QTest::newRow("counts swap axes: 4 columns of 25")
        << makeMap(QSize(100, 20), [](int x, int) { return x < 10 ? 255 : 0; }) << QSize(2, 4)
        << QPoint(25, 0) << 0;
    // Mean 20: the left cube's excess of 80 > 40 boosts it (80 * 120 * 128 / 80), which the
    // pixel at the mean would prevent if it counted as excess.
    QTest::newRow("pixels at the mean are no excess") << makeMap(QSize(8, 1), [](int x, int) {
        return QVector<int> {20, 100, 0, 0, 0, 0, 0, 40}.at(x);
    }) << QSize(1, 2) << QPoint(0, 0) << 255;
    QTest::newRow("all black: expectation 0 gives black")
        << uniformMap(QSize(30, 20), 0) << defaults << QPoint(29, 19) << 0;
    QTest::newRow("total 99 below 100 cubes gives black")
        << makeMap(QSize(100, 100), [](int x, int y) { return y == 0 && x < 99 ? 1 : 0; })
        << defaults << QPoint(0, 0) << 0;
    QTest::newRow("counts below 1 act as 1")
        << uniformMap(QSize(13, 7), 50) << QSize(0, -3) << QPoint(12, 6) << 128;
    QTest::newRow("map smaller than the grid: one-pixel cubes")
        << uniformMap(QSize(5, 3), 200) << defaults << QPoint(4, 2) << 255;
    // 32-bit arithmetic would wrap the boosted sum times 128 and score 63.
    QTest::newRow("boosted sum beyond 32 bits saturates")
        << makeMap(QSize(50, 50), [](int x, int y) { return x < 27 && y < 27 ? 255 : 0; })
        << QSize(1, 1) << QPoint(49, 49) << 255;
    const QSize randomCounts[] = {{10, 10}, {7, 3}, {3, 7}, {1, 1}, {9, 12}, {10, 10}, {1, 8}};
    const QSize randomSizes[] = {{64, 48}, {61, 37}, {37, 61}, {40, 30}, {12, 9}, {6, 4}, {50, 1}};
    for (int i = 0; i < 7; ++i) {
        const QImage map = randomMap(randomSizes[i], quint32(i + 1));
        QTest::addRow("random %dx%d", map.width(), map.height())
            << map << randomCounts[i] << QPoint(0, 0)
            << qRed(naiveCluster(map, randomCounts[i].width(), randomCounts[i].height())
                        .pixel(0, 0));
    }
}

void tst_ZTSalienzClusterer::cluster()
{
    QFETCH(QImage, map);
    QFETCH(QSize, counts);
    QFETCH(QPoint, position);
    QFETCH(int, value);

    ZTSalienzClusterer clusterer;
    clusterer.setCountCubesH(counts.width());
    clusterer.setCountCubesV(counts.height());
    const QImage result = clusterer.cluster(map);
    QCOMPARE(result.format(), QImage::Format_ARGB32);
    QCOMPARE(result.pixel(position), qRgb(value, value, value));
    QCOMPARE(result, naiveCluster(map, counts.width(), counts.height()));
}

void tst_ZTSalienzClusterer::readsMapsOfAnyDepth()
{
    const QImage map = randomMap(QSize(45, 33), 7);
    QImage grey(map.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < map.height(); ++y) {
        for (int x = 0; x < map.width(); ++x) {
            grey.scanLine(y)[x] = uchar(qRed(map.pixel(x, y)));
        }
    }
    ZTSalienzClusterer clusterer;
    QCOMPARE(clusterer.cluster(grey), clusterer.cluster(map));
    QVERIFY(clusterer.cluster(QImage()).isNull());
}

QTEST_GUILESS_MAIN(tst_ZTSalienzClusterer)
#include "tst_ZTSalienzClusterer.moc"
