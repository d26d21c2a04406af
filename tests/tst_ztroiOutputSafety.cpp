// ztroi end to end, as someone would try to break it: what it does to files already in the output
// folder, to its inputs, to another run in the same folder, and when standard output fails or a
// signal stops it.

#include "ZTToolTestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What @p folder holds, one "name=kind" each: "earlier" for the test's own text, "png", "jpeg",
// "link", "folder", or "other" (a temporary file would show up as that).
QStringList described(const QString& folder)
{
    QStringList entries;
    for (const QFileInfo& info : QDir(folder).entryInfoList(
             QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        QString kind = QStringLiteral("other");
        QFile file(info.filePath());
        if (info.isSymLink()) {
            kind = QStringLiteral("link");
        } else if (info.isDir()) {
            kind = QStringLiteral("folder");
        } else if (file.open(QIODevice::ReadOnly)) {
            const QByteArray start = file.read(4);
            kind = start == "earl"             ? QStringLiteral("earlier")
                : start == "\x89PNG"           ? QStringLiteral("png")
                : start.startsWith("\xFF\xD8") ? QStringLiteral("jpeg")
                                               : kind;
        }
        entries.append(info.fileName() + QLatin1Char('=') + kind);
    }
    return entries;
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

ino_t inodeOf(const QString& path)
{
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_ino : 0;
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
    void existingFilesInTheOutputFolder_data();
    void existingFilesInTheOutputFolder();
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

void tst_ztroiOutputSafety::existingFilesInTheOutputFolder_data()
{
    QTest::addColumn<QString>("before"); // in ztroi-out: photo.salience.png as "earlier", a
                                         // "link" to ../victim.txt, a "dangling" link; "maps":
                                         // an earlier photo.salience.png and a folder
                                         // photo.sobel.png
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("shell");
    QTest::addColumn<QString>("error"); // in the one line on standard error; empty: success
    QTest::addColumn<QStringList>("after");

    const auto row = [](const char* name, const char* before, const QStringList& options,
                         const char* shell, const char* error, const QStringList& after) {
        QTest::newRow(name) << before << options << shell << error << after;
    };
    row("a re-run replaces its own earlier output", "earlier", {}, "", "",
        {"photo.salience.png=png"});
    row("a link to a file elsewhere is not written through", "link", {}, "",
        "ztroi-out/photo.salience.png is a symbolic link", {"photo.salience.png=link"});
    row("a dangling link creates nothing", "dangling", {}, "",
        "ztroi-out/photo.salience.png is a symbolic link", {"photo.salience.png=link"});
    row("a failed picture puts back the file it replaced", "maps", {"--maps"}, "",
        "ztroi-out/photo.sobel.png is not a regular file",
        {"photo.salience.png=earlier", "photo.sobel.png=folder"});
    row("a file-size limit fails the picture", "earlier", {"--overlay"}, "ulimit -f 1;",
        "cannot write ztroi-out/photo.salience.png (file too large)",
        {"photo.salience.png=earlier"});
}

// Whatever ztroi-out holds, ztroi writes only there, never through a link, and a picture that
// fails leaves the folder exactly as it was (the same files, not copies).
void tst_ztroiOutputSafety::existingFilesInTheOutputFolder()
{
    QFETCH(QString, before);
    QFETCH(QStringList, options);
    QFETCH(QString, shell);
    QFETCH(QString, error);
    QFETCH(QStringList, after);

    QTemporaryDir work;
    const QString out = work.filePath("ztroi-out");
    const QString target = out + "/photo.salience.png";
    QVERIFY(QDir().mkpath(out));
    writeFile(work.filePath("victim.txt"), "victim");
    if (before == "earlier" || before == "maps") {
        writeFile(target, "earlier");
    } else {
        QVERIFY(QFile::link(before == "link" ? "../victim.txt" : "../created.png", target));
    }
    if (before == "maps") {
        QVERIFY(QDir(out).mkdir("photo.sobel.png"));
    }
    const ino_t inode = inodeOf(target);
    QThread::msleep(20); // a file system clock tick: "earlier" is before the run

    const Run run = ztroi(
        QStringList {"-q"} + options + QStringList {picture("photo.png")}, work.path(), {}, shell);
    QCOMPARE(run.exitCode, error.isEmpty() ? 0 : 1);
    const QString said = "ztroi: " + picture("photo.png") + ": " + error;
    QVERIFY2(
        error.isEmpty() ? run.err.isEmpty() : run.err.startsWith(said) && run.err.count('\n') == 1,
        qPrintable(run.err));
    QCOMPARE(described(out), after);
    QCOMPARE(inodeOf(target) == inode, error.isEmpty() ? before != "earlier" : true);
    QCOMPARE(contentOf(work.filePath("victim.txt")), QByteArray("victim"));
    QVERIFY(!QFile::exists(work.filePath("created.png")));
}

void tst_ztroiOutputSafety::outputNeverReplacesAnInput_data()
{
    QTest::addColumn<QString>("second");     // the second input
    QTest::addColumn<QString>("secondSays"); // in its JSON line

    QTest::newRow("a picture named like the first one's map") << "d/dog.salience.png"
                                                              << "analysisSize";
    QTest::newRow("an input yet to exist") << "d/dog.salience.png"
                                           << "no such file";
    QTest::newRow("a hard link to the map's name") << "e/cat.png"
                                                   << "analysisSize";
}

// ztroi --out d d/dog.jpg d/dog.salience.png would write the first picture's map over the
// second picture. The first picture is refused instead, the same way for any number of jobs.
void tst_ztroiOutputSafety::outputNeverReplacesAnInput()
{
    QFETCH(QString, second);
    QFETCH(QString, secondSays);

    QTemporaryDir work;
    QVERIFY(QDir(work.path()).mkpath("d") && QDir(work.path()).mkpath("e"));
    QFile::copy(picture("photo.png"), work.filePath("d/dog.jpg"));
    const QString map = work.filePath("d/dog.salience.png");
    if (secondSays != "no such file") {
        QFile::copy(picture("photo.png"), work.filePath(second));
    }
    if (second == "e/cat.png") {
        QCOMPARE(::link(QFile::encodeName(work.filePath(second)), QFile::encodeName(map)), 0);
    }
    const QByteArray original = contentOf(map);

    QByteArray firstOut;
    for (const char* jobs : {"1", "4"}) {
        const Run run = ztroi(
            {"--json", "--quiet", "--jobs", jobs, "--out", "d", "d/dog.jpg", second}, work.path());
        QCOMPARE(run.exitCode, 1);
        const QList<QJsonObject> lines = jsonLines(run.out);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0]["error"].toString(),
            QString("d/dog.salience.png is an input of this run; ztroi does not replace it"));
        QVERIFY2(
            QJsonDocument(lines[1]).toJson().contains(secondSays.toUtf8()), run.out.constData());
        QCOMPARE(contentOf(map), original);
        QVERIFY(firstOut.isEmpty() || run.out == firstOut);
        firstOut = run.out;
    }
}

// Two runs write pictures of the same names into one folder, the second while the first is
// stopped half way. Each run's report names files that hold its own pictures' maps, byte for byte
// as a run alone writes them, and the folder holds exactly the files reported.
void tst_ztroiOutputSafety::concurrentRunsKeepTheirOwnFiles()
{
    QTemporaryDir work;
    for (const char* run : {"a", "b"}) {
        QVERIFY(QDir(work.path()).mkdir(run));
        for (int i = 0; i < 4; ++i) {
            const QPoint object(run[0] == 'a' ? 20 + 20 * i : 100 - 20 * i, 30 + 10 * i);
            QVERIFY(scene(QSize(120, 90), object)
                        .save(work.filePath(QStringLiteral("%1/p%2.png").arg(run).arg(i))));
        }
    }
    const auto arguments = [](const char* run, const char* out) {
        QStringList list {"--json", "--quiet", "--jobs", "1", "--size", "64x64", "--out", out};
        for (int i = 0; i < 4; ++i) {
            list.append(QStringLiteral("%1/p%2.png").arg(run).arg(i));
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
    writeFile(work.filePath("out/p0.salience.png"), "earlier run"); // replaced by the first run
    QThread::msleep(20);

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
    reported.sort();
    QCOMPARE(reported.size(), 8);
    QCOMPARE(filesIn(work.filePath("out")), reported);
    QVERIFY(reported.contains("p0.salience.png") && reported.contains("p0-2.salience.png"));
}

void tst_ztroiOutputSafety::standardOutputFailures_data()
{
    QTest::addColumn<QStringList>("arguments"); // after --json and the pictures
    QTest::addColumn<QString>("shell");         // "pipe": a pipe that nobody reads
    QTest::addColumn<QString>("reason");

    const QStringList none;
    QTest::newRow("a full disk") << none << "exec >/dev/full;"
                                 << "no space left on device";
    QTest::newRow("a closed standard output") << none << "exec >&-;"
                                              << "bad file descriptor";
    QTest::newRow("a reader that went away") << none << "pipe"
                                             << "broken pipe";
    QTest::newRow("help on a full disk") << QStringList {"--help"} << "exec >/dev/full;"
                                         << "no space left on device";
    // Only whole lines reach the file: a line that does not fit is taken back out.
    QTest::newRow("a file-size limit on the reports")
        << QStringList {"--no-map"} << "ulimit -f 1; exec >reports.jsonl;"
        << "file too large";
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
    QCOMPARE(run.err, "ztroi: cannot write to standard output (" + reason + ")\n");
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
// on disk belongs to a reported picture; no temporary file is left.
void tst_ztroiOutputSafety::signalStopsTheBatch()
{
    QFETCH(int, signal);

    QTemporaryDir work;
    const QByteArray jpeg = encoded(scene(QSize(300, 200), QPoint(100, 80)), "jpeg", 90);
    QStringList arguments {"--json", "--quiet", "--maps", "--jobs", "2", "--out", "out"};
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
        QCOMPARE(lines[i]["input"].toString(), arguments.at(7 + i)); // the first ones, in order
        const QJsonObject maps = lines[i]["files"]["maps"].toObject();
        QCOMPARE(maps.size(), 4);
        for (const QJsonValue& path : maps) {
            reported.append(QFileInfo(path.toString()).fileName());
        }
        reported.append(QFileInfo(lines[i]["files"]["salience"].toString()).fileName());
    }
    reported.sort();
    QCOMPARE(filesIn(work.filePath("out")), reported);
}

QTEST_GUILESS_MAIN(tst_ztroiOutputSafety)
#include "tst_ztroiOutputSafety.moc"
