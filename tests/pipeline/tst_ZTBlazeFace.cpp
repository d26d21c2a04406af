// The neural face detector: its anchors, the decoding of constructed output tensors and the
// merging of hits on one face, checked against values worked out by hand; the head around its
// boxes; the choice between it and the cascades when its model is missing or is no network;
// and, where the model is installed, a face drawn in code.

#include "faces/ZTBlazeFaceDecoder.h"
#include "faces/ZTFaceDetector.h"

#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>
#include <vector>

namespace {

using Decoder = ZTBlazeFaceDecoder;
using Detections = QList<Decoder::Detection>;

// Output tensors with every anchor far below any score, and one anchor set.
struct Tensors
{
    std::vector<float> scores = std::vector<float>(Decoder::anchorCount, -50.0F);
    std::vector<float> boxes = std::vector<float>(Decoder::anchorCount * Decoder::boxValues, 0.0F);

    void set(int anchor, float logit, const QRectF& offsetAndSize)
    {
        scores[anchor] = logit;
        float* const box = boxes.data() + anchor * Decoder::boxValues;
        box[0] = float(offsetAndSize.x());
        box[1] = float(offsetAndSize.y());
        box[2] = float(offsetAndSize.width());
        box[3] = float(offsetAndSize.height());
    }
};

QString modelFile()
{
    return QStringLiteral(ZTROI_TEST_FACE_MODEL);
}

// A face as a child draws it, large enough and shaded enough for the network: skin, hair,
// brows, eyes with pupils, a nose and a mouth, on a grey wall.
QImage drawnFace(const QSize& size, const QRect& face)
{
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(QColor(150, 160, 170));
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const auto at = [&face](double x, double y, double w, double h) {
        return QRectF(face.x() + x * face.width(), face.y() + y * face.height(), w * face.width(),
            h * face.height());
    };
    painter.setBrush(QColor(60, 40, 25));
    painter.drawEllipse(at(-0.08, -0.25, 1.16, 0.9));
    painter.setBrush(QColor(225, 180, 150));
    painter.drawEllipse(at(0, 0, 1, 1.2));
    painter.setBrush(QColor(70, 45, 30));
    painter.drawRect(at(0.2, 0.33, 0.2, 0.04));
    painter.drawRect(at(0.6, 0.33, 0.2, 0.04));
    painter.setBrush(Qt::white);
    painter.drawEllipse(at(0.2, 0.4, 0.2, 0.1));
    painter.drawEllipse(at(0.6, 0.4, 0.2, 0.1));
    painter.setBrush(QColor(40, 30, 20));
    painter.drawEllipse(at(0.26, 0.41, 0.08, 0.08));
    painter.drawEllipse(at(0.66, 0.41, 0.08, 0.08));
    painter.setBrush(QColor(200, 150, 120));
    painter.drawEllipse(at(0.44, 0.5, 0.12, 0.22));
    painter.setBrush(QColor(170, 70, 70));
    painter.drawEllipse(at(0.32, 0.82, 0.36, 0.1));
    return picture;
}

void compareDetections(const Detections& found, const Detections& expected)
{
    QCOMPARE(found.size(), expected.size());
    for (int i = 0; i < found.size(); ++i) {
        QCOMPARE(found.at(i).box, expected.at(i).box);
        QCOMPARE(found.at(i).score, expected.at(i).score);
    }
}

} // namespace

Q_DECLARE_METATYPE(ZTBlazeFaceDecoder::Detection)

class tst_ZTBlazeFace : public QObject
{
    Q_OBJECT

private slots:
    void anchorCentres_data();
    void anchorCentres();
    void decode_data();
    void decode();
    void suppress_data();
    void suppress();
    void headAround_data();
    void headAround();
    void detectorChoice_data();
    void detectorChoice();
    void drawnFaceIsFound_data();
    void drawnFaceIsFound();
};

