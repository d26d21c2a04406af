// What ztroi reads and what it refuses: truncated and damaged files of every format, formats that
// are not allowed, pictures whose decoding would take too much memory or time, inputs that are
// not regular files, names that are not UTF-8, and lists of paths.

#include "ZTPictureFiles.h"
#include "ZTToolTestSupport.h"
#include "analysis/ZTPictureAnalyzer.h"
#include "input/ZTImageLoader.h"
#include "input/ZTMemoryBudget.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

QString loadError(ZTImageLoader& loader, const QByteArray& data)
{
    QByteArray copy = data;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    return loader.load(&buffer) ? QString() : loader.errorString();
}

// Colours 0 and 1 of the RLE pictures below, and the picture of rows (top to bottom) of '.'
// for colour 0 and '#' for colour 1.
const QVector<QRgb> rleColours = {qRgb(10, 20, 30), qRgb(250, 240, 230)};

QImage rleRows(const QStringList& rows)
{
    QImage image(rows.first().size(), rows.size(), QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            image.setPixel(x, y, rleColours.at(rows.at(y).at(x) == '#' ? 1 : 0));
        }
    }
    return image;
}

// RLE BMPs of 8x4 whose codes leave pixels out.
QByteArray rleEndingEarly()
{
    return ZTPictureFiles::rleBmp(QSize(8, 4), 8, rleColours, QByteArray("\x08\x01\0\1", 4));
}

QByteArray rleJumpingRows()
{
    return ZTPictureFiles::rleBmp(
        QSize(8, 4), 4, rleColours, QByteArray("\x08\x11\0\0\0\2\2\2\x06\x11\0\1", 12));
}

} // namespace

class tst_ztroiMalformedInputs : public QObject
{
    Q_OBJECT

private slots:
    void truncatedFilesAreRefused_data();
    void truncatedFilesAreRefused();
    void refusedBeforeDecoding_data();
    void refusedBeforeDecoding();
    void waitingForMemoryReadsTheFileAgain_data();
    void waitingForMemoryReadsTheFileAgain();
    void inputsThatAreNotPictureFiles_data();
    void inputsThatAreNotPictureFiles();
    void namesAreTakenAsTheirBytes();
    void controlBytesInNamesAreEscapedOnStandardError();
    void unreadableListsAreRefused_data();
    void unreadableListsAreRefused();
    void decoderMessagesOnlyWithVerbose();
    void textAndCommentsAreNotDecoded_data();
    void textAndCommentsAreNotDecoded();
    void rlePixelsNotInTheFileAreBackground_data();
    void rlePixelsNotInTheFileAreBackground();
    void maxSideCountsCropsAsLargeAsThePicture();
    void peakMemoryStaysWithinTheReservation_data();
    void peakMemoryStaysWithinTheReservation();
    void truncatedFilesUnderValgrind();
};

void tst_ztroiMalformedInputs::truncatedFilesAreRefused_data()
{
    QTest::addColumn<QByteArray>("data");
    for (const auto& file : ZTPictureFiles::everyFormat()) {
        QTest::newRow(qPrintable(file.first)) << file.second;
    }
}

// Every file cut at any whole percent of its length is refused before its pixels are used. A
// damaged byte anywhere gives a refusal with a reason or a whole picture, never a crash (the
// sanitizer and valgrind runs catch reads of memory that the decoder did not write).
void tst_ztroiMalformedInputs::truncatedFilesAreRefused()
{
    QFETCH(QByteArray, data);

    ZTImageLoader loader;
    QCOMPARE(loadError(loader, data), QString());
    QCOMPARE(loader.image().size(), QSize(64, 48));
    for (int percent = 1; percent < 100; ++percent) {
        const QString error = loadError(loader, data.left(data.size() * percent / 100));
        QVERIFY2(
            !error.isEmpty(), qPrintable(QStringLiteral("accepted when cut at %1 %").arg(percent)));
    }
    for (int i = 0; i < 64; ++i) {
        QByteArray damaged = data;
        damaged[i * data.size() / 64] = char(damaged.at(i * data.size() / 64) ^ 0x5A);
        if (loadError(loader, damaged).isEmpty()) {
            QCOMPARE(loader.image().format(), QImage::Format_ARGB32);
        }
    }
}

