#include "ZTHistogram.h"

#include <QtTest>

#include <limits>
#include <new>

namespace {

using Words = QVector<QRgb>;
using Counts = QVector<int>;

// A one-row block of packed YCbCr words.
QImage row(const Words& words)
{
    QImage block(words.size(), 1, QImage::Format_ARGB32);
    std::copy(words.cbegin(), words.cend(), reinterpret_cast<QRgb*>(block.scanLine(0)));
    return block;
}

// A block that puts counts[i] pixels into column i of a one-row histogram of counts.size() bins.
QImage columns(const Counts& counts)
{
    Words words;
    for (int i = 0; i < counts.size(); ++i) {
        words += Words(counts[i], qRgb(50, 0, (i * 256 + counts.size() - 1) / counts.size()));
    }
    return row(words);
}

// The entries that are not 0 as "row,column=value", to 17 digits: exact, and NaN shows as nan.
QString nonZero(ZTHistogram& histogram, const QSize& bins)
{
    QStringList list;
    for (int y = 0; y < qMax(bins.width(), 1); ++y) {
        for (int x = 0; x < qMax(bins.height(), 1); ++x) {
            const double value = histogram.getHistogramValue(x, y);
            if (value != 0.0) {
                list << QString("%1,%2=%3").arg(y).arg(x).arg(value, 0, 'g', 17);
            }
        }
    }
    return list.join(' ');
}

} // namespace

class tst_ZTHistogram : public QObject
{
    Q_OBJECT

private slots:
    void countAndNormalise_data();
    void countAndNormalise();
    void comparison_data();
    void comparison();
    void unusableTables();
};

void tst_ZTHistogram::countAndNormalise_data()
{
    QTest::addColumn<QImage>("block");
    QTest::addColumn<QSize>("bins");      // channel 1 (Cb, rows) x channel 2 (Cr, columns)
    QTest::addColumn<QString>("entries"); // counted / normalised

    QTest::newRow("8 starts bin 1 of 32")
        << row({qRgb(9, 8, 8)}) << QSize(32, 32) << "1,1=1 / 1,1=1";
    QTest::newRow("3 bins: 85 in bin 0, 86 in bin 1")
        << row({qRgb(9, 85, 86)}) << QSize(3, 3) << "0,1=1 / 0,1=1";
    QTest::newRow("0 bins count as 1; flat tables give NaN")
        << row(Words(3, qRgb(9, 255, 255))) << QSize(0, 0) << "0,0=3 / 0,0=nan";
    QTest::newRow("rows follow Cb, columns Cr; luma and alpha take no part")
        << row({qRgb(0, 200, 10), qRgb(255, 200, 10), 200u << 8 | 10u, qRgb(4, 10, 200)})
        << QSize(2, 4) << "0,3=1 1,0=3 / 0,3=0.33333333333333331 1,0=1";
    QTest::newRow("grey block: row 16, column 16")
        << row(Words(256, qRgb(127, 128, 128))) << QSize(32, 32) << "16,16=256 / 16,16=1";
    QTest::newRow("one bin of 2000 pixels: the minimum stays at 1000")
        << columns({2000}) << QSize(1, 1) << "0,0=2000 / 0,0=1";
    QTest::newRow("counts above 1000 do not reach 0")
        << columns({1500, 3000}) << QSize(1, 2) << "0,0=1500 0,1=3000 / 0,0=0.25 0,1=1";
    QTest::newRow("empty block") << QImage() << QSize(1, 2) << " / 0,0=nan 0,1=nan";
    QImage wide(3, 5, QImage::Format_RGB888);
    wide.fill(QColor(1, 200, 30));
    QTest::newRow("24-bit block: green is Cb, blue Cr") << wide << QSize(4, 4) << "3,0=15 / 3,0=1";
}

void tst_ZTHistogram::countAndNormalise()
{
    QFETCH(QImage, block);
    QFETCH(QSize, bins);
    QFETCH(QString, entries);

    ZTHistogram histogram(block, bins.width(), bins.height());
    const QString counted = nonZero(histogram, bins);
    histogram.normalizeHistogram();
    QCOMPARE(counted + " / " + nonZero(histogram, bins), entries);
}

void tst_ZTHistogram::comparison_data()
{
    QTest::addColumn<Counts>("expected");
    QTest::addColumn<Counts>("other");
    QTest::addColumn<double>("distance");

    // Normalised, these are (1, 0.5, 0) and (1, 0, 0).
    QTest::newRow("(1, 0.5) against (1, 0)") << Counts {2, 1, 0} << Counts {1, 0, 0} << 0.5;
    QTest::newRow("(1, 0) against (1, 0.5)") << Counts {1, 0, 0} << Counts {2, 1, 0} << 0.0;
    QTest::newRow("itself") << Counts {7, 3, 0, 1} << Counts {7, 3, 0, 1} << 0.0;
    // (1 - 0.25)^2 / 1 + (0.25 - 1)^2 / 0.25
    QTest::newRow("sum over the bins") << Counts {4, 1, 0} << Counts {1, 4, 0} << 2.8125;
    QTest::newRow("flat other opposite a full bin")
        << Counts {1, 0} << Counts {3, 3} << std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("flat expected histogram") << Counts {3, 3} << Counts {1, 0} << 0.0;
}

void tst_ZTHistogram::comparison()
{
    QFETCH(Counts, expected);
    QFETCH(Counts, other);
    QFETCH(double, distance);

    ZTHistogram a(columns(expected), 1, expected.size());
    ZTHistogram b(columns(other), 1, other.size());
    a.normalizeHistogram();
    b.normalizeHistogram();
    QCOMPARE(QString::number(a.compareHistogram(&b), 'g', 17), QString::number(distance, 'g', 17));
}

// Entries that the other table lacks count as empty bins, as do indices outside a table; a
// placeholder has no entries. Negative counts and tables beyond memory are refused.
void tst_ZTHistogram::unusableTables()
{
    ZTHistogram expected(row({qRgb(0, 0, 0), qRgb(0, 255, 255)}), 2, 2);
    ZTHistogram smaller(row({qRgb(0, 0, 0)}), 1, 1);
    ZTHistogram none;
    const QVector<double> values {expected.compareHistogram(&smaller),
        expected.compareHistogram(nullptr), expected.compareHistogram(&none),
        none.compareHistogram(&expected), expected.getHistogramValue(2, 0),
        expected.getHistogramValue(-1, 0), none.getHistogramValue(0, 0)};
    QCOMPARE(values, (QVector<double> {1, 2, 2, 0, 0, 0, 0}));
    for (const QPoint bins : {QPoint(-1, 32), QPoint(32, -1), QPoint(0, -7)}) {
        QVERIFY_EXCEPTION_THROWN(
            ZTHistogram(row({0}), bins.x(), bins.y()), std::bad_array_new_length);
    }
    const int huge = std::numeric_limits<int>::max();
    QVERIFY_EXCEPTION_THROWN(ZTHistogram(row({0}), huge, huge), std::bad_alloc);
}

QTEST_GUILESS_MAIN(tst_ZTHistogram)
#include "tst_ZTHistogram.moc"
