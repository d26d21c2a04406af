#include "ZTGaussROI.h"
#include "ZTImageTestSupport.h"

#include <QtTest>

#include <cmath>

using namespace ZTImageTest;

class tst_ZTGaussROI : public QObject
{
    Q_OBJECT

private slots:
    // 1x1 has no pixel at the centre, so 254; 2x2 has 255 at (1, 1); 0 from 433 pixels on.
    void pixelValues()
    {
        const auto reds = [](const QSize& size, const QList<QPoint>& points) {
            const QImage map = ZTGaussROI().evaluate(QImage(size, QImage::Format_RGB32));
            QList<int> values;
            for (const QPoint& point : points) {
                values.append(qRed(map.pixel(point)));
            }
            return values;
        };
        QCOMPARE(reds({1, 1}, {{0, 0}}), QList<int>({254}));
        QCOMPARE(reds({2, 2}, {{1, 1}, {0, 0}, {1, 0}, {0, 1}}), QList<int>({255, 254, 254, 254}));
        QCOMPARE(reds({640, 480}, {{320, 240}, {320, 0}, {0, 240}, {0, 0}}),
            QList<int>({255, 46, 12, 2}));
        QCOMPARE(reds({320, 240}, {{0, 0}}), QList<int>({78}));
        QCOMPARE(
            reds({1000, 2}, {{630, 1}, {240, 1}, {932, 1}, {933, 1}}), QList<int>({154, 34, 1, 0}));
    }

    void matchesFormula_data()
    {
        QTest::addColumn<QSize>("size");
        for (const QSize size : {QSize(0, 0), QSize(1, 1), QSize(7, 1), QSize(2, 3), QSize(33, 17),
                 QSize(641, 481), QSize(3, 1001), QSize(1279, 959), QSize(1280, 960)}) {
            QTest::addRow("%dx%d", size.width(), size.height()) << size;
        }
    }

    // Maps of random pictures against the formula pixel by pixel: the content plays no part.
    // Odd and even sides mirror about the centre differently; large maps reach every level.
    void matchesFormula()
    {
        QFETCH(QSize, size);
        QImage expected(size, QImage::Format_ARGB32);
        for (double y = 0.0; y < size.height(); y += 1.0) {
            for (double x = 0.0; x < size.width(); x += 1.0) {
                const double dx = x - 0.5 * size.width(), dy = y - 0.5 * size.height();
                const int g = int(std::exp(((dx * dx + dy * dy) * -0.5) / 16900.0) * 255.0);
                expected.setPixel(int(x), int(y), qRgb(g, g, g));
            }
        }
        std::mt19937 random(size.width());
        const QImage picture = randomPicture(size, QImage::Format_RGB32, random, allReds());
        QVERIFY(
            sameStoredPixels(ZTGaussROI().evaluate(picture), expected, QTest::currentDataTag()));
    }
};

QTEST_GUILESS_MAIN(tst_ZTGaussROI)
#include "tst_ZTGaussROI.moc"
