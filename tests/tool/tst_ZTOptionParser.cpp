#include "ZTOptionParser.h"
#include "faces/ZTFaceDetector.h"

#include <QtTest>

#include <set>

namespace {

// A value of an option that the command line accepts or refuses. For an option with limits the
// rows hold its smallest and largest accepted values and the first refused value on each side.
struct Boundary
{
    const char* option;
    const char* value; ///< nullptr: the option alone (a flag, or a value left out)
    bool accepted;
};

constexpr Boundary boundaryTable[] = {
    {"help", nullptr, true},
    {"help", "x", false},
    {"version", nullptr, true},
    {"version", "x", false},
    {"out", "d", true},
    {"out", "", false},
    {"no-map", nullptr, true},
    {"no-map", "x", false},
    {"maps", nullptr, true},
    {"maps", "x", false},
    {"overlay", nullptr, true},
    {"overlay", "x", false},
    {"json", nullptr, true},
    {"json", "x", false},
    {"crop", "1:1", true},
    {"crop", "100000x100000", true},
    {"crop", "0:1", false},
    {"crop", "1x0", false},
    {"crop", "100001:1", false},
    {"crop", "1:100001", false},
    {"no-crops", nullptr, true},
    {"no-crops", "x", false},
    {"write-crops", nullptr, true},
    {"write-crops", "x", false},
    {"format", "jpg", true},
    {"format", "WEBP", true},
    {"format", "gif", false},
    {"quality", "0", true},
    {"quality", "100", true},
    {"quality", "-1", false},
    {"quality", "101", false},
    {"max-side", "1", true},
    {"max-side", "100000", true},
    {"max-side", "0", false},
    {"max-side", "100001", false},
    {"no-enlarge", nullptr, true},
    {"no-enlarge", "x", false},
    {"report", "a.html", true},
    {"report", "a.HTM", true},
    {"report", "a.jpg", false},
    {"report", "", false},
    {"pixel-weight", "linear", true},
    {"pixel-weight", "threshold", true},
    {"pixel-weight", "square", false},
    {"grid", "1x1", true},
    {"grid", "100x100", true},
    {"grid", "0x1", false},
    {"grid", "1x0", false},
    {"grid", "101x1", false},
    {"grid", "1x101", false},
    {"size", "1x1", true},
    {"size", "4096x4096", true},
    {"size", "0x1", false},
    {"size", "1x0", false},
    {"size", "4097x1", false},
    {"size", "1x4097", false},
    {"weight", "sobel=-1000", true},
    {"weight", "sobel=1000", true},
    {"weight", "sobel=-1001", false},
    {"weight", "sobel=1001", false},
    {"weight", "colour=1", false},
    {"disable", "sobel", true},
    {"disable", "colour", false},
    {"area", "0,0,1,1", true},
    {"area", "1000000,1000000,1000000,1000000", true},
    {"area", "-1,0,1,1", false},
    {"area", "0,-1,1,1", false},
    {"area", "0,0,0,1", false},
    {"area", "0,0,1,0", false},
    {"area", "1000001,0,1,1", false},
    {"area", "0,0,1,1000001", false},
    {"faces", nullptr, true},
    {"faces", "x", false},
    {"no-faces", nullptr, true},
    {"no-faces", "x", false},
    {"hist-bins", "1", true},
    {"hist-bins", "256,256", true},
    {"hist-bins", "0", false},
    {"hist-bins", "257", false},
    {"hist-bins", "1,0", false},
    {"hist-bins", "1,257", false},
    {"hist-blocks", "1x1", true},
    {"hist-blocks", "100x100", true},
    {"hist-blocks", "0x1", false},
    {"hist-blocks", "1x101", false},
    {"hist-threshold", "-1e9", true},
    {"hist-threshold", "1e9", true},
    {"hist-threshold", "-1.1e9", false},
    {"hist-threshold", "1.1e9", false},
    {"hist-min", "0", true},
    {"hist-min", "1,1", true},
    {"hist-min", "-0.001", false},
    {"hist-min", "1.001", false},
    {"hist-min", "0.5,1.001", false},
    {"fast-decode", nullptr, true},
    {"fast-decode", "x", false},
    {"max-pixels", "1", true},
    {"max-pixels", "1099511627776", true},
    {"max-pixels", "0", false},
    {"max-pixels", "1099511627777", false},
    {"list", "paths.txt", true},
    {"list", nullptr, false},
    {"list0", "paths", true},
    {"list0", nullptr, false},
    {"input-formats", "jpeg", true},
    {"input-formats", "jpeg,png,gif,bmp,webp,tiff,ico,cur,mng", true},
    {"input-formats", "raw", false},
    {"input-formats", "jpeg,", false},
    {"memory", "1", true},
    {"memory", "1048576", true},
    {"memory", "0", false},
    {"memory", "1048577", false},
    {"recursive", nullptr, true},
    {"recursive", "x", false},
    {"verbose", nullptr, true},
    {"verbose", "x", false},
    {"jobs", "1", true},
    {"jobs", "256", true},
    {"jobs", "0", false},
    {"jobs", "257", false},
    {"quiet", nullptr, true},
    {"quiet", "x", false},
};

const ZTToolOptionRow* rowNamed(const QString& name)
{
    for (const ZTToolOptionRow& row : ZTOptionParser::rows()) {
        if (row.name == name) {
            return &row;
        }
    }
    return nullptr;
}

} // namespace

