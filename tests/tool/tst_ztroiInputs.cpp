// What ztroi reads and what it refuses: truncated files of every format, hostile files whose
// decoding would take too much memory, a file that changes while it waits for memory, inputs that
// are not regular files, names that are not UTF-8, and lists of paths. The structure checks and the
// loader's limits, row by row, are in tst_ZTImageLoader; damaged bytes anywhere, in the fuzz
// targets. Folders with --recursive: which files of a tree are pictures, the outputs mirrored under
// the output folder with its rules held in every subfolder. Lists: read as they come, so that
// neither the memory nor the time before the first picture grows with their length, from a file or
// a pipe alike, and without letting an output replace an input that comes later in the run. The
// output names: unique in input order, the same as the plain search for the first free number
// always gave, at linear cost for any list. And the console: one line a picture, the totals, the
// progress bar's time to go.

#include "ZTBatchRunner.h"
#include "ZTPictureFiles.h"
#include "ZTPictureFolder.h"
#include "ZTProgressBar.h"
#include "ZTRunTotals.h"
#include "analysis/ZTPictureAnalyzer.h"
#include "input/ZTImageLoader.h"
#include "input/ZTMemoryBudget.h"
#include "report/ZTReportFormatter.h"
#include "text/ZTUniqueNames.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

#include <csignal>
#include <malloc.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// Builds the entries @p entries under @p root, each one of: "a/b.png" a file holding a small
// picture whatever its name (folders made on the way), "d/" an empty folder, "name -> target" a
// symbolic link, "name|" a FIFO.
void buildTree(const QString& root, const QStringList& entries)
{
    static const QByteArray png = encoded(scene(QSize(64, 48), QPoint(20, 20)), "png");
    QDir dir(root);
    for (const QString& entry : entries) {
        const int arrow = entry.indexOf(" -> ");
        const QString name = arrow >= 0 ? entry.left(arrow) : entry;
        QVERIFY(dir.mkpath(QFileInfo(dir.filePath(name)).path()));
        if (arrow >= 0) {
            QVERIFY(QFile::link(entry.mid(arrow + 4), dir.filePath(name)));
        } else if (name.endsWith('/')) {
            QVERIFY(dir.mkpath(name));
        } else if (name.endsWith('|')) {
            QCOMPARE(::mkfifo(qPrintable(dir.filePath(name.chopped(1))), 0600), 0);
        } else {
            writeFile(dir.filePath(name), png);
        }
    }
}

// Every file below @p folder relative to it, sorted; links neither listed nor followed, the
// records' entries left out.
QStringList filesBelow(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder,
        QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = QDir(folder).relativeFilePath(it.next());
        if (!path.contains(".ztroi-record/")) {
            files.append(path);
        }
    }
    files.sort();
    return files;
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList inputsOf(const QByteArray& jsonLines)
{
    QStringList inputs;
    for (const QByteArray& line : jsonLines.split('\n')) {
        if (!line.isEmpty()) {
            inputs.append(QJsonDocument::fromJson(line)["input"].toString());
        }
    }
    return inputs;
}

ZTCrop crop(const QString& request, double scale, const QStringList& warnings = {})
{
    ZTCrop crop {{}, {}, 0.0, true, -1, scale, {}, warnings};
    crop.request.text = request;
    return crop;
}

// @p count names of missing pictures, one a line: "N.jpg", or with @p sameName "N/same.jpg".
QByteArray missingPictures(int count, bool sameName = false)
{
    QByteArray list;
    for (int i = 1; i <= count; ++i) {
        list += QByteArray::number(i) + (sameName ? "/same.jpg\n" : ".jpg\n");
    }
    return list;
}

// The plain search: for each base, try BASE, BASE-2, BASE-3, ... until one is free.
QStringList plainUniqueNames(const QStringList& bases)
{
    QStringList names;
    QSet<QString> used;
    for (const QString& base : bases) {
        QString name = base;
        for (int n = 2; used.contains(name); ++n) {
            name = base + '-' + QString::number(n);
        }
        used.insert(name);
        names.append(name);
    }
    return names;
}

} // namespace

