// The loader: decoding within the memory budget, reduced decodes, orientations, and what it leaves
// behind after a refused picture. The structure checks are tst_ZTPictureHeader's, what ztroi
// reports for broken files tst_ztroiInputs'.

#include "ZTImageTestSupport.h"
#include "ZTPictureFiles.h"
#include "input/ZTImageLoader.h"
#include "input/ZTMemoryBudget.h"
#include "input/ZTPictureHeader.h"

#include <QImageReader>
#include <QtTest>

#include <algorithm>

namespace {

using namespace ZTPictureFiles;

// What the loader reserves for the work that follows the decoding: a fixed part and a part for
// each of the picture's pixels (crops and thumbnails as large as the picture).
constexpr qint64 workBytes = 1000;
constexpr qint64 workBytesPerPixel = 24;

// What Qt decodes from @p data, at @p scaledSize when that is valid, turned as its EXIF
// orientation says and converted to Format_ARGB32.
QImage decoded(QByteArray data, const QSize& scaledSize = QSize())
{
    QBuffer buffer(&data);
    QImageReader reader(&buffer);
    reader.setScaledSize(scaledSize);
    reader.setAutoTransform(true);
    return reader.read().convertToFormat(QImage::Format_ARGB32);
}

// Colours 0 and 1 of the RLE pictures.
const QVector<QRgb> rleColours = {qRgb(10, 20, 30), qRgb(250, 240, 230)};

} // namespace

class tst_ZTImageLoader : public QObject
{
    Q_OBJECT

private slots:
    void load_data();
    void load();
};

void tst_ZTImageLoader::load_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QSize>("fastDecodeSize"); // invalid: a full decode
    QTest::addColumn<qint64>("maxPixels");
    QTest::addColumn<QImage>("expected"); // null for a refused picture
    QTest::addColumn<QSize>("inputSize");
    QTest::addColumn<QString>("error"); // what the reason for refusing the picture says
    QTest::addColumn<qint64>("budget"); // bytes; 0: none

    // Pictures that are read, with a pixel limit of just their size: the limit is inclusive.
    const auto read = [](const char* name, const QByteArray& data, const QSize& fastDecodeSize,
                          const QImage& expected, const QSize& inputSize, qint64 budget = 0) {
        QTest::newRow(name) << data << fastDecodeSize
                            << qint64(inputSize.width()) * inputSize.height() << expected
                            << inputSize << QString() << budget;
    };
    const auto refused = [](const char* name, const QByteArray& data, qint64 maxPixels,
                             const char* error, qint64 budget = 0) {
        QTest::newRow(name) << data << QSize() << maxPixels << QImage() << QSize() << QString(error)
                            << budget;
    };
    // The EXIF orientations, as Qt's own automatic transform turns them.
    const QByteArray stored = encoded(scene(QSize(40, 24), QPoint(10, 6)), "jpeg", 95);
    for (const char orientation : {2, 3, 4, 5, 6, 7, 8}) {
        const QByteArray data = withOrientation(stored, orientation);
        read(qPrintable(QStringLiteral("EXIF orientation %1").arg(int(orientation))), data, {},
            decoded(data), orientation < 5 ? QSize(40, 24) : QSize(24, 40));
    }
    // A fast decode: the largest reduction by 1/2, 1/4 or 1/8 that still covers the picture
    // scaled to fit the analysis size; crops are still given in the full size.
    const QImage large = scene(QSize(800, 600), QPoint(300, 200));
    const QByteArray jpeg = encoded(large, "jpeg", 90);
    read("an eighth covers 100x75", jpeg, {100, 100}, decoded(jpeg, {100, 75}), {800, 600});
    read("a half is too small for 480x360", jpeg, {480, 480}, decoded(jpeg), {800, 600});
    read("turned JPEG", withOrientation(jpeg, 6), {100, 100},
        decoded(withOrientation(jpeg, 6), {100, 75}), {600, 800});
    read("PNG decodes fully", encoded(large, "png"), {100, 100},
        large.convertToFormat(QImage::Format_ARGB32), {800, 600});
    // Text chunks and comments are never decoded (a picture of text chunks that inflated to tens
    // of MB each took 2 GB): the picture is the same without them, and has no text.
    const QByteArray png = encoded(scene(QSize(100, 100), QPoint()), "png");
    const QByteArray texts = compressedChunk("zTXt", 1 << 20)
        + chunk("tEXt", QByteArray("Title\0Sea", 9))
        + chunk("iTXt", QByteArray("Author\0\0\0\0\0Me", 13));
    read("PNG text chunks", pngWith(png, texts), {}, decoded(png), {100, 100});
    read("JPEG comments", jpegWith(jpeg, 0xFE, 3, 1000), {}, decoded(jpeg), {800, 600});

    // Regression: the pixels that RLE codes skip were left as the memory held them, and the same
    // file gave different pictures after different ones.
    QImage bottomRowOnly(8, 4, QImage::Format_ARGB32);
    bottomRowOnly.fill(rleColours.at(0));
    std::fill_n(reinterpret_cast<QRgb*>(bottomRowOnly.scanLine(3)), 8, rleColours.at(1));
    read("RLE8, end of bitmap after the bottom row",
        rleBmp(QSize(8, 4), 8, rleColours, QByteArray("\x08\x01\0\1", 4)), {}, bottomRowOnly,
        {8, 4});

    const qint64 unlimited = ZTImageLoader::defaultMaxPixels;
    // A picture reserves its file, its decoding and the work that follows; the budget is
    // inclusive.
    const QByteArray budgeted = encoded(scene(QSize(100, 80), QPoint(50, 40)), "png");
    const qint64 reserved
        = ZTImageLoader::memoryEstimate(ZTPictureHeader::read(budgeted), budgeted.size())
        + workBytes + 100 * 80 * workBytesPerPixel;
    read("a budget of exactly the reservation", budgeted, {}, decoded(budgeted), {100, 80},
        reserved);
    refused("a byte less: the work per pixel counts", budgeted, unlimited,
        "more than the memory budget", reserved - 1);
    refused("one pixel over the limit", png, 9999,
        "the picture is too large (100x100, more than 9999 pixels)");
    // Regression (fuzz_reader): for a GIF screen 32768 or more pixels wide, Qt's reader reports
    // the first frame's width, so a 1x1 frame on a 65535x2000 screen passed the pixel limit and
    // decoded into 131 million pixels.
    refused("GIF screen wider than 32767 bypassed the pixel limit", gifScreen(65535, 2000),
        unlimited, "the picture is too large (65535x2000, more than 100000000 pixels)");
    refused("XPM, which Qt reads but ztroi does not",
        "/* XPM */\nstatic char* x[] = {\"1 1 1 1\", \"a c #000000\", \"a\"};\n", unlimited,
        "not a picture in a format that can be read");
    // Regression: a limit up to 2^63 let a PNG of INT_MAX x INT_MAX overflow the memory count.
    refused("PNG of INT_MAX x INT_MAX, no limit", pngClaiming(INT_MAX, INT_MAX),
        std::numeric_limits<qint64>::max(), "more than 1099511627776 pixels");
    refused("PNG of 2^40 pixels, the largest limit", pngClaiming(1 << 20, 1 << 20),
        ZTImageLoader::largestMaxPixels, "needs about 33554433 MB", qint64(100) << 20);
    // Regression: a JPEG whose last scan was repeated 2000 times decoded for 23 seconds.
    refused(
        "JPEG of 2010 scans", manyScans(2000), unlimited, "too many scans (2010, more than 100)");
}

