#include "ZTVeryImportantAreasROI.h"

#include <QPainter>
#include <QtTest>

#include <limits>

namespace {

using Rects = QList<QRect>;

constexpr int intMax = std::numeric_limits<int>::max(), intMin = -intMax - 1;
constexpr QSize mapSize(64, 48);
QStringList messages;

QImage evaluate(const Rects& rects, const QSize& size = mapSize, const QSize& reference = mapSize)
{
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(QColor(30, 200, 90));
    return ZTVeryImportantAreasROI(rects, reference).evaluate(picture);
}

// Black, grey ellipses in the halo bounds, then the white rectangles, through a plain QPainter.
QImage painted(const Rects& halos, const Rects& rects)
{
    QImage map(mapSize, QImage::Format_ARGB32);
    map.fill(0xFF000000u);
    QPainter painter(&map);
    painter.setPen(QColor(0xA0, 0xA0, 0xA4));
    painter.setBrush(QColor(0xA0, 0xA0, 0xA4));
    for (const QRect& bounds : halos) {
        painter.drawEllipse(bounds);
    }
    painter.setPen(Qt::white);
    painter.setBrush(Qt::white);
    painter.drawRects(rects.toVector());
    return map;
}

} // namespace

class tst_ZTVeryImportantAreasROI : public QObject
{
    Q_OBJECT

private slots:
    void map_data();
    void map();
    void haloEndingAtIntMaxOverflowedQRect();
    void sizeWarning();
};

void tst_ZTVeryImportantAreasROI::map_data()
{
    QTest::addColumn<Rects>("rects");
    QTest::addColumn<Rects>("halos"); // their bounding rectangles

    QTest::newRow("empty list is black") << Rects {} << Rects {};
    // Edges 10 ... 29 and 10 ... 19: centre (19, 14).
    QTest::newRow("10,10 20x10 has the halo -1,4 40x20")
        << Rects {QRect(10, 10, 20, 10)} << Rects {QRect(-1, 4, 40, 20)};
    // Edges -3 and 0: the centre is -3 / 2 = -1 toward zero, not -2.
    QTest::newRow("negative centre truncates toward zero")
        << Rects {QRect(-3, -3, 4, 4)} << Rects {QRect(-5, -5, 8, 8)};
    QTest::newRow("overlapping: all halos before all rectangles")
        << Rects {QRect(5, 5, 10, 8), QRect(12, 9, 12, 10), QRect(13, 8, 3, 20)}
        << Rects {QRect(-1, 0, 20, 16), QRect(5, 3, 24, 20), QRect(11, -3, 6, 40)};
    QTest::newRow("clipped at the bottom right")
        << Rects {QRect(50, 30, 20, 24)} << Rects {QRect(39, 17, 40, 48)};
    QTest::newRow("halo wholly outside")
        << Rects {QRect(100, 100, 5, 5), QRect(-50, -50, 10, 10)} << Rects {};
}

void tst_ZTVeryImportantAreasROI::map()
{
    QFETCH(Rects, rects);
    QFETCH(Rects, halos);
    QCOMPARE(evaluate(rects), painted(halos, rects));
}

// A one-pixel rectangle at INT_MAX has the halo INT_MAX - 1 ... INT_MAX, whose left edge plus
// width overflowed in QRect's (x, y, width, height) constructor (found by fuzz_methods; the
// overflow shows under UndefinedBehaviorSanitizer). Other rectangles whose size or halo leaves
// the int range are clipped, never overflowed.
void tst_ZTVeryImportantAreasROI::haloEndingAtIntMaxOverflowedQRect()
{
    const QRect corner(QPoint(intMax, intMax), QPoint(intMax, intMax));
    const QRect far(QPoint(intMax - 5, intMin), QPoint(intMax, intMin + 5));
    QCOMPARE(evaluate({corner, far}), painted({}, {}));
    QCOMPARE(evaluate({QRect(QPoint(intMin, intMin), QPoint(intMax, intMax))}),
        painted({}, {QRect(QPoint(0, 0), mapSize)}));
}

// Once per call in which the sizes differ, with the context that the library sets whatever the
// build settings of the code that logs; the rectangles are drawn unscaled, where they are.
void tst_ZTVeryImportantAreasROI::sizeWarning()
{
    const Rects rects {QRect(10, 10, 20, 10), QRect(300, 200, 40, 60)};
    const QSize picture(320, 240);
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& c, const QString& text) {
            messages << QString("%1 %2 %3:%4 %5: %6")
                            .arg(type == QtWarningMsg ? "warning" : "other", c.category, c.file)
                            .arg(c.line)
                            .arg(c.function, text);
        });
    const QImage mismatched = evaluate(rects, picture, QSize(640, 480));
    evaluate(rects, picture, QSize(640, 480)); // a second warning
    evaluate(rects, picture, QSize(320, 239)); // the height alone differs: a third
    const QImage matched = evaluate(rects, picture, picture);
    QVERIFY(evaluate(rects, QSize(), QSize(640, 480)).isNull()); // nothing to draw on
    qInstallMessageHandler(previous);
    const QString warning = QString::fromUtf8(
        "warning default libs/ZTRegionOfInterest/ZTVeryImportantAreasROI:49 virtual QImage "
        "ZTVeryImportantAreasROI::evaluate(const QImage&): TODO: umrechnen der Gr\xc3\xb6\xc3\x9f"
        "e! (worldmatrix berechnen)");
    QCOMPARE(messages, QVector<QString>(3, warning).toList());
    QCOMPARE(mismatched, matched);
}

QTEST_GUILESS_MAIN(tst_ZTVeryImportantAreasROI)
#include "tst_ZTVeryImportantAreasROI.moc"
