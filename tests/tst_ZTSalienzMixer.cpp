#include "ZTGaussROI.h"
#include "ZTHistogramROI.h"
#include "ZTImageTestSupport.h"
#include "ZTSalienzAchanta.h"
#include "ZTSalienzMixer.h"
#include "ZTSobelROI.h"
#include "ZTVeryImportantAreasROI.h"

#include <QPainter>
#include <QtTest>

#include <climits>
#include <functional>

using namespace ZTImageTest;

namespace {

// The mix as defined, pixel by pixel with 64-bit sums, reading only red.
QImage naiveMix(const QList<QImage>& maps, const QList<int>& weights)
{
    qint64 normaliser = 0;
    for (const int weight : weights) {
        normaliser += qMax(weight, 0);
    }
    QImage result(maps.first().size(), QImage::Format_ARGB32);
    for (int i = 0; i < result.width() * result.height(); ++i) {
        const QPoint p(i % result.width(), i / result.width());
        qint64 sum = 0;
        for (int m = 0; m < maps.size(); ++m) {
            sum += qRed(maps[m].pixel(p)) * qint64(weights[m]);
        }
        const int v = int(qBound<qint64>(0, sum / qMax<qint64>(normaliser, 1), 255));
        result.setPixel(p, qRgb(v, v, v));
    }
    return result;
}

// A colour gradient with sparse bright dots and two rectangles, something for every method to
// find. The bands are aligned to the histogram method's default grid of 20-pixel blocks of a
// 300x220 picture: a wide one painted for its width, a tall one painted for its height.
QImage structuredPicture(const QSize& size, bool bands = false)
{
    const int w = size.width(), h = size.height();
    QImage image(size, QImage::Format_RGB32);
    for (int i = 0; i < w * h; ++i) {
        image.setPixel(i % w, i / w,
            i % 97 ? qRgb(i % w * 255 / w, i / w * 255 / h, 90) : qRgb(255, 255, 240));
    }
    QPainter painter(&image);
    painter.fillRect(w / 6, h / 5, w / 3, h / 3, QColor(200, 30, 30));
    painter.fillRect(w / 2, h / 2, 2 * w / 5, 3 * h / 8, QColor(20, 40, 220));
    if (bands) {
        painter.fillRect(0, 40, 200, 40, QColor(250, 220, 0));
        painter.fillRect(240, 100, 40, 120, QColor(0, 200, 80));
    }
    return image;
}

const QList<ZTSalienzMethod> allMethods {
    SalienzSobel, SalienzGauss, SalienzHistogram, SalienzVeryImportantAreas, SalienzAchanta};

void enableOnly(ZTSalienzMixer& mixer, ZTSalienzMethod kept)
{
    for (const ZTSalienzMethod method : allMethods) {
        mixer.setMethodEnabled(method, method == kept);
    }
}

using MixerSetup = std::function<void(ZTSalienzMixer&)>;
using HistogramSetup = std::function<void(ZTHistogramROI&)>;

// A row of a forwarder and the histogram setter that it must call with the same value.
template<typename T>
void forwarderRow(
    const char* name, void (ZTSalienzMixer::*forward)(T), void (ZTHistogramROI::*set)(T), T value)
{
    QTest::newRow(name) << MixerSetup([=](ZTSalienzMixer& m) { (m.*forward)(value); })
                        << HistogramSetup([=](ZTHistogramROI& h) { (h.*set)(value); });
}

} // namespace

Q_DECLARE_METATYPE(MixerSetup)
Q_DECLARE_METATYPE(HistogramSetup)

class tst_ZTSalienzMixer : public QObject
{
    Q_OBJECT

private slots:
    void mixOfUniformMaps_data()
    {
        QTest::addColumn<QList<int>>("values");
        QTest::addColumn<QList<int>>("weights");
        QTest::addColumn<int>("expected");
        const auto row = [](const char* name, QList<int> values, QList<int> weights, int expected) {
            QTest::newRow(name) << values << weights << expected;
        };
        row("truncates, never rounds", {255, 0}, {1, 1}, 127);
        row("(-2550 + 2000) / 20 clamps to 0", {255, 100}, {-10, 20}, 0);
        row("only positive weights normalise", {100, 100, 50}, {20, -10, 10}, 50);
        row("no positive weight: normaliser 1", {255, 255}, {0, -3}, 0);
        row("sum above 255 clamps", {255, 255}, {1, 0}, 255);
        row("default weights at full salience", {255, 255, 255, 255}, {20, 2, -10, 10}, 175);
        row("largest weights do not overflow", {255, 255}, {INT_MAX, INT_MAX}, 255);
        row("extreme weights of both signs", {255, 254}, {INT_MAX, INT_MIN}, 0);
    }

