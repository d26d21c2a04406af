#include "ZTGaussROI.h"
#include "ZTHistogramROI.h"
#include "ZTSalienzAchanta.h"
#include "ZTSalienzMixer.h"
#include "ZTSobelROI.h"
#include "ZTVeryImportantAreasROI.h"

#include <QtTest>

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>
#include <random>

namespace {

QImage greyMap(const QSize& size, int value)
{
    QImage map(size, QImage::Format_ARGB32);
    map.fill(qRgb(value, value, value));
    return map;
}

QImage picture(const QSize& size, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(size, format);
    image.fill(QColor(40, 90, 160));
    return image;
}

// The mix as defined, pixel by pixel with 64-bit sums.
QImage naiveMix(const QList<QImage>& maps, const QList<int>& weights)
{
    qint64 normaliser = 0;
    for (const int weight : weights) {
        normaliser += std::max(weight, 0);
    }
    normaliser = normaliser == 0 ? 1 : normaliser;
    QImage result(maps.first().size(), QImage::Format_ARGB32);
    for (int y = 0; y < result.height(); ++y) {
        for (int x = 0; x < result.width(); ++x) {
            qint64 sum = 0;
            for (int i = 0; i < maps.size(); ++i) {
                sum += qRed(maps[i].pixel(x, y)) * qint64(weights[i]);
            }
            const int v = int(std::clamp<qint64>(sum / normaliser, 0, 255));
            result.setPixel(x, y, qRgb(v, v, v));
        }
    }
    return result;
}

// Two maps that hold every pair of reds, in a width that leaves a remainder after each group of
// pixels that the mix handles at once.
QList<QImage> everyPairOfReds()
{
    constexpr int width = 251;
    constexpr int height = (65536 + width - 1) / width;
    QImage first(width, height, QImage::Format_ARGB32);
    QImage second(width, height, QImage::Format_ARGB32);
    for (int i = 0; i < width * height; ++i) {
        const int a = i % 65536 / 256;
        const int b = i % 256;
        first.setPixel(i % width, i / width, qRgb(a, a, a));
        second.setPixel(i % width, i / width, qRgb(b, b, b));
    }
    return {first, second};
}

void verifyUniformGrey(const QImage& map, int value)
{
    QCOMPARE(map.format(), QImage::Format_ARGB32);
    for (int y = 0; y < map.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(map.constScanLine(y));
        for (int x = 0; x < map.width(); ++x) {
            if (line[x] != qRgb(value, value, value)) {
                QFAIL(qPrintable(QString("pixel (%1, %2) is %3, expected grey %4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(line[x], 8, 16, QChar('0'))
                                     .arg(value)));
            }
        }
    }
}

constexpr int intMax = std::numeric_limits<int>::max();
constexpr int intMin = std::numeric_limits<int>::min();

const QList<ZTSalienzMethod> allMethods {
    SalienzSobel, SalienzGauss, SalienzHistogram, SalienzVeryImportantAreas, SalienzAchanta};

void enableOnly(ZTSalienzMixer& mixer, ZTSalienzMethod kept)
{
    for (const ZTSalienzMethod method : allMethods) {
        mixer.setMethodEnabled(method, method == kept);
    }
}

// A picture with some structure for every method to find: a colour gradient, two uniform
// rectangles, and sparse bright dots.
QImage structuredPicture(const QSize& size, unsigned seed)
{
    QImage image(size, QImage::Format_RGB32);
    std::mt19937 random(seed);
    for (int y = 0; y < size.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            line[x] = qRgb(x * 255 / size.width(), y * 255 / size.height(), 90);
            if (random() % 97 == 0) {
                line[x] = qRgb(255, 255, 240);
            }
        }
    }
    const int w = size.width();
    const int h = size.height();
    for (int y = h / 5; y < h / 2; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        std::fill(line + w / 6, line + w / 2, qRgb(200, 30, 30));
    }
    for (int y = h / 2; y < h - h / 8; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        std::fill(line + w / 2, line + w - w / 10, qRgb(20, 40, 220));
    }
    return image;
}

// Two bands of uniform colour on a gradient, aligned to the histogram method's default 15 x 11
// grid of 20-pixel blocks: a wide one (10 x 2 blocks) that is painted for its width and a tall
// one (2 x 6 blocks) that is painted for its height.
QImage bandsPicture()
{
    QImage image = structuredPicture(QSize(300, 220), 7);
    for (int y = 40; y < 80; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        std::fill(line, line + 200, qRgb(250, 220, 0));
    }
    for (int y = 100; y < 220; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        std::fill(line + 240, line + 280, qRgb(0, 200, 80));
    }
    return image;
}

// The mix computed pixel by pixel through QImage::pixel, with 64-bit sums.
QImage referenceMix(const QList<QImage>& maps, const QList<int>& weights)
{
    qint64 normaliser = 0;
    for (const int weight : weights) {
        normaliser += std::max(weight, 0);
    }
    normaliser = normaliser == 0 ? 1 : normaliser;
    QImage result(maps.first().size(), QImage::Format_ARGB32);
    for (int y = 0; y < result.height(); ++y) {
        for (int x = 0; x < result.width(); ++x) {
            qint64 sum = 0;
            for (int i = 0; i < maps.size(); ++i) {
                sum += qint64(qRed(maps[i].pixel(x, y))) * weights[i];
            }
            const int v = int(std::clamp<qint64>(sum / normaliser, 0, 255));
            result.setPixel(x, y, qRgb(v, v, v));
        }
    }
    return result;
}

// What a mixer should make of a picture, built from stand-alone methods on the scaled picture.
struct Expectation
{
    QSize analysisSize {320, 240};
    QList<ZTSalienzMethod> disabled;
    QMap<ZTSalienzMethod, int> weights {
        {SalienzSobel, 20}, {SalienzGauss, 2}, {SalienzHistogram, -10}, {SalienzAchanta, 10}};
    QList<QRect> areas;
    bool injectAreas = false;