class tst_ztroiInputs : public QObject
{
    Q_OBJECT

private slots:
    void waitingForMemoryReadsTheFileAgain();
    void maxSideCountsCropsAsLargeAsThePicture();
    void inputsThatCannotBeRead_data();
    void inputsThatCannotBeRead();
    void namesAreTakenAsTheirBytes();
    void peakMemoryStaysWithinTheReservation_data();
    void peakMemoryStaysWithinTheReservation();
    void truncatedFilesUnderValgrind();
    void searchFindsThePictures_data();
    void searchFindsThePictures();
    void outputsMirrorTheTree_data();
    void outputsMirrorTheTree();
    void console();
    void longListTakesBoundedMemory();
    void standardInputIsReadAsAFile_data();
    void standardInputIsReadAsAFile();
    void laterInputIsNeverReplaced();
    void signalDuringALongListIsHonoured();
    void uniqueNamesAsThePlainSearch();
};

// A picture whose decoding does not fit beside the others drops its file's bytes while it waits
// for memory, and reads the file again once it may: a file that grew meanwhile is refused.
void tst_ztroiInputs::waitingForMemoryReadsTheFileAgain()
{
    QTemporaryDir work;
    const QString path = writeFile(
        work.filePath("picture.png"), encoded(scene(QSize(64, 48), QPoint(40, 20)), "png"));
    ZTMemoryBudget budget(100'000);
    const qint64 held = 90'000; // leaves room for the file, not for its decoding
    QVERIFY(budget.reserve(held));
    ZTImageLoader loader;
    loader.setMemoryBudget(&budget);
    bool loaded = false;
    std::thread loading([&] { loaded = loader.load(path); });
    while (budget.tryReserve(0)) { // until the loader waits
        QThread::msleep(5);
    }
    writeFile(path, ZTPictureFiles::pngClaiming(100, 100));
    budget.release(held);
    loading.join();
    QVERIFY(!loaded);
    QCOMPARE(loader.errorString(), QString("the file changed while it was read"));
    QVERIFY(loader.image().isNull());
}

// Regression: --max-side above about 23000 counted every W:H crop as a square of that side, and
// every picture was refused for memory ("needs about 76311 MB").
void tst_ztroiInputs::maxSideCountsCropsAsLargeAsThePicture()
{
    ZTAnalysisSettings settings;
    settings.writeCrops = true;
    ZTCropRequest wide;
    wide.aspectWidth = 16;
    wide.aspectHeight = 9;
    settings.crops = {wide};
    settings.maxCropSide = 100000;
    const qint64 analysis = ZTPictureAnalyzer::analysisBytes(ZTAnalysisSettings());
    QCOMPARE(ZTPictureAnalyzer::analysisBytes(settings, QSize(64, 48)), analysis + 64 * 48 * 8);
}

void tst_ztroiInputs::inputsThatCannotBeRead_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error");

    const auto row
        = [](const char* name, const QString& arguments, int exitCode, const char* error) {
              QTest::newRow(name) << arguments.split(' ') << exitCode << error;
          };
    // Refused at once, without reading from them: a FIFO without a writer hung the whole run.
    row("FIFO without a writer", "--no-map fifo", 1, "fifo: not a regular file (a FIFO");
    // A list that cannot be read whole is a usage error before any picture.
    // Regression: --list /dev/zero grew to 2 GB before it failed.
    row("list of an entry longer than a path", "--list a --list /dev/zero", 2,
        "--list /dev/zero: an entry is longer than a path can be (4096 bytes)\n");
    // Regression: --list0 /dev/zero read empty entries for ever.
    row("list of endless empty entries", "--list a --list0 /dev/zero", 2,
        "--list0 /dev/zero: more than 1048576 empty entries in a row: not a list of names\n");
    // Regression: a folder was an empty list, and ztroi exited with 0 having done nothing.
    row("list that is a folder", "--list a --list .", 2,
        "--list .: cannot read the list (Is a directory)\n");
    // Regression: the entry was opened up to its NUL, "cannot open the file (Success)".
    row("list of a NUL inside a line", "--list z", 2,
        "--list z: an entry holds a NUL byte, which no file name can");
    // The output names are the one thing that grows with a list: past the memory budget, the run
    // says so before it starts, instead of growing past it.
    row("names beyond the memory budget", "--memory 1 --list many", 1,
        "pictures need more than the memory budget (1 MB)");
}

