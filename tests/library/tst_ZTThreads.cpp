#include "ZTImageTestSupport.h"
#include "ZTSalienzMixer.h"

#include <QtTest>

#include <thread>
#include <vector>

// Several threads, each with its own mixer, analyse one shared picture at the same time. The
// library keeps no state outside its objects, so every thread must get the map of a single
// thread working alone. Under ThreadSanitizer (the build that runs the tests labelled "threads")
// any data race between the threads is reported as well.
class tst_ZTThreads : public QObject
{
    Q_OBJECT

private slots:
    void concurrentAnalysesMatchOneThread();
};

void tst_ZTThreads::concurrentAnalysesMatchOneThread()
{
    std::mt19937 random(11);
    const QImage picture = ZTImageTest::randomBlocks(QSize(180, 130), 15, random);
    const auto analyse = [&picture] {
        ZTSalienzMixer mixer(QSize(120, 90));
        // Given in the work image's size, so that no warning is logged from the threads.
        mixer.injectVeryImportantAreas({QRect(10, 10, 30, 20), QRect(70, 40, 15, 30)},
            picture.size().scaled(QSize(120, 90), Qt::KeepAspectRatio));
        return mixer.analyze(picture);
    };
    const QImage alone = analyse();
    std::vector<QImage> results(8);
    std::vector<std::thread> threads;
    for (QImage& result : results) {
        // Every thread reads the same QImage object, not a copy of it.
        threads.emplace_back([&] { result = analyse(); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    QVERIFY(!alone.isNull() && results == std::vector<QImage>(8, alone));
}

QTEST_GUILESS_MAIN(tst_ZTThreads)
#include "tst_ZTThreads.moc"
