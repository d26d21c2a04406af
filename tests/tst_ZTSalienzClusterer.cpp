#include "ZTSalienzClusterer.h"

#include <QPainter>
#include <QtTest>

#include <functional>
#include <limits>
#include <random>

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

// cluster() as described, cube by cube and pixel by pixel; counts below 1 act as 1 and cubes
// are at least one pixel wide and high.
QImage naiveCluster(const QImage& map, int countH, int countV)
{
    countH = std::max(countH, 1);
    countV = std::max(countV, 1);
    quint64 total = 0;
    for (int y = 0; y < map.height(); ++y) {
        for (int x = 0; x < map.width(); ++x) {
            total += quint64(qRed(map.pixel(x, y)));
        }
    }
    QImage result(map.size(), QImage::Format_ARGB32);
    result.fill(Qt::black);
    const quint64 expected = total / quint64(countV) / quint64(countH);
    const double mean
        = expected ? double(total / quint64(map.width()) / quint64(map.height())) : 0.0;
    const int cubeWidth = std::max(map.width() / countV, 1);
    const int cubeHeight = std::max(map.height() / countH, 1);
    QPainter painter(&result);
    for (int y0 = 0; expected && y0 < map.height(); y0 += cubeHeight) {
        for (int x0 = 0; x0 < map.width(); x0 += cubeWidth) {
            const QRect cube = QRect(x0, y0, cubeWidth, cubeHeight) & map.rect();
            quint64 sum = 0;
            double excess = 0.0;
            double count = 0.0;
            for (int y = cube.top(); y <= cube.bottom(); ++y) {
                for (int x = cube.left(); x <= cube.right(); ++x) {
                    const int v = qRed(map.pixel(x, y));
                    sum += quint64(v);
                    excess += v > mean ? v - mean : 0.0;
                    count += v > mean ? 1.0 : 0.0;
                }
            }
            if (count != 0.0 && excess / count > 2.0 * mean) {
                sum = quint64(excess / count * double(sum));
            }
            const int value = int(std::min<quint64>(sum * 128 / expected, 255));
            painter.fillRect(cube, QColor(value, value, value));
        }
    }
    return result;
}

} // namespace

class tst_ZTSalienzClusterer : public QObject
{
    Q_OBJECT

private slots:
    void countsCubeSizeAndTotal();
    void cluster_data();
    void cluster();
};

// 3000 x 3000 white pixels hold 2 295 000 000, beyond INT_MAX: totalSalience() saturates, but
// cluster() keeps the true total and gives every cube its fair share, 128.
void tst_ZTSalienzClusterer::countsCubeSizeAndTotal()
{
    ZTSalienzClusterer clusterer;
    QCOMPARE(QVector<QSize>({clusterer.countCubes(), clusterer.cubeSize(QSize(200, 100))}),
        QVector<QSize>({QSize(10, 10), QSize(10, 20)}));
    clusterer.setCountCubesH(4);
    clusterer.setCountCubesV(-3);
    QCOMPARE(QVector<QSize>({clusterer.countCubes(), clusterer.cubeSize(QSize(200, 100))}),
        QVector<QSize>({QSize(4, -3), QSize(100, 50)}));
    QCOMPARE(
        clusterer.totalSalience(makeMap(QSize(2, 2), [](int x, int y) { return 1 + x + 2 * y; })),
        10);
    QCOMPARE(clusterer.totalSalience(QImage()), 0);
    QVERIFY(clusterer.cluster(QImage()).isNull());
    QImage white(3000, 3000, QImage::Format_ARGB32);
    white.fill(Qt::white);
    QCOMPARE(clusterer.totalSalience(white), std::numeric_limits<int>::max());
    QImage fairShare(white.size(), QImage::Format_ARGB32);
    fairShare.fill(qRgb(128, 128, 128));
    QCOMPARE(ZTSalienzClusterer().cluster(white), fairShare);
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
    const auto uniform
        = [](int width, int v) { return makeMap(QSize(width, 100), [v](int, int) { return v; }); };
    const QImage square
        = makeMap(QSize(100, 100), [](int x, int y) { return x < 10 && y < 10 ? 255 : 0; });
    QTest::newRow("uniform 100x100: fair share")
        << uniform(100, 100) << defaults << QPoint(55, 55) << 128;
    QTest::newRow("105x100: full cube") << uniform(105, 100) << defaults << QPoint(99, 99) << 121;
    QTest::newRow("105x100: 5-pixel edge cube")
        << uniform(105, 100) << defaults << QPoint(100, 0) << 60;
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
        << uniform(30, 0) << defaults << QPoint(29, 19) << 0;
    QTest::newRow("total 99 below 100 cubes gives black")
        << makeMap(QSize(100, 100), [](int x, int y) { return y == 0 && x < 99 ? 1 : 0; })
        << defaults << QPoint(0, 0) << 0;
    QTest::newRow("counts below 1 act as 1")
        << uniform(13, 50) << QSize(0, -3) << QPoint(12, 6) << 128;
    QTest::newRow("map smaller than the grid: one-pixel cubes")
        << makeMap(QSize(5, 3), [](int, int) { return 200; }) << defaults << QPoint(4, 2) << 255;
    // 32-bit arithmetic would wrap the boosted sum times 128 and score 63.
    QTest::newRow("boosted sum beyond 32 bits saturates")
        << makeMap(QSize(50, 50), [](int x, int y) { return x < 27 && y < 27 ? 255 : 0; })
        << QSize(1, 1) << QPoint(49, 49) << 255;
    // Patterned levels with sparse bright spots: cubes over the whole range, some boosted.
    std::mt19937 random(7);
    const QSize sizes[] = {{64, 48}, {61, 37}, {37, 61}, {12, 9}, {50, 1}};
    const QSize counts[] = {{10, 10}, {7, 3}, {3, 7}, {9, 12}, {1, 8}};
    for (int i = 0; i < 5; ++i) {
        const QImage map = makeMap(sizes[i], [&random](int x, int y) {
            return random() % 6 == 0 ? int(random() % 256) : (x / 7 + y / 5) % 3 * 25;
        });
        const QImage expected = naiveCluster(map, counts[i].width(), counts[i].height());
        QTest::addRow("random %dx%d", map.width(), map.height())
            << map << counts[i] << QPoint(0, 0) << qRed(expected.pixel(0, 0));
    }
    const QImage grey = makeMap(QSize(45, 33), [](int x, int y) {
        return x * y % 256;
    }).convertToFormat(QImage::Format_Grayscale8);
    QTest::newRow("8-bit grey map")
        << grey << defaults << QPoint(44, 32) << qRed(naiveCluster(grey, 10, 10).pixel(44, 32));
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
    QCOMPARE(result.pixel(position), qRgb(value, value, value));
    QCOMPARE(result, naiveCluster(map, counts.width(), counts.height()));
}

QTEST_GUILESS_MAIN(tst_ZTSalienzClusterer)
#include "tst_ZTSalienzClusterer.moc"
