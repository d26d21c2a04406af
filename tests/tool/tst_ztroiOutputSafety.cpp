// ztroi end to end where it writes: what it reports and says when a name is taken, a crop is too
// large for its format, no output folder can be made, standard output fails or a signal stops it.
// Which names may be replaced, and rollback, are tst_ZTOutputTransaction's.

#include "ZTToolTestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <csignal>
#include <unistd.h>

class tst_ztroiOutputSafety : public QObject
{
    Q_OBJECT

private slots:
    void runs_data();
    void runs();
    void signalStopsTheBatch();
};

void tst_ztroiOutputSafety::runs_data()
{
    QTest::addColumn<QStringList>("before");    // files made first: "name" a photo, "name=text"
    QTest::addColumn<QString>("shell");         // run after it; "pipe": a pipe that nobody reads
    QTest::addColumn<QStringList>("arguments"); // after --json
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");       // a piece of standard output
    QTest::addColumn<QString>("err");       // all of standard error
    QTest::addColumn<QStringList>("after"); // the files in the folder and in ztroi-out afterwards

    const auto row = [](const char* name, const QStringList& before, const char* shell,
                         const QStringList& arguments, int exitCode, const char* out,
                         const char* err, const QStringList& after) {
        QTest::newRow(name) << before << shell << arguments << exitCode << out << err << after;
    };
    const QStringList photo {"photo.png"};
    // A user's file under an output name stays (tst_ZTOutputTransaction checks its bytes), and both
    // the record and standard error say so.
    row("a user's crop stays", {"photo.png", "ztroi-out/photo.crop-1x1.jpg=mine"}, "",
        {"--write-crops", "--crop", "1:1", "--format", "jpg", "--no-map", "photo.png"}, 0,
        R"("renamed":[{"path":"ztroi-out/photo-2.crop-1x1.jpg","reason":"not written by )"
        R"(ztroi","wanted":"ztroi-out/photo.crop-1x1.jpg"}])",
        "ztroi: photo.png: ztroi-out/photo.crop-1x1.jpg stays (not written by ztroi); wrote "
        "ztroi-out/photo-2.crop-1x1.jpg\n",
        {"photo.png", "ztroi-out/photo-2.crop-1x1.jpg", "ztroi-out/photo.crop-1x1.jpg"});
    // A crop larger than its format holds fails with that limit, not the encoder's "Unknown
    // error", before it is made.
    const auto crop = [](const char* size, const char* format) {
        return QStringList {
            "--no-map", "--write-crops", "--crop", size, "--format", format, "photo.png"};
    };
    row("JPEG at its limit", photo, "", crop("65500x1", "jpg"), 0, "", "",
        {"photo.png", "ztroi-out/photo.crop-65500x1px.jpg"});
    row("JPEG over its limit", photo, "", crop("65501x1", "jpg"), 1, R"("kind":"too-large")",
        "ztroi: photo.png: the crop 65501x1 is 65501x1 pixels, too large: JPEG holds at most 65500 "
        "pixels on a side\n",
        photo);
    // The output folder is made only when files go into it (here it cannot be: root ignores
    // permissions, so a file stands in the way).
    const QStringList blocked {"file=a file", "photo.png"};
    row("--maps needs the output folder", blocked, "",
        {"--out", "file/out", "--no-map", "--maps", "photo.png"}, 1, "",
        "ztroi: file/out: cannot create the output folder (not a directory)\n",
        {"file", "photo.png"});
    // Reports that cannot be written are said once and end the run with status 1.
    const QStringList three {
        "--quiet", "--no-map", "--jobs", "1", "photo.png", "photo.png", "photo.png"};
    row("standard output on a full disk", photo, "exec >/dev/full;", three, 1, "",
        "ztroi: cannot write to standard output (no space left on device)\n", photo);
    row("a reader that went away", photo, "pipe", three, 1, "",
        "ztroi: cannot write to standard output (broken pipe)\n", photo);
}

