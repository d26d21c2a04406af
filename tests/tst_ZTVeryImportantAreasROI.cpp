#include "ZTVeryImportantAreasROI.h"

#include <QPainter>
#include <QtTest>

#include <limits>

namespace {

using Rects = QList<QRect>;

constexpr QRgb black = 0xFF000000;
constexpr QRgb halo = 0xFFA0A0A4;
constexpr QRgb white = 0xFFFFFFFF;
constexpr int intMax = std::numeric_limits<int>::max();
constexpr int intMin = std::numeric_limits<int>::min();

QImage picture(const QSize& size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(30, 200, 90));
    return image;
}

QImage evaluate(const Rects& rects, const QSize& size)
{
    ZTVeryImportantAreasROI areas(rects, size);
    return areas.evaluate(picture(size));
}

// What the map must look like: grey ellipses in the given bounding rectangles, then the white
// rectangles, painted with a plain QPainter.
QImage paintedReference(const QSize& size, const Rects& haloBounds, const Rects& rects)
{
    QImage map(size, QImage::Format_ARGB32);
    map.fill(black);
    QPainter painter(&map);
    painter.setPen(QColor(Qt::gray));
    painter.setBrush(QColor(Qt::gray));
    for (const QRect& bounds : haloBounds) {
        painter.drawEllipse(bounds);
    }
    painter.setPen(QColor(Qt::white));
    painter.setBrush(QColor(Qt::white));
    for (const QRect& rect : rects) {
        painter.drawRect(rect);
    }
    return map;
}

// The bounding rectangle of the pixels of @p map that hold @p colour.
QRect extentOf(const QImage& map, QRgb colour)
{
    QRect extent;
    for (int y = 0; y < map.height(); ++y) {
        for (int x = 0; x < map.width(); ++x) {
            if (map.pixel(x, y) == colour) {
                extent |= QRect(x, y, 1, 1);
            }
        }
    }
    return extent;
}

bool allPixelsAre(const QImage& map, const QRect& area, QRgb colour)
{
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (map.pixel(x, y) != colour) {
                return false;
            }
        }
    }
    return true;
}

struct LoggedMessage
{
    QtMsgType type;
    QByteArray category;
    QByteArray file;
    int line;
    QByteArray function;
    QString text;
};

QList<LoggedMessage> loggedMessages;

void recordMessage(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    loggedMessages.append(
        {type, context.category, context.file, context.line, context.function, text});
}

} // namespace

class tst_ZTVeryImportantAreasROI : public QObject
{
    Q_OBJECT

private slots:
    void emptyListGivesBlackMap();
    void haloOfTheTenByTenRectangle();
    void matchesPaintedReference_data();
    void matchesPaintedReference();
    void rectanglesCoverEveryHalo();
    void clippingAtTheBorders_data();
    void clippingAtTheBorders();
    void sizeWarning_data();
    void sizeWarning();
    void nullImageGivesNullMapSilently();
};

void tst_ZTVeryImportantAreasROI::emptyListGivesBlackMap()
{
    ZTVeryImportantAreasROI areas({}, QSize(31, 17));
    QCOMPARE(areas.isEnabled(), true);
    QCOMPARE(areas.weight(), 0);
    QImage indexed(31, 17, QImage::Format_Indexed8);
    indexed.setColorCount(1);
    indexed.setColor(0, qRgb(255, 255, 255));
    indexed.fill(0);
    const QImage map = areas.evaluate(indexed);
    QCOMPARE(map.format(), QImage::Format_ARGB32);
    QCOMPARE(map.size(), QSize(31, 17));
    QVERIFY(allPixelsAre(map, map.rect(), black));
}