    QImage analysisOf(const QImage& picture) const
    {
        const QImage work
            = picture.scaled(analysisSize, Qt::KeepAspectRatio, Qt::FastTransformation);
        QList<QImage> maps;
        QList<int> mapWeights;
        const auto add = [&](ZTSalienzMethod key, ZTAbstractROI&& method) {
            if (!disabled.contains(key)) {
                maps.append(method.evaluate(work));
                mapWeights.append(weights.value(key, 20));
            }
        };
        add(SalienzSobel, ZTSobelROI());
        add(SalienzGauss, ZTGaussROI());
        add(SalienzHistogram, ZTHistogramROI());
        if (injectAreas) {
            add(SalienzVeryImportantAreas, ZTVeryImportantAreasROI(areas, work.size()));
        }
        add(SalienzAchanta, ZTSalienzAchanta());
        if (maps.isEmpty()) {
            return picture;
        }
        return maps.size() == 1 ? maps.first() : referenceMix(maps, mapWeights);
    }
};

using MixerSetup = std::function<void(ZTSalienzMixer&)>;

} // namespace

Q_DECLARE_METATYPE(Expectation)
Q_DECLARE_METATYPE(MixerSetup)

class tst_ZTSalienzMixer : public QObject
{
    Q_OBJECT

private slots:
    void mixOfUniformMaps_data();
    void mixOfUniformMaps();
    void mixTakesFirstMapSize();
    void mixReadsOnlyInsideSmallerMaps();
    void mixIgnoresMapsWithoutWeight();
    void mixOfNothingIsNull();
    void mixReadsMapsOfAnyDepth();
    void mixOfEverySum_data();
    void mixOfEverySum();

    void analyzeScalesToWorkImage_data();
    void analyzeScalesToWorkImage();
    void analyzeReturnsInputWithoutMaps_data();
    void analyzeReturnsInputWithoutMaps();
    void singleMapIsReturnedUnweighted_data();
    void singleMapIsReturnedUnweighted();
    void analyzeConvertsOtherFormats();

    void absentKeysAreIgnored_data();
    void absentKeysAreIgnored();
    void weightsOfEnabledMethods();

    void defaultMethodSet();
    void storedWeights_data();
    void storedWeights();
    void defaultWeightsMixFullSalienceTo175();
    void injectionAddsAreasWithWeight20();
    void injectionReplacesEarlierAreas();
    void histogramForwarders_data();
    void histogramForwarders();
    void analysisMatchesMethodsMixedByHand_data();
    void analysisMatchesMethodsMixedByHand();
};

