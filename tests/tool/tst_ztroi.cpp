// ztroi: its option parser directly (every option's limits, the errors and notes, options by
// name), then end to end: the command line, output files, JSON and exit status, and the kind of
// each failure in the JSON record.
//
// Faces as very important areas: detections injected through a stand-in finder on a synthetic
// picture, and the cap on their number; the network on faces drawn in code, both detectors on
// pictures without faces; and which detector ztroi runs: the network by default where its
// model is installed, none with --no-faces or without the model, the cascades for --faces when
// the network cannot run, with a note that says why, and nothing analysed when they cannot run
// either.

#include "ZTImageTestSupport.h"
#include "ZTOptionParser.h"
#include "ZTToolTestSupport.h"
#include "analysis/ZTOptionTable.h"
#include "analysis/ZTPictureAnalyzer.h"
#include "faces/ZTFaceDetector.h"
#include "report/ZTReportFormatter.h"

#include <ZTRegionOfInterestVersion.h>
#include <ZTSalienzClusterer.h>
#include <ZTSalienzMixer.h>

#include <QColorSpace>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

#include <random>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

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

// The face model where scripts/fetch-face-model puts it.
const QString faceModel = QStringLiteral(ZTROI_TEST_FACE_MODEL);

// Skips a test in a build without face detection, or without the model where @p needsModel.
#define SKIP_WITHOUT_FACES(needsModel)                                                             \
    if (!ZTFaceDetector::isBuiltIn() || ((needsModel) && !QFileInfo(faceModel).isFile())) {        \
        QSKIP("no face detection or no model (scripts/fetch-face-model)");                         \
    }

// A dark picture with an orange disc on its right, which pulls a crop there, analysed for the
// one crop @p crop, with or without @p faces; @p finder stands in for the face detector.
ZTPictureReport analyzedScene(bool faces, const QString& crop, const ZTFaceFinder& finder = {})
{
    ZTToolSettings settings;
    settings.faces = faces;
    ZTCropRequest request;
    ZTOptionParser::parseCrop(crop, &request);
    settings.crops = {request};
    const QImage wide = scene(QSize(600, 200), QPoint(520, 100));
    return ZTPictureAnalyzer(settings, finder).analyzeImage("wide.png", wide, "png").report;
}

// A face as a child draws it, large enough and shaded enough for the network: hair, skin,
// brows, eyes with pupils, a nose and a mouth, on a grey wall; with a null @p face, the wall.
QImage drawnFace(const QSize& size, const QRect& face)
{
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(QColor(150, 160, 170));
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    // An ellipse or a rectangle, in shares of the face.
    const auto draw
        = [&](QRgb colour, double x, double y, double w, double h, bool ellipse = true) {
              const QRectF shape(face.x() + x * face.width(), face.y() + y * face.height(),
                  w * face.width(), h * face.height());
              painter.setBrush(QColor(colour));
              ellipse ? painter.drawEllipse(shape) : painter.drawRect(shape);
          };
    draw(qRgb(60, 40, 25), -0.08, -0.25, 1.16, 0.9);
    draw(qRgb(225, 180, 150), 0, 0, 1, 1.2);
    for (const double x : {0.2, 0.6}) {
        draw(qRgb(70, 45, 30), x, 0.33, 0.2, 0.04, false);
        draw(qRgb(255, 255, 255), x, 0.4, 0.2, 0.1);
        draw(qRgb(40, 30, 20), x + 0.06, 0.41, 0.08, 0.08);
    }
    draw(qRgb(200, 150, 120), 0.44, 0.5, 0.12, 0.22);
    draw(qRgb(170, 70, 70), 0.32, 0.82, 0.36, 0.1);
    return picture;
}

} // namespace

class tst_ztroi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void openCvIsLoadedOnlyForFaces();
    void valuesReachTheSettings();
    void parsed_data();
    void parsed();
    void everyOptionOnceWithBoundaries();
    void settingsFromKeywords();
    void jsonShape();
    void writtenMapIsTheLibrarysAnalysis();
    void exitStatusAndFiles_data();
    void exitStatusAndFiles();
    void errorKindInTheRecord_data();
    void errorKindInTheRecord();
    void facesAreKeptAndCapped();
    void facesFound_data();
    void facesFound();
    void detectorThatRuns_data();
    void detectorThatRuns();

