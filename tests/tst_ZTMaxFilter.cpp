#include "ZTImageTestSupport.h"
#include "ZTMaxFilter.h"

#include <QtTest>

#include <algorithm>
#include <climits>
#include <random>

namespace {

QImage greyRow(const QVector<int>& values, bool vertical)
{
    QImage image(vertical ? 1 : values.size(), vertical ? values.size() : 1, QImage::Format_ARGB32);
    for (int i = 0; i < values.size(); ++i) {
        image.setPixel(vertical ? 0 : i, vertical ? i : 0, qRgb(values[i], values[i], values[i]));
    }
    return image;
}

QVector<int> reds(const QImage& line)
{
    QVector<int> values;
    for (int y = 0; y < line.height(); ++y) {
        for (int x = 0; x < line.width(); ++x) {
            values.append(qRed(line.pixel(x, y)));
        }
    }
    return values;
}

// An opaque grey map with reds drawn from @p reds, stored as the words of @p format.
QImage greyMap(
    const QSize& size, QImage::Format format, std::mt19937& random, const std::vector<int>& reds)
{
    QImage map(size, format);
    std::uniform_int_distribution<size_t> pick(0, reds.size() - 1);
    for (int y = 0; y < size.height(); ++y) {
        QRgb* const line = reinterpret_cast<QRgb*>(map.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const int red = reds[pick(random)];
            line[x] = qRgb(red, red, red);
        }
    }
    return map;
}

// Captures warnings, so that a test can show that none was logged.
QStringList capturedWarnings;
void captureWarning(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg && type != QtInfoMsg) {
        capturedWarnings.append(message);
    }
}

} // namespace

class tst_ZTMaxFilter : public QObject
{
    Q_OBJECT

private slots:
    void unchangedCopy_data();
    void unchangedCopy();
    void crossOfOnePixel_data();
    void crossOfOnePixel();
    void line_data();
    void line();
    void tieBreaks_data();
    void tieBreaks();
    void matchesNaiveFilter_data();
    void matchesNaiveFilter();
    void armsLongerThanThePicture();
    void greyMapsMatchNaiveFilter_data();
    void greyMapsMatchNaiveFilter();
    void otherFormatsMatchNaiveFilter_data();
    void otherFormatsMatchNaiveFilter();
    void indexedImageCopiesColourIndices();
    void nullImageGivesNullImage();
};

void tst_ZTMaxFilter::unchangedCopy_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("threshold");
    QTest::newRow("size 0") << 0 << 50;
    QTest::newRow("size 1") << 1 << 50;
    QTest::newRow("size -1") << -1 << 50;
    QTest::newRow("size -2") << -2 << 50;
    QTest::newRow("size -3") << -3 << 50;
    QTest::newRow("size int minimum") << INT_MIN << 50;
    QTest::newRow("threshold 255") << 7 << 255;
    QTest::newRow("threshold 300") << 7 << 300;
    QTest::newRow("threshold int maximum") << 7 << INT_MAX;
}

void tst_ZTMaxFilter::unchangedCopy()
{
    QFETCH(int, size);
    QFETCH(int, threshold);
    std::mt19937 random(7);
    const QImage input
        = ZTImageTest::randomPicture(QSize(9, 6), QImage::Format_RGB32, random, {0, 100, 255});
    ZTMaxFilter filter(size, threshold);
    QVERIFY(ZTImageTest::sameStoredPixels(filter.evaluate(input), input, "unchanged"));
}

void tst_ZTMaxFilter::crossOfOnePixel_data()
{
    QTest::addColumn<QPoint>("bright");
    QTest::addColumn<int>("lit");
    QTest::newRow("centre: 13 pixels") << QPoint(4, 4) << 13;
    QTest::newRow("one from a corner: clipped arms") << QPoint(1, 1) << 9;
    QTest::newRow("corner") << QPoint(0, 0) << 7;
    QTest::newRow("on the right border") << QPoint(8, 4) << 10;
}

