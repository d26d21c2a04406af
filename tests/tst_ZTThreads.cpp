#include "ZTSalienzClusterer.h"
#include "ZTSalienzMaximizerHorizontal.h"
#include "ZTSalienzMaximizerVertical.h"
#include "ZTSalienzMixer.h"

#include <QPainter>
#include <QtTest>

#include <thread>
#include <vector>

// Several threads, each with its own mixer, clusterer and maximizers, analyse one shared picture
// at the same time. The library keeps no state outside its objects, so every thread must get the
// maps of a single thread working alone. Under ThreadSanitizer (the build that runs the tests
// labelled "threads") any data race between the threads is reported as well.

namespace {

constexpr int threadCount = 4;
constexpr int roundsPerThread = 2;
constexpr int cropLength = 40;

struct Analysis
{
    QImage map;
    QImage cubes;
    int cropColumn = -2;
    int cropRow = -2;
};

struct Setup
{
    QSize analysisSize;
    QList<QRect> areas;
    int verticalBlocks = 11;
};

// A picture with colour areas, edges and a gradient, so that every method has work to do.
QImage sharedPicture()
{
    QImage picture(180, 130, QImage::Format_ARGB32);
    for (int y = 0; y < picture.height(); ++y) {
        QRgb* const line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            line[x] = qRgb(x, 60 + y, (x * y) % 256);
        }
    }
    QPainter painter(&picture);
    painter.fillRect(20, 15, 70, 40, QColor(200, 30, 40));
    painter.fillRect(0, 90, 180, 40, QColor(20, 40, 190));
    painter.setBrush(QColor(250, 250, 60));
    painter.drawEllipse(QPoint(130, 60), 25, 20);
    painter.end();
    return picture;
}

Analysis analyse(const QImage& picture, const Setup& setup)
{
    ZTSalienzMixer mixer(setup.analysisSize);
    if (!setup.areas.isEmpty()) {
        // Given in the work image's size, so that no warning is logged from the threads.
        const QSize work = setup.analysisSize.isValid()
            ? picture.size().scaled(setup.analysisSize, Qt::KeepAspectRatio)
            : picture.size();
        mixer.injectVeryImportantAreas(setup.areas, work);
    }
    mixer.updateHistogramVerticalBlocks(setup.verticalBlocks);

    Analysis result;
    result.map = mixer.analyze(picture);
    result.cubes = ZTSalienzClusterer().cluster(result.map);
    result.cropColumn = ZTSalienzMaximizerHorizontal(SalienzPixelWeightLinear)
                            .startOfBestRange(result.map, cropLength);
    result.cropRow = ZTSalienzMaximizerVertical(SalienzPixelWeightThreshold)
                         .startOfBestRange(result.map, cropLength);
    return result;
}

} // namespace

Q_DECLARE_METATYPE(Setup)

class tst_ZTThreads : public QObject
{
    Q_OBJECT

private slots:
    void concurrentAnalysesMatchOneThread_data();
    void concurrentAnalysesMatchOneThread();
};

void tst_ZTThreads::concurrentAnalysesMatchOneThread_data()
{
    QTest::addColumn<Setup>("setup");

    QTest::newRow("picture's own size") << Setup {QSize(-1, -1), {}, 11};
    QTest::newRow("scaled down, very important areas")
        << Setup {QSize(120, 90), {QRect(10, 10, 30, 20), QRect(70, 40, 15, 30)}, 11};
    QTest::newRow("scaled up, 5 block rows") << Setup {QSize(260, 200), {}, 5};
}

void tst_ZTThreads::concurrentAnalysesMatchOneThread()
{
    QFETCH(Setup, setup);

    const QImage picture = sharedPicture();
    const Analysis alone = analyse(picture, setup);
    QVERIFY(!alone.map.isNull());

    std::vector<Analysis> results(size_t(threadCount) * roundsPerThread);
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        // Every thread reads the same QImage object, not a copy of it.
        threads.emplace_back([&picture, &setup, &results, t] {
            for (int round = 0; round < roundsPerThread; ++round) {
                results[size_t(t * roundsPerThread + round)] = analyse(picture, setup);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    for (const Analysis& result : results) {
        QCOMPARE(result.map, alone.map);
        QCOMPARE(result.cubes, alone.cubes);
        QCOMPARE(result.cropColumn, alone.cropColumn);
        QCOMPARE(result.cropRow, alone.cropRow);
    }
}

QTEST_GUILESS_MAIN(tst_ZTThreads)
#include "tst_ZTThreads.moc"