void tst_ztroiMalformedInputs::refusedBeforeDecoding_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("formats"); // allowed besides the default ones
    QTest::addColumn<qint64>("maxPixels");
    QTest::addColumn<qint64>("budget"); // bytes; 0: none
    QTest::addColumn<QString>("error");

    using namespace ZTPictureFiles;
    const qint64 unlimited = ZTImageLoader::defaultMaxPixels;
    const QByteArray smallPng = encoded(scene(QSize(8, 8), QPoint(4, 4)), "png");
    const QByteArray smallJpeg = encoded(scene(QSize(8, 8), QPoint(4, 4)), "jpeg");
    const auto row = [](const char* name, const QByteArray& data, const char* formats,
                         qint64 maxPixels, qint64 budget, const char* error) {
        QTest::newRow(name) << data << formats << maxPixels << budget << error;
    };
    // Regression: a 108-byte MNG declaring 60000x60000 took 14 GB whatever --max-pixels said.
    row("MNG declaring 60000x60000", mngClaiming(60000, 60000), "mng", qint64(1000), 0,
        "too large (60000x60000, more than 1000 pixels)");
    // Regression: an ICO whose directory says 256x256 around a 15000x15000 PNG took 0.9 GB.
    row("ICO around a larger PNG", icoAround(pngClaiming(15000, 15000)), "ico", unlimited, 0,
        "too large (15000x15000");
    row("ICO of a small PNG, allowed", icoAround(smallPng), "ico", unlimited, 0, "");
    row("XPM, which Qt reads but ztroi does not",
        QByteArray("/* XPM */\nstatic char* x[] = {\"1 1 1 1\", \"a c #000000\", \"a\"};\n"), "",
        unlimited, 0, "not a picture in a format that can be read");
    // Regression: a 35-byte GIF with a screen of 10000x10000 decoded into 0.8 GB.
    row("GIF screen beyond the memory budget", gifScreen(10000, 10000), "", unlimited, 500,
        "more than the memory budget");
    row("16-bit PNG counts 12 bytes a pixel", pngClaiming(1000, 1000, 16), "", unlimited, 11,
        "needs about 12 MB");
    // Qt 6 refuses such a tile, Qt 5 reads it: refused alike for both.
    row("TIFF of 8x8 in one 16x16 tile",
        tiff(QSize(8, 8), 3, QByteArray(16 * 16 * 3, '\0'), QSize(16, 16)), "", unlimited, 0,
        "tiles larger than the picture (16x16)");
    // Regression: a limit up to 2^63 let a PNG of INT_MAX x INT_MAX overflow the memory count.
    row("PNG of INT_MAX x INT_MAX, no limit", pngClaiming(INT_MAX, INT_MAX), "",
        std::numeric_limits<qint64>::max(), 0, "more than 1099511627776 pixels");
    row("PNG of 2^40 pixels, the largest limit", pngClaiming(1 << 20, 1 << 20), "",
        ZTImageLoader::largestMaxPixels, 100, "needs about 8388609 MB");
    row("PNG whose ICC profile inflates to 32 MB", pngWith(smallPng, iCCPOf(32 << 20)), "",
        unlimited, 0, "an ICC profile larger than 16 MB");
    // Qt joins EXIF segments after libjpeg has kept them all: three times their 19 MB.
    row("JPEG's EXIF segments count", jpegWith(smallJpeg, 0xE1, 300, 65000), "", unlimited, 50,
        "needs about 75 MB");
    // Regression: a JPEG whose last scan was repeated 2000 times decoded for 23 seconds.
    row("JPEG of 2010 scans", manyScans(2000), "", unlimited, 0,
        "too many scans (2010, more than 100)");
}

