#include "ZTImageTestSupport.h"
#include "ZTMaxFilter.h"

#include <QtTest>

#include <climits>

using namespace ZTImageTest;

class tst_ZTMaxFilter : public QObject
{
    Q_OBJECT

private slots:
    void line_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("threshold");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, int size, int threshold, const char* input,
                             const char* expected) {
            QTest::newRow(name) << size << threshold << QString(input) << QString(expected);
        };
        row("60, 55 spread onto darker pixels", 7, 50, "60, 0, 0, 0, 55", "60, 60, 60, 60, 55");
        row("red equal to the threshold does not spread", 7, 50, "50, 0, 0", "50, 0, 0");
        row("arms of 3, copies spread no further", 7, 50, "0, 0, 0, 0, 90, 0, 0, 0, 0",
            "0, 90, 90, 90, 90, 90, 90, 90, 0");
        row("size 1 changes nothing", 1, 50, "0, 90, 0", "0, 90, 0");
        row("size -2 changes nothing", -2, 50, "0, 90, 0", "0, 90, 0");
        row("threshold 255 changes nothing", 7, 255, "0, 255, 0", "0, 255, 0");
    }

    // Along a row and along a column.
    void line()
    {
        QFETCH(int, size);
        QFETCH(int, threshold);
        QFETCH(QString, input);
        QFETCH(QString, expected);
        const int length = pixels(input).size();
        for (const QSize shape : {QSize(length, 1), QSize(1, length)}) {
            const QImage picture = pictureOf(shape, pixels(input));
            QCOMPARE(pixelsOf(ZTMaxFilter(size, threshold).evaluate(picture)), pixels(expected));
        }
    }

    void matchesNaiveFilter_data()
    {
        QTest::addColumn<QImage::Format>("format");
        QTest::addColumn<QSize>("size");
        for (const QSize size :
            {QSize(1, 1), QSize(40, 1), QSize(1, 40), QSize(2, 2), QSize(13, 7), QSize(41, 29)}) {
            for (const auto format : {QImage::Format_RGB32, QImage::Format_ARGB32,
                     QImage::Format_ARGB32_Premultiplied}) {
                QTest::addRow("%s %dx%d", formatName(format), size.width(), size.height())
                    << format << size;
            }
        }
        for (const auto format : {QImage::Format_RGB888, QImage::Format_Grayscale8,
                 QImage::Format_RGBA8888, QImage::Format_ARGB8565_Premultiplied,
                 QImage::Format_A2RGB30_Premultiplied, QImage::Format_Indexed8}) {
            QTest::addRow("%s", formatName(format)) << format << QSize(23, 19);
        }
    }

    // Random pictures against the filter as defined, for arms from none to past the borders and
    // thresholds at both ends of the red range. Words with many equal reds test the tie rules: the
    // first spreading pixel in row-major order wins, and a pixel keeps its own value on a tie;
    // Format_RGB32 words carry random alpha bytes, which copies replace by 255 as setPixel does.
    // Opaque grey maps (the last two pictures) take a path of their own unless a pixel has a
    // colour. Some other formats store a copy with another red than it was read with; indexed
    // images copy colour indices.
    void matchesNaiveFilter()
    {
        QFETCH(QImage::Format, format);
        QFETCH(QSize, size);
        std::mt19937 random(size.width() * 1000 + size.height());
        const auto argb = [format](const QImage& image) {
            return format == QImage::Format_Indexed8 ? image.convertToFormat(QImage::Format_ARGB32)
                                                     : image;
        };
        for (int picture = 0; picture < 4; ++picture) {
            const std::vector<int> reds
                = picture == 0 ? std::vector<int> {0, 1, 50, 51, 150, 151, 254, 255} : allReds();
            QImage input = randomPicture(
                size, picture < 2 ? format : QImage::Format_Grayscale8, random, reds)
                               .convertToFormat(format);
            if (picture == 3) {
                input.setPixel(size.width() / 2, size.height() - 1, qRgb(200, 7, 9));
            }
            for (const int filterSize : {INT_MIN, -3, -2, 0, 1, 2, 3, 4, 7, 17, 90, INT_MAX}) {
                const int naiveSize = std::min(filterSize, 2 * (size.width() + size.height()) + 1);
                for (const int threshold : {-1, 0, 50, 150, 254, 255, 300}) {
                    QVERIFY(
                        sameStoredPixels(argb(ZTMaxFilter(filterSize, threshold).evaluate(input)),
                            naiveMaxFilter(argb(input), naiveSize, threshold),
                            QString::asprintf("maxfilter-%s-%d-size%d-threshold%d",
                                QTest::currentDataTag(), picture, filterSize, threshold)));
                }
            }
        }
    }

    // A pixel of red 200 at the centre of a black map lights 13 pixels with size 7 and threshold
    // 50: itself and three to each side along its row and column, no diagonal neighbour. An
    // index outside the colour table reads as red 0 without a warning, and the index of the
    // pixel that wins over it is copied.
    void crossAndIndexOutsideColourTable()
    {
        QImage map = uniform(QSize(9, 9), qRgb(0, 0, 0));
        map.setPixel(4, 4, qRgb(200, 200, 200));
        const QVector<QRgb> result = pixelsOf(ZTMaxFilter(7, 50).evaluate(map));
        QCOMPARE(qMakePair(int(result.count(qRgb(200, 200, 200))), result[3 * 9 + 3]),
            qMakePair(13, qRgb(0, 0, 0)));
        QImage indexed(3, 1, QImage::Format_Indexed8);
        indexed.setColorTable({qRgb(0, 0, 0), qRgb(100, 1, 2)});
        std::copy_n("\x01\x09\x00", 3, indexed.scanLine(0));
        QCOMPARE(messagesDuring([&] { map = ZTMaxFilter(3, 50).evaluate(indexed); }), 0);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(map.constScanLine(0)), 3),
            QByteArray("\x01\x01\x00", 3));
    }
};

QTEST_GUILESS_MAIN(tst_ZTMaxFilter)
#include "tst_ZTMaxFilter.moc"
