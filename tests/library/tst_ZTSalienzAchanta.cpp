#include "ZTImageTestSupport.h"
#include "ZTSalienzAchanta.h"

#include <QtTest>

using namespace ZTImageTest;

namespace {

// The salience plane as defined, from the exported list helpers, of a picture of 32-bit words.
QList<double> naiveSalience(ZTSalienzAchanta& m, const QImage& source)
{
    const int w = source.width(), h = source.height();
    QList<double> planes[3], smoothed[3], salience = m.createZeroedList(w * h);
    QList<QList<double>> tables[3];
    for (int i = 0; i < w * h; ++i) {
        const QRgb p = reinterpret_cast<const QRgb*>(source.constScanLine(i / w))[i % w];
        const double r = qRed(p), g = qGreen(p), b = qBlue(p);
        const double luma = (g * 0.587 + 0.299 * r) + 0.114 * b;
        planes[0].append(luma);
        planes[1].append((r - luma) * 0.713 + 128);
        planes[2].append((b - luma) * 0.564 + 128);
    }
    for (int c = 0; c < 3; ++c) {
        smoothed[c] = m.createZeroedList(w * h);
        m.gaussianSmooth(planes[c], w, h, {1.0, 2.0, 1.0}, smoothed[c]);
        tables[c] = m.createZeroed2dList(w, h);
        m.integralImage(planes[c], w, h, tables[c]);
    }
    // The surround of a pixel: the largest span centred on it that fits, along one axis.
    const auto span = [](int v, int n) {
        return v < n - v ? std::pair(0, qMin(2 * v, n - 1)) : std::pair(qMax(2 * v - n, 0), n - 1);
    };
    for (int i = 0; i < w * h; ++i) {
        const auto [x1, x2] = span(i % w, w);
        const auto [y1, y2] = span(i / w, h);
        const double area = (x2 - x1 + 1) * (y2 - y1 + 1);
        double d[3];
        for (int c = 0; c < 3; ++c) {
            d[c] = m.integralSum(tables[c], x1, y1, x2, y2) / area - smoothed[c][i];
        }
        salience[i] = (d[0] * d[0] + d[1] * d[1]) + d[2] * d[2];
    }
    return salience;
}

// The stretch as defined (the extremes start at 2^30 and 0, which every salience passes), a
// black map for a range of 0.
QImage naiveStretch(const QList<double>& salience, const QSize& size)
{
    const auto [low, high] = std::minmax_element(salience.begin(), salience.end());
    QVector<QRgb> map;
    for (const double s : salience) {
        const int range = int(*high - *low);
        const int value = range == 0 ? 0 : qBound(0, int(s - *low) * 255 / range, 255);
        map.append(qRgb(value, value, value));
    }
    return pictureOf(size, map);
}

} // namespace

class tst_ZTSalienzAchanta : public QObject
{
    Q_OBJECT

private slots:
    // The helpers at edges that the comparison with the method below does not reach: lists of
    // zeros are empty for a count below 1, smoothing leaves the output alone for planes too
    // short, and rectangle sums start at the table's edge for a start below 0 and are 0 for an
    // entry outside the table.
    void helpers()
    {
        ZTSalienzAchanta m;
        QCOMPARE(m.createZeroedList(0).size() + m.createZeroed2dList(2, -1).size(), 0);
        QList<double> output {9, 9, 9, 9};
        m.gaussianSmooth({1, 2, 3}, 2, 2, {1, 2, 1}, output);
        QCOMPARE(output, QList<double>({9, 9, 9, 9}));
        const QList<QList<double>> table {{1, 3, 6}, {5, 12, 21}};
        QCOMPARE(
            QList<double>({m.integralSum(table, -3, -3, 0, 0), m.integralSum(table, 0, 0, 3, 1)}),
            QList<double>({1, 0}));
    }

    // A 5x5 grey (128, 128, 128) picture with a pixel (255, 0, 0) in the middle: raw salience
    // 916.04 there, 116.84 to its right and below it, 70.68 to its left and above it.
    void redPixelInGrey()
    {
        QImage picture = uniform(QSize(5, 5), qRgb(128, 128, 128), QImage::Format_RGB32);
        picture.setPixel(2, 2, qRgb(255, 0, 0));
        ZTSalienzAchanta method;
        const QList<double> s = naiveSalience(method, picture);
        QCOMPARE(QVector<int>({qRound(s[12] * 100), qRound(s[13] * 100), qRound(s[17] * 100),
                     qRound(s[11] * 100), qRound(s[7] * 100)}),
            QVector<int>({91604, 11684, 11684, 7068, 7068}));
        QCOMPARE(pixelsOf(naiveStretch(s, picture.size())),
            pixels("0, 0, 0, 0, 0, 0, 13, 19, 2, 0, 0, 19, 255, 32, 0, 0, 2, 32, 0, 0, 0, 0, 0, 0, "
                   "0"));
        // After the maximum filter the centre row and column are 255 throughout.
        QCOMPARE(pixelsOf(method.evaluate(picture)),
            pixels("0, 0, 255, 0, 0, 0, 13, 255, 2, 0, 255, 255, 255, 255, 255, 0, 2, 255, 0, 0, "
                   "0, 0, 255, 0, 0"));
    }

    void matchesNaiveMap_data()
    {
        QTest::addColumn<QImage>("picture");
        std::mt19937 random(21);
        for (const QSize size : {QSize(0, 0), QSize(1, 1), QSize(2, 1), QSize(1, 2), QSize(3, 4),
                 QSize(9, 1), QSize(16, 9), QSize(120, 97)}) {
            QTest::addRow("noise %dx%d", size.width(), size.height())
                << randomPicture(size, QImage::Format_RGB32, random, allReds());
        }
        QTest::newRow("premultiplied words")
            << randomPicture(QSize(21, 13), QImage::Format_ARGB32_Premultiplied, random, allReds());
        QTest::newRow("blocks") << randomBlocks(QSize(50, 31), 5, random);
        QTest::newRow("RGB888 is converted")
            << randomBlocks(QSize(50, 31), 5, random).convertToFormat(QImage::Format_RGB888);
        QTest::newRow("uniform gives a black map") << uniform(QSize(11, 8), qRgb(90, 10, 200));
    }

    // Whole maps against the method as defined.
    void matchesNaiveMap()
    {
        QFETCH(QImage, picture);
        ZTSalienzAchanta method;
        const QImage words = picture.convertToFormat(
            picture.depth() == 32 ? picture.format() : QImage::Format_ARGB32);
        const QImage stretched = naiveStretch(naiveSalience(method, words), words.size());
        QVERIFY(sameStoredPixels(
            method.evaluate(picture), naiveMaxFilter(stretched, 90, 150), QTest::currentDataTag()));
    }
};

QTEST_GUILESS_MAIN(tst_ZTSalienzAchanta)
#include "tst_ZTSalienzAchanta.moc"
