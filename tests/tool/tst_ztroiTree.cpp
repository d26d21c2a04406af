// ztroi with folders as inputs: which files of a tree are pictures, the outputs mirrored under
// the output folder with its rules held in every subfolder; and the console: one line a
// picture, the totals, the progress bar's time to go.

#include "ZTPictureFolder.h"
#include "ZTProgressBar.h"
#include "ZTRunTotals.h"
#include "ZTToolTestSupport.h"
#include "input/ZTImageLoader.h"
#include "report/ZTReportFormatter.h"

#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <sys/stat.h>

Q_DECLARE_METATYPE(ZTPictureReport)

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
    ZTCrop crop;
    crop.request.text = request;
    crop.scale = scale;
    crop.warnings = warnings;
    return crop;
}

} // namespace

class tst_ztroiTree : public QObject
{
    Q_OBJECT

private slots:
    void searchFindsThePictures_data();
    void searchFindsThePictures();
    void outputsMirrorTheTree_data();
    void outputsMirrorTheTree();
    void outputsInsideTheTreeAreNotInputs_data();
    void outputsInsideTheTreeAreNotInputs();
    void summaryLineAndTotals_data();
    void summaryLineAndTotals();
    void consoleOutput_data();
    void consoleOutput();
    void timeToGo_data();
    void timeToGo();
};

void tst_ztroiTree::searchFindsThePictures_data()
{
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<QList<QByteArray>>("formats");
    QTest::addColumn<QStringList>("found"); // below the root, in the order visited
    QTest::addColumn<int>("problems");

    const QList<QByteArray> all = ZTImageLoader::defaultFormats();
    QTest::newRow("pictures by suffix in any case, other files left out")
        << QStringList {"b.png", "A.JPG", "c.TIFF", "d.jpeg", "notes.txt", "raw.cr2", "noext",
               "x.jpg.bak", "e.ico"}
        << all << QStringList {"A.JPG", "b.png", "c.TIFF", "d.jpeg"} << 0;
    QTest::newRow("only the formats that are read")
        << QStringList {"a.jpg", "b.png", "c.ico"} << QList<QByteArray> {"png", "ico"}
        << QStringList {"b.png", "c.ico"} << 0;
    // Byte order: upper case first, and a folder's pictures where its name falls.
    QTest::newRow("nested folders in byte order")
        << QStringList {"b/x.png", "a.png", "a/z.png", "B.png", "a/y/w.png"} << all
        << QStringList {"B.png", "a/y/w.png", "a/z.png", "a.png", "b/x.png"} << 0;
    QTest::newRow("hidden files and folders skipped")
        << QStringList {".h.png", ".hid/x.png", "v/.y.png", "v/y.png"} << all
        << QStringList {"v/y.png"} << 0;
    QTest::newRow("symbolic links never followed: loops, the outside, files")
        << QStringList {"in/p.png", "loop -> .", "up -> ..", "in/back -> ../in",
               "out -> ../outside", "pic.png -> in/p.png", "dangling.png -> nowhere"}
        << all << QStringList {"in/p.png"} << 0;
    QTest::newRow("files that ztroi wrote are no inputs")
        << QStringList {"p.png", "p.salience.png", ".ztroi-record/p.salience.png"} << all
        << QStringList {"p.png"} << 0;
    QTest::newRow("a FIFO named like a picture is not read")
        << QStringList {"f.png|", "g.png"} << all << QStringList {"g.png"} << 0;
    QString deep;
    for (int i = 0; i <= ZTPictureFolder::maxDepth; ++i) {
        deep += "d/";
    }
    QTest::newRow("deeper than the limit: left out and said")
        << QStringList {deep + "p.png", "q.png"} << all << QStringList {"q.png"} << 1;
}

void tst_ztroiTree::searchFindsThePictures()
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
    QVERIFY(ZTPictureFolder::walk(
        root, formats,
        [&](const QString& path, const QString& stem) {
            const QString below = path.mid(root.size() + 1);
            // The outputs start from the path below the root, without the suffix.
            if (stem != below.left(below.lastIndexOf('.'))) {
                qWarning("%s: stem %s", qPrintable(path), qPrintable(stem));
                return false;
            }
            visited.append(below);
            return true;
        },
        &said, &error));
    QCOMPARE(visited, found);
    QVERIFY2(said.size() == problems, qPrintable(said.join('\n')));
}