// Files and devices (through which the fuzz target reads) are read alike. A refused picture
// leaves nothing behind, and the loader reads the next one as if new: between the two reads, an
// RLE picture all of colour 1, whose memory the next picture's skipped pixels must not show.
void tst_ZTImageLoader::load()
{
    QFETCH(QByteArray, data);
    QFETCH(QSize, fastDecodeSize);
    QFETCH(qint64, maxPixels);
    QFETCH(QImage, expected);
    QFETCH(QSize, inputSize);
    QFETCH(QString, error);
    QFETCH(qint64, budget);

    QTemporaryDir dir;
    const QString path = writeFile(dir.filePath("picture"), data);
    const QString next = writeFile(dir.filePath("next.bmp"),
        rleBmp(QSize(8, 4), 8, rleColours,
            QByteArray("\x08\x01\0\0", 4).repeated(4) + QByteArray("\0\1", 2)));
    QBuffer device(&data);
    QVERIFY(device.open(QIODevice::ReadOnly));
    ZTImageLoader loader;
    loader.setFastDecodeSize(fastDecodeSize);
    ZTMemoryBudget memory(budget);
    loader.setMemoryBudget(budget > 0 ? &memory : nullptr, workBytes, workBytesPerPixel);
    for (const bool fromFile : {true, false}) {
        loader.setMaxPixels(maxPixels);
        QCOMPARE(fromFile ? loader.load(path) : loader.load(&device), error.isEmpty());
        QCOMPARE(loader.errorString().isEmpty(), error.isEmpty());
        QVERIFY2(loader.errorString().contains(error), qPrintable(loader.errorString()));
        QCOMPARE(loader.inputSize(), inputSize);
        QVERIFY(ZTImageTest::sameStoredPixels(loader.image(), expected, "tst_ZTImageLoader"));
        QCOMPARE(loader.image().textKeys(), QStringList());
        loader.setMaxPixels(ZTImageLoader::defaultMaxPixels);
        QVERIFY(loader.load(next));
        QCOMPARE(loader.inputSize(), QSize(8, 4));
    }
    QVERIFY(!loader.load(static_cast<QIODevice*>(nullptr)));
}

QTEST_GUILESS_MAIN(tst_ZTImageLoader)
#include "tst_ZTImageLoader.moc"
