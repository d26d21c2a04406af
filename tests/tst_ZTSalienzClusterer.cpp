#include "ZTSalienzClusterer.h"

#include <QPainter>
#include <QtTest>

#include <functional>
#include <limits>
#include <random>

namespace {

using Probes = QVector<QPoint>;
using Values = QVector<int>;

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

// A map of @p value in @p area (the whole map if null), 0 elsewhere.
QImage uniform(const QSize& size, int value, const QRect& area = QRect())
{
    return makeMap(
        size, [=](int x, int y) { return area.isNull() || area.contains(x, y) ? value : 0; });
}

// cluster() as described, pixel by pixel; counts below 1 act as 1 and cubes have pixels.
QImage naiveCluster(const QImage& map, int countH, int countV)
{
    const int columns = std::max(countV, 1);
    const int rows = std::max(countH, 1);
    const auto red = [&map](const QRect& cube, int i) {
        return qRed(map.pixel(cube.x() + i % cube.width(), cube.y() + i / cube.width()));
    };
    quint64 total = 0;
    for (int i = 0; i < map.width() * map.height(); ++i) {
        total += quint64(red(map.rect(), i));
    }
    QImage result(map.size(), QImage::Format_ARGB32);
    result.fill(Qt::black);
    const quint64 expected = total / quint64(columns) / quint64(rows);
    const double mean = expected ? double(total / quint64(map.width()) / quint64(map.height())) : 0;
    const QSize size(std::max(map.width() / columns, 1), std::max(map.height() / rows, 1));
    QPainter painter(&result);
    for (int y0 = 0; expected && y0 < map.height(); y0 += size.height()) {
        for (int x0 = 0; x0 < map.width(); x0 += size.width()) {
            const QRect cube = QRect(QPoint(x0, y0), size) & map.rect();
            quint64 sum = 0;
            double excess = 0.0;
            double count = 0.0;
            for (int i = 0; i < cube.width() * cube.height(); ++i) {
                sum += quint64(red(cube, i));
                excess += red(cube, i) > mean ? red(cube, i) - mean : 0.0;
                count += red(cube, i) > mean ? 1.0 : 0.0;
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
    const QImage oneToFour = makeMap(QSize(2, 2), [](int x, int y) { return 1 + x + 2 * y; });
    QCOMPARE(QVector<int>({clusterer.totalSalience(oneToFour), clusterer.totalSalience(QImage())}),
        QVector<int>({10, 0}));
    QVERIFY(clusterer.cluster(QImage()).isNull());
    const QImage white = uniform(QSize(3000, 3000), 255);
    QCOMPARE(clusterer.totalSalience(white), std::numeric_limits<int>::max());
    QImage fairShare(white.size(), QImage::Format_ARGB32);
    fairShare.fill(qRgb(128, 128, 128));
    QCOMPARE(ZTSalienzClusterer().cluster(white), fairShare);
}

// Every result is compared with the naive reference as a whole, and at the probes with the
// values that the row states.
void tst_ZTSalienzClusterer::cluster_data()
{
    QTest::addColumn<QImage>("map");
    QTest::addColumn<QSize>("counts"); // countCubesH, countCubesV
    QTest::addColumn<Probes>("probes");
    QTest::addColumn<Values>("values");

    const QSize tens(10, 10);
    QTest::newRow("uniform 100x100: the fair share")
        << uniform(QSize(100, 100), 100) << tens << Probes {{55, 55}} << Values {128};
    QTest::newRow("105x100: 5-pixel edge column")
        << uniform(QSize(105, 100), 100) << tens << Probes {{99, 99}, {100, 0}} << Values {121, 60};
    QTest::newRow("white square: a boosted cube")
        << uniform(QSize(100, 100), 255, QRect(0, 0, 10, 10)) << tens << Probes {{9, 9}, {10, 0}}
        << Values {255, 0};
    // Cubes 25 wide and 10 high; with the counts on the other axes (50 x 5) this pixel would
    // share a boosted cube with the white columns.
    QTest::newRow("counts swap axes: 4 columns of 25")
        << uniform(QSize(100, 20), 255, QRect(0, 0, 10, 20)) << QSize(2, 4) << Probes {{25, 0}}
        << Values {0};
    // Mean 20: the left cube's excess of 80 > 40 boosts it (80 * 120 * 128 / 80), which the
    // pixel at the mean would prevent if it counted as excess.
    QTest::newRow("pixels at the mean are no excess") << makeMap(QSize(8, 1), [](int x, int) {
        return Values {20, 100, 0, 0, 0, 0, 0, 40}.at(x);
    }) << QSize(1, 2) << Probes {{0, 0}} << Values {255};
    QTest::newRow("total 99 below 100 cubes: black")
        << uniform(QSize(100, 100), 1, QRect(0, 0, 99, 1)) << tens << Probes {{0, 0}} << Values {0};
    QTest::newRow("counts below 1 act as 1")
        << uniform(QSize(13, 7), 50) << QSize(0, -3) << Probes {{12, 6}} << Values {128};
    QTest::newRow("map smaller than the grid: one-pixel cubes")
        << uniform(QSize(5, 3), 200) << tens << Probes {{4, 2}} << Values {255};
    // 32-bit arithmetic would wrap the boosted sum times 128 and score 63.
    QTest::newRow("boosted sum beyond 32 bits saturates")
        << uniform(QSize(50, 50), 255, QRect(0, 0, 27, 27)) << QSize(1, 1) << Probes {{49, 49}}
        << Values {255};
    const QImage grey = makeMap(QSize(45, 33), [](int x, int y) { return x * y % 256; });
    QTest::newRow("8-bit grey map")
        << grey.convertToFormat(QImage::Format_Grayscale8) << tens << Probes {} << Values {};
    // Patterned levels with sparse bright spots: cubes over the whole range, some boosted.
    std::mt19937 random(7);
    const QSize sizes[] = {{64, 48}, {61, 37}, {37, 61}, {12, 9}, {50, 1}};
    const QSize counts[] = {{10, 10}, {7, 3}, {3, 7}, {9, 12}, {1, 8}};
    const auto spots = [&random](int x, int y) {
        return random() % 6 == 0 ? int(random() % 256) : (x / 7 + y / 5) % 3 * 25;
    };
    for (int i = 0; i < 5; ++i) {
        QTest::addRow("random %dx%d", sizes[i].width(), sizes[i].height())
            << makeMap(sizes[i], spots) << counts[i] << Probes {} << Values {};
    }
}

void tst_ZTSalienzClusterer::cluster()
{
    QFETCH(QImage, map);
    QFETCH(QSize, counts);
    QFETCH(Probes, probes);

    ZTSalienzClusterer clusterer;
    clusterer.setCountCubesH(counts.width());
    clusterer.setCountCubesV(counts.height());
    const QImage result = clusterer.cluster(map);
    Values values;
    for (const QPoint probe : probes) {
        values << qRed(result.pixel(probe));
    }
    QTEST(values, "values");
    QCOMPARE(result, naiveCluster(map, counts.width(), counts.height()));
}

QTEST_GUILESS_MAIN(tst_ZTSalienzClusterer)
#include "tst_ZTSalienzClusterer.moc"
