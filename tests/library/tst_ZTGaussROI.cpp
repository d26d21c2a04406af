#include "ZTGaussROI.h"
#include "ZTImageTestSupport.h"

#include <QtTest>

using namespace ZTImageTest;

class tst_ZTGaussROI : public QObject
{
    Q_OBJECT

private slots:
    // 1x1 has no pixel at the centre, so 254; 2x2 has 255 at (1, 1); 0 from 433 pixels on.
    void pixelValues()
    {
        QList<int> reds;
        for (const auto& [size, point] : QList<QPair<QSize, QPoint>> {{{1, 1}, {0, 0}},
                 {{2, 2}, {1, 1}}, {{2, 2}, {0, 0}}, {{2, 2}, {1, 0}}, {{2, 2}, {0, 1}},
                 {{640, 480}, {320, 240}}, {{640, 480}, {320, 0}}, {{640, 480}, {0, 240}},
                 {{640, 480}, {0, 0}}, {{320, 240}, {0, 0}}, {{1000, 2}, {630, 1}},
                 {{1000, 2}, {240, 1}}, {{1000, 2}, {932, 1}}, {{1000, 2}, {933, 1}}}) {
            reds.append(
                qRed(ZTGaussROI().evaluate(QImage(size, QImage::Format_RGB32)).pixel(point)));
        }
        QCOMPARE(reds, QList<int>({254, 255, 254, 254, 254, 255, 46, 12, 2, 78, 154, 34, 1, 0}));
    }

    // Maps of random pictures against the formula pixel by pixel: the content plays no part.
    // Odd and even sides mirror about the centre differently; large maps reach every level.
    void matchesFormula()
    {
        for (const QSize size : {QSize(0, 0), QSize(1, 1), QSize(7, 1), QSize(2, 3), QSize(33, 17),
                 QSize(641, 481), QSize(3, 1001), QSize(1279, 959), QSize(1280, 960)}) {
            const QImage expected = naivePrior(size);
            std::mt19937 random(size.width());
            const QImage picture = randomPicture(size, QImage::Format_RGB32, random, allReds());
            QVERIFY(sameStoredPixels(ZTGaussROI().evaluate(picture), expected,
                QString::asprintf("prior-%dx%d", size.width(), size.height())));
        }
    }
};

QTEST_GUILESS_MAIN(tst_ZTGaussROI)
#include "tst_ZTGaussROI.moc"