void tst_ZTSalienzMixer::mixOfUniformMaps_data()
{
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<QList<int>>("weights");
    QTest::addColumn<int>("expected");

    QTest::newRow("truncates, never rounds") << QList<int> {255, 0} << QList<int> {1, 1} << 127;
    QTest::newRow("negative sum clamps to 0") << QList<int> {255, 100} << QList<int> {-10, 20} << 0;
    QTest::newRow("only positive weights normalise")
        << QList<int> {100, 100, 50} << QList<int> {20, -10, 10} << 50;
    QTest::newRow("no positive weight: normaliser 1")
        << QList<int> {255, 255} << QList<int> {0, -3} << 0;
    QTest::newRow("all weights zero") << QList<int> {255, 255} << QList<int> {0, 0} << 0;
    QTest::newRow("sum above 255 clamps") << QList<int> {255, 255} << QList<int> {1, 0} << 255;
    QTest::newRow("negative weight pulls down")
        << QList<int> {200, 80} << QList<int> {3, -1} << 173;
    QTest::newRow("default weights at full salience")
        << QList<int> {255, 255, 255, 255} << QList<int> {20, 2, -10, 10} << 175;
    QTest::newRow("largest weights do not overflow")
        << QList<int> {255, 255} << QList<int> {intMax, intMax} << 255;
    QTest::newRow("smallest weights do not overflow")
        << QList<int> {255, 255} << QList<int> {intMin, intMin} << 0;
    QTest::newRow("extreme weights of both signs")
        << QList<int> {255, 254} << QList<int> {intMax, intMin} << 0;
}

void tst_ZTSalienzMixer::mixOfUniformMaps()
{
    QFETCH(QList<int>, values);
    QFETCH(QList<int>, weights);
    QFETCH(int, expected);

    QList<QImage> maps;
    for (const int value : values) {
        maps.append(greyMap(QSize(7, 3), value));
    }
    ZTSalienzMixer mixer(QSize(10, 10));
    const QImage mixed = mixer.mix(maps, weights);
    QCOMPARE(mixed.size(), QSize(7, 3));
    verifyUniformGrey(mixed, expected);
}

void tst_ZTSalienzMixer::mixTakesFirstMapSize()
{
    ZTSalienzMixer mixer(QSize(10, 10));
    const QImage mixed = mixer.mix({greyMap(QSize(4, 2), 100), greyMap(QSize(9, 9), 100)}, {1, 1});
    QCOMPARE(mixed.size(), QSize(4, 2));
    verifyUniformGrey(mixed, 100);
}

void tst_ZTSalienzMixer::mixReadsOnlyInsideSmallerMaps()
{
    ZTSalienzMixer mixer(QSize(10, 10));
    const QImage mixed = mixer.mix({greyMap(QSize(6, 4), 100), greyMap(QSize(3, 2), 200)}, {1, 1});
    QCOMPARE(mixed.size(), QSize(6, 4));
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 6; ++x) {
            const int expected = (x < 3 && y < 2) ? 150 : 50;
            QCOMPARE(qRed(mixed.pixel(x, y)), expected);
        }
    }
}

void tst_ZTSalienzMixer::mixIgnoresMapsWithoutWeight()
{
    ZTSalienzMixer mixer(QSize(10, 10));
    const QImage mixed = mixer.mix({greyMap(QSize(2, 2), 90), greyMap(QSize(2, 2), 255)}, {1});
    verifyUniformGrey(mixed, 90);
}

void tst_ZTSalienzMixer::mixOfNothingIsNull()
{
    ZTSalienzMixer mixer(QSize(10, 10));
    QVERIFY(mixer.mix({}, {}).isNull());
    QVERIFY(mixer.mix({QImage(), greyMap(QSize(2, 2), 9)}, {1, 1}).isNull());
}

// A map of one byte per pixel must be read by value, not as 32-bit words past its end.
void tst_ZTSalienzMixer::mixReadsMapsOfAnyDepth()
{
    QImage grey8(5, 3, QImage::Format_Grayscale8);
    grey8.fill(QColor(200, 200, 200));
    ZTSalienzMixer mixer(QSize(10, 10));
    const QImage mixed = mixer.mix({greyMap(QSize(5, 3), 100), grey8}, {1, 1});
    verifyUniformGrey(mixed, 150);
}

