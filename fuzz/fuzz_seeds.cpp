// Writes the seed corpora of the fuzz targets into the folder given as the only argument:
//   fuzz_mixer/, fuzz_methods/  inputs in the byte format of ZTFuzzInput.h for chosen settings,
//                               the documented defaults and the extremes outside their limits;
//   fuzz_reader/                small valid PNG, JPEG, BMP and GIF files and broken ones.
// Everything is made here, so the corpora need no files from elsewhere.

#include "ZTFuzzInput.h"

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QtEndian>

#include <cstdio>
#include <functional>
#include <limits>
#include <vector>

namespace {

constexpr int intMin = std::numeric_limits<int>::min();
constexpr int intMax = std::numeric_limits<int>::max();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

// Rectangles are made from their corners: QRect's (x, y, width, height) constructor overflows for
// the extreme ones.
QRect corners(int left, int top, int right, int bottom)
{
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// A small photograph-like picture: a colour gradient with a bright disc and a dark bar.
QImage samplePicture(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y, qRgb(x * 255 / width, y * 255 / height, 128));
        }
    }
    QPainter painter(&image);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(250, 240, 40));
    painter.drawEllipse(QRect(width / 2, height / 4, width / 3 + 1, height / 3 + 1));
    painter.setBrush(QColor(20, 20, 90));
    painter.drawRect(QRect(width / 8, height * 2 / 3, width / 2, height / 8 + 1));
    painter.end();
    return image;
}

QByteArray pixelBytes(const QImage& image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    return QByteArray(reinterpret_cast<const char*>(argb.constBits()), int(argb.sizeInBytes()));
}

// ---- fuzz_mixer: the reading order of fuzz_mixer.cpp -------------------------------------

struct Areas
{
    QList<QRect> rects;
    QSize reference;
    bool enabled = true;
};

struct Post
{
    int cubesH = 10;
    int cubesV = 10;
    QSize cubeSize = QSize(100, 100);
    int pixelWeight = 0;
    int length = 10;
};

struct MixerCase
{
    QString name;
    QSize analysisSize = QSize(64, 48);
    // Sobel, centre prior, histogram, areas, symmetric surround, then three absent keys.
    int weights[8] = {20, 2, 10, 20, 10, 1, 1, 1};
    bool enabled[8] = {true, true, true, true, true, true, true, true};
    int bins1 = 32;
    int bins2 = 32;
    int horizontalBlocks = 15;
    int verticalBlocks = 11;
    double threshold = 0.67;
    double minWidth = 0.5;
    double minHeight = 0.25;
    bool inject = false;
    Areas areas;
    int mixWeights[3] = {20, -10, 10};
    int width = 80;
    int height = 60;
    int format = 0; // index into ZTFuzz::pictureFormats
    Post post;
};

void writePost(ZTFuzz::Writer& out, const Post& post)
{
    out.setting(post.cubesH);
    out.setting(post.cubesV);
    out.size(post.cubeSize);
    out.setting(post.pixelWeight);
    out.setting(post.length);
}

QByteArray mixerInput(const MixerCase& c)
{
    ZTFuzz::Writer out;
    out.size(c.analysisSize);
    for (int i = 0; i < 8; ++i) {
        out.setting(c.weights[i]);
        out.flag(c.enabled[i]);
    }
    out.setting(c.bins1);
    out.setting(c.bins2);
    out.setting(c.horizontalBlocks);
    out.setting(c.verticalBlocks);
    out.real(c.threshold);
    out.real(c.minWidth);
    out.real(c.minHeight);
    out.flag(c.inject);
    if (c.inject) {
        out.byte(c.areas.rects.size());
        for (const QRect& rect : c.areas.rects) {
            out.rect(rect);
        }
        out.size(c.areas.reference);
        out.flag(c.areas.enabled);
    }
    for (const int weight : c.mixWeights) {
        out.setting(weight);
    }
    out.pictureHeader(c.width, c.height, c.format);
    // The post-analysis settings of the map and of the picture lead the pixel bytes.
    writePost(out, c.post);
    writePost(out, c.post);
    out.bytes(pixelBytes(samplePicture(std::max(c.width, 1), std::max(c.height, 1))));
    return out.data();
}

