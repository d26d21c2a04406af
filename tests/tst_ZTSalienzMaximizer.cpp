#include "ZTImageTestSupport.h"
#include "ZTSalienzMaximizerHorizontal.h"
#include "ZTSalienzMaximizerVertical.h"

#include <QtTest>

#include <limits>

namespace {

using Sums = QList<qint64>;

// Column (horizontal) or row (vertical) sums of the pixel weights, straight from their definition.
Sums naiveSums(const QImage& map, bool threshold, bool horizontal)
{
    Sums sums;
    for (int i = 0; i < (horizontal ? map.width() : map.height()); ++i) {
        sums << 0;
        for (int j = 0; j < (horizontal ? map.height() : map.width()); ++j) {
            const int v = qRed(horizontal ? map.pixel(i, j) : map.pixel(j, i));
            sums.last() += threshold && v <= 153 ? 0 : v;
        }
    }
    return sums;
}

} // namespace

class tst_ZTSalienzMaximizer : public QObject
{
    Q_OBJECT

private slots:
    void pixelFunction();
    void bestRange_data();
    void bestRange();
    void sums_data();
    void sums();
};

// 153 counts 0 and 154 counts 154 with the threshold; every value but 1 means linear. A map of
// values up to 153 has no window of positive weight with the threshold.
void tst_ZTSalienzMaximizer::pixelFunction()
{
    std::mt19937 random(5);
    const QImage dim
        = ZTImageTest::randomPicture(QSize(8, 5), QImage::Format_ARGB32, random, {0, 100, 153});
    QCOMPARE(
        ZTSalienzMaximizerHorizontal(SalienzPixelWeightThreshold).startOfBestRange(dim, 2), -1);
    QVERIFY(ZTSalienzMaximizerHorizontal(SalienzPixelWeightLinear).startOfBestRange(dim, 2) > 0);
    for (const int method : {0, 1, 2, -1}) {
        const auto weight = static_cast<ZTSalienzPixelWeightMethod>(method);
        QList<int> weights;
        for (const int value : {0, 153, 154, 255}) {
            weights << ZTSalienzMaximizerHorizontal(weight).pixelFunction(value)
                    << ZTSalienzMaximizerVertical(weight).pixelFunction(value);
        }
        QCOMPARE(weights,
            (method == 1 ? QList<int> {0, 0, 0, 0, 154, 154, 255, 255}
                         : QList<int> {0, 0, 153, 153, 154, 154, 255, 255}));
    }
}

// Rows give the values per position; conglumerate turns them into running sums first.
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
    const ZTSalienzMaximizerVertical maximizer(SalienzPixelWeightLinear);
    QCOMPARE(maximizer.conglumerate({1, 2, 3}), (Sums {1, 3, 6}));
    QTEST(maximizer.bestRange(maximizer.conglumerate(values), length), "start");
}

void tst_ZTSalienzMaximizer::sums_data()
{
    QTest::addColumn<QImage>("map");

    std::mt19937 random(17);
    for (const QSize size : {QSize(1, 1), QSize(1, 40), QSize(40, 1), QSize(37, 23)}) {
        QTest::addRow("random %dx%d", size.width(), size.height()) << ZTImageTest::randomPicture(
            size, QImage::Format_ARGB32, random, ZTImageTest::allReds());
    }
    QTest::newRow("8-bit map") << ZTImageTest::randomPicture(
        QSize(9, 7), QImage::Format_Grayscale8, random, ZTImageTest::allReds());
    // QImage has no map with rows but no columns or the other way round: all are null.
    QTest::newRow("width 0") << QImage(0, 5, QImage::Format_ARGB32);
    QTest::newRow("height 0") << QImage(5, 0, QImage::Format_ARGB32);
}

// The sums of both maximizers and both weights, and the starts that the sums give.
void tst_ZTSalienzMaximizer::sums()
{
    QFETCH(QImage, map);
    for (const bool threshold : {false, true}) {
        const auto method = threshold ? SalienzPixelWeightThreshold : SalienzPixelWeightLinear;
        const ZTSalienzMaximizerHorizontal horizontal(method);
        const ZTSalienzMaximizerVertical vertical(method);
        QCOMPARE(horizontal.sums(map), naiveSums(map, threshold, true));
        QCOMPARE(vertical.sums(map), naiveSums(map, threshold, false));
        QCOMPARE(horizontal.startOfBestRange(map, 3),
            horizontal.bestRange(horizontal.conglumerate(naiveSums(map, threshold, true)), 3));
        QCOMPARE(vertical.startOfBestRange(map, 3),
            vertical.bestRange(vertical.conglumerate(naiveSums(map, threshold, false)), 3));
    }
}

QTEST_GUILESS_MAIN(tst_ZTSalienzMaximizer)
#include "tst_ZTSalienzMaximizer.moc"
