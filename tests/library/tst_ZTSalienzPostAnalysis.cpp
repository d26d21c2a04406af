// The crops planned from a salience map: windows of an aspect placed by the maximizers and mapped
// back to the picture, centred where the salience cannot place them, declared areas that crops
// keep, the salience they keep and the focal point; and what these rest on: the map geometry, the
// best window along either axis that the maximizers find, and ZTSalienzClusterer's cube map.

#include "ZTImageTestSupport.h"
#include "ZTMapGeometry.h"
#include "ZTSalienzClusterer.h"
#include "ZTSalienzCropPlanner.h"
#include "ZTSalienzMaximizerHorizontal.h"
#include "ZTSalienzMaximizerVertical.h"

#include <QPainter>
#include <QtTest>

#include <climits>
#include <limits>

namespace {

using namespace ZTImageTest;

using Crop = ZTSalienzCropPlanner::Crop;
using Sums = QList<qint64>;

// A map whose red at (x, y) is @p red(x, y); green and blue carry noise that must be ignored.
template<typename Red>
QImage mapOf(const QSize& size, Red red)
{
    QImage map(size, QImage::Format_RGB32);
    for (int i = 0; i < size.width() * size.height(); ++i) {
        const int x = i % size.width(), y = i / size.width();
        map.setPixel(x, y, qRgb(red(x, y), x * 7, y * 3));
    }
    return map;
}

// A map of @p value in @p area, 0 elsewhere.
QImage levelIn(const QSize& size, int value, const QRect& area = QRect(0, 0, 9999, 9999))
{
    return mapOf(size, [&](int x, int y) { return area.contains(x, y) ? value : 0; });
}

// A map a tenth of @p picture whose salience grows along its longer side towards the far end,
// or towards the near one.
QImage gradient(const QSize& picture, bool far)
{
    return mapOf(picture / 10, [&](int x, int y) {
        const int along = picture.width() > picture.height() ? x : y;
        return far ? 8 * along : 8 * (29 - along);
    });
}

QString describe(const Crop& crop)
{
    const QRect& r = crop.rect;
    return QString::asprintf("%d,%d %dx%d kept %d%s", r.x(), r.y(), r.width(), r.height(),
        crop.areasKept, crop.centred ? " centred" : "");
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
    void mapGeometry();
    void placement_data();
    void placement();
    void placementAmongAreasIsTheBestRangeOfTheirStarts();
    void salienceKept_data();
    void salienceKept();
    void focalPoint();
    void copiesAreIndependent();
    void totalSaturatesButClusterDoesNot();
    void cluster_data();
    void cluster();
    void bestRange_data();
    void bestRange();
    void sums();
};

// Halves away from zero, no overflow; rects keep at least one pixel; an empty size gives null.
void tst_ZTSalienzPostAnalysis::mapGeometry()
{
    QCOMPARE(ZTMapGeometry::scaleRounded(-5, 1, 2), -3);
    QCOMPARE(ZTMapGeometry::scaleRounded(5, 1, 0), 0);
    QCOMPARE(ZTMapGeometry::scaleRounded(INT_MAX, INT_MAX, 1), INT_MAX);
    const ZTMapGeometry geometry(QSize(4000, 3000), QSize(400, 300));
    QCOMPARE(geometry.toMap(QRect(1001, 501, 3, 3)), QRect(100, 50, 1, 1));
    QCOMPARE(geometry.toInput(QRect(10, 20, 5, 1)), QRect(100, 200, 50, 10));
    QCOMPARE(ZTMapGeometry(QSize(), QSize(10, 10)).toMap(QRect(0, 0, 5, 5)), QRect());
}

void tst_ZTSalienzPostAnalysis::placement_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QImage>("map");
    QTest::addColumn<QSize>("aspect");
    QTest::addColumn<QList<QRect>>("areas"); // declared unless the row's name says "no areas"
    QTest::addColumn<QList<QRect>>("cores");
    QTest::addColumn<QString>("expected");