std::vector<MixerCase> mixerCases()
{
    std::vector<MixerCase> cases;
    const auto add = [&](const QString& name, auto change) {
        MixerCase c;
        c.name = name;
        change(c);
        cases.push_back(c);
    };
    add("defaults", [](MixerCase&) {});
    add("every-method-disabled", [](MixerCase& c) {
        for (bool& enabled : c.enabled) {
            enabled = false;
        }
    });
    add("one-method-enabled", [](MixerCase& c) {
        for (bool& enabled : c.enabled) {
            enabled = false;
        }
        c.enabled[4] = true;
    });
    add("weights-at-int-range-ends", [](MixerCase& c) {
        const int weights[8] = {intMax, intMin, intMin, intMax, intMax, intMin, 0, -1};
        std::copy(weights, weights + 8, c.weights);
        c.mixWeights[0] = intMax;
        c.mixWeights[1] = intMax;
        c.mixWeights[2] = intMin;
    });
    add("invalid-analysis-size", [](MixerCase& c) { c.analysisSize = QSize(-1, -1); });
    add("empty-analysis-size", [](MixerCase& c) { c.analysisSize = QSize(0, 48); });
    add("huge-analysis-size", [](MixerCase& c) { c.analysisSize = QSize(intMax, intMax); });
    add("one-huge-analysis-side", [](MixerCase& c) {
        c.analysisSize = QSize(intMax, 3);
        c.width = ZTFuzz::largestSide;
        c.height = 2;
    });
    add("upscaled-picture", [](MixerCase& c) {
        c.analysisSize = QSize(400, 400);
        c.width = 5;
        c.height = 4;
    });
    add("empty-picture", [](MixerCase& c) { c.width = 0; });
    add("one-pixel", [](MixerCase& c) {
        c.width = 1;
        c.height = 1;
    });
    add("block-counts-zero", [](MixerCase& c) { c.horizontalBlocks = 0; });
    add("block-counts-negative", [](MixerCase& c) {
        c.horizontalBlocks = -1;
        c.verticalBlocks = intMin;
    });
    add("block-counts-above-100", [](MixerCase& c) {
        c.analysisSize = QSize(ZTFuzz::largestSide, ZTFuzz::largestSide);
        c.width = ZTFuzz::largestSide;
        c.height = ZTFuzz::largestSide;
        c.horizontalBlocks = 101;
        c.verticalBlocks = 256;
    });
    add("grid-finer-than-picture", [](MixerCase& c) { c.horizontalBlocks = intMax; });
    add("bins-zero", [](MixerCase& c) {
        c.bins1 = 0;
        c.bins2 = 0;
    });
    add("bins-large", [](MixerCase& c) {
        c.bins1 = 257;
        c.bins2 = 65536;
        c.horizontalBlocks = 3;
        c.verticalBlocks = 2;
    });
    add("bins-negative", [](MixerCase& c) { c.bins2 = -1; });
    add("threshold-nan", [](MixerCase& c) {
        c.threshold = nan;
        c.minWidth = nan;
        c.minHeight = -infinity;
    });
    add("threshold-infinite", [](MixerCase& c) {
        c.threshold = infinity;
        c.minWidth = -1.0;
        c.minHeight = infinity;
    });
    add("areas-enormous", [](MixerCase& c) {
        c.inject = true;
        c.areas.rects = {corners(intMin, intMin, intMax, intMax), corners(intMax - 1, 3, intMax, 4),
            corners(-5, -5, 4, 4), corners(10, 10, -11, -11), corners(intMin / 2, 0, intMax, 6)};
        c.areas.reference = QSize(64, 48);
    });
    add("areas-with-warning", [](MixerCase& c) {
        c.inject = true;
        c.areas.rects = {QRect(10, 10, 20, 10)};
        c.areas.reference = QSize(640, 480);
    });
    add("clusterer-counts-zero-and-negative", [](MixerCase& c) {
        c.post.cubesH = 0;
        c.post.cubesV = -3;
        c.post.cubeSize = QSize(intMin, intMax);
    });
    add("clusterer-counts-huge", [](MixerCase& c) {
        c.post.cubesH = intMax;
        c.post.cubesV = intMax;
    });
    add("maximizer-length-negative", [](MixerCase& c) {
        c.post.length = -1;
        c.post.pixelWeight = 1;
    });
    add("maximizer-length-beyond-axis", [](MixerCase& c) {
        c.post.length = intMax;
        c.post.pixelWeight = intMin;
    });
    add("maximizer-length-axis-minus-one", [](MixerCase& c) { c.post.length = 63; });
    for (int format = 1; format < ZTFuzz::pictureFormatCount; ++format) {
        add(QString("format-%1").arg(format), [format](MixerCase& c) {
            c.format = format;
            c.width = 33;
            c.height = 17;
        });
    }
    return cases;
}

// ---- fuzz_methods: the reading order of fuzz_methods.cpp ---------------------------------

