// ztroi end to end: the installed program's command line, output files, JSON and exit status.

#include <ZTSalienzClusterer.h>
#include <ZTSalienzMixer.h>

#include <QImageWriter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

namespace {

struct Result
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;

    QList<QJsonObject> jsonLines() const
    {
        QList<QJsonObject> objects;
        for (const QByteArray& line : out.split('\n')) {
            if (line.isEmpty()) {
                continue;
            }
            QJsonParseError error;
            const QJsonDocument document = QJsonDocument::fromJson(line, &error);
            if (error.error != QJsonParseError::NoError || !document.isObject()) {
                qWarning("not a JSON object: %s", line.constData());
                return {};
            }
            objects.append(document.object());
        }
        return objects;
    }
};

Result ztroi(const QStringList& arguments, const QString& workingDirectory,
    const QByteArray& standardInput = QByteArray())
{
    QProcess process;
    process.setWorkingDirectory(workingDirectory);
    process.start(QStringLiteral(ZTROI_EXECUTABLE), arguments);
    if (!process.waitForStarted()) {
        qFatal("cannot start %s", ZTROI_EXECUTABLE);
    }
    process.write(standardInput);
    process.closeWriteChannel();
    process.waitForFinished(120000);
    Result result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// A dark picture with a bright, colourful object off centre: something to find.
QImage scene(const QSize& size, const QPoint& object)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(qRgb(40, 50, 45));
    const int radius = std::max(3, std::min(size.width(), size.height()) / 8);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const int dx = x - object.x();
            const int dy = y - object.y();
            if (dx * dx + dy * dy < radius * radius) {
                image.setPixel(x, y, qRgb(230, 200 - (x * 7 + y * 3) % 60, 40));
            }
        }
    }
    return image;
}

void save(const QImage& image, const QString& path, int quality = -1)
{
    QImageWriter writer(path);
    writer.setQuality(quality);
    if (!writer.write(image)) {
        qFatal("cannot write %s", qPrintable(path));
    }
}