void tst_ztroiOutputSafety::runs()
{
    QFETCH(QStringList, before);
    QFETCH(QString, shell);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(QStringList, after);

    QTemporaryDir work;
    const QByteArray photo = encoded(scene(QSize(120, 90), QPoint(40, 50)), "png");
    for (const QString& file : before) {
        QVERIFY(QDir(work.path()).mkpath(QFileInfo(file).path()));
        writeFile(work.filePath(file.section('=', 0, 0)),
            file.contains('=') ? file.section('=', 1).toUtf8() : photo);
    }
    int pipeEnds[2] = {-1, -1};
    if (shell == "pipe") {
        // Its reading end is closed before ztroi starts: every write breaks the pipe.
        QCOMPARE(::pipe(pipeEnds), 0);
        ::close(pipeEnds[0]);
        shell = QStringLiteral("exec >&%1;").arg(pipeEnds[1]);
    }
    const Run run = ztroi(QStringList {"--json"} + arguments, work.path(), {}, shell);
    ::close(pipeEnds[1]);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.out.contains(out.toUtf8()), run.out.constData());
    QCOMPARE(QString::fromUtf8(run.err), err);
    QStringList files = filesIn(work.path());
    for (const QString& name : filesIn(work.filePath("ztroi-out"))) {
        files.append("ztroi-out/" + name);
    }
    QCOMPARE(files, after);
}

// A signal stops the batch: the pictures in progress are finished and reported, and every file
// on disk belongs to a reported picture; no temporary file is left. The review page says that the
// run was stopped, and how far it got.
void tst_ztroiOutputSafety::signalStopsTheBatch()
{
    QTemporaryDir work;
    const QByteArray jpeg = encoded(scene(QSize(300, 200), QPoint(100, 80)), "jpeg", 90);
    QStringList arguments {
        "--json", "--quiet", "--maps", "--jobs", "2", "--out", "out", "--report", "page.html"};
    constexpr int pictures = 40;
    for (int i = 0; i < pictures; ++i) {
        arguments.append(writeFile(work.filePath(QStringLiteral("p%1.jpg").arg(i)), jpeg));
    }
    QProcess process;
    process.setWorkingDirectory(work.path());
    process.start(QStringLiteral(ZTROI_EXECUTABLE), arguments);
    while (!process.canReadLine()) {
        QVERIFY(process.waitForReadyRead(60000));
    }
    ::kill(pid_t(process.processId()), SIGINT);
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 128 + SIGINT);
    QVERIFY(
        QString::fromUtf8(process.readAllStandardError()).startsWith("ztroi: stopped by signal"));

    const QList<QByteArray> lines = process.readAllStandardOutput().trimmed().split('\n');
    QVERIFY2(lines.size() < pictures, "the batch went on to the end");
    QStringList reported;
    for (int i = 0; i < lines.size(); ++i) {
        const QJsonObject line = QJsonDocument::fromJson(lines[i]).object();
        QCOMPARE(line["input"].toString(), arguments.at(9 + i)); // the first ones, in order
        const QJsonObject maps = line["files"]["maps"].toObject();
        QCOMPARE(maps.size(), 4);
        for (const QJsonValue& path : maps) {
            reported.append(QFileInfo(path.toString()).fileName());
        }
        reported.append(QFileInfo(line["files"]["salience"].toString()).fileName());
    }
    reported.sort();
    QCOMPARE(filesIn(work.filePath("out")), reported);

    // How the page says so is tst_ZTReviewPage's; here, that the run tells it how far it got.
    const QByteArray note = "Stopped by signal 2 (Interrupt)</strong>: "
        + QByteArray::number(lines.size()) + " of 40 pictures analysed.";
    QFile page(work.filePath("page.html"));
    QVERIFY2(page.open(QIODevice::ReadOnly) && page.readAll().contains(note), note.constData());
}

QTEST_GUILESS_MAIN(tst_ztroiOutputSafety)
#include "tst_ztroiOutputSafety.moc"