private:
    QString picture(const QString& name) const { return m_pictures.filePath(name); }

    QTemporaryDir m_pictures;
};

void tst_ztroi::initTestCase()
{
    QVERIFY(scene(QSize(200, 300), QPoint(60, 220)).save(picture("portrait.jpg"), nullptr, 92));
    QVERIFY(scene(QSize(90, 60), QPoint(20, 30)).save(picture("small.bmp")));
    // Other names of small.bmp, which a review page must not replace.
    QVERIFY(::link(QFile::encodeName(picture("small.bmp")), QFile::encodeName(picture("hard.html")))
        == 0);
    QVERIFY(QFile::link(picture("small.bmp"), picture("link.html")));
    // Stored 300x200, shown turned a quarter clockwise: 200x300 with the disc at (109, 230); with
    // a colour profile that crops must keep.
    QImage stored = scene(QSize(300, 200), QPoint(230, 90));
    stored.setColorSpace(QColorSpace::DisplayP3);
    writeFile(picture("profiled.jpg"), withOrientation(encoded(stored, "jpeg", 90), 6));
}

void tst_ztroi::jsonShape()
{
    QTemporaryDir work;
    const QString input = picture("profiled.jpg");
    const Run run
        = ztroi({"--json", "--no-map", "--write-crops", "--crop", "1:1", "--crop", "1920x1080",
                    "--weight", "histogram=7", "--disable", "contrast", input},
            work.path());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QByteArray());

    // The whole line, keys in Qt's order. "#" stands for a number that depends on the salience,
    // "@" for a share of it, rounded to four decimals, "$" for a percentage with one decimal.
    // The size is after the EXIF orientation.
    const QString line = QStringLiteral(
        R"({"analysisSize":{"height":480,"width":320},"crops":[{"aspect":"1:1","centred":false,)"
        R"("rect":{"height":200,"width":200,"x":0,"y":#},"request":"1:1","salienceKept":@,)"
        R"("scale":1,"warnings":[],"writtenSize":{"height":200,"width":200}},)"
        R"({"aspect":"16:9","centred":false,"outputSize":{"height":1080,"width":1920},)"
        R"("rect":{"height":108,"width":192,"x":4,"y":#},"request":"1920x1080",)"
        R"("salienceKept":@,"scale":10,"warnings":["enlarged"],)"
        R"("writtenSize":{"height":1080,"width":1920}}],)"
        R"("files":{"crops":["ztroi-out/profiled.crop-1x1.jpg",)"
        R"("ztroi-out/profiled.crop-1920x1080px.jpg"]},)"
        R"("focus":{"css":"$% $%","x":#,"y":#},"input":"%1",)"
        R"("methods":[)"
        R"({"enabled":true,"name":"sobel","weight":20},{"enabled":true,"name":"center","weight":2},)"
        R"({"enabled":true,"name":"histogram","weight":7},{"enabled":false,"name":"areas",)"
        R"("weight":20},{"enabled":false,"name":"contrast","weight":10}],)"
        R"("size":{"height":300,"width":200},"version":1})"
        "\n");
    const QRegularExpression pattern('^'
        + QRegularExpression::escape(line.arg(input))
              .replace("\\#", "(\\d+)")
              .replace("\\@", "0\\.\\d{1,4}")
              .replace("\\$", "(\\d+\\.\\d)")
        + '$');
    const QRegularExpressionMatch match = pattern.match(QString::fromUtf8(run.out));
    QVERIFY2(match.hasMatch(), run.out.constData());
    // The disc at (109, 230), radius 25, pulls the crops down as far as they hold all of it, and
    // the focal point onto it.
    const auto at = [&match](int i) { return match.captured(i).toInt(); };
    QVERIFY(at(1) >= 56 && at(1) <= 100 && at(2) >= 148 && at(2) <= 192);
    QVERIFY(qAbs(at(5) - 109) <= 25 && qAbs(at(6) - 230) <= 25);
    // For CSS, the focal point as percentages of the width and height.
    QCOMPARE(match.captured(3), QString::number(at(5) / 2.0, 'f', 1));
    QCOMPARE(match.captured(4), QString::number(at(6) / 3.0, 'f', 1));
    // The crops are written upright, without an orientation tag left, with the colour profile.
    QImageReader reader(work.filePath("ztroi-out/profiled.crop-1x1.jpg"));
    reader.setAutoTransform(false);
    QCOMPARE(reader.transformation(), QImageIOHandler::TransformationNone);
    const QImage crop = reader.read();
    QCOMPARE(crop.colorSpace(), QColorSpace(QColorSpace::DisplayP3));
    const QColor disc = crop.pixelColor(109, 230 - at(1));
    QVERIFY2(disc.red() > 180 && disc.blue() < 100, qPrintable(disc.name()));
}