// Left 10, top 10, 20 x 10: centre (19, 14), halo bounds left -1, top 4, 40 x 20. The outlines
// reach one pixel beyond the right and bottom edges of what they outline.
void tst_ZTVeryImportantAreasROI::haloOfTheTenByTenRectangle()
{
    const QImage map = evaluate({QRect(10, 10, 20, 10)}, QSize(64, 48));
    QCOMPARE(map, paintedReference(QSize(64, 48), {QRect(-1, 4, 40, 20)}, {QRect(10, 10, 20, 10)}));
    QCOMPARE(extentOf(map, halo) | extentOf(map, white), QRect(0, 4, 40, 21));
    QCOMPARE(extentOf(map, white), QRect(10, 10, 21, 11));
    QVERIFY(allPixelsAre(map, QRect(10, 10, 21, 11), white));
    // The topmost halo row is centred on column 19.
    QCOMPARE(extentOf(map.copy(0, 4, 64, 1), halo), QRect(13, 0, 13, 1));
    QCOMPARE(map.pixel(0, 14), halo);
    QCOMPARE(map.pixel(40, 14), black);
    QCOMPARE(map.pixel(19, 3), black);
    QCOMPARE(extentOf(map, black) | extentOf(map, halo) | extentOf(map, white), map.rect());
}

void tst_ZTVeryImportantAreasROI::matchesPaintedReference_data()
{
    QTest::addColumn<Rects>("rects");
    QTest::addColumn<Rects>("haloBounds");

    QTest::newRow("odd width and height")
        << Rects {QRect(20, 12, 5, 3)} << Rects {QRect(17, 10, 10, 6)};
    // Edges -3 and 0: the centre is -3 / 2 = -1 toward zero, not -2.
    QTest::newRow("negative centre truncates toward zero")
        << Rects {QRect(-3, -3, 4, 4)} << Rects {QRect(-5, -5, 8, 8)};
    QTest::newRow("single pixel") << Rects {QRect(30, 20, 1, 1)} << Rects {QRect(29, 19, 2, 2)};
    QTest::newRow("all halos before all rectangles") << Rects {QRect(5, 5, 10, 8),
        QRect(12, 9, 12, 10)} << Rects {QRect(-1, 0, 20, 16), QRect(5, 3, 24, 20)};
    QTest::newRow("halo partly outside")
        << Rects {QRect(50, 30, 12, 14)} << Rects {QRect(43, 22, 24, 28)};
}

void tst_ZTVeryImportantAreasROI::matchesPaintedReference()
{
    QFETCH(Rects, rects);
    QFETCH(Rects, haloBounds);
    const QSize size(64, 48);
    QCOMPARE(evaluate(rects, size), paintedReference(size, haloBounds, rects));
}

void tst_ZTVeryImportantAreasROI::rectanglesCoverEveryHalo()
{
    const Rects rects {QRect(4, 4, 12, 10), QRect(10, 8, 9, 9), QRect(30, 5, 3, 20)};
    const QImage map = evaluate(rects, QSize(48, 32));
    for (const QRect& rect : rects) {
        QVERIFY2(allPixelsAre(map, rect, white),
            qPrintable(QString("rectangle %1,%2 %3x%4")
                           .arg(rect.x())
                           .arg(rect.y())
                           .arg(rect.width())
                           .arg(rect.height())));
    }
}

// Inside the 20 x 20 map, every pixel of the rectangle is white, and the white pixels reach at
// most one pixel beyond it to the right and bottom, where QPainter puts the outline.
void tst_ZTVeryImportantAreasROI::clippingAtTheBorders_data()
{
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<QRect>("inside");  // the rectangle's pixels inside the map
    QTest::addColumn<QRect>("outline"); // the same with its outline, inside the map

    QTest::newRow("top left corner")
        << QRect(-5, -5, 10, 10) << QRect(0, 0, 5, 5) << QRect(0, 0, 6, 6);
    QTest::newRow("bottom right corner")
        << QRect(15, 16, 10, 10) << QRect(15, 16, 5, 4) << QRect(15, 16, 5, 4);
    QTest::newRow("halo wholly outside, right") << QRect(100, 100, 5, 5) << QRect() << QRect();
    QTest::newRow("halo wholly outside, left") << QRect(-50, -50, 10, 10) << QRect() << QRect();
    QTest::newRow("whole int range") << QRect(QPoint(intMin, intMin), QPoint(intMax, intMax))
                                     << QRect(0, 0, 20, 20) << QRect(0, 0, 20, 20);
    QTest::newRow("band to the int range's end")
        << QRect(QPoint(-10, 2), QPoint(intMax, 4)) << QRect(0, 2, 20, 3) << QRect(0, 2, 20, 4);
    QTest::newRow("column from the int range's start")
        << QRect(QPoint(7, intMin), QPoint(9, 30)) << QRect(7, 0, 3, 20) << QRect(7, 0, 4, 20);
    QTest::newRow("at the int range's end")
        << QRect(QPoint(intMax - 5, intMax - 5), QPoint(intMax, intMax)) << QRect() << QRect();
}