QByteArray fileContents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList filesIn(const QString& path)
{
    return QDir(path).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

QStringList lines(const QByteArray& text)
{
    return QString::fromUtf8(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class tst_ztroi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void jsonShape();
    void salienceMapIsTheMixersAnalysis();
    void noMapStillReportsCrops();
    void gridScoresAreTheClusterersCells_data();
    void gridScoresAreTheClusterersCells();
    void methodSettingsReachTheMixer_data();
    void methodSettingsReachTheMixer();
    void areasAreScaledToTheWorkImage();
    void exitStatus_data();
    void exitStatus();
    void usageErrorWritesNothing();
    void corruptPictureInBatch();
    void parallelJobsGiveTheSameOutput();
    void exifOrientationEndToEnd();
    void bundledPhotographWorksFromAnyFolder();
    void listFromStandardInput();
    void repeatedNamesStayApart();

private:
    QString picture(const QString& name) const { return m_pictures.filePath(name); }

    QTemporaryDir m_pictures;
    QTemporaryDir m_work;
};

void tst_ztroi::initTestCase()
{
    QVERIFY(m_pictures.isValid() && m_work.isValid());
    save(scene(QSize(300, 200), QPoint(230, 90)), picture(QStringLiteral("landscape.png")));
    save(scene(QSize(200, 300), QPoint(60, 220)), picture(QStringLiteral("portrait.jpg")), 92);
    save(scene(QSize(640, 480), QPoint(100, 100)), picture(QStringLiteral("large.bmp")));
    save(scene(QSize(90, 60), QPoint(20, 30)), picture(QStringLiteral("small.png")));
    save(scene(QSize(257, 257), QPoint(128, 200)), picture(QStringLiteral("square.jpg")), 85);
    const QByteArray jpeg = fileContents(picture(QStringLiteral("square.jpg")));
    QFile cut(picture(QStringLiteral("cut.jpg")));
    QVERIFY(cut.open(QIODevice::WriteOnly));
    cut.write(jpeg.left(jpeg.size() * 2 / 3));
}

void tst_ztroi::jsonShape()
{
    const QString out = m_work.filePath(QStringLiteral("shape"));
    const Result result = ztroi({"--json", "--crop", "1:1", "--crop", "1920x1080", "--out", out,
                                    picture(QStringLiteral("landscape.png"))},
        m_work.path());
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.err, QByteArray());
    const QList<QJsonObject> objects = result.jsonLines();
    QCOMPARE(objects.size(), 1);
    const QJsonObject json = objects.first();

    QCOMPARE(json.value("version").toInt(), 1);
    QCOMPARE(json.value("input").toString(), picture(QStringLiteral("landscape.png")));
    QVERIFY(!json.contains("error"));
    QCOMPARE(json.value("size").toObject(), (QJsonObject {{"width", 300}, {"height", 200}}));
    // Scaled up to fit 480x480, keeping the aspect.
    QCOMPARE(
        json.value("analysisSize").toObject(), (QJsonObject {{"width", 480}, {"height", 320}}));

    const QJsonArray methods = json.value("methods").toArray();
    QStringList names;
    for (const QJsonValue& method : methods) {
        names.append(method.toObject().value("name").toString());
        QVERIFY(method.toObject().value("enabled").isBool());
        QVERIFY(method.toObject().value("weight").isDouble());
    }
    QCOMPARE(names, (QStringList {"sobel", "center", "histogram", "areas", "contrast"}));
    QCOMPARE(methods.at(1).toObject().value("weight").toInt(), 2);
    QCOMPARE(methods.at(3).toObject().value("enabled").toBool(), false);

    const QJsonArray crops = json.value("crops").toArray();
    QCOMPARE(crops.size(), 2);
    const QJsonObject square = crops.at(0).toObject();
    QCOMPARE(square.value("request").toString(), QStringLiteral("1:1"));
    QCOMPARE(square.value("aspect").toString(), QStringLiteral("1:1"));
    QVERIFY(!square.contains("outputSize"));
    const QJsonObject rect = square.value("rect").toObject();
    QCOMPARE(rect.value("width").toInt(), 200);
    QCOMPARE(rect.value("height").toInt(), 200);
    QCOMPARE(rect.value("y").toInt(), 0);
    // The bright disc (centre 230, radius 25) pulls the square right, whole inside it.
    QVERIFY(rect.value("x").toInt() >= 55 && rect.value("x").toInt() <= 100);
    QCOMPARE(square.value("centred"), QJsonValue(false));
    const double kept = square.value("salienceKept").toDouble();
    QVERIFY(kept >= 0.0 && kept <= 1.0);
    const QJsonObject sized = crops.at(1).toObject();
    QCOMPARE(sized.value("aspect").toString(), QStringLiteral("16:9"));
    QCOMPARE(
        sized.value("outputSize").toObject(), (QJsonObject {{"width", 1920}, {"height", 1080}}));
    QCOMPARE(sized.value("rect").toObject().value("width").toInt(), 300);
    QCOMPARE(sized.value("rect").toObject().value("height").toInt(), 168);

    const QJsonObject focus = json.value("focus").toObject();
    QVERIFY(qAbs(focus.value("x").toInt() - 230) <= 10);
    QVERIFY(qAbs(focus.value("y").toInt() - 90) <= 10);
    QVERIFY(!json.contains("grid"));

    const QJsonObject files = json.value("files").toObject();
    QCOMPARE(files.keys(), QStringList {"salience"});
    QCOMPARE(files.value("salience").toString(), QDir(out).filePath("landscape.salience.png"));
    QCOMPARE(filesIn(out), QStringList {"landscape.salience.png"});
}

// The map that ztroi writes is the library's own analysis, pixel for pixel, also when --maps
// has it mixed from the gathered method maps.
void tst_ztroi::salienceMapIsTheMixersAnalysis()
{
    const QString out = m_work.filePath(QStringLiteral("mixer"));
    const QString input = picture(QStringLiteral("portrait.jpg"));
    const Result result
        = ztroi({"-q", "--maps", "--out", out, "--size", "200x150", input}, m_work.path());
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out + result.err, QByteArray()); // --quiet: nothing but errors

    ZTSalienzMixer mixer(QSize(200, 150));
    const QImage expected = mixer.analyze(QImage(input).convertToFormat(QImage::Format_ARGB32));
    const QImage written(QDir(out).filePath(QStringLiteral("portrait.salience.png")));
    QCOMPARE(written.size(), QSize(100, 150));
    QCOMPARE(written.convertToFormat(QImage::Format_ARGB32), expected);
}

