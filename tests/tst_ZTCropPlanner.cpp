#include "ZTCropPlanner.h"
#include "ZTMapGeometry.h"
#include "ZTSalienceProfile.h"

#include <ZTSalienzMaximizerHorizontal.h>
#include <ZTSalienzMaximizerVertical.h>

#include <QtTest>

#include <QRandomGenerator>

#include <limits>

namespace {

// A map whose column x holds the salience columnValues[x] in every row.
QImage columnMap(const QVector<int>& columnValues, int height)
{
    QImage map(columnValues.size(), height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(map.scanLine(y));
        for (int x = 0; x < columnValues.size(); ++x) {
            const int v = columnValues.at(x);
            line[x] = qRgb(v, v, v);
        }
    }
    return map;
}

QImage uniformMap(const QSize& size, int value)
{
    QImage map(size, QImage::Format_ARGB32);
    map.fill(qRgb(value, value, value));
    return map;
}

// A stand-in for the maximizers: answers with a fixed start and records what it was asked.
struct FakeMaximizer
{
    int answer = -1;
    int calls = 0;
    Qt::Orientation axis = Qt::Horizontal;
    int length = -1;

    ZTCropPlanner::BestStart function()
    {
        return [this](Qt::Orientation a, int l) {
            ++calls;
            axis = a;
            length = l;
            return answer;
        };
    }
};

ZTCropRequest aspect(int width, int height)
{
    ZTCropRequest request;
    request.text = QStringLiteral("%1:%2").arg(width).arg(height);
    request.aspectWidth = width;
    request.aspectHeight = height;
    return request;
}

} // namespace

class tst_ZTCropPlanner : public QObject
{
    Q_OBJECT

private slots:
    void scaleRounded_data();
    void scaleRounded();
    void mapEdgesSurviveTheRoundTrip_data();
    void mapEdgesSurviveTheRoundTrip();
    void rectsKeepAtLeastOnePixel();

    void largestWindow_data();
    void largestWindow();

    void placesWindowAtMaximizerStart_data();
    void placesWindowAtMaximizerStart();
    void centresWhenMaximizerFindsNothing();
    void centresWhenWindowFillsTheMapAxis();
    void exactAspectIsCentredWithoutAsking();

    void maximizerStartIsStartOfBestRange_data();
    void maximizerStartIsStartOfBestRange();
    void brightBandDecidesTheCrop();
    void thresholdIgnoresDimMaps();

    void salienceKeptMatchesNaiveSum_data();
    void salienceKeptMatchesNaiveSum();
    void blackMapKeepsNothingAndFocusesOnCentre();
    void focalPointIsSalienceCentroid_data();
    void focalPointIsSalienceCentroid();
};

void tst_ZTCropPlanner::scaleRounded_data()
{
    QTest::addColumn<qint64>("value");
    QTest::addColumn<qint64>("numerator");
    QTest::addColumn<qint64>("denominator");
    QTest::addColumn<int>("expected");

    QTest::newRow("exact") << qint64(48) << qint64(600) << qint64(480) << 60;
    QTest::newRow("half rounds up") << qint64(50) << qint64(600) << qint64(480) << 63;
    QTest::newRow("below half rounds down") << qint64(10) << qint64(300) << qint64(480) << 6;
    QTest::newRow("negative half rounds away from zero")
        << qint64(-5) << qint64(1) << qint64(2) << -3;
    QTest::newRow("zero denominator") << qint64(5) << qint64(1) << qint64(0) << 0;
    QTest::newRow("huge product clamps")
        << qint64(std::numeric_limits<int>::max()) << qint64(std::numeric_limits<int>::max())
        << qint64(1) << std::numeric_limits<int>::max();
}

void tst_ZTCropPlanner::scaleRounded()
{
    QFETCH(qint64, value);
    QFETCH(qint64, numerator);
    QFETCH(qint64, denominator);
    QFETCH(int, expected);
    QCOMPARE(ZTMapGeometry::scaleRounded(value, numerator, denominator), expected);
}