// One pixel of red 200 in a black 9x9 map, size 7 and threshold 50: the pixel and three to
// each side along its row and column, clipped at the border; no diagonal neighbour.
void tst_ZTMaxFilter::crossOfOnePixel()
{
    QFETCH(QPoint, bright);
    QFETCH(int, lit);
    QImage map(9, 9, QImage::Format_ARGB32);
    map.fill(qRgb(0, 0, 0));
    map.setPixel(bright, qRgb(200, 200, 200));

    ZTMaxFilter filter(7, 50);
    const QImage result = filter.evaluate(map);
    QCOMPARE(result.format(), QImage::Format_ARGB32);
    int count = 0;
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 9; ++x) {
            const bool onCross = (y == bright.y() && qAbs(x - bright.x()) <= 3)
                || (x == bright.x() && qAbs(y - bright.y()) <= 3);
            QCOMPARE(result.pixel(x, y), onCross ? qRgb(200, 200, 200) : qRgb(0, 0, 0));
            count += onCross ? 1 : 0;
        }
    }
    QCOMPARE(count, lit);
}

void tst_ZTMaxFilter::line_data()
{
    QTest::addColumn<QVector<int>>("input");
    QTest::addColumn<int>("threshold");
    QTest::addColumn<QVector<int>>("expected");

    QTest::newRow("60 spreads, 55 only onto darker pixels")
        << QVector<int> {60, 0, 0, 0, 55} << 50 << QVector<int> {60, 60, 60, 60, 55};
    QTest::newRow("red equal to the threshold does not spread")
        << QVector<int> {50, 0, 0} << 50 << QVector<int> {50, 0, 0};
    QTest::newRow("red one above the threshold spreads")
        << QVector<int> {51, 0, 0} << 50 << QVector<int> {51, 51, 51};
    QTest::newRow("arm of 3 stops after 3 pixels") << QVector<int> {0, 0, 0, 90, 0, 0, 0, 0} << 50
                                                   << QVector<int> {90, 90, 90, 90, 90, 90, 90, 0};
    QTest::newRow("copies do not spread further") << QVector<int> {
        0, 0, 0, 0, 90, 0, 0, 0, 0} << 50 << QVector<int> {0, 90, 90, 90, 90, 90, 90, 90, 0};
    QTest::newRow("threshold -1 spreads red 0 onto nothing")
        << QVector<int> {0, 0, 0} << -1 << QVector<int> {0, 0, 0};
    QTest::newRow("threshold 254 spreads only 255")
        << QVector<int> {254, 0, 255, 0} << 254 << QVector<int> {255, 255, 255, 255};
}

// Along a row and, transposed, along a column with size 7.
void tst_ZTMaxFilter::line()
{
    QFETCH(QVector<int>, input);
    QFETCH(int, threshold);
    QFETCH(QVector<int>, expected);
    ZTMaxFilter filter(7, threshold);
    QCOMPARE(reds(filter.evaluate(greyRow(input, false))), expected);
    QCOMPARE(reds(filter.evaluate(greyRow(input, true))), expected);
}

void tst_ZTMaxFilter::tieBreaks_data()
{
    QTest::addColumn<QVector<QRgb>>("pixels"); // 3x3, row-major
    QTest::addColumn<QRgb>("centre");

    const QRgb black = qRgb(0, 0, 0);
    const QRgb above = qRgba(100, 1, 1, 11);
    const QRgb left = qRgba(100, 2, 2, 22);
    const QRgb right = qRgba(100, 3, 3, 33);
    const QRgb below = qRgba(100, 4, 4, 44);
    QTest::newRow("column above comes first")
        << QVector<QRgb> {black, above, black, left, black, right, black, below, black} << above;
    QTest::newRow("then the row from the left")
        << QVector<QRgb> {black, black, black, left, black, right, black, below, black} << left;
    QTest::newRow("row before column below")
        << QVector<QRgb> {black, black, black, black, black, right, black, below, black} << right;
    QTest::newRow("redder later pixel wins") << QVector<QRgb> {black, above, black, left, black,
        right, black, qRgb(101, 5, 5), black} << qRgb(101, 5, 5);
    QTest::newRow("centre keeps its value on a tie") << QVector<QRgb> {black, above, black, left,
        qRgba(100, 9, 9, 99), right, black, below, black}
                                                     << qRgba(100, 9, 9, 99);
    QTest::newRow("redder centre keeps its value") << QVector<QRgb> {black, above, black, left,
        qRgba(120, 9, 9, 99), right, black, below, black}
                                                   << qRgba(120, 9, 9, 99);
}

// Equal reds with different green, blue and alpha show which pixel won at the centre.
void tst_ZTMaxFilter::tieBreaks()
{
    QFETCH(QVector<QRgb>, pixels);
    QFETCH(QRgb, centre);
    QImage image(3, 3, QImage::Format_ARGB32);
    for (int i = 0; i < 9; ++i) {
        image.setPixel(i % 3, i / 3, pixels[i]);
    }
    ZTMaxFilter filter(3, 50);
    QCOMPARE(filter.evaluate(image).pixel(1, 1), centre);
}

