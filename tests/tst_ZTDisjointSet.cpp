#include "ZTDisjointElement.h"
#include "ZTDisjointSet.h"
#include "ZTSegmentEdge.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <stdexcept>

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr int intMax = std::numeric_limits<int>::max();
constexpr int intMin = std::numeric_limits<int>::min();

using Points = std::vector<QPoint>;
using Groups = QVector<QVector<int>>; // cells that end up in one segment each

bool same(float a, float b)
{
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

// Merges every group into one segment the way the segmentation does: find the two roots, join
// them when they differ.
void merge(ZTDisjointSet& set, const Groups& groups)
{
    for (const QVector<int>& group : groups) {
        for (int i = 1; i < group.size(); ++i) {
            const int a = set.find(group[0]);
            const int b = set.find(group[i]);
            if (a != b) {
                set.join(a, b);
            }
        }
    }
}

QString describe(const Points& points)
{
    QStringList list;
    for (const QPoint& p : points) {
        list << QString("(%1,%2)").arg(p.x()).arg(p.y());
    }
    return list.join(' ');
}

} // namespace

Q_DECLARE_METATYPE(Points)

class tst_ZTDisjointSet : public QObject
{
    Q_OBJECT

private:
    int rank(ZTDisjointSet& set, int i) { return set.elements[i].rank; }
    int parent(ZTDisjointSet& set, int i) { return set.elements[i].parent; }
    int elementCount(ZTDisjointSet& set) { return set.elements.size(); }

private slots:
    void edgeOrder_data();
    void edgeOrder();
    void valuesInConstructorOrder();

    void freshSet_data();
    void freshSet();
    void joinByRankSecondWinsTies();
    void findRelinksOnlyTheAskedCell();
    void joinIgnoresAnythingButTwoRoots_data();
    void joinIgnoresAnythingButTwoRoots();
    void indicesOutsideTheGrid();

    void statistics_data();
    void statistics();
    void convexHull_data();
    void convexHull();
    void centroidOfPolygon_data();
    void centroidOfPolygon();
    void centroidOfNothingThrows();
    void cross_data();
    void cross();
};

void tst_ZTDisjointSet::edgeOrder_data()
{
    QTest::addColumn<double>("first");
    QTest::addColumn<double>("second");
    QTest::addColumn<bool>("less");

    QTest::newRow("equal weights") << 0.5 << 0.5 << false;
    QTest::newRow("smaller weight") << 0.25 << 0.5 << true;
    QTest::newRow("zero against negative zero") << 0.0 << -0.0 << false;
    QTest::newRow("NaN against a number") << notANumber << 1.0 << false;
    QTest::newRow("a number against NaN") << 1.0 << notANumber << false;
}

// Only the weights count: the cells are chosen so that they would order the other way.
void tst_ZTDisjointSet::edgeOrder()
{
    QFETCH(double, first);
    QFETCH(double, second);
    QFETCH(bool, less);

    QCOMPARE(ZTSegmentEdge(9, 8, first) < ZTSegmentEdge(1, 2, second), less);
}

// The constructors take their values in field order.
void tst_ZTDisjointSet::valuesInConstructorOrder()
{
    ZTSegmentEdge edge(3, 17, 0.75);
    QCOMPARE(edge.from(), 3);
    QCOMPARE(edge.to(), 17);
    QCOMPARE(edge.weight(), 0.75);
    const ZTDisjointElement element(1, 2, 3);
    QCOMPARE(element.rank, 1);
    QCOMPARE(element.size, 2);
    QCOMPARE(element.parent, 3);
}

void tst_ZTDisjointSet::freshSet_data()
{
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("elements");

    QTest::newRow("3 x 4") << 3 << 4 << 12 << 12;
    QTest::newRow("no rows") << 0 << 5 << 0 << 0;
    QTest::newRow("negative rows") << -2 << 5 << -10 << 0;
    QTest::newRow("both negative: positive product") << -2 << -3 << 6 << 6;
    QTest::newRow("product beyond int") << 65536 << 65536 << 0 << 0;
}

void tst_ZTDisjointSet::freshSet()
{
    QFETCH(int, height);
    QFETCH(int, width);
    QFETCH(int, count);
    QFETCH(int, elements);

    ZTDisjointSet set(height, width);
    QCOMPARE(set.getCount(), count);
    QCOMPARE(elementCount(set), elements);
    for (int i = 0; i < elements; ++i) {
        QCOMPARE(set.find(i), i);
        QCOMPARE(set.size(i), 1);
        QCOMPARE(rank(set, i), 0);
    }
    const bool emptyGrid = height < 1 || width < 1 || count == 0;
    QCOMPARE(set.getSegmentSizes().size(), emptyGrid ? 0 : count);
    QCOMPARE(int(set.getSegmentInformations().size()), emptyGrid ? 0 : count);
}

