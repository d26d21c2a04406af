// ztroi end to end, as someone would try to break it: what it does to files already in the output
// folder, to its inputs, to another run in the same folder, and when standard output fails or a
// signal stops it.

#include "ZTToolTestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QList<QJsonObject> jsonLines(const QByteArray& out)
{
    QList<QJsonObject> lines;
    for (const QByteArray& line : out.split('\n')) {
        if (!line.isEmpty()) {
            lines.append(QJsonDocument::fromJson(line).object());
        }
    }
    return lines;
}

// Starts ztroi in @p folder and waits for its first line on standard output.
bool startAndAwaitFirstLine(QProcess& process, const QStringList& arguments, const QString& folder)
{
    process.setWorkingDirectory(folder);
    process.start(QStringLiteral(ZTROI_EXECUTABLE), arguments);
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(60000)) {
            return false;
        }
    }
    return true;
}

} // namespace

class tst_ztroiOutputSafety : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void reportedPathsNameTheWrittenFiles_data();
    void reportedPathsNameTheWrittenFiles();
    void failedPicturePutsBackWhatItReplaced();
    void filesThatZtroiDidNotWriteStay_data();
    void filesThatZtroiDidNotWriteStay();
    void cropsTooLargeForTheirFormat_data();
    void cropsTooLargeForTheirFormat();
    void outputFolderOnlyWhenFilesAreWritten_data();
    void outputFolderOnlyWhenFilesAreWritten();
    void outputNeverReplacesAnInput_data();
    void outputNeverReplacesAnInput();
    void concurrentRunsKeepTheirOwnFiles();
    void standardOutputFailures_data();
    void standardOutputFailures();
    void signalStopsTheBatch_data();
    void signalStopsTheBatch();

private:
    QString picture(const QString& name) const { return m_pictures.filePath(name); }

    QTemporaryDir m_pictures;
};

void tst_ztroiOutputSafety::initTestCase()
{
    QVERIFY(scene(QSize(120, 90), QPoint(40, 50)).save(picture("photo.png")));
}

void tst_ztroiOutputSafety::reportedPathsNameTheWrittenFiles_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("reported"); // files.salience in the JSON line

    QTest::newRow("a name starting with ':'")
        << ":photo.png" << QStringList() << "ztroi-out/:photo.salience.png";
    QTest::newRow("--out ending in '/'")
        << "photo.png" << QStringList {"--out", "maps/"} << "maps/photo.salience.png";
    QTest::newRow("--out ./maps") << "photo.png" << QStringList {"--out", "./maps"}
                                  << "./maps/photo.salience.png";
}

// The path that the report gives is the file that was written, whatever the picture's name.
void tst_ztroiOutputSafety::reportedPathsNameTheWrittenFiles()
{
    QFETCH(QString, input);
    QFETCH(QStringList, options);
    QFETCH(QString, reported);

    QTemporaryDir work;
    // Joined by hand, as QTemporaryDir::filePath() takes ":photo.png" for a resource.
    QVERIFY(QFile::copy(picture("photo.png"), work.path() + '/' + input));
    const Run run = ztroi(QStringList {"--json"} + options + QStringList {input}, work.path());
    QCOMPARE(run.exitCode, 0);
    const QList<QJsonObject> lines = jsonLines(run.out);
    QCOMPARE(lines.size(), 1);
    QCOMPARE(lines.first().value("files").toObject().value("salience").toString(), reported);
    QVERIFY(QFileInfo(work.path() + '/' + reported).isFile());
}

// With --maps, a folder named photo.sobel.png fails the picture after its salience map replaced
// the one of an earlier run. The earlier file comes back, the same file with the same content.
void tst_ztroiOutputSafety::failedPicturePutsBackWhatItReplaced()
{
    QTemporaryDir work;
    QCOMPARE(ztroi({"-q", picture("photo.png")}, work.path()).exitCode, 0);
    QVERIFY(QDir(work.path()).mkpath("ztroi-out/photo.sobel.png"));
    const QString earlier = work.filePath("ztroi-out/photo.salience.png");
    const QByteArray earlierMap = contentOf(earlier);
    struct stat before;
    struct stat after;
    QCOMPARE(::stat(QFile::encodeName(earlier).constData(), &before), 0);

    const Run run = ztroi({"-q", "--maps", picture("photo.png")}, work.path());
    QCOMPARE(run.exitCode, 1);
    const QString said = "ztroi: " + picture("photo.png")
        + ": ztroi-out/photo.sobel.png is not a regular file; ztroi does not replace it\n";
    QCOMPARE(run.err, said.toUtf8());
    QCOMPARE(filesIn(work.filePath("ztroi-out")), QStringList {"photo.salience.png"});
    QCOMPARE(::stat(QFile::encodeName(earlier).constData(), &after), 0);
    QCOMPARE(after.st_ino, before.st_ino);
    QCOMPARE(contentOf(earlier), earlierMap);
    // Put back as it was, it is still the earlier run's: the next run replaces it.
    QVERIFY(QDir(work.path()).rmdir("ztroi-out/photo.sobel.png"));
    const Run again = ztroi({"--json", "-q", picture("photo.png")}, work.path());
    const QJsonObject line = jsonLines(again.out).value(0);
    QCOMPARE(line["files"]["salience"].toString(), QString("ztroi-out/photo.salience.png"));
}

