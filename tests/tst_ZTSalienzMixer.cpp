#include "ZTGaussROI.h"
#include "ZTSalienzMixer.h"

#include <QtTest>

#include <limits>

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

} // namespace

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

QTEST_GUILESS_MAIN(tst_ZTSalienzMixer)
#include "tst_ZTSalienzMixer.moc"