void tst_ztroiInputs::inputsThatCannotBeRead()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, error);

    QTemporaryDir work;
    QCOMPARE(mkfifo(qPrintable(work.filePath("fifo")), 0600), 0);
    writeFile(work.filePath("a"), "missing 1\n");
    writeFile(work.filePath("z"), QByteArray("new\nline\0\0second", 17));
    writeFile(work.filePath("many"), missingPictures(20000));
    const Run run = ztroi(QStringList {"--json", "--quiet"} + arguments, work.path());
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.out.isEmpty(), !arguments.contains("fifo")); // the one picture that is tried
    QVERIFY2(run.err.startsWith("ztroi: ") && run.err.contains(error.toUtf8())
            && run.err.count("ztroi: ") == 1,
        run.err.constData());
    QVERIFY(!QFileInfo::exists(work.filePath("ztroi-out")));
}

// A name is opened by its bytes, and JSON gives each byte that is not UTF-8 as the character
// U+DC00 plus the byte; a name starting with ':' is a file like any other. Control bytes are
// escaped on standard error, so that each failed picture has one line there, and JSON escapes
// them its own way.
void tst_ztroiInputs::namesAreTakenAsTheirBytes()
{
    QTemporaryDir work;
    const QByteArray jpeg = encoded(scene(QSize(32, 24), QPoint(8, 8)), "jpeg");
    writeFile(work.path() + "/:picture.jpg", jpeg); // filePath() takes it for a resource
    const QString control = QStringLiteral("two\nlines\t\x1B[2J\r.jpg");
    writeFile(work.filePath(control), "not a picture");
    // The shell copies the picture to a name in Latin-1 and adds that name to the arguments.
    const Run run = ztroi({"--json", "-q", "--no-map", ":picture.jpg", control}, work.path(), {},
        "n=$(printf 'caf\\351.jpg'); cp :picture.jpg \"$n\"; set -- \"$@\" \"$n\";");
    // Which QTemporaryDir, decoding names as UTF-8, cannot remove.
    ::unlink((QFile::encodeName(work.path()) + "/caf\xE9.jpg").constData());
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err,
        QByteArray("ztroi: two\\nlines\\t\\x1b[2J\\r.jpg: not a picture in a format that can "
                   "be read\n"));
    const QList<QByteArray> lines = run.out.split('\n');
    QVERIFY2(lines.size() == 4 && run.out.count(R"("error")") == 1
            && lines.at(0).contains(R"("input":":picture.jpg")")
            && lines.at(1).contains(R"("input":"two\nlines\t\u001b[2J\r.jpg")")
            && lines.at(2).contains(R"("input":"caf\udce9.jpg")"),
        run.out.constData());
}

// The hostile files of peakMemoryStaysWithinTheReservation, by name: built only when used, as
// the test's own memory is part of each child's peak until it starts ztroi.
QByteArray hostileFile(const QString& name)
{
    using namespace ZTPictureFiles;
    const QImage picture = scene(QSize(64, 64), QPoint(40, 20));
    if (name == "text") {
        return pngWith(encoded(picture, "png"), compressedChunk("zTXt", 40 << 20).repeated(50));
    }
    if (name == "exif") {
        return jpegWith(encoded(picture, "jpeg", 90), 0xE1, 400, 65533);
    }
    // Nesting level 0, then 2^31 - 1 iterations of no frames.
    const QByteArray loop("\0\x7F\xFF\xFF\xFF", 5);
    return mng(16, 16, chunk("LOOP", loop) + chunk("ENDL", QByteArray(1, '\0')));
}