enum MethodPart { Blur, MaxFilter, SobelAndPrior, SymmetricSurround, Histogram, Areas, Forest };

QByteArray methodInput(MethodPart part, int width, int height, int format,
    const std::function<void(ZTFuzz::Writer&)>& settings)
{
    ZTFuzz::Writer out;
    out.byte(part);
    if (part != Forest) {
        out.pictureHeader(width, height, format);
    }
    settings(out);
    if (part != Forest) {
        out.bytes(pixelBytes(samplePicture(std::max(width, 1), std::max(height, 1))));
    }
    return out.data();
}

struct MethodCase
{
    QString name;
    QByteArray input;
};

std::vector<MethodCase> methodCases()
{
    std::vector<MethodCase> cases;
    const auto add = [&](const QString& name, MethodPart part,
                         const std::function<void(ZTFuzz::Writer&)>& settings, int width = 40,
                         int height = 30, int format = 0) {
        cases.push_back({name, methodInput(part, width, height, format, settings)});
    };
    const auto blur = [](int size, double sigma) {
        return [=](ZTFuzz::Writer& out) {
            out.setting(size);
            out.real(sigma);
            out.setting(size);
            out.real(sigma);
        };
    };
    add("blur-3-2.6", Blur, blur(3, 2.6));
    add("blur-size-0", Blur, blur(0, 0.0));
    add("blur-size-negative", Blur, blur(intMin, -1.0));
    add("blur-size-even", Blur, blur(4, nan));
    add("blur-size-large", Blur, blur(65535, infinity));
    add("blur-sigma-denormal", Blur, blur(7, std::numeric_limits<double>::denorm_min()));
    add("blur-indexed", Blur, blur(5, 1.0), 9, 7, 3);

    const auto maxFilter = [](int size, int threshold) {
        return [=](ZTFuzz::Writer& out) {
            out.setting(size);
            out.setting(threshold);
        };
    };
    add("max-filter-7-50", MaxFilter, maxFilter(7, 50));
    add("max-filter-90-150", MaxFilter, maxFilter(90, 150));
    add("max-filter-size-negative", MaxFilter, maxFilter(-3, 50));
    add("max-filter-size-even", MaxFilter, maxFilter(4, 0));
    add("max-filter-size-huge", MaxFilter, maxFilter(intMax, -1));
    add("max-filter-threshold-min", MaxFilter, maxFilter(9, intMin));
    add("max-filter-threshold-255", MaxFilter, maxFilter(9, 255));
    add("max-filter-indexed", MaxFilter, maxFilter(5, -1), 12, 9, 3);
    add("max-filter-rgb16", MaxFilter, maxFilter(5, 10), 12, 9, 8);

    add("sobel-and-prior", SobelAndPrior, [](ZTFuzz::Writer& out) {
        out.pictureHeader(20, 10, 1);
        out.flag(true);
    });
    add(
        "sobel-two-pixels-high", SobelAndPrior,
        [](ZTFuzz::Writer& out) {
            out.pictureHeader(0, 0, 0);
            out.flag(false);
        },
        50, 2);

    add("symmetric-surround", SymmetricSurround, [](ZTFuzz::Writer& out) {
        out.setting(6);
        out.setting(5);
        out.setting(30);
        out.setting(3);
        out.real(1.0);
        out.real(2.0);
        out.real(1.0);
        for (const int corner : {0, 0, 5, 4}) {
            out.setting(corner);
        }
    });
    add("symmetric-surround-mismatched-planes", SymmetricSurround, [](ZTFuzz::Writer& out) {
        out.setting(intMax);
        out.setting(intMax);
        out.setting(intMax);
        out.setting(2);
        out.real(nan);
        out.real(-1.0);
        for (const int corner : {intMin, intMax, intMin, intMax}) {
            out.setting(corner);
        }
    });

    const auto histogram
        = [](int bins1, int bins2, int horizontal, int vertical, double threshold) {
              return [=](ZTFuzz::Writer& out) {
                  out.setting(bins1);
                  out.setting(bins2);
                  out.setting(horizontal);
                  out.setting(vertical);
                  out.real(threshold);
                  out.real(0.5);
                  out.real(0.25);
                  for (const int value : {2, 1}) {
                      out.setting(value);
                  }
                  out.real(139.0);
                  out.setting(10);
                  out.setting(10);
                  out.side(20);
                  out.side(20);
                  out.word(0xFFFF0000u);
                  for (const int bins : {32, 32, 16, 16}) {
                      out.setting(bins);
                  }
                  out.flag(true);
                  out.rect(corners(3, 4, 3, 4));
              };
          };
    add("histogram-defaults", Histogram, histogram(32, 32, 15, 11, 0.67), 150, 110);
    add("histogram-blocks-zero", Histogram, histogram(32, 32, 0, 11, 0.67));
    add("histogram-blocks-negative", Histogram, histogram(32, 32, -1, -1, 0.67));
    add("histogram-blocks-above-100", Histogram, histogram(32, 32, 101, 200, 0.67),
        ZTFuzz::largestSide, ZTFuzz::largestSide);
    add("histogram-bins-zero", Histogram, histogram(0, 0, 15, 11, 0.67));
    add("histogram-bins-large", Histogram, histogram(65536, 257, 2, 2, 0.67));
    add("histogram-bins-negative", Histogram, histogram(-1, 32, 15, 11, 0.67));
    add("histogram-threshold-nan", Histogram, histogram(32, 32, 15, 11, nan));
    add("histogram-threshold-infinite", Histogram, histogram(32, 32, 15, 11, infinity));
    add("histogram-draw-far-away", Histogram, [](ZTFuzz::Writer& out) {
        for (const int value : {32, 32, 15, 11}) {
            out.setting(value);
        }
        out.real(0.67);
        out.real(0.5);
        out.real(0.25);
        out.setting(intMax);
        out.setting(intMin);
        out.real(infinity);
        out.setting(intMax);
        out.setting(intMax);
    });

    const auto areas = [](const QList<QRect>& rects, const QSize& reference) {
        return [=](ZTFuzz::Writer& out) {
            out.byte(rects.size());
            for (const QRect& rect : rects) {
                out.rect(rect);
            }
            out.flag(false);
            out.size(reference);
        };
    };
    add("areas-one", Areas, areas({QRect(10, 10, 20, 10)}, QSize(40, 30)));
    add("areas-size-warning", Areas, areas({QRect(10, 10, 20, 10)}, QSize(640, 480)));
    add("areas-enormous", Areas,
        areas({corners(intMin, intMin, intMax, intMax), corners(intMax, intMax, intMax, intMax),
                  corners(-1000000000, 5, 1000000000, 7), corners(3, 3, -5, intMin)},
            QSize(40, 30)));

    const auto forest = [](int height, int width, const std::vector<std::vector<int>>& steps,
                            const std::vector<QPoint>& points) {
        return [=](ZTFuzz::Writer& out) {
            out.setting(height);
            out.setting(width);
            out.byte(int(steps.size()));
            for (const std::vector<int>& step : steps) {
                for (const int value : step) {
                    out.setting(value);
                }
            }
            out.byte(int(points.size()));
            for (const QPoint& point : points) {
                out.setting(point.x());
                out.setting(point.y());
            }
        };
    };
    // A step is the operation (0 find, 1 join of two finds, 2 join, 3 size) and its indices.
    add("forest-2x2-one-segment", Forest,
        forest(2, 2, {{1, 0, 1}, {1, 2, 3}, {1, 1, 3}},
            {QPoint(0, 0), QPoint(2, 0), QPoint(2, 2), QPoint(0, 2)}));
    add("forest-diagonal", Forest,
        forest(4, 4, {{1, 0, 5}, {1, 5, 10}, {1, 10, 15}}, {QPoint(0, 0), QPoint(4, 4)}));
    add("forest-bad-indices", Forest,
        forest(3, 4, {{0, -1}, {2, 12, intMax}, {2, 5, 5}, {3, intMin}}, {}));
    add("forest-negative-and-overflowing", Forest, forest(intMax, intMax, {{0, 0}}, {}));
    add("hull-extreme-points", Forest,
        forest(1, 1, {},
            {QPoint(intMin, intMin), QPoint(intMax, intMin), QPoint(intMax, intMax),
                QPoint(intMin, intMax), QPoint(0, 0), QPoint(intMin, 0)}));
    return cases;
}

