#include "ZTImageLoader.h"

#include <QImageReader>
#include <QImageWriter>
#include <QtTest>

namespace {

QByteArray encode(const QImage& image, const char* format, int quality = -1)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    if (!writer.write(image)) {
        qFatal("cannot encode a test picture as %s", format);
    }
    return data;
}

// A picture whose every pixel differs, so that a wrong orientation cannot go unnoticed.
QImage gradient(const QSize& size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            image.setPixel(x, y, qRgb(x * 255 / size.width(), y * 255 / size.height(), 90));
        }
    }
    return image;
}

// Puts an EXIF block with the given orientation tag right after the JPEG's start marker.
QByteArray withOrientation(const QByteArray& jpeg, quint16 orientation)
{
    QByteArray tiff("MM\x00\x2A\x00\x00\x00\x08", 8);          // big-endian, first directory at 8
    tiff += QByteArray("\x00\x01", 2);                         // one entry
    tiff += QByteArray("\x01\x12\x00\x03\x00\x00\x00\x01", 8); // Orientation, SHORT, count 1
    tiff += char(orientation >> 8);
    tiff += char(orientation & 0xFF);
    tiff += QByteArray("\x00\x00\x00\x00\x00\x00", 6); // padding, no next directory
    const QByteArray payload = QByteArray("Exif\x00\x00", 6) + tiff;
    const int length = payload.size() + 2;
    QByteArray segment("\xFF\xE1", 2);
    segment += char(length >> 8);
    segment += char(length & 0xFF);
    return jpeg.left(2) + segment + payload + jpeg.mid(2);
}

quint32 crc32(const QByteArray& data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : data) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

QByteArray bigEndian(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

QByteArray pngChunk(const QByteArray& type, const QByteArray& data)
{
    return bigEndian(quint32(data.size())) + type + data + bigEndian(crc32(type + data));
}

// A PNG header that claims the given size, followed by a broken image data chunk.
QByteArray pngHeaderOnly(quint32 width, quint32 height)
{
    const QByteArray header
        = bigEndian(width) + bigEndian(height) + QByteArray("\x08\x02\x00\x00\x00", 5);
    return QByteArray("\x89PNG\r\n\x1A\n", 8) + pngChunk("IHDR", header) + pngChunk("IDAT", "xx")
        + pngChunk("IEND", QByteArray());
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& data)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size()) {
        qFatal("cannot write %s", qPrintable(path));
    }
    return path;
}

} // namespace

class tst_ZTImageLoader : public QObject
{
    Q_OBJECT

private slots:
    void convertsToArgb32_data();
    void convertsToArgb32();
    void appliesExifOrientation_data();
    void appliesExifOrientation();
    void refusesBadInput_data();
    void refusesBadInput();
    void refusesMissingFilesAndFolders();
    void pixelLimitIsInclusive();
    void fastDecode_data();
    void fastDecode();
    void readsFromDevice();
    void recoversAfterTruncatedJpeg();

private:
    QTemporaryDir m_dir;
};

void tst_ZTImageLoader::convertsToArgb32_data()
{
    QTest::addColumn<QImage>("source");
    QTest::addColumn<QByteArray>("format");

    const QImage colour = gradient(QSize(17, 9));
    QTest::newRow("RGB PNG") << colour << QByteArray("png");
    QTest::newRow("grey PNG") << colour.convertToFormat(QImage::Format_Grayscale8)
                              << QByteArray("png");
    QTest::newRow("indexed PNG") << colour.convertToFormat(QImage::Format_Indexed8)
                                 << QByteArray("png");
    QImage translucent = colour.convertToFormat(QImage::Format_ARGB32);
    translucent.setPixel(3, 4, qRgba(10, 20, 30, 40));
    QTest::newRow("PNG with alpha") << translucent << QByteArray("png");
    QTest::newRow("BMP") << colour.convertToFormat(QImage::Format_RGB888) << QByteArray("bmp");
}

