// The reading of pictures. What ztroi reports for broken files is in tst_ztroi.

#include "ZTImageTestSupport.h"
#include "ZTToolTestSupport.h"
#include "input/ZTImageLoader.h"
#include "input/ZTMemoryBudget.h"
#include "input/ZTPictureHeader.h"

#include <QImageReader>
#include <QtTest>

namespace {

// What Qt decodes from @p data, at @p scaledSize when that is valid, turned by @p rotation
// degrees and converted to Format_ARGB32.
QImage decoded(QByteArray data, const QSize& scaledSize = QSize(), int rotation = 0)
{
    QBuffer buffer(&data);
    QImageReader reader(&buffer);
    reader.setScaledSize(scaledSize);
    return reader.read()
        .transformed(QTransform().rotate(rotation))
        .convertToFormat(QImage::Format_ARGB32);
}

} // namespace

class tst_ZTImageLoader : public QObject
{
    Q_OBJECT

private slots:
    void load_data();
    void load();
    void reservation_data();
    void reservation();
};

void tst_ZTImageLoader::load_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QSize>("fastDecodeSize"); // invalid: a full decode
    QTest::addColumn<qint64>("maxPixels");
    QTest::addColumn<QImage>("expected"); // null for a refused picture
    QTest::addColumn<QSize>("inputSize");
    QTest::addColumn<QString>("error"); // what the reason for refusing the picture says

    // Pictures that are read, with a pixel limit of just their size: the limit is inclusive.
    const auto read = [](const char* name, const QByteArray& data, const QSize& fastDecodeSize,
                          const QImage& expected, const QSize& inputSize) {
        QTest::newRow(name) << data << fastDecodeSize
                            << qint64(inputSize.width()) * inputSize.height() << expected
                            << inputSize << QString();
    };
    const auto refused
        = [](const char* name, const QByteArray& data, qint64 maxPixels, const char* error) {
              QTest::newRow(name) << data << QSize() << maxPixels << QImage() << QSize()
                                  << QString(error);
          };
    // The EXIF orientation: the stored pixels, turned by hand.
    const QByteArray stored = encoded(scene(QSize(40, 24), QPoint(10, 6)), "jpeg", 95);
    read("EXIF 3: upside down", withOrientation(stored, 3), {}, decoded(stored, {}, 180), {40, 24});
    read("EXIF 6: turned right", withOrientation(stored, 6), {}, decoded(stored, {}, 90), {24, 40});
    read("EXIF 8: turned left", withOrientation(stored, 8), {}, decoded(stored, {}, 270), {24, 40});
    // Mirrored ones, as Qt's own automatic transform turns them.
    for (const char orientation : {2, 4, 5, 7}) {
        QByteArray data = withOrientation(stored, orientation);
        QBuffer buffer(&data);
        QImageReader reader(&buffer);
        reader.setAutoTransform(true);
        const QImage turned = reader.read().convertToFormat(QImage::Format_ARGB32);
        read(qPrintable(QStringLiteral("EXIF %1: mirrored").arg(int(orientation))), data, {},
            turned, turned.size());
    }
    // A fast decode: the largest reduction by 1/2, 1/4 or 1/8 that still covers the picture
    // scaled to fit the analysis size; crops are still given in the full size.
    const QImage large = scene(QSize(800, 600), QPoint(300, 200));
    const QByteArray jpeg = encoded(large, "jpeg", 90);
    read("an eighth covers 100x75", jpeg, {100, 100}, decoded(jpeg, {100, 75}), {800, 600});
    read("a half is too small for 480x360", jpeg, {480, 480}, decoded(jpeg), {800, 600});
    read("turned JPEG", withOrientation(jpeg, 6), {100, 100}, decoded(jpeg, {100, 75}, 90),
        {600, 800});
    read("PNG decodes fully", encoded(large, "png"), {100, 100},
        large.convertToFormat(QImage::Format_ARGB32), {800, 600});

    const QByteArray png = encoded(scene(QSize(100, 100), QPoint()), "png");
    const qint64 unlimited = ZTImageLoader::defaultMaxPixels;
    // Qt decodes such a JPEG with a grey bottom, and only warns.
    refused("JPEG without its last 200 bytes", jpeg.left(jpeg.size() - 200), unlimited,
        "truncated picture data");
    refused("PNG header only", png.left(30), unlimited, "truncated");
    refused("one pixel over the limit", png, 9999,
        "the picture is too large (100x100, more than 9999 pixels)");
    refused("a limit below 1 is 1", encoded(scene(QSize(2, 1), QPoint()), "png"), 0,
        "too large (2x1, more than 1 pixels)");
    // Regression (fuzz_reader): for a GIF screen 32768 or more pixels wide, Qt's reader reports
    // the first frame's width, so a 1x1 frame on a 65535x2000 screen passed the pixel limit and
    // decoded into 131 million pixels. The GIF: that screen, a colour table of black and white,
    // and one 1x1 frame at its corner, its LZW codes clear, colour 0 and end in 3 bits each.
    refused("GIF screen wider than 32767 bypassed the pixel limit",
        QByteArray("GIF89a\xFF\xFF\xD0\x07\x80\0\0\0\0\0\xFF\xFF\xFF,\0\0\0\0\x01\0\x01\0"
                   "\0\x02\x02\x44\x01\0;",
            35),
        unlimited, "the picture is too large (65535x2000, more than 100000000 pixels)");
}