void tst_ZTCropPlanner::mapEdgesSurviveTheRoundTrip_data()
{
    QTest::addColumn<QSize>("input");
    QTest::addColumn<QSize>("map");

    QTest::newRow("same size") << QSize(480, 320) << QSize(480, 320);
    QTest::newRow("1.25") << QSize(600, 400) << QSize(480, 320);
    QTest::newRow("2.5") << QSize(1200, 800) << QSize(480, 320);
    QTest::newRow("8.33") << QSize(4000, 3000) << QSize(480, 360);
    QTest::newRow("odd 1.0021") << QSize(481, 321) << QSize(480, 320);
    QTest::newRow("portrait 3.7") << QSize(1111, 1777) << QSize(300, 480);
}

// Crops start at map edges chosen by a maximizer; taken to input pixels and back they must name
// the same map edge, or the salience kept would be measured on another window.
void tst_ZTCropPlanner::mapEdgesSurviveTheRoundTrip()
{
    QFETCH(QSize, input);
    QFETCH(QSize, map);
    const ZTMapGeometry geometry(input, map);
    for (int x = 0; x <= map.width(); ++x) {
        QCOMPARE(geometry.toMapX(geometry.toInputX(x)), x);
    }
    for (int y = 0; y <= map.height(); ++y) {
        QCOMPARE(geometry.toMapY(geometry.toInputY(y)), y);
    }
    QCOMPARE(geometry.toInputX(map.width()), input.width());
    QCOMPARE(geometry.toInputY(map.height()), input.height());
}

void tst_ZTCropPlanner::rectsKeepAtLeastOnePixel()
{
    const ZTMapGeometry geometry(QSize(4000, 3000), QSize(400, 300));
    QCOMPARE(geometry.toMap(QRect(1000, 500, 2000, 1000)), QRect(100, 50, 200, 100));
    QCOMPARE(geometry.toMap(QRect(1001, 501, 3, 3)), QRect(100, 50, 1, 1));
    QCOMPARE(geometry.toInput(QRect(10, 20, 5, 1)), QRect(100, 200, 50, 10));
    QCOMPARE(ZTMapGeometry(QSize(), QSize(10, 10)).toMap(QRect(0, 0, 5, 5)), QRect());
}

void tst_ZTCropPlanner::largestWindow_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<int>("aspectWidth");
    QTest::addColumn<int>("aspectHeight");
    QTest::addColumn<QSize>("expected");

    QTest::newRow("square from landscape") << QSize(600, 400) << 1 << 1 << QSize(400, 400);
    QTest::newRow("narrower aspect") << QSize(600, 400) << 4 << 5 << QSize(320, 400);
    QTest::newRow("wider aspect truncates") << QSize(600, 400) << 16 << 9 << QSize(600, 337);
    QTest::newRow("same aspect") << QSize(600, 400) << 3 << 2 << QSize(600, 400);
    QTest::newRow("wider from portrait") << QSize(400, 600) << 16 << 9 << QSize(400, 225);
    QTest::newRow("narrower from portrait") << QSize(400, 600) << 1 << 2 << QSize(300, 600);
    QTest::newRow("extreme tall keeps one pixel")
        << QSize(600, 400) << 1 << 100000 << QSize(1, 400);
    QTest::newRow("extreme wide keeps one pixel")
        << QSize(600, 400) << 100000 << 1 << QSize(600, 1);
    QTest::newRow("empty picture") << QSize(0, 400) << 1 << 1 << QSize();
    QTest::newRow("zero aspect") << QSize(600, 400) << 0 << 9 << QSize();
}

void tst_ZTCropPlanner::largestWindow()
{
    QFETCH(QSize, picture);
    QFETCH(int, aspectWidth);
    QFETCH(int, aspectHeight);
    QFETCH(QSize, expected);
    QCOMPARE(ZTCropPlanner::largestWindow(picture, aspectWidth, aspectHeight), expected);
}

