#include "ZTImageTestSupport.h"
#include "ZTSalienzClusterer.h"
#include "ZTSalienzMaximizerHorizontal.h"
#include "ZTSalienzMaximizerVertical.h"
#include "ZTSalienzMixer.h"

#include <QtTest>

#include <thread>
#include <tuple>
#include <vector>

// Several threads, each with its own mixer, clusterer and maximizers, analyse one shared picture
// at the same time. The library keeps no state outside its objects, so every thread must get the
// results of a single thread working alone. Under ThreadSanitizer (the build that runs the tests
// labelled "threads") any data race between the threads is reported as well.

namespace {

// The map, its cubes and the starts of the best 40-pixel column and row windows.
using Analysis = std::tuple<QImage, QImage, int, int>;

Analysis analyse(const QImage& picture, const QSize& analysisSize, const QList<QRect>& areas)
{
    ZTSalienzMixer mixer(analysisSize);
    // Given in the work image's size, so that no warning is logged from the threads.
    mixer.injectVeryImportantAreas(areas, picture.size().scaled(analysisSize, Qt::KeepAspectRatio));
    const QImage map = mixer.analyze(picture);
    return Analysis(map, ZTSalienzClusterer().cluster(map),
        ZTSalienzMaximizerHorizontal(SalienzPixelWeightLinear).startOfBestRange(map, 40),
        ZTSalienzMaximizerVertical(SalienzPixelWeightThreshold).startOfBestRange(map, 40));
}

} // namespace

class tst_ZTThreads : public QObject
{
    Q_OBJECT

private slots:
    void concurrentAnalysesMatchOneThread_data();
    void concurrentAnalysesMatchOneThread();
};

void tst_ZTThreads::concurrentAnalysesMatchOneThread_data()
{
    QTest::addColumn<QSize>("analysisSize");
    QTest::addColumn<QList<QRect>>("areas");

    QTest::newRow("picture's own size") << QSize(180, 130) << QList<QRect> {};
    QTest::newRow("scaled down, very important areas")
        << QSize(120, 90) << QList<QRect> {QRect(10, 10, 30, 20), QRect(70, 40, 15, 30)};
    QTest::newRow("scaled up") << QSize(260, 200) << QList<QRect> {};
}

void tst_ZTThreads::concurrentAnalysesMatchOneThread()
{
    QFETCH(QSize, analysisSize);
    QFETCH(QList<QRect>, areas);

    std::mt19937 random(11);
    const QImage picture = ZTImageTest::randomBlocks(QSize(180, 130), 15, random);
    const Analysis alone = analyse(picture, analysisSize, areas);
    QVERIFY(!std::get<0>(alone).isNull());
    std::vector<Analysis> results(8);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < 4; ++t) {
        // Every thread reads the same QImage object, not a copy of it.
        threads.emplace_back([&, t] {
            results[2 * t] = analyse(picture, analysisSize, areas);
            results[2 * t + 1] = analyse(picture, analysisSize, areas);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    QVERIFY(results == std::vector<Analysis>(8, alone));
}

QTEST_GUILESS_MAIN(tst_ZTThreads)
#include "tst_ZTThreads.moc"