void tst_ZTMaxFilter::matchesNaiveFilter_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<std::vector<int>>("reds");

    const std::vector<int> fewReds = {0, 1, 50, 51, 150, 151, 254, 255};
    const std::vector<int> greyMap = {0, 0, 0, 0, 20, 120, 160, 160, 200};
    for (const QImage::Format format :
        {QImage::Format_RGB32, QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied}) {
        for (const QSize size : {QSize(1, 1), QSize(1, 40), QSize(40, 1), QSize(2, 2), QSize(3, 5),
                 QSize(13, 7), QSize(40, 30), QSize(97, 61)}) {
            QTest::addRow("%d %dx%d many ties", int(format), size.width(), size.height())
                << format << size << fewReds;
            QTest::addRow("%d %dx%d all reds", int(format), size.width(), size.height())
                << format << size << ZTImageTest::allReds();
            QTest::addRow("%d %dx%d mostly dark", int(format), size.width(), size.height())
                << format << size << greyMap;
        }
    }
}

// Random words with many equal reds against the filter as defined, for arm lengths from none to
// longer than the picture and thresholds at both ends of the red range. RGB32 words carry random
// alpha bytes, which copies must replace by 255 as setPixel does while other pixels keep them.
void tst_ZTMaxFilter::matchesNaiveFilter()
{
    QFETCH(QImage::Format, format);
    QFETCH(QSize, size);
    QFETCH(std::vector<int>, reds);
    std::mt19937 random(size.width() * 1000 + size.height());
    for (int picture = 0; picture < 3; ++picture) {
        const QImage input = ZTImageTest::randomPicture(size, format, random, reds);
        for (const int filterSize : {0, 1, 2, 3, 4, 7, 90, -1, -3}) {
            for (const int threshold : {-1, 0, 50, 150, 254, 255}) {
                ZTMaxFilter filter(filterSize, threshold);
                const QString name = QStringLiteral("maxfilter-%1-%2x%3-size%4-threshold%5")
                                         .arg(int(format))
                                         .arg(size.width())
                                         .arg(size.height())
                                         .arg(filterSize)
                                         .arg(threshold);
                QVERIFY2(ZTImageTest::sameStoredPixels(filter.evaluate(input),
                             ZTImageTest::naiveMaxFilter(input, filterSize, threshold), name),
                    qPrintable(name));
            }
        }
    }
}

// Arms that reach past every border reach every pixel of the row and column, however long.
void tst_ZTMaxFilter::armsLongerThanThePicture()
{
    std::mt19937 random(11);
    const QImage input = ZTImageTest::randomPicture(
        QSize(31, 17), QImage::Format_ARGB32, random, {0, 10, 60, 60, 200});
    const QImage expected = ZTImageTest::naiveMaxFilter(input, 2 * 31 + 1, 50);
    for (const int size : {63, 64, 1000, INT_MAX}) {
        ZTMaxFilter filter(size, 50);
        QVERIFY(ZTImageTest::sameStoredPixels(filter.evaluate(input), expected, "long arms"));
    }
}

void tst_ZTMaxFilter::greyMapsMatchNaiveFilter_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("oneColouredPixel");
    for (const QImage::Format format :
        {QImage::Format_RGB32, QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied}) {
        for (const QSize size :
            {QSize(1, 1), QSize(2, 1), QSize(1, 2), QSize(2, 2), QSize(1, 37), QSize(37, 1),
                QSize(3, 5), QSize(16, 16), QSize(17, 15), QSize(64, 9), QSize(97, 61)}) {
            QTest::addRow("%d %dx%d", int(format), size.width(), size.height())
                << format << size << false;
        }
        QTest::addRow("%d 31x23 with one coloured pixel", int(format))
            << format << QSize(31, 23) << true;
    }
}

