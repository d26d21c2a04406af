// Faces as very important areas: detections injected through a stand-in finder on synthetic
// pictures, the cap on their number, the same output for any number of jobs; the real detector
// on pictures without faces, and the command line when it cannot detect.

#include "ZTBatchRunner.h"
#include "ZTOptionParser.h"
#include "ZTToolTestSupport.h"
#include "faces/ZTFaceDetector.h"
#include "output/ZTOutputFolder.h"
#include "report/ZTReportFormatter.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <random>
#include <sys/stat.h>

namespace {

ZTToolSettings faceSettings(const QString& crop)
{
    ZTToolSettings settings;
    settings.faces = true;
    settings.writeSalienceMap = false;
    ZTCropRequest request;
    ZTOptionParser::parseCrop(crop, &request);
    settings.crops.append(request);
    return settings;
}

// Whether OpenCV's core library is mapped into this process.
bool openCvLoaded()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libopencv_core");
}

// A finder that reports @p faces on every picture, as a detector would, whatever it shows.
ZTFaceFinder finding(const QList<QRect>& faces)
{
    return [faces](const QImage&) { return faces; };
}

} // namespace

class tst_ZTFaces : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void openCvIsLoadedOnlyForFaces();
    void headsAreKept_data();
    void headsAreKept();
    void manyFacesAreCapped();
    void sameReportsForAnyJobs();
    void noFacesWhereThereAreNone_data();
    void noFacesWhereThereAreNone();
    void commandLineWithoutDetection();
    void cascadesThatAreNotFiles_data();
    void cascadesThatAreNotFiles();

private:
    QString picture(const QString& name) const { return m_pictures.filePath(name); }

    QTemporaryDir m_pictures;
};

void tst_ZTFaces::initTestCase()
{
    // The orange disc is what the salience pulls a crop towards, away from the faces.
    QVERIFY(scene(QSize(600, 200), QPoint(520, 100)).save(picture("wide.png")));
    QVERIFY(scene(QSize(200, 600), QPoint(100, 60)).save(picture("tall.png")));
}

void tst_ZTFaces::headsAreKept_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("crop");
    QTest::addColumn<QRect>("face");
    QTest::addColumn<QRect>("kept"); // what the crop must hold whole

    // A face of 40 x 40 at (40, 60) has the head (30, 40) 60 x 70.
    QTest::newRow("the head, away from the salience")
        << "wide.png"
        << "1:1" << QRect(40, 60, 40, 40) << QRect(30, 40, 60, 70);
    // The 16:9 crop of 200x600 is 200 pixels high; an 80 pixel face has a head of 140.
    QTest::newRow("a head taller than the crop: the face")
        << "tall.png"
        << "16:9" << QRect(60, 400, 80, 80) << QRect(60, 400, 80, 80);
    QTest::newRow("a face partly outside: clipped")
        << "wide.png"
        << "1:1" << QRect(560, -20, 60, 60) << QRect(550, 0, 50, 50);
}

void tst_ZTFaces::headsAreKept()
{
    QFETCH(QString, name);
    QFETCH(QString, crop);
    QFETCH(QRect, face);
    QFETCH(QRect, kept);

    ZTToolSettings settings = faceSettings(crop);
    ZTPictureAnalyzer analyzer(settings, finding({face}));
    const ZTPictureReport report = analyzer.analyze(picture(name)).report;
    QVERIFY2(report.ok(), qPrintable(report.error));
    QCOMPARE(report.faces, QList<QRect> {face.intersected(QRect(QPoint(0, 0), report.inputSize))});
    QCOMPARE(report.facesFound, 1);
    const ZTCrop& planned = report.crops.first();
    QVERIFY2(planned.rect.contains(kept), qPrintable(ZTReportFormatter::toText(report, false)));
    QCOMPARE(planned.areasKept, 1);
    // The heads reach the mixer as very important areas.
    QVERIFY(report.methods.at(SalienzVeryImportantAreas).enabled);
}