void tst_ztroiInputs::peakMemoryStaysWithinTheReservation_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("PNG of 50 text chunks of 40 MB each")
        << "text" << QStringList {"--memory", "100"};
    QTest::newRow("JPEG of 400 EXIF segments of 64 KB")
        << "exif" << QStringList {"--memory", "1000"};
    // Regression: an MNG of a loop without frames ran forever. Loops are not played.
    QTest::newRow("MNG of an endless loop")
        << "mng" << QStringList {"--memory", "100", "--input-formats", "mng"};
}

// Every hostile file takes no more memory than ztroi reserved for it, beside what ztroi takes
// for itself: the peak of ztroi --version, started the same way, and the decoders' libraries.
void tst_ztroiInputs::peakMemoryStaysWithinTheReservation()
{
    QFETCH(QString, file);
    QFETCH(QStringList, arguments);

    SKIP_PEAKS_UNDER_ASAN();
    // The decoders' libraries and plugins, which --version does not load.
    constexpr qint64 librariesBytes = qint64(16) << 20;
    QTemporaryDir work;
    qint64 reserved = 0;
    {
        const QByteArray data = hostileFile(file);
        writeFile(work.filePath("hostile"), data);
        const ZTPictureHeader header = ZTPictureHeader::read(data);
        reserved = ZTImageLoader::memoryEstimate(header, data.size())
            + ZTPictureAnalyzer::analysisBytes(ZTAnalysisSettings(), header.size);
    }
    // A child starts with the test's resident memory, which counts into its peak: given back
    // first, so that the peak is ztroi's.
    ::malloc_trim(0);
    const qint64 base = peakMemoryOf({"--version"}, work.path(), 30);
    QVERIFY(base > 0);
    const qint64 peak = peakMemoryOf(arguments + QStringList {"-q", "hostile"}, work.path(), 60);
    QVERIFY2(peak > 0, "ztroi did not end within a minute");
    QVERIFY2(peak <= base + reserved + librariesBytes,
        qPrintable(
            QStringLiteral("peak %1, base %2, reserved %3 bytes")
                .arg(QString::number(peak), QString::number(base), QString::number(reserved))));
}

// ztroi on a file of every format cut at every whole percent of its length, and whole: each cut
// one is refused before its pixels are used, each whole one is read. Under valgrind's memcheck
// when ZTROI_VALGRIND is set (by the CTest test ztroi_valgrind), which then finds any use of bytes
// that no decoder wrote (the RLE picture leaves pixels to the background).
void tst_ztroiInputs::truncatedFilesUnderValgrind()
{
    QTemporaryDir work;
    QStringList files;
    for (const auto& file : ZTPictureFiles::everyFormat()) {
        for (int percent = 1; percent <= 100; ++percent) {
            const QString name
                = QStringLiteral("%1-%2").arg(file.first).arg(percent).replace(' ', '-');
            writeFile(work.filePath(name), file.second.left(file.second.size() * percent / 100));
            files.append(name);
        }
    }
    QStringList command {
        ZTROI_EXECUTABLE, "--json", "--quiet", "--jobs", "2", "--size", "64x64", "--maps"};
    if (!qEnvironmentVariableIsEmpty("ZTROI_VALGRIND")) {
        command = QStringList {"valgrind", "--error-exitcode=99", "--quiet"} + command;
    }
    QProcess process;
    process.setWorkingDirectory(work.path());
    const QString program = command.takeFirst();
    process.start(program, command + files);
    QVERIFY(process.waitForFinished(600000));
    QVERIFY2(process.exitCode() == 1, process.readAllStandardError().constData());
    const QList<QByteArray> lines = process.readAllStandardOutput().trimmed().split('\n');
    QCOMPARE(lines.size(), files.size());
    for (const QByteArray& line : lines) {
        QVERIFY2(line.contains(R"("error")") != line.contains("-100\""), line.constData());
    }
}