class tst_ZTOptionParser : public QObject
{
    Q_OBJECT

private slots:
    void shortNamesAndOtherOptions();
    void cropFilesAndReviewPage();
    void refused_data();
    void refused();
    void percentSignsInValues_data();
    void percentSignsInValues();
    void cropRequestsWithoutLeadingZeros_data();
    void cropRequestsWithoutLeadingZeros();
    void noteOnAnIgnoredWeight_data();
    void noteOnAnIgnoredWeight();
    void boundaries_data();
    void boundaries();
    void everyOptionHasBoundaries();
    void rowsNameEveryOptionOnce();
};

// Options that the end-to-end tests do not use, and the short names.
void tst_ZTOptionParser::shortNamesAndOtherOptions()
{
    ZTOptionParser parser;
    QCOMPARE(
        parser.parse({"ztroi", "-o", "out", "--fast-decode", "--crop", "16:9", "-c", "4:2",
            "--crop", "1920x1080", "--crop", "100000:1", "--pixel-weight", "threshold", "--disable",
            "centre", "--area", "1,2,3,4", "--area", "0,0,10,20", "--hist-bins", "12", "--hist-min",
            "0.4", "--hist-threshold", "-.5e-1", "-j", "2", "a.jpg", "b c.png"}),
        ZTOptionParser::Run);
    const ZTToolSettings s = parser.settings();
    QCOMPARE(s.inputs, (QStringList {"a.jpg", "b c.png"}));
    QVERIFY(s.outputDir == "out" && s.fastDecode && s.jobs == 2);
    QStringList crops;
    for (const ZTCropRequest& crop : s.crops) {
        crops.append(crop.aspectText() + ' ' + QString::number(crop.outputSize.height()));
    }
    // Aspects in lowest terms; an output size for WxH only.
    QCOMPARE(crops, (QStringList {"16:9 -1", "2:1 -1", "16:9 1080", "100000:1 -1"}));
    QCOMPARE(s.pixelWeight, SalienzPixelWeightThreshold);
    QCOMPARE(s.disabled, QList<ZTSalienzMethod> {SalienzGauss});
    QCOMPARE(s.areas, (QList<QRect> {QRect(1, 2, 3, 4), QRect(0, 0, 10, 20)}));
    QVERIFY(!s.writeCrops && s.reviewPage.isEmpty());
    // One value serves both channels.
    const ZTHistogramSettings& h = s.histogram;
    QCOMPARE(QList<double>(
                 {double(*h.bins1), double(*h.bins2), *h.minWidth, *h.minHeight, *h.threshold}),
        QList<double>({12, 12, 0.4, 0.4, -0.05}));
}

