// Crop geometry: windows of an aspect, placed on the salience map and mapped back to the input
// picture; declared areas that crops keep; the salience they keep and the focal point.

#include "ZTImageTestSupport.h"
#include "crops/ZTCropPlanner.h"

#include <ZTSalienzMaximizerHorizontal.h>
#include <ZTSalienzMaximizerVertical.h>

#include <QtTest>

#include <limits>

namespace {

// A map of random salience (every red 0 ... 255, or @p red only).
QImage randomMap(const QSize& size, int red = -1)
{
    std::mt19937 random(quint32(size.width() * 1000 + size.height()));
    return ZTImageTest::randomPicture(size, QImage::Format_ARGB32, random,
        red < 0 ? ZTImageTest::allReds() : std::vector<int> {red});
}

} // namespace

class tst_ZTCropPlanner : public QObject
{
    Q_OBJECT

private slots:
    void scaleRounded();
    void plan_data();
    void plan();
    void maximizerStartIsStartOfBestRange();
    void startWithinIsBestRangeOfTheRange();
    void declaredAreas_data();
    void declaredAreas();
    void salienceKeptAndFocalPoint();
};

// Halves away from zero, no overflow; rects keep at least one pixel; an empty size gives null.
void tst_ZTCropPlanner::scaleRounded()
{
    const int max = std::numeric_limits<int>::max();
    QCOMPARE(ZTMapGeometry::scaleRounded(-5, 1, 2), -3);
    QCOMPARE(ZTMapGeometry::scaleRounded(5, 1, 0), 0);
    QCOMPARE(ZTMapGeometry::scaleRounded(max, max, 1), max);
    const ZTMapGeometry geometry(QSize(4000, 3000), QSize(400, 300));
    QCOMPARE(geometry.toMap(QRect(1001, 501, 3, 3)), QRect(100, 50, 1, 1));
    QCOMPARE(geometry.toInput(QRect(10, 20, 5, 1)), QRect(100, 200, 50, 10));
    QCOMPARE(ZTMapGeometry(QSize(), QSize(10, 10)).toMap(QRect(0, 0, 5, 5)), QRect());
}

void tst_ZTCropPlanner::plan_data()
{
    QTest::addColumn<QSize>("input");
    QTest::addColumn<QSize>("ratio");
    QTest::addColumn<int>("start"); // where the maximizer puts the window on the map
    QTest::addColumn<QString>("expected");

    const auto row = [](const char* name, QSize input, QSize ratio, int start, const char* rect) {
        QTest::newRow(name) << input << ratio << start << QString(rect);
    };
    // The map is the picture scaled to fit 480x480. The window's length on the map is asked for
    // (H: columns, V: rows); its start comes back rounded to the nearest input pixel.
    row("scale 1.25, halves round up", {600, 400}, {1, 1}, 50, "63,0 400x400 (H320)");
    row("scale 2.5", {1200, 800}, {1, 1}, 37, "93,0 800x800 (H320)");
    row("scale 0.625", {300, 200}, {1, 1}, 10, "6,0 200x200 (H320)");
    row("wider aspect, truncated", {600, 400}, {16, 9}, 30, "0,38 600x337 (V270)");
    row("narrower aspect", {600, 400}, {4, 5}, 100, "125,0 320x400 (H256)");
    row("extremely narrow", {600, 400}, {1, 100000}, 7, "9,0 1x400 (H1)");
    row("start past the room is clamped", {601, 400}, {1, 1}, 161, "201,0 400x400 (H319)");
    // Room 201 and 100, halved and truncated.
    row("nothing found: centred", {601, 400}, {1, 1}, -1, "100,0 400x400 centred (H319)");
    row("nothing found, wide: centred", {601, 400}, {2, 1}, -1, "0,50 601x300 centred (V239)");
    // 999 of 1000 columns round to all 480 map columns: nothing for a maximizer to choose.
    row("window fills the map axis", {1000, 400}, {999, 400}, 0, "0,0 999x400 centred");
    row("the picture's aspect", {600, 400}, {3, 2}, 0, "0,0 600x400 centred");
    row("empty picture", {0, 400}, {1, 1}, 0, "0,0 0x0 centred");
    row("zero aspect", {600, 400}, {0, 9}, 0, "0,0 0x0 centred");
}