void tst_ztroiInputs::searchFindsThePictures_data()
{
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<QList<QByteArray>>("formats");
    QTest::addColumn<QStringList>("found"); // below the root, in the order visited
    QTest::addColumn<int>("problems");

    using L = QStringList;
    const auto row = [](const char* name, const L& tree, const L& found, int problems = 0,
                         const QList<QByteArray>& formats = ZTImageLoader::defaultFormats()) {
        QTest::newRow(name) << tree << formats << found << problems;
    };
    row("pictures by suffix in any case, other files left out",
        {"b.png", "A.JPG", "c.TIFF", "d.jpeg", "notes.txt", "raw.cr2", "noext", "x.jpg.bak",
            "e.ico"},
        {"A.JPG", "b.png", "c.TIFF", "d.jpeg"});
    row("only the formats that are read", {"a.jpg", "b.png", "c.ico"}, {"b.png", "c.ico"}, 0,
        {"png", "ico"});
    // Byte order: upper case first, and a folder's pictures where its name falls.
    row("nested folders in byte order", {"b/x.png", "a.png", "a/z.png", "B.png", "a/y/w.png"},
        {"B.png", "a/y/w.png", "a/z.png", "a.png", "b/x.png"});
    row("hidden files and folders skipped", {".h.png", ".hid/x.png", "v/.y.png", "v/y.png"},
        {"v/y.png"});
    row("symbolic links never followed: loops, the outside, files",
        {"in/p.png", "loop -> .", "up -> ..", "in/back -> ../in", "out -> ../outside",
            "pic.png -> in/p.png", "dangling.png -> nowhere"},
        {"in/p.png"});
    row("files that ztroi wrote are no inputs",
        {"p.png", "p.salience.png", ".ztroi-record/p.salience.png"}, {"p.png"});
    row("a FIFO named like a picture is not read", {"f.png|", "g.png"}, {"g.png"});
    const QString deep = QString("d/").repeated(64);
    row("64 folders deep: found", {deep + "p.png"}, {deep + "p.png"});
    row("deeper than 64 folders: left out and said", {deep + "d/p.png", "q.png"}, {"q.png"}, 1);
}

void tst_ztroiInputs::searchFindsThePictures()
{
    QFETCH(QStringList, tree);
    QFETCH(QList<QByteArray>, formats);
    QFETCH(QStringList, found);
    QFETCH(int, problems);

    QTemporaryDir work;
    buildTree(work.filePath("outside"), {"o.png"});
    buildTree(work.filePath("root"), tree);
    const QString root = work.filePath("root");
    QStringList visited;
    QStringList said;
    QString error;
    // The outputs start from the path below the root, without the suffix.
    const auto visit = [&](const QString& path, const QString& stem) {
        const QString below = path.mid(root.size() + 1);
        visited.append(stem == below.left(below.lastIndexOf('.')) ? below : "stem " + stem);
        return true;
    };
    QVERIFY(ZTPictureFolder::walk(root, formats, visit, &said, &error));
    QCOMPARE(visited, found);
    QVERIFY2(said.size() == problems, qPrintable(said.join('\n')));
}