void tst_ztroiOutputSafety::filesThatZtroiDidNotWriteStay_data()
{
    QTest::addColumn<QString>("before");      // what happens before the run
    QTest::addColumn<QStringList>("options"); // of the run, besides --json and the picture
    QTest::addColumn<QString>("file");        // the file that may stay, in ztroi-out
    QTest::addColumn<QString>("written");     // where the run writes it
    QTest::addColumn<QString>("reason");      // in "renamed"; empty when the name was its own

    const QStringList crop {"--write-crops", "--crop", "16:9", "--format", "jpg", "--no-map"};
    QTest::newRow("a user's salience map stays")
        << "user's file" << QStringList() << "photo.salience.png"
        << "photo-2.salience.png"
        << "not written by ztroi";
    QTest::newRow("a user's crop stays") << "user's file" << crop << "photo.crop-16x9.jpg"
                                         << "photo-2.crop-16x9.jpg"
                                         << "not written by ztroi";
    QTest::newRow("a re-run replaces its own map") << "run" << QStringList() << "photo.salience.png"
                                                   << "photo.salience.png"
                                                   << "";
    QTest::newRow("a re-run replaces its own crop") << "run" << crop << "photo.crop-16x9.jpg"
                                                    << "photo.crop-16x9.jpg"
                                                    << "";
    QTest::newRow("a map edited since stays")
        << "run, edit" << QStringList() << "photo.salience.png"
        << "photo-2.salience.png"
        << "changed since ztroi wrote it";
    QTest::newRow("the map of a picture of that name elsewhere stays")
        << "run on another photo.png" << QStringList() << "photo.salience.png"
        << "photo-2.salience.png"
        << "written by ztroi for another input";
}

// A file under an output name is replaced only when ztroi wrote it for the same picture and
// nobody changed it since. The JSON and standard error say when a file took another name.
void tst_ztroiOutputSafety::filesThatZtroiDidNotWriteStay()
{
    QFETCH(QString, before);
    QFETCH(QStringList, options);
    QFETCH(QString, file);
    QFETCH(QString, written);
    QFETCH(QString, reason);

    QTemporaryDir work;
    QVERIFY(QDir(work.path()).mkpath("ztroi-out") && QDir(work.path()).mkpath("other"));
    const QString path = work.filePath("ztroi-out/" + file);
    const QString input = picture("photo.png");
    const QString other = work.filePath("other/photo.png");
    QVERIFY(QFile::copy(input, other));
    if (before == "user's file") {
        writeFile(path, "mine");
    } else {
        QCOMPARE(
            ztroi(options + QStringList {before == "run" || before == "run, edit" ? input : other},
                work.path())
                .exitCode,
            0);
    }
    if (before == "run, edit") {
        writeFile(path, contentOf(path)); // the same bytes, written again
    }
    const QByteArray kept = contentOf(path);

    const Run run = ztroi(QStringList {"--json"} + options + QStringList {input}, work.path());
    QCOMPARE(run.exitCode, 0);
    const QJsonObject line = jsonLines(run.out).value(0);
    const QString writtenPath = "ztroi-out/" + written;
    const QJsonValue files = line["files"];
    QCOMPARE(files["salience"].isUndefined() ? files["crops"][0].toString()
                                             : files["salience"].toString(),
        writtenPath);
    if (reason.isEmpty()) {
        QVERIFY(!line.contains("renamed"));
        QCOMPARE(run.err, QByteArray());
        return;
    }
    const QJsonObject renamed {
        {"path", writtenPath}, {"wanted", "ztroi-out/" + file}, {"reason", reason}};
    QCOMPARE(line["renamed"].toArray(), QJsonArray {renamed});
    QCOMPARE(QString::fromUtf8(run.err),
        "ztroi: " + input + ": ztroi-out/" + file + " stays (" + reason + "); wrote " + writtenPath
            + '\n');
    QCOMPARE(contentOf(path), kept);
}