void tst_ZTSalienzMixer::mixOfEverySum_data()
{
    QTest::addColumn<QList<int>>("weights");
    // Weights n - 1 and 1 make the sums a * (n - 1) + b cover every value from 0 to 255 * n for
    // n up to 257, each divided by n.
    for (const int n : {1, 2, 3, 7, 12, 32, 100, 127, 200, 255, 256, 257}) {
        QTest::addRow("normaliser %d, every sum", n) << QList<int> {n - 1, 1};
    }
    QTest::newRow("default weights of Sobel and histogram") << QList<int> {20, -10};
    QTest::newRow("negative first") << QList<int> {-7, 5};
    QTest::newRow("normaliser 2^16") << QList<int> {65535, 1};
    QTest::newRow("normaliser 2^16 + 1") << QList<int> {65536, 1};
    QTest::newRow("normaliser 99991") << QList<int> {99990, 1};
    QTest::newRow("largest 32-bit sums") << QList<int> {65536, -8355968};
    QTest::newRow("just past 32-bit sums") << QList<int> {65536, -8355969};
    QTest::newRow("extreme weights") << QList<int> {intMax, intMin};
}

// Every pair of reds, so every weighted sum, against the mix as defined with 64-bit sums.
void tst_ZTSalienzMixer::mixOfEverySum()
{
    QFETCH(QList<int>, weights);
    const QList<QImage> maps = everyPairOfReds();
    ZTSalienzMixer mixer(QSize(10, 10));
    QVERIFY(mixer.mix(maps, weights) == naiveMix(maps, weights));
}

void tst_ZTSalienzMixer::analyzeScalesToWorkImage_data()
{
    QTest::addColumn<QSize>("analysisSize");
    QTest::addColumn<QSize>("pictureSize");
    QTest::addColumn<QSize>("mapSize");

    QTest::newRow("landscape into 320x240")
        << QSize(320, 240) << QSize(1600, 1200) << QSize(320, 240);
    QTest::newRow("portrait into 320x240")
        << QSize(320, 240) << QSize(1200, 1600) << QSize(180, 240);
    QTest::newRow("scaled up") << QSize(320, 240) << QSize(32, 24) << QSize(320, 240);
    QTest::newRow("invalid size keeps the picture's")
        << QSize(-1, -1) << QSize(123, 45) << QSize(123, 45);
    QTest::newRow("thin picture keeps one row")
        << QSize(320, 240) << QSize(4000, 2) << QSize(320, 1);
}

void tst_ZTSalienzMixer::analyzeScalesToWorkImage()
{
    QFETCH(QSize, analysisSize);
    QFETCH(QSize, pictureSize);
    QFETCH(QSize, mapSize);

    ZTSalienzMixer mixer(analysisSize);
    enableOnly(mixer, SalienzGauss);
    const QImage map = mixer.analyze(picture(pictureSize));
    QCOMPARE(map.size(), mapSize);
    ZTGaussROI prior;
    QCOMPARE(map, prior.evaluate(QImage(mapSize, QImage::Format_RGB32)));
}

void tst_ZTSalienzMixer::analyzeReturnsInputWithoutMaps_data()
{
    QTest::addColumn<QSize>("analysisSize");
    QTest::addColumn<QImage>("image");
    QTest::addColumn<bool>("disableAll");

    QTest::newRow("every method disabled") << QSize(320, 240) << picture(QSize(64, 48)) << true;
    QTest::newRow("empty analysis size") << QSize(0, 240) << picture(QSize(64, 48)) << false;
    QTest::newRow("analysis size 0x0") << QSize(0, 0) << picture(QSize(64, 48)) << false;
    QTest::newRow("null picture") << QSize(320, 240) << QImage() << false;
    QTest::newRow("null picture, invalid size") << QSize(-1, -1) << QImage() << false;
}

void tst_ZTSalienzMixer::analyzeReturnsInputWithoutMaps()
{
    QFETCH(QSize, analysisSize);
    QFETCH(QImage, image);
    QFETCH(bool, disableAll);

    ZTSalienzMixer mixer(analysisSize);
    if (disableAll) {
        for (const ZTSalienzMethod method : {SalienzSobel, SalienzGauss, SalienzHistogram,
                 SalienzVeryImportantAreas, SalienzAchanta}) {
            mixer.setMethodEnabled(method, false);
        }
    }
    const QImage result = mixer.analyze(image);
    QCOMPARE(result.isNull(), image.isNull());
    QCOMPARE(result.cacheKey(), image.cacheKey());
    QVERIFY(mixer.gatherResults(image).isEmpty());
}