void tst_ZTBlazeFace::anchorCentres_data()
{
    QTest::addColumn<int>("anchor");
    QTest::addColumn<QPointF>("centre");

    QTest::newRow("first of the fine grid") << 0 << QPointF(8, 8);
    QTest::newRow("next cell to the right") << 2 << QPointF(24, 8);
    QTest::newRow("last of the fine grid") << 511 << QPointF(248, 248);
    QTest::newRow("first of the coarse grid") << 512 << QPointF(16, 16);
    QTest::newRow("sixth in its cell") << 517 << QPointF(16, 16);
    QTest::newRow("next coarse cell") << 518 << QPointF(48, 16);
    QTest::newRow("last anchor") << 895 << QPointF(240, 240);
}

void tst_ZTBlazeFace::anchorCentres()
{
    QFETCH(int, anchor);
    QFETCH(QPointF, centre);

    const QVector<QPointF> centres = Decoder::anchorCentres();
    QCOMPARE(centres.size(), Decoder::anchorCount);
    QCOMPARE(centres.at(anchor), centre);
}

void tst_ZTBlazeFace::decode_data()
{
    QTest::addColumn<int>("anchor");
    QTest::addColumn<float>("logit");
    QTest::addColumn<QRectF>("offsetAndSize");
    QTest::addColumn<float>("minScore");
    QTest::addColumn<Detections>("expected");

    const QRectF centred(0, 0, 20, 10);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float infinity = std::numeric_limits<float>::infinity();
    QTest::newRow("logit 0 is probability one half")
        << 2 << 0.0F << centred << 0.5F << Detections {{QRectF(14, 3, 20, 10), 0.5F}};
    QTest::newRow("a score below the least is dropped")
        << 2 << -0.1F << centred << 0.5F << Detections {};
    QTest::newRow("the offset moves the box from its anchor")
        << 2 << 0.0F << QRectF(3, -2, 20, 10) << 0.5F << Detections {{QRectF(17, 1, 20, 10), 0.5F}};
    QTest::newRow("an anchor of the coarse grid") << 518 << 0.0F << QRectF(0, 0, 64, 64) << 0.5F
                                                  << Detections {{QRectF(16, -16, 64, 64), 0.5F}};
    QTest::newRow("a huge logit is clipped, not infinite")
        << 0 << 1e30F << centred << 0.5F << Detections {{QRectF(-2, 3, 20, 10), 1.0F}};
    QTest::newRow("a logit that is no number is no face")
        << 0 << nan << centred << 0.0F << Detections {};
    QTest::newRow("a box without width is dropped")
        << 0 << 5.0F << QRectF(0, 0, 0, 10) << 0.5F << Detections {};
    QTest::newRow("a box of negative height is dropped")
        << 0 << 5.0F << QRectF(0, 0, 10, -4) << 0.5F << Detections {};
    QTest::newRow("an infinite box is dropped")
        << 0 << 5.0F << QRectF(infinity, 0, 10, 10) << 0.5F << Detections {};
    QTest::newRow("a box that is no number is dropped")
        << 0 << 5.0F << QRectF(0, 0, nan, 10) << 0.5F << Detections {};
}

void tst_ZTBlazeFace::decode()
{
    QFETCH(int, anchor);
    QFETCH(float, logit);
    QFETCH(QRectF, offsetAndSize);
    QFETCH(float, minScore);
    QFETCH(Detections, expected);

    Tensors tensors;
    tensors.set(anchor, logit, offsetAndSize);
    compareDetections(
        Decoder::decode(tensors.scores.data(), tensors.boxes.data(), minScore), expected);
}

