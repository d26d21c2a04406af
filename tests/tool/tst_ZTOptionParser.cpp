// ztroi's option parser: every option's smallest and largest accepted value and the first refused
// value on each side, the errors and notes it gives, and options set by name.

#include "ZTOptionParser.h"
#include "analysis/ZTOptionTable.h"
#include "faces/ZTFaceDetector.h"

#include <QtTest>

#include <set>

namespace {

// For each option that takes a value, what the command line accepts and refuses after
// "--OPTION": "=VALUE", or "" for the option alone. Options with limits have their smallest and
// largest accepted values and the first refused value on each side, written out here so that a
// limit moved in the option table shows. A flag is accepted alone and refused with a value.
struct Boundary
{
    QString option;
    QStringList accepted;
    QStringList refused;
};

const QList<Boundary> boundaryTable {
    {"out", {"=d"}, {"="}},
    {"crop", {"=1:1", "=100000x100000"}, {"=0:1", "=1x0", "=100001:1", "=1:100001"}},
    {"format", {"=jpg", "=WEBP"}, {"=gif"}},
    {"quality", {"=0", "=100"}, {"=-1", "=101"}},
    {"max-side", {"=1", "=100000"}, {"=0", "=100001"}},
    {"report", {"=a.html", "=a.HTM"}, {"=a.jpg", "="}},
    {"pixel-weight", {"=linear", "=threshold"}, {"=square"}},
    {"grid", {"=1x1", "=100x100"}, {"=0x1", "=1x0", "=101x1", "=1x101"}},
    {"size", {"=1x1", "=4096x4096"}, {"=0x1", "=1x0", "=4097x1", "=1x4097"}},
    {"weight", {"=sobel=-1000", "=sobel=1000"}, {"=sobel=-1001", "=sobel=1001", "=colour=1"}},
    {"disable", {"=sobel"}, {"=colour"}},
    {"area", {"=0,0,1,1", "=1000000,1000000,1000000,1000000"},
        {"=-1,0,1,1", "=0,-1,1,1", "=0,0,0,1", "=0,0,1,0", "=1000001,0,1,1", "=0,0,1,1000001"}},
    {"hist-bins", {"=1", "=256,256"}, {"=0", "=257", "=1,0", "=1,257"}},
    {"hist-blocks", {"=1x1", "=100x100"}, {"=0x1", "=1x101"}},
    {"hist-threshold", {"=-1e9", "=1e9"}, {"=-1.1e9", "=1.1e9", "=nan"}},
    {"hist-min", {"=0", "=1,1"}, {"=-0.001", "=1.001", "=0.5,1.001"}},
    {"max-pixels", {"=1", "=1099511627776"}, {"=0", "=1099511627777"}},
    {"list", {"=paths.txt"}, {""}},
    {"list0", {"=paths"}, {""}},
    {"input-formats", {"=jpeg", "=jpeg,png,gif,bmp,webp,tiff,ico,cur,mng"}, {"=raw", "=jpeg,"}},
    {"memory", {"=1", "=1048576"}, {"=0", "=1048577"}},
    {"jobs", {"=1", "=256"}, {"=0", "=257"}},
};

// Parses "ztroi a.jpg ARGUMENTS".
ZTOptionParser::Outcome parse(ZTOptionParser& parser, const QStringList& arguments)
{
    return parser.parse(QStringList {"ztroi", "a.jpg"} + arguments);
}

// Each boundary as arguments, with whether it is accepted; a flag is accepted alone and refused
// with a value. An option that needs another gets it, so that its own value decides.
QList<std::pair<QStringList, bool>> boundaryArguments()
{
    QList<Boundary> boundaries = boundaryTable;
    for (const ZTToolOptionRow& row : ZTOptionParser::rows()) {
        if (row.syntax.isEmpty()) {
            boundaries.append({row.name, {""}, {"=x"}});
        }
    }
    QList<std::pair<QStringList, bool>> arguments;
    for (const Boundary& boundary : boundaries) {
        QStringList needed;
        for (const ZTToolOptionRow& row : ZTOptionParser::rows()) {
            if (row.name == boundary.option && !row.needs.isEmpty()) {
                needed.append("--" + row.needs);
            }
        }
        for (const bool accepted : {true, false}) {
            for (const QString& value : accepted ? boundary.accepted : boundary.refused) {
                arguments.append({needed + QStringList {"--" + boundary.option + value}, accepted});
            }
        }
    }
    return arguments;
}

} // namespace

