// Which face detector ztroi runs: the network by default where its model is installed, none
// with --no-faces or without the model, and the cascades for --faces when the network cannot
// run, with a note that says why. The JSON names the detector that ran.

#include "ZTToolTestSupport.h"
#include "faces/ZTFaceDetector.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

class tst_ztroiFaceDefaults : public QObject
{
    Q_OBJECT

private slots:
    void detectorThatRuns_data();
    void detectorThatRuns();
};

void tst_ztroiFaceDefaults::detectorThatRuns_data()
{
    QTest::addColumn<bool>("model"); // installed, or a missing file
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("detector"); // in the JSON; empty: no faces looked for
    QTest::addColumn<QString>("note");     // on stderr; empty: nothing there

    const auto row = [](const char* name, bool model, const QStringList& options,
                         const char* detector, const char* note = "") {
        QTest::newRow(name) << model << options << detector << note;
    };
    row("the model: faces by default", true, {}, "blazeface");
    row("the model, --no-faces: none", true, {"--no-faces"}, "");
    row("the last of --faces and --no-faces counts", true, {"--faces", "--no-faces"}, "");
    row("no model: no faces by default, silently", false, {}, "");
    row("no model, --faces: the cascades, and why", false, {"--faces"}, "cascades",
        "ztroi: --faces: no face detection model at");
}

void tst_ztroiFaceDefaults::detectorThatRuns()
{
    QFETCH(bool, model);
    QFETCH(QStringList, options);
    QFETCH(QString, detector);
    QFETCH(QString, note);

    if (!ZTFaceDetector::isBuiltIn()) {
        QSKIP("this build has no face detection");
    }
    const QString realModel = QStringLiteral(ZTROI_TEST_FACE_MODEL);
    if (model && !QFileInfo(realModel).isFile()) {
        QSKIP("no face detection model (scripts/fetch-face-model)");
    }
    QTemporaryDir work;
    QVERIFY(scene(QSize(600, 200), QPoint(520, 100)).save(work.filePath("wide.png")));
    const QString path = model ? realModel : work.filePath("model.onnx");
    qputenv(ZTFaceDetector::modelVariable, QFile::encodeName(path));
    const Run run
        = ztroi(QStringList {"--json", "--no-map", "--quiet"} + options + QStringList {"wide.png"},
            work.path());
    qunsetenv(ZTFaceDetector::modelVariable);
    const QString error = QString::fromUtf8(run.err);
    if (detector == QLatin1String("cascades") && run.exitCode == 1
        && error.contains("no face cascades")) {
        QSKIP("no cascades (opencv-data)");
    }
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(note.isEmpty() ? error.isEmpty()
                            : error.startsWith(note)
                && error.contains(QStringLiteral("; finding faces with the Haar cascades\n")),
        qPrintable(error));
    const QJsonObject record = QJsonDocument::fromJson(run.out).object();
    QCOMPARE(record.value("faceDetector").toString(), detector);
    QCOMPARE(record.contains("faces"), !detector.isEmpty());
}

QTEST_GUILESS_MAIN(tst_ztroiFaceDefaults)
#include "tst_ztroiFaceDefaults.moc"