    const auto row = [](const char* name, QSize picture, const QImage& map, QSize aspect,
                         const QList<QRect>& areas, const QList<QRect>& cores, const char* crop) {
        QTest::newRow(name) << picture << map << aspect << areas << cores << QString(crop);
    };
    const QSize map(480, 320);
    // A bright span exactly as long as the window on the map is where the maximizer starts it.
    // 16:9 exactly is 592x333, centred in the 8 columns left over.
    row("no areas: wider aspect along the rows, exact", {600, 400},
        levelIn(map, 255, {0, 30, 480, 270}), {16, 9}, {}, {}, "4,38 592x333 kept -1");
    row("no areas: extremely narrow, one pixel", {600, 400}, levelIn(map, 255, {7, 0, 1, 320}),
        {1, 100000}, {}, {}, "9,0 1x400 kept -1");
    // Centred: room 201, halved and truncated.
    row("no areas: no salience, centred", {601, 400}, levelIn({480, 319}, 0), {1, 1}, {}, {},
        "100,0 400x400 kept -1 centred");
    row("no areas: null map, centred", {600, 400}, QImage(), {1, 1}, {}, {},
        "100,0 400x400 kept -1 centred");
    // 999 of 1000 columns round to all 480 map columns: nothing for a maximizer to choose.
    row("no areas: window fills the map axis", {1000, 400},
        levelIn({480, 192}, 255, {300, 0, 1, 192}), {999, 400}, {}, {},
        "0,0 999x400 kept -1 centred");
    row("no areas: empty picture, null", {0, 400}, levelIn(map, 0), {1, 1}, {}, {},
        "0,0 0x0 kept -1 centred");
    row("no areas: negative aspect, null", {600, 400}, levelIn(map, 0), {-16, -9}, {}, {},
        "0,0 0x0 kept -1 centred");

    // Declared areas on maps a tenth of the picture whose salience grows towards the far end of
    // the free axis or the near one. A 1:1 crop of 300x100 is 100x100 at offsets 0 ... 200;
    // unconstrained, "far" puts it at 190.
    const QSize wide(300, 100), upright(100, 300);
    const QImage far = gradient(wide, true), near = gradient(wide, false);
    row("all fit: the salience places the window among the starts that keep them", wide, far,
        {1, 1}, {{20, 10, 30, 30}, {60, 0, 10, 100}}, {}, "20,0 100x100 kept 2");
    row("cannot all fit: the most areas, though the other is bigger", wide, far, {1, 1},
        {{10, 0, 20, 20}, {60, 0, 20, 20}, {250, 0, 30, 30}}, {}, "10,0 100x100 kept 2");
    row("as many: the bigger area, against the salience", wide, near, {1, 1},
        {{10, 0, 20, 20}, {250, 0, 30, 30}}, {}, "180,0 100x100 kept 1");
    row("as big: the one that keeps more salience", wide, far, {1, 1},
        {{10, 0, 20, 20}, {250, 0, 20, 20}}, {}, "190,0 100x100 kept 1");
    row("too wide for the window: its core", wide, far, {1, 1}, {{50, 0, 150, 100}},
        {{120, 10, 20, 20}}, "120,0 100x100 kept 1");
    // An area exactly as long as the window fits whole: keeping its core instead would let the
    // salience move the window to 180.
    row("as wide as the window: whole, not its core", wide, far, {1, 1}, {{100, 0, 100, 50}},
        {{180, 0, 10, 10}}, "100,0 100x100 kept 1");
    row("as tall as the window: whole, not its core", upright, gradient(upright, true), {1, 1},
        {{0, 100, 50, 100}}, {{0, 180, 10, 10}}, "0,100 100x100 kept 1");
    row("too wide without a core: placed as without areas", wide, far, {1, 1}, {{50, 0, 150, 100}},
        {}, "190,0 100x100 kept 0");
    row("outside the picture: left out", wide, far, {1, 1}, {{400, 0, 10, 10}, {-50, 0, 40, 10}},
        {}, "190,0 100x100 kept 0");
    row("declared, but none: counted as 0", wide, far, {1, 1}, {}, {}, "190,0 100x100 kept 0");
}

