#include "ZTDisjointSet.h"
#include "ZTSegmentEdge.h"

#include <QtTest>

#include <limits>
#include <stdexcept>

namespace {

constexpr int intMax = std::numeric_limits<int>::max();
constexpr int intMin = std::numeric_limits<int>::min();
const double notANumber = std::numeric_limits<double>::quiet_NaN();

using Points = std::vector<QPoint>;
using Pairs = QVector<QPoint>; // (a, b) for join(a, b)
using Cells = QVector<int>;

QString text(const Points& points)
{
    QStringList list;
    for (const QPoint& p : points) {
        list << QString("(%1,%2)").arg(p.x()).arg(p.y());
    }
    return list.join(' ');
}

// A centre to 9 digits, which tells every float apart; NaN shows as nan.
QString text(const centroid& c)
{
    return QString("%1 %2").arg(c.x, 0, 'g', 9).arg(c.y, 0, 'g', 9);
}

} // namespace

Q_DECLARE_METATYPE(Points)

class tst_ZTDisjointSet : public QObject
{
    Q_OBJECT

    // Every element as rank:size:parent, then the count.
    static QString forest(ZTDisjointSet& set)
    {
        QStringList list;
        for (const ZTDisjointElement& e : qAsConst(set.elements)) {
            list << QString("%1:%2:%3").arg(e.rank).arg(e.size).arg(e.parent);
        }
        return (list << QString("count %1").arg(set.getCount())).join(' ');
    }

private slots:
    void edgeOrder();
    void forest_data();
    void forest();
    void statistics_data();
    void statistics();
    void geometry_data();
    void geometry();
};

// Only the weights count (the cells would order the other way); NaN is neither less nor more.
void tst_ZTDisjointSet::edgeOrder()
{
    const auto less
        = [](double a, double b) { return ZTSegmentEdge(9, 8, a) < ZTSegmentEdge(1, 2, b); };
    QCOMPARE(QVector<bool>(
                 {less(0.5, 0.5), less(0.25, 0.5), less(notANumber, 1.0), less(1.0, notANumber)}),
        QVector<bool>({false, true, false, false}));
}

void tst_ZTDisjointSet::forest_data()
{
    QTest::addColumn<QSize>("grid"); // columns x rows
    QTest::addColumn<Pairs>("joins");
    QTest::addColumn<int>("cell");
    QTest::addColumn<QString>("result"); // find(cell) size(cell) | forest | segment count

    QTest::newRow("new 3 x 4")
        << QSize(4, 3) << Pairs {} << 12
        << "-1 0 | 0:1:0 0:1:1 0:1:2 0:1:3 0:1:4 0:1:5 0:1:6 0:1:7 0:1:8 0:1:9 0:1:10 0:1:11 "
           "count 12 | 12";
    QTest::newRow("no rows") << QSize(5, 0) << Pairs {} << 0 << "-1 0 | count 0 | 0";
    QTest::newRow("negative rows") << QSize(5, -2) << Pairs {} << 0 << "-1 0 | count -10 | 0";
    QTest::newRow("both negative") << QSize(-3, -2) << Pairs {} << 5
                                   << "5 1 | 0:1:0 0:1:1 0:1:2 0:1:3 0:1:4 0:1:5 count 6 | 0";
    QTest::newRow("product beyond int")
        << QSize(65536, 65536) << Pairs {} << 0 << "-1 0 | count 0 | 0";
    QTest::newRow("join(0, 1): the second wins ties")
        << QSize(2, 2) << Pairs {{0, 1}} << 0 << "1 1 | 0:1:1 1:2:1 0:1:2 0:1:3 count 3 | 3";
    QTest::newRow("then join(2, 1): rank 0 below 1") << QSize(2, 2) << Pairs {{0, 1}, {2, 1}} << 1
                                                     << "1 3 | 0:1:1 1:3:1 0:1:1 0:1:3 count 2 | 2";
    QTest::newRow("then join(1, 3): rank 1 above 0") << QSize(
        2, 2) << Pairs {{0, 1}, {2, 1}, {1, 3}} << 3 << "1 1 | 0:1:1 1:4:1 0:1:1 0:1:1 count 1 | 1";
    // Two rank-2 trees joined: cell 0 is three links from the root 7 (0 -> 1 -> 3 -> 7).
    QTest::newRow("find re-links only the cell asked for")
        << QSize(4, 2) << Pairs {{0, 1}, {2, 3}, {1, 3}, {4, 5}, {6, 7}, {5, 7}, {3, 7}} << 0
        << "7 1 | 0:1:7 1:2:3 0:1:3 2:4:7 0:1:5 1:2:7 0:1:7 3:8:7 count 1 | 1";
    for (const QPoint bad :
        {QPoint(1, 1), QPoint(0, 2), QPoint(2, 0), QPoint(-1, 2), QPoint(2, 4)}) {
        QTest::addRow("join(%d, %d) is ignored: not two roots", bad.x(), bad.y()) << QSize(
            2, 2) << Pairs {{0, 1}, bad} << 0 << "1 1 | 0:1:1 1:2:1 0:1:2 0:1:3 count 3 | 3";
    }
}