void tst_ZTCropPlanner::placesWindowAtMaximizerStart_data()
{
    QTest::addColumn<QSize>("input");
    QTest::addColumn<QSize>("map");
    QTest::addColumn<int>("aspectWidth");
    QTest::addColumn<int>("aspectHeight");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("expectedAxis"); // Qt::Orientation
    QTest::addColumn<int>("expectedLength");
    QTest::addColumn<QRect>("expected");

    // Window length on the map is the input window rounded to map pixels; the start comes back
    // rounded to the nearest input pixel.
    QTest::newRow("scale 1") << QSize(480, 320) << QSize(480, 320) << 1 << 1 << 50
                             << int(Qt::Horizontal) << 320 << QRect(50, 0, 320, 320);
    QTest::newRow("scale 1.25") << QSize(600, 400) << QSize(480, 320) << 1 << 1 << 50
                                << int(Qt::Horizontal) << 320 << QRect(63, 0, 400, 400);
    QTest::newRow("scale 2.5") << QSize(1200, 800) << QSize(480, 320) << 1 << 1 << 37
                               << int(Qt::Horizontal) << 320 << QRect(93, 0, 800, 800);
    QTest::newRow("scale 8.33") << QSize(4000, 3000) << QSize(480, 360) << 1 << 1 << 60
                                << int(Qt::Horizontal) << 360 << QRect(500, 0, 3000, 3000);
    QTest::newRow("upscaled map 0.625") << QSize(300, 200) << QSize(480, 320) << 1 << 1 << 10
                                        << int(Qt::Horizontal) << 320 << QRect(6, 0, 200, 200);
    QTest::newRow("portrait, vertical axis") << QSize(400, 600) << QSize(320, 480) << 1 << 1 << 80
                                             << int(Qt::Vertical) << 320 << QRect(0, 100, 400, 400);
    QTest::newRow("wide aspect on landscape") << QSize(600, 400) << QSize(480, 320) << 16 << 9 << 30
                                              << int(Qt::Vertical) << 270 << QRect(0, 38, 600, 337);
    QTest::newRow("start past the room is clamped")
        << QSize(601, 400) << QSize(480, 320) << 1 << 1 << 161 << int(Qt::Horizontal) << 319
        << QRect(201, 0, 400, 400);
}

void tst_ZTCropPlanner::placesWindowAtMaximizerStart()
{
    QFETCH(QSize, input);
    QFETCH(QSize, map);
    QFETCH(int, aspectWidth);
    QFETCH(int, aspectHeight);
    QFETCH(int, start);
    QFETCH(int, expectedAxis);
    QFETCH(int, expectedLength);
    QFETCH(QRect, expected);

    FakeMaximizer maximizer;
    maximizer.answer = start;
    const ZTCropPlanner planner(
        ZTSalienceProfile(uniformMap(map, 100)), input, maximizer.function());
    const ZTCrop crop = planner.plan(aspect(aspectWidth, aspectHeight));
    QCOMPARE(maximizer.calls, 1);
    QCOMPARE(int(maximizer.axis), expectedAxis);
    QCOMPARE(maximizer.length, expectedLength);
    QCOMPARE(crop.rect, expected);
    QVERIFY(!crop.centred);
    QVERIFY(QRect(QPoint(0, 0), input).contains(crop.rect));
}

void tst_ZTCropPlanner::centresWhenMaximizerFindsNothing()
{
    FakeMaximizer maximizer; // answers -1
    const ZTCropPlanner planner(
        ZTSalienceProfile(uniformMap(QSize(480, 320), 100)), QSize(601, 400), maximizer.function());
    const ZTCrop square = planner.plan(aspect(1, 1));
    QCOMPARE(square.rect, QRect(100, 0, 400, 400)); // room 201, halved and truncated
    QVERIFY(square.centred);
    const ZTCrop wide = planner.plan(aspect(2, 1));
    QCOMPARE(wide.rect, QRect(0, 50, 601, 300)); // room 100
    QVERIFY(wide.centred);
}