// The map that ztroi writes is the library's analysis with the same settings, pixel for pixel,
// and its grid scores are the clusterer's scores at the cells' top left pixels: a grid finer than
// the 32x48 map has a cell a pixel. The histogram minima leave no segment painted: the only
// setting in which both of them decide.
void tst_ztroi::writtenMapIsTheLibrarysAnalysis()
{
    QTemporaryDir work;
    const QString input = picture("portrait.jpg");
    const Run run = ztroi({"--json", "--maps", "--size", "48x48", "--weight", "sobel=7", "--weight",
                              "histogram=-10", "--disable", "contrast", "--area", "50,100,100,50",
                              "--hist-bins", "6,3", "--hist-blocks", "9x7", "--hist-threshold",
                              "0.3", "--hist-min", "0.9,0.9", "--grid", "100x100", input},
        work.path());
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QByteArray()); // the areas reach the mixer with the work image's size
    const QJsonObject json = QJsonDocument::fromJson(run.out).object();
    QCOMPARE(json["files"]["maps"].toObject().keys(),
        (QStringList {"areas", "center", "histogram", "sobel"}));

    ZTSalienzMixer mixer(QSize(48, 48));
    mixer.setMethodWeight(SalienzSobel, 7);
    mixer.setMethodWeight(SalienzHistogram, -10); // counted positively, for all to see
    mixer.setMethodEnabled(SalienzAchanta, false);
    mixer.updateHistogramBinsChannel1(6);
    mixer.updateHistogramBinsChannel2(3);
    mixer.updateHistogramHorizontalBlocks(9);
    mixer.updateHistogramVerticalBlocks(7);
    mixer.updateHistogramChiSquareThreshold(0.3);
    mixer.updateHistogramMinWidth(0.9);
    mixer.updateHistogramMinHeight(0.9);
    // The area in picture pixels, on the 32x48 work image (scale 0.16).
    mixer.injectVeryImportantAreas({QRect(8, 16, 16, 8)}, QSize(32, 48));
    const QImage map = mixer.analyze(QImage(input).convertToFormat(QImage::Format_ARGB32));
    const QImage written(work.filePath(json["files"]["salience"].toString()));
    QVERIFY(ZTImageTest::sameStoredPixels(
        written.convertToFormat(QImage::Format_ARGB32), map, "tst_ztroi-salience"));

    ZTSalienzClusterer clusterer;
    clusterer.setCountCubesV(32);
    clusterer.setCountCubesH(48);
    const QImage cubes = clusterer.cluster(map);
    QJsonArray scores;
    for (int row = 0; row < 48; ++row) {
        QJsonArray line;
        for (int column = 0; column < 32; ++column) {
            line.append(qRed(cubes.pixel(column, row)));
        }
        scores.append(line);
    }
    QCOMPARE(
        json["grid"].toObject(), (QJsonObject {{"columns", 32}, {"rows", 48}, {"scores", scores}}));
}