void tst_ZTSalienzPostAnalysis::placement()
{
    QFETCH(QSize, picture);
    QFETCH(QImage, map);
    QFETCH(QSize, aspect);
    QFETCH(QList<QRect>, areas);
    QFETCH(QList<QRect>, cores);

    ZTSalienzCropPlanner planner(map, picture);
    if (!QString(QTest::currentDataTag()).startsWith("no areas")) {
        QList<ZTSalienzCropPlanner::DeclaredArea> declared;
        for (int i = 0; i < areas.size(); ++i) {
            declared.append({areas.at(i), cores.value(i)});
        }
        planner.setDeclaredAreas(declared);
    }
    const Crop crop = planner.cropForAspect(aspect.width(), aspect.height());
    QTEST(describe(crop), "expected");
    QVERIFY(!crop.rect.isNull() || crop.salienceKept == 0.0);
    // An output size plans as its aspect.
    QCOMPARE(planner.cropForSize(aspect * 7).rect, crop.rect);
}

// With the map as large as the picture, one area limits the 8-pixel window to the starts
// first ... last. The crop starts where the library's bestRange() puts the window on the running
// sums from first - 1 to last + length (its candidates 1 ... are then exactly first ... last,
// the map's edges left out as always), or is centred among those starts.
void tst_ZTSalienzPostAnalysis::placementAmongAreasIsTheBestRangeOfTheirStarts()
{
    const QSize size(24, 8);
    const int length = 8;
    std::mt19937 random(24008);
    const QImage map = randomPicture(size, QImage::Format_ARGB32, random);
    for (const auto method : {SalienzPixelWeightLinear, SalienzPixelWeightThreshold}) {
        const ZTSalienzMaximizerHorizontal library(method);
        const QList<qint64> running = library.conglumerate(library.sums(map));
        const int lastStart = size.width() - length; // flush right: a start, not a candidate
        for (int begin = 0; begin < size.width(); ++begin) {
            for (int end = begin + 1; end <= std::min(begin + length, size.width()); ++end) {
                const int first = std::max(end - length, 0), last = std::min(begin, lastStart);
                const int from = std::max(first, 1), to = std::min(last, lastStart - 1);
                const int found = from <= to
                    ? library.bestRange(running.mid(from - 1, to + length - from + 2), length)
                    : -1;
                ZTSalienzCropPlanner planner(map, size, method);
                planner.setDeclaredAreas({{QRect(begin, 2, end - begin, 3), {}}});
                const QString area = QString::asprintf("area %d ... %d: ", begin, end);
                const int x = found < 0 ? first + (last - first) / 2 : from - 1 + found;
                const Crop expected {QRect(x, 0, 8, 8), 0.0, 1, found < 0 && first < last};
                QCOMPARE(area + describe(planner.cropForAspect(1, 1)), area + describe(expected));
            }
        }
    }
}

void tst_ZTSalienzPostAnalysis::salienceKept_data()
{
    QTest::addColumn<QRect>("rect"); // in an 8x8 picture
    QTest::addColumn<bool>("black");
    QTest::addColumn<int>("kept"); // of 1020

    // On the 4x4 map pixel (c, r) holds 2^c + 16 * 2^r: the columns hold 244, 248, 256 and 272,
    // the rows 79, 143, 271 and 527 of 1020.
    const auto row = [](const char* name, QRect rect, int kept, bool black = false) {
        QTest::newRow(name) << rect << black << kept;
    };
    row("the whole picture keeps all", {0, 0, 8, 8}, 1020);
    row("edges on half a map pixel round up", {1, 0, 4, 8}, 248 + 256);
    row("lower: the rows between its edges", {0, 1, 8, 4}, 143 + 271);
    row("partly left of the picture: clamped", {-4, 0, 6, 8}, 244);
    row("empty rect keeps nothing", {}, 0);
    row("black map keeps nothing", {0, 0, 8, 8}, 0, true);
}

void tst_ZTSalienzPostAnalysis::salienceKept()
{
    QFETCH(QRect, rect);
    QFETCH(bool, black);
    QFETCH(int, kept);

    const QImage map = mapOf(
        QSize(4, 4), [black](int c, int r) { return black ? 0 : (1 << c) + 16 * (1 << r); });
    // Kept salience is counted linearly whatever weighs the placement.
    const ZTSalienzCropPlanner planner(map, QSize(8, 8), SalienzPixelWeightThreshold);
    QCOMPARE(planner.salienceKept(rect), kept / 1020.0);
}