void tst_ZTCropPlanner::centresWhenWindowFillsTheMapAxis()
{
    // 999 of 1000 input columns round to all 480 map columns: nothing for a maximizer to choose.
    FakeMaximizer maximizer;
    maximizer.answer = 0;
    const ZTCropPlanner planner(ZTSalienceProfile(uniformMap(QSize(480, 192), 100)),
        QSize(1000, 400), maximizer.function());
    const ZTCrop crop = planner.plan(aspect(999, 400));
    QCOMPARE(maximizer.calls, 0);
    QCOMPARE(crop.rect, QRect(0, 0, 999, 400));
    QVERIFY(crop.centred);
}

void tst_ZTCropPlanner::exactAspectIsCentredWithoutAsking()
{
    FakeMaximizer maximizer;
    const ZTCropPlanner planner(
        ZTSalienceProfile(uniformMap(QSize(480, 320), 7)), QSize(600, 400), maximizer.function());
    const ZTCrop crop = planner.plan(aspect(3, 2));
    QCOMPARE(maximizer.calls, 0);
    QCOMPARE(crop.rect, QRect(0, 0, 600, 400));
    QVERIFY(crop.centred);
    QCOMPARE(crop.salienceKept, 1.0);
}

void tst_ZTCropPlanner::maximizerStartIsStartOfBestRange_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("method");

    QTest::newRow("48x32 linear") << QSize(48, 32) << int(SalienzPixelWeightLinear);
    QTest::newRow("48x32 threshold") << QSize(48, 32) << int(SalienzPixelWeightThreshold);
    QTest::newRow("17x61 linear") << QSize(17, 61) << int(SalienzPixelWeightLinear);
    QTest::newRow("1x5 threshold") << QSize(1, 5) << int(SalienzPixelWeightThreshold);
}

// The cached running sums must answer exactly as the maximizers do on their own, for every
// window length, including the special results 0 and -1.
void tst_ZTCropPlanner::maximizerStartIsStartOfBestRange()
{
    QFETCH(QSize, size);
    QFETCH(int, method);

    QRandomGenerator random(quint32(size.width() * 1000 + size.height() + method));
    QImage map(size, QImage::Format_ARGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const int v = random.bounded(256);
            map.setPixel(x, y, qRgb(v, v, v));
        }
    }
    const auto weight = ZTSalienzPixelWeightMethod(method);
    const ZTCropPlanner::BestStart start = ZTCropPlanner::maximizerStart(map, weight);
    for (int length = 0; length <= size.width() + 1; ++length) {
        QCOMPARE(start(Qt::Horizontal, length),
            ZTSalienzMaximizerHorizontal(weight).startOfBestRange(map, length));
    }
    for (int length = 0; length <= size.height() + 1; ++length) {
        QCOMPARE(start(Qt::Vertical, length),
            ZTSalienzMaximizerVertical(weight).startOfBestRange(map, length));
    }
}

void tst_ZTCropPlanner::brightBandDecidesTheCrop()
{
    // Map 48x32 for a 480x320 picture; columns 30 ... 37 are bright. A square crop is 32 map
    // columns wide; starts 6 ... 15 all hold the whole band, and the earliest wins.
    QVector<int> columns(48, 0);
    for (int x = 30; x < 38; ++x) {
        columns[x] = 200;
    }
    const QImage map = columnMap(columns, 32);
    const ZTCropPlanner planner(ZTSalienceProfile(map), QSize(480, 320),
        ZTCropPlanner::maximizerStart(map, SalienzPixelWeightLinear));
    const ZTCrop crop = planner.plan(aspect(1, 1));
    QCOMPARE(crop.rect, QRect(60, 0, 320, 320));
    QVERIFY(!crop.centred);
    QCOMPARE(crop.salienceKept, 1.0);
    QCOMPARE(planner.focalPoint(), QPoint(340, 160));
}