void tst_ZTDisjointSet::forest()
{
    QFETCH(QSize, grid);
    QFETCH(Pairs, joins);
    QFETCH(int, cell);

    ZTDisjointSet set(grid.height(), grid.width());
    for (const QPoint join : joins) {
        set.join(join.x(), join.y());
    }
    const QString found = QString("%1 %2 | ").arg(set.find(cell)).arg(set.size(cell));
    const QString elements = forest(set);
    QTEST(QString("%1%2 | %3").arg(found, elements).arg(set.getSegmentSizes().size()), "result");
    QCOMPARE(int(set.getSegmentInformations().size()), set.getSegmentSizes().size());
}

void tst_ZTDisjointSet::statistics_data()
{
    QTest::addColumn<QSize>("grid");    // columns x rows
    QTest::addColumn<Cells>("segment"); // its cells, merged into one segment
    QTest::addColumn<Cells>("boxes");   // of getSegmentSizes, then of segment (the far corner)
    QTest::addColumn<QString>("center");

    QTest::newRow("2 x 2 in one segment: hull centroid")
        << QSize(2, 2) << Cells {0, 1, 2, 3} << Cells {0, 0, 1, 1, 0, 0, 2, 2} << "1 1";
    QTest::newRow("row of four cells")
        << QSize(4, 1) << Cells {0, 1, 2, 3} << Cells {0, 0, 3, 0, 0, 0, 4, 1} << "2 0.5";
    QTest::newRow("single cell at row 2, column 3: mean of its corners")
        << QSize(4, 3) << Cells {11} << Cells {3, 2, 3, 2, 3, 2, 4, 3} << "3.5 2.5";
    QTest::newRow("left found in a later cell")
        << QSize(3, 3) << Cells {2, 4, 6} << Cells {0, 0, 2, 2, 0, 0, 3, 3} << "1.5 1.5";
    QTest::newRow("row 0 and column 0 of a 6 x 4 grid")
        << QSize(6, 4) << Cells {0, 1, 2, 3, 4, 5, 6, 12, 18} << Cells {0, 0, 5, 3, 0, 0, 6, 4}
        << "2.35483861 1.51612902";
    QTest::newRow("diagonal: zero-area hull")
        << QSize(4, 4) << Cells {0, 5, 10, 15} << Cells {0, 0, 3, 3, 0, 0, 4, 4} << "nan nan";
    QTest::newRow("other diagonal: finite")
        << QSize(4, 4) << Cells {3, 6, 9, 12} << Cells {0, 0, 3, 3, 0, 0, 4, 4} << "2 2";
}