void tst_ZTDisjointSet::joinByRankSecondWinsTies()
{
    ZTDisjointSet set(3, 4);

    set.join(0, 1); // equal ranks: the second root wins and grows
    QCOMPARE(set.find(0), 1);
    QCOMPARE(set.size(1), 2);
    QCOMPARE(rank(set, 1), 1);
    QCOMPARE(set.getCount(), 11);

    set.join(2, 1); // rank 0 below rank 1
    QCOMPARE(set.find(2), 1);
    QCOMPARE(set.size(1), 3);
    QCOMPARE(rank(set, 1), 1);
    QCOMPARE(set.getCount(), 10);

    set.join(1, 3); // the first root has the higher rank and stays root
    QCOMPARE(set.find(3), 1);
    QCOMPARE(set.size(1), 4);
    QCOMPARE(rank(set, 1), 1);
    QCOMPARE(set.getCount(), 9);

    // An attached root keeps the size its tree had.
    QCOMPARE(set.size(0), 1);
    QCOMPARE(set.size(3), 1);
}

// Two rank-2 trees: 0 -> 1 -> 3 <- 2 and 4 -> 5 -> 7 <- 6. Joined, 7 is the root and cell 0
// is three links away from it.
void tst_ZTDisjointSet::findRelinksOnlyTheAskedCell()
{
    ZTDisjointSet set(2, 4);
    set.join(0, 1);
    set.join(2, 3);
    set.join(1, 3);
    set.join(4, 5);
    set.join(6, 7);
    set.join(5, 7);
    QCOMPARE(rank(set, 3), 2);
    QCOMPARE(rank(set, 7), 2);
    set.join(3, 7);
    QCOMPARE(rank(set, 7), 3);
    QCOMPARE(set.getCount(), 1);
    QCOMPARE(set.size(7), 8);

    QCOMPARE(parent(set, 0), 1);
    QCOMPARE(parent(set, 1), 3);
    QCOMPARE(parent(set, 3), 7);
    QCOMPARE(set.find(0), 7);
    QCOMPARE(parent(set, 0), 7);
    QCOMPARE(parent(set, 1), 3);
    QCOMPARE(set.find(1), 7);
    QCOMPARE(parent(set, 1), 7);
}

void tst_ZTDisjointSet::joinIgnoresAnythingButTwoRoots_data()
{
    QTest::addColumn<int>("a");
    QTest::addColumn<int>("b");

    QTest::newRow("a root with itself") << 1 << 1;
    QTest::newRow("first is no root") << 0 << 2;
    QTest::newRow("second is no root") << 2 << 0;
    QTest::newRow("negative index") << -1 << 2;
    QTest::newRow("index past the grid") << 2 << 6;
}

// After join(0, 1) on a 2 x 3 grid, 1 is the only root that is not a singleton.
void tst_ZTDisjointSet::joinIgnoresAnythingButTwoRoots()
{
    QFETCH(int, a);
    QFETCH(int, b);

    ZTDisjointSet set(2, 3);
    set.join(0, 1);
    set.join(a, b);
    QCOMPARE(set.getCount(), 5);
    QCOMPARE(set.size(1), 2);
    QCOMPARE(rank(set, 1), 1);
    const int expectedParents[] = {1, 1, 2, 3, 4, 5};
    for (int i = 0; i < 6; ++i) {
        QCOMPARE(parent(set, i), expectedParents[i]);
    }
}

void tst_ZTDisjointSet::indicesOutsideTheGrid()
{
    ZTDisjointSet set(2, 3);
    QCOMPARE(set.find(-1), -1);
    QCOMPARE(set.find(6), -1);
    QCOMPARE(set.size(-1), 0);
    QCOMPARE(set.size(6), 0);
    ZTDisjointSet empty(0, 3);
    QCOMPARE(empty.find(0), -1);
}

