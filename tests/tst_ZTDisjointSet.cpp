#include "ZTDisjointSet.h"
#include "ZTSegmentEdge.h"

#include <QRegularExpression>
#include <QtTest>

#include <climits>

#include <stdexcept>

namespace {

using Points = std::vector<QPoint>;
using Pairs = QVector<QPoint>; // (a, b) for join(a, b)

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

private slots:
    void edgeOrder();
    void forest_data();
    void forest();
    void geometry_data();
    void geometry();
};

// Only the weights count (the cells would order the other way); NaN is neither less nor more.
void tst_ZTDisjointSet::edgeOrder()
{
    const auto less
        = [](double a, double b) { return ZTSegmentEdge(9, 8, a) < ZTSegmentEdge(1, 2, b); };
    const double nan = std::nan("");
    QCOMPARE(QVector<bool>({less(0.5, 0.5), less(0.25, 0.5), less(nan, 1.0), less(1.0, nan)}),
        QVector<bool>({false, true, false, false}));
}

// A row joins the pairs as given and shows find(cell) and size(cell), the size of every
// element, the count and the number of segments. A row named "segment" instead joins
// the roots of the pairs' cells and shows the box of cell's segment in getSegmentSizes, its box
// in getSegmentInformations and its centre.
void tst_ZTDisjointSet::forest_data()
{
    QTest::addColumn<QSize>("grid"); // columns x rows
    QTest::addColumn<Pairs>("joins");
    QTest::addColumn<int>("cell");
    QTest::addColumn<QString>("result");

    QTest::newRow("new 3 x 4") << QSize(4, 3) << Pairs {} << 11
                               << "11 1 | 1 1 1 1 1 1 1 1 1 1 1 1 | 12 | 12";
    QTest::newRow("no rows") << QSize(5, 0) << Pairs {} << 0 << "-1 0 | | 0 | 0";
    QTest::newRow("negative rows") << QSize(5, -2) << Pairs {} << 0 << "-1 0 | | -10 | 0";
    QTest::newRow("product beyond int") << QSize(65536, 65536) << Pairs {} << 0 << "-1 0 | | 0 | 0";
    QTest::newRow("join(0, 1): the second wins ties")
        << QSize(2, 2) << Pairs {{0, 1}} << 0 << "1 1 | 1 2 1 1 | 3 | 3";
    QTest::newRow("then join(2, 1): rank 0 below 1")
        << QSize(2, 2) << Pairs {{0, 1}, {2, 1}} << 1 << "1 3 | 1 3 1 1 | 2 | 2";
    QTest::newRow("then join(1, 3): rank 1 above 0")
        << QSize(2, 2) << Pairs {{0, 1}, {2, 1}, {1, 3}} << 3 << "1 1 | 1 4 1 1 | 1 | 1";
    // Two rank-2 trees joined: cell 0 is three links from the root 7 (0 -> 1 -> 3 -> 7), and
    // every former root keeps the size its tree had.
    QTest::newRow("root of a cell three links deep")
        << QSize(4, 2) << Pairs {{0, 1}, {2, 3}, {1, 3}, {4, 5}, {6, 7}, {5, 7}, {3, 7}} << 0
        << "7 1 | 1 2 1 4 1 2 1 8 | 1 | 1";
    QTest::newRow("segment of 2 x 2: hull centroid")
        << QSize(2, 2) << Pairs {{0, 1}, {2, 3}, {0, 2}} << 0 << "0 0 1 1 | 0 0 2 2 | 1 1";
    QTest::newRow("segment: single cell at row 2, column 3")
        << QSize(4, 3) << Pairs {} << 11 << "3 2 3 2 | 3 2 4 3 | 3.5 2.5";
    QTest::newRow("segment: row 0 and column 0 of a 6 x 4 grid")
        << QSize(6, 4) << Pairs {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {0, 6}, {6, 12}, {12, 18}}
        << 0 << "0 0 5 3 | 0 0 6 4 | 2.35483861 1.51612902";
    QTest::newRow("segment: diagonal, zero-area hull")
        << QSize(4, 4) << Pairs {{0, 5}, {5, 10}, {10, 15}} << 0 << "0 0 3 3 | 0 0 4 4 | nan nan";
    QTest::newRow("segment: other diagonal, finite")
        << QSize(4, 4) << Pairs {{3, 6}, {6, 9}, {9, 12}} << 3 << "0 0 3 3 | 0 0 4 4 | 2 2";
}

