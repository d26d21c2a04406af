#include "ZTSalienzMaximizerHorizontal.h"
#include "ZTSalienzMaximizerVertical.h"

#include <QRandomGenerator>
#include <QtTest>

#include <limits>

namespace {

using Sums = QList<qint64>;

constexpr qint64 int64Max = std::numeric_limits<qint64>::max();

// A map whose salience at (x, y) is values[y][x]; green and blue differ so only red is read.
QImage mapOf(const QList<QList<int>>& values)
{
    QImage map(values.first().size(), values.size(), QImage::Format_ARGB32);
    for (int y = 0; y < map.height(); ++y) {
        for (int x = 0; x < map.width(); ++x) {
            const int v = values.at(y).at(x);
            map.setPixel(x, y, qRgba(v, 255 - v, x + y, 128));
        }
    }
    return map;
}

QImage randomMap(const QSize& size, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage map(size, QImage::Format_ARGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            map.setPixel(x, y, qRgba(random.bounded(256), random.bounded(256), 0, 255));
        }
    }
    return map;
}

int naiveWeight(int method, int v)
{
    return method == 1 && v <= 153 ? 0 : v;
}

Sums naiveSums(const QImage& map, int method, Qt::Orientation axis)
{
    const int count = axis == Qt::Horizontal ? map.width() : map.height();
    Sums sums;
    for (int i = 0; i < count; ++i) {
        qint64 sum = 0;
        const int across = axis == Qt::Horizontal ? map.height() : map.width();
        for (int j = 0; j < across; ++j) {
            const QRgb pixel = axis == Qt::Horizontal ? map.pixel(i, j) : map.pixel(j, i);
            sum += naiveWeight(method, qRed(pixel));
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
    void conglumerate_data();
    void conglumerate();
    void bestRange_data();
    void bestRange();
    void sumsOfSmallMap();
    void sumsMatchNaiveReference_data();
    void sumsMatchNaiveReference();
    void sumsOfNullMapsAreEmpty();
    void sumsReadMapsOfAnyDepth();
    void startOfBestRange_data();
    void startOfBestRange();
};

void tst_ZTSalienzMaximizer::pixelFunction_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("weight");

    QTest::newRow("linear 0") << 0 << 0 << 0;
    QTest::newRow("linear 153") << 0 << 153 << 153;
    QTest::newRow("linear 255") << 0 << 255 << 255;
    QTest::newRow("threshold 0") << 1 << 0 << 0;
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

void tst_ZTSalienzMaximizer::conglumerate_data()
{
    QTest::addColumn<Sums>("values");
    QTest::addColumn<Sums>("running");

    QTest::newRow("1, 2, 3") << Sums {1, 2, 3} << Sums {1, 3, 6};
    QTest::newRow("empty") << Sums {} << Sums {};
    QTest::newRow("negative entries") << Sums {5, -7, 2} << Sums {5, -2, 0};
    QTest::newRow("beyond 64 bits wraps")
        << Sums {int64Max, 2} << Sums {int64Max, std::numeric_limits<qint64>::min() + 1};
}

void tst_ZTSalienzMaximizer::conglumerate()
{
    QFETCH(Sums, values);
    QFETCH(Sums, running);
    QCOMPARE(ZTSalienzMaximizerHorizontal(SalienzPixelWeightLinear).conglumerate(values), running);
}

// Rows give the per-position sums; the test turns them into running sums first.
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
    QTest::newRow("axis of exactly L") << Sums {1, 2, 3, 4} << 4 << -1;
    QTest::newRow("axis of L + 1") << Sums {1, 2, 3} << 2 << -1;
    QTest::newRow("window longer than the axis") << Sums {1, 2, 3, 4} << 5 << 0;
    QTest::newRow("empty axis, L 1") << Sums {} << 1 << 0;
    QTest::newRow("empty axis, L 0") << Sums {} << 0 << -1;
    QTest::newRow("length 0") << Sums {1, 2, 3, 4} << 0 << -1;
    QTest::newRow("negative length") << Sums {1, 2, 3, 4} << -1 << -1;
    QTest::newRow("L + 2 entries: only start 1") << Sums {5, 1, 1, 5} << 2 << 1;
    QTest::newRow("running sums beyond 64 bits") << Sums {int64Max, 3, 7, 0} << 1 << 2;
}

void tst_ZTSalienzMaximizer::bestRange()
{
    QFETCH(Sums, values);
    QFETCH(int, length);
    QFETCH(int, start);
    const ZTSalienzMaximizerVertical maximizer(SalienzPixelWeightLinear);
    QCOMPARE(maximizer.bestRange(maximizer.conglumerate(values), length), start);
}

void tst_ZTSalienzMaximizer::sumsOfSmallMap()
{
    const QImage map = mapOf({{1, 200, 153}, {154, 0, 10}});
    QCOMPARE(
        ZTSalienzMaximizerHorizontal(SalienzPixelWeightLinear).sums(map), (Sums {155, 200, 163}));
    QCOMPARE(
        ZTSalienzMaximizerHorizontal(SalienzPixelWeightThreshold).sums(map), (Sums {154, 200, 0}));
    QCOMPARE(ZTSalienzMaximizerVertical(SalienzPixelWeightLinear).sums(map), (Sums {354, 164}));
    QCOMPARE(ZTSalienzMaximizerVertical(SalienzPixelWeightThreshold).sums(map), (Sums {200, 154}));
}

void tst_ZTSalienzMaximizer::sumsMatchNaiveReference_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("method");
    for (const QSize size : {QSize(1, 1), QSize(1, 40), QSize(40, 1), QSize(37, 23)}) {
        for (const int method : {0, 1}) {
            QTest::addRow(
                "%dx%d %s", size.width(), size.height(), method == 0 ? "linear" : "threshold")
                << size << method;
        }
    }
}

