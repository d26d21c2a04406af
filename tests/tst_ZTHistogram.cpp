#include "ZTHistogram.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <new>

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

// A packed YCbCr word with the given luma and chroma.
constexpr QRgb ycbcr(int y, int cb, int cr)
{
    return 0xFF000000u | quint32(y) << 16 | quint32(cb) << 8 | quint32(cr);
}

// A one-row block of @p count pixels, all @p word.
QImage uniformBlock(int count, QRgb word)
{
    QImage block(count, 1, QImage::Format_ARGB32);
    block.fill(word);
    return block;
}

// A one-row block that puts counts[i] pixels into column i of a one-row histogram of
// counts.size() channel-2 bins: each pixel carries the lowest Cr level of its bin.
QImage blockWithColumnCounts(const QVector<int>& counts)
{
    int total = 0;
    for (const int count : counts) {
        total += count;
    }
    QImage block(qMax(total, 1), 1, QImage::Format_ARGB32);
    block.fill(0);
    QRgb* const line = reinterpret_cast<QRgb*>(block.scanLine(0));
    int x = 0;
    for (int bin = 0; bin < counts.size(); ++bin) {
        const int cr = (bin * 256 + counts.size() - 1) / counts.size();
        for (int i = 0; i < counts[bin]; ++i) {
            line[x++] = ycbcr(50, 128, cr);
        }
    }
    return total == 0 ? QImage() : block;
}

bool same(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

// Exact comparison of every entry, NaN matching NaN.
void verifyEntries(ZTHistogram& histogram, int rows, const QVector<double>& expected)
{
    const int columns = expected.size() / rows;
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < columns; ++x) {
            const double actual = histogram.getHistogramValue(x, y);
            const double wanted = expected[y * columns + x];
            QVERIFY2(same(actual, wanted),
                qPrintable(QString("entry (row %1, column %2) is %3, expected %4")
                               .arg(y)
                               .arg(x)
                               .arg(actual, 0, 'g', 17)
                               .arg(wanted, 0, 'g', 17)));
        }
    }
}

} // namespace

class tst_ZTHistogram : public QObject
{
    Q_OBJECT

private slots:
    void binOfChannelValue_data();
    void binOfChannelValue();
    void rowsAreBlueChromaColumnsRedChroma();
    void greyBlockFillsTheMiddleBin();
    void normalisation_data();
    void normalisation();
    void comparison_data();
    void comparison();
    void tablesOfOtherSizes();
    void blockOfOtherDepthIsConvertedFirst();
    void unusableBinCountsThrow_data();
    void unusableBinCountsThrow();
};

void tst_ZTHistogram::binOfChannelValue_data()
{
    QTest::addColumn<int>("bins");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("bin");

    QTest::newRow("32 bins, 0") << 32 << 0 << 0;
    QTest::newRow("32 bins, 7 is the last level of bin 0") << 32 << 7 << 0;
    QTest::newRow("32 bins, 8 starts bin 1") << 32 << 8 << 1;
    QTest::newRow("32 bins, 128") << 32 << 128 << 16;
    QTest::newRow("32 bins, 255") << 32 << 255 << 31;
    QTest::newRow("3 bins, 85") << 3 << 85 << 0;
    QTest::newRow("3 bins, 86") << 3 << 86 << 1;
    QTest::newRow("3 bins, 171") << 3 << 171 << 2;
    QTest::newRow("1 bin, 255") << 1 << 255 << 0;
    QTest::newRow("0 bins count as 1") << 0 << 255 << 0;
    QTest::newRow("1000 bins, 255") << 1000 << 255 << 996;
}

// The same value in both chroma channels lands on the diagonal entry (bin, bin).
void tst_ZTHistogram::binOfChannelValue()
{
    QFETCH(int, bins);
    QFETCH(int, value);
    QFETCH(int, bin);

    ZTHistogram histogram(uniformBlock(3, ycbcr(9, value, value)), bins, bins);
    QCOMPARE(histogram.getHistogramValue(bin, bin), 3.0);
    QCOMPARE(histogram.getHistogramValue(bin - 1, bin), 0.0);
    QCOMPARE(histogram.getHistogramValue(bin, bin + 1), 0.0);
}

