// ztroi end to end: the command line, output files, JSON and exit status, and the kind of each
// failure in the JSON record. Its option parser is tst_ZTOptionParser's, its faces tst_ZTFaces'.

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

class tst_ztroi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void jsonShape();
    void writtenMapIsTheLibrarysAnalysis();
    void exitStatusAndFiles_data();
    void exitStatusAndFiles();
    void errorKindInTheRecord_data();
    void errorKindInTheRecord();

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

QTEST_GUILESS_MAIN(tst_ztroi)
#include "tst_ztroi.moc"