// ---- fuzz_reader: image files --------------------------------------------------------------

QByteArray encoded(const QImage& image, const char* format, int quality = -1)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return data;
}

quint32 crc32(const QByteArray& data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char c : data) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

// A PNG whose header claims @p width x @p height pixels, with a valid header checksum.
QByteArray pngClaiming(const QByteArray& png, quint32 width, quint32 height)
{
    QByteArray data = png;
    // Signature (8 bytes), IHDR length (4) and type (4), then width and height.
    constexpr int widthOffset = 16;
    constexpr int headerChunkStart = 12;
    constexpr int headerChunkLength = 17; // type and 13 data bytes
    qToBigEndian(width, data.data() + widthOffset);
    qToBigEndian(height, data.data() + widthOffset + 4);
    const quint32 crc = crc32(data.mid(headerChunkStart, headerChunkLength));
    qToBigEndian(crc, data.data() + headerChunkStart + headerChunkLength);
    return data;
}

// A 4 x 4 GIF frame with four colours on a screen of @p screen pixels. Qt writes no GIF, so the
// LZW stream is made here in its simplest form: a clear code before every two pixel codes keeps
// every code 3 bits wide.
QByteArray tinyGif(const QSize& screen = QSize(4, 4))
{
    QByteArray gif("GIF89a");
    const auto word = [&](int value) {
        gif.append(char(value & 0xFF));
        gif.append(char(value >> 8));
    };
    word(screen.width());
    word(screen.height());
    gif.append(char(0xF1)); // global colour table of 4 entries
    gif.append(char(0));
    gif.append(char(0));
    const quint8 colours[4][3] = {{0, 0, 0}, {255, 0, 0}, {0, 200, 0}, {250, 250, 250}};
    for (const auto& colour : colours) {
        gif.append(reinterpret_cast<const char*>(colour), 3);
    }
    gif.append(',');
    word(0);
    word(0);
    word(4);
    word(4);
    gif.append(char(0));
    constexpr int minimumCodeSize = 2;
    constexpr int clearCode = 4;
    constexpr int endCode = 5;
    gif.append(char(minimumCodeSize));

    std::vector<int> codes;
    for (int i = 0; i < 16; ++i) {
        if (i % 2 == 0) {
            codes.push_back(clearCode);
        }
        codes.push_back((i / 4 + i % 4) % 4);
    }
    codes.push_back(endCode);
    QByteArray stream;
    quint32 bits = 0;
    int bitCount = 0;
    for (const int code : codes) {
        bits |= quint32(code) << bitCount;
        bitCount += 3;
        while (bitCount >= 8) {
            stream.append(char(bits & 0xFF));
            bits >>= 8;
            bitCount -= 8;
        }
    }
    if (bitCount > 0) {
        stream.append(char(bits & 0xFF));
    }
    gif.append(char(stream.size()));
    gif.append(stream);
    gif.append(char(0));
    gif.append(';');
    return gif;
}

