// ztroi end to end: the program's command line, output files, JSON and exit status, and broken
// pictures in a batch.

#include "ZTImageTestSupport.h"
#include "ZTPictureFiles.h"

#include <ZTRegionOfInterestVersion.h>
#include <ZTSalienzClusterer.h>
#include <ZTSalienzMixer.h>

#include <QColorSpace>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>

#include <unistd.h>

class tst_ztroi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void jsonShape();
    void writtenMapIsTheLibrarysAnalysis_data();
    void writtenMapIsTheLibrarysAnalysis();
    void cropsOnEdges_data();
    void cropsOnEdges();
    void exitStatusAndFiles_data();
    void exitStatusAndFiles();
    void writtenCrops_data();
    void writtenCrops();
    void brokenFilesAmongGoodOnes();

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
    // Stored 300x200, shown turned a quarter clockwise: 200x300 with the disc at (109, 230).
    QImage stored = scene(QSize(300, 200), QPoint(230, 90));
    writeFile(picture("sideways.jpg"), withOrientation(encoded(stored, "jpeg", 90), 6));
    // The same with a colour profile that crops must keep.
    stored.setColorSpace(QColorSpace::DisplayP3);
    writeFile(picture("profiled.jpg"), withOrientation(encoded(stored, "jpeg", 90), 6));
}

