// The structure checks of picture files before decoding: the format, the largest canvas, the
// memory per pixel that decoding takes, and the damage that refuses a file, format by format.

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
    appendLittleEndian16(out, quint16(pngs.size()));
    quint32 at = quint32(6 + 16 * pngs.size());
    for (const QByteArray& png : pngs) {
        out.append("\0\0\0\0\1\0\x20\0", 8);
        appendLittleEndian32(out, quint32(png.size()));
        appendLittleEndian32(out, at);
        at += quint32(png.size());
    }
    for (const QByteArray& png : pngs) {
        out += png;
    }
    return out;
}

// @p data with the byte at @p at (from the end when negative) changed.
QByteArray flipped(QByteArray data, int at)
{
    at = at < 0 ? data.size() + at : at;
    data[at] = char(data.at(at) ^ 0x01);
    return data;
}

} // namespace

class tst_ZTPictureHeader : public QObject
{
    Q_OBJECT

private slots:
    void read_data();
    void read();
};

void tst_ZTPictureHeader::read_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("bytesPerPixel"); // 0: not checked (a refused file)
    QTest::addColumn<QString>("damage");    // what the reason says; empty: the file is whole

    const QImage picture = scene(QSize(64, 48), QPoint(40, 20));
    const QSize size(64, 48);
    const QByteArray png = encoded(picture, "png");
    const QByteArray jpeg = encoded(picture, "jpeg", 90);
    const QByteArray progressive
        = written(picture, "jpeg", [](QImageWriter& w) { w.setProgressiveScanWrite(true); });
    const QString truncated = "truncated picture data";
    const QString broken = "damaged picture data";

    const auto row = [](const char* name, const QByteArray& data, const char* format, QSize size,
                         int bytesPerPixel, const QString& damage) {
        QTest::newRow(name) << data << QByteArray(format) << size << bytesPerPixel << damage;
    };
    row("baseline JPEG", jpeg, "jpeg", size, outputBytes, "");
    // libjpeg keeps the coefficients of all three components, 2 bytes each, between scans.
    row("progressive JPEG keeps 2 bytes a component", progressive, "jpeg", size,
        outputBytes + 2 * 3, "");
    row("JPEG cut in its scan", jpeg.left(jpeg.size() / 2), "jpeg", size, 0, truncated);
    row("PNG", png, "png", size, outputBytes, "");
    row("PNG cut in its last chunk", png.left(png.size() - 2), "png", QSize(), 0, truncated);
    // libpng stops at a wrong checksum with its own message on standard error.
    row("PNG of a wrong checksum, in IEND", flipped(png, -1), "png", size, 0, broken);
    row("PNG of a changed byte in IHDR", flipped(png, 18), "png", QSize(), 0, broken);
    row("GIF", gif(picture), "gif", size, 0, "");
    row("BMP", encoded(picture, "bmp"), "bmp", size, 0, "");
    row("TIFF of 3 samples", tiff(size, 3, rgbSamples(picture)), "tiff", size, outputBytes + 3, "");
    row("TIFF strip cut short", tiff(size, 3, rgbSamples(picture)).chopped(1), "tiff", size, 0,
        truncated);
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
    row("ICO of a broken PNG entry", icoOf({flipped(png, -1)}), "ico", QSize(), 0, broken);
    row("ICO of no entries", QByteArray("\0\0\1\0\0\0", 6), "", QSize(), 0, "");
    // Regression: a TGA, whose first bytes are those of a CUR, was refused as a CUR.
    row("TGA, which starts like a CUR", tga(4, 4), "", QSize(), 0, "");
    row("MNG takes its largest header", mngClaiming(60000, 60000), "mng", QSize(60000, 60000), 0,
        "");
}

void tst_ZTPictureHeader::read()
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
    if (!size.isEmpty()) {
        QCOMPARE(header.size, size);
    }
    if (bytesPerPixel > 0) {
        QCOMPARE(header.bytesPerPixel, bytesPerPixel);
    }
}

QTEST_GUILESS_MAIN(tst_ZTPictureHeader)
#include "tst_ZTPictureHeader.moc"
