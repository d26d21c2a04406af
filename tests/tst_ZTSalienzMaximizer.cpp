#include "ZTSalienzMaximizerHorizontal.h"
#include "ZTSalienzMaximizerVertical.h"

#include <QRandomGenerator>
#include <QtTest>

#include <limits>

namespace {

using Sums = QList<qint64>;

// A map whose salience at (x, y) is values[y][x]; green and blue differ so only red is read.
QImage mapOf(const QList<QList<int>>& values)
{
    QImage map(values.first().size(), values.size(), QImage::Format_ARGB32);
    for (int y = 0; y < map.height(); ++y) {
        for (int x = 0; x < map.width(); ++x) {
            map.setPixel(x, y, qRgba(values.at(y).at(x), 255 - x, y, 128));
        }
    }
    return map;
}

// Column (horizontal) or row (vertical) sums straight from the description of the weights.
Sums naiveSums(const QImage& map, bool threshold, Qt::Orientation axis)
{
    const bool horizontal = axis == Qt::Horizontal;
    Sums sums;
    for (int i = 0; i < (horizontal ? map.width() : map.height()); ++i) {
        qint64 sum = 0;
        for (int j = 0; j < (horizontal ? map.height() : map.width()); ++j) {
            const int v = qRed(horizontal ? map.pixel(i, j) : map.pixel(j, i));
            sum += threshold && v <= 153 ? 0 : v;
        }
        sums.append(sum);
    }
    return sums;
}

} // namespace

class tst_ZTSalienzMaximizer : public QObject
{
    Q_OBJECT

private slots:
    void pixelFunction_data();
    void pixelFunction();
    void conglumerate();
    void bestRange_data();
    void bestRange();
    void sums_data();
    void sums();
    void startOfBestRange();
};

void tst_ZTSalienzMaximizer::pixelFunction_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("weight");

    QTest::newRow("linear 153") << 0 << 153 << 153;
    QTest::newRow("linear 0") << 0 << 0 << 0;
    QTest::newRow("threshold 153 counts 0") << 1 << 153 << 0;
    QTest::newRow("threshold 154 counts 154") << 1 << 154 << 154;
    QTest::newRow("threshold 255") << 1 << 255 << 255;
    QTest::newRow("unknown method 2 is linear") << 2 << 100 << 100;
    QTest::newRow("unknown method -1 is linear") << -1 << 153 << 153;
}

void tst_ZTSalienzMaximizer::pixelFunction()
{
    QFETCH(int, method);
    QFETCH(int, value);
    QFETCH(int, weight);
    const auto pixelWeight = static_cast<ZTSalienzPixelWeightMethod>(method);
    QCOMPARE(ZTSalienzMaximizerHorizontal(pixelWeight).pixelFunction(value), weight);
    QCOMPARE(ZTSalienzMaximizerVertical(pixelWeight).pixelFunction(value), weight);
}

void tst_ZTSalienzMaximizer::conglumerate()
{
    const ZTSalienzMaximizerHorizontal maximizer(SalienzPixelWeightLinear);
    QCOMPARE(maximizer.conglumerate({1, 2, 3}), (Sums {1, 3, 6}));
    QCOMPARE(maximizer.conglumerate({5, -7, 2}), (Sums {5, -2, 0}));
    QVERIFY(maximizer.conglumerate({}).isEmpty());
}

// Rows give the sums per position; the test turns them into running sums first.
void tst_ZTSalienzMaximizer::bestRange_data()
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
    QTest::newRow("negative sums never win") << Sums {0, -1, -2, -3, 0} << 1 << -1;
    QTest::newRow("four entries, L 4") << Sums {1, 2, 3, 4} << 4 << -1;
    QTest::newRow("four entries, L 5") << Sums {1, 2, 3, 4} << 5 << 0;
    QTest::newRow("three entries, L 2") << Sums {1, 2, 3} << 2 << -1;
    QTest::newRow("empty axis, L 1") << Sums {} << 1 << 0;
    QTest::newRow("length 0") << Sums {1, 2, 3, 4} << 0 << -1;
    QTest::newRow("negative length") << Sums {1, 2, 3, 4} << -1 << -1;
    QTest::newRow("running sums beyond 64 bits")
        << Sums {std::numeric_limits<qint64>::max(), 3, 7, 0} << 1 << 2;
}

void tst_ZTSalienzMaximizer::bestRange()
{
    QFETCH(Sums, values);
    QFETCH(int, length);
    QFETCH(int, start);
    const ZTSalienzMaximizerVertical maximizer(SalienzPixelWeightLinear);
    QCOMPARE(maximizer.bestRange(maximizer.conglumerate(values), length), start);
}

void tst_ZTSalienzMaximizer::sums_data()
{
    QTest::addColumn<QImage>("map");

    QRandomGenerator random(17);
    for (const QSize size : {QSize(1, 1), QSize(1, 40), QSize(40, 1), QSize(37, 23)}) {
        QImage map(size, QImage::Format_ARGB32);
        for (int y = 0; y < size.height(); ++y) {
            for (int x = 0; x < size.width(); ++x) {
                map.setPixel(x, y, random.generate() | 0xFF000000u);
            }
        }
        QTest::addRow("random %dx%d", size.width(), size.height()) << map;
    }
    QTest::newRow("8-bit map") << mapOf(
        {{1, 200, 153},
            {154, 0, 10}}).convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
    // QImage has no map with rows but no columns or the other way round: all are null.
    QTest::newRow("width 0") << QImage(0, 5, QImage::Format_ARGB32);
    QTest::newRow("height 0") << QImage(5, 0, QImage::Format_ARGB32);
}

void tst_ZTSalienzMaximizer::sums()
{
    QFETCH(QImage, map);
    for (const bool threshold : {false, true}) {
        const auto method = threshold ? SalienzPixelWeightThreshold : SalienzPixelWeightLinear;
        QCOMPARE(ZTSalienzMaximizerHorizontal(method).sums(map),
            naiveSums(map, threshold, Qt::Horizontal));
        QCOMPARE(
            ZTSalienzMaximizerVertical(method).sums(map), naiveSums(map, threshold, Qt::Vertical));
    }
}

// Column sums linear 0 450 450 0 300 0 0, thresholded 0 0 0 0 300 0 0; the vertical maximizer
// of the transposed map must give the same starts.
void tst_ZTSalienzMaximizer::startOfBestRange()
{
    const QImage map = mapOf(
        {{0, 150, 150, 0, 100, 0, 0}, {0, 150, 150, 0, 200, 0, 0}, {0, 150, 150, 0, 0, 0, 0}});
    const QImage transposed = map.transformed(QTransform(0, 1, 1, 0, 0, 0));
    for (const auto& [method, start] :
        {std::pair {SalienzPixelWeightLinear, 1}, std::pair {SalienzPixelWeightThreshold, 3}}) {
        QCOMPARE(ZTSalienzMaximizerHorizontal(method).startOfBestRange(map, 2), start);
        QCOMPARE(ZTSalienzMaximizerVertical(method).startOfBestRange(transposed, 2), start);
    }
    const QImage dim = mapOf({{153, 153, 0, 153}, {100, 153, 153, 0}, {0, 1, 2, 3}});
    QCOMPARE(
        ZTSalienzMaximizerHorizontal(SalienzPixelWeightThreshold).startOfBestRange(dim, 1), -1);
    QCOMPARE(ZTSalienzMaximizerHorizontal(SalienzPixelWeightLinear).startOfBestRange(dim, 1), 1);
}

QTEST_GUILESS_MAIN(tst_ZTSalienzMaximizer)
#include "tst_ZTSalienzMaximizer.moc"
