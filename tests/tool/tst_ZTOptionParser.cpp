#include "ZTOptionParser.h"
#include "faces/ZTFaceDetector.h"

#include <QtTest>

#include <set>

namespace {

// For each option, what the command line accepts and refuses after "--OPTION": "=VALUE", or ""
// for the option alone. Options with limits have their smallest and largest accepted values and
// the first refused value on each side.
struct Boundary
{
    const char* option;
    QStringList accepted;
    QStringList refused;
};

const QList<Boundary>& boundaryTable()
{
    static const QList<Boundary> table {
        {"help", {""}, {"=x"}},
        {"version", {""}, {"=x"}},
        {"out", {"=d"}, {"="}},
        {"no-map", {""}, {"=x"}},
        {"maps", {""}, {"=x"}},
        {"overlay", {""}, {"=x"}},
        {"json", {""}, {"=x"}},
        {"crop", {"=1:1", "=100000x100000"}, {"=0:1", "=1x0", "=100001:1", "=1:100001"}},
        {"no-crops", {""}, {"=x"}},
        {"write-crops", {""}, {"=x"}},
        {"format", {"=jpg", "=WEBP"}, {"=gif"}},
        {"quality", {"=0", "=100"}, {"=-1", "=101"}},
        {"max-side", {"=1", "=100000"}, {"=0", "=100001"}},
        {"no-enlarge", {""}, {"=x"}},
        {"report", {"=a.html", "=a.HTM"}, {"=a.jpg", "="}},
        {"pixel-weight", {"=linear", "=threshold"}, {"=square"}},
        {"grid", {"=1x1", "=100x100"}, {"=0x1", "=1x0", "=101x1", "=1x101"}},
        {"size", {"=1x1", "=4096x4096"}, {"=0x1", "=1x0", "=4097x1", "=1x4097"}},
        {"weight", {"=sobel=-1000", "=sobel=1000"}, {"=sobel=-1001", "=sobel=1001", "=colour=1"}},
        {"disable", {"=sobel"}, {"=colour"}},
        {"area", {"=0,0,1,1", "=1000000,1000000,1000000,1000000"},
            {"=-1,0,1,1", "=0,-1,1,1", "=0,0,0,1", "=0,0,1,0", "=1000001,0,1,1", "=0,0,1,1000001"}},
        {"faces", {""}, {"=x"}},
        {"no-faces", {""}, {"=x"}},
        {"hist-bins", {"=1", "=256,256"}, {"=0", "=257", "=1,0", "=1,257"}},
        {"hist-blocks", {"=1x1", "=100x100"}, {"=0x1", "=1x101"}},
        {"hist-threshold", {"=-1e9", "=1e9"}, {"=-1.1e9", "=1.1e9", "=nan"}},
        {"hist-min", {"=0", "=1,1"}, {"=-0.001", "=1.001", "=0.5,1.001"}},
        {"fast-decode", {""}, {"=x"}},
        {"max-pixels", {"=1", "=1099511627776"}, {"=0", "=1099511627777"}},
        {"list", {"=paths.txt"}, {""}},
        {"list0", {"=paths"}, {""}},
        {"input-formats", {"=jpeg", "=jpeg,png,gif,bmp,webp,tiff,ico,cur,mng"}, {"=raw", "=jpeg,"}},
        {"memory", {"=1", "=1048576"}, {"=0", "=1048577"}},
        {"recursive", {""}, {"=x"}},
        {"verbose", {""}, {"=x"}},
        {"jobs", {"=1", "=256"}, {"=0", "=257"}},
        {"quiet", {""}, {"=x"}},
    };
    return table;
}

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
    refused("crop with decimals", "--crop 1.5:1");
    refused("size without height", "--size 10");
    refused("area of three numbers", "--area 1,2,3");
    refused("pixels beyond 2^40", "--max-pixels 1099511627777",
        "--max-pixels 1099511627777: expected a whole number from 1 to 1099511627776");
    refused("empty output folder", "--out ", "--out needs a folder");
    refused("crops and no crops", "--crop 1:1 --no-crops", "exclude each other");
    refused("nothing to write", "--no-crops --write-crops", "exclude each other");
    refused("format without writing crops", "--format png", "add --write-crops");
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

    const auto row = [](const char* name, const char* typed, const char* request,
                         const char* aspect) { QTest::newRow(name) << typed << request << aspect; };
    row("an aspect as it is", "16:9", "16:9", "16:9");
    row("an aspect with leading zeros", "016:09", "16:9", "16:9");
    row("a size with leading zeros", "0001920x01080", "1920x1080", "16:9");
    row("an aspect not in lowest terms keeps its terms", "32:18", "32:18", "16:9");
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
    for (const Boundary& boundary : boundaryTable()) {
        const ZTToolOptionRow* row = rowNamed(boundary.option);
        QVERIFY2(row, boundary.option);
        const QString option = QStringLiteral("--") + boundary.option;
        // An option that needs another gets it, so that its own value decides.
        const QStringList needed
            = row->needs.isEmpty() ? QStringList() : QStringList {"--" + row->needs};
        for (const bool accepted : {true, false}) {
            for (const QString& value : accepted ? boundary.accepted : boundary.refused) {
                const QString name = option + value + (accepted ? " accepted" : " refused");
                QTest::newRow(qPrintable(name))
                    << QStringList {"ztroi"} + needed + QStringList {option + value} << accepted
                    << option;
            }
        }
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
    std::set<QString> covered;
    for (const Boundary& boundary : boundaryTable()) {
        if (!boundary.accepted.isEmpty() && !boundary.refused.isEmpty()) {
            covered.insert(boundary.option);
        }
    }
    for (const ZTToolOptionRow& row : ZTOptionParser::rows()) {
        QVERIFY2(covered.count(row.name), qPrintable(row.name));
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