void tst_ztroiInputs::outputsMirrorTheTree_data()
{
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("inputs");  // in the order of the reports
    QTest::addColumn<QStringList>("outputs"); // below ztroi-out
    QTest::addColumn<QString>("said");        // on standard error

    using L = QStringList;
    const auto row = [](const char* name, const L& tree, const L& arguments, int status,
                         const L& inputs, const L& outputs, const char* said = "") {
        QTest::newRow(name) << tree << arguments << status << inputs << outputs << QString(said);
    };
    row("nested folders mirrored, a picture beside them in the order given",
        {"one.png", "in/b.png", "in/a/c.png", "in/a/deep/one.png"}, {"-r", "in", "one.png"}, 0,
        {"in/a/c.png", "in/a/deep/one.png", "in/b.png", "one.png"},
        {"a/c.salience.png", "a/deep/one.salience.png", "b.salience.png", "one.salience.png"});
    row("a folder without --recursive fails, saying what to add", {"in/p.png"}, {"in"}, 1, {"in"},
        {}, "ztroi: in: is a directory; add --recursive (-r) to analyse the pictures in it\n");
    row("a folder without pictures is said", {"in/notes.txt"}, {"-r", "in"}, 1, {}, {},
        "ztroi: in: no pictures in the folder\n");
    // The subfolder's picture fails; the others are written, nothing through the link.
    row("a symbolic link where a subfolder goes",
        {"in/a/p.png", "in/b.png", "elsewhere/", "ztroi-out/a -> ../elsewhere"}, {"-r", "in"}, 1,
        {"in/a/p.png", "in/b.png"}, {"b.salience.png"},
        "ztroi: in/a/p.png: ztroi-out/a is a symbolic link; ztroi neither follows nor replaces it");
    row("a file where a subfolder goes", {"in/a/p.png", "ztroi-out/a"}, {"-r", "in"}, 1,
        {"in/a/p.png"}, {"a"}, "ztroi-out/a is not a folder; ztroi does not replace it");
}

void tst_ztroiInputs::outputsMirrorTheTree()
{
    QFETCH(QStringList, tree);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QStringList, inputs);
    QFETCH(QStringList, outputs);
    QFETCH(QString, said);

    QTemporaryDir work;
    buildTree(work.path(), tree);
    const QByteArray blocked = contentOf(work.filePath("ztroi-out/a"));
    const Run run = ztroi(QStringList {"--json", "-q"} + arguments, work.path());
    QCOMPARE(run.exitCode, status);
    QCOMPARE(inputsOf(run.out), inputs);
    QCOMPARE(filesBelow(work.filePath("ztroi-out")), outputs);
    QVERIFY2(run.err.contains(said.toUtf8()), run.err.constData());
    // Nothing was written through a link, and a file in the way is as it was.
    QCOMPARE(filesBelow(work.filePath("elsewhere")), QStringList());
    QCOMPARE(contentOf(work.filePath("ztroi-out/a")), blocked);
}

// The console line of a picture tells enlarged crops apart from the weak ones, with their
// warnings; the totals count both. The JSON rounds the salience kept, not truncates it. The
// progress bar's time to go waits for a pace, counts a part of a second as one, and shows hours
// from an hour on. End to end: one line a picture in input order whatever the jobs, the totals
// last; the broken picture has its line on standard error, not among the summaries, and leaves
// nothing in the output folder.
void tst_ztroiInputs::console()
{
    ZTPictureReport report;
    report.input = "p.jpg";
    report.inputSize = QSize(4032, 3024);
    report.files = {{"salience", "out/p.salience.png"}};
    report.facesFound = 0;
    report.seconds = 0.414;
    report.crops = {crop("1080x1350", 2.4, {"enlarged"}), crop("1:1", 1.0),
        crop("16:9", 1.5, {"enlarged", "cuts-face", "low-salience"}),
        crop("4:5", 1.0, {"cuts-area"})};
    QCOMPARE(ZTReportFormatter::toLine(report),
        "p.jpg  4032x3024  4 crops  faces 0  0.41 s  enlarged: 1080x1350 2.40x, 16:9 1.50x  "
        "weak: 16:9 (cuts-face, low-salience), 4:5 (cuts-area)");
    report.crops[1].salienceKept = 0.123456;
    QCOMPARE(
        ZTReportFormatter::toJson(report).value("crops")[1]["salienceKept"].toDouble(), 0.1235);
    ZTRunTotals sum;
    sum.add(report);
    QCOMPARE(sum.text(1.5),
        "1 picture analysed, 0 failed; 1 file written; crops: 2 enlarged, 2 weak; 1.50 s");
    QCOMPARE(ZTProgressBar::etaText(5000, 0, 10), QString());
    QCOMPARE(ZTProgressBar::etaText(1001, 1, 2), QStringLiteral("ETA 0:02"));
    QCOMPARE(ZTProgressBar::etaText(3601000, 1, 2), QStringLiteral("ETA 1:00:01"));
    // ztroi itself, with a broken picture between two good ones.
    QTemporaryDir work;
    buildTree(work.path(), {"in/a.png", "in/s/c.png"});
    writeFile(work.filePath("in/b.png"), "not a picture");
    const Run run = ztroi({"--jobs", "3", "-r", "in"}, work.path());
    QCOMPARE(run.exitCode, 1);
    const QString printed
        = QString::fromUtf8(run.out).replace(QRegularExpression("\\b\\d+\\.\\d\\d s\\b"), "# s");
    QCOMPARE(printed,
        "in/a.png  64x48  3 crops  # s\nin/s/c.png  64x48  3 crops  # s\n"
        "2 pictures analysed, 1 failed; 2 files written; crops: 0 enlarged, 0 weak; # s\n");
    QVERIFY2(
        run.err.startsWith("ztroi: in/b.png: ") && run.err.count('\n') == 1, run.err.constData());
    QCOMPARE(filesBelow(work.filePath("ztroi-out")),
        (QStringList {"a.salience.png", "s/c.salience.png"}));
}

