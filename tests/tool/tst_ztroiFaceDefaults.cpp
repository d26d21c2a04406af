// Which face detector ztroi runs: the network by default where its model is installed, none
// with --no-faces or without the model, and the cascades for --faces when the network cannot
// run, with a note that says why. The JSON names the detector that ran.

#include "ZTToolTestSupport.h"
#include "faces/ZTFaceDetector.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
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
    QTest::addColumn<QString>("model"); // "real", "missing" or "text"
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("detector"); // in the JSON; empty: no faces looked for
    QTest::addColumn<QString>("note");     // on stderr; empty: nothing there

    QTest::newRow("the model: faces by default") << "real" << QStringList() << "blazeface"
                                                 << "";
    QTest::newRow("the model, --no-faces: none") << "real" << QStringList {"--no-faces"} << ""
                                                 << "";
    QTest::newRow("the model, --faces: the network")
        << "real" << QStringList {"--faces"} << "blazeface"
        << "";
    QTest::newRow("the last of --faces and --no-faces counts")
        << "real" << QStringList {"--faces", "--no-faces"} << ""
        << "";
    QTest::newRow("no model: no faces by default, silently") << "missing" << QStringList() << ""
                                                             << "";
    QTest::newRow("no model, --faces: the cascades, and why")
        << "missing" << QStringList {"--faces"} << "cascades"
        << "ztroi: --faces: no face detection model at";
    QTest::newRow("no network in the file, --faces: the cascades, and why")
        << "text" << QStringList {"--faces"} << "cascades"
        << "ztroi: --faces: cannot read the face detection model";
}

void tst_ztroiFaceDefaults::detectorThatRuns()
{
    QFETCH(QString, model);
    QFETCH(QStringList, options);
    QFETCH(QString, detector);
    QFETCH(QString, note);

    if (!ZTFaceDetector::isBuiltIn()) {
        QSKIP("this build has no face detection");
    }
    const QString realModel = QStringLiteral(ZTROI_TEST_FACE_MODEL);
    if (model == QLatin1String("real") && !QFileInfo(realModel).isFile()) {
        QSKIP("no face detection model (scripts/fetch-face-model)");
    }
    QTemporaryDir work;
    QVERIFY(scene(QSize(600, 200), QPoint(520, 100)).save(work.filePath("wide.png")));
    QString path = work.filePath("model.onnx");
    if (model == QLatin1String("real")) {
        path = realModel;
    } else if (model == QLatin1String("text")) {
        writeFile(path, "not a network\n");
    }
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(ZTFaceDetector::modelVariable, path);
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(work.path());
    process.start(QStringLiteral(ZTROI_EXECUTABLE),
        QStringList {"--json", "--no-map", "--quiet"} + options + QStringList {"wide.png"});
    QVERIFY(process.waitForFinished(60000));
    const QString error = QString::fromUtf8(process.readAllStandardError());
    if (detector == QLatin1String("cascades") && process.exitCode() == 1
        && error.contains("no face cascades")) {
        QSKIP("no cascades (opencv-data)");
    }
    QCOMPARE(process.exitCode(), 0);
    QVERIFY2(note.isEmpty() ? error.isEmpty()
                            : error.startsWith(note)
                && error.contains(QStringLiteral("; finding faces with the Haar cascades\n")),
        qPrintable(error));
    const QJsonObject record = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    QCOMPARE(record.value("faceDetector").toString(), detector);
    QCOMPARE(record.contains("faces"), !detector.isEmpty());
}

QTEST_GUILESS_MAIN(tst_ztroiFaceDefaults)
#include "tst_ztroiFaceDefaults.moc"