void tst_ztroiMalformedInputs::refusedBeforeDecoding()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, formats);
    QFETCH(qint64, maxPixels);
    QFETCH(qint64, budget);
    QFETCH(QString, error);

    ZTMemoryBudget memory(budget << 20);
    ZTImageLoader loader;
    loader.setFormats(ZTImageLoader::defaultFormats() + QList<QByteArray> {formats.toLatin1()});
    loader.setMaxPixels(maxPixels);
    loader.setMemoryBudget(budget > 0 ? &memory : nullptr);
    QElapsedTimer timer;
    timer.start();
    const QString actual = loadError(loader, data);
    QVERIFY2(error.isEmpty() ? actual.isEmpty() : actual.contains(error), qPrintable(actual));
    QVERIFY(timer.elapsed() < 2000);
}

void tst_ztroiMalformedInputs::waitingForMemoryReadsTheFileAgain_data()
{
    QTest::addColumn<bool>("replaced"); // by a larger picture while the loader waits
    QTest::addColumn<QString>("error");

    QTest::newRow("same file") << false << "";
    QTest::newRow("replaced by a larger picture") << true << "the file changed while it was read";
}

// A picture whose decoding does not fit beside the others drops its file's bytes while it waits
// for memory, and reads the file again once it may: a file that grew meanwhile is refused.
void tst_ztroiMalformedInputs::waitingForMemoryReadsTheFileAgain()
{
    QFETCH(bool, replaced);
    QFETCH(QString, error);

    using namespace ZTPictureFiles;
    QTemporaryDir work;
    const QString path = work.filePath("picture.png");
    writeFile(path, encoded(scene(QSize(64, 48), QPoint(40, 20)), "png"));
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
    if (replaced) {
        writeFile(path, pngClaiming(100, 100));
    }
    budget.release(held);
    loading.join();
    QCOMPARE(loaded, error.isEmpty());
    QCOMPARE(loader.errorString(), error);
    QCOMPARE(loader.image().size(), error.isEmpty() ? QSize(64, 48) : QSize(0, 0));
}

void tst_ztroiMalformedInputs::inputsThatAreNotPictureFiles_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("error");

    QTest::newRow("FIFO without a writer") << "fifo"
                                           << "not a regular file";
    QTest::newRow("device") << "/dev/zero"
                            << "not a regular file";
    QTest::newRow("name of a resource") << ":/samples/coffee.jpg"
                                        << "no such file";
}

// Refused at once, without reading from them: a FIFO without a writer hung the whole run.
void tst_ztroiMalformedInputs::inputsThatAreNotPictureFiles()
{
    QFETCH(QString, input);
    QFETCH(QString, error);

    QTemporaryDir work;
    QCOMPARE(mkfifo(qPrintable(work.filePath("fifo")), 0600), 0);
    const Run run = ztroi({"--quiet", "--no-map", input}, work.path());
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.startsWith("ztroi: " + input.toUtf8() + ": " + error.toUtf8())
            && run.err.count('\n') == 1,
        run.err.constData());
}

// A name that is not UTF-8 is opened by its bytes, and JSON gives each byte that is not UTF-8 as
// the character U+DC00 plus the byte; a name starting with ':' is a file like any other.
void tst_ztroiMalformedInputs::namesAreTakenAsTheirBytes()
{
    QTemporaryDir work;
    const QByteArray jpeg = encoded(scene(QSize(32, 24), QPoint(8, 8)), "jpeg");
    const QByteArray latin1Name = "caf\xE9.jpg";
    writeFile(work.path() + "/:picture.jpg", jpeg); // filePath() takes it for a resource
    QFile file;
    const QByteArray path = QFile::encodeName(work.path()) + '/' + latin1Name;
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT, 0600);
    QVERIFY(
        file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle) && file.write(jpeg) > 0);
    file.close();

    QProcess process;
    process.setWorkingDirectory(work.path());
    process.start("sh",
        {"-c",
            QStringLiteral("exec '%1' --json --no-map ':picture.jpg' \"$(printf 'caf\\351.jpg')\"")
                .arg(ZTROI_EXECUTABLE)});
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitCode(), 0);
    const QList<QByteArray> lines = process.readAllStandardOutput().split('\n');
    QVERIFY(lines.size() == 3 && lines.at(0).contains(R"("input":":picture.jpg")"));
    QVERIFY2(lines.at(1).contains(R"("input":"caf\udce9.jpg")"), lines.at(1).constData());
    ::unlink(path.constData()); // which QTemporaryDir, decoding names as UTF-8, cannot remove
}

