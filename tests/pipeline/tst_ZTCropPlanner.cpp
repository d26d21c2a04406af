// ztroi's crops: the command line's requests and areas handed to the library's planner, each
// crop reported with its request. The planning itself is tested in tst_ZTSalienzCropPlanner.

#include "ZTImageTestSupport.h"
#include "ZTOptionParser.h"
#include "crops/ZTCropPlanner.h"

#include <QtTest>

class tst_ZTCropPlanner : public QObject
{
    Q_OBJECT

private slots:
    void plan_data();
    void plan();
    void declaredAreas();
};

void tst_ZTCropPlanner::plan_data()
{
    QTest::addColumn<QString>("request");

    QTest::newRow("aspect") << "16:9";
    QTest::newRow("output size: its reduced aspect") << "1080x1350";
    QTest::newRow("aspect that is not reduced") << "1920:1080";
    QTest::newRow("the picture's aspect") << "3:2";
}

// Each crop is the library's for the request's aspect, and carries the request as it was asked.
void tst_ZTCropPlanner::plan()
{
    QFETCH(QString, request);

    std::mt19937 random(7);
    const QImage map = ZTImageTest::randomPicture(
        QSize(48, 32), QImage::Format_ARGB32, random, ZTImageTest::allReds());
    const QSize picture(600, 400);
    ZTCropRequest asked;
    QVERIFY(ZTOptionParser::parseCrop(request, &asked));

    const ZTCrop crop = ZTCropPlanner(map, picture, SalienzPixelWeightThreshold).plan(asked);
    const ZTSalienzCropPlanner::Crop expected
        = ZTSalienzCropPlanner(map, picture, SalienzPixelWeightThreshold)
              .cropForAspect(asked.aspectWidth, asked.aspectHeight);
    QCOMPARE(crop.request.text, request);
    QCOMPARE(crop.request.outputSize, asked.outputSize);
    QCOMPARE(crop.rect, expected.rect);
    QCOMPARE(crop.salienceKept, expected.salienceKept);
    QCOMPARE(crop.centred, expected.centred);
    QCOMPARE(crop.areasKept, -1);
    QVERIFY(!crop.rect.isEmpty());
}

// Areas and their cores reach the planner; a request without an aspect gives a null crop.
void tst_ZTCropPlanner::declaredAreas()
{
    QImage map(30, 10, QImage::Format_ARGB32);
    map.fill(qRgb(200, 200, 200));
    ZTCropPlanner planner(map, QSize(300, 100), SalienzPixelWeightLinear);
    const ZTCropRequest square {QStringLiteral("1:1"), 1, 1, {}};
    planner.setDeclaredAreas({});
    QCOMPARE(planner.plan(square).areasKept, 0);

    // Too wide for the window, the area is kept by its core at 250 ... 259.
    planner.setDeclaredAreas({{QRect(50, 0, 250, 100), QRect(250, 10, 10, 10)}});
    const ZTCrop crop = planner.plan(square);
    QCOMPARE(crop.rect, QRect(160, 0, 100, 100));
    QCOMPARE(crop.areasKept, 1);

    const ZTCrop none = planner.plan(ZTCropRequest());
    QVERIFY(none.rect.isNull());
    QCOMPARE(none.salienceKept, 0.0);
}

QTEST_GUILESS_MAIN(tst_ZTCropPlanner)
#include "tst_ZTCropPlanner.moc"