void tst_ZTSalienzMixer::singleMapIsReturnedUnweighted_data()
{
    QTest::addColumn<int>("weight");
    QTest::newRow("negative weight") << -7;
    QTest::newRow("zero weight") << 0;
    QTest::newRow("large weight") << intMax;
}

void tst_ZTSalienzMixer::singleMapIsReturnedUnweighted()
{
    QFETCH(int, weight);
    ZTSalienzMixer mixer(QSize(64, 48));
    for (const ZTSalienzMethod method : {SalienzSobel, SalienzHistogram, SalienzAchanta}) {
        mixer.setMethodEnabled(method, false);
    }
    mixer.setMethodWeight(SalienzGauss, weight);
    ZTGaussROI prior;
    QCOMPARE(mixer.analyze(picture(QSize(64, 48))),
        prior.evaluate(QImage(64, 48, QImage::Format_RGB32)));
}

void tst_ZTSalienzMixer::analyzeConvertsOtherFormats()
{
    ZTSalienzMixer mixer(QSize(-1, -1));
    const QImage rgb32 = mixer.analyze(picture(QSize(40, 30)));
    const QImage indexed
        = mixer.analyze(picture(QSize(40, 30)).convertToFormat(QImage::Format_Indexed8));
    const QImage rgb888 = mixer.analyze(picture(QSize(40, 30), QImage::Format_RGB888));
    QCOMPARE(indexed, rgb32);
    QCOMPARE(rgb888, rgb32);
}

void tst_ZTSalienzMixer::absentKeysAreIgnored_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("very important areas before injection") << int(SalienzVeryImportantAreas);
    QTest::newRow("key below the enumeration") << -1;
    QTest::newRow("key above the enumeration") << 9;
}

void tst_ZTSalienzMixer::absentKeysAreIgnored()
{
    QFETCH(int, key);
    const auto method = static_cast<ZTSalienzMethod>(key);
    ZTSalienzMixer mixer(QSize(32, 24));
    const QList<int> weightsBefore = mixer.gatherWeights();
    mixer.setMethodWeight(method, 50);
    mixer.setMethodEnabled(method, true);
    QVERIFY(!mixer.isMethodEnabled(method));
    QCOMPARE(mixer.roiMethod(method), nullptr);
    QCOMPARE(mixer.gatherWeights(), weightsBefore);
}

void tst_ZTSalienzMixer::weightsOfEnabledMethods()
{
    ZTSalienzMixer mixer(QSize(32, 24));
    QVERIFY(mixer.isMethodEnabled(SalienzGauss));
    QCOMPARE(mixer.roiMethod(SalienzGauss)->weight(), 2);
    mixer.setMethodWeight(SalienzGauss, -5);
    QCOMPARE(mixer.roiMethod(SalienzGauss)->weight(), -5);
    mixer.setMethodEnabled(SalienzGauss, false);
    QVERIFY(!mixer.isMethodEnabled(SalienzGauss));
    QVERIFY(!mixer.gatherWeights().contains(-5));
}

void tst_ZTSalienzMixer::defaultMethodSet()
{
    ZTSalienzMixer mixer(QSize(320, 240));
    QCOMPARE(mixer.roiMethod(SalienzVeryImportantAreas), nullptr);
    QVERIFY(dynamic_cast<ZTSobelROI*>(mixer.roiMethod(SalienzSobel)));
    QVERIFY(dynamic_cast<ZTGaussROI*>(mixer.roiMethod(SalienzGauss)));
    QVERIFY(dynamic_cast<ZTHistogramROI*>(mixer.roiMethod(SalienzHistogram)));
    QVERIFY(dynamic_cast<ZTSalienzAchanta*>(mixer.roiMethod(SalienzAchanta)));
    QCOMPARE(mixer.histogramROI(), mixer.roiMethod(SalienzHistogram));
    for (const ZTSalienzMethod method :
        {SalienzSobel, SalienzGauss, SalienzHistogram, SalienzAchanta}) {
        QVERIFY(mixer.isMethodEnabled(method));
    }
    QCOMPARE(mixer.gatherWeights(), (QList<int> {20, 2, -10, 10}));
}