void tst_ztroi::exitStatusAndFiles_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("output");    // the start of standard output and standard error
    QTest::addColumn<QStringList>("files"); // what is written into ztroi-out
    QTest::addColumn<QString>("blocked");   // a folder in ztroi-out where a file should go

    const auto row
        = [](const char* name, const QStringList& arguments, int status, const QString& output,
              const QStringList& files = {}, const QString& blocked = {}) {
              QTest::newRow(name) << arguments << status << output << files << blocked;
          };
    const QString small = picture("small.bmp");
    row("the bundled photograph, from any folder", {}, 0,
        "coffee.jpg (the bundled photograph)  600x400  3 crops  ",
        {"coffee.overlay.jpg", "coffee.salience.png"});
    row("an empty list: no bundled photograph", {"--list", "-"}, 0, "");
    row("no map, and no line about files", {"--no-map", small}, 0, small + "  90x60  3 crops  ");
    // The map and the first crop were written when the second crop failed: they go as well.
    row("a crop that cannot be written fails the picture",
        {"-q", "--write-crops", "--crop", "1:1", "--crop", "2:1", small}, 1,
        "ztroi: " + small + ": ztroi-out/small.crop-2x1.jpg is not a regular file", {},
        "small.crop-2x1.jpg");
    row("a review page that cannot be written: nothing analysed",
        {"-q", "--report", small + "/page.html", small}, 1,
        "ztroi: cannot write the review page " + small + "/page.html");
    // The page replaces only a file of its own that is not an input, whatever it is called.
    row("a review page that is an input by another name", {"--report", picture("hard.html"), small},
        2, "ztroi: --report " + picture("hard.html") + ": is also an input of this run");
    row("a review page through a symbolic link", {"--report", picture("link.html"), small}, 2,
        "ztroi: --report " + picture("link.html") + ": not a regular file");
    // Help and version win over an otherwise malformed command line.
    row("help", {"--crop", "0:9", "-h"}, 0, "Usage: ztroi [options] [image...]\n");
    row("version", {"--version", "--crop", "0:9"}, 0,
        QString("ztroi %1\nlibZTRegionOfInterest %1\n").arg(ztRegionOfInterestVersion()));
    // Qt's --help-all would list Qt's own options, which ztroi does not document.
    row("no --help-all", {"--help-all"}, 2, "ztroi: Unknown option 'help-all'.");
}

void tst_ztroi::exitStatusAndFiles()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, output);
    QFETCH(QStringList, files);
    QFETCH(QString, blocked);

    QTemporaryDir work;
    QVERIFY(blocked.isEmpty() || QDir(work.path()).mkpath("ztroi-out/" + blocked));
    const Run run = ztroi(arguments, work.path());
    QCOMPARE(run.exitCode, status);
    const QString printed = QString::fromUtf8(run.out + run.err);
    QVERIFY2(
        output.isEmpty() ? printed.isEmpty() : printed.startsWith(output), qPrintable(printed));
    QVERIFY2(printed.count("ztroi: ") <= 1 && !printed.contains(QRegularExpression("wrote +\n")),
        qPrintable(printed));
    QCOMPARE(filesIn(work.filePath("ztroi-out")), files);
    QVERIFY(status != 2
        || (run.out.isEmpty() && run.err.endsWith("\nTry 'ztroi --help' for more information.\n")));
}

void tst_ztroi::errorKindInTheRecord_data()
{
    QTest::addColumn<QString>("input");       // a picture made in the run's folder
    QTest::addColumn<QStringList>("options"); // besides --json --quiet
    QTest::addColumn<QString>("shell");       // run after this shell command; see below
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message"); // the start of the message

    // The kinds that the analysis gives are tst_ZTOutputTransaction's and python/tests'; these
    // need ztroi itself: another user, a file-size limit.
    const auto row = [](const char* name, const char* input, const QStringList& options,
                         const char* shell, const char* kind, const char* message) {
        QTest::newRow(name) << input << options << shell << kind << message;
    };
    row("no permission", "locked.png", {"--no-map"}, "permission", "permission",
        "cannot open the file (Permission denied)");
    row("write failed", "photo.png", {}, "ulimit -f 1;", "write-failed",
        "cannot write ztroi-out/photo.salience.png");
}