// Each failed picture has one line on standard error, whatever bytes its name holds: control
// bytes are escaped there. JSON escapes them its own way.
void tst_ztroiMalformedInputs::controlBytesInNamesAreEscapedOnStandardError()
{
    QTemporaryDir work;
    const QString name = QStringLiteral("two\nlines\t\x1B[2J\r.jpg");
    writeFile(work.filePath(name), "not a picture");
    const Run run = ztroi({"--json", "-q", "--no-map", name}, work.path());
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err,
        QByteArray("ztroi: two\\nlines\\t\\x1b[2J\\r.jpg: not a picture in a format that can "
                   "be read\n"));
    QVERIFY2(run.out.contains(R"("input":"two\nlines\t\u001b[2J\r.jpg")"), run.out.constData());
}

void tst_ztroiMalformedInputs::unreadableListsAreRefused_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");

    const auto row = [](const char* name, const QString& arguments, const char* error) {
        QTest::newRow(name) << arguments.split(' ') << error;
    };
    // Regression: --list /dev/zero grew to 2 GB before it failed.
    row("an entry longer than a path", "--list a --list /dev/zero",
        "--list /dev/zero: an entry is longer than a path can be (4096 bytes)\n");
    // Regression: --list0 /dev/zero read empty entries for ever. Blank lines from a pipe alike.
    row("endless empty entries", "--list a --list0 /dev/zero",
        "--list0 /dev/zero: more than 1048576 empty entries in a row: not a list of names\n");
    row("endless blank lines", "--list blank", "--list blank: more than 1048576 empty");
    // Regression: a folder, or a list that could not be read, was an empty list and ztroi
    // exited with 0 having done nothing.
    row("a folder", "--list a --list .", "--list .: cannot read the list (Is a directory)\n");
    row("a read error", "--list0 /proc/self/mem",
        "--list0 /proc/self/mem: cannot read the list (Input/output error)\n");
    row("no such list", "--list none",
        "--list none: cannot read the list (No such file or directory)\n");
    // Regression: the entry was opened up to its NUL, "cannot open the file (Success)".
    row("NUL inside a line", "--list z",
        "--list z: an entry holds a NUL byte, which no file name can");
}

// A list that cannot be read whole is a usage error before any picture.
void tst_ztroiMalformedInputs::unreadableListsAreRefused()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);

    QTemporaryDir work;
    writeFile(work.filePath("a"), "missing 1\n");
    writeFile(work.filePath("blank"), QByteArray((1 << 20) + 1, '\n') + "missing 4\n");
    writeFile(work.filePath("z"), QByteArray("new\nline\0\0second", 17));
    const Run run = ztroi(QStringList {"--json", "--quiet"} + arguments, work.path());
    QCOMPARE(run.exitCode, 2);
    QVERIFY(run.out.isEmpty());
    QVERIFY2(run.err.startsWith(("ztroi: " + error).toUtf8()), run.err.constData());
}