void tst_ZTVeryImportantAreasROI::clippingAtTheBorders()
{
    QFETCH(QRect, rect);
    QFETCH(QRect, inside);
    QFETCH(QRect, outline);

    const QImage map = evaluate({rect}, QSize(20, 20));
    QCOMPARE(map.size(), QSize(20, 20));
    if (outline.isNull()) {
        QVERIFY(allPixelsAre(map, map.rect(), black));
        return;
    }
    QVERIFY(allPixelsAre(map, inside, white));
    const QRect whiteExtent = extentOf(map, white);
    QVERIFY(whiteExtent.contains(inside));
    QVERIFY(outline.contains(whiteExtent));
}

void tst_ZTVeryImportantAreasROI::sizeWarning_data()
{
    QTest::addColumn<QSize>("referenceSize");
    QTest::addColumn<int>("warningsPerCall");

    QTest::newRow("640x480 areas on a 320x240 picture") << QSize(640, 480) << 1;
    QTest::newRow("width differs") << QSize(321, 240) << 1;
    QTest::newRow("height differs") << QSize(320, 239) << 1;
    QTest::newRow("invalid reference size") << QSize() << 1;
    QTest::newRow("equal sizes") << QSize(320, 240) << 0;
}

// The context is checked field by field, so the message handler must see it as the library set
// it, whatever the test's own build settings.
void tst_ZTVeryImportantAreasROI::sizeWarning()
{
    QFETCH(QSize, referenceSize);
    QFETCH(int, warningsPerCall);

    const Rects rects {QRect(10, 10, 20, 10), QRect(300, 200, 40, 60)};
    ZTVeryImportantAreasROI areas(rects, referenceSize);
    const QImage image = picture(QSize(320, 240));

    loggedMessages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(recordMessage);
    const QImage first = areas.evaluate(image);
    const QImage second = areas.evaluate(image);
    qInstallMessageHandler(previous);

    QCOMPARE(loggedMessages.size(), 2 * warningsPerCall);
    for (const LoggedMessage& message : qAsConst(loggedMessages)) {
        QCOMPARE(message.type, QtWarningMsg);
        QCOMPARE(message.category, QByteArray("default"));
        QCOMPARE(message.file, QByteArray("libs/ZTRegionOfInterest/ZTVeryImportantAreasROI"));
        QCOMPARE(message.line, 49);
        QCOMPARE(message.function,
            QByteArray("virtual QImage ZTVeryImportantAreasROI::evaluate(const QImage&)"));
        QCOMPARE(message.text.toUtf8(),
            QByteArray("TODO: umrechnen der Gr\xc3\xb6\xc3\x9f"
                       "e! (worldmatrix berechnen)"));
    }
    // The rectangles are drawn at their given coordinates, unscaled.
    QCOMPARE(first, evaluate(rects, QSize(320, 240)));
    QCOMPARE(second, first);
}

void tst_ZTVeryImportantAreasROI::nullImageGivesNullMapSilently()
{
    ZTVeryImportantAreasROI areas({QRect(1, 1, 5, 5)}, QSize(640, 480));
    loggedMessages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(recordMessage);
    const QImage map = areas.evaluate(QImage());
    qInstallMessageHandler(previous);
    QVERIFY(map.isNull());
    QVERIFY(loggedMessages.isEmpty());
}

QTEST_GUILESS_MAIN(tst_ZTVeryImportantAreasROI)
#include "tst_ZTVeryImportantAreasROI.moc"