void tst_ZTSalienzMixer::storedWeights_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("weight");
    QTest::addColumn<int>("stored");

    QTest::newRow("histogram -5 is stored as 5") << int(SalienzHistogram) << -5 << 5;
    QTest::newRow("histogram 10 is stored as -10") << int(SalienzHistogram) << 10 << -10;
    QTest::newRow("histogram int minimum saturates") << int(SalienzHistogram) << intMin << intMax;
    QTest::newRow("histogram int maximum") << int(SalienzHistogram) << intMax << -intMax;
    QTest::newRow("sobel -5 stays -5") << int(SalienzSobel) << -5 << -5;
    QTest::newRow("surround int minimum stays") << int(SalienzAchanta) << intMin << intMin;
}

void tst_ZTSalienzMixer::storedWeights()
{
    QFETCH(int, key);
    QFETCH(int, weight);
    QFETCH(int, stored);
    ZTSalienzMixer mixer(QSize(32, 24));
    mixer.setMethodWeight(ZTSalienzMethod(key), weight);
    QCOMPARE(mixer.roiMethod(ZTSalienzMethod(key))->weight(), stored);
}

void tst_ZTSalienzMixer::defaultWeightsMixFullSalienceTo175()
{
    ZTSalienzMixer mixer(QSize(32, 24));
    const QImage full = greyMap(QSize(3, 2), 255);
    verifyUniformGrey(mixer.mix({full, full, full, full}, mixer.gatherWeights()), 175);
}

void tst_ZTSalienzMixer::injectionAddsAreasWithWeight20()
{
    ZTSalienzMixer mixer(QSize(32, 24));
    mixer.injectVeryImportantAreas({QRect(2, 2, 5, 5)}, QSize(32, 24));
    QVERIFY(dynamic_cast<ZTVeryImportantAreasROI*>(mixer.roiMethod(SalienzVeryImportantAreas)));
    QVERIFY(mixer.isMethodEnabled(SalienzVeryImportantAreas));
    QCOMPARE(mixer.gatherWeights(), (QList<int> {20, 2, -10, 20, 10}));
}

// The second injection destroys the first method (the sanitizer build would report a leak or a
// double free) and brings a fresh, enabled method with the new areas and weight 20.
void tst_ZTSalienzMixer::injectionReplacesEarlierAreas()
{
    const QSize size(40, 30);
    const QList<QRect> second {QRect(20, 10, 8, 6)};
    ZTSalienzMixer mixer(size);
    mixer.injectVeryImportantAreas({QRect(1, 1, 4, 4)}, size);
    mixer.setMethodEnabled(SalienzVeryImportantAreas, false);
    mixer.setMethodWeight(SalienzVeryImportantAreas, 3);
    mixer.injectVeryImportantAreas(second, size);

    QVERIFY(mixer.isMethodEnabled(SalienzVeryImportantAreas));
    QCOMPARE(mixer.roiMethod(SalienzVeryImportantAreas)->weight(), 20);
    enableOnly(mixer, SalienzVeryImportantAreas);
    ZTVeryImportantAreasROI expected(second, size);
    const QImage picture = structuredPicture(size, 1);
    QCOMPARE(mixer.analyze(picture), expected.evaluate(picture));
}

void tst_ZTSalienzMixer::histogramForwarders_data()
{
    QTest::addColumn<MixerSetup>("forward");
    QTest::addColumn<MixerSetup>("configure");

    const auto row = [](const char* name, auto forward, auto configure) {
        QTest::newRow(name) << MixerSetup(forward) << MixerSetup([configure](ZTSalienzMixer& m) {
            configure(*m.histogramROI());
        });
    };
    row(
        "channel 1 bins", [](ZTSalienzMixer& m) { m.updateHistogramBinsChannel1(2); },
        [](ZTHistogramROI& h) { h.setBin1(2); });
    row(
        "channel 2 bins", [](ZTSalienzMixer& m) { m.updateHistogramBinsChannel2(3); },
        [](ZTHistogramROI& h) { h.setBin2(3); });
    row(
        "chi-square threshold", [](ZTSalienzMixer& m) { m.updateHistogramChiSquareThreshold(5.0); },
        [](ZTHistogramROI& h) { h.setChiSquareThreshold(5.0); });
    row(
        "horizontal blocks", [](ZTSalienzMixer& m) { m.updateHistogramHorizontalBlocks(7); },
        [](ZTHistogramROI& h) { h.setHorizontalBlocks(7); });
    row(
        "vertical blocks", [](ZTSalienzMixer& m) { m.updateHistogramVerticalBlocks(5); },
        [](ZTHistogramROI& h) { h.setVerticalBlocks(5); });
    row(
        "minimum width", [](ZTSalienzMixer& m) { m.updateHistogramMinWidth(0.9); },
        [](ZTHistogramROI& h) { h.setMinWidth(0.9); });
    row(
        "minimum height", [](ZTSalienzMixer& m) { m.updateHistogramMinHeight(0.9); },
        [](ZTHistogramROI& h) { h.setMinHeight(0.9); });
}