// Hundreds of faces: the largest maxFaces count, in an order of their own; faces outside the
// picture are no faces. Reported as such in JSON and text.
void tst_ZTFaces::manyFacesAreCapped()
{
    QList<QRect> faces {QRect(700, 0, 90, 90), QRect(-90, 0, 80, 80)};
    std::mt19937 random(18);
    for (int i = 0; i < 500; ++i) {
        const int side = 5 + int(random() % 30);
        faces.append(QRect(int(random() % 560), int(random() % 160), side, side));
    }
    faces.append(QRect(3, 3, 36, 36));
    ZTToolSettings settings = faceSettings("4:5");
    ZTPictureAnalyzer analyzer(settings, finding(faces));
    const ZTPictureReport report = analyzer.analyze(picture("wide.png")).report;
    QVERIFY2(report.ok(), qPrintable(report.error));
    QCOMPARE(report.facesFound, 501);
    QCOMPARE(report.faces.size(), ZTPictureAnalyzer::maxFaces);
    QCOMPARE(report.faces.first(), QRect(3, 3, 36, 36));
    for (int i = 1; i < report.faces.size(); ++i) {
        QVERIFY(report.faces.at(i).width() <= report.faces.at(i - 1).width());
    }
    const QJsonObject json = ZTReportFormatter::toJson(report);
    QCOMPARE(json["faces"].toArray().size(), ZTPictureAnalyzer::maxFaces);
    QCOMPARE(json["facesFound"].toInt(), 501);
    QVERIFY(json["crops"][0].toObject().contains("areasKept"));
    QVERIFY(ZTReportFormatter::toText(report, false)
                .contains(QStringLiteral("faces        32 (the largest of 501 found)")));
}

// Every worker has its own analyzer; the reports must not depend on how many there are.
void tst_ZTFaces::sameReportsForAnyJobs()
{
    QStringList inputs;
    for (int i = 0; i < 6; ++i) {
        inputs.append(picture(i % 2 ? "wide.png" : "tall.png"));
    }
    inputs.append(picture("missing.png"));
    const ZTFaceFinder finder = [](const QImage& image) {
        return QList<QRect> {QRect(image.width() / 5, image.height() / 3, 30, 30),
            QRect(image.width() - 50, 10, 40, 40)};
    };
    QByteArray output[2];
    for (const int jobs : {1, 3}) {
        QTemporaryDir out;
        ZTToolSettings settings = faceSettings("16:9");
        settings.crops.append(settings.crops.first());
        ZTOptionParser::parseCrop("1:1", &settings.crops.last());
        settings.areas.append(QRect(0, 0, 20, 20));
        settings.jobs = jobs;
        ZTOutputFolder folder;
        QVERIFY(folder.open(out.path(), {}));
        ZTBatchRunner(settings, folder, finder)
            .run(inputs, [&](int, const ZTPictureReport& report) {
                output[jobs > 1] += ZTReportFormatter::toJsonLine(report);
            });
    }
    QCOMPARE(output[1], output[0]);
    QCOMPARE(output[0].count("\"facesFound\":2"), 6);
}

void tst_ZTFaces::noFacesWhereThereAreNone_data()
{
    QTest::addColumn<QImage>("image");

    const auto filled = [](QSize size, QRgb colour) {
        QImage image(size, QImage::Format_RGB32);
        image.fill(colour);
        return image;
    };
    QImage noise(640, 480, QImage::Format_Grayscale8);
    std::mt19937 random(7);
    for (int y = 0; y < noise.height(); ++y) {
        for (int x = 0; x < noise.width(); ++x) {
            noise.scanLine(y)[x] = uchar(random());
        }
    }
    QTest::newRow("null") << QImage();
    QTest::newRow("one pixel") << filled({1, 1}, qRgb(200, 150, 120));
    QTest::newRow("smaller than the cascades' window") << filled({19, 100}, qRgb(9, 9, 9));
    QTest::newRow("a thin strip") << filled({5000, 30}, qRgb(90, 60, 40));
    QTest::newRow("12 megapixels of grey") << filled({4000, 3000}, qRgb(128, 128, 128));
    QTest::newRow("noise") << noise;
    QTest::newRow("a disc") << scene({900, 600}, {450, 300});
    QTest::newRow("the bundled photograph")
        << QImage(QFINDTESTDATA("../samples/coffee.jpg")).convertToFormat(QImage::Format_RGB32);
}