// Decoders' warnings (here libjpeg's about an unknown JFIF version) stay off standard error
// unless --verbose asks for them.
void tst_ztroiMalformedInputs::decoderMessagesOnlyWithVerbose()
{
    QTemporaryDir work;
    QByteArray jpeg = encoded(scene(QSize(32, 24), QPoint(8, 8)), "jpeg");
    jpeg[11] = 9; // the JFIF major version
    writeFile(work.filePath("v9.jpg"), jpeg);
    QCOMPARE(ztroi({"-q", "--no-map", "v9.jpg"}, work.path()).err, QByteArray());
    QCOMPARE(ztroi({"-q", "--no-map", "--verbose", "v9.jpg"}, work.path()).err,
        QByteArray("ztroi: v9.jpg: decoder: Warning: unknown JFIF revision number 9.01\n"));

    // libtiff's, routed through Qt, without the name "foo" that Qt opens TIFF pictures under.
    writeFile(work.filePath("tile8.tif"),
        ZTPictureFiles::tiff(QSize(8, 8), 3, QByteArray(8 * 8 * 3, '\0'), QSize(8, 8)));
    QVERIFY(ztroi({"-q", "--no-map", "--verbose", "tile8.tif"}, work.path())
                .err.startsWith("ztroi: tile8.tif: decoder: Nonstandard tile width 8, convert "
                                "file\n"));

    // libpng prints its errors on standard error itself, past Qt: here about rows that name no
    // known filter, in a PNG whose checksums are all right.
    QByteArray rows;
    for (int row = 0; row < 4; ++row) {
        rows += char(9) + QByteArray(12, '\0');
    }
    writeFile(work.filePath("filter.png"),
        QByteArray("\x89PNG\r\n\x1a\n", 8)
            + ZTPictureFiles::chunk(
                "IHDR", ZTPictureFiles::bigEndianSize(4, 4) + QByteArray("\x08\x02\0\0\0", 5))
            + ZTPictureFiles::chunk("IDAT", qCompress(rows).mid(4))
            + ZTPictureFiles::chunk("IEND", {}));
    QCOMPARE(ztroi({"-q", "--no-map", "filter.png"}, work.path()).err,
        QByteArray("ztroi: filter.png: damaged or truncated picture data\n"));
    QVERIFY(ztroi({"-q", "--no-map", "--verbose", "filter.png"}, work.path())
                .err.contains("libpng error"));
}

void tst_ztroiMalformedInputs::textAndCommentsAreNotDecoded_data()
{
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<QByteArray>("withText");

    using namespace ZTPictureFiles;
    const QImage picture = scene(QSize(64, 48), QPoint(40, 20));
    const QByteArray png = encoded(picture, "png");
    const QByteArray jpeg = encoded(picture, "jpeg", 90);
    QTest::newRow("PNG text chunks")
        << png
        << pngWith(png,
               zTXtOf(1 << 20) + chunk("tEXt", "Title\0Sea")
                   + chunk("iTXt", QByteArray("Author\0\0\0\0\0Me", 13)));
    QTest::newRow("JPEG comments") << jpeg << jpegWith(jpeg, 0xFE, 3, 1000);
}

// Text chunks and comments are never decoded (a picture of text chunks that inflated to tens of
// MB each took 2 GB): the picture is the same without them, and has no text.
void tst_ztroiMalformedInputs::textAndCommentsAreNotDecoded()
{
    QFETCH(QByteArray, plain);
    QFETCH(QByteArray, withText);

    ZTImageLoader loader;
    QCOMPARE(loadError(loader, plain), QString());
    const QImage expected = loader.image();
    QCOMPARE(loadError(loader, withText), QString());
    QCOMPARE(loader.image(), expected);
    QCOMPARE(loader.image().textKeys(), QStringList());
}

void tst_ztroiMalformedInputs::rlePixelsNotInTheFileAreBackground_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QImage>("expected");

    using ZTPictureFiles::rleBmp;
    QTest::newRow("RLE8, end of bitmap after the bottom row")
        << rleEndingEarly() << rleRows({"........", "........", "........", "########"});
    QTest::newRow("RLE4, a delta over two rows")
        << rleJumpingRows() << rleRows({"..######", "........", "........", "########"});
    QTest::newRow("RLE8, end of line before the row's end") << rleBmp(QSize(8, 2), 8, rleColours,
        QByteArray("\x03\x01\0\0\x08\x01\0\1", 8)) << rleRows({"########", "###....."});
    QTest::newRow("RLE8, a delta within the row")
        << rleBmp(QSize(8, 1), 8, rleColours, QByteArray("\x02\x01\0\2\3\0\x03\x01\0\1", 10))
        << rleRows({"##...###"});
}

