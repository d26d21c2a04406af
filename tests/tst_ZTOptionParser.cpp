#include "ZTOptionParser.h"

#include <QtTest>

namespace {

QStringList command(const QStringList& arguments)
{
    return QStringList {QStringLiteral("ztroi")} + arguments;
}

} // namespace

class tst_ZTOptionParser : public QObject
{
    Q_OBJECT

private slots:
    void noPictureAnalysesBundledPhotograph();
    void givenCropsReplaceBundledOnes();
    void listAloneIsNoBundledRun();
    void crops_data();
    void crops();
    void settings();
    void oneValueServesBothHistogramChannels();
    void usageErrors_data();
    void usageErrors();
    void helpAndVersion_data();
    void helpAndVersion();
    void helpNamesMethodsAndFastDecodeCaveat();
    void readListSkipsBlankLinesAndCarriageReturns();
};

void tst_ZTOptionParser::noPictureAnalysesBundledPhotograph()
{
    ZTOptionParser parser;
    QCOMPARE(parser.parse(command({}), 3), ZTOptionParser::Run);
    const ZTToolSettings s = parser.settings();
    QVERIFY(s.bundledPicture);
    QCOMPARE(s.inputs, QStringList {ZTOptionParser::bundledPicturePath()});
    QVERIFY(s.writeOverlay);
    QStringList crops;
    for (const ZTCropRequest& crop : s.crops) {
        crops.append(crop.text);
    }
    QCOMPARE(crops, ZTOptionParser::bundledPictureCrops());
    QCOMPARE(s.jobs, 3);
    QCOMPARE(s.analysisSize, QSize(480, 480));
    QCOMPARE(s.outputDir, QStringLiteral("ztroi-out"));
    QCOMPARE(s.maxPixels, qint64(100000000));
}

void tst_ZTOptionParser::givenCropsReplaceBundledOnes()
{
    ZTOptionParser parser;
    QCOMPARE(parser.parse(command({"--crop", "2:1"})), ZTOptionParser::Run);
    QCOMPARE(parser.settings().crops.size(), 1);
    QCOMPARE(parser.settings().crops.first().text, QStringLiteral("2:1"));
}

void tst_ZTOptionParser::listAloneIsNoBundledRun()
{
    ZTOptionParser parser;
    QCOMPARE(parser.parse(command({"--list", "-"})), ZTOptionParser::Run);
    QVERIFY(!parser.settings().bundledPicture);
    QVERIFY(parser.settings().inputs.isEmpty());
    QVERIFY(!parser.settings().writeOverlay);
    QCOMPARE(parser.settings().listFile, QStringLiteral("-"));
}

void tst_ZTOptionParser::crops_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("aspectWidth");
    QTest::addColumn<int>("aspectHeight");
    QTest::addColumn<QSize>("outputSize");

    QTest::newRow("aspect") << "16:9" << 16 << 9 << QSize();
    QTest::newRow("aspect is reduced") << "4:2" << 2 << 1 << QSize();
    QTest::newRow("size gives its aspect") << "1920x1080" << 16 << 9 << QSize(1920, 1080);
    QTest::newRow("coprime size") << "1001x1000" << 1001 << 1000 << QSize(1001, 1000);
    QTest::newRow("largest terms") << "100000:1" << 100000 << 1 << QSize();
}

void tst_ZTOptionParser::crops()
{
    QFETCH(QString, text);
    QFETCH(int, aspectWidth);
    QFETCH(int, aspectHeight);
    QFETCH(QSize, outputSize);

    ZTOptionParser parser;
    QCOMPARE(parser.parse(command({"--crop", text, "a.jpg"})), ZTOptionParser::Run);
    const ZTCropRequest crop = parser.settings().crops.value(0);
    QCOMPARE(crop.text, text);
    QCOMPARE(crop.aspectWidth, aspectWidth);
    QCOMPARE(crop.aspectHeight, aspectHeight);
    QCOMPARE(crop.outputSize, outputSize);
}