void tst_ztroiOutputSafety::cropsTooLargeForTheirFormat_data()
{
    QTest::addColumn<QString>("crop");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("error"); // empty when the crop is written

    QTest::newRow("JPEG at its limit") << "65500x1"
                                       << "jpg"
                                       << "";
    QTest::newRow("JPEG over its limit")
        << "65501x1"
        << "jpg"
        << "the crop 65501x1 is 65501x1 pixels, too large: JPEG holds at most 65500 pixels on a "
           "side";
    QTest::newRow("WebP at its limit") << "1x16383"
                                       << "webp"
                                       << "";
    QTest::newRow("WebP over its limit")
        << "1x16384"
        << "webp"
        << "the crop 1x16384 is 1x16384 pixels, too large: WebP holds at most 16383 pixels on a "
           "side";
    QTest::newRow("PNG has no such limit") << "70000x1"
                                           << "png"
                                           << "";
}

// A crop larger than its format can hold fails with that limit, not the encoder's "Unknown
// error", before it is made.
void tst_ztroiOutputSafety::cropsTooLargeForTheirFormat()
{
    QFETCH(QString, crop);
    QFETCH(QString, format);
    QFETCH(QString, error);

    QTemporaryDir work;
    const Run run = ztroi({"--json", "-q", "--no-map", "--write-crops", "--crop", crop, "--format",
                              format, picture("photo.png")},
        work.path());
    QCOMPARE(run.exitCode, error.isEmpty() ? 0 : 1);
    QCOMPARE(jsonLines(run.out).value(0)["error"].toObject()["message"].toString(), error);
    QCOMPARE(filesIn(work.filePath("ztroi-out")).size(), error.isEmpty() ? 1 : 0);
}

void tst_ztroiOutputSafety::outputFolderOnlyWhenFilesAreWritten_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("created"); // in the working folder
    QTest::addColumn<QString>("error");

    QTest::newRow("--no-map writes nothing")
        << QStringList {"--no-map"} << 0 << QStringList() << "";
    QTest::newRow("--no-map with a review page")
        << QStringList {"--no-map", "--report", "page.html"} << 0 << QStringList {"page.html"}
        << "";
    QTest::newRow("--maps needs the folder")
        << QStringList {"--no-map", "--maps"} << 1 << QStringList()
        << "ztroi: file/out: cannot create the output folder (not a directory)\n";
}