// Loading OpenCV and what it needs takes longer than an analysis: only the first detector's
// load() may do it, never an analysis without --faces. Runs first, before any detector loads.
void tst_ZTFaces::openCvIsLoadedOnlyForFaces()
{
    if (!ZTFaceDetector::isBuiltIn()) {
        QSKIP("this build has no face detection");
    }
    QVERIFY(!openCvLoaded());
    ZTToolSettings settings = faceSettings("1:1");
    settings.faces = false;
    QVERIFY(ZTPictureAnalyzer(settings).analyze(picture("wide.png")).report.ok());
    QVERIFY(!openCvLoaded());

    ZTFaceDetector detector;
    QVERIFY2(detector.load(), qPrintable(detector.errorString()));
    QVERIFY(openCvLoaded());
}

void tst_ZTFaces::noFacesWhereThereAreNone()
{
    QFETCH(QImage, image);

    if (!ZTFaceDetector::isBuiltIn()) {
        QSKIP("this build has no face detection");
    }
    ZTFaceDetector detector;
    QVERIFY2(detector.load(), qPrintable(detector.errorString()));
    QCOMPARE(detector.detect(image), QList<QRect>());
}

// Without its cascades (or without OpenCV) --faces says why in one line and analyses nothing.
void tst_ZTFaces::commandLineWithoutDetection()
{
    QTemporaryDir work;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(ZTFaceDetector::cascadeFolderVariable, work.path());
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(work.path());
    process.start(QStringLiteral(ZTROI_EXECUTABLE), {"--faces", picture("wide.png")});
    QVERIFY(process.waitForFinished(60000));
    const QString error = QString::fromUtf8(process.readAllStandardError());
    const bool builtIn = ZTFaceDetector::isBuiltIn();
    QCOMPARE(process.exitCode(), builtIn ? 1 : 2);
    QVERIFY2(error.startsWith(builtIn ? "ztroi: --faces: no face cascades ("
                                      : "ztroi: --faces: "
                                        "this build"),
        qPrintable(error));
    QVERIFY2(error.contains(builtIn ? "install opencv-data" : "without OpenCV"), qPrintable(error));
    QCOMPARE(process.readAllStandardOutput(), QByteArray());
    QVERIFY(!QFileInfo::exists(work.filePath("ztroi-out")));

    // Analyzing with a detector that cannot load fails every picture, with the same reason.
    ZTToolSettings settings = faceSettings("1:1");
    qputenv(ZTFaceDetector::cascadeFolderVariable, work.path().toLocal8Bit());
    const ZTPictureReport report = ZTPictureAnalyzer(settings).analyze(picture("wide.png")).report;
    qunsetenv(ZTFaceDetector::cascadeFolderVariable);
    QVERIFY(!report.ok() && error.contains(report.error));
    QCOMPARE(report.errorKind, ZTError::Kind::Unavailable);
}

void tst_ZTFaces::cascadesThatAreNotFiles_data()
{
    QTest::addColumn<QString>("notAFile"); // what the frontal cascade is

    QTest::newRow("FIFO without a writer") << "fifo";
    QTest::newRow("link to a device") << "device";
}

// Regression: a FIFO in the cascades' folder hung --faces for good. Cascades are read only from
// regular files; otherwise --faces says why.
void tst_ZTFaces::cascadesThatAreNotFiles()
{
    QFETCH(QString, notAFile);

    if (!ZTFaceDetector::isBuiltIn()) {
        QSKIP("this build has no face detection");
    }
    QTemporaryDir work;
    const QString frontal = work.filePath("haarcascade_frontalface_alt2.xml");
    QVERIFY(notAFile == "fifo" ? ::mkfifo(qPrintable(frontal), 0600) == 0
                               : QFile::link("/dev/zero", frontal));
    writeFile(work.filePath("haarcascade_profileface.xml"), "<opencv_storage/>");
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(ZTFaceDetector::cascadeFolderVariable, work.path());
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(work.path());
    process.start(QStringLiteral(ZTROI_EXECUTABLE), {"--faces", picture("wide.png")});
    const bool finished = process.waitForFinished(20000);
    process.kill();
    QVERIFY(finished);
    QCOMPARE(process.exitCode(), 1);
    QCOMPARE(QString::fromUtf8(process.readAllStandardError()),
        QStringLiteral("ztroi: --faces: cannot read the face cascades in %1 (not regular files)\n")
            .arg(work.path()));
}

QTEST_GUILESS_MAIN(tst_ZTFaces)
#include "tst_ZTFaces.moc"