// Regression: the pixels that RLE codes skip were left as the memory held them: the same file
// gave different pictures after different pictures (here one all of colour 1).
void tst_ztroiMalformedInputs::rlePixelsNotInTheFileAreBackground()
{
    QFETCH(QByteArray, data);
    QFETCH(QImage, expected);

    ZTImageLoader loader;
    const QByteArray filled = ZTPictureFiles::rleBmp(expected.size(), 8, rleColours,
        QByteArray(1, char(expected.width())).append("\1\0\0", 3).repeated(expected.height())
            + QByteArray("\0\1", 2));
    for (int round = 0; round < 3; ++round) {
        QCOMPARE(loadError(loader, filled), QString());
        QCOMPARE(loadError(loader, data), QString());
        QCOMPARE(loader.image(), expected);
    }
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

// The hostile files of peakMemoryStaysWithinTheReservation, by name: built only when used, as
// the test's own memory is part of each child's peak until it starts ztroi.
QByteArray hostileFile(const QString& name)
{
    using namespace ZTPictureFiles;
    const QImage picture = scene(QSize(64, 64), QPoint(40, 20));
    const QByteArray png = encoded(picture, "png");
    const QByteArray jpeg = encoded(picture, "jpeg", 90);
    if (name == "text") {
        return pngWith(png, zTXtOf(40 << 20).repeated(50));
    }
    if (name == "icc") {
        return pngWith(png, iCCPOf(12 << 20));
    }
    if (name == "comments" || name == "exif") {
        return jpegWith(jpeg, name == "exif" ? 0xE1 : 0xFE, 400, 65533);
    }
    return name == "rle" ? rleEndingEarly() : mngLooping(0x7FFFFFFF);
}

void tst_ztroiMalformedInputs::peakMemoryStaysWithinTheReservation_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("arguments");

    const QStringList budget {"--memory", "100"};
    QTest::newRow("PNG of 50 text chunks of 40 MB each") << "text" << budget;
    QTest::newRow("PNG of an ICC profile of 12 MB") << "icc" << budget;
    QTest::newRow("JPEG of 400 comments of 64 KB")
        << "comments" << QStringList {"--memory", "1000"};
    QTest::newRow("JPEG of 400 EXIF segments of 64 KB")
        << "exif" << QStringList {"--memory", "1000"};
    QTest::newRow("RLE BMP ending early") << "rle" << budget;
    // Regression: an MNG of a loop without frames ran forever. Loops are not played.
    QTest::newRow("MNG of an endless loop")
        << "mng" << budget + QStringList {"--input-formats", "mng"};
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
        qPrintable(QStringLiteral("peak %1 MB, base %2 MB, reserved %3 MB")
                       .arg(peak >> 20)
                       .arg(base >> 20)
                       .arg(reserved >> 20)));
}

// Run by the CTest test ztroi_valgrind: ztroi under memcheck on files of every format cut at
// every tenth of their length; memcheck finds any use of bytes that no decoder wrote.
void tst_ztroiMalformedInputs::truncatedFilesUnderValgrind()
{
    if (qEnvironmentVariableIsEmpty("ZTROI_VALGRIND")) {
        QSKIP("run by ztroi_valgrind");
    }
    QTemporaryDir work;
    QStringList files;
    for (const auto& file : ZTPictureFiles::everyFormat()) {
        for (int tenth = 1; tenth <= 10; ++tenth) {
            const QString name
                = QStringLiteral("%1-%2").arg(file.first).arg(tenth).replace(' ', '-');
            writeFile(work.filePath(name), file.second.left(file.second.size() * tenth / 10));
            files.append(name);
        }
    }
    // RLE codes that leave pixels out: each whole, and decoded.
    writeFile(work.filePath("rle-ending-early"), rleEndingEarly());
    writeFile(work.filePath("rle-jumping-rows"), rleJumpingRows());
    files << "rle-ending-early"
          << "rle-jumping-rows";
    QProcess process;
    process.setWorkingDirectory(work.path());
    process.start("valgrind",
        QStringList {"--error-exitcode=99", "--quiet", ZTROI_EXECUTABLE, "--json", "--quiet",
            "--jobs", "2", "--size", "64x64", "--maps"}
            + files);
    QVERIFY(process.waitForFinished(600000));
    QVERIFY2(process.exitCode() == 1, process.readAllStandardError().constData());
    QCOMPARE(process.readAllStandardOutput().count("\"error\""),
        files.size() - ZTPictureFiles::everyFormat().size() - 2);
}

QTEST_GUILESS_MAIN(tst_ztroiMalformedInputs)
#include "tst_ztroiMalformedInputs.moc"