// Written crops and the review page, with the default crops.
void tst_ZTOptionParser::cropFilesAndReviewPage()
{
    ZTOptionParser parser;
    QCOMPARE(parser.parse({"ztroi", "--write-crops", "--format", "JPEG", "--quality", "0",
                 "--max-side", "100000", "--report", "r.html", "a.jpg"}),
        ZTOptionParser::Run);
    const ZTToolSettings s = parser.settings();
    QVERIFY(s.writeCrops && s.cropFormat == "jpg" && s.cropQuality == 0);
    QVERIFY(s.maxCropSide == 100000 && s.reviewPage == "r.html" && s.crops.size() == 3);
}

void tst_ZTOptionParser::refused_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("mentions"); // the error names the option and its value

    // @p arguments separated by spaces; the error must mention them, or @p mentions if given.
    const auto refused = [](const char* name, const QString& arguments, const char* mentions = "") {
        QTest::newRow(name) << arguments.split(' ') << (*mentions ? QString(mentions) : arguments);
    };
    refused("unknown option", "--bogus", "Unknown option 'bogus'");
    refused("missing value", "--size");
    refused("crop with zero width", "--crop 0:9");
    refused("crop with decimals", "--crop 1.5:1");
    refused("crop too large", "--crop 100001:1");
    refused("size without height", "--size 10");
    refused("size too large", "--size 5000x10");
    refused("weight of unknown method", "--weight foo=1");
    refused("weight too large", "--weight sobel=1001");
    refused("disable unknown method", "--disable foo");
    refused("area of three numbers", "--area 1,2,3");
    refused("area left of the picture", "--area -1,0,5,5");
    refused("no bins", "--hist-bins 0");
    refused("too many block columns", "--hist-blocks 101x5");
    refused("threshold not a number", "--hist-threshold nan");
    refused("share above 1", "--hist-min 0.5,1.5");
    refused("grid without columns", "--grid 0x3");
    refused("no jobs", "--jobs 0");
    refused("no pixels allowed", "--max-pixels 0");
    refused("pixels beyond 2^40", "--max-pixels 1099511627777",
        "--max-pixels 1099511627777: expected a whole number from 1 to 1099511627776");
    refused("unknown pixel weight", "--pixel-weight cubic");
    refused("empty output folder", "--out ", "--out needs a folder");
    refused("crops and no crops", "--crop 1:1 --no-crops", "exclude each other");
    refused("nothing to write", "--no-crops --write-crops", "exclude each other");
    refused("format without writing crops", "--format png", "add --write-crops");
    refused("quality above 100", "--write-crops --quality 101", "--quality 101");
    refused("unknown format", "--write-crops --format gif", "--format gif");
    refused("no side", "--write-crops --max-side 0", "--max-side 0");
    refused("a crop over --max-pixels", "--write-crops --max-pixels 99 --crop 10x10",
        "--crop 10x10: more than 99 pixels");
    refused("empty review page", "--report ", "--report needs a file name");
    // Values that are nearly right: QString::toInt() and a regular expression ending in $ let
    // these through, into the reports. The error shows them as typed, line feeds escaped.
    const auto refusedValue
        = [](const char* name, const char* option, const char* value, const char* shown = nullptr) {
              QTest::newRow(name) << QStringList {option, value}
                                  << QStringLiteral("%1 %2").arg(option, shown ? shown : value);
          };
    refusedValue("crop with a line feed", "--crop", "16:9\n", "16:9\\n");
    refusedValue("crop with a plus sign", "--crop", "+16:9");
    refusedValue("grid with a line feed", "--grid", "4x3\n", "4x3\\n");
    refusedValue("jobs with a leading space", "--jobs", " 2");
    refusedValue("weight with a plus sign", "--weight", "sobel=+5");
    refusedValue("max pixels with a tab", "--max-pixels", "5000\t", "5000\\t");
    refusedValue("memory with a plus sign", "--memory", "+512");
    refusedValue("threshold with a plus sign", "--hist-threshold", "+0.5");
    refusedValue("share with a trailing space", "--hist-min", "0.5 ");
    refused("every method disabled",
        "--disable sobel --disable center --disable histogram --disable contrast",
        "every method is disabled");
}