void tst_ZTCropPlanner::thresholdIgnoresDimMaps()
{
    // 153 is not above the threshold: every window sums to 0 and the crop is centred.
    const QImage map = uniformMap(QSize(48, 32), 153);
    const ZTCropPlanner planner(ZTSalienceProfile(map), QSize(480, 320),
        ZTCropPlanner::maximizerStart(map, SalienzPixelWeightThreshold));
    const ZTCrop crop = planner.plan(aspect(1, 1));
    QCOMPARE(crop.rect, QRect(80, 0, 320, 320));
    QVERIFY(crop.centred);
}

void tst_ZTCropPlanner::salienceKeptMatchesNaiveSum_data()
{
    QTest::addColumn<QSize>("input");
    QTest::addColumn<int>("start");

    QTest::newRow("scale 1, start 3") << QSize(10, 4) << 3;
    QTest::newRow("scale 3, start 1") << QSize(30, 12) << 1;
    QTest::newRow("scale 2.5, start 2") << QSize(25, 10) << 2;
}

void tst_ZTCropPlanner::salienceKeptMatchesNaiveSum()
{
    QFETCH(QSize, input);
    QFETCH(int, start);

    const QVector<int> columns {0, 10, 200, 255, 30, 0, 90, 90, 1, 17};
    const QImage map = columnMap(columns, 4);
    FakeMaximizer maximizer;
    maximizer.answer = start;
    const ZTCropPlanner planner(ZTSalienceProfile(map), input, maximizer.function());
    const ZTCrop crop = planner.plan(aspect(1, 1)); // 4 map columns wide

    qint64 total = 0;
    qint64 kept = 0;
    for (int x = 0; x < columns.size(); ++x) {
        total += 4 * columns.at(x);
        if (x >= start && x < start + 4) {
            kept += 4 * columns.at(x);
        }
    }
    QCOMPARE(maximizer.length, 4);
    QCOMPARE(crop.salienceKept, double(kept) / double(total));
}

void tst_ZTCropPlanner::blackMapKeepsNothingAndFocusesOnCentre()
{
    FakeMaximizer maximizer;
    const ZTCropPlanner planner(
        ZTSalienceProfile(uniformMap(QSize(48, 32), 0)), QSize(601, 401), maximizer.function());
    QCOMPARE(planner.plan(aspect(1, 1)).salienceKept, 0.0);
    QCOMPARE(planner.focalPoint(), QPoint(300, 200));
}

void tst_ZTCropPlanner::focalPointIsSalienceCentroid_data()
{
    QTest::addColumn<QSize>("input");
    QTest::addColumn<QVector<QPoint>>("brightPixels");
    QTest::addColumn<QPoint>("expected");

    // Pixel centres: map pixel (30, 10) of 100 x 50 is at (30.5, 10.5), input 200 x 100 (61, 21).
    QTest::newRow("one pixel, scale 2")
        << QSize(200, 100) << QVector<QPoint> {{30, 10}} << QPoint(61, 21);
    QTest::newRow("one pixel, scale 1")
        << QSize(100, 50) << QVector<QPoint> {{99, 49}} << QPoint(99, 49);
    QTest::newRow("two pixels average")
        << QSize(100, 50) << QVector<QPoint> {{10, 10}, {20, 30}} << QPoint(15, 20);
    QTest::newRow("scale 0.5") << QSize(50, 25) << QVector<QPoint> {{31, 11}} << QPoint(15, 5);
}

void tst_ZTCropPlanner::focalPointIsSalienceCentroid()
{
    QFETCH(QSize, input);
    QFETCH(QVector<QPoint>, brightPixels);
    QFETCH(QPoint, expected);

    QImage map = uniformMap(QSize(100, 50), 0);
    for (const QPoint& p : brightPixels) {
        map.setPixel(p, qRgb(255, 255, 255));
    }
    const ZTCropPlanner planner(ZTSalienceProfile(map), input, {});
    QCOMPARE(planner.focalPoint(), expected);
}

QTEST_GUILESS_MAIN(tst_ZTCropPlanner)
#include "tst_ZTCropPlanner.moc"