// The record holds the kind beside the message; standard error names the picture and says the
// message alone. "permission" as the shell: the file loses its read permission.
void tst_ztroi::errorKindInTheRecord()
{
    QFETCH(QString, input);
    QFETCH(QStringList, options);
    QFETCH(QString, shell);
    QFETCH(QString, kind);
    QFETCH(QString, message);

    QTemporaryDir work;
    QVERIFY(scene(QSize(400, 300), QPoint(250, 120)).save(work.filePath(input)));
    if (shell == "permission") {
        // Root reads every file: ztroi then runs as the unprivileged user "nobody", whom the test
        // folder, private to root, refuses as a file without read permission would.
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        shell = ::geteuid() != 0 ? QString()
                                 : QStringLiteral("exec %1 --reuid=65534 --regid=65534 "
                                                  "--clear-groups \"$0\" \"$@\";")
                                       .arg(setpriv);
        QVERIFY(QFile::setPermissions(work.filePath(input), QFileDevice::WriteOwner));
    }
    const Run run = ztroi(
        QStringList {"--json", "--quiet"} + options + QStringList {input}, work.path(), {}, shell);
    if (run.exitCode >= 126) {
        QSKIP("ztroi cannot run as another user here (no setpriv, or a build only root may reach)");
    }
    QCOMPARE(run.exitCode, 1);
    const QJsonObject record = QJsonDocument::fromJson(run.out).object();
    QCOMPARE(record.keys(), (QStringList {"error", "input", "version"}));
    const QJsonObject error = record["error"].toObject();
    QCOMPARE(error.keys(), (QStringList {"kind", "message"}));
    QCOMPARE(error["kind"].toString(), kind);
    const QString said = error["message"].toString();
    QVERIFY2(!said.isEmpty() && said.startsWith(message), qPrintable(said));
    QVERIFY2(run.err.contains((input + ": " + said).toUtf8()), run.err.constData());
    QVERIFY(filesIn(work.filePath("ztroi-out")).isEmpty());
}

// Short names and the options that the end-to-end tests do not use.
void tst_ztroi::valuesReachTheSettings()
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