void tst_ZTDisjointSet::statistics_data()
{
    QTest::addColumn<QSize>("grid"); // columns x rows
    QTest::addColumn<Groups>("groups");
    QTest::addColumn<int>("cell");
    QTest::addColumn<QRect>("box"); // the cells of the segment's bounding box
    QTest::addColumn<float>("x");
    QTest::addColumn<float>("y");

    const float nan = std::numeric_limits<float>::quiet_NaN();
    QTest::newRow("2 x 2 in one segment: hull centroid")
        << QSize(2, 2) << Groups {{0, 1, 2, 3}} << 0 << QRect(0, 0, 2, 2) << 1.0f << 1.0f;
    QTest::newRow("row of four cells")
        << QSize(4, 1) << Groups {{0, 1, 2, 3}} << 0 << QRect(0, 0, 4, 1) << 2.0f << 0.5f;
    QTest::newRow("single cell at row 2, column 3: mean of its corners")
        << QSize(4, 3) << Groups {} << 11 << QRect(3, 2, 1, 1) << 3.5f << 2.5f;
    QTest::newRow("two cells") << QSize(2, 1) << Groups {{0, 1}} << 1 << QRect(0, 0, 2, 1) << 1.0f
                               << 0.5f;
    QTest::newRow("three cells: float mean") << QSize(2, 2) << Groups {{0, 1, 2}} << 0
                                             << QRect(0, 0, 2, 2) << 5.0f / 6.0f << 5.0f / 6.0f;
    QTest::newRow("left and bottom found in later cells")
        << QSize(3, 3) << Groups {{2, 4, 6}} << 2 << QRect(0, 0, 3, 3) << 1.5f << 1.5f;
    QTest::newRow("row 0 and column 0 of a 6 x 4 grid")
        << QSize(6, 4) << Groups {{0, 1, 2, 3, 4, 5, 6, 12, 18}} << 18 << QRect(0, 0, 6, 4)
        << float(219.0 / 93.0) << float(141.0 / 93.0);
    QTest::newRow("diagonal: zero-area hull")
        << QSize(4, 4) << Groups {{0, 5, 10, 15}} << 0 << QRect(0, 0, 4, 4) << nan << nan;
    QTest::newRow("other diagonal: finite")
        << QSize(4, 4) << Groups {{3, 6, 9, 12}} << 3 << QRect(0, 0, 4, 4) << 2.0f << 2.0f;
}

// getSegmentSizes gives the box in inclusive cells, getSegmentInformations with the far corner.
void tst_ZTDisjointSet::statistics()
{
    QFETCH(QSize, grid);
    QFETCH(Groups, groups);
    QFETCH(int, cell);
    QFETCH(QRect, box);
    QFETCH(float, x);
    QFETCH(float, y);

    ZTDisjointSet set(grid.height(), grid.width());
    merge(set, groups);
    const QMap<int, QVector<int>> sizes = set.getSegmentSizes();
    QCOMPARE(sizes.size(), set.getCount());
    QCOMPARE(sizes.value(set.find(cell)),
        (QVector<int> {box.left(), box.top(), box.right(), box.bottom()}));
    // Every cell is re-linked straight to its root.
    for (int i = 0; i < grid.width() * grid.height(); ++i) {
        QCOMPARE(parent(set, i), set.find(i));
    }

    const std::map<int, segment> informations = set.getSegmentInformations();
    QCOMPARE(int(informations.size()), set.getCount());
    const segment& s = informations.at(set.find(cell));
    QCOMPARE(QRect(QPoint(s.left, s.top), QPoint(s.right - 1, s.bottom - 1)), box);
    QVERIFY2(same(s.center.x, x) && same(s.center.y, y),
        qPrintable(
            QString("centre (%1, %2)").arg(s.center.x, 0, 'g', 9).arg(s.center.y, 0, 'g', 9)));
}

void tst_ZTDisjointSet::convexHull_data()
{
    QTest::addColumn<Points>("points");
    QTest::addColumn<Points>("hull");

    QTest::newRow("no points") << Points {} << Points {};
    QTest::newRow("one point") << Points {{3, 4}} << Points {{3, 4}};
    QTest::newRow("two points") << Points {{1, 1}, {0, 0}} << Points {{0, 0}, {1, 1}, {0, 0}};
    QTest::newRow("a point twice") << Points {{1, 1}, {1, 1}} << Points {{1, 1}, {1, 1}, {1, 1}};
    QTest::newRow("points on a line")
        << Points {{0, 0}, {1, 0}, {2, 0}} << Points {{0, 0}, {2, 0}, {0, 0}};
    QTest::newRow("corners of a 2 x 2 block of cells")
        << Points {{0, 0}, {1, 1}, {1, 0}, {2, 1}, {0, 1}, {1, 2}, {1, 1}, {2, 2}}
        << Points {{0, 0}, {1, 0}, {2, 1}, {2, 2}, {1, 2}, {0, 1}, {0, 0}};
    QTest::newRow("x before y: (1,5) sorts before (2,0) and (1,6)")
        << Points {{2, 0}, {1, 6}, {1, 5}} << Points {{1, 5}, {2, 0}, {1, 6}, {1, 5}};
    QTest::newRow("points on edges are dropped") << Points {{2, 0}, {0, 0}, {2, 2}, {1, 0}, {0, 2},
        {2, 1}, {1, 1}} << Points {{0, 0}, {2, 0}, {2, 2}, {0, 2}, {0, 0}};
    Points duplicates(100, QPoint(2, 2));
    duplicates.push_back(QPoint(0, 0));
    duplicates.push_back(QPoint(4, 0));
    QTest::newRow("many equal points") << duplicates << Points {{0, 0}, {4, 0}, {2, 2}, {0, 0}};
}