std::vector<MethodCase> readerCases()
{
    const QImage picture = samplePicture(48, 32);
    const QByteArray png = encoded(picture, "PNG");
    const QByteArray jpeg = encoded(picture.convertToFormat(QImage::Format_RGB32), "JPEG", 80);
    QImage indexed = picture.convertToFormat(QImage::Format_Indexed8);
    return {
        {"picture.png", png},
        {"picture.jpg", jpeg},
        {"picture.bmp", encoded(picture, "BMP")},
        {"picture.gif", tinyGif()},
        // Qt reports the frame's width for screens 32768 or more pixels wide.
        {"wide-screen.gif", tinyGif(QSize(40000, 30))},
        {"indexed.png", encoded(indexed, "PNG")},
        {"grey.jpg", encoded(picture.convertToFormat(QImage::Format_Grayscale8), "JPEG", 50)},
        {"one-pixel.png", encoded(samplePicture(1, 1), "PNG")},
        {"truncated.png", png.left(png.size() / 2)},
        {"truncated.jpg", jpeg.left(jpeg.size() / 2)},
        {"claims-100000x100000.png", pngClaiming(png, 100000, 100000)},
        {"claims-0x0.png", pngClaiming(png, 0, 0)},
        {"text.jpg", QByteArray("not a picture at all\n")},
        {"empty.png", QByteArray()},
    };
}

bool writeCorpus(const QDir& root, const QString& name, const std::vector<MethodCase>& cases)
{
    if (!root.mkpath(name)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(root.filePath(name)));
        return false;
    }
    const QDir folder(root.filePath(name));
    for (const MethodCase& c : cases) {
        if (!writeFile(folder.filePath(c.name), c.input)) {
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    // The JPEG writer is a plugin, found through the application's library paths.
    QCoreApplication application(argc, argv);
    const QDir root(QString::fromLocal8Bit(argv[1]));
    std::vector<MethodCase> mixer;
    for (const MixerCase& c : mixerCases()) {
        mixer.push_back({c.name, mixerInput(c)});
    }
    const bool written = writeCorpus(root, "fuzz_mixer", mixer)
        && writeCorpus(root, "fuzz_methods", methodCases())
        && writeCorpus(root, "fuzz_reader", readerCases());
    return written ? 0 : 1;
}