// Map pixel (x, y) stands for its centre (x + 0.5, y + 0.5), scaled to the picture and
// truncated; the pixels weigh by their salience.
void tst_ZTSalienzPostAnalysis::focalPoint()
{
    const auto focalPoint = [](const QList<QPoint>& pixels) {
        QImage map = levelIn(QSize(4, 4), 0);
        for (int i = 0; i < pixels.size(); ++i) {
            map.setPixel(pixels.at(i), qRgb(i == 0 ? 255 : 85, 0, 0));
        }
        return ZTSalienzCropPlanner(map, QSize(400, 300)).focalPoint();
    };
    QCOMPARE(focalPoint({{1, 2}}), QPoint(150, 187));
    QCOMPARE(focalPoint({{0, 0}, {3, 0}}), QPoint(125, 37));
    QCOMPARE(focalPoint({}), QPoint(200, 150)); // a black map: the picture's centre
    QCOMPARE(ZTSalienzCropPlanner(QImage(), QSize(400, 300)).focalPoint(), QPoint());
}

// A copy does not share the original's declared areas.
void tst_ZTSalienzPostAnalysis::copiesAreIndependent()
{
    ZTSalienzCropPlanner original(levelIn(QSize(30, 10), 9), QSize(300, 100));
    ZTSalienzCropPlanner copy(original);
    copy.setDeclaredAreas({{QRect(0, 0, 10, 10), {}}});
    QCOMPARE(qMakePair(original.cropForAspect(1, 1).areasKept, copy.cropForAspect(1, 1).areasKept),
        qMakePair(-1, 1));
}

// 3000 x 3000 white pixels hold 2 295 000 000, beyond INT_MAX: totalSalience() saturates, but
// cluster() keeps the true total and gives every cube its fair share, 128.
void tst_ZTSalienzPostAnalysis::totalSaturatesButClusterDoesNot()
{
    ZTSalienzClusterer clusterer;
    const QImage white = uniform(QSize(3000, 3000), qRgb(255, 255, 255));
    QCOMPARE(QVector<int>({clusterer.totalSalience(levelIn(QSize(2, 2), 3)),
                 clusterer.totalSalience(QImage()), clusterer.totalSalience(white)}),
        QVector<int>({12, 0, std::numeric_limits<int>::max()}));
    QVERIFY(clusterer.cluster(QImage()).isNull());
    QCOMPARE(ZTSalienzClusterer().cluster(white), uniform(white.size(), qRgb(128, 128, 128)));
}

// Every cube map is compared with the naive reference as a whole.
void tst_ZTSalienzPostAnalysis::cluster_data()
{
    QTest::addColumn<QImage>("map");
    QTest::addColumn<QSize>("counts"); // countCubesH, countCubesV

    // Mean 20, three cubes of 4: the first one's excess of 80 > 40 boosts it (80 * 120 * 128 /
    // 80), which the pixel at the mean would prevent if it counted as excess; the others' excess
    // of 40 is not more than twice the mean, so their 60 * 128 / 80 stay unboosted.
    const QImage atMean = mapOf(QSize(12, 1), [](int x, int) {
        return QVector<int> {20, 100, 0, 0, 60, 0, 0, 0, 0, 0, 0, 60}[x];
    });
    QTest::newRow("pixels at the mean are no excess, excess at twice the mean no boost")
        << atMean << QSize(1, 3);
    QTest::newRow("total 99 below 100 cubes: black")
        << levelIn(QSize(100, 100), 1, QRect(0, 0, 99, 1)) << QSize(10, 10);
    // 32-bit arithmetic would wrap the boosted sum times 128 and score 63.
    QTest::newRow("boosted sum beyond 32 bits saturates")
        << levelIn(QSize(50, 50), 255, QRect(0, 0, 27, 27)) << QSize(1, 1);
    // Random levels with sparse bright spots: cubes over the whole range, some boosted. Counts
    // that differ on the two axes, so that swapping them shows; counts below 1, which act as 1;
    // a map smaller than the grid, with one-pixel cubes; an 8-bit grey map.
    std::mt19937 random(7);
    for (const QRect& row : {QRect(64, 48, 10, 10), QRect(61, 37, 7, 3), QRect(37, 61, 3, 7),
             QRect(13, 7, 0, -3), QRect(5, 3, 10, 10), QRect(50, 1, 1, 8)}) {
        QTest::addRow("random %dx%d, counts %d, %d", row.x(), row.y(), row.width(), row.height())
            << randomPicture(QSize(row.x(), row.y()),
                   row.x() == 50 ? QImage::Format_Grayscale8 : QImage::Format_RGB32, random,
                   {0, 0, 0, 25, 25, 50, 50, 90, 255})
            << row.size();
    }
}