// The output folder is created only when files go into it: a run that writes none works even
// where no folder can be created (here, under a file; permissions do not stop root).
void tst_ztroiOutputSafety::outputFolderOnlyWhenFilesAreWritten()
{
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    QFETCH(QStringList, created);
    QFETCH(QString, error);

    QTemporaryDir work;
    writeFile(work.filePath("file"), "a file");
    const Run run = ztroi(
        QStringList {"--json", "--out", "file/out"} + options + QStringList {picture("photo.png")},
        work.path());
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(QString::fromUtf8(run.err), error);
    QCOMPARE(jsonLines(run.out).size(), exitCode == 0 ? 1 : 0);
    QCOMPARE(QDir(work.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList {"file"} + created);
}

void tst_ztroiOutputSafety::outputNeverReplacesAnInput_data()
{
    QTest::addColumn<QString>("secondSays"); // in the second picture's JSON line

    QTest::newRow("a picture named like the first one's map") << "\"analysisSize\"";
    QTest::newRow("an input yet to exist") << "no such file";
}

// ztroi --out d d/dog.jpg d/dog.salience.png would write the first picture's map over the
// second picture. The first picture is refused instead, the same way for any number of jobs.
void tst_ztroiOutputSafety::outputNeverReplacesAnInput()
{
    QFETCH(QString, secondSays);

    QTemporaryDir work;
    QVERIFY(QDir(work.path()).mkpath("d"));
    QFile::copy(picture("photo.png"), work.filePath("d/dog.jpg"));
    const QString map = work.filePath("d/dog.salience.png");
    if (secondSays != "no such file") {
        QFile::copy(picture("photo.png"), map);
    }
    const QByteArray original = contentOf(map);

    QByteArray firstOut;
    for (const char* jobs : {"1", "4"}) {
        const Run run = ztroi(
            {"--json", "--quiet", "--jobs", jobs, "--out", "d", "d/dog.jpg", "d/dog.salience.png"},
            work.path());
        QCOMPARE(run.exitCode, 1);
        const QList<QByteArray> lines = run.out.split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY2(
            lines[0].contains("\"message\":\"d/dog.salience.png is an input of this run; ztroi "
                              "does not replace it\""),
            lines[0].constData());
        QVERIFY2(lines[1].contains(secondSays.toUtf8()), lines[1].constData());
        QCOMPARE(contentOf(map), original);
        QVERIFY(firstOut.isEmpty() || run.out == firstOut);
        firstOut = run.out;
    }
}

// Two runs write pictures of the same names into one folder, the second while the first is
// stopped half way. Each run's report names files that hold its own pictures' maps, byte for byte
// as a run alone writes them, and the folder holds exactly the files reported. The names hold
// "%1", which a run once expanded when it numbered a taken name ("q2-.salience.png%3").
void tst_ztroiOutputSafety::concurrentRunsKeepTheirOwnFiles()
{
    const auto pictureName = [](const char* run, int i) {
        return run + QStringLiteral("/p%1 ") + QString::number(i) + ".png";
    };
    QTemporaryDir work;
    for (const char* run : {"a", "b"}) {
        QVERIFY(QDir(work.path()).mkdir(run));
        for (int i = 0; i < 4; ++i) {
            const QPoint object(run[0] == 'a' ? 20 + 20 * i : 100 - 20 * i, 30 + 10 * i);
            QVERIFY(scene(QSize(120, 90), object).save(work.filePath(pictureName(run, i))));
        }
    }
    const auto arguments = [&](const char* run, const char* out) {
        QStringList list {"--json", "--quiet", "--jobs", "1", "--size", "64x64", "--out", out};
        for (int i = 0; i < 4; ++i) {
            list.append(pictureName(run, i));
        }
        return list;
    };
    // The maps that each run writes when it is alone.
    QMap<QString, QByteArray> alone;
    for (const char* run : {"a", "b"}) {
        const Run single = ztroi(arguments(run, run), work.path());
        QCOMPARE(single.exitCode, 0);
        for (const QJsonObject& line : jsonLines(single.out)) {
            alone.insert(line["input"].toString(),
                contentOf(work.filePath(line["files"]["salience"].toString())));
        }
    }
    QCOMPARE(alone.size(), 8);
    QVERIFY(QDir(work.path()).mkdir("out"));
    writeFile(work.filePath("out/p%1 0.salience.png"), "the user's"); // stays

    QProcess first;
    QVERIFY(startAndAwaitFirstLine(first, arguments("a", "out"), work.path()));
    ::kill(pid_t(first.processId()), SIGSTOP);
    const Run second = ztroi(arguments("b", "out"), work.path());
    ::kill(pid_t(first.processId()), SIGCONT);
    QVERIFY(first.waitForFinished(60000));
    QCOMPARE(first.exitCode() + second.exitCode, 0);

    QStringList reported;
    for (const QJsonObject& line :
        jsonLines(first.readAllStandardOutput()) + jsonLines(second.out)) {
        const QString path = line["files"]["salience"].toString();
        QVERIFY2(contentOf(work.filePath(path)) == alone.value(line["input"].toString()),
            qPrintable(path));
        reported.append(QFileInfo(path).fileName());
    }
    QCOMPARE(reported.size(), 8);
    reported.append("p%1 0.salience.png");
    reported.sort();
    QCOMPARE(filesIn(work.filePath("out")), reported);
    QCOMPARE(contentOf(work.filePath("out/p%1 0.salience.png")), QByteArray("the user's"));
    QVERIFY2(reported.contains("p%1 0-2.salience.png") && reported.contains("p%1 0-3.salience.png"),
        qPrintable(reported.join(", ")));
}

void tst_ztroiOutputSafety::standardOutputFailures_data()
{
    QTest::addColumn<QStringList>("arguments"); // after --json and the pictures
    QTest::addColumn<QString>("shell");         // "pipe": a pipe that nobody reads
    QTest::addColumn<QString>("reason");

    const auto row = [](const char* name, const char* shell, const char* reason,
                         const QStringList& arguments = {}) {
        QTest::newRow(name) << arguments << shell << reason;
    };
    row("a full disk", "exec >/dev/full;", "no space left on device");
    row("a closed standard output", "exec >&-;", "bad file descriptor");
    row("a reader that went away", "pipe", "broken pipe");
    row("help on a full disk", "exec >/dev/full;", "no space left on device", {"--help"});
    // Only whole lines reach the file: a line that does not fit is taken back out.
    row("a file-size limit on the reports", "ulimit -f 1; exec >reports.jsonl;", "file too large",
        {"--no-map"});
}

// Reports that cannot be written are said once on standard error and give exit status 1; the
// run then stops taking pictures.
void tst_ztroiOutputSafety::standardOutputFailures()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, shell);
    QFETCH(QString, reason);

    QTemporaryDir work;
    QStringList all {"--json", "--quiet", "--jobs", "1"};
    for (int i = 0; i < 8; ++i) {
        all.append(picture("photo.png"));
    }
    all += arguments;
    int pipeEnds[2] = {-1, -1};
    if (shell == "pipe") {
        // A pipe whose reading end is closed before ztroi starts: every write breaks it.
        QCOMPARE(::pipe(pipeEnds), 0);
        ::close(pipeEnds[0]);
        shell = QStringLiteral("exec >&%1;").arg(pipeEnds[1]);
    }
    const Run run = ztroi(all, work.path(), {}, shell);
    ::close(pipeEnds[1]);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err, ("ztroi: cannot write to standard output (" + reason + ")\n").toUtf8());
    const QByteArray reports = contentOf(work.filePath("reports.jsonl"));
    QVERIFY2(reports.isEmpty() || reports.endsWith('\n'), reports.constData());
}