void tst_ZTDisjointSet::convexHull()
{
    QFETCH(Points, points);
    QFETCH(Points, hull);

    ZTDisjointSet set(0, 0);
    const Points actual = set.convex_hull(points);
    QVERIFY2(actual == hull, qPrintable(describe(actual)));
}

void tst_ZTDisjointSet::centroidOfPolygon_data()
{
    QTest::addColumn<Points>("polygon");
    QTest::addColumn<float>("x");
    QTest::addColumn<float>("y");

    const float nan = std::numeric_limits<float>::quiet_NaN();
    QTest::newRow("square") << Points {{0, 0}, {2, 0}, {2, 2}, {0, 2}} << 1.0f << 1.0f;
    QTest::newRow("square, closed")
        << Points {{0, 0}, {2, 0}, {2, 2}, {0, 2}, {0, 0}} << 1.0f << 1.0f;
    QTest::newRow("square, other way round")
        << Points {{0, 0}, {0, 2}, {2, 2}, {2, 0}} << 1.0f << 1.0f;
    QTest::newRow("single vertex") << Points {{3, 4}} << nan << nan;
    QTest::newRow("segment there and back") << Points {{0, 0}, {4, 4}, {0, 0}} << nan << nan;
    // Large moments: summing them in double, or multiplying in float, gives other last bits.
    QTest::newRow("moments rounded to float after every edge, the closing one too") << Points {
        {181, 170}, {277, 35}, {206, 229}, {126, 263}} << 0x1.94490cp+7f << 0x1.5b495ep+7f;
}

void tst_ZTDisjointSet::centroidOfPolygon()
{
    QFETCH(Points, polygon);
    QFETCH(float, x);
    QFETCH(float, y);

    ZTDisjointSet set(0, 0);
    const Points before = polygon;
    const centroid c = set.calculateCentroid(&polygon);
    QVERIFY2(same(c.x, x) && same(c.y, y),
        qPrintable(QString("centre (%1, %2)").arg(c.x, 0, 'g', 9).arg(c.y, 0, 'g', 9)));
    QVERIFY(polygon == before);
}

void tst_ZTDisjointSet::centroidOfNothingThrows()
{
    ZTDisjointSet set(0, 0);
    Points empty;
    QVERIFY_EXCEPTION_THROWN(set.calculateCentroid(&empty), std::out_of_range);
    QVERIFY_EXCEPTION_THROWN(set.calculateCentroid(nullptr), std::out_of_range);
}

void tst_ZTDisjointSet::cross_data()
{
    QTest::addColumn<QPoint>("o");
    QTest::addColumn<QPoint>("a");
    QTest::addColumn<QPoint>("b");
    QTest::addColumn<int>("value");

    QTest::newRow("x axis then y axis") << QPoint(0, 0) << QPoint(1, 0) << QPoint(0, 1) << 1;
    QTest::newRow("y axis then x axis") << QPoint(0, 0) << QPoint(0, 1) << QPoint(1, 0) << -1;
    QTest::newRow("on one line") << QPoint(1, 1) << QPoint(2, 2) << QPoint(5, 5) << 0;
    QTest::newRow("shifted origin") << QPoint(3, -2) << QPoint(5, -2) << QPoint(3, 1) << 6;
    QTest::newRow("2^31 wraps like int arithmetic")
        << QPoint(0, 0) << QPoint(65536, 0) << QPoint(0, 32768) << intMin;
    QTest::newRow("extreme coordinates")
        << QPoint(intMin, intMin) << QPoint(intMax, intMin) << QPoint(intMin, intMax) << 1;
}

void tst_ZTDisjointSet::cross()
{
    QFETCH(QPoint, o);
    QFETCH(QPoint, a);
    QFETCH(QPoint, b);
    QFETCH(int, value);

    ZTDisjointSet set(0, 0);
    QCOMPARE(set.cross(o, a, b), value);
}

QTEST_GUILESS_MAIN(tst_ZTDisjointSet)
#include "tst_ZTDisjointSet.moc"