void tst_ZTImageLoader::convertsToArgb32()
{
    QFETCH(QImage, source);
    QFETCH(QByteArray, format);

    const QString path
        = writeFile(m_dir, QStringLiteral("picture.") + format, encode(source, format));
    ZTImageLoader loader;
    QVERIFY2(loader.load(path), qPrintable(loader.errorString()));
    QCOMPARE(loader.image().format(), QImage::Format_ARGB32);
    QCOMPARE(loader.image(), source.convertToFormat(QImage::Format_ARGB32));
    QCOMPARE(loader.inputSize(), source.size());
    QVERIFY(loader.errorString().isEmpty());
}

void tst_ZTImageLoader::appliesExifOrientation_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("rotation");

    QTest::newRow("1: upright") << 1 << 0;
    QTest::newRow("3: upside down") << 3 << 180;
    QTest::newRow("6: turned right") << 6 << 90;
    QTest::newRow("8: turned left") << 8 << 270;
}

void tst_ZTImageLoader::appliesExifOrientation()
{
    QFETCH(int, orientation);
    QFETCH(int, rotation);

    const QByteArray jpeg
        = withOrientation(encode(gradient(QSize(40, 24)), "jpeg", 95), quint16(orientation));
    const QString path = writeFile(m_dir, QStringLiteral("turned.jpg"), jpeg);

    // What the stored pixels look like once turned by hand.
    QImageReader plain(path);
    plain.setAutoTransform(false);
    const QImage expected = plain.read()
                                .transformed(QTransform().rotate(rotation))
                                .convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(expected.size(), rotation % 180 ? QSize(24, 40) : QSize(40, 24));

    ZTImageLoader loader;
    QVERIFY2(loader.load(path), qPrintable(loader.errorString()));
    QCOMPARE(loader.inputSize(), expected.size());
    QCOMPARE(loader.image(), expected);
}

void tst_ZTImageLoader::refusesBadInput_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("error");

    const QByteArray jpeg = encode(gradient(QSize(256, 192)), "jpeg", 90);
    const QByteArray png = encode(gradient(QSize(256, 192)), "png");
    QTest::newRow("empty file") << QByteArray() << "empty file";
    QTest::newRow("text") << QByteArray("hello, world\n") << "not a picture";
    QTest::newRow("JPEG cut in half") << jpeg.left(jpeg.size() / 2) << "truncated picture data";
    QTest::newRow("JPEG missing its last bytes")
        << jpeg.left(jpeg.size() - 200) << "truncated picture data";
    QTest::newRow("JPEG header only") << jpeg.left(100) << "truncated";
    QTest::newRow("PNG cut in half") << png.left(png.size() / 2) << "damaged or truncated";
    QTest::newRow("PNG header only") << png.left(30) << "truncated";
    QTest::newRow("huge size in the header")
        << pngHeaderOnly(20000, 20000) << "too large (20000x20000";
    QTest::newRow("zero width in the header") << pngHeaderOnly(0, 10) << "no picture size";
}

void tst_ZTImageLoader::refusesBadInput()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, error);

    const QString path = writeFile(m_dir, QStringLiteral("bad"), data);
    ZTImageLoader loader;
    QVERIFY(!loader.load(path));
    QVERIFY2(loader.errorString().contains(error), qPrintable(loader.errorString()));
    QVERIFY(loader.image().isNull());
    QVERIFY(!loader.inputSize().isValid());
}

void tst_ZTImageLoader::refusesMissingFilesAndFolders()
{
    ZTImageLoader loader;
    QVERIFY(!loader.load(m_dir.filePath(QStringLiteral("missing.png"))));
    QCOMPARE(loader.errorString(), QStringLiteral("no such file"));
    QVERIFY(!loader.load(m_dir.path()));
    QCOMPARE(loader.errorString(), QStringLiteral("is a directory"));
}