void tst_ZTDisjointSet::statistics()
{
    QFETCH(QSize, grid);
    QFETCH(Cells, segment);

    ZTDisjointSet set(grid.height(), grid.width());
    for (const int cell : segment) {
        set.join(set.find(segment[0]), set.find(cell));
    }
    const int root = set.find(segment[0]);
    const ::segment s = set.getSegmentInformations().at(root);
    QTEST(set.getSegmentSizes().value(root) + (Cells {s.left, s.top, s.right, s.bottom}), "boxes");
    QTEST(text(s.center), "center");
}

void tst_ZTDisjointSet::geometry_data()
{
    QTest::addColumn<Points>("points");
    QTest::addColumn<QString>("result");

    // The first word of a row's name is the operation.
    QTest::newRow("hull of no points") << Points {} << "";
    QTest::newRow("hull of one point") << Points {{3, 4}} << "(3,4)";
    QTest::newRow("hull of two points") << Points {{1, 1}, {0, 0}} << "(0,0) (1,1) (0,0)";
    QTest::newRow("hull of a point twice") << Points {{1, 1}, {1, 1}} << "(1,1) (1,1) (1,1)";
    QTest::newRow("hull of points on a line")
        << Points {{0, 0}, {1, 0}, {2, 0}} << "(0,0) (2,0) (0,0)";
    QTest::newRow("hull of the corners of a 2 x 2 block of cells")
        << Points {{0, 0}, {1, 1}, {1, 0}, {2, 1}, {0, 1}, {1, 2}, {1, 1}, {2, 2}}
        << "(0,0) (1,0) (2,1) (2,2) (1,2) (0,1) (0,0)";
    QTest::newRow("hull: x before y, (1,5) sorts before (2,0) and (1,6)")
        << Points {{2, 0}, {1, 6}, {1, 5}} << "(1,5) (2,0) (1,6) (1,5)";
    QTest::newRow("centroid of the square") << Points {{0, 0}, {2, 0}, {2, 2}, {0, 2}} << "1 1";
    QTest::newRow("centroid of the closed square")
        << Points {{0, 0}, {2, 0}, {2, 2}, {0, 2}, {0, 0}} << "1 1";
    QTest::newRow("centroid of a single vertex") << Points {{3, 4}} << "nan nan";
    // Summing the moments in double, or multiplying in float, gives other last bits.
    QTest::newRow("centroid: moments rounded to float after every edge, the closing one too")
        << Points {{181, 170}, {277, 35}, {206, 229}, {126, 263}} << "202.14267 173.643295";
    QTest::newRow("centroid of nothing") << Points {} << "out of range";
    QTest::newRow("cross: x axis, then y axis") << Points {{0, 0}, {1, 0}, {0, 1}} << "1";
    QTest::newRow("cross: y axis, then x axis") << Points {{0, 0}, {0, 1}, {1, 0}} << "-1";
    QTest::newRow("cross: 2^31 wraps like int arithmetic")
        << Points {{0, 0}, {65536, 0}, {0, 32768}} << QString::number(intMin);
    QTest::newRow("cross: extreme coordinates")
        << Points {{intMin, intMin}, {intMax, intMin}, {intMin, intMax}} << "1";
}

void tst_ZTDisjointSet::geometry()
{
    QFETCH(Points, points);

    ZTDisjointSet set(0, 0);
    const QString operation = QString(QTest::currentDataTag()).section(QRegExp("[ :]"), 0, 0);
    QString result = "out of range";
    if (operation == "hull") {
        result = text(set.convex_hull(points));
    } else if (operation == "cross") {
        result = QString::number(set.cross(points[0], points[1], points[2]));
    } else if (!points.empty()) {
        const Points before = points;
        result = text(set.calculateCentroid(&points));
        QVERIFY(points == before);
    } else {
        QVERIFY_EXCEPTION_THROWN(set.calculateCentroid(&points), std::out_of_range);
    }
    QTEST(result, "result");
}

QTEST_GUILESS_MAIN(tst_ZTDisjointSet)
#include "tst_ZTDisjointSet.moc"