void tst_ZTDisjointSet::forest()
{
    QFETCH(QSize, grid);
    QFETCH(Pairs, joins);
    QFETCH(int, cell);

    ZTDisjointSet set(grid.height(), grid.width());
    const bool segment = QString(QTest::currentDataTag()).startsWith("segment");
    for (const QPoint join : joins) {
        set.join(segment ? set.find(join.x()) : join.x(), segment ? set.find(join.y()) : join.y());
    }
    QString result;
    QTextStream out(&result);
    if (segment) {
        const ::segment s = set.getSegmentInformations().at(set.find(cell));
        for (const int value : set.getSegmentSizes().value(set.find(cell))) {
            out << value << ' ';
        }
        out << "| " << s.left << ' ' << s.top << ' ' << s.right << ' ' << s.bottom << " | "
            << text(s.center);
    } else {
        out << set.find(cell) << ' ' << set.size(cell) << " |";
        const qint64 cells = qint64(grid.width()) * grid.height();
        for (int i = 0; cells <= INT_MAX && i < cells; ++i) {
            out << ' ' << set.size(i);
        }
        out << " | " << set.getCount() << " | " << set.getSegmentSizes().size();
    }
    QTEST(result, "result");
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
    QTest::newRow("hull of a line") << Points {{0, 0}, {1, 0}, {2, 0}} << "(0,0) (2,0) (0,0)";
    QTest::newRow("hull of the corners of a 2 x 2 block of cells")
        << Points {{0, 0}, {1, 1}, {1, 0}, {2, 1}, {0, 1}, {1, 2}, {1, 1}, {2, 2}}
        << "(0,0) (1,0) (2,1) (2,2) (1,2) (0,1) (0,0)";
    QTest::newRow("hull: x before y, (1,5) sorts before (2,0) and (1,6)")
        << Points {{2, 0}, {1, 6}, {1, 5}} << "(1,5) (2,0) (1,6) (1,5)";
    QTest::newRow("centroid of the square") << Points {{0, 0}, {2, 0}, {2, 2}, {0, 2}} << "1 1";
    QTest::newRow("centroid, closed") << Points {{0, 0}, {2, 0}, {2, 2}, {0, 2}, {0, 0}} << "1 1";
    QTest::newRow("centroid of a single vertex") << Points {{3, 4}} << "nan nan";
    QTest::newRow("centroid of no polygon") << Points {} << "throws std::out_of_range";
    // Summing the moments in double, or multiplying in float, gives other last bits.
    QTest::newRow("centroid: moments rounded to float after every edge, the closing one too")
        << Points {{181, 170}, {277, 35}, {206, 229}, {126, 263}} << "202.14267 173.643295";
    QTest::newRow("cross x, y") << Points {{0, 0}, {1, 0}, {0, 1}} << "1";
    QTest::newRow("cross y, x") << Points {{0, 0}, {0, 1}, {1, 0}} << "-1";
    QTest::newRow("cross wraps at 2^31")
        << Points {{0, 0}, {65536, 0}, {0, 32768}} << "-2147483648";
}

void tst_ZTDisjointSet::geometry()
{
    QFETCH(Points, points);

    ZTDisjointSet set(0, 0);
    const QString operation = QString(QTest::currentDataTag())
                                  .section(QRegularExpression(QStringLiteral("[ :]")), 0, 0);
    QString result;
    if (operation == "hull") {
        result = text(set.convex_hull(points));
    } else if (operation == "cross") {
        result = QString::number(set.cross(points[0], points[1], points[2]));
    } else if (points.empty()) {
        QVERIFY_EXCEPTION_THROWN(set.calculateCentroid(nullptr), std::out_of_range);
        QVERIFY_EXCEPTION_THROWN(set.calculateCentroid(&points), std::out_of_range);
        result = "throws std::out_of_range";
    } else {
        const Points before = points;
        result = text(set.calculateCentroid(&points));
        QVERIFY(points == before);
    }
    QTEST(result, "result");
}

QTEST_GUILESS_MAIN(tst_ZTDisjointSet)
#include "tst_ZTDisjointSet.moc"