void tst_ztroiTree::outputsMirrorTheTree_data()
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
    row("nested folders mirrored", {"in/b.png", "in/a/c.png", "in/a/deep/d.png"}, {"-r", "in"}, 0,
        {"in/a/c.png", "in/a/deep/d.png", "in/b.png"},
        {"a/c.salience.png", "a/deep/d.salience.png", "b.salience.png"});
    row("the same names in two folders", {"x/p.png", "y/p.png"}, {"-r", "x", "y/"}, 0,
        {"x/p.png", "y/p.png"}, {"p-2.salience.png", "p.salience.png"});
    row("a picture beside a folder, in the order given", {"one.png", "in/a/one.png"},
        {"-r", "in", "one.png"}, 0, {"in/a/one.png", "one.png"},
        {"a/one.salience.png", "one.salience.png"});
    row("a folder without --recursive fails, saying what to add", {"in/p.png"}, {"in"}, 1, {"in"},
        {}, "ztroi: in: is a directory; add --recursive (-r) to analyse the pictures in it\n");
    row("a folder without pictures is said", {"in/notes.txt"}, {"-r", "in"}, 1, {}, {},
        "ztroi: in: no pictures in the folder\n");
    // The subfolder's picture fails; the others are written, nothing through the link.
    row("a symbolic link where a subfolder goes",
        {"in/a/p.png", "in/b.png", "elsewhere/", "ztroi-out/a -> ../elsewhere"}, {"-r", "in"}, 1,
        {"in/a/p.png", "in/b.png"}, {"b.salience.png"},
        "ztroi: in/a/p.png: ztroi-out/a is a symbolic link; ztroi neither follows nor replaces it");
    row("a link two levels down",
        {"in/a/b/p.png", "elsewhere/", "ztroi-out/a/b -> ../../elsewhere"}, {"-r", "in"}, 1,
        {"in/a/b/p.png"}, {}, "ztroi-out/a/b is a symbolic link");
    row("a file where a subfolder goes", {"in/a/p.png", "ztroi-out/a"}, {"-r", "in"}, 1,
        {"in/a/p.png"}, {"a"}, "ztroi-out/a is not a folder; ztroi does not replace it");
}

void tst_ztroiTree::outputsMirrorTheTree()
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

void tst_ztroiTree::outputsInsideTheTreeAreNotInputs_data()
{
    QTest::addColumn<QString>("out");
    QTest::addColumn<QStringList>("written"); // below the tree, after the second run

    QTest::newRow("beside the pictures")
        << "in" << QStringList {"a/p.png", "a/p.salience.png", "q.png", "q.salience.png"};
    QTest::newRow("a folder inside the tree")
        << "in/maps"
        << QStringList {"a/p.png", "maps/a/p.salience.png", "maps/q.salience.png", "q.png"};
}

// A second run over the tree finds the same pictures, not the outputs of the first.
void tst_ztroiTree::outputsInsideTheTreeAreNotInputs()
{
    QFETCH(QString, out);
    QFETCH(QStringList, written);

    QTemporaryDir work;
    buildTree(work.path(), {"in/a/p.png", "in/q.png"});
    for (int run = 0; run < 2; ++run) {
        const Run done = ztroi({"--json", "-q", "-r", "--out", out, "in"}, work.path());
        QCOMPARE(done.exitCode, 0);
        QCOMPARE(inputsOf(done.out), (QStringList {"in/a/p.png", "in/q.png"}));
    }
    QCOMPARE(filesBelow(work.filePath("in")), written);
}

