// The structure checks of picture files before decoding: the format, the largest canvas, the
// memory per pixel that decoding takes, and the damage that refuses a file.

#include "ZTImageTestSupport.h"
#include "ZTPictureFiles.h"
#include "input/ZTPictureHeader.h"

#include <QtTest>

namespace {

using namespace ZTPictureFiles;

// Decoding into 32-bit pixels and an orientation turn: what every picture takes a pixel.
constexpr int outputBytes = 8;

// An ICO of the PNGs @p pngs, one directory entry each, in that order.
QByteArray icoOf(const QList<QByteArray>& pngs)
{
    QByteArray out("\0\0\1\0", 4);
    appendLittleEndian<quint16>(out, pngs.size());
    QByteArray images;
    for (const QByteArray& png : pngs) {
        out.append("\0\0\0\0\1\0\x20\0", 8);
        appendLittleEndian<quint32>(out, png.size());
        appendLittleEndian<quint32>(out, 6 + 16 * pngs.size() + images.size());
        images += png;
    }
    return out + images;
}

} // namespace

class tst_ZTPictureHeader : public QObject
{
    Q_OBJECT

private slots:
    void header_data();
    void header();
};

void tst_ZTPictureHeader::header_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("bytesPerPixel"); // 0: not checked (a refused file)
    QTest::addColumn<QString>("damage");    // what the reason says; empty: the file is whole

    const QImage picture = scene(QSize(64, 48), QPoint(40, 20));
    const QSize size(64, 48);
    const QByteArray png = encoded(picture, "png");
    QByteArray badChecksum = png; // in IEND
    badChecksum[png.size() - 1] = char(png.back() ^ 1);

    const auto row = [](const char* name, const QByteArray& data, const char* format, QSize size,
                         int bytesPerPixel, const QString& damage) {
        QTest::newRow(name) << data << QByteArray(format) << size << bytesPerPixel << damage;
    };
    row("baseline JPEG", encoded(picture, "jpeg", 90), "jpeg", size, outputBytes, "");
    // libjpeg keeps the coefficients of all three components, 2 bytes each, between scans.
    row("progressive JPEG keeps 2 bytes a component", progressiveJpeg(picture), "jpeg", size,
        outputBytes + 2 * 3, "");
    row("16-bit PNG", pngClaiming(1000, 1000, 16), "png", QSize(1000, 1000), 12, "");
    row("PNG cut in its last chunk", png.left(png.size() - 2), "png", size, 0,
        "truncated picture data");
    // libpng stops at a wrong checksum with its own message on standard error.
    row("PNG of a wrong checksum, in IEND", badChecksum, "png", size, 0, "damaged picture data");
    row("TIFF of 8 samples, the most a picture may have",
        tiff(QSize(2, 2), 8, QByteArray(32, '\0')), "tiff", QSize(2, 2), outputBytes + 8, "");
    // Regression: a TIFF of 200 samples a pixel took 226 MB under a budget of 100 MB.
    row("TIFF of 200 samples a pixel", tiff(QSize(1024, 1024), 200, QByteArray(64, '\0')), "tiff",
        QSize(1024, 1024), 0, "more samples per pixel than a picture has (200, more than 8)");
    // Regression: a 0.9 MB TIFF of 16x16 whose one tile was 12288x12288 took 460 MB.
    row("TIFF tile beyond the picture",
        tiff(QSize(16, 16), 3, QByteArray(64, '\0'), QSize(12288, 12288)), "tiff", QSize(16, 16), 0,
        "tiles larger than the picture (12288x12288)");
    // The decoder allocates the largest entry, whichever comes first.
    row("ICO takes its largest entry, not its last",
        icoOf({pngClaiming(300, 200), pngClaiming(16, 16)}), "ico", QSize(300, 200),
        outputBytes + 4, "");
    // Regression: a TGA, whose first bytes are those of a CUR, was refused as a CUR.
    row("TGA, which starts like a CUR",
        QByteArray("\0\0\2\0\0\0\0\0\0\0\0\0\4\0\4\0\x18\0", 18) + QByteArray(48, 0), "", QSize(),
        0, "");
    row("PNG whose ICC profile inflates to 32 MB", pngWith(png, compressedChunk("iCCP", 32 << 20)),
        "png", size, 0, "an ICC profile larger than 16 MB");
    // Regression: a 108-byte MNG declaring 60000x60000 took 14 GB whatever --max-pixels said.
    row("MNG takes its largest header", mng(60000, 60000), "mng", QSize(60000, 60000), 0, "");
}

void tst_ZTPictureHeader::header()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, format);
    QFETCH(QSize, size);
    QFETCH(int, bytesPerPixel);
    QFETCH(QString, damage);

    const ZTPictureHeader header = ZTPictureHeader::read(data);
    QCOMPARE(header.format, format);
    QVERIFY2(damage.isEmpty() ? header.damage.isEmpty() : header.damage.startsWith(damage),
        qPrintable(header.damage));
    QCOMPARE(header.size, size);
    if (bytesPerPixel > 0) {
        QCOMPARE(header.bytesPerPixel, bytesPerPixel);
    }
}

QTEST_GUILESS_MAIN(tst_ZTPictureHeader)
#include "tst_ZTPictureHeader.moc"