void tst_ztroi::jsonShape()
{
    QTemporaryDir work;
    const QString input = picture("sideways.jpg");
    const Run run = ztroi({"--json", "--no-map", "--crop", "1:1", "--crop", "1920x1080", "--weight",
                              "histogram=7", "--disable", "contrast", input},
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
        R"("files":{},"focus":{"css":"$% $%","x":#,"y":#},"input":"%1",)"
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
}

void tst_ztroi::writtenMapIsTheLibrarysAnalysis_data()
{
    QTest::addColumn<QString>("grid");
    QTest::addColumn<QSize>("cells");
    QTest::addColumn<QString>("histMin");

    QTest::newRow("7x5, slivers at the edges not reported") << "7x5" << QSize(7, 5) << "0.35,0.3";
    // Minima that leave no segment painted: the only setting in which both of them decide.
    QTest::newRow("finer than the 32x48 map: one cell a pixel")
        << "100x100" << QSize(32, 48) << "0.9,0.9";
}

// The map that ztroi writes is the library's analysis with the same settings, pixel for pixel,
// and its grid scores are the clusterer's scores at the cells' top left pixels.
void tst_ztroi::writtenMapIsTheLibrarysAnalysis()
{
    QFETCH(QString, grid);
    QFETCH(QSize, cells);
    QFETCH(QString, histMin);

    QTemporaryDir work;
    const QString input = picture("portrait.jpg");
    const Run run = ztroi({"--json", "--maps", "--size", "48x48", "--weight", "sobel=7", "--weight",
                              "histogram=-10", "--disable", "contrast", "--area", "50,100,100,50",
                              "--hist-bins", "6,3", "--hist-blocks", "9x7", "--hist-threshold",
                              "0.3", "--hist-min", histMin, "--grid", grid, input},
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
    mixer.updateHistogramMinWidth(histMin.section(',', 0, 0).toDouble());
    mixer.updateHistogramMinHeight(histMin.section(',', 1, 1).toDouble());
    // The area in picture pixels, on the 32x48 work image (scale 0.16).
    mixer.injectVeryImportantAreas({QRect(8, 16, 16, 8)}, QSize(32, 48));
    const QImage map = mixer.analyze(QImage(input).convertToFormat(QImage::Format_ARGB32));
    const QImage written(work.filePath(json["files"]["salience"].toString()));
    QVERIFY(ZTImageTest::sameStoredPixels(
        written.convertToFormat(QImage::Format_ARGB32), map, "tst_ztroi-salience"));

    ZTSalienzClusterer clusterer;
    clusterer.setCountCubesV(cells.width());
    clusterer.setCountCubesH(cells.height());
    const QImage cubes = clusterer.cluster(map);
    QJsonArray scores;
    for (int row = 0; row < cells.height(); ++row) {
        QJsonArray line;
        for (int column = 0; column < cells.width(); ++column) {
            line.append(
                qRed(cubes.pixel(column * (32 / cells.width()), row * (48 / cells.height()))));
        }
        scores.append(line);
    }
    QCOMPARE(json["grid"].toObject(),
        (QJsonObject {{"columns", cells.width()}, {"rows", cells.height()}, {"scores", scores}}));
}

void tst_ztroi::cropsOnEdges_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("pixelWeight");
    QTest::addColumn<bool>("onTheLeft");

    QTest::newRow("analysis size, linear") << QSize(480, 60) << "linear" << true;
    QTest::newRow("analysis size, threshold") << QSize(480, 60) << "threshold" << false;
    QTest::newRow("a quarter of the analysis size, linear") << QSize(120, 15) << "linear" << true;
    QTest::newRow("a quarter of the analysis size, threshold")
        << QSize(120, 15) << "threshold" << false;
}

// A grey 480x60 picture with, on the left, stripes of a weak contrast whose edges mix to values
// below 153, and on the right one white and one black bar whose edges mix to values above it:
// the square crop takes the stripes when every pixel counts and the bars with --pixel-weight
// threshold. A picture a quarter as large is analysed enlarged to the same map. Either way the
// salience kept is the share of the written map's columns that the crop covers, rounded (not
// truncated) to four decimals.
void tst_ztroi::cropsOnEdges()
{
    QFETCH(QSize, size);
    QFETCH(QString, pixelWeight);
    QFETCH(bool, onTheLeft);

    QTemporaryDir work;
    const QString input = work.filePath("edges.png");
    const int scale = 480 / size.width();
    QImage picture(size, QImage::Format_RGB32);
    for (int x = 0; x < size.width(); ++x) {
        const int column = x * scale; // on the map
        int level = 128;
        if (column >= 20 && column < 100) {
            level = (column / 4) % 2 ? 168 : 88;
        } else if (column >= 428 && column < 436) {
            level = column < 432 ? 255 : 0;
        }
        for (int y = 0; y < size.height(); ++y) {
            picture.setPixel(x, y, qRgb(level, level, level));
        }
    }
    QVERIFY(picture.save(input));
    QStringList arguments {"--json", "--size", "480x60", "--pixel-weight", pixelWeight, "--disable",
        "histogram", "--disable", "contrast"};
    for (const char* aspect : {"1:1", "3:1", "5:1", "7:1"}) {
        arguments << "--crop" << aspect;
    }
    const Run run = ztroi(arguments << input, work.path());
    QCOMPARE(run.exitCode, 0);
    const QJsonObject json = QJsonDocument::fromJson(run.out).object();
    const QImage map(work.filePath(json["files"]["salience"].toString()));
    QCOMPARE(map.size(), QSize(480, 60));

    std::vector<qint64> columns(480, 0);
    for (int y = 0; y < 60; ++y) {
        for (int x = 0; x < 480; ++x) {
            columns[size_t(x)] += qRed(map.pixel(x, y));
        }
    }
    const double total = double(std::accumulate(columns.begin(), columns.end(), qint64(0)));
    const QJsonArray crops = json["crops"].toArray();
    QCOMPARE(crops.size(), 4);
    QCOMPARE(crops[0]["rect"]["x"].toInt() * scale < 240, onTheLeft);
    bool roundedUp = false;
    for (const QJsonValue crop : crops) {
        const int left = crop["rect"]["x"].toInt() * scale;
        const int right = left + crop["rect"]["width"].toInt() * scale;
        const double share
            = double(std::accumulate(columns.begin() + left, columns.begin() + right, qint64(0)))
            / total;
        QCOMPARE(crop["salienceKept"].toDouble(), std::round(share * 10000.0) / 10000.0);
        roundedUp = roundedUp || std::round(share * 10000.0) > std::floor(share * 10000.0);
    }
    QVERIFY2(roundedUp, "no share whose rounding differs from its truncation");
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
    row("quiet", {"-q", small}, 0, "", {"small.salience.png"});
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
    row("a review page named like a picture", {"--report", small, small}, 2,
        "ztroi: --report " + small + ": the review page's name must end in .html or .htm");
    row("a review page that is an input by another name", {"--report", picture("hard.html"), small},
        2, "ztroi: --report " + picture("hard.html") + ": is also an input of this run");
    row("a review page through a symbolic link", {"--report", picture("link.html"), small}, 2,
        "ztroi: --report " + picture("link.html") + ": not a regular file");
    row("crop 0:9", {"--crop", "0:9", small}, 2, "ztroi: --crop 0:9: expected W:H");
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

void tst_ztroi::writtenCrops_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QString>("files"); // in the crops' order, each with its size

    // profiled.jpg is stored 300x200 and shown 200x300, with an orange disc at (109, 230).
    QTest::newRow("WxH exactly, 1:3, 1000x1, larger than the picture; W:H at its own size")
        << "--crop 90x270 --crop 1000x1 --crop 400x600 --crop 2:3 --crop 2:3"
        << "crop-90x270px.jpg 90x270, crop-1000x1px.jpg 1000x1, crop-400x600px.jpg 400x600, "
           "crop-2x3.jpg 200x300, crop-2x3-2.jpg 200x300";
    QTest::newRow("PNG, W:H no longer than --max-side")
        << "--format png --max-side 100 --crop 16:9 --crop 10x10"
        << "crop-16x9.png 96x54, crop-10x10px.png 10x10";
    QTest::newRow("WebP") << "--format webp --quality 50 --crop 1:1"
                          << "crop-1x1.webp 200x200";
    // Decoded at a quarter of its size, which is all that the crop needs.
    QTest::newRow("from a reduced decode") << "--fast-decode --size 16x16 --crop 50x75"
                                           << "crop-50x75px.jpg 50x75";
}

// Crops written as pictures of exactly the size asked for, upright without an orientation tag
// left, with the picture's colour profile, listed in the JSON in the crops' order.
void tst_ztroi::writtenCrops()
{
    QFETCH(QString, arguments);
    QFETCH(QString, files);

    QTemporaryDir work;
    const Run run = ztroi(QStringList {"--json", "--no-map", "--write-crops"}
            + arguments.split(' ', Qt::SkipEmptyParts) + QStringList {picture("profiled.jpg")},
        work.path());
    QCOMPARE(run.exitCode, 0);
    const QJsonArray listed = QJsonDocument::fromJson(run.out)["files"]["crops"].toArray();
    const QStringList expected = files.split(", ");
    QCOMPARE(listed.size(), expected.size());
    QCOMPARE(filesIn(work.filePath("ztroi-out")).size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        const QString name = expected.at(i).section(' ', 0, 0);
        QCOMPARE(listed.at(i).toString(), "ztroi-out/profiled." + name);
        QImageReader reader(work.filePath(listed.at(i).toString()));
        reader.setAutoTransform(false);
        QCOMPARE(QString(reader.format()), name.section('.', -1).replace("jpg", "jpeg"));
        QCOMPARE(reader.transformation(), QImageIOHandler::TransformationNone);
        const QImage crop = reader.read();
        QCOMPARE(QStringLiteral("%1x%2").arg(crop.width()).arg(crop.height()),
            expected.at(i).section(' ', 1));
        QCOMPARE(crop.colorSpace(), QColorSpace(QColorSpace::DisplayP3));
        if (crop.size() == QSize(200, 300)) {
            const QColor disc = crop.pixelColor(109, 230);
            QVERIFY2(disc.red() > 180 && disc.blue() < 100, qPrintable(disc.name()));
        }
    }
}

// Every file that cannot be analysed is reported with a reason that names what is wrong with it,
// the pictures around it are analysed completely, and nothing of a broken file (not even a
// temporary file) is left in the output folder. Run twice: one job with the paths as arguments,
// three jobs with the paths read from standard input; the output must not depend on the jobs.
void tst_ztroi::brokenFilesAmongGoodOnes()
{
    const QByteArray png = encoded(scene(QSize(160, 120), QPoint(50, 60)), "png");
    const QByteArray jpeg = encoded(scene(QSize(257, 193), QPoint(90, 100)), "jpeg", 85);
    QVERIFY(QDir(m_pictures.path()).mkpath("folder.png"));
    // Each file, with what the reason for refusing it must contain; none for the good ones. A
    // second picture named "first" is written as first-2.
    const QList<QPair<QString, QString>> files {
        {writeFile(picture("first.png"), png), ""},
        {writeFile(picture("folder.png/first.jpg"), jpeg), ""},
        {writeFile(picture("truncated.jpg"), jpeg.left(jpeg.size() * 2 / 3)), "truncated"},
        {writeFile(picture("truncated.png"), png.left(png.size() / 2)), "truncated"},
        {writeFile(picture("huge.png"), ZTPictureFiles::pngClaiming(100000, 100000)),
            "too large (100000x100000"},
        {writeFile(picture("last.jpg"), jpeg), ""},
    };
    QStringList inputs;
    for (const auto& entry : files) {
        inputs.append(entry.first);
    }
    // Paths are absolute: each run writes into "out" in its own working folder.
    QTemporaryDir work[2];
    const QStringList options {"--json", "--quiet", "--maps", "--overlay", "--crop", "16:9"};
    const Run run
        = ztroi(options + QStringList {"--jobs", "1", "--out", "out"} + inputs, work[0].path());
    const Run three = ztroi(options + QStringList {"--jobs", "3", "--out", "out", "--list", "-"},
        work[1].path(), inputs.join("\r\n\n").toUtf8());
    QVERIFY(run.exitCode == 1 && three.exitCode == 1);
    QCOMPARE(three.out, run.out);

    const QList<QByteArray> lines = run.out.split('\n');
    QCOMPARE(lines.size(), inputs.size() + 1); // and nothing after the last line's end
    for (int i = 0; i < inputs.size(); ++i) {
        const QJsonObject report = QJsonDocument::fromJson(lines.at(i)).object();
        QCOMPARE(report["input"].toString(), inputs.at(i));
        const QString reason = report["error"].toObject()["message"].toString();
        if (files.at(i).second.isEmpty()) {
            QVERIFY2(reason.isEmpty(), qPrintable(reason));
            continue;
        }
        QCOMPARE(report.keys(), (QStringList {"error", "input", "version"}));
        QVERIFY2(reason.contains(files.at(i).second), qPrintable(reason));
        // ztroi's own report on standard error names the file and the reason. libpng prints
        // "libpng error: ..." there itself, in two writes from the decoding thread, so ztroi's
        // line may land between them: it is looked for in the text, not as a line.
        // The folder on the command line is told how it would be searched.
        const QByteArray said = ("ztroi: " + inputs.at(i) + ": " + reason).toUtf8();
        QVERIFY2(run.err.contains(said + "\n") || run.err.contains(said + "; add --recursive"),
            run.err.constData());
    }
    QVERIFY(run.err.count("ztroi: ") == 3 && three.err.count("ztroi: ") == 3);

    // Everything of the good pictures, nothing else: no file of a broken one, no temporary file.
    QStringList expected;
    for (const char* name : {"first-2", "first", "last"}) {
        for (const char* kind : {"center.png", "contrast.png", "histogram.png", "overlay.jpg",
                 "salience.png", "sobel.png"}) {
            expected.append(QStringLiteral("%1.%2").arg(name, kind));
        }
    }
    for (const QTemporaryDir& dir : work) {
        QCOMPARE(filesIn(dir.filePath("out")), expected);
    }
}

QTEST_GUILESS_MAIN(tst_ztroi)
#include "tst_ztroi.moc"