void tst_ztroi::noMapStillReportsCrops()
{
    const QString out = m_work.filePath(QStringLiteral("nomap"));
    const Result result
        = ztroi({"--json", "--no-map", "--crop", "1:1", "--out", out, picture("landscape.png")},
            m_work.path());
    QCOMPARE(result.exitCode, 0);
    const QJsonObject json = result.jsonLines().value(0);
    QCOMPARE(json.value("crops").toArray().size(), 1);
    QVERIFY(json.value("files").toObject().isEmpty());
    QCOMPARE(filesIn(out), QStringList());
}

void tst_ztroi::gridScoresAreTheClusterersCells_data()
{
    QTest::addColumn<QString>("grid");
    QTest::addColumn<QSize>("expected");

    QTest::newRow("4x3") << "4x3" << QSize(4, 3);
    QTest::newRow("7x5, slivers left over") << "7x5" << QSize(7, 5);
    QTest::newRow("finer than the map") << "100x100" << QSize(48, 32);
}

void tst_ztroi::gridScoresAreTheClusterersCells()
{
    QFETCH(QString, grid);
    QFETCH(QSize, expected);

    const QString out = m_work.filePath(QStringLiteral("grid"));
    const Result result = ztroi(
        {"--json", "--size", "48x48", "--grid", grid, "--out", out, picture("landscape.png")},
        m_work.path());
    QCOMPARE(result.exitCode, 0);
    const QJsonObject json = result.jsonLines().value(0).value("grid").toObject();
    QCOMPARE(json.value("columns").toInt(), expected.width());
    QCOMPARE(json.value("rows").toInt(), expected.height());

    const QImage map(QDir(out).filePath(QStringLiteral("landscape.salience.png")));
    QCOMPARE(map.size(), QSize(48, 32));
    ZTSalienzClusterer clusterer;
    clusterer.setCountCubesV(expected.width());
    clusterer.setCountCubesH(expected.height());
    const QImage cubes = clusterer.cluster(map.convertToFormat(QImage::Format_ARGB32));
    const QJsonArray rows = json.value("scores").toArray();
    QCOMPARE(rows.size(), expected.height());
    for (int row = 0; row < expected.height(); ++row) {
        const QJsonArray scores = rows.at(row).toArray();
        QCOMPARE(scores.size(), expected.width());
        for (int column = 0; column < expected.width(); ++column) {
            const QPoint corner(column * (48 / expected.width()), row * (32 / expected.height()));
            QCOMPARE(scores.at(column).toInt(), qRed(cubes.pixel(corner)));
        }
    }
}

void tst_ztroi::methodSettingsReachTheMixer_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("histogramLevel");

    // A picture of one colour is one segment over the whole block grid: level columns' span
    // times rows' span, minus 1.
    QTest::newRow("default 15x11 blocks") << QStringList() << 14 * 10 - 1;
    QTest::newRow("5x4 blocks") << QStringList {"--hist-blocks", "5x4"} << 4 * 3 - 1;
    QTest::newRow("threshold below every distance") << QStringList {"--hist-threshold", "-1"} << 0;
    QTest::newRow("segments must span the whole grid") << QStringList {"--hist-min", "1"} << 0;
}

