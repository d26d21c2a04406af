#include "ZTVeryImportantAreasROI.h"

#include <QPainter>
#include <QtTest>

#include <limits>

namespace {

using Rects = QList<QRect>;

constexpr int intMax = std::numeric_limits<int>::max();
constexpr int intMin = std::numeric_limits<int>::min();

QImage evaluate(const Rects& rects, const QSize& pictureSize, const QSize& referenceSize)
{
    QImage picture(pictureSize, QImage::Format_RGB32);
    picture.fill(QColor(30, 200, 90));
    return ZTVeryImportantAreasROI(rects, referenceSize).evaluate(picture);
}

QImage filled(const QSize& size, QRgb pixel)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(pixel);
    return image;
}

// The expected map: black, grey ellipses in the given bounding rectangles, then the white
// rectangles, painted with a plain QPainter.
QImage paintedReference(const QSize& size, const Rects& haloBounds, const Rects& rects)
{
    QImage map = filled(size, 0xFF000000);
    QPainter painter(&map);
    painter.setPen(QColor(0xA0, 0xA0, 0xA4));
    painter.setBrush(QColor(0xA0, 0xA0, 0xA4));
    for (const QRect& bounds : haloBounds) {
        painter.drawEllipse(bounds);
    }
    painter.setPen(QColor(0xFF, 0xFF, 0xFF));
    painter.setBrush(QColor(0xFF, 0xFF, 0xFF));
    for (const QRect& rect : rects) {
        painter.drawRect(rect);
    }
    return map;
}

struct LoggedMessage
{
    QtMsgType type;
    QByteArray category, file, function, text;
    int line;
};
QList<LoggedMessage> loggedMessages;

void recordMessage(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    loggedMessages.append(
        {type, context.category, context.file, context.function, text.toUtf8(), context.line});
}

} // namespace

class tst_ZTVeryImportantAreasROI : public QObject
{
    Q_OBJECT

private slots:
    void map_data();
    void map();
    void rectanglesAtTheEndsOfTheIntRange();
    void sizeWarning_data();
    void sizeWarning();
};

void tst_ZTVeryImportantAreasROI::map_data()
{
    QTest::addColumn<Rects>("rects");
    QTest::addColumn<Rects>("haloBounds");

    QTest::newRow("empty list is black") << Rects {} << Rects {};
    // Edges 10 ... 29 and 10 ... 19: centre (19, 14).
    QTest::newRow("10,10 20x10 has halo -1,4 40x20")
        << Rects {QRect(10, 10, 20, 10)} << Rects {QRect(-1, 4, 40, 20)};
    QTest::newRow("odd width and height")
        << Rects {QRect(20, 12, 5, 3)} << Rects {QRect(17, 10, 10, 6)};
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

// Every pixel of every rectangle inside the map is white, whatever halos lie there.
void tst_ZTVeryImportantAreasROI::map()
{
    QFETCH(Rects, rects);
    QFETCH(Rects, haloBounds);
    const QSize size(64, 48);
    const QImage map = evaluate(rects, size, size);
    QCOMPARE(map, paintedReference(size, haloBounds, rects));
    for (const QRect& rect : rects) {
        const QRect inside = rect & map.rect();
        if (!inside.isEmpty()) {
            QCOMPARE(map.copy(inside), filled(inside.size(), 0xFFFFFFFF));
        }
    }
}

// Rectangles whose size or halo leaves the int range are clipped, never overflowed.
void tst_ZTVeryImportantAreasROI::rectanglesAtTheEndsOfTheIntRange()
{
    const QSize size(20, 20);
    const QImage whole
        = evaluate({QRect(QPoint(intMin, intMin), QPoint(intMax, intMax))}, size, size);
    QCOMPARE(whole, filled(size, 0xFFFFFFFF));
    const QImage band = evaluate({QRect(QPoint(-10, 2), QPoint(intMax, 4))}, size, size);
    QCOMPARE(band.copy(0, 2, 20, 3), filled(QSize(20, 3), 0xFFFFFFFF));
    const QImage far
        = evaluate({QRect(QPoint(intMax - 5, intMin), QPoint(intMax, intMin + 5))}, size, size);
    QCOMPARE(far, filled(size, 0xFF000000));
}

void tst_ZTVeryImportantAreasROI::sizeWarning_data()
{
    QTest::addColumn<QSize>("pictureSize");
    QTest::addColumn<QSize>("referenceSize");
    QTest::addColumn<int>("warningsPerCall");

    QTest::newRow("640x480 areas on a 320x240 picture") << QSize(320, 240) << QSize(640, 480) << 1;
    QTest::newRow("only the height differs") << QSize(320, 240) << QSize(320, 239) << 1;
    QTest::newRow("equal sizes") << QSize(320, 240) << QSize(320, 240) << 0;
    QTest::newRow("null picture") << QSize() << QSize(640, 480) << 0;
}

// Checked field by field through a message handler: the context must be the one that the
// library sets, whatever the build settings of the code that logs.
void tst_ZTVeryImportantAreasROI::sizeWarning()
{
    QFETCH(QSize, pictureSize);
    QFETCH(QSize, referenceSize);
    QFETCH(int, warningsPerCall);

    const Rects rects {QRect(10, 10, 20, 10), QRect(300, 200, 40, 60)};
    loggedMessages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(recordMessage);
    const QImage first = evaluate(rects, pictureSize, referenceSize);
    const QImage second = evaluate(rects, pictureSize, referenceSize);
    qInstallMessageHandler(previous);

    QCOMPARE(loggedMessages.size(), 2 * warningsPerCall);
    for (const LoggedMessage& message : qAsConst(loggedMessages)) {
        QCOMPARE(message.type, QtWarningMsg);
        QCOMPARE(message.category, QByteArray("default"));
        QCOMPARE(message.file, QByteArray("libs/ZTRegionOfInterest/ZTVeryImportantAreasROI"));
        QCOMPARE(message.line, 49);
        QCOMPARE(message.function,
            QByteArray("virtual QImage ZTVeryImportantAreasROI::evaluate(const QImage&)"));
        QCOMPARE(message.text,
            QByteArray("TODO: umrechnen der Gr\xc3\xb6\xc3\x9f"
                       "e! (worldmatrix berechnen)"));
    }
    // The rectangles are drawn unscaled, at their given coordinates.
    QCOMPARE(first, evaluate(rects, pictureSize, pictureSize));
    QCOMPARE(second, first);
    QCOMPARE(first.isNull(), pictureSize.isEmpty());
}

QTEST_GUILESS_MAIN(tst_ZTVeryImportantAreasROI)
#include "tst_ZTVeryImportantAreasROI.moc"
