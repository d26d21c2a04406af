// The post-analysis of a salience map: ZTSalienzClusterer's cube map, and the best window along
// either axis that ZTSalienzMaximizerHorizontal and ZTSalienzMaximizerVertical find.

#include "ZTImageTestSupport.h"
#include "ZTSalienzClusterer.h"
#include "ZTSalienzMaximizerHorizontal.h"
#include "ZTSalienzMaximizerVertical.h"

#include <QPainter>
#include <QtTest>

#include <limits>

namespace {

using Probes = QVector<QPair<QPoint, int>>; // a pixel of the result and its value
using Sums = QList<qint64>;

// A map of @p value in @p area, 0 elsewhere; green and blue carry noise that must be ignored.
QImage uniform(const QSize& size, int value, const QRect& area = QRect(0, 0, 9999, 9999))
{
    QImage map(size, QImage::Format_RGB32);
    for (int i = 0; i < size.width() * size.height(); ++i) {
        const int x = i % size.width(), y = i / size.width();
        map.setPixel(x, y, qRgb(area.contains(x, y) ? value : 0, x * 7, y * 3));
    }
    return map;
}

// cluster() as described, pixel by pixel; counts below 1 act as 1 and cubes have pixels.
QImage naiveCluster(const QImage& map, int countH, int countV)
{
    const quint64 columns = quint64(std::max(countV, 1)), rows = quint64(std::max(countH, 1));
    quint64 total = 0;
    for (int i = 0; i < map.width() * map.height(); ++i) {
        total += quint64(qRed(map.pixel(i % map.width(), i / map.width())));
    }
    QImage result(map.size(), QImage::Format_ARGB32);
    result.fill(Qt::black);
    const quint64 expected = total / columns / rows;
    const double mean = expected ? double(total / quint64(map.width()) / quint64(map.height())) : 0;
    const QSize size(
        std::max(map.width() / int(columns), 1), std::max(map.height() / int(rows), 1));
    QPainter painter(&result);
    for (int y0 = 0; expected && y0 < map.height(); y0 += size.height()) {
        for (int x0 = 0; x0 < map.width(); x0 += size.width()) {
            const QRect cube = QRect(QPoint(x0, y0), size) & map.rect();
            quint64 sum = 0;
            double excess = 0.0, count = 0.0;
            for (int i = 0; i < cube.width() * cube.height(); ++i) {
                const int v = qRed(map.pixel(x0 + i % cube.width(), y0 + i / cube.width()));
                sum += quint64(v);
                excess += v > mean ? v - mean : 0.0;
                count += v > mean ? 1.0 : 0.0;
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

class tst_ZTSalienzPostAnalysis : public QObject
{
    Q_OBJECT

private slots:
    void countsCubeSizeAndTotal();
    void cluster_data();
    void cluster();
    void bestRange_data();
    void bestRange();
    void sums();
};

// 3000 x 3000 white pixels hold 2 295 000 000, beyond INT_MAX: totalSalience() saturates, but
// cluster() keeps the true total and gives every cube its fair share, 128.
void tst_ZTSalienzPostAnalysis::countsCubeSizeAndTotal()
{
    ZTSalienzClusterer clusterer;
    QVector<QSize> sizes {clusterer.countCubes(), clusterer.cubeSize(QSize(200, 100))};
    clusterer.setCountCubesH(4);
    clusterer.setCountCubesV(-3);
    sizes << clusterer.countCubes() << clusterer.cubeSize(QSize(200, 100));
    QCOMPARE(sizes, QVector<QSize>({QSize(10, 10), QSize(10, 20), QSize(4, -3), QSize(100, 50)}));
    const QRgb oneToFour[] {qRgb(1, 9, 9), qRgb(2, 9, 9), qRgb(3, 9, 9), qRgb(4, 9, 9)};
    QImage white(3000, 3000, QImage::Format_RGB32);
    white.fill(Qt::white);
    QCOMPARE(QVector<int>({clusterer.totalSalience(QImage(reinterpret_cast<const uchar*>(oneToFour),
                               2, 2, QImage::Format_RGB32)),
                 clusterer.totalSalience(QImage()), clusterer.totalSalience(white)}),
        QVector<int>({10, 0, std::numeric_limits<int>::max()}));
    QVERIFY(clusterer.cluster(QImage()).isNull());
    QImage fairShare(white.size(), QImage::Format_ARGB32);
    fairShare.fill(qRgb(128, 128, 128));
    QCOMPARE(ZTSalienzClusterer().cluster(white), fairShare);
}

// Every cube map is compared with the naive reference as a whole, and at the probes with the
// values that the row states.
void tst_ZTSalienzPostAnalysis::cluster_data()
{
    QTest::addColumn<QImage>("map");
    QTest::addColumn<QSize>("counts"); // countCubesH, countCubesV
    QTest::addColumn<Probes>("probes");

    const QSize tens(10, 10);
    QTest::newRow("uniform 100x100: the fair share")
        << uniform(QSize(100, 100), 100) << tens << Probes {{{55, 55}, 128}};
    QTest::newRow("105x100: 5-pixel edge column")
        << uniform(QSize(105, 100), 100) << tens << Probes {{{99, 99}, 121}, {{100, 0}, 60}};
    QTest::newRow("white square: a boosted cube") << uniform(QSize(100, 100), 255,
        QRect(0, 0, 10, 10)) << tens << Probes {{{9, 9}, 255}, {{10, 0}, 0}};
    // Mean 20, three cubes of 4: the first one's excess of 80 > 40 boosts it (80 * 120 * 128 /
    // 80), which the pixel at the mean would prevent if it counted as excess; the others' excess
    // of 40 is not more than twice the mean, so their 60 * 128 / 80 stay unboosted.
    QImage atMean = uniform(QSize(12, 1), 20, QRect(0, 0, 1, 1));
    atMean.setPixelColor(1, 0, QColor(100, 0, 0));
    atMean.setPixelColor(4, 0, QColor(60, 0, 0));
    atMean.setPixelColor(11, 0, QColor(60, 0, 0));
    QTest::newRow("pixels at the mean are no excess, excess at twice the mean no boost")
        << atMean << QSize(1, 3) << Probes {{{0, 0}, 255}, {{4, 0}, 96}};
    QTest::newRow("total 99 below 100 cubes: black")
        << uniform(QSize(100, 100), 1, QRect(0, 0, 99, 1)) << tens << Probes {{{0, 0}, 0}};
    // 32-bit arithmetic would wrap the boosted sum times 128 and score 63.
    QTest::newRow("boosted sum beyond 32 bits saturates") << uniform(QSize(50, 50), 255,
        QRect(0, 0, 27, 27)) << QSize(1, 1) << Probes {{{49, 49}, 255}};
    // Random levels with sparse bright spots: cubes over the whole range, some boosted. Counts
    // that differ on the two axes, so that swapping them shows; counts below 1, which act as 1;
    // a map smaller than the grid, with one-pixel cubes; an 8-bit grey map.
    std::mt19937 random(7);
    for (const QRect& row : {QRect(64, 48, 10, 10), QRect(61, 37, 7, 3), QRect(37, 61, 3, 7),
             QRect(13, 7, 0, -3), QRect(5, 3, 10, 10), QRect(50, 1, 1, 8)}) {
        QTest::addRow("random %dx%d, counts %d, %d", row.x(), row.y(), row.width(), row.height())
            << ZTImageTest::randomPicture(QSize(row.x(), row.y()),
                   row.x() == 50 ? QImage::Format_Grayscale8 : QImage::Format_RGB32, random,
                   {0, 0, 0, 25, 25, 50, 50, 90, 255})
            << row.size() << Probes {};
    }
}

void tst_ZTSalienzPostAnalysis::cluster()
{
    QFETCH(QImage, map);
    QFETCH(QSize, counts);
    QFETCH(Probes, probes);

    ZTSalienzClusterer clusterer;
    clusterer.setCountCubesH(counts.width());
    clusterer.setCountCubesV(counts.height());
    const QImage result = clusterer.cluster(map);
    for (const auto& probe : probes) {
        QCOMPARE(qRed(result.pixel(probe.first)), probe.second);
    }
    QCOMPARE(result, naiveCluster(map, counts.width(), counts.height()));
}

// Rows give the values per position; conglumerate turns them into running sums first.
void tst_ZTSalienzPostAnalysis::bestRange_data()
{
    QTest::addColumn<Sums>("values");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("start");

    QTest::newRow("0 5 5 0 0 0, L 2") << Sums {0, 5, 5, 0, 0, 0} << 2 << 1;
    QTest::newRow("window at 0 is no candidate") << Sums {9, 9, 0, 0, 0} << 2 << 1;
    QTest::newRow("window flush right is no candidate") << Sums {0, 0, 0, 7, 7} << 2 << 2;
    QTest::newRow("earliest of equal windows wins") << Sums {0, 3, 3, 0, 3, 3, 0} << 2 << 1;
    QTest::newRow("later larger window wins") << Sums {0, 3, 3, 0, 4, 3, 0} << 2 << 4;
    QTest::newRow("all sums 0") << Sums {0, 0, 0, 0, 0, 0} << 2 << -1;
    QTest::newRow("four entries, L 4") << Sums {1, 2, 3, 4} << 4 << -1;
    QTest::newRow("four entries, L 5") << Sums {1, 2, 3, 4} << 5 << 0;
    QTest::newRow("three entries, L 2") << Sums {1, 2, 3} << 2 << -1;
    QTest::newRow("length 0") << Sums {1, 2, 3, 4} << 0 << -1;
    QTest::newRow("empty axis") << Sums {} << 1 << 0;
    QTest::newRow("negative length") << Sums {1, 2, 3, 4} << -1 << -1;
    QTest::newRow("running sums beyond 64 bits")
        << Sums {std::numeric_limits<qint64>::max(), 3, 7, 0} << 1 << 2;
}

void tst_ZTSalienzPostAnalysis::bestRange()
{
    QFETCH(Sums, values);
    QFETCH(int, length);
    const ZTSalienzMaximizerVertical maximizer(SalienzPixelWeightLinear);
    QCOMPARE(maximizer.conglumerate({1, 2, 3}), (Sums {1, 3, 6}));
    QTEST(maximizer.bestRange(maximizer.conglumerate(values), length), "start");
}

// Column (horizontal) and row (vertical) sums against their definition, and the starts that the
// sums give, for every weight method (all but the threshold's value 1 mean linear), on random
// maps of both formats, a map of values up to 153 that the threshold leaves without a window (-1),
// and a null map.
void tst_ZTSalienzPostAnalysis::sums()
{
    std::mt19937 random(17);
    const auto picture = [&random](int w, int h, QImage::Format format = QImage::Format_ARGB32,
                             const std::vector<int>& reds = ZTImageTest::allReds()) {
        return ZTImageTest::randomPicture(QSize(w, h), format, random, reds);
    };
    const QImage dim = picture(8, 5, QImage::Format_ARGB32, {0, 100, 153});
    QCOMPARE(ZTSalienzMaximizerVertical(SalienzPixelWeightThreshold).startOfBestRange(dim, 2), -1);
    for (const QImage& map : {picture(1, 1), picture(1, 40), picture(40, 1), picture(37, 23),
             picture(9, 7, QImage::Format_Grayscale8), dim, QImage()}) {
        for (const int method : {0, 1, 2, -1}) {
            const auto weight = static_cast<ZTSalienzPixelWeightMethod>(method);
            const ZTSalienzMaximizerHorizontal horizontal(weight);
            const ZTSalienzMaximizerVertical vertical(weight);
            QVector<qint64> columns(map.width()), rows(map.height());
            for (int y = 0; y < map.height(); ++y) {
                for (int x = 0; x < map.width(); ++x) {
                    const int v = qRed(map.pixel(x, y));
                    QCOMPARE(horizontal.pixelFunction(v), method == 1 && v <= 153 ? 0 : v);
                    QCOMPARE(vertical.pixelFunction(v), horizontal.pixelFunction(v));
                    columns[x] += horizontal.pixelFunction(v);
                    rows[y] += horizontal.pixelFunction(v);
                }
            }
            QCOMPARE(horizontal.sums(map).toVector(), columns);
            QCOMPARE(vertical.sums(map).toVector(), rows);
            QCOMPARE(horizontal.startOfBestRange(map, 3),
                horizontal.bestRange(horizontal.conglumerate(columns.toList()), 3));
            QCOMPARE(vertical.startOfBestRange(map, 3),
                vertical.bestRange(vertical.conglumerate(rows.toList()), 3));
        }
    }
}

QTEST_GUILESS_MAIN(tst_ZTSalienzPostAnalysis)
#include "tst_ZTSalienzPostAnalysis.moc"