void tst_ZTSalienzMaximizer::sumsMatchNaiveReference()
{
    QFETCH(QSize, size);
    QFETCH(int, method);
    const auto pixelWeight = static_cast<ZTSalienzPixelWeightMethod>(method);
    const QImage map = randomMap(size, quint32(size.width() * 1000 + size.height()));
    QCOMPARE(ZTSalienzMaximizerHorizontal(pixelWeight).sums(map),
        naiveSums(map, method, Qt::Horizontal));
    QCOMPARE(
        ZTSalienzMaximizerVertical(pixelWeight).sums(map), naiveSums(map, method, Qt::Vertical));
}

// QImage holds no image with rows but no columns or the other way round: such a map is null,
// reports width and height 0, and gives an empty list along either axis.
void tst_ZTSalienzMaximizer::sumsOfNullMapsAreEmpty()
{
    for (const QSize size : {QSize(0, 0), QSize(5, 0), QSize(0, 5)}) {
        const QImage map(size, QImage::Format_ARGB32);
        QVERIFY(ZTSalienzMaximizerHorizontal(SalienzPixelWeightLinear).sums(map).isEmpty());
        QVERIFY(ZTSalienzMaximizerVertical(SalienzPixelWeightLinear).sums(map).isEmpty());
        QCOMPARE(
            ZTSalienzMaximizerHorizontal(SalienzPixelWeightLinear).startOfBestRange(map, 0), -1);
        QCOMPARE(ZTSalienzMaximizerVertical(SalienzPixelWeightLinear).startOfBestRange(map, 3), 0);
    }
}

void tst_ZTSalienzMaximizer::sumsReadMapsOfAnyDepth()
{
    const QImage map = mapOf({{1, 200, 153}, {154, 0, 10}});
    const QImage grey = map.convertToFormat(QImage::Format_RGB32)
                            .convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
    QCOMPARE(grey.depth(), 8);
    const ZTSalienzMaximizerHorizontal horizontal(SalienzPixelWeightLinear);
    QCOMPARE(horizontal.sums(grey), horizontal.sums(map));
}

void tst_ZTSalienzMaximizer::startOfBestRange_data()
{
    QTest::addColumn<QImage>("map");
    QTest::addColumn<int>("method");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("start");

    // Column sums: linear 0 450 450 0 300 0 0, threshold 0 0 0 0 300 0 0.
    const QImage columns = mapOf(
        {{0, 150, 150, 0, 100, 0, 0}, {0, 150, 150, 0, 200, 0, 0}, {0, 150, 150, 0, 0, 0, 0}});
    QTest::newRow("linear counts the dim columns") << columns << 0 << 2 << 1;
    QTest::newRow("threshold counts the bright column only") << columns << 1 << 2 << 3;
    QTest::newRow("values up to 153 under threshold")
        << mapOf({{153, 153, 0, 153}, {100, 153, 153, 0}, {0, 1, 2, 3}, {153, 153, 153, 153}}) << 1
        << 1 << -1;
}

// The vertical maximizer of the transposed map must find the same start.
void tst_ZTSalienzMaximizer::startOfBestRange()
{
    QFETCH(QImage, map);
    QFETCH(int, method);
    QFETCH(int, length);
    QFETCH(int, start);
    const auto pixelWeight = static_cast<ZTSalienzPixelWeightMethod>(method);
    QCOMPARE(ZTSalienzMaximizerHorizontal(pixelWeight).startOfBestRange(map, length), start);
    const QImage transposed = map.transformed(QTransform(0, 1, 1, 0, 0, 0));
    QCOMPARE(transposed.size(), map.size().transposed());
    QCOMPARE(ZTSalienzMaximizerVertical(pixelWeight).startOfBestRange(transposed, length), start);
}

QTEST_GUILESS_MAIN(tst_ZTSalienzMaximizer)
#include "tst_ZTSalienzMaximizer.moc"
