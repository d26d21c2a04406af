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

// A colour gradient with two bands, something for every method to find. The bands are aligned
// to the histogram method's default grid of 20-pixel blocks of a 300x220 picture: a wide one
// painted for its width, a tall one painted for its height.
QImage structuredPicture(const QSize& size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int i = 0; i < size.width() * size.height(); ++i) {
        const int x = i % size.width(), y = i / size.width();
        image.setPixel(x, y, qRgb(x * 255 / size.width(), y * 255 / size.height(), 90));
    }
    QPainter painter(&image);
    painter.fillRect(0, 40, 200, 40, QColor(250, 220, 0));
    painter.fillRect(240, 100, 40, 120, QColor(0, 200, 80));
    return image;
}

// Enables the methods under the keys in @p kept and disables the others.
void enableOnly(ZTSalienzMixer& mixer, const QList<int>& kept)
{
    for (int key = SalienzSobel; key <= SalienzAchanta; ++key) {
        mixer.setMethodEnabled(ZTSalienzMethod(key), kept.contains(key));
    }
}

using Forwarding = std::function<void(ZTSalienzMixer&, ZTHistogramROI&)>;

// A row that calls a forwarder of a mixer and the setter of a histogram method that it must call.
#define FORWARDER(name, forward, set, value)                                                       \
    QTest::newRow(name) << Forwarding([](ZTSalienzMixer& mixer, ZTHistogramROI& histogram) {       \
        mixer.forward(value);                                                                      \
        histogram.set(value);                                                                      \
    })

} // namespace

Q_DECLARE_METATYPE(Forwarding)