void tst_ztroi::methodSettingsReachTheMixer()
{
    QFETCH(QStringList, options);
    QFETCH(int, histogramLevel);

    QImage flat(300, 200, QImage::Format_RGB32);
    flat.fill(qRgb(90, 140, 60));
    save(flat, picture(QStringLiteral("flat.png")));
    const QString out = m_work.filePath(QStringLiteral("settings"));
    const Result result = ztroi(QStringList {"--json", "--maps", "--weight", "sobel=7", "--disable",
                                    "contrast", "--out", out, picture("flat.png")}
            + options,
        m_work.path());
    QCOMPARE(result.exitCode, 0);

    const QImage histogram(QDir(out).filePath(QStringLiteral("flat.histogram.png")));
    QCOMPARE(qRed(histogram.pixel(240, 160)), histogramLevel);
    QVERIFY(!QFileInfo::exists(QDir(out).filePath(QStringLiteral("flat.contrast.png"))));
    const QJsonArray methods = result.jsonLines().value(0).value("methods").toArray();
    QCOMPARE(methods.at(0).toObject(),
        (QJsonObject {{"name", "sobel"}, {"enabled", true}, {"weight", 7}}));
    QCOMPARE(methods.at(2).toObject(),
        (QJsonObject {{"name", "histogram"}, {"enabled", true}, {"weight", 10}}));
    QCOMPARE(methods.at(4).toObject(),
        (QJsonObject {{"name", "contrast"}, {"enabled", false}, {"weight", 10}}));
}

// Areas arrive in picture pixels and reach the mixer on the work image, with its size (the
// library would warn otherwise).
void tst_ztroi::areasAreScaledToTheWorkImage()
{
    const QString out = m_work.filePath(QStringLiteral("areas"));
    const Result result = ztroi({"--json", "--maps", "--area", "100,50,50,25", "--weight",
                                    "areas=30", "--out", out, picture("landscape.png")},
        m_work.path());
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.err, QByteArray());
    const QJsonArray methods = result.jsonLines().value(0).value("methods").toArray();
    QCOMPARE(methods.at(3).toObject(),
        (QJsonObject {{"name", "areas"}, {"enabled", true}, {"weight", 30}}));

    // Scale 1.6: the area is the map rect (160, 80, 80, 40); QPainter's outline reaches one
    // pixel further right and down.
    const QImage areas(QDir(out).filePath(QStringLiteral("landscape.areas.png")));
    QCOMPARE(areas.size(), QSize(480, 320));
    for (const QPoint& inside : {QPoint(160, 80), QPoint(240, 120)}) {
        QCOMPARE(qRed(areas.pixel(inside)), 255);
    }
    for (const QPoint& outside :
        {QPoint(159, 80), QPoint(241, 120), QPoint(200, 79), QPoint(200, 121)}) {
        QVERIFY(qRed(areas.pixel(outside)) < 255);
    }
    QCOMPARE(qRed(areas.pixel(0, 0)), 0);
}

void tst_ztroi::exitStatus_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");

    const QString good = picture(QStringLiteral("small.png"));
    QTest::newRow("picture analysed") << QStringList {"-q", good} << 0;
    QTest::newRow("missing picture") << QStringList {"-q", picture("missing.png")} << 1;
    QTest::newRow("one of two missing") << QStringList {"-q", good, picture("missing.png")} << 1;
    QTest::newRow("truncated JPEG") << QStringList {"-q", picture("cut.jpg")} << 1;
    QTest::newRow("over the pixel limit") << QStringList {"-q", "--max-pixels", "100", good} << 1;
    QTest::newRow("crop 0:9") << QStringList {"--crop", "0:9", good} << 2;
    QTest::newRow("size 10") << QStringList {"--size", "10", good} << 2;
    QTest::newRow("unknown option") << QStringList {"--frobnicate", good} << 2;
    QTest::newRow("unreadable list") << QStringList {"--list", picture("no-list.txt")} << 2;
    QTest::newRow("help") << QStringList {"--help"} << 0;
    QTest::newRow("version") << QStringList {"--version"} << 0;
}

void tst_ztroi::exitStatus()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    const Result result
        = ztroi(QStringList {"--out", m_work.filePath("status")} + arguments, m_work.path());
    QCOMPARE(result.exitCode, status);
    if (status == 1) {
        // One line per failed picture, naming it.
        for (const QString& line : lines(result.err)) {
            QVERIFY2(line.startsWith(QLatin1String("ztroi: ")) && line.contains(QLatin1String(".")),
                qPrintable(line));
        }
        QVERIFY(!result.err.isEmpty());
    }
}