void tst_ZTSalienzPostAnalysis::cluster()
{
    QFETCH(QImage, map);
    QFETCH(QSize, counts);

    ZTSalienzClusterer clusterer;
    clusterer.setCountCubesH(counts.width());
    clusterer.setCountCubesV(counts.height());
    QCOMPARE(clusterer.cluster(map), naiveCluster(map, counts.width(), counts.height()));
}

// Rows give the values per position; conglumerate turns them into running sums first.
void tst_ZTSalienzPostAnalysis::bestRange_data()
{
    QTest::addColumn<Sums>("values");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("start");

    QTest::newRow("window at 0 is no candidate") << Sums {9, 9, 0, 0, 0} << 2 << 1;
    QTest::newRow("window flush right is no candidate") << Sums {0, 0, 0, 7, 7} << 2 << 2;
    QTest::newRow("earliest of equal windows wins") << Sums {0, 3, 3, 0, 3, 3, 0} << 2 << 1;
    QTest::newRow("all sums 0") << Sums {0, 0, 0, 0, 0, 0} << 2 << -1;
    QTest::newRow("four entries, L 4") << Sums {1, 2, 3, 4} << 4 << -1;
    QTest::newRow("four entries, L 5") << Sums {1, 2, 3, 4} << 5 << 0;
    QTest::newRow("length 0") << Sums {1, 2, 3, 4} << 0 << -1;
    QTest::newRow("running sums beyond 64 bits")
        << Sums {std::numeric_limits<qint64>::max(), 3, 7, 0} << 1 << 2;
}

void tst_ZTSalienzPostAnalysis::bestRange()
{
    QFETCH(Sums, values);
    QFETCH(int, length);
    const ZTSalienzMaximizerVertical maximizer(SalienzPixelWeightLinear);
    QTEST(maximizer.bestRange(maximizer.conglumerate(values), length), "start");
}

// Column (horizontal) and row (vertical) sums against their definition, for every weight method
// (all but the threshold's value 1 mean linear), on random maps of both formats, a map of values
// up to 153 that the threshold leaves without a window (-1), and a null map.
void tst_ZTSalienzPostAnalysis::sums()
{
    std::mt19937 random(17);
    const auto picture = [&random](int w, int h, QImage::Format format = QImage::Format_ARGB32,
                             const std::vector<int>& reds = allReds()) {
        return randomPicture(QSize(w, h), format, random, reds);
    };
    const QImage dim = picture(8, 5, QImage::Format_ARGB32, {0, 100, 153});
    QCOMPARE(ZTSalienzMaximizerVertical(SalienzPixelWeightThreshold).startOfBestRange(dim, 2), -1);
    for (const QImage& map : {picture(1, 1), picture(1, 40), picture(40, 1), picture(37, 23),
             picture(9, 7, QImage::Format_Grayscale8), dim, QImage()}) {
        for (const int method : {0, 1, 2, -1}) {
            const auto weight = static_cast<ZTSalienzPixelWeightMethod>(method);
            QVector<qint64> columns(map.width()), rows(map.height());
            for (int i = 0; i < map.width() * map.height(); ++i) {
                const int v = qRed(map.pixel(i % map.width(), i / map.width()));
                columns[i % map.width()] += method == 1 && v <= 153 ? 0 : v;
                rows[i / map.width()] += method == 1 && v <= 153 ? 0 : v;
            }
            QCOMPARE(ZTSalienzMaximizerHorizontal(weight).sums(map).toVector(), columns);
            QCOMPARE(ZTSalienzMaximizerVertical(weight).sums(map).toVector(), rows);
        }
    }
}

QTEST_GUILESS_MAIN(tst_ZTSalienzPostAnalysis)
#include "tst_ZTSalienzPostAnalysis.moc"