// Each forwarder changes the next analysis exactly as the matching setter on a stand-alone
// histogram method does, and the change shows in the map.
void tst_ZTSalienzMixer::histogramForwarders()
{
    QFETCH(MixerSetup, forward);
    QFETCH(MixerSetup, configure);

    const QImage picture = bandsPicture();
    ZTSalienzMixer forwarded(QSize(-1, -1));
    ZTSalienzMixer configured(QSize(-1, -1));
    ZTSalienzMixer untouched(QSize(-1, -1));
    for (ZTSalienzMixer* mixer : {&forwarded, &configured, &untouched}) {
        enableOnly(*mixer, SalienzHistogram);
    }
    forward(forwarded);
    configure(configured);
    const QImage map = forwarded.analyze(picture);
    QCOMPARE(map, configured.analyze(picture));
    QVERIFY(map != untouched.analyze(picture));
}

void tst_ZTSalienzMixer::analysisMatchesMethodsMixedByHand_data()
{
    QTest::addColumn<QImage>("picture");
    QTest::addColumn<Expectation>("expectation");
    QTest::addColumn<MixerSetup>("setup");

    const QImage landscape = structuredPicture(QSize(400, 300), 1);
    const QImage portrait = structuredPicture(QSize(150, 260), 2);
    const MixerSetup asBuilt = [](ZTSalienzMixer&) {};

    QTest::newRow("default set, landscape") << landscape << Expectation() << asBuilt;
    QTest::newRow("default set, portrait") << portrait << Expectation() << asBuilt;

    Expectation small;
    small.analysisSize = QSize(96, 64);
    QTest::newRow("default set, small analysis size") << landscape << small << asBuilt;

    Expectation withAreas;
    withAreas.injectAreas = true;
    withAreas.areas = {QRect(50, 40, 60, 40), QRect(250, 150, 30, 50)};
    QTest::newRow("injected areas")
        << landscape << withAreas << MixerSetup([areas = withAreas.areas](ZTSalienzMixer& m) {
               m.injectVeryImportantAreas(areas, QSize(320, 240));
           });

    Expectation noHistogram;
    noHistogram.disabled = {SalienzHistogram};
    QTest::newRow("histogram disabled")
        << landscape << noHistogram
        << MixerSetup([](ZTSalienzMixer& m) { m.setMethodEnabled(SalienzHistogram, false); });

    // A disabled method in the middle of the key order must not shift the later weights.
    Expectation reweighted;
    reweighted.disabled = {SalienzGauss};
    reweighted.weights = {{SalienzSobel, 3}, {SalienzHistogram, -40}, {SalienzAchanta, 25}};
    QTest::newRow("custom weights, centre prior disabled")
        << landscape << reweighted << MixerSetup([](ZTSalienzMixer& m) {
               m.setMethodWeight(SalienzSobel, 3);
               m.setMethodWeight(SalienzHistogram, 40);
               m.setMethodWeight(SalienzAchanta, 25);
               m.setMethodEnabled(SalienzGauss, false);
           });
}

void tst_ZTSalienzMixer::analysisMatchesMethodsMixedByHand()
{
    QFETCH(QImage, picture);
    QFETCH(Expectation, expectation);
    QFETCH(MixerSetup, setup);

    ZTSalienzMixer mixer(expectation.analysisSize);
    setup(mixer);
    const QImage actual = mixer.analyze(picture);
    const QImage expected = expectation.analysisOf(picture);
    if (actual != expected) {
        const QString stem = QDir::temp().filePath(
            QString("tst_ZTSalienzMixer-%1").arg(QTest::currentDataTag()).replace(' ', '_'));
        actual.save(stem + "-actual.png");
        expected.save(stem + "-expected.png");
    }
    QCOMPARE(actual, expected);
    // Analysing changes nothing: the same picture gives the same map again.
    QCOMPARE(mixer.analyze(picture), actual);
}

QTEST_GUILESS_MAIN(tst_ZTSalienzMixer)
#include "tst_ZTSalienzMixer.moc"