void tst_ztroi::usageErrorWritesNothing()
{
    const QString out = m_work.filePath(QStringLiteral("usage"));
    const Result result
        = ztroi({"--out", out, "--crop", "0:9", picture("small.png")}, m_work.path());
    QCOMPARE(result.exitCode, 2);
    QCOMPARE(result.out, QByteArray());
    const QStringList errors = lines(result.err);
    QCOMPARE(errors.size(), 2);
    QVERIFY(errors.at(0).startsWith(QLatin1String("ztroi: --crop 0:9: ")));
    QCOMPARE(errors.at(1), QStringLiteral("Try 'ztroi --help' for more information."));
    QVERIFY(!QFileInfo::exists(out));

    const Result version = ztroi({"--version"}, m_work.path());
    QVERIFY(version.out.startsWith("ztroi "));
}

void tst_ztroi::corruptPictureInBatch()
{
    const QString out = m_work.filePath(QStringLiteral("batch"));
    const QStringList inputs {picture("landscape.png"), picture("cut.jpg"), picture("small.png")};
    const Result result = ztroi(
        QStringList {"--json", "--maps", "--overlay", "--crop", "1:1", "--out", out} + inputs,
        m_work.path());
    QCOMPARE(result.exitCode, 1);

    const QList<QJsonObject> objects = result.jsonLines();
    QCOMPARE(objects.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(objects.at(i).value("input").toString(), inputs.at(i));
    }
    QVERIFY(!objects.at(0).contains("error"));
    QCOMPARE(objects.at(1).keys(), (QStringList {"error", "input", "version"}));
    QCOMPARE(objects.at(1).value("error").toString(), QStringLiteral("truncated picture data"));
    QVERIFY(!objects.at(2).contains("error"));

    QCOMPARE(
        lines(result.err), QStringList {"ztroi: " + inputs.at(1) + ": truncated picture data"});

    // Both good pictures complete; nothing of the bad one, and no temporary files.
    QStringList expected;
    for (const char* name : {"landscape", "small"}) {
        for (const char* kind : {"center.png", "contrast.png", "histogram.png", "overlay.jpg",
                 "salience.png", "sobel.png"}) {
            expected.append(QStringLiteral("%1.%2").arg(name, kind));
        }
    }
    QStringList written = filesIn(out);
    written.sort();
    expected.sort();
    // Methods that are not on this build write no map; the rest must match exactly.
    for (const QString& name : written) {
        QVERIFY2(expected.contains(name), qPrintable(name));
    }
    for (const char* name : {"landscape.salience.png", "landscape.overlay.jpg",
             "small.salience.png", "small.overlay.jpg", "landscape.center.png"}) {
        QVERIFY2(written.contains(QLatin1String(name)), name);
    }
    for (const QJsonObject& object : {objects.at(0), objects.at(2)}) {
        const QJsonObject files = object.value("files").toObject();
        QVERIFY(QFileInfo::exists(files.value("salience").toString()));
        QVERIFY(QFileInfo::exists(files.value("overlay").toString()));
        QVERIFY(files.value("maps").toObject().contains("center"));
    }
}

void tst_ztroi::parallelJobsGiveTheSameOutput()
{
    const QStringList inputs {picture("landscape.png"), picture("portrait.jpg"),
        picture("large.bmp"), picture("cut.jpg"), picture("small.png"), picture("square.jpg")};
    const QStringList options {
        "--json", "--overlay", "--maps", "--crop", "4:5", "--crop", "3x1", "--out", "out"};

    QByteArray outputs[2];
    QMap<QString, QByteArray> files[2];
    const int jobs[2] = {1, 2};
    for (int run = 0; run < 2; ++run) {
        QTemporaryDir dir;
        const Result result = ztroi(
            options + QStringList {"--jobs", QString::number(jobs[run])} + inputs, dir.path());
        QCOMPARE(result.exitCode, 1);
        outputs[run] = result.out;
        for (const QString& name : filesIn(dir.filePath("out"))) {
            files[run].insert(name, fileContents(dir.filePath("out/" + name)));
        }
    }
    QCOMPARE(outputs[1], outputs[0]);
    QCOMPARE(lines(outputs[0]).size(), inputs.size());
    QCOMPARE(files[1].keys(), files[0].keys());
    for (const QString& name : files[0].keys()) {
        QVERIFY2(files[1].value(name) == files[0].value(name), qPrintable(name));
    }
}