void tst_ZTBlazeFace::suppress_data()
{
    QTest::addColumn<Detections>("detections");
    QTest::addColumn<Detections>("expected");

    const QRectF a(0, 0, 10, 10);
    QTest::newRow("nothing") << Detections {} << Detections {};
    // Overlap 8 x 10 / (200 - 80) = 2/3: one face, the mean weighted 3 : 1.
    QTest::newRow("two hits on one face become their weighted mean") << Detections {
        {QRectF(2, 0, 10, 10), 0.25F}, {a, 0.75F}} << Detections {{QRectF(0.5, 0, 10, 10), 0.75F}};
    QTest::newRow("faces apart stay apart, best first") << Detections {{a, 0.7F},
        {QRectF(50, 0, 10, 10), 0.9F}} << Detections {{QRectF(50, 0, 10, 10), 0.9F}, {a, 0.7F}};
    // Overlap 5 x 10 / (200 - 50) = 1/3, above 0.3: merged; 4 x 10 / 160 = 1/4: not.
    QTest::newRow("a third overlapping is the same face") << Detections {
        {a, 1.0F}, {QRectF(5, 0, 10, 10), 1.0F}} << Detections {{QRectF(2.5, 0, 10, 10), 1.0F}};
    QTest::newRow("a quarter overlapping is another face") << Detections {{a, 1.0F},
        {QRectF(6, 0, 10, 10), 0.5F}} << Detections {{a, 1.0F}, {QRectF(6, 0, 10, 10), 0.5F}};
    QTest::newRow("scores of nothing keep the best box")
        << Detections {{a, 0.0F}, {QRectF(1, 0, 10, 10), 0.0F}} << Detections {{a, 0.0F}};
}

void tst_ZTBlazeFace::suppress()
{
    QFETCH(Detections, detections);
    QFETCH(Detections, expected);

    compareDetections(Decoder::suppress(detections, 0.3), expected);
}

void tst_ZTBlazeFace::headAround_data()
{
    QTest::addColumn<QString>("detector");
    QTest::addColumn<QRect>("face");
    QTest::addColumn<QRect>("head");

    QTest::newRow("cascades: half above, a quarter below")
        << "cascades" << QRect(100, 100, 40, 40) << QRect(90, 80, 60, 70);
    QTest::newRow("network: more hair above, little chin below")
        << "blazeface" << QRect(100, 100, 40, 40) << QRect(90, 72, 60, 70);
    QTest::newRow("network: shares are truncated")
        << "blazeface" << QRect(0, 0, 7, 7) << QRect(-1, -4, 9, 11);
}

void tst_ZTBlazeFace::headAround()
{
    QFETCH(QString, detector);
    QFETCH(QRect, face);
    QFETCH(QRect, head);

    QCOMPARE(ZTFaceDetector::headAround(face, detector), head);
}

void tst_ZTBlazeFace::detectorChoice_data()
{
    QTest::addColumn<QString>("model"); // "real", "missing", "text", "folder" or "unset"
    QTest::addColumn<bool>("cascadesMayStandIn");
    QTest::addColumn<QString>("name");   // of the detector loaded, empty for none
    QTest::addColumn<QString>("reason"); // part of the error or of the fallback note

    const auto row
        = [](const char* name, const char* model, bool cascades, const char* loaded,
              const char* reason) { QTest::newRow(name) << model << cascades << loaded << reason; };
    const char* missing = "no face detection model at";
    row("the model: the network", "real", false, "blazeface", "");
    row("the model, cascades allowed: still the network", "real", true, "blazeface", "");
    row("no model: none by default", "missing", false, "", missing);
    row("no model, cascades allowed: the cascades", "missing", true, "cascades", missing);
    row("an empty name: no model", "unset", false, "", "is empty");
    row("a text file: no network", "text", true, "cascades",
        "cannot read the face detection model");
    row("a folder: no model", "folder", false, "", missing);
}