void tst_ztroi::parsed_data()
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
void tst_ztroi::parsed()
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
void tst_ztroi::everyOptionOnceWithBoundaries()
{
    std::set<QString> covered;
    for (const Boundary& boundary : boundaryTable) {
        if (!boundary.accepted.isEmpty() && !boundary.refused.isEmpty()) {
            covered.insert(boundary.option);
        }
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
void tst_ztroi::settingsFromKeywords()
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

// Loading OpenCV and what it needs takes longer than an analysis: only the first detector's
// load() may do it, never an analysis without faces. Runs first, before any detector loads.
void tst_ztroi::openCvIsLoadedOnlyForFaces()
{
    SKIP_WITHOUT_FACES(false);
    // Whether OpenCV's core library is mapped into this process.
    const auto openCvLoaded = [] {
        QFile maps(QStringLiteral("/proc/self/maps"));
        return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libopencv_core");
    };
    QVERIFY(analyzedScene(false, "1:1").ok());
    QVERIFY(!openCvLoaded());
    ZTFaceDetector detector;
    QVERIFY2(detector.load(), qPrintable(detector.errorString()));
    QVERIFY(openCvLoaded());
}

// A face of 40 x 40 at (40, 60) has the head (30, 40) 60 x 70: the crop keeps it whole, though
// the salience pulls it to the right. Of hundreds of faces, the largest maxFaces count, in an
// order of their own; faces outside the picture are no faces. The text report says so.
void tst_ztroi::facesAreKeptAndCapped()
{
    const QRect face(40, 60, 40, 40);
    const ZTPictureReport one
        = analyzedScene(true, "1:1", [face](const QImage&) { return QList<QRect> {face}; });
    QVERIFY2(one.ok(), qPrintable(one.error));
    QCOMPARE(one.faces, QList<QRect> {face});
    QVERIFY2(one.crops.first().rect.contains(QRect(30, 40, 60, 70)),
        qPrintable(ZTReportFormatter::toText(one, false)));
    QCOMPARE(one.crops.first().areasKept, 1);
    // The heads reach the mixer as very important areas.
    QVERIFY(one.methods.at(SalienzVeryImportantAreas).enabled);

    QList<QRect> faces {QRect(700, 0, 90, 90), QRect(-90, 0, 80, 80)};
    std::mt19937 random(18);
    for (int i = 0; i < 500; ++i) {
        const int side = 5 + int(random() % 30);
        faces.append(QRect(int(random() % 560), int(random() % 160), side, side));
    }
    faces.append(QRect(3, 3, 36, 36));
    const ZTPictureReport report
        = analyzedScene(true, "4:5", [faces](const QImage&) { return faces; });
    QVERIFY2(report.ok(), qPrintable(report.error));
    QCOMPARE(report.facesFound, 501);
    QCOMPARE(report.faces.size(), ZTPictureAnalyzer::maxFaces);
    QCOMPARE(report.faces.first(), QRect(3, 3, 36, 36));
    for (int i = 1; i < report.faces.size(); ++i) {
        QVERIFY(report.faces.at(i).width() <= report.faces.at(i - 1).width());
    }
    QVERIFY(ZTReportFormatter::toText(report, false)
                .contains(QStringLiteral("faces        32 (the largest of 501 found)")));
}

void tst_ztroi::facesFound_data()
{
    QTest::addColumn<QString>("detector");
    QTest::addColumn<QImage>("image");
    QTest::addColumn<QRect>("face"); // where it is drawn; null for none

    const auto row
        = [](const char* name, const char* detector, const QImage& image,
              const QRect& face = QRect()) { QTest::newRow(name) << detector << image << face; };
    row("cascades: null", "cascades", QImage());
    row("cascades: a strip thinner than their window", "cascades", drawnFace({5000, 30}, {}));
    row("cascades: the bundled photograph", "cascades",
        QImage(QFINDTESTDATA("../../samples/coffee.jpg")).convertToFormat(QImage::Format_RGB32));
    const QRect middle(100, 120, 100, 110);
    row("network: portrait, face in the middle", "blazeface", drawnFace({300, 400}, middle),
        middle);
    // Too small for the whole picture's pass; found in the last square of the long picture,
    // which is read in place, whatever the size of its pixels.
    const QRect right(1450, 150, 64, 72);
    row("network: panorama, small face at the right end, 3 bytes a pixel", "blazeface",
        drawnFace({1600, 400}, right).convertToFormat(QImage::Format_RGB888), right);
    const QRect bottom(150, 1450, 64, 72);
    row("network: tall panorama, small face at the bottom, 8 bytes a pixel", "blazeface",
        drawnFace({400, 1600}, bottom).convertToFormat(QImage::Format_RGBA64), bottom);
}

// The network where its model is named, otherwise the cascades: a face is found where it is,
// once, its box about the drawn face's size; none where there is none.
void tst_ztroi::facesFound()
{
    QFETCH(QString, detector);
    QFETCH(QImage, image);
    QFETCH(QRect, face);

    SKIP_WITHOUT_FACES(detector == "blazeface");
    qputenv(
        ZTFaceDetector::modelVariable, detector == "cascades" ? "" : QFile::encodeName(faceModel));
    ZTFaceDetector loaded;
    QVERIFY2(loaded.load(), qPrintable(loaded.errorString()));
    qputenv(ZTFaceDetector::modelVariable, QByteArray());
    if (loaded.name() != detector) {
        QSKIP(qPrintable(loaded.fallbackNote())); // built without OpenCV's dnn
    }
    const QList<QRect> found = loaded.detect(image);
    QCOMPARE(found.size(), face.isNull() ? 0 : 1);
    if (!face.isNull()) {
        QVERIFY(face.contains(found.first().center()));
        QVERIFY(found.first().width() > face.width() / 2);
        QVERIFY(found.first().width() < face.width() * 3 / 2);
    }
}

void tst_ztroi::detectorThatRuns_data()
{
    QTest::addColumn<QString>("model");    // "real", or a name in the working folder
    QTest::addColumn<QString>("cascades"); // "installed", "none" or "fifo"
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("detector"); // in the JSON; empty: no faces looked for
    QTest::addColumn<QString>("error");    // why, on stderr; %1 is the working folder

    const auto row = [](const char* name, const char* model, const char* cascades,
                         const QStringList& options, const char* detector, const char* error) {
        QTest::newRow(name) << model << cascades << options << detector << error;
    };
    const QStringList faces {"--faces"};
    row("the model: faces by default", "real", "installed", {}, "blazeface", "");
    row("the last of --faces and --no-faces counts", "real", "installed", {"--faces", "--no-faces"},
        "", "");
    row("no model: no faces by default, silently", "model.onnx", "installed", {}, "", "");
    row("no model, --faces: the cascades, and why", "model.onnx", "installed", faces, "cascades",
        "no face detection model at %1/model.onnx");
    row("a picture as the model: the cascades, and why", "wide.png", "installed", faces, "cascades",
        "cannot read the face detection model %1/wide.png");
    row("a folder as the model: no model", ".", "installed", faces, "cascades",
        "no face detection model at %1/.;");
    row("neither model nor cascades: nothing analysed", "model.onnx", "none", faces, "",
        "no face cascades (haarcascade_frontalface_alt2.xml, haarcascade_profileface.xml) in %1;");
    // Regression: a FIFO in the cascades' folder hung --faces for good.
    row("a FIFO as the cascade: says so, does not hang", "model.onnx", "fifo", faces, "",
        "cannot read the face cascades in %1 (not regular files)");
}

// ztroi says why on one line, and where the cascades cannot stand in, analyses nothing; the
// library gives an analysis in-process the same reason.
void tst_ztroi::detectorThatRuns()
{
    QFETCH(QString, model);
    QFETCH(QString, cascades);
    QFETCH(QStringList, options);
    QFETCH(QString, detector);
    QFETCH(QString, error);

    SKIP_WITHOUT_FACES(model == "real");
    QTemporaryDir work;
    const QString path = model == "real" ? faceModel : work.filePath(model);
    if (cascades == "fifo") {
        QVERIFY(::mkfifo(qPrintable(work.filePath("haarcascade_frontalface_alt2.xml")), 0600) == 0);
        writeFile(work.filePath("haarcascade_profileface.xml"), "<opencv_storage/>");
    }
    qputenv(ZTFaceDetector::modelVariable, QFile::encodeName(path));
    qputenv(ZTFaceDetector::cascadeFolderVariable,
        cascades == "installed" ? QByteArray() : QFile::encodeName(work.path()));
    QVERIFY(scene(QSize(600, 200), QPoint(520, 100)).save(work.filePath("wide.png")));
    const Run run
        = ztroi(QStringList {"--json", "--no-map", "--quiet"} + options + QStringList {"wide.png"},
            work.path());
    const QString said = QString::fromUtf8(run.err);
    if (detector == "cascades" && said.contains("no face cascades")) {
        QSKIP("no cascades (opencv-data)");
    }
    const bool analysed = cascades == "installed";
    QCOMPARE(run.exitCode, analysed ? 0 : 1);
    QVERIFY2(error.isEmpty() ? said.isEmpty()
                             : said.startsWith("ztroi: --faces: " + error.arg(work.path()))
                && said.endsWith(analysed ? "; finding faces with the Haar cascades\n" : "\n"),
        qPrintable(said));
    if (!analysed) {
        const ZTPictureReport report = analyzedScene(true, "1:1");
        QVERIFY(!report.ok() && said.contains(report.error));
        QCOMPARE(report.errorKind, ZTError::Kind::Unavailable);
        QCOMPARE(run.out, QByteArray());
    }
    qputenv(ZTFaceDetector::modelVariable, QByteArray());
    qputenv(ZTFaceDetector::cascadeFolderVariable, QByteArray());
    const QJsonObject record = QJsonDocument::fromJson(run.out).object();
    QCOMPARE(record.value("faceDetector").toString(), detector);
    QCOMPARE(record.contains("faces"), !detector.isEmpty());
}

QTEST_GUILESS_MAIN(tst_ztroi)
#include "tst_ztroi.moc"