void tst_ZTOptionParser::refused()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, mentions);

    ZTOptionParser parser;
    QCOMPARE(parser.parse(QStringList {"ztroi"} + arguments + QStringList {"a.jpg"}),
        ZTOptionParser::UsageError);
    QVERIFY2(parser.errorText().contains(mentions) && !parser.errorText().contains('\n'),
        qPrintable(parser.errorText()));
}

void tst_ZTOptionParser::percentSignsInValues_data()
{
    QTest::addColumn<QStringList>("arguments"); // the refused option and its value come last

    const QString hostile = QStringLiteral("%1 %2 %L1 %%");
    const QStringList writing {"--write-crops"};
    for (const char* option : {"--crop", "--grid", "--size", "--weight", "--area", "--hist-bins",
             "--hist-blocks", "--hist-threshold", "--hist-min", "--max-pixels", "--jobs",
             "--memory", "--pixel-weight", "--disable", "--input-formats"}) {
        QTest::newRow(option) << QStringList {option, hostile};
    }
    for (const char* option : {"--quality", "--max-side", "--format"}) {
        QTest::newRow(option) << writing + QStringList {option, hostile};
    }
    QTest::newRow("--grid %1x3") << QStringList {"--grid", "%1x3"};
    QTest::newRow("--weight %1=%2") << QStringList {"--weight", "%1=%2"};
    QTest::newRow("--report") << QStringList {"--report", hostile + ".png"};
}

// Regression: messages were formatted with chained QString::arg(), so a "%1" in the value took
// the next argument: "--grid %1x3" was reported as "--grid 100x3: ... from 1 to %2".
void tst_ZTOptionParser::percentSignsInValues()
{
    QFETCH(QStringList, arguments);

    ZTOptionParser parser;
    QCOMPARE(parser.parse(QStringList {"ztroi"} + arguments + QStringList {"a.jpg"}),
        ZTOptionParser::UsageError);
    const QString value = arguments.last();
    const QString error = parser.errorText();
    QVERIFY2(error.startsWith(arguments.at(arguments.size() - 2) + ' ' + value + ": "),
        qPrintable(error));
    QVERIFY2(error.count('%') == value.count('%'), qPrintable(error));
}

void tst_ZTOptionParser::cropRequestsWithoutLeadingZeros_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("aspect");

    QTest::newRow("an aspect as it is") << "16:9"
                                        << "16:9"
                                        << "16:9";
    QTest::newRow("an aspect with leading zeros") << "016:09"
                                                  << "16:9"
                                                  << "16:9";
    QTest::newRow("a size with leading zeros") << "0001920x01080"
                                               << "1920x1080"
                                               << "16:9";
    QTest::newRow("an aspect not in lowest terms keeps its terms") << "32:18"
                                                                   << "32:18"
                                                                   << "16:9";
}

// Regression: "016:09" was reported and named as typed, apart from "16:9".
void tst_ZTOptionParser::cropRequestsWithoutLeadingZeros()
{
    QFETCH(QString, typed);
    QFETCH(QString, request);
    QFETCH(QString, aspect);

    ZTCropRequest parsed;
    QVERIFY(ZTOptionParser::parseCrop(typed, &parsed));
    QCOMPARE(parsed.text, request);
    QCOMPARE(parsed.aspectText(), aspect);
}

