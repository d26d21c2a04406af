// Faces as very important areas: detections injected through a stand-in finder on a synthetic
// picture, and the cap on their number; the network on faces drawn in code, both detectors on
// pictures without faces; and which detector ztroi runs: the network by default where its
// model is installed, none with --no-faces or without the model, the cascades for --faces when
// the network cannot run, with a note that says why, and nothing analysed when they cannot run
// either.

#include "ZTImageTestSupport.h"
#include "ZTOptionParser.h"
#include "ZTToolTestSupport.h"
#include "analysis/ZTPictureAnalyzer.h"
#include "faces/ZTFaceDetector.h"
#include "report/ZTReportFormatter.h"

#include <QPainter>
#include <QScopeGuard>
#include <QtTest>

#include <sys/stat.h>

namespace {

// The face model where scripts/fetch-face-model puts it.
const QString faceModel = QStringLiteral(ZTROI_TEST_FACE_MODEL);

// Skips a test in a build without face detection, or without the model where @p needsModel.
#define SKIP_WITHOUT_FACES(needsModel)                                                             \
    if (!ZTFaceDetector::isBuiltIn() || ((needsModel) && !QFileInfo(faceModel).isFile())) {        \
        QSKIP("no face detection or no model (scripts/fetch-face-model)");                         \
    }

// Names the face model and the cascades' folder (empty: none, or the installed ones) to the
// detectors until the returned guard goes, however the test ends.
auto namingTheModel(const QString& model, const QString& cascadeFolder = QString())
{
    qputenv(ZTFaceDetector::modelVariable, QFile::encodeName(model));
    qputenv(ZTFaceDetector::cascadeFolderVariable, QFile::encodeName(cascadeFolder));
    return qScopeGuard([] {
        qputenv(ZTFaceDetector::modelVariable, QByteArray());
        qputenv(ZTFaceDetector::cascadeFolderVariable, QByteArray());
    });
}

// A dark picture with an orange disc on its right, which pulls a crop there, analysed for the
// one crop @p crop, with or without @p faces; @p finder stands in for the face detector.
ZTPictureReport analyzedScene(bool faces, const QString& crop, const ZTFaceFinder& finder = {})
{
    ZTToolSettings settings;
    settings.faces = faces;
    settings.crops = {cropRequest(crop)};
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

class tst_ZTFaces : public QObject
{
    Q_OBJECT

private slots:
    void openCvIsLoadedOnlyForFaces();
    void facesAreKeptAndCapped();
    void facesFound_data();
    void facesFound();
    void detectorThatRuns_data();
    void detectorThatRuns();
};

// Loading OpenCV and what it needs takes longer than an analysis: only the first detector's
// load() may do it, never an analysis without faces. Runs first, before any detector loads.
void tst_ZTFaces::openCvIsLoadedOnlyForFaces()
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
void tst_ZTFaces::facesAreKeptAndCapped()
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
    QVERIFY(std::is_sorted(report.faces.begin(), report.faces.end(),
        [](const QRect& a, const QRect& b) { return a.width() > b.width(); }));
    QVERIFY(ZTReportFormatter::toText(report, false)
                .contains(QStringLiteral("faces        32 (the largest of 501 found)")));
}

void tst_ZTFaces::facesFound_data()
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
void tst_ZTFaces::facesFound()
{
    QFETCH(QString, detector);
    QFETCH(QImage, image);
    QFETCH(QRect, face);

    SKIP_WITHOUT_FACES(detector == "blazeface");
    const auto unnamed = namingTheModel(detector == "cascades" ? "" : faceModel);
    ZTFaceDetector loaded;
    QVERIFY2(loaded.load(), qPrintable(loaded.errorString()));
    if (loaded.name() != detector) {
        QSKIP(qPrintable(loaded.fallbackNote())); // built without OpenCV's dnn
    }
    const QList<QRect> found = loaded.detect(image);
    QCOMPARE(found.size(), face.isNull() ? 0 : 1);
    if (!face.isNull()) {
        QVERIFY(face.contains(found.first().center()));
        QVERIFY(qAbs(found.first().width() - face.width()) < face.width() / 2);
    }
}

void tst_ZTFaces::detectorThatRuns_data()
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
void tst_ZTFaces::detectorThatRuns()
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
    const auto unnamed = namingTheModel(path, cascades == "installed" ? "" : work.path());
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
    const QJsonObject record = QJsonDocument::fromJson(run.out).object();
    QCOMPARE(record.value("faceDetector").toString(), detector);
    QCOMPARE(record.contains("faces"), !detector.isEmpty());
}

QTEST_GUILESS_MAIN(tst_ZTFaces)
#include "tst_ZTFaces.moc"
