#include <ZTSalienzMixer.h>

#include <QImage>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PICTURE\n", argv[0]);
        return 2;
    }
    const QImage photo(QString::fromLocal8Bit(argv[1]));
    if (photo.isNull()) {
        std::fprintf(stderr, "%s: not a picture that Qt can read\n", argv[1]);
        return 1;
    }

    // Analyse at most 320x240 pixels; the map has the scaled picture's size.
    ZTSalienzMixer mixer(QSize(320, 240));
    const QImage map = mixer.analyze(photo);

    // Every map pixel is an opaque grey whose red component is the salience, 0 to 255. The
    // focal point is the salience-weighted centre of the map, scaled back to the photograph.
    double total = 0, sumX = 0, sumY = 0;
    for (int y = 0; y < map.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(map.constScanLine(y));
        for (int x = 0; x < map.width(); ++x) {
            const int salience = qRed(line[x]);
            total += salience;
            sumX += salience * (x + 0.5);
            sumY += salience * (y + 0.5);
        }
    }
    std::printf("%s: %dx%d pixels, salience map %dx%d\n", argv[1], photo.width(), photo.height(),
        map.width(), map.height());
    if (total > 0) {
        std::printf("focal point: %d,%d\n", int(sumX / total * photo.width() / map.width()),
            int(sumY / total * photo.height() / map.height()));
    } else {
        std::printf("focal point: none, the map is black\n");
    }
    return 0;
}