// The network where its model reads as one; otherwise the cascades where they may stand in,
// and a note that says why; otherwise none.
void tst_ZTBlazeFace::detectorChoice()
{
    QFETCH(QString, model);
    QFETCH(bool, cascadesMayStandIn);
    QFETCH(QString, name);
    QFETCH(QString, reason);

    if (!ZTFaceDetector::isBuiltIn()) {
        QSKIP("this build has no face detection");
    }
    if (name == QLatin1String("blazeface") && !QFileInfo(modelFile()).isFile()) {
        QSKIP("no face detection model (scripts/fetch-face-model)");
    }
    QTemporaryDir work;
    QString path = work.filePath(QStringLiteral("model.onnx"));
    if (model == QLatin1String("real")) {
        path = modelFile();
    } else if (model == QLatin1String("text")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not a network\n") > 0);
    } else if (model == QLatin1String("folder")) {
        path = work.path();
    } else if (model == QLatin1String("unset")) {
        path.clear();
    }
    qputenv(ZTFaceDetector::modelVariable, QFile::encodeName(path));
    ZTFaceDetector detector;
    const bool loaded
        = detector.load(cascadesMayStandIn ? ZTFaceDetector::Choice::BlazeFaceOrCascades
                                           : ZTFaceDetector::Choice::BlazeFaceOnly);
    qputenv(ZTFaceDetector::modelVariable, QByteArray());
    if (name == QLatin1String("cascades") && !loaded) {
        QSKIP(qPrintable(detector.errorString())); // no opencv-data
    }
    QCOMPARE(loaded, !name.isEmpty());
    QCOMPARE(detector.name(), name);
    const QString said = loaded ? detector.fallbackNote() : detector.errorString();
    QVERIFY2(reason.isEmpty() ? said.isEmpty() : said.contains(reason), qPrintable(said));
}

void tst_ZTBlazeFace::drawnFaceIsFound_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRect>("face");
    QTest::addColumn<QImage::Format>("format");

    QTest::newRow("portrait, face in the middle")
        << QSize(300, 400) << QRect(100, 120, 100, 110) << QImage::Format_RGB32;
    QTest::newRow("landscape, face on the right")
        << QSize(640, 360) << QRect(440, 100, 90, 100) << QImage::Format_RGB32;
    // Too small for the whole picture's pass; found in a square of the long picture, which is
    // read in place, whatever the size of its pixels.
    QTest::newRow("panorama, small face at the left end")
        << QSize(1600, 400) << QRect(60, 150, 64, 72) << QImage::Format_RGB32;
    QTest::newRow("panorama, small face at the right end, 3 bytes a pixel")
        << QSize(1600, 400) << QRect(1450, 150, 64, 72) << QImage::Format_RGB888;
    QTest::newRow("tall panorama, small face at the bottom, 8 bytes a pixel")
        << QSize(400, 1600) << QRect(150, 1450, 64, 72) << QImage::Format_RGBA64;
}

// A face is found where it is, once, its box about the drawn face's size.
void tst_ZTBlazeFace::drawnFaceIsFound()
{
    QFETCH(QSize, size);
    QFETCH(QRect, face);
    QFETCH(QImage::Format, format);

    if (!ZTFaceDetector::isBuiltIn() || !QFileInfo(modelFile()).isFile()) {
        QSKIP("no face detection or no model (scripts/fetch-face-model)");
    }
    qputenv(ZTFaceDetector::modelVariable, QFile::encodeName(modelFile()));
    ZTFaceDetector detector;
    const bool loaded = detector.load(ZTFaceDetector::Choice::BlazeFaceOnly);
    qputenv(ZTFaceDetector::modelVariable, QByteArray());
    if (!loaded) {
        QSKIP(qPrintable(detector.errorString())); // built without OpenCV's dnn
    }
    const QImage picture = drawnFace(size, face).convertToFormat(format);
    const QList<QRect> found = detector.detect(picture);
    QCOMPARE(found.size(), 1);
    const QRect box = found.first();
    QVERIFY(face.contains(box.center()));
    QVERIFY(box.width() > face.width() / 2 && box.width() < face.width() * 3 / 2);
    // No face on the wall alone.
    QImage wall(size, QImage::Format_RGB32);
    wall.fill(QColor(150, 160, 170));
    QCOMPARE(detector.detect(wall), QList<QRect>());
}

QTEST_GUILESS_MAIN(tst_ZTBlazeFace)
#include "tst_ZTBlazeFace.moc"