void tst_ZTOptionParser::settings()
{
    ZTOptionParser parser;
    QCOMPARE(parser.parse(command({"-o", "out", "--maps", "--overlay", "--json", "--quiet",
                 "--fast-decode", "--crop", "1:1", "-c", "3x2", "--pixel-weight", "threshold",
                 "--grid", "4x3", "--size", "640x480", "--weight", "sobel=5", "--weight",
                 "histogram=-3", "--disable", "centre", "--area", "1,2,3,4", "--area", "0,0,10,20",
                 "--hist-bins", "8,16", "--hist-blocks", "20x10", "--hist-threshold", "0.5",
                 "--hist-min", "0.3,0.1", "--max-pixels", "1000", "-j", "2", "a.jpg", "b c.png"})),
        ZTOptionParser::Run);
    const ZTToolSettings s = parser.settings();
    QCOMPARE(s.inputs, (QStringList {"a.jpg", "b c.png"}));
    QVERIFY(!s.bundledPicture);
    QCOMPARE(s.outputDir, QStringLiteral("out"));
    QVERIFY(s.writeMaps && s.writeOverlay && s.json && s.quiet && s.fastDecode);
    QCOMPARE(s.crops.size(), 2);
    QCOMPARE(s.pixelWeight, SalienzPixelWeightThreshold);
    QCOMPARE(s.grid, QSize(4, 3));
    QCOMPARE(s.analysisSize, QSize(640, 480));
    QCOMPARE(s.weight(SalienzSobel), 5);
    QCOMPARE(s.weight(SalienzHistogram), -3);
    QCOMPARE(s.weight(SalienzAchanta), 10);
    QVERIFY(!s.isEnabled(SalienzGauss));
    QVERIFY(s.isEnabled(SalienzVeryImportantAreas));
    QCOMPARE(s.areas, (QList<QRect> {QRect(1, 2, 3, 4), QRect(0, 0, 10, 20)}));
    QCOMPARE(*s.histogram.bins1, 8);
    QCOMPARE(*s.histogram.bins2, 16);
    QCOMPARE(*s.histogram.columns, 20);
    QCOMPARE(*s.histogram.rows, 10);
    QCOMPARE(*s.histogram.threshold, 0.5);
    QCOMPARE(*s.histogram.minWidth, 0.3);
    QCOMPARE(*s.histogram.minHeight, 0.1);
    QCOMPARE(s.maxPixels, qint64(1000));
    QCOMPARE(s.jobs, 2);
}

void tst_ZTOptionParser::oneValueServesBothHistogramChannels()
{
    ZTOptionParser parser;
    QCOMPARE(parser.parse(command({"--hist-bins", "12", "--hist-min", "0.4", "a.png"})),
        ZTOptionParser::Run);
    const ZTHistogramSettings h = parser.settings().histogram;
    QCOMPARE(*h.bins1, 12);
    QCOMPARE(*h.bins2, 12);
    QCOMPARE(*h.minWidth, 0.4);
    QCOMPARE(*h.minHeight, 0.4);
    QVERIFY(!h.columns && !h.rows && !h.threshold);
    // Without --area the areas method has nothing to show and stays off.
    QVERIFY(!parser.settings().isEnabled(SalienzVeryImportantAreas));
}