class tst_ZTOptionParser : public QObject
{
    Q_OBJECT

private slots:
    void valuesReachTheSettings();
    void parsed_data();
    void parsed();
    void everyOptionOnceWithBoundaries();
    void settingsFromKeywords();
};

// Short names and the options that the end-to-end tests do not use.
void tst_ZTOptionParser::valuesReachTheSettings()
{
    ZTOptionParser parser;
    QCOMPARE(parse(parser,
                 {"-o", "out", "--fast-decode", "--crop", "016:09", "-c", "4:2", "--crop",
                     "0001920x01080", "--crop", "32:18", "--pixel-weight", "threshold", "--disable",
                     "centre", "--area", "1,2,3,4", "--area", "0,0,10,20", "--hist-bins", "12",
                     "--hist-min", "0.4", "--hist-threshold", "-.5e-1", "-j", "2", "b c.png"}),
        ZTOptionParser::Run);
    const ZTToolSettings s = parser.settings();
    QCOMPARE(s.inputs, (QStringList {"a.jpg", "b c.png"}));
    QVERIFY(s.outputDir == "out" && s.fastDecode && s.jobs == 2);
    QStringList crops;
    for (const ZTCropRequest& crop : s.crops) {
        crops.append(
            crop.text + ' ' + crop.aspectText() + ' ' + QString::number(crop.outputSize.height()));
    }
    // Regression: "016:09" was reported and named as typed, apart from "16:9". Aspects are
    // reduced, the request keeps its terms; an output size for WxH only.
    QCOMPARE(crops,
        (QStringList {"16:9 16:9 -1", "4:2 2:1 -1", "1920x1080 16:9 1080", "32:18 16:9 -1"}));
    QCOMPARE(s.pixelWeight, SalienzPixelWeightThreshold);
    QCOMPARE(s.disabled, QList<ZTSalienzMethod> {SalienzGauss});
    QCOMPARE(s.areas, (QList<QRect> {QRect(1, 2, 3, 4), QRect(0, 0, 10, 20)}));
    // One value serves both channels.
    const ZTHistogramSettings& h = s.histogram;
    QCOMPARE(QList<double>(
                 {double(*h.bins1), double(*h.bins2), *h.minWidth, *h.minHeight, *h.threshold}),
        QList<double>({12, 12, 0.4, 0.4, -0.05}));
}

void tst_ZTOptionParser::parsed_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("said"); // accepted: the note, if any; refused: what the error names

    for (const auto& [arguments, accepted] : boundaryArguments()) {
        QTest::newRow(qPrintable(arguments.join(' ')))
            << arguments << accepted
            << (accepted ? QString() : arguments.last().section('=', 0, 0));
    }
    // The mixer uses the only enabled method's map as it is; a weight of zero or below for it,
    // which the user must have meant, is worth a remark (with several methods, the boundary rows
    // of --weight have none).
    const QStringList onlySobel {"--disable=center", "--disable=histogram", "--disable=contrast"};
    const QString ignored
        = "%1 is the only method enabled, so its map is used as it is: the weight %2 has no effect";
    QTest::newRow("the only method, weighted 0")
        << onlySobel + QStringList {"--weight=sobel=0"} << true << ignored.arg("sobel").arg(0);
    QTest::newRow("the only method, weighted below 0") << QStringList {"--disable=sobel",
        "--disable=center", "--disable=contrast", "--weight=histogram=-3"}
                                                       << true << ignored.arg("histogram").arg(-3);
    // @p arguments separated by spaces; the error must mention them, or @p mentions if given.
    const auto refused = [](const char* name, const QString& arguments, const char* mentions = "") {
        QTest::newRow(name) << arguments.split(' ') << false
                            << (*mentions ? QString(mentions) : arguments);
    };
    refused("unknown option", "--bogus", "Unknown option 'bogus'");
    refused("area of three numbers", "--area 1,2,3");
    refused("crops and no crops", "--crop 1:1 --no-crops", "exclude each other");
    refused("nothing to write", "--no-crops --write-crops", "exclude each other");
    refused("format without writing crops", "--format png", "add --write-crops");
    refused("a crop over --max-pixels", "--write-crops --max-pixels 99 --crop 10x10",
        "--crop 10x10: more than 99 pixels");
    refused("every method disabled",
        "--disable sobel --disable center --disable histogram --disable contrast",
        "every method is disabled");
    // Values that are nearly right: QString::toInt() and a regular expression ending in $ let
    // these through, into the reports. The error shows them as typed, line feeds escaped.
    const auto refusedValue
        = [](const char* name, const char* option, const char* value, const char* shown = nullptr) {
              QTest::newRow(name) << QStringList {option, value} << false
                                  << QStringLiteral("%1 %2: ").arg(option, shown ? shown : value);
          };
    refusedValue("crop with a line feed", "--crop", "16:9\n", "16:9\\n");
    refusedValue("crop with a plus sign", "--crop", "+16:9");
    refusedValue("jobs with a leading space", "--jobs", " 2");
    refusedValue("threshold with a plus sign", "--hist-threshold", "+0.5");
    refusedValue("share with a trailing space", "--hist-min", "0.5 ");
    // Regression: messages were formatted with chained QString::arg(), so a "%1" in the value
    // took the next argument: "--grid %1x3" was reported as "--grid 100x3: ... from 1 to %2".
    const char* hostile = "%1 %2 %L1 %%";
    for (const char* option : {"--crop", "--grid", "--size", "--weight", "--area", "--hist-bins",
             "--hist-blocks", "--hist-threshold", "--hist-min", "--max-pixels", "--jobs",
             "--memory", "--pixel-weight", "--disable", "--input-formats"}) {
        refusedValue(option, option, hostile);
    }
    QTest::newRow("--quality") << QStringList {"--write-crops", "--quality", hostile} << false
                               << QStringLiteral("--quality %1: ").arg(hostile);
    refusedValue("--report", "--report", "%1 %2 %L1 %%.png");
}

