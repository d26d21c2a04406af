#include "BenchPictures.h"

#include "ZTSalienzMixer.h"

#include <random>
#include <vector>

namespace BenchPictures {

QImage photo(const QSize& size)
{
    static const QImage original(QStringLiteral(ZTROI_SAMPLE_PHOTO));
    if (original.isNull()) {
        return contrast(size);
    }
    return original.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_ARGB32);
}

QImage contrast(const QSize& size)
{
    constexpr int block = 6;
    QImage image(size, QImage::Format_ARGB32);
    std::mt19937 random(12345);
    // One of the eight corners of the colour cube per block, drawn once per block row.
    std::vector<QRgb> blockColours(size_t(size.width() / block + 1));
    for (int y = 0; y < size.height(); ++y) {
        if (y % block == 0) {
            for (QRgb& colour : blockColours) {
                const unsigned corner = random() % 8;
                colour = qRgb(corner & 1 ? 255 : 0, corner & 2 ? 255 : 0, corner & 4 ? 255 : 0);
            }
        }
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            line[x] = blockColours[size_t(x / block)];
        }
    }
    return image;
}

QImage salienceMap(const QSize& size)
{
    ZTSalienzMixer mixer(QSize(-1, -1));
    return mixer.analyze(photo(size));
}

QSize analysisSize(int index)
{
    static const QSize sizes[] = {QSize(320, 240), QSize(640, 480), QSize(1280, 960)};
    return sizes[index];
}

} // namespace BenchPictures