void tst_ZTImageLoader::pixelLimitIsInclusive()
{
    const QString path
        = writeFile(m_dir, QStringLiteral("square.png"), encode(gradient(QSize(100, 100)), "png"));
    ZTImageLoader loader;
    loader.setMaxPixels(9999);
    QVERIFY(!loader.load(path));
    QCOMPARE(loader.errorString(),
        QStringLiteral("the picture is too large (100x100, more than 9999 pixels)"));
    loader.setMaxPixels(10000);
    QVERIFY(loader.load(path));
    loader.setMaxPixels(0); // at least one pixel is always allowed
    QCOMPARE(loader.maxPixels(), qint64(1));
}

void tst_ZTImageLoader::fastDecode_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QSize>("analysisSize");
    QTest::addColumn<QSize>("decoded");
    QTest::addColumn<QSize>("input");

    const QByteArray jpeg = encode(gradient(QSize(800, 600)), "jpeg", 90);
    QTest::newRow("eighth still covers 100x75")
        << jpeg << QSize(100, 100) << QSize(100, 75) << QSize(800, 600);
    QTest::newRow("quarter covers 200x150")
        << jpeg << QSize(200, 200) << QSize(200, 150) << QSize(800, 600);
    QTest::newRow("half would be too small")
        << jpeg << QSize(480, 480) << QSize(800, 600) << QSize(800, 600);
    QTest::newRow("off") << jpeg << QSize() << QSize(800, 600) << QSize(800, 600);
    QTest::newRow("turned picture")
        << withOrientation(jpeg, 6) << QSize(100, 100) << QSize(75, 100) << QSize(600, 800);
    QTest::newRow("PNG decodes fully") << encode(gradient(QSize(800, 600)), "png")
                                       << QSize(100, 100) << QSize(800, 600) << QSize(800, 600);
}

void tst_ZTImageLoader::fastDecode()
{
    QFETCH(QByteArray, data);
    QFETCH(QSize, analysisSize);
    QFETCH(QSize, decoded);
    QFETCH(QSize, input);

    const QString path = writeFile(m_dir, QStringLiteral("large"), data);
    ZTImageLoader loader;
    loader.setFastDecodeSize(analysisSize);
    QVERIFY2(loader.load(path), qPrintable(loader.errorString()));
    QCOMPARE(loader.image().size(), decoded);
    QCOMPARE(loader.image().format(), QImage::Format_ARGB32);
    QCOMPARE(loader.inputSize(), input);
}

// The entry point for fuzzing: the same checks on a device as on a file.
void tst_ZTImageLoader::readsFromDevice()
{
    const QImage source = gradient(QSize(30, 20));
    QByteArray data = encode(source, "png");
    QBuffer buffer(&data);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    ZTImageLoader loader;
    QVERIFY(loader.load(&buffer));
    QCOMPARE(loader.image(), source.convertToFormat(QImage::Format_ARGB32));

    QByteArray huge = pngHeaderOnly(20000, 20000);
    QBuffer hugeBuffer(&huge);
    QVERIFY(hugeBuffer.open(QIODevice::ReadOnly));
    QVERIFY(!loader.load(&hugeBuffer));
    QVERIFY(loader.errorString().contains(QLatin1String("too large")));
    QVERIFY(!loader.load(static_cast<QIODevice*>(nullptr)));
}

void tst_ZTImageLoader::recoversAfterTruncatedJpeg()
{
    const QByteArray jpeg = encode(gradient(QSize(256, 192)), "jpeg", 90);
    const QString cut = writeFile(m_dir, QStringLiteral("cut.jpg"), jpeg.left(jpeg.size() / 2));
    const QString whole = writeFile(m_dir, QStringLiteral("whole.jpg"), jpeg);
    ZTImageLoader loader;
    QVERIFY(!loader.load(cut));
    QVERIFY(loader.load(whole));
    QCOMPARE(loader.inputSize(), QSize(256, 192));
    QVERIFY(!loader.load(cut));
}

QTEST_GUILESS_MAIN(tst_ZTImageLoader)
#include "tst_ZTImageLoader.moc"
