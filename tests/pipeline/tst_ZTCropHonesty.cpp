// What a crop promises: its exact aspect in whole pixels, the size and scale it is written at
// (never enlarged with no-enlarge), and the warnings of crops that need a look.

#include "ZTToolTestSupport.h"
#include "analysis/ZTPictureAnalyzer.h"
#include "crops/ZTCropWarnings.h"
#include "crops/ZTCropWriter.h"

#include <ZTSalienzCropPlanner.h>

#include <QTemporaryDir>
#include <QtTest>

#include <numeric>

class tst_ZTCropHonesty : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyWindowIsExactAndLargest();
    void writtenSize_data();
    void writtenSize();
    void warnings_data();
    void warnings();
    void analysisReportsScaleAndWarnings();
};

// On every picture up to 40x40, for aspects small, prime and large: when the reduced aspect
// a : b fits, the window is k a x k b, and (k + 1) a x (k + 1) b would not fit. When it does not
// fit, the window is the nearest in whole pixels.
void tst_ZTCropHonesty::everyWindowIsExactAndLargest()
{
    // 16:9 of 10x5: 5 rows and 8.9 columns, rounded.
    QCOMPARE(ZTSalienzCropPlanner::largestWindow(QSize(10, 5), 16, 9), QSize(9, 5));
    const QList<QSize> aspects {QSize(1, 1), QSize(16, 9), QSize(4, 5), QSize(1920, 1080),
        QSize(7, 13), QSize(3, 31), QSize(37, 2)};
    for (int width = 1; width <= 40; ++width) {
        for (int height = 1; height <= 40; ++height) {
            for (const QSize& aspect : aspects) {
                const int divisor = std::gcd(aspect.width(), aspect.height());
                const int a = aspect.width() / divisor;
                const int b = aspect.height() / divisor;
                const QSize window = ZTSalienzCropPlanner::largestWindow(
                    QSize(width, height), aspect.width(), aspect.height());
                const QByteArray where
                    = QString::asprintf("%dx%d at %d:%d", width, height, a, b).toUtf8();
                QVERIFY2(
                    !window.isEmpty() && QRect(0, 0, width, height).contains(QRect({0, 0}, window)),
                    where);
                const bool exact = window.width() * b == window.height() * a;
                const bool largest = window.width() + a > width || window.height() + b > height;
                QVERIFY2((a > width || b > height) || (exact && largest), where);
            }
        }
    }
}

void tst_ZTCropHonesty::writtenSize_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QSize>("window");
    QTest::addColumn<bool>("noEnlarge");
    QTest::addColumn<QSize>("written");
    QTest::addColumn<double>("scale");

    QTest::newRow("WxH enlarged on one side only, by rounding")
        << "4x4" << QSize(3, 4) << false << QSize(4, 4) << 4.0 / 3;
    QTest::newRow("no-enlarge: the largest 4:5 in a wider window")
        << "1080x1350" << QSize(900, 1000) << true << QSize(800, 1000) << 1.0;
    QTest::newRow("no-enlarge: larger windows are still reduced to WxH")
        << "1080x1350" << QSize(2160, 2700) << true << QSize(1080, 1350) << 0.5;
}

void tst_ZTCropHonesty::writtenSize()
{
    QFETCH(QString, request);
    QFETCH(QSize, window);
    QFETCH(bool, noEnlarge);
    QFETCH(QSize, written);
    QFETCH(double, scale);

    const ZTCropWriter writer(QString(), ZTCropWriter::defaultQuality, 0, noEnlarge);
    QCOMPARE(writer.outputSize(cropRequest(request), window), written);
    QCOMPARE(ZTCropWriter::scale(window, written), scale);
    QCOMPARE(ZTCropWriter::enlarges(window, written), scale > 1.0);
}

void tst_ZTCropHonesty::warnings_data()
{
    QTest::addColumn<double>("kept");     // the 200x200 crop's salienceKept, at 100, 0
    QTest::addColumn<double>("bestKept"); // another aspect's of the same 400x200 picture
    QTest::addColumn<QList<QRect>>("areas");
    QTest::addColumn<QList<QRect>>("faces");
    QTest::addColumn<QStringList>("expected");

    const auto row = [](const char* name, double kept, double bestKept, const QList<QRect>& areas,
                         const QList<QRect>& faces, const QStringList& expected) {
        QTest::newRow(name) << kept << bestKept << areas << faces << expected;
    };
    row("an area partly inside is cut", 0.8, 0.9, {QRect(250, 50, 100, 50)}, {}, {"cuts-area"});
    row("an area wholly outside is not cut", 0.8, 0.9, {QRect(320, 50, 50, 50)}, {}, {});
    row("an area wider than the crop could not be held", 0.8, 0.9, {QRect(50, 50, 300, 50)}, {},
        {});
    row("an area reaching out of the picture counts by its part inside", 0.8, 0.9,
        {QRect(120, -100, 50, 150)}, {}, {});
    row("half of the best aspect's salience is not weak", 0.45, 0.9, {}, {}, {});
    row("a map without salience makes nothing weak", 0.0, 0.0, {}, {}, {});
    row("every warning, in order: area, face, under half is weak", 0.449, 0.9,
        {QRect(90, 0, 20, 20)}, {QRect(290, 0, 20, 20)}, {"cuts-area", "cuts-face", "weak"});
}

void tst_ZTCropHonesty::warnings()
{
    QFETCH(double, kept);
    QFETCH(double, bestKept);
    QFETCH(QList<QRect>, areas);
    QFETCH(QList<QRect>, faces);
    QFETCH(QStringList, expected);

    const ZTCrop checked {cropRequest(QStringLiteral("1:1")), QRect(100, 0, 200, 200), kept};
    ZTCrop best = checked;
    best.salienceKept = bestKept;
    QList<ZTCrop> crops {checked, best};
    ZTCropWarnings::assess(crops, ZTCropWriter(), QSize(400, 200), areas, faces);
    QCOMPARE(crops.first().warnings, expected);
}

// From a picture file to the report, with no-enlarge (tst_ztroi checks the JSON record of an
// enlarged crop): the 4:5 window of a 200x100 picture is 80x100, and is written at that size
// rather than enlarged to 1080x1350.
void tst_ZTCropHonesty::analysisReportsScaleAndWarnings()
{
    QTemporaryDir folder;
    const QString photo = writeFile(
        folder.filePath("photo.png"), encoded(scene(QSize(200, 100), QPoint(150, 50)), "png"));
    ZTAnalysisSettings settings;
    settings.writeCrops = true;
    settings.noEnlarge = true;
    settings.crops = {cropRequest(QStringLiteral("1080x1350"))};
    const ZTPictureReport report = ZTPictureAnalyzer(settings).analyze(photo).report;
    QVERIFY2(report.ok(), qPrintable(report.error));
    const ZTCrop& crop = report.crops.first();
    QCOMPARE(crop.writtenSize, QSize(80, 100));
    QCOMPARE(crop.scale, 1.0);
    QCOMPARE(crop.warnings, QStringList());
}

QTEST_GUILESS_MAIN(tst_ZTCropHonesty)
#include "tst_ZTCropHonesty.moc"