    // Maps whose green, blue and alpha differ from their red: only red is read.
    void mixOfUniformMaps()
    {
        QFETCH(QList<int>, values);
        QFETCH(QList<int>, weights);
        QFETCH(int, expected);
        QList<QImage> maps;
        for (const int value : values) {
            maps.append(uniform(QSize(7, 3), qRgba(value, 255 - value, 7, 99)));
        }
        QCOMPARE(pixelsOf(ZTSalienzMixer(QSize(9, 9)).mix(maps, weights)),
            QVector<QRgb>(21, qRgb(expected, expected, expected)));
    }

    // The result has the first map's size; a smaller map counts 0 where it has no pixel, a map
    // without a weight not at all, and a map of one byte per pixel by its value.
    void mixOfMapsOfOtherSizes()
    {
        ZTSalienzMixer mixer(QSize(9, 9));
        const QImage mixed = mixer.mix(
            {uniform(QSize(3, 2), qRgb(100, 100, 100)), uniform(QSize(2, 3), qRgb(200, 200, 200)),
                uniform(QSize(9, 9), qRgb(255, 255, 255))},
            {1, 1});
        QCOMPARE(pixelsOf(mixed), pixels("150, 150, 50, 150, 150, 50"));
        const QImage grey8 = uniform(QSize(2, 1), qRgb(200, 200, 200), QImage::Format_Grayscale8);
        QCOMPARE(pixelsOf(mixer.mix({uniform(QSize(2, 1), qRgb(100, 100, 100)), grey8}, {1, 1})),
            pixels("150, 150"));
        QVERIFY(mixer.mix({}, {}).isNull());
        QVERIFY(mixer.mix({QImage(), grey8}, {1, 1}).isNull());
    }

    void mixOfEverySum_data()
    {
        QTest::addColumn<QList<int>>("weights");
        // Weights n - 1 and 1 give every sum from 0 to 255 * n, each divided by n.
        for (const int n : {1, 2, 3, 7, 12, 32, 100, 255, 256, 257, 65536, 65537, 99991}) {
            QTest::addRow("normaliser %d, every sum", n) << QList<int> {n - 1, 1};
        }
        QTest::newRow("default weights of Sobel and histogram") << QList<int> {20, -10};
        QTest::newRow("negative first") << QList<int> {-7, 5};
        QTest::newRow("largest 32-bit sums") << QList<int> {65536, -8355968};
        QTest::newRow("just past 32-bit sums") << QList<int> {65536, -8355969};
        QTest::newRow("extreme weights") << QList<int> {INT_MAX, INT_MIN};
    }

    // Every pair of reds, so every weighted sum, against the mix as defined, in a width that
    // leaves a remainder after each group of pixels that the mix handles at once.
    void mixOfEverySum()
    {
        QFETCH(QList<int>, weights);
        QImage first(251, 262, QImage::Format_ARGB32);
        QImage second(first.size(), QImage::Format_ARGB32);
        for (int i = 0; i < 251 * 262; ++i) {
            first.setPixel(i % 251, i / 251, qRgb(i % 65536 / 256, 0, 0));
            second.setPixel(i % 251, i / 251, qRgb(i % 256, 0, 0));
        }
        QVERIFY(sameStoredPixels(ZTSalienzMixer(QSize(9, 9)).mix({first, second}, weights),
            naiveMix({first, second}, weights), QTest::currentDataTag()));
    }

    void analyzeScalesToWorkImage_data()
    {
        QTest::addColumn<QSize>("analysisSize");
        QTest::addColumn<QSize>("pictureSize");
        QTest::addColumn<QSize>("mapSize");
        QTest::addColumn<int>("weight");
        const auto row
            = [](const char* name, QSize analysis, QSize picture, QSize map, int weight) {
                  QTest::newRow(name) << analysis << picture << map << weight;
              };
        row("landscape into 320x240", {320, 240}, {1600, 1200}, {320, 240}, 2);
        row("portrait into 320x240", {320, 240}, {1200, 1600}, {180, 240}, -7);
        row("scaled up", {320, 240}, {32, 24}, {320, 240}, 0);
        row("thin picture keeps one row", {320, 240}, {4000, 2}, {320, 1}, 2);
        row("invalid size keeps the picture's", {-1, -1}, {123, 45}, {123, 45}, INT_MAX);
    }