void tst_ztroiOutputSafety::signalStopsTheBatch_data()
{
    QTest::addColumn<int>("signal");

    QTest::newRow("SIGINT: 130") << int(SIGINT);
    QTest::newRow("SIGTERM: 143") << int(SIGTERM);
}

// A signal stops the batch: the pictures in progress are finished and reported, and every file
// on disk belongs to a reported picture; no temporary file is left. The review page says at its
// top that the run was stopped, and how far it got.
void tst_ztroiOutputSafety::signalStopsTheBatch()
{
    QFETCH(int, signal);

    QTemporaryDir work;
    const QByteArray jpeg = encoded(scene(QSize(300, 200), QPoint(100, 80)), "jpeg", 90);
    QStringList arguments {
        "--json", "--quiet", "--maps", "--jobs", "2", "--out", "out", "--report", "page.html"};
    constexpr int pictures = 40;
    for (int i = 0; i < pictures; ++i) {
        arguments.append(writeFile(work.filePath(QStringLiteral("p%1.jpg").arg(i)), jpeg));
    }
    QProcess process;
    QVERIFY(startAndAwaitFirstLine(process, arguments, work.path()));
    ::kill(pid_t(process.processId()), signal);
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 128 + signal);
    QVERIFY(
        QString::fromUtf8(process.readAllStandardError()).startsWith("ztroi: stopped by signal"));

    const QList<QJsonObject> lines = jsonLines(process.readAllStandardOutput());
    QVERIFY2(lines.size() < pictures, "the batch went on to the end");
    QStringList reported;
    for (int i = 0; i < lines.size(); ++i) {
        QCOMPARE(lines[i]["input"].toString(), arguments.at(9 + i)); // the first ones, in order
        const QJsonObject maps = lines[i]["files"]["maps"].toObject();
        QCOMPARE(maps.size(), 4);
        for (const QJsonValue& path : maps) {
            reported.append(QFileInfo(path.toString()).fileName());
        }
        reported.append(QFileInfo(lines[i]["files"]["salience"].toString()).fileName());
    }
    reported.sort();
    QCOMPARE(filesIn(work.filePath("out")), reported);

    const QString page = QString::fromUtf8(contentOf(work.filePath("page.html")));
    const QString note
        = QStringLiteral("<strong>Stopped by signal %1 (%2)</strong>: %3 of 40 "
                         "pictures analysed.")
              .arg(QString::number(signal), QString::fromLocal8Bit(strsignal(signal)),
                  QString::number(lines.size()));
    QVERIFY2(page.contains(note), qPrintable(note));
    QVERIFY(page.indexOf(note) < page.indexOf("<main>"));
}

QTEST_GUILESS_MAIN(tst_ztroiOutputSafety)
#include "tst_ztroiOutputSafety.moc"