void tst_ZTOptionParser::noteOnAnIgnoredWeight_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QString>("note"); // empty: none

    const QString onlySobel = "--disable center --disable histogram --disable contrast ";
    const QString ignored
        = "%1 is the only method enabled, so its map is used as it is: the weight %2 has no effect";
    QTest::newRow("the only method, weighted 0")
        << onlySobel + "--weight sobel=0" << ignored.arg("sobel").arg(0);
    QTest::newRow("the only method, weighted below 0")
        << "--disable sobel --disable center --disable contrast --weight histogram=-3"
        << ignored.arg("histogram").arg(-3);
    QTest::newRow("the only method, weighted above 0") << onlySobel + "--weight sobel=5"
                                                       << "";
    QTest::newRow("several methods, one weighted 0") << "--disable histogram --weight sobel=0"
                                                     << "";
}

// The mixer uses the only enabled method's map as it is; a weight of zero or below for it, which
// the user must have meant, is worth a remark.
void tst_ZTOptionParser::noteOnAnIgnoredWeight()
{
    QFETCH(QString, arguments);
    QFETCH(QString, note);

    ZTOptionParser parser;
    QCOMPARE(parser.parse(QStringList {"ztroi"} + arguments.split(' ') + QStringList {"a.jpg"}),
        ZTOptionParser::Run);
    QCOMPARE(parser.notes(), note.isEmpty() ? QStringList() : QStringList {note});
}

void tst_ZTOptionParser::boundaries_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("option");
    for (const Boundary& boundary : boundaryTable) {
        const ZTToolOptionRow* row = rowNamed(boundary.option);
        QVERIFY2(row, boundary.option);
        const QString option = QStringLiteral("--") + boundary.option;
        QStringList arguments {"ztroi"};
        // An option that needs another gets it, so that its own value decides.
        if (!row->needs.isEmpty()) {
            arguments.append("--" + row->needs);
        }
        arguments.append(boundary.value ? option + '=' + boundary.value : option);
        const QString name = QStringLiteral("%1 %2").arg(
            arguments.last(), boundary.accepted ? "accepted" : "refused");
        QTest::newRow(qPrintable(name)) << arguments << boundary.accepted << option;
    }
}

void tst_ZTOptionParser::boundaries()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, accepted);
    QFETCH(QString, option);
    if (option == "--faces" && accepted && !ZTFaceDetector::isBuiltIn()) {
        QSKIP("built without face detection");
    }
    ZTOptionParser parser;
    const ZTOptionParser::Outcome outcome = parser.parse(arguments);
    QVERIFY2((outcome != ZTOptionParser::UsageError) == accepted, qPrintable(parser.errorText()));
    if (!accepted) {
        // The usage error names the option and the value it refuses.
        QVERIFY2(parser.errorText().contains(option), qPrintable(parser.errorText()));
    }
}

// A new option cannot go without its boundary rows: every option is accepted with some value
// and refused with another.
void tst_ZTOptionParser::everyOptionHasBoundaries()
{
    std::set<QString> accepted;
    std::set<QString> refused;
    for (const Boundary& boundary : boundaryTable) {
        (boundary.accepted ? accepted : refused).insert(boundary.option);
    }
    for (const ZTToolOptionRow& row : ZTOptionParser::rows()) {
        QVERIFY2(accepted.count(row.name), qPrintable(row.name));
        QVERIFY2(refused.count(row.name), qPrintable(row.name));
    }
}

void tst_ZTOptionParser::rowsNameEveryOptionOnce()
{
    QSet<QString> names;
    for (const ZTToolOptionRow& row : ZTOptionParser::rows()) {
        for (const QString& name : {row.name, row.shortName}) {
            QVERIFY2(name.isEmpty() || !names.contains(name), qPrintable(name));
            names.insert(name);
        }
        QVERIFY2(!row.help.isEmpty(), qPrintable(row.name));
        // The limits are those of the usage error.
        if (row.max) {
            QVERIFY2(row.expected.contains(QString::number(*row.max)), qPrintable(row.name));
        }
    }
}

QTEST_GUILESS_MAIN(tst_ZTOptionParser)
#include "tst_ZTOptionParser.moc"