    // With only the centre prior enabled, analyze() returns its map unweighted, of the work
    // image's size.
    void analyzeScalesToWorkImage()
    {
        QFETCH(QSize, analysisSize);
        QFETCH(QSize, pictureSize);
        QFETCH(QSize, mapSize);
        QFETCH(int, weight);
        ZTSalienzMixer mixer(analysisSize);
        enableOnly(mixer, SalienzGauss);
        mixer.setMethodWeight(SalienzGauss, weight);
        const QImage map
            = mixer.analyze(uniform(pictureSize, qRgb(40, 90, 160), QImage::Format_RGB32));
        QVERIFY(sameStoredPixels(map, ZTGaussROI().evaluate(QImage(mapSize, QImage::Format_RGB32)),
            QTest::currentDataTag()));
    }

    void analyzeReturnsInputWithoutMaps_data()
    {
        QTest::addColumn<QSize>("analysisSize");
        QTest::addColumn<QImage>("image");
        QTest::addColumn<bool>("disableAll");
        const QImage picture = uniform(QSize(64, 48), qRgb(40, 90, 160), QImage::Format_RGB32);
        QTest::newRow("every method disabled") << QSize(320, 240) << picture << true;
        QTest::newRow("empty analysis size") << QSize(0, 240) << picture << false;
        QTest::newRow("null picture") << QSize(320, 240) << QImage() << false;
        QTest::newRow("null picture, invalid size") << QSize(-1, -1) << QImage() << false;
        // Regression (fuzz_mixer): scaling up to these made QImage log that it ran out of memory.
        // Work images above 2^29 pixels are refused before anything is allocated.
        QTest::newRow("huge analysis size logged out of memory")
            << QSize(INT_MAX, INT_MAX) << picture << false;
        QTest::newRow("work image of 65536x49152 pixels")
            << QSize(65536, 65536) << picture << false;
    }

    void analyzeReturnsInputWithoutMaps()
    {
        QFETCH(QSize, analysisSize);
        QFETCH(QImage, image);
        QFETCH(bool, disableAll);
        ZTSalienzMixer mixer(analysisSize);
        for (const ZTSalienzMethod method : allMethods) {
            mixer.setMethodEnabled(method, !disableAll);
        }
        QImage result;
        QCOMPARE(messagesDuring([&] { result = mixer.analyze(image); }), 0);
        QCOMPARE(result.cacheKey(), image.cacheKey());
        QVERIFY(mixer.gatherResults(image).isEmpty());
    }

    // Pictures without 32-bit pixels are analysed as their ARGB32 conversions.
    void analyzeConvertsOtherFormats()
    {
        ZTSalienzMixer mixer(QSize(-1, -1));
        const QImage picture = structuredPicture(QSize(40, 30));
        QCOMPARE(
            mixer.analyze(picture.convertToFormat(QImage::Format_RGB888)), mixer.analyze(picture));
    }

    // The default set and its weights, the histogram's stored negated; keys without a method
    // (outside the enumeration, or very important areas before an injection) are ignored.
    void methodSet()
    {
        ZTSalienzMixer mixer(QSize(320, 240));
        QVERIFY(dynamic_cast<ZTSobelROI*>(mixer.roiMethod(SalienzSobel)));
        QVERIFY(dynamic_cast<ZTGaussROI*>(mixer.roiMethod(SalienzGauss)));
        QVERIFY(dynamic_cast<ZTHistogramROI*>(mixer.roiMethod(SalienzHistogram)));
        QVERIFY(dynamic_cast<ZTSalienzAchanta*>(mixer.roiMethod(SalienzAchanta)));
        QCOMPARE(mixer.histogramROI(), mixer.roiMethod(SalienzHistogram));
        QCOMPARE(mixer.gatherWeights(), QList<int>({20, 2, -10, 10}));
        for (const ZTSalienzMethod key :
            {SalienzVeryImportantAreas, ZTSalienzMethod(-1), ZTSalienzMethod(9)}) {
            mixer.setMethodWeight(key, 50);
            mixer.setMethodEnabled(key, true);
            QVERIFY(!mixer.roiMethod(key) && !mixer.isMethodEnabled(key));
        }
        mixer.setMethodWeight(SalienzHistogram, -5);
        mixer.setMethodWeight(SalienzSobel, -5);
        QCOMPARE(mixer.gatherWeights(), QList<int>({-5, 2, 5, 10}));
        mixer.setMethodWeight(SalienzHistogram, INT_MIN); // saturates
        mixer.setMethodEnabled(SalienzGauss, false);
        QCOMPARE(mixer.gatherWeights(), QList<int>({-5, INT_MAX, 10}));
    }