class tst_ZTSalienzMixer : public QObject
{
    Q_OBJECT

private slots:
    void mix_data()
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
        row("largest weights do not overflow", {255, 255}, {INT_MAX, INT_MAX}, 255);
        // Without values: every pair of reds. Weights n - 1 and 1 give every sum from 0 to
        // 255 * n, each divided by n.
        for (const int n : {1, 3, 7, 256, 257, 65537, 99991}) {
            row(qPrintable(QString("normaliser %1, every sum").arg(n)), {}, {n - 1, 1}, -1);
        }
        row("negative first", {}, {-7, 5}, -1);
        row("largest 32-bit sums", {}, {65536, -8355968}, -1);
        row("just past 32-bit sums", {}, {65536, -8355969}, -1);
        row("extreme weights", {}, {INT_MAX, INT_MIN}, -1);
    }

    // Maps of the given values, whose green, blue and alpha differ from their red, as only red
    // is read, and of alternating widths and heights, as the result has the first map's size and
    // a smaller map counts as 0 beyond its last column and row; or maps of every
    // pair of reds, so every weighted sum, in a width that leaves a remainder after each group of
    // pixels that the mix handles at once. Both against the mix as defined.
    void mix()
    {
        QFETCH(QList<int>, values);
        QFETCH(QList<int>, weights);
        QFETCH(int, expected);
        QList<QImage> maps;
        for (const int value : values) {
            maps.append(uniform(
                QSize(9, 3) - maps.size() % 2 * QSize(2, 1), qRgba(value, 255 - value, 7, 99)));
        }
        if (values.isEmpty()) {
            maps = {uniform(QSize(251, 262), 0), uniform(QSize(251, 262), 0)};
            for (int i = 0; i < 251 * 262; ++i) {
                maps[0].setPixel(i % 251, i / 251, qRgb(i % 65536 / 256, 0, 0));
                maps[1].setPixel(i % 251, i / 251, qRgb(i % 256, 0, 0));
            }
        }
        const QImage mixed = ZTSalienzMixer(QSize(9, 9)).mix(maps, weights);
        QVERIFY(sameStoredPixels(mixed, naiveMix(maps, weights), QTest::currentDataTag()));
        QVERIFY(expected < 0 || mixed.pixel(0, 0) == qRgb(expected, expected, expected));
    }

    void analyze_data()
    {
        QTest::addColumn<QSize>("analysisSize");
        QTest::addColumn<QSize>("pictureSize");
        QTest::addColumn<QList<int>>("enabled");
        QTest::addColumn<QSize>("mapSize");
        const QList<int> all {SalienzSobel, SalienzGauss, SalienzHistogram, SalienzAchanta};
        const auto row
            = [](const char* name, QSize analysis, QSize picture, QList<int> enabled, QSize map) {
                  QTest::newRow(name) << analysis << picture << enabled << map;
              };
        // With only the centre prior enabled: its map of the work image, whatever its weight.
        row("portrait into 320x240", {320, 240}, {1200, 1600}, {SalienzGauss}, {180, 240});
        row("thin picture keeps one row", {320, 240}, {4000, 2}, {SalienzGauss}, {320, 1});
        row("invalid size keeps the picture's", {-1, -1}, {123, 45}, {SalienzGauss}, {123, 45});
        // Without any map: the picture itself.
        row("every method disabled", {320, 240}, {64, 48}, {}, {});
        row("empty analysis size", {0, 240}, {64, 48}, all, {});
        row("null picture", {320, 240}, {}, all, {});
        // Regression (fuzz_mixer): scaling up to these made QImage log that it ran out of memory.
        // Work images above 2^29 pixels are refused before anything is allocated.
        row("huge analysis size logged out of memory", {INT_MAX, INT_MAX}, {64, 48}, all, {});
    }

    void analyze()
    {
        QFETCH(QSize, analysisSize);
        QFETCH(QSize, pictureSize);
        QFETCH(QList<int>, enabled);
        const QImage picture = uniform(pictureSize, qRgb(40, 90, 160), QImage::Format_RGB32);
        QFETCH(QSize, mapSize);
        ZTSalienzMixer mixer(analysisSize);
        enableOnly(mixer, enabled);
        mixer.setMethodWeight(SalienzGauss, -7);
        QImage map;
        QCOMPARE(messagesDuring([&] { map = mixer.analyze(picture); }), 0);
        const QImage expected = mapSize.isValid()
            ? ZTGaussROI().evaluate(QImage(mapSize, QImage::Format_RGB32))
            : picture;
        QVERIFY(sameStoredPixels(map, expected, QTest::currentDataTag()));
    }

    void histogramForwarders_data()
    {
        QTest::addColumn<Forwarding>("forwarding");
        FORWARDER("channel 1 bins", updateHistogramBinsChannel1, setBin1, 2);
        FORWARDER("channel 2 bins", updateHistogramBinsChannel2, setBin2, 3);
        FORWARDER("chi square", updateHistogramChiSquareThreshold, setChiSquareThreshold, 5.0);
        FORWARDER("horizontal blocks", updateHistogramHorizontalBlocks, setHorizontalBlocks, 7);
        FORWARDER("5 vertical blocks", updateHistogramVerticalBlocks, setVerticalBlocks, 5);
        FORWARDER("minimum width", updateHistogramMinWidth, setMinWidth, 0.9);
        FORWARDER("minimum height", updateHistogramMinHeight, setMinHeight, 0.9);
    }

    // Each forwarder changes the next analysis as the matching setter changes a histogram method
    // of its own, and the change shows in the map.
    void histogramForwarders()
    {
        QFETCH(Forwarding, forwarding);
        const QImage picture = structuredPicture(QSize(300, 220));
        ZTSalienzMixer mixer(QSize(-1, -1));
        enableOnly(mixer, {SalienzHistogram});
        ZTHistogramROI histogram;
        forwarding(mixer, histogram);
        const QImage map = mixer.analyze(picture);
        QVERIFY(sameStoredPixels(map, histogram.evaluate(picture), QTest::currentDataTag()));
        QVERIFY(map != ZTHistogramROI().evaluate(picture));
    }

    // End-to-end analyses against the methods' own maps of the work image mixed by hand, after
    // each change of the set; analysing again gives the same map, and a picture in another
    // format the map of its ARGB32 conversion. A second injection destroys the first method (the
    // sanitizer build would report a leak or a double free) and brings a fresh, enabled one with
    // the new areas and weight 20.
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
        const auto mixesByHand = [&](const QList<QImage>& maps, QList<int> weights, QString name) {
            return mixer.gatherWeights() == weights
                && sameStoredPixels(mixer.analyze(picture), naiveMix(maps, weights), name);
        };
        QCOMPARE(mixer.histogramROI(), mixer.roiMethod(SalienzHistogram));
        QVERIFY(mixer.mix({}, {}).isNull() && mixer.mix({QImage(), prior}, {1, 1}).isNull());
        // Keys without a method (very important areas before an injection, or outside the
        // enumeration) are ignored.
        for (const auto key :
            {SalienzVeryImportantAreas, ZTSalienzMethod(-1), ZTSalienzMethod(9)}) {
            mixer.setMethodWeight(key, 50);
            mixer.setMethodEnabled(key, true);
            QVERIFY(!mixer.roiMethod(key) && !mixer.isMethodEnabled(key));
        }
        QVERIFY(mixesByHand({sobel, prior, histogram, surround}, {20, 2, -10, 10}, "default set"));
        QVERIFY(sameStoredPixels(mixer.analyze(picture.convertToFormat(QImage::Format_RGB888)),
            mixer.analyze(picture), "RGB888"));
        mixer.injectVeryImportantAreas(areas, QSize(320, 240));
        const QList<QImage> allMaps {sobel, prior, histogram, important, surround};
        QVERIFY(mixesByHand(allMaps, {20, 2, -10, 20, 10}, "injected"));
        QVERIFY(mixesByHand(allMaps, {20, 2, -10, 20, 10}, "injected, again"));
        // The histogram's weight is stored negated. A disabled method in the middle of the key
        // order must not shift the later weights.
        mixer.setMethodWeight(SalienzSobel, -5);
        mixer.setMethodWeight(SalienzHistogram, -5);
        mixer.setMethodEnabled(SalienzGauss, false);
        QVERIFY(
            mixesByHand({sobel, histogram, important, surround}, {-5, 5, 20, 10}, "reweighted"));
        mixer.setMethodEnabled(SalienzVeryImportantAreas, false);
        mixer.setMethodWeight(SalienzVeryImportantAreas, 3);
        mixer.injectVeryImportantAreas({QRect(9, 9, 5, 5)}, QSize(320, 240));
        QVERIFY(mixesByHand({sobel, histogram, replaced, surround}, {-5, 5, 20, 10}, "twice"));
        mixer.setMethodWeight(SalienzHistogram, INT_MIN); // saturates
        QCOMPARE(mixer.gatherWeights(), QList<int>({-5, INT_MAX, 20, 10}));
    }
};

QTEST_GUILESS_MAIN(tst_ZTSalienzMixer)
#include "tst_ZTSalienzMixer.moc"