// Rows follow Cb (green byte), columns Cr (blue byte); luma and alpha take no part.
void tst_ZTHistogram::rowsAreBlueChromaColumnsRedChroma()
{
    QImage block(2, 2, QImage::Format_ARGB32);
    block.setPixel(0, 0, ycbcr(0, 200, 10));
    block.setPixel(1, 0, ycbcr(255, 200, 10));
    block.setPixel(0, 1, 0x00000000u | 200u << 8 | 10u);
    block.setPixel(1, 1, ycbcr(40, 10, 200));
    ZTHistogram histogram(block, 2, 4);
    verifyEntries(histogram, 2, {0.0, 0.0, 0.0, 1.0, 3.0, 0.0, 0.0, 0.0});
}

void tst_ZTHistogram::greyBlockFillsTheMiddleBin()
{
    QImage block(16, 16, QImage::Format_ARGB32);
    block.fill(ycbcr(127, 128, 128));
    ZTHistogram histogram(block, 32, 32);
    QCOMPARE(histogram.getHistogramValue(16, 16), 256.0);
    histogram.normalizeHistogram();
    QVector<double> expected(32 * 32, 0.0);
    expected[16 * 32 + 16] = 1.0;
    verifyEntries(histogram, 32, expected);
}

void tst_ZTHistogram::normalisation_data()
{
    QTest::addColumn<QVector<int>>("counts");
    QTest::addColumn<QVector<double>>("normalised");

    QTest::newRow("one bin of 2000 pixels: the minimum stays at 1000")
        << QVector<int> {2000} << QVector<double> {1.0};
    QTest::newRow("counts above 1000 do not reach 0")
        << QVector<int> {1500, 3000} << QVector<double> {0.25, 1.0};
    QTest::newRow("empty bin 0, fullest 1")
        << QVector<int> {4, 1, 0, 2} << QVector<double> {1.0, 0.25, 0.0, 0.5};
    QTest::newRow("flat: one bin of 1000 pixels")
        << QVector<int> {1000} << QVector<double> {notANumber};
    QTest::newRow("flat: equal counts")
        << QVector<int> {5, 5} << QVector<double> {notANumber, notANumber};
    QTest::newRow("flat: empty block")
        << QVector<int> {0, 0, 0} << QVector<double> {notANumber, notANumber, notANumber};
}

void tst_ZTHistogram::normalisation()
{
    QFETCH(QVector<int>, counts);
    QFETCH(QVector<double>, normalised);

    ZTHistogram histogram(blockWithColumnCounts(counts), 1, counts.size());
    QVector<double> raw;
    for (const int count : counts) {
        raw << count;
    }
    verifyEntries(histogram, 1, raw);
    histogram.normalizeHistogram();
    verifyEntries(histogram, 1, normalised);
}

void tst_ZTHistogram::comparison_data()
{
    QTest::addColumn<QVector<int>>("expectedCounts");
    QTest::addColumn<QVector<int>>("otherCounts");
    QTest::addColumn<double>("distance");

    // Normalised, these are (1.0, 0.5, 0.0) and (1.0, 0.0, 0.0).
    QTest::newRow("(1, 0.5) against (1, 0)")
        << QVector<int> {2, 1, 0} << QVector<int> {1, 0, 0} << 0.5;
    QTest::newRow("(1, 0) against (1, 0.5): empty bins add nothing")
        << QVector<int> {1, 0, 0} << QVector<int> {2, 1, 0} << 0.0;
    QTest::newRow("itself") << QVector<int> {7, 3, 0, 1} << QVector<int> {7, 3, 0, 1} << 0.0;
    QTest::newRow("disjoint colours") << QVector<int> {0, 9} << QVector<int> {9, 0} << 1.0;
    // (1 - 0.25)^2 / 1 + (0.25 - 1)^2 / 0.25
    QTest::newRow("sum over the bins")
        << QVector<int> {4, 1, 0} << QVector<int> {1, 4, 0} << 2.8125;
    QTest::newRow("flat other opposite a full bin is NaN")
        << QVector<int> {1, 0} << QVector<int> {3, 3} << notANumber;
    QTest::newRow("flat expected histogram skips every bin")
        << QVector<int> {3, 3} << QVector<int> {1, 0} << 0.0;
}