// Regression: every entry stayed in memory, 2.75 GB for a list of 100 MB. Only the output names
// grow now, within what the run sets aside for them.
void tst_ztroiInputs::longListTakesBoundedMemory()
{
    SKIP_PEAKS_UNDER_ASAN();
    QTemporaryDir work;
    writeFile(work.filePath("short"), missingPictures(1000));
    writeFile(work.filePath("long"), missingPictures(200000));
    const QStringList options {"--no-map", "--json", "--quiet", "--jobs", "2", "--list"};
    const qint64 shortPeak = peakMemoryOf(options + QStringList {"short"}, work.path(), 120);
    const qint64 longPeak = peakMemoryOf(options + QStringList {"long"}, work.path(), 120);
    QVERIFY(shortPeak > 0 && longPeak > 0);
    const qint64 growth = longPeak - shortPeak;
    QVERIFY2(growth < (20 << 20), qPrintable(QString::number(growth >> 10) + " KB more"));
}

void tst_ztroiInputs::standardInputIsReadAsAFile_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QStringList>("entries");

    QTest::newRow("--list: blank lines and carriage returns dropped, spaces kept")
        << "--list" << QByteArray("\r\n a b \r\n\n   \nx.jpg\r\n")
        << QStringList {" a b ", "x.jpg"};
    QTest::newRow("--list0: empty entries skipped, line feeds kept")
        << "--list0" << QByteArray("\0\0new\nline\0\0x.jpg", 18)
        << QStringList {"new\nline", "x.jpg"};
}

// The pictures on the command line come first, then the list's entries. Standard input is read
// once into the spool, yet gives the same run as the file with the same bytes.
void tst_ztroiInputs::standardInputIsReadAsAFile()
{
    QFETCH(QString, option);
    QFETCH(QByteArray, list);
    QFETCH(QStringList, entries);

    QTemporaryDir work;
    writeFile(work.filePath("list"), list);
    const QStringList options {"--no-map", "--json", "--quiet", "--jobs", "2", "c.jpg", option};
    const Run fromFile = ztroi(options + QStringList {"list"}, work.path());
    const Run fromPipe = ztroi(options + QStringList {"-"}, work.path(), list);
    QCOMPARE(fromFile.exitCode, 1);
    QCOMPARE(inputsOf(fromFile.out), QStringList {"c.jpg"} + entries);
    QCOMPARE(fromPipe.exitCode, fromFile.exitCode);
    QCOMPARE(fromPipe.out, fromFile.out);
    QCOMPARE(fromPipe.err, fromFile.err);
}