// Accepted with its note, if any; or refused on one line that names the option and the value as
// typed, with no more percent signs than the command line had.
void tst_ZTOptionParser::parsed()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, accepted);
    QFETCH(QString, said);
    if (accepted && arguments.contains("--faces") && !ZTFaceDetector::isBuiltIn()) {
        QSKIP("built without face detection");
    }
    ZTOptionParser parser;
    const QString error
        = parse(parser, arguments) == ZTOptionParser::UsageError ? parser.errorText() : QString();
    QVERIFY2(error.isEmpty() == accepted, qPrintable(error));
    if (accepted) {
        QCOMPARE(parser.notes(), said.isEmpty() ? QStringList() : QStringList {said});
    } else {
        QVERIFY2(error.contains(said) && !error.contains('\n'), qPrintable(error));
        QVERIFY2(error.count('%') == arguments.join(' ').count('%'), qPrintable(error));
    }
}

// A new option that takes a value cannot go without its boundary rows, nor any option without
// its help and a name of its own; the limits are those of the usage error.
void tst_ZTOptionParser::everyOptionOnceWithBoundaries()
{
    std::set<QString> covered;
    for (const Boundary& boundary : boundaryTable) {
        covered.insert(boundary.option);
    }
    QSet<QString> names;
    for (const ZTToolOptionRow& row : ZTOptionParser::rows()) {
        QVERIFY2((row.syntax.isEmpty() || covered.count(row.name)) && !row.help.isEmpty(),
            qPrintable(row.name));
        for (const QString& name : {row.name, row.shortName}) {
            QVERIFY2(name.isEmpty() || !names.contains(name), qPrintable(name));
            names.insert(name);
        }
        QVERIFY2(
            !row.max || row.expected.contains(QString::number(*row.max)), qPrintable(row.name));
    }
}

// Options given by name, as the Python module gives its keyword arguments: no command line
// (python/tests checks that the values reach the analysis as the tool's options do, and that an
// unknown name alone is refused). An unknown name is said even after a refused value.
void tst_ZTOptionParser::settingsFromKeywords()
{
    // The error of @p keywords, and whether it is an unknown name.
    const auto refused = [](const QList<QPair<QString, QStringList>>& keywords, bool* unknown) {
        ZTAnalysisSettings settings;
        QString error;
        return ZTOptionTable::settingsFromKeywords(keywords, &settings, &error, unknown) ? QString()
                                                                                         : error;
    };
    bool unknown = false;
    QVERIFY(refused({{"grid", {"0x1"}}, {"colour", {""}}}, &unknown).startsWith("colour"));
    QVERIFY(unknown);
    QVERIFY(
        refused({{"no-map", {"yes"}}}, &unknown).startsWith("--no-map takes no value, not 'yes'"));
    QVERIFY(!unknown);
}

QTEST_GUILESS_MAIN(tst_ZTOptionParser)
#include "tst_ZTOptionParser.moc"