void tst_ZTOptionParser::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("mentions");

    QTest::newRow("unknown option") << QStringList {"--bogus"} << "bogus";
    QTest::newRow("crop with zero width") << QStringList {"--crop", "0:9"} << "--crop 0:9";
    QTest::newRow("crop with zero height") << QStringList {"--crop", "16:0"} << "--crop 16:0";
    QTest::newRow("crop with a dash") << QStringList {"--crop", "16-9"} << "--crop 16-9";
    QTest::newRow("crop with decimals") << QStringList {"--crop", "1.5:1"} << "--crop 1.5:1";
    QTest::newRow("crop too large") << QStringList {"--crop", "100001:1"} << "--crop";
    QTest::newRow("size without height") << QStringList {"--size", "10"} << "--size 10";
    QTest::newRow("size with zero") << QStringList {"--size", "0x10"} << "--size 0x10";
    QTest::newRow("size too large") << QStringList {"--size", "5000x10"} << "--size 5000x10";
    QTest::newRow("size negative") << QStringList {"--size", "-1x-1"} << "--size";
    QTest::newRow("weight of unknown method") << QStringList {"--weight", "foo=1"} << "foo=1";
    QTest::newRow("weight without value") << QStringList {"--weight", "sobel"} << "--weight";
    QTest::newRow("weight not a number") << QStringList {"--weight", "sobel=abc"} << "--weight";
    QTest::newRow("weight too large") << QStringList {"--weight", "sobel=1001"} << "--weight";
    QTest::newRow("disable unknown method") << QStringList {"--disable", "foo"} << "--disable foo";
    QTest::newRow("area with three numbers") << QStringList {"--area", "1,2,3"} << "--area";
    QTest::newRow("area of zero width") << QStringList {"--area", "1,2,0,4"} << "--area";
    QTest::newRow("area left of the picture") << QStringList {"--area", "-1,0,5,5"} << "--area";
    QTest::newRow("no bins") << QStringList {"--hist-bins", "0"} << "--hist-bins";
    QTest::newRow("three bin counts") << QStringList {"--hist-bins", "1,2,3"} << "--hist-bins";
    QTest::newRow("no block columns") << QStringList {"--hist-blocks", "0x5"} << "--hist-blocks";
    QTest::newRow("too many block columns")
        << QStringList {"--hist-blocks", "101x5"} << "--hist-blocks";
    QTest::newRow("share above 1") << QStringList {"--hist-min", "1.5"} << "--hist-min";
    QTest::newRow("share not a number") << QStringList {"--hist-min", "nan"} << "--hist-min";
    QTest::newRow("infinite threshold")
        << QStringList {"--hist-threshold", "inf"} << "--hist-threshold";
    QTest::newRow("grid without columns") << QStringList {"--grid", "0x3"} << "--grid";
    QTest::newRow("no jobs") << QStringList {"--jobs", "0"} << "--jobs";
    QTest::newRow("no pixels allowed") << QStringList {"--max-pixels", "0"} << "--max-pixels";
    QTest::newRow("unknown pixel weight")
        << QStringList {"--pixel-weight", "cubic"} << "--pixel-weight";
    QTest::newRow("empty output folder") << QStringList {"--out", ""} << "--out";
    QTest::newRow("missing option value") << QStringList {"--size"} << "size";
    QTest::newRow("every method disabled") << QStringList {"--disable", "sobel", "--disable",
        "center", "--disable", "histogram", "--disable", "contrast"}
                                           << "disabled";
}

void tst_ZTOptionParser::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, mentions);

    ZTOptionParser parser;
    QCOMPARE(parser.parse(command(arguments + QStringList {"a.jpg"})), ZTOptionParser::UsageError);
    QVERIFY2(parser.errorText().contains(mentions), qPrintable(parser.errorText()));
    QVERIFY(!parser.errorText().contains(QLatin1Char('\n')));
}

void tst_ZTOptionParser::helpAndVersion_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<int>("outcome");

    QTest::newRow("--help") << "--help" << int(ZTOptionParser::ShowHelp);
    QTest::newRow("-h") << "-h" << int(ZTOptionParser::ShowHelp);
    QTest::newRow("--version") << "--version" << int(ZTOptionParser::ShowVersion);
}

void tst_ZTOptionParser::helpAndVersion()
{
    QFETCH(QString, option);
    QFETCH(int, outcome);
    ZTOptionParser parser;
    // Help wins over an otherwise malformed command line.
    QCOMPARE(int(parser.parse(command({option, "--crop", "0:9"}))), outcome);
}

void tst_ZTOptionParser::helpNamesMethodsAndFastDecodeCaveat()
{
    const QString help = ZTOptionParser().helpText();
    QVERIFY(help.startsWith(QLatin1String("Usage: ztroi [options] [image...]\n")));
    for (const char* name : {"sobel", "center", "histogram", "areas", "contrast"}) {
        QVERIFY2(help.contains(QLatin1String(name)), name);
    }
    QVERIFY(help.contains(QLatin1String("--fast-decode")));
    QVERIFY(help.contains(QLatin1String("differ slightly")));
    QVERIFY(help.contains(QLatin1String("480x480")));
}

void tst_ZTOptionParser::readListSkipsBlankLinesAndCarriageReturns()
{
    QByteArray data("a.jpg\r\n\n   \nb c.png\nd\xC3\xA9.png");
    QBuffer buffer(&data);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QCOMPARE(ZTOptionParser::readList(&buffer),
        (QStringList {"a.jpg", "b c.png", QString::fromUtf8("d\xC3\xA9.png")}));
}

QTEST_GUILESS_MAIN(tst_ZTOptionParser)
#include "tst_ZTOptionParser.moc"