void tst_ztroiTree::summaryLineAndTotals_data()
{
    QTest::addColumn<ZTPictureReport>("report");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("totals");

    ZTPictureReport plain;
    plain.input = "p.jpg";
    plain.inputSize = QSize(4032, 3024);
    plain.crops = {crop("1:1", 0.5), crop("4:5", 1.0), crop("16:9", 0.25)};
    plain.files = {{"salience", "out/p.salience.png"}};
    QTest::newRow("reduced crops are not enlarged; no faces looked for, no time")
        << plain << "p.jpg  4032x3024  3 crops"
        << "1 picture analysed, 0 failed; 1 file written; crops: 0 enlarged, 0 weak; 1.50 s";

    ZTPictureReport enlarged = plain;
    enlarged.facesFound = 0;
    enlarged.seconds = 0.414;
    enlarged.crops = {crop("1080x1350", 2.4, {"enlarged"}), crop("1:1", 1.0),
        crop("16:9", 1.5, {"enlarged", "cuts-face", "low-salience"}),
        crop("4:5", 1.0, {"cuts-area"})};
    QTest::newRow("enlarged and weak crops, enlarging told apart")
        << enlarged
        << "p.jpg  4032x3024  4 crops  faces 0  0.41 s  enlarged: 1080x1350 2.40x, 16:9 1.50x  "
           "weak: 16:9 "
           "(cuts-face, low-salience), 4:5 (cuts-area)"
        << "1 picture analysed, 0 failed; 1 file written; crops: 2 enlarged, 2 weak; 1.50 s";

    ZTPictureReport failed;
    failed.input = "bad.png";
    failed.fail(ZTError::Kind::Damaged, "truncated\ndata");
    QTest::newRow("a failed picture")
        << failed << "bad.png: truncated data"
        << "0 pictures analysed, 1 failed; 0 files written; crops: 0 enlarged, 0 weak; 1.50 s";
}

void tst_ztroiTree::summaryLineAndTotals()
{
    QFETCH(ZTPictureReport, report);
    QFETCH(QString, line);
    QFETCH(QString, totals);

    QCOMPARE(ZTReportFormatter::toLine(report), line);
    ZTRunTotals sum;
    sum.add(report);
    QCOMPARE(sum.text(1.5), totals);
}

void tst_ztroiTree::consoleOutput_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("lines"); // patterns of standard output's lines

    const QString time = "\\d+\\.\\d\\d s";
    QTest::newRow("one line a picture, the totals last")
        << QStringList {"-r", "in"}
        << QStringList {"in/a\\.png  64x48  3 crops  " + time,
               "in/s/c\\.png  64x48  3 crops  " + time,
               "2 pictures analysed, 1 failed; 2 files written; crops: 0 enlarged, 0 weak; "
                   + time};
    QTest::newRow("--verbose: the detailed block, the totals last")
        << QStringList {"-r", "--verbose", "--no-crops", "--no-map", "in"}
        << QStringList {"in/a\\.png: 64x48 pixels, analysed at 480x360", "  focal point  .*",
               "in/s/c\\.png: 64x48 pixels, analysed at 480x360", "  focal point  .*",
               "2 pictures analysed, 1 failed; 0 files written; crops: 0 enlarged, 0 weak; "
                   + time};
}

// The broken picture has its line on standard error, not among the summaries.
void tst_ztroiTree::consoleOutput()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, lines);

    QTemporaryDir work;
    buildTree(work.path(), {"in/a.png", "in/s/c.png"});
    writeFile(work.filePath("in/b.png"), "not a picture");
    const Run run = ztroi(arguments, work.path());
    QCOMPARE(run.exitCode, 1);
    QStringList printed = QString::fromUtf8(run.out).split('\n');
    QCOMPARE(printed.takeLast(), QString());
    QCOMPARE(printed.size(), lines.size());
    for (int i = 0; i < lines.size(); ++i) {
        const QRegularExpression pattern(QRegularExpression::anchoredPattern(lines.at(i)));
        QVERIFY2(pattern.match(printed.at(i)).hasMatch(), qPrintable(printed.at(i)));
    }
    QVERIFY2(
        run.err.startsWith("ztroi: in/b.png: ") && run.err.count('\n') == 1, run.err.constData());
}

void tst_ztroiTree::timeToGo_data()
{
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("total");
    QTest::addColumn<QString>("eta");

    QTest::newRow("nothing done: no pace yet") << qint64(5000) << 0 << 10 << "";
    QTest::newRow("half way") << qint64(10000) << 5 << 10 << "ETA 0:10";
    QTest::newRow("a part of a second counts as one") << qint64(1001) << 1 << 2 << "ETA 0:02";
    QTest::newRow("minutes and seconds") << qint64(125000) << 1 << 2 << "ETA 2:05";
    QTest::newRow("from an hour on, hours") << qint64(3601000) << 1 << 2 << "ETA 1:00:01";
}

void tst_ztroiTree::timeToGo()
{
    QFETCH(qint64, elapsedMs);
    QFETCH(int, done);
    QFETCH(int, total);
    QFETCH(QString, eta);

    QCOMPARE(ZTProgressBar::etaText(elapsedMs, done, total), eta);
}

QTEST_MAIN(tst_ztroiTree)
#include "tst_ztroiTree.moc"