void tst_ZTCropPlanner::plan()
{
    QFETCH(QSize, input);
    QFETCH(QSize, ratio);
    QFETCH(int, start);
    QFETCH(QString, expected);

    QString asked;
    const auto maximizer = [&](Qt::Orientation axis, int length) {
        asked += QStringLiteral(" (%1%2)").arg(axis == Qt::Horizontal ? 'H' : 'V').arg(length);
        return start;
    };
    const ZTSalienceProfile profile(randomMap(input.scaled(480, 480, Qt::KeepAspectRatio), 100));
    const ZTCrop crop
        = ZTCropPlanner(profile, input, maximizer).plan({{}, ratio.width(), ratio.height(), {}});
    const QRect r = crop.rect;
    QCOMPARE(QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height())
            + (crop.centred ? " centred" : "") + asked,
        expected);
}

// The running sums are taken once per map; the starts must be the maximizers' own, for every
// window length, including the special results 0 and -1.
void tst_ZTCropPlanner::maximizerStartIsStartOfBestRange()
{
    const QImage map = randomMap(QSize(48, 32));
    for (const auto method : {SalienzPixelWeightLinear, SalienzPixelWeightThreshold}) {
        const ZTCropPlanner::BestStart start = ZTCropPlanner::maximizer(map, method).start;
        for (int length = 0; length <= 49; ++length) {
            QCOMPARE(start(Qt::Horizontal, length),
                ZTSalienzMaximizerHorizontal(method).startOfBestRange(map, length));
            QCOMPARE(start(Qt::Vertical, length),
                ZTSalienzMaximizerVertical(method).startOfBestRange(map, length));
        }
    }
}

// Limited to starts first ... last, the search is the library's bestRange() on the running sums
// from first - 1 to last + length: its candidates 1 ... are then exactly first ... last. The
// whole axis gives bestRange() itself.
void tst_ZTCropPlanner::startWithinIsBestRangeOfTheRange()
{
    const QImage map = randomMap(QSize(24, 17));
    const ZTSalienzMaximizerHorizontal library(SalienzPixelWeightThreshold);
    const QList<qint64> running = library.conglumerate(library.sums(map));
    const ZTCropPlanner::BestStartWithin within
        = ZTCropPlanner::maximizer(map, SalienzPixelWeightThreshold).startWithin;
    const int n = running.size();
    for (int length = 0; length < n; ++length) {
        QCOMPARE(within(Qt::Horizontal, length, 0, n), library.bestRange(running, length));
        for (int first = 1; first <= n - length - 1; ++first) {
            for (int last = first; last <= n - length - 1; ++last) {
                const int start
                    = library.bestRange(running.mid(first - 1, last + length - first + 2), length);
                QCOMPARE(within(Qt::Horizontal, length, first, last),
                    start < 0 ? -1 : first - 1 + start);
            }
        }
    }
    QCOMPARE(within(Qt::Vertical, 20, 0, 20), -1); // longer than the 17 rows
}

void tst_ZTCropPlanner::declaredAreas_data()
{
    QTest::addColumn<QSize>("input");
    QTest::addColumn<QString>("salience");
    QTest::addColumn<QList<QRect>>("areas");
    QTest::addColumn<QList<QRect>>("cores");
    QTest::addColumn<QString>("expected");

    // The map is a tenth of the picture; its salience grows towards the far end of the free
    // axis ("far"), the near one ("near"), or is nowhere ("none"). A 1:1 crop of 300x100 is
    // 100x100 at offsets 0 ... 200; unconstrained, "far" puts it at 190.
    const auto row = [](const char* name, QSize input, const char* salience,
                         const QList<QRect>& areas, const QList<QRect>& cores, const char* crop) {
        QTest::newRow(name) << input << QString(salience) << areas << cores << QString(crop);
    };
    const QSize wide(300, 100);
    row("all fit: the salience places the window among the starts that keep them", wide, "far",
        {{20, 10, 30, 30}, {60, 0, 10, 100}}, {}, "20,0 kept 2");
    row("upright: the same along the rows", {100, 300}, "far", {{10, 20, 20, 30}}, {},
        "0,20 kept 1");
    row("cannot all fit: the most areas, though the other is bigger", wide, "far",
        {{10, 0, 20, 20}, {60, 0, 20, 20}, {250, 0, 30, 30}}, {}, "10,0 kept 2");
    row("as many: the bigger area, against the salience", wide, "near",
        {{10, 0, 20, 20}, {250, 0, 30, 30}}, {}, "180,0 kept 1");
    row("as big: the one that keeps more salience, far", wide, "far",
        {{10, 0, 20, 20}, {250, 0, 20, 20}}, {}, "190,0 kept 1");
    row("as big: the one that keeps more salience, near", wide, "near",
        {{10, 0, 20, 20}, {250, 0, 20, 20}}, {}, "10,0 kept 1");
    row("too wide for the window: its core", wide, "far", {{50, 0, 150, 100}}, {{120, 10, 20, 20}},
        "120,0 kept 1");
    row("too wide without a core: placed as without areas", wide, "far", {{50, 0, 150, 100}}, {},
        "190,0 kept 0");
    row("outside the picture: left out", wide, "far", {{400, 0, 10, 10}, {-50, 0, 40, 10}}, {},
        "190,0 kept 0");
    row("partly outside: clipped", wide, "far", {{250, 0, 100, 10}}, {}, "200,0 kept 1");
    // Start 0 is never a candidate of the maximizer, but it is the only start that keeps it.
    row("one start keeps it: placed there, not centred", wide, "far", {{0, 0, 100, 100}}, {},
        "0,0 kept 1");
    row("no salience among the starts: centred among them", wide, "none", {{20, 0, 30, 30}}, {},
        "10,0 kept 1 centred");
}