void tst_ZTHistogram::comparison()
{
    QFETCH(QVector<int>, expectedCounts);
    QFETCH(QVector<int>, otherCounts);
    QFETCH(double, distance);

    ZTHistogram expected(blockWithColumnCounts(expectedCounts), 1, expectedCounts.size());
    ZTHistogram other(blockWithColumnCounts(otherCounts), 1, otherCounts.size());
    expected.normalizeHistogram();
    other.normalizeHistogram();
    const double actual = expected.compareHistogram(&other);
    QVERIFY2(same(actual, distance), qPrintable(QString::number(actual, 'g', 17)));
}

// Entries that the other table lacks count as empty bins; a placeholder has no entries at all.
void tst_ZTHistogram::tablesOfOtherSizes()
{
    QImage block(2, 1, QImage::Format_ARGB32);
    block.setPixel(0, 0, ycbcr(0, 0, 0));     // row 0, column 0
    block.setPixel(1, 0, ycbcr(0, 255, 255)); // row 1, column 1
    ZTHistogram expected(block, 2, 2);
    ZTHistogram smaller(uniformBlock(1, ycbcr(0, 0, 0)), 1, 1);
    ZTHistogram placeholder;

    QCOMPARE(expected.compareHistogram(&smaller), 1.0);
    QCOMPARE(expected.compareHistogram(nullptr), 2.0);
    QCOMPARE(expected.compareHistogram(&placeholder), 2.0);
    QCOMPARE(placeholder.compareHistogram(&expected), 0.0);
    placeholder.normalizeHistogram();
    QCOMPARE(placeholder.getHistogramValue(0, 0), 0.0);
    QCOMPARE(expected.getHistogramValue(-1, 0), 0.0);
    QCOMPARE(expected.getHistogramValue(0, 2), 0.0);
}

// A 24-bit block is widened to 0xFFRRGGBB words: green is read as Cb, blue as Cr.
void tst_ZTHistogram::blockOfOtherDepthIsConvertedFirst()
{
    QImage block(3, 5, QImage::Format_RGB888);
    block.fill(QColor(1, 200, 30));
    ZTHistogram histogram(block, 4, 4);
    QCOMPARE(histogram.getHistogramValue(0, 3), 15.0);
}

void tst_ZTHistogram::unusableBinCountsThrow_data()
{
    QTest::addColumn<int>("bins1");
    QTest::addColumn<int>("bins2");
    QTest::addColumn<bool>("tooLarge");

    QTest::newRow("negative channel 1") << -1 << 32 << false;
    QTest::newRow("negative channel 2") << 32 << -1 << false;
    QTest::newRow("negative channel 2, no channel-1 bins") << 0 << -7 << false;
    QTest::newRow("both negative") << -3 << -3 << false;
    QTest::newRow("table beyond memory")
        << std::numeric_limits<int>::max() << std::numeric_limits<int>::max() << true;
}

void tst_ZTHistogram::unusableBinCountsThrow()
{
    QFETCH(int, bins1);
    QFETCH(int, bins2);
    QFETCH(bool, tooLarge);

    const QImage block = uniformBlock(2, ycbcr(0, 0, 0));
    if (tooLarge) {
        QVERIFY_EXCEPTION_THROWN(ZTHistogram(block, bins1, bins2), std::bad_alloc);
    } else {
        QVERIFY_EXCEPTION_THROWN(ZTHistogram(block, bins1, bins2), std::bad_array_new_length);
    }
}

QTEST_GUILESS_MAIN(tst_ZTHistogram)
#include "tst_ZTHistogram.moc"