// The salience map of d/dog.jpg would take the name of an input that comes after it, both read
// from standard input.
void tst_ztroiInputs::laterInputIsNeverReplaced()
{
    QTemporaryDir work;
    QVERIFY(QDir(work.path()).mkdir("d"));
    writeFile(work.filePath("d/dog.jpg"), encoded(scene(QSize(120, 80), QPoint(40, 30)), "jpeg"));
    const QByteArray later = encoded(scene(QSize(60, 40), QPoint(20, 20)), "png");
    writeFile(work.filePath("d/dog.salience.png"), later);
    const Run run = ztroi({"--json", "--quiet", "--jobs", "1", "--out", "d", "--list0", "-"},
        work.path(), QByteArray("d/dog.jpg\0d/dog.salience.png\0", 29));
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains("is an input of this run; ztroi does not replace it"),
        run.err.constData());
    QCOMPARE(contentOf(work.filePath("d/dog.salience.png")), later);
}

// Regression: naming 40,000 inputs came before the first picture (85 s for inputs of one name),
// and a signal then went unheeded. The first picture comes at once; the batch stops soon after
// SIGTERM, with its status.
void tst_ztroiInputs::signalDuringALongListIsHonoured()
{
    QTemporaryDir work;
    writeFile(work.filePath("list"), missingPictures(200000, true));
    QProcess process;
    process.setWorkingDirectory(work.path());
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral(ZTROI_EXECUTABLE),
        {"--no-map", "--json", "--quiet", "--jobs", "2", "--list", "list"});
    while (!process.canReadLine() && timer.elapsed() < 10000) {
        process.waitForReadyRead(1000);
    }
    QVERIFY2(process.canReadLine(), "no picture within 10 s");
    timer.restart();
    ::kill(pid_t(process.processId()), SIGTERM);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 128 + SIGTERM);
    QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
}

// The same names as the plain search on a few telling lists and on lists drawn from bases and
// their numbered forms, where the two searches could part; and the output names of a batch.
void tst_ztroiInputs::uniqueNamesAsThePlainSearch()
{
    const auto uniqueNames = [](const QStringList& bases) {
        ZTUniqueNames unique;
        QStringList names;
        for (const QString& base : bases) {
            names.append(unique.take(base));
        }
        return names;
    };
    const QStringList bases {"p-2", "p", "p", "p-2", "p-3", "P", "p%1", "p%1"};
    QCOMPARE(uniqueNames(bases),
        (QStringList {"p-2", "p", "p-3", "p-2-2", "p-3-2", "P", "p%1", "p%1-2"}));
    QRandomGenerator random(24);
    const QStringList alphabet {"p", "p-2", "p-3", "p-2-2", "p-10", "q", "q-2", "p-1", "p-02"};
    for (int list = 0; list < 500; ++list) {
        QStringList bases;
        for (int i = random.bounded(1, 40); i > 0; --i) {
            bases.append(alphabet.at(random.bounded(alphabet.size())));
        }
        QCOMPARE(uniqueNames(bases), plainUniqueNames(bases));
    }
    // Output names from the inputs' file names without their last suffix, numbered in input
    // order. Regression: 40,000 inputs of one base name took 85 s to name, a search from 2 each.
    QCOMPARE(ZTBatchRunner::outputNames(
                 {"a/IMG_1.jpg", "b/IMG_1.JPG", "a/p.tar.png", "p.tar", ".png", "a/picture.jpg"}),
        (QStringList {"IMG_1", "IMG_1-2", "p.tar", "p", "picture", "picture-2"}));
    constexpr int count = 40000;
    QStringList inputs;
    for (int i = 0; i < count; ++i) {
        inputs.append(QStringLiteral("folder%1/IMG_0001.JPG").arg(i));
    }
    QElapsedTimer timer;
    timer.start();
    const QStringList names = ZTBatchRunner::outputNames(inputs);
    QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(names.last(), QStringLiteral("IMG_0001-40000"));
}

QTEST_GUILESS_MAIN(tst_ztroiInputs)
#include "tst_ztroiInputs.moc"