void tst_ZTCropPlanner::declaredAreas()
{
    QFETCH(QSize, input);
    QFETCH(QString, salience);
    QFETCH(QList<QRect>, areas);
    QFETCH(QList<QRect>, cores);
    QFETCH(QString, expected);

    const bool horizontal = input.width() > input.height();
    QImage map(input / 10, QImage::Format_ARGB32);
    for (int y = 0; y < map.height(); ++y) {
        for (int x = 0; x < map.width(); ++x) {
            const int along = horizontal ? x : y;
            const int red = salience == "far" ? 8 * along
                : salience == "near"          ? 8 * (29 - along)
                                              : 0;
            map.setPixel(x, y, qRgb(red, red, red));
        }
    }
    const ZTCropPlanner::Maximizer maximizer
        = ZTCropPlanner::maximizer(map, SalienzPixelWeightLinear);
    ZTCropPlanner planner(ZTSalienceProfile(map), input, maximizer.start);
    QList<ZTDeclaredArea> declared;
    for (int i = 0; i < areas.size(); ++i) {
        declared.append({areas.at(i), cores.value(i)});
    }
    planner.setDeclaredAreas(declared, maximizer.startWithin);
    const ZTCrop crop = planner.plan({{}, 1, 1, {}});
    QCOMPARE(crop.rect.size(), QSize(100, 100));
    QCOMPARE(
        QStringLiteral("%1,%2 kept %3").arg(crop.rect.x()).arg(crop.rect.y()).arg(crop.areasKept)
            + (crop.centred ? " centred" : ""),
        expected);
}

// Against the map's column and row sums: for every start of a square crop, the share of the
// salience in the window of map pixels that the maximizer chose; and the salience-weighted
// centroid of the map's pixel centres, in input pixels. On an input 8.33 times the map and not
// in proportion, a portrait 3.7 times the map, and a map without salience: nothing kept, the
// focus in the middle.
void tst_ZTCropPlanner::salienceKeptAndFocalPoint()
{
    for (const auto& [input, mapSize, red] : {std::tuple {QSize(400, 267), QSize(48, 32), -1},
             {QSize(111, 178), QSize(30, 48), -1}, {QSize(601, 401), QSize(48, 32), 0}}) {
        const QImage map = randomMap(mapSize, red);
        const QList<qint64> columns
            = ZTSalienzMaximizerHorizontal(SalienzPixelWeightLinear).sums(map);
        const QList<qint64> rows = ZTSalienzMaximizerVertical(SalienzPixelWeightLinear).sums(map);
        const qint64 total = std::accumulate(columns.begin(), columns.end(), qint64(0));
        const auto centroid = [total](const QList<qint64>& sums, int inputLength) {
            double weighted = 0.0;
            for (int i = 0; i < sums.size(); ++i) {
                weighted += (i + 0.5) * sums[i];
            }
            return total == 0 ? inputLength / 2 : int(weighted / total * inputLength / sums.size());
        };
        int start = 0;
        int length = 0;
        const ZTCropPlanner planner(ZTSalienceProfile(map), input, [&](Qt::Orientation, int l) {
            length = l;
            return start;
        });
        QCOMPARE(planner.focalPoint(),
            QPoint(centroid(columns, input.width()), centroid(rows, input.height())));
        planner.plan({{}, 1, 1, {}});
        const QList<qint64>& sums = input.width() > input.height() ? columns : rows;
        for (start = 0; start + length <= sums.size(); ++start) {
            const qint64 kept
                = std::accumulate(sums.begin() + start, sums.begin() + start + length, qint64(0));
            QCOMPARE(planner.plan({{}, 1, 1, {}}).salienceKept,
                total == 0 ? 0.0 : double(kept) / double(total));
        }
    }
}

QTEST_GUILESS_MAIN(tst_ZTCropPlanner)
#include "tst_ZTCropPlanner.moc"