void tst_ztroi::exifOrientationEndToEnd()
{
    // A 40x24 JPEG stored sideways: EXIF orientation 6 turns it to 24x40 for display.
    QByteArray jpeg;
    {
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.write(scene(QSize(40, 24), QPoint(30, 12)));
    }
    const QByteArray exif("\xFF\xE1\x00\x22"
                          "Exif\x00\x00"
                          "MM\x00\x2A\x00\x00\x00\x08"
                          "\x00\x01"
                          "\x01\x12\x00\x03\x00\x00\x00\x01\x00\x06\x00\x00"
                          "\x00\x00\x00\x00",
        36);
    QFile file(picture(QStringLiteral("sideways.jpg")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(jpeg.left(2) + exif + jpeg.mid(2));
    file.close();

    const Result result
        = ztroi({"--json", "--crop", "1:1", "--out", m_work.filePath("exif"), file.fileName()},
            m_work.path());
    QCOMPARE(result.exitCode, 0);
    const QJsonObject json = result.jsonLines().value(0);
    QCOMPARE(json.value("size").toObject(), (QJsonObject {{"width", 24}, {"height", 40}}));
    QCOMPARE(
        json.value("analysisSize").toObject(), (QJsonObject {{"width", 288}, {"height", 480}}));
    const QJsonObject rect
        = json.value("crops").toArray().at(0).toObject().value("rect").toObject();
    QCOMPARE(rect.value("x").toInt(), 0);
    QCOMPARE(rect.value("width").toInt(), 24);
    QCOMPARE(rect.value("height").toInt(), 24);
    QVERIFY(rect.value("y").toInt() >= 0 && rect.value("y").toInt() <= 16);
}

void tst_ztroi::bundledPhotographWorksFromAnyFolder()
{
    QTemporaryDir empty;
    const Result result = ztroi({}, empty.path());
    QCOMPARE(result.exitCode, 0);
    const QString summary = QString::fromUtf8(result.out);
    QVERIFY2(summary.contains(QLatin1String("coffee.jpg (the bundled photograph): 600x400 pixels")),
        qPrintable(summary));
    for (const char* crop : {"crop 1:1", "crop 4:5", "crop 16:9", "focal point"}) {
        QVERIFY2(summary.contains(QLatin1String(crop)), crop);
    }
    QCOMPARE(filesIn(empty.filePath("ztroi-out")),
        (QStringList {"coffee.overlay.jpg", "coffee.salience.png"}));
    const QImage overlay(empty.filePath("ztroi-out/coffee.overlay.jpg"));
    QCOMPARE(overlay.size(), QSize(600, 400));
}

void tst_ztroi::listFromStandardInput()
{
    const QByteArray list
        = picture("small.png").toUtf8() + "\r\n\n" + picture("landscape.png").toUtf8() + "\n";
    const Result result = ztroi({"--json", "--list", "-", "--out", "list"}, m_work.path(), list);
    QCOMPARE(result.exitCode, 0);
    const QList<QJsonObject> objects = result.jsonLines();
    QCOMPARE(objects.size(), 2);
    QCOMPARE(objects.at(0).value("input").toString(), picture("small.png"));
    QCOMPARE(objects.at(1).value("input").toString(), picture("landscape.png"));
}

void tst_ztroi::repeatedNamesStayApart()
{
    QTemporaryDir other;
    QVERIFY(QFile::copy(picture("small.png"), other.filePath("landscape.png")));
    const Result result = ztroi({"-q", "--out", "twins", picture("landscape.png"),
                                    other.filePath("landscape.png"), picture("landscape.png")},
        m_work.path());
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(filesIn(m_work.filePath("twins")),
        (QStringList {
            "landscape-2.salience.png", "landscape-3.salience.png", "landscape.salience.png"}));
    QCOMPARE(QImage(m_work.filePath("twins/landscape-2.salience.png")).size(), QSize(480, 320));
}

QTEST_GUILESS_MAIN(tst_ztroi)
#include "tst_ztroi.moc"
