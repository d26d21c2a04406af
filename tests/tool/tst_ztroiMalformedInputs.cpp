// What ztroi reads and what it refuses: truncated files of every format, hostile files whose
// decoding would take too much memory, a file that changes while it waits for memory, inputs that
// are not regular files, names that are not UTF-8, and lists of paths. The structure checks and
// the loader's limits, row by row, are in tst_ZTImageLoader; damaged bytes anywhere, in the
// fuzz targets.

#include "ZTPictureFiles.h"
#include "analysis/ZTPictureAnalyzer.h"
#include "input/ZTImageLoader.h"
#include "input/ZTMemoryBudget.h"

#include <QProcess>
#include <QtTest>

#include <malloc.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

class tst_ztroiMalformedInputs : public QObject
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
};

// A picture whose decoding does not fit beside the others drops its file's bytes while it waits
// for memory, and reads the file again once it may: a file that grew meanwhile is refused.
void tst_ztroiMalformedInputs::waitingForMemoryReadsTheFileAgain()
{
    using namespace ZTPictureFiles;
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
    writeFile(path, pngClaiming(100, 100));
    budget.release(held);
    loading.join();
    QVERIFY(!loaded);
    QCOMPARE(loader.errorString(), QString("the file changed while it was read"));
    QVERIFY(loader.image().isNull());
}

// Regression: --max-side above about 23000 counted every W:H crop as a square of that side, and
// every picture was refused for memory ("needs about 76311 MB").
void tst_ztroiMalformedInputs::maxSideCountsCropsAsLargeAsThePicture()
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

void tst_ztroiMalformedInputs::inputsThatCannotBeRead_data()
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
}

void tst_ztroiMalformedInputs::inputsThatCannotBeRead()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, error);

    QTemporaryDir work;
    QCOMPARE(mkfifo(qPrintable(work.filePath("fifo")), 0600), 0);
    writeFile(work.filePath("a"), "missing 1\n");
    writeFile(work.filePath("z"), QByteArray("new\nline\0\0second", 17));
    const Run run = ztroi(QStringList {"--json", "--quiet"} + arguments, work.path());
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.out.isEmpty(), exitCode == 2);
    QVERIFY2(run.err.startsWith(("ztroi: " + error).toUtf8()) && run.err.count("ztroi: ") == 1,
        run.err.constData());
}

// A name is opened by its bytes, and JSON gives each byte that is not UTF-8 as the character
// U+DC00 plus the byte; a name starting with ':' is a file like any other. Control bytes are
// escaped on standard error, so that each failed picture has one line there, and JSON escapes
// them its own way.
void tst_ztroiMalformedInputs::namesAreTakenAsTheirBytes()
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
    QByteArray loop(1, '\0'); // nesting level, then 2^31 - 1 iterations of no frames
    appendBigEndian<quint32>(loop, 0x7FFFFFFF);
    return mng(16, 16, chunk("LOOP", loop) + chunk("ENDL", QByteArray(1, '\0')));
}

void tst_ztroiMalformedInputs::peakMemoryStaysWithinTheReservation_data()
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
void tst_ztroiMalformedInputs::peakMemoryStaysWithinTheReservation()
{
    QFETCH(QString, file);
    QFETCH(QStringList, arguments);

#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer's shadow memory inflates the peak");
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    QSKIP("AddressSanitizer's shadow memory inflates the peak");
#endif
#endif
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
void tst_ztroiMalformedInputs::truncatedFilesUnderValgrind()
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

QTEST_GUILESS_MAIN(tst_ztroiMalformedInputs)
#include "tst_ztroiMalformedInputs.moc"