// Files and devices (through which the fuzz target reads) are read alike. A refused picture
// leaves nothing behind, and the loader reads the next one as if new.
void tst_ZTImageLoader::load()
{
    QFETCH(QByteArray, data);
    QFETCH(QSize, fastDecodeSize);
    QFETCH(qint64, maxPixels);
    QFETCH(QImage, expected);
    QFETCH(QSize, inputSize);
    QFETCH(QString, error);

    QTemporaryDir dir;
    const QString path = writeFile(dir.filePath("picture"), data);
    const QString next = writeFile(dir.filePath("next.jpg"), encoded(scene({1, 1}, {}), "jpeg"));
    QBuffer device(&data);
    QVERIFY(device.open(QIODevice::ReadOnly));
    ZTImageLoader loader;
    loader.setFastDecodeSize(fastDecodeSize);
    loader.setMaxPixels(maxPixels);
    for (const bool fromFile : {true, false}) {
        QCOMPARE(fromFile ? loader.load(path) : loader.load(&device), error.isEmpty());
        QCOMPARE(loader.errorString().isEmpty(), error.isEmpty());
        QVERIFY2(loader.errorString().contains(error), qPrintable(loader.errorString()));
        QCOMPARE(loader.inputSize(), inputSize);
        QVERIFY(ZTImageTest::sameStoredPixels(loader.image(), expected, "tst_ZTImageLoader"));
        QVERIFY(loader.load(next));
        QCOMPARE(loader.inputSize(), QSize(1, 1));
    }
    QVERIFY(!loader.load(static_cast<QIODevice*>(nullptr)));
}

void tst_ZTImageLoader::reservation_data()
{
    QTest::addColumn<qint64>("spare"); // bytes of the budget beyond the reservation
    QTest::addColumn<bool>("loaded");

    QTest::newRow("a budget of exactly the reservation") << qint64(0) << true;
    QTest::newRow("a byte less: the work per pixel counts") << qint64(-1) << false;
}

// A picture reserves its file, its decoding, and the work that follows: a fixed part and a part
// for each of its pixels (crops and thumbnails as large as the picture).
void tst_ZTImageLoader::reservation()
{
    QFETCH(qint64, spare);
    QFETCH(bool, loaded);

    const QByteArray png = encoded(scene(QSize(100, 80), QPoint(50, 40)), "png");
    constexpr qint64 extraBytes = 1000;
    constexpr qint64 extraBytesPerPixel = 24;
    const qint64 reserved = ZTImageLoader::memoryEstimate(ZTPictureHeader::read(png), png.size())
        + extraBytes + 100 * 80 * extraBytesPerPixel;
    ZTMemoryBudget budget(reserved + spare);
    ZTImageLoader loader;
    loader.setMemoryBudget(&budget, extraBytes, extraBytesPerPixel);
    QByteArray data = png;
    QBuffer device(&data);
    QVERIFY(device.open(QIODevice::ReadOnly));
    QCOMPARE(loader.load(&device), loaded);
    QCOMPARE(loader.errorString().contains("more than the memory budget"), !loaded);
}

QTEST_GUILESS_MAIN(tst_ZTImageLoader)
#include "tst_ZTImageLoader.moc"
