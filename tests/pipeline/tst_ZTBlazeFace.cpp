// The neural face detector's arithmetic: the decoding of constructed output tensors (anchors
// included) and the merging of hits on one face, checked against values worked out by hand; the
// head around a face box. Built with the detector of a build without OpenCV, which is checked
// too; the detectors themselves, tst_ZTFaces checks.

#include "faces/ZTBlazeFaceDecoder.h"
#include "faces/ZTFaceDetector.h"

#include <QtTest>

#include <algorithm>
#include <limits>
#include <vector>

namespace {

using Decoder = ZTBlazeFaceDecoder;
using Detections = QList<Decoder::Detection>;

// Decodes output tensors in which every anchor but @p anchor is far below any score.
Detections decodeOne(int anchor, float logit, const QRectF& box)
{
    std::vector<float> scores(Decoder::anchorCount, -50.0F);
    std::vector<float> boxes(Decoder::anchorCount * Decoder::boxValues, 0.0F);
    scores[anchor] = logit;
    const float values[]
        = {float(box.x()), float(box.y()), float(box.width()), float(box.height())};
    std::copy(std::begin(values), std::end(values), boxes.begin() + anchor * Decoder::boxValues);
    return Decoder::decode(scores.data(), boxes.data(), 0.5F);
}

} // namespace

// For QCOMPARE; outside the anonymous namespace, where argument-dependent lookup finds it.
static bool operator==(const Decoder::Detection& a, const Decoder::Detection& b)
{
    return a.box == b.box && a.score == b.score;
}

Q_DECLARE_METATYPE(ZTBlazeFaceDecoder::Detection)

class tst_ZTBlazeFace : public QObject
{
    Q_OBJECT

private slots:
    void decode_data();
    void decode();
    void suppress_data();
    void suppress();
    void headAround();
    void noDetectionWithoutOpenCv();
};

void tst_ZTBlazeFace::decode_data()
{
    QTest::addColumn<int>("anchor");
    QTest::addColumn<float>("logit");
    QTest::addColumn<QRectF>("offsetAndSize");
    QTest::addColumn<Detections>("expected");

    // Anchors sit in the middle of their cells: two a cell of 16 pixels in the first 512, then
    // six a cell of 32. A box's offset is from its anchor's centre to its own.
    const QRectF centred(0, 0, 20, 10);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const auto row = [](const char* name, int anchor, float logit, const QRectF& box,
                         const Detections& expected) {
        QTest::newRow(name) << anchor << logit << box << expected;
    };
    row("first anchor; a huge logit is clipped, not infinite", 0, 1e30F, centred,
        {{QRectF(-2, 3, 20, 10), 1.0F}});
    row("next fine cell, offset; logit 0 is the least score", 2, 0.0F, QRectF(3, -2, 20, 10),
        {{QRectF(17, 1, 20, 10), 0.5F}});
    row("second cell of the coarse grid", 518, 0.0F, QRectF(0, 0, 64, 64),
        {{QRectF(16, -16, 64, 64), 0.5F}});
    row("a logit that is no number is no face", 0, nan, centred, {});
    row("a box without width is dropped", 0, 5.0F, QRectF(0, 0, 0, 10), {});
    row("an infinite box is dropped", 0, 5.0F,
        QRectF(std::numeric_limits<float>::infinity(), 0, 10, 10), {});
}

void tst_ZTBlazeFace::decode()
{
    QFETCH(int, anchor);
    QFETCH(float, logit);
    QFETCH(QRectF, offsetAndSize);
    QFETCH(Detections, expected);

    QCOMPARE(decodeOne(anchor, logit, offsetAndSize), expected);
}

void tst_ZTBlazeFace::suppress_data()
{
    QTest::addColumn<Detections>("detections");
    QTest::addColumn<Detections>("expected");

    const QRectF a(0, 0, 10, 10);
    // Overlap 8 x 10 / (200 - 80) = 2/3: one face, the mean weighted 3 : 1.
    QTest::newRow("two hits on one face become their weighted mean") << Detections {
        {QRectF(2, 0, 10, 10), 0.25F}, {a, 0.75F}} << Detections {{QRectF(0.5, 0, 10, 10), 0.75F}};
    QTest::newRow("faces apart stay apart, best first") << Detections {{a, 0.7F},
        {QRectF(50, 0, 10, 10), 0.9F}} << Detections {{QRectF(50, 0, 10, 10), 0.9F}, {a, 0.7F}};
    // Overlap 5 x 10 / (200 - 50) = 1/3, above 0.3: merged. 3 x 1 / (13 - 3) is exactly 0.3,
    // which is not above it.
    QTest::newRow("a third overlapping is the same face") << Detections {
        {a, 1.0F}, {QRectF(5, 0, 10, 10), 1.0F}} << Detections {{QRectF(2.5, 0, 10, 10), 1.0F}};
    const QRectF thin(0, 0, 6.5, 1);
    QTest::newRow("overlapping by just the threshold is another face")
        << Detections {{thin, 1.0F}, {QRectF(3.5, 0, 6.5, 1), 0.5F}}
        << Detections {{thin, 1.0F}, {QRectF(3.5, 0, 6.5, 1), 0.5F}};
    QTest::newRow("scores of nothing keep the best box")
        << Detections {{a, 0.0F}, {QRectF(1, 0, 10, 10), 0.0F}} << Detections {{a, 0.0F}};
}

void tst_ZTBlazeFace::suppress()
{
    QFETCH(Detections, detections);
    QFETCH(Detections, expected);

    QCOMPARE(Decoder::suppress(detections, 0.3), expected);
}

// The head around a face box, by the detector's margins; shares are truncated.
void tst_ZTBlazeFace::headAround()
{
    // The cascades' boxes: half the height above, a quarter below and on each side.
    QCOMPARE(
        ZTFaceDetector::headAround(QRect(100, 100, 40, 40), "cascades"), QRect(90, 80, 60, 70));
    // The network's: more hair above, little chin below; 10.5, 29.4 and 2.1 pixels.
    QCOMPARE(
        ZTFaceDetector::headAround(QRect(100, 100, 42, 42), "blazeface"), QRect(90, 71, 62, 73));
}

// A build without OpenCV, as this one is: the detector never loads, says why, and finds nothing.
void tst_ZTBlazeFace::noDetectionWithoutOpenCv()
{
    QVERIFY(!ZTFaceDetector::isBuiltIn());
    ZTFaceDetector detector;
    QVERIFY(!detector.load());
    QVERIFY(detector.errorString().contains("no face detection"));
    QImage picture(64, 64, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QCOMPARE(detector.detect(picture), QList<QRect>());
}

QTEST_GUILESS_MAIN(tst_ZTBlazeFace)
#include "tst_ZTBlazeFace.moc"
