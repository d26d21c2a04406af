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
    void filesThatZtroiDidNotWriteStay_data();
    void filesThatZtroiDidNotWriteStay();
    void cropsTooLargeForTheirFormat_data();
    void cropsTooLargeForTheirFormat();
    void outputFolderOnlyWhenFilesAreWritten_data();
    void outputFolderOnlyWhenFilesAreWritten();
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

void tst_ztroiOutputSafety::filesThatZtroiDidNotWriteStay_data()
{
    QTest::addColumn<QString>("before");      // "user's file", or "run": an earlier run
    QTest::addColumn<QStringList>("options"); // of the run, besides --json and the picture
    QTest::addColumn<QString>("file");        // the file that may stay, in ztroi-out
    QTest::addColumn<QString>("written");     // where the run writes it
    QTest::addColumn<QString>("reason");      // in "renamed"; empty when the name was its own

    const QStringList crop {"--write-crops", "--crop", "16:9", "--format", "jpg", "--no-map"};
    QTest::newRow("a user's crop stays") << "user's file" << crop << "photo.crop-16x9.jpg"
                                         << "photo-2.crop-16x9.jpg"
                                         << "not written by ztroi";
    QTest::newRow("a re-run replaces its own map") << "run" << QStringList() << "photo.salience.png"
                                                   << "photo.salience.png"
                                                   << "";
}

// A file under an output name is replaced only when ztroi wrote it for the same picture (the
// rules are tst_ZTOutputTransaction's). The JSON and standard error say when a file took another
// name.
void tst_ztroiOutputSafety::filesThatZtroiDidNotWriteStay()
{
    QFETCH(QString, before);
    QFETCH(QStringList, options);
    QFETCH(QString, file);
    QFETCH(QString, written);
    QFETCH(QString, reason);

    QTemporaryDir work;
    QVERIFY(QDir(work.path()).mkpath("ztroi-out"));
    const QString path = work.filePath("ztroi-out/" + file);
    const QString input = picture("photo.png");
    if (before == "user's file") {
        writeFile(path, "mine");
    } else {
        QCOMPARE(ztroi(options + QStringList {input}, work.path()).exitCode, 0);
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
    QTest::addColumn<QString>("limit"); // that the error names; empty when the crop is written

    const auto row = [](const char* name, const char* crop, const char* format, const char* limit) {
        QTest::newRow(name) << crop << format << limit;
    };
    row("JPEG at its limit", "65500x1", "jpg", "");
    row("JPEG over its limit", "65501x1", "jpg", "JPEG holds at most 65500 pixels on a side");
    row("WebP at its limit", "1x16383", "webp", "");
    row("WebP over its limit", "1x16384", "webp", "WebP holds at most 16383 pixels on a side");
    row("PNG has no such limit", "70000x1", "png", "");
}

// A crop larger than its format can hold fails with that limit, not the encoder's "Unknown
// error", before it is made.
void tst_ztroiOutputSafety::cropsTooLargeForTheirFormat()
{
    QFETCH(QString, crop);
    QFETCH(QString, format);
    QFETCH(QString, limit);

    QTemporaryDir work;
    const Run run = ztroi({"--json", "-q", "--no-map", "--write-crops", "--crop", crop, "--format",
                              format, picture("photo.png")},
        work.path());
    QCOMPARE(run.exitCode, limit.isEmpty() ? 0 : 1);
    const QString error = jsonLines(run.out).value(0)["error"].toObject()["message"].toString();
    const QString expected
        = QStringLiteral("the crop %1 is %1 pixels, too large: %2").arg(crop, limit);
    QCOMPARE(error, limit.isEmpty() ? QString() : expected);
    QCOMPARE(filesIn(work.filePath("ztroi-out")).size(), limit.isEmpty() ? 1 : 0);
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