    void histogramForwarders_data()
    {
        QTest::addColumn<MixerSetup>("forward");
        QTest::addColumn<HistogramSetup>("configure");
        forwarderRow("channel 1 bins", &ZTSalienzMixer::updateHistogramBinsChannel1,
            &ZTHistogramROI::setBin1, 2);
        forwarderRow("channel 2 bins", &ZTSalienzMixer::updateHistogramBinsChannel2,
            &ZTHistogramROI::setBin2, 3);
        forwarderRow("chi-square threshold", &ZTSalienzMixer::updateHistogramChiSquareThreshold,
            &ZTHistogramROI::setChiSquareThreshold, 5.0);
        forwarderRow("horizontal blocks", &ZTSalienzMixer::updateHistogramHorizontalBlocks,
            &ZTHistogramROI::setHorizontalBlocks, 7);
        forwarderRow("5 vertical blocks", &ZTSalienzMixer::updateHistogramVerticalBlocks,
            &ZTHistogramROI::setVerticalBlocks, 5);
        forwarderRow("minimum width", &ZTSalienzMixer::updateHistogramMinWidth,
            &ZTHistogramROI::setMinWidth, 0.9);
        forwarderRow("minimum height", &ZTSalienzMixer::updateHistogramMinHeight,
            &ZTHistogramROI::setMinHeight, 0.9);
    }

    // Each forwarder changes the next analysis as the matching setter changes a histogram method
    // of its own, and the change shows in the map.
    void histogramForwarders()
    {
        QFETCH(MixerSetup, forward);
        QFETCH(HistogramSetup, configure);
        const QImage picture = structuredPicture(QSize(300, 220), true);
        ZTSalienzMixer mixer(QSize(-1, -1));
        enableOnly(mixer, SalienzHistogram);
        forward(mixer);
        ZTHistogramROI histogram;
        const QImage untouched = histogram.evaluate(picture);
        configure(histogram);
        const QImage map = mixer.analyze(picture);
        QVERIFY(sameStoredPixels(map, histogram.evaluate(picture), QTest::currentDataTag()));
        QVERIFY(map != untouched);
    }

    // End-to-end analyses against the methods' own maps of the work image mixed by hand, after
    // each change of the set; analysing again gives the same map. A second injection destroys
    // the first method (the sanitizer build would report a leak or a double free) and brings a
    // fresh, enabled one with the new areas and weight 20.
    void analysisMatchesMethodsMixedByHand()
    {
        const QImage picture = structuredPicture(QSize(400, 300));
        const QImage work = picture.scaled(320, 240, Qt::KeepAspectRatio, Qt::FastTransformation);
        const QList<QRect> areas {QRect(50, 40, 60, 40), QRect(250, 150, 30, 50)};
        const QImage sobel = ZTSobelROI().evaluate(work), prior = ZTGaussROI().evaluate(work);
        const QImage histogram = ZTHistogramROI().evaluate(work);
        const QImage important = ZTVeryImportantAreasROI(areas, work.size()).evaluate(work);
        const QImage replaced
            = ZTVeryImportantAreasROI({QRect(9, 9, 5, 5)}, work.size()).evaluate(work);
        const QImage surround = ZTSalienzAchanta().evaluate(work);
        ZTSalienzMixer mixer(QSize(320, 240));
        const QImage defaults = naiveMix({sobel, prior, histogram, surround}, {20, 2, -10, 10});
        QVERIFY(sameStoredPixels(mixer.analyze(picture), defaults, "default set"));
        mixer.injectVeryImportantAreas(areas, QSize(320, 240));
        const QImage injected
            = naiveMix({sobel, prior, histogram, important, surround}, {20, 2, -10, 20, 10});
        QCOMPARE(mixer.gatherWeights(), QList<int>({20, 2, -10, 20, 10}));
        QVERIFY(sameStoredPixels(mixer.analyze(picture), injected, "injected"));
        QVERIFY(sameStoredPixels(mixer.analyze(picture), injected, "injected, again"));
        // A disabled method in the middle of the key order must not shift the later weights.
        mixer.setMethodWeight(SalienzSobel, 3);
        mixer.setMethodWeight(SalienzHistogram, 40);
        mixer.setMethodEnabled(SalienzGauss, false);
        const QImage reweighted
            = naiveMix({sobel, histogram, important, surround}, {3, -40, 20, 10});
        QVERIFY(sameStoredPixels(mixer.analyze(picture), reweighted, "reweighted"));
        mixer.setMethodEnabled(SalienzVeryImportantAreas, false);
        mixer.setMethodWeight(SalienzVeryImportantAreas, 3);
        mixer.injectVeryImportantAreas({QRect(9, 9, 5, 5)}, QSize(320, 240));
        const QImage reinjected
            = naiveMix({sobel, histogram, replaced, surround}, {3, -40, 20, 10});
        QVERIFY(sameStoredPixels(mixer.analyze(picture), reinjected, "injected twice"));
    }
};

QTEST_GUILESS_MAIN(tst_ZTSalienzMixer)
#include "tst_ZTSalienzMixer.moc"