// Opaque grey maps, the maps that salience methods filter, against the filter as defined: arms
// from none to longer than the picture, thresholds at both ends of the red range. One coloured
// pixel makes a map no longer grey, which must not change the result either.
void tst_ZTMaxFilter::greyMapsMatchNaiveFilter()
{
    QFETCH(QImage::Format, format);
    QFETCH(QSize, size);
    QFETCH(bool, oneColouredPixel);
    std::mt19937 random(size.width() * 1000 + size.height());
    const std::vector<std::vector<int>> redSets
        = {{0, 1, 50, 51, 150, 151, 254, 255}, ZTImageTest::allReds(), {0, 0, 0, 0, 60, 200}};
    for (const std::vector<int>& reds : redSets) {
        QImage input = greyMap(size, format, random, reds);
        if (oneColouredPixel) {
            input.setPixel(size.width() / 2, size.height() / 3, qRgb(200, 7, 9));
        }
        for (const int filterSize : {0, 2, 3, 4, 7, 9, 15, 31, 90, 200}) {
            for (const int threshold : {-1, 0, 50, 150, 254, 255}) {
                ZTMaxFilter filter(filterSize, threshold);
                const QString name = QStringLiteral("greymap-%1-%2x%3-size%4-threshold%5")
                                         .arg(int(format))
                                         .arg(size.width())
                                         .arg(size.height())
                                         .arg(filterSize)
                                         .arg(threshold);
                QVERIFY2(ZTImageTest::sameStoredPixels(filter.evaluate(input),
                             ZTImageTest::naiveMaxFilter(input, filterSize, threshold), name),
                    qPrintable(name));
            }
        }
    }
}

void tst_ZTMaxFilter::otherFormatsMatchNaiveFilter_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::newRow("RGB888") << QImage::Format_RGB888;
    QTest::newRow("RGB16") << QImage::Format_RGB16;
    QTest::newRow("Grayscale8") << QImage::Format_Grayscale8;
    QTest::newRow("RGBA8888") << QImage::Format_RGBA8888;
    QTest::newRow("ARGB8565 premultiplied") << QImage::Format_ARGB8565_Premultiplied;
    QTest::newRow("A2RGB30 premultiplied") << QImage::Format_A2RGB30_Premultiplied;
}

// Formats whose words are not QRgb are filtered through pixel reads and writes, as defined;
// some of them store a copied pixel with another red than it was read with.
void tst_ZTMaxFilter::otherFormatsMatchNaiveFilter()
{
    QFETCH(QImage::Format, format);
    std::mt19937 random(static_cast<unsigned>(format));
    const QImage input
        = ZTImageTest::randomPicture(QSize(23, 19), format, random, {0, 40, 60, 90, 160, 200, 255});
    for (const int size : {3, 7, 90}) {
        ZTMaxFilter filter(size, 50);
        const QImage result = filter.evaluate(input);
        QCOMPARE(result.format(), format);
        QVERIFY(ZTImageTest::sameStoredPixels(
            result, ZTImageTest::naiveMaxFilter(input, size, 50), "formats"));
    }
}

// An indexed image keeps its format and colour table; winners pass on their colour index. An
// index outside the colour table reads as red 0 without a warning.
void tst_ZTMaxFilter::indexedImageCopiesColourIndices()
{
    QImage image(6, 5, QImage::Format_Indexed8);
    image.setColorTable({qRgb(0, 0, 0), qRgb(100, 1, 2), qRgb(100, 3, 4), qRgb(200, 5, 6)});
    std::mt19937 random(3);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            image.setPixel(x, y, uint(random() % 4));
        }
    }
    image.scanLine(4)[5] = 9; // outside the colour table

    capturedWarnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureWarning);
    ZTMaxFilter filter(5, 50);
    const QImage result = filter.evaluate(image);
    qInstallMessageHandler(previous);
    QCOMPARE(capturedWarnings, QStringList());

    QCOMPARE(result.format(), QImage::Format_Indexed8);
    QCOMPARE(result.colorTable(), image.colorTable());
    QImage known = image;
    known.scanLine(4)[5] = 0; // black, the colour the outside index reads as
    QImage expected
        = ZTImageTest::naiveMaxFilter(known.convertToFormat(QImage::Format_ARGB32), 5, 50);
    QImage actual = result;
    if (actual.scanLine(4)[5] == 9) {
        actual.scanLine(4)[5] = 0;
    }
    QVERIFY(ZTImageTest::sameStoredPixels(
        actual.convertToFormat(QImage::Format_ARGB32), expected, "indexed"));
}

void tst_ZTMaxFilter::nullImageGivesNullImage()
{
    ZTMaxFilter filter(7, 50);
    QVERIFY(filter.evaluate(QImage()).isNull());
}

QTEST_GUILESS_MAIN(tst_ZTMaxFilter)
#include "tst_ZTMaxFilter.moc"
