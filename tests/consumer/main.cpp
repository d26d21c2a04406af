#include <ZTSalienzCropPlanner.h>
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

    // Analyse at most 320x240 pixels; the map has the scaled picture's size. Every map pixel is
    // an opaque grey whose red component is the salience, 0 to 255.
    ZTSalienzMixer mixer(QSize(320, 240));
    const QImage map = mixer.analyze(photo);
    std::printf("%s: %dx%d pixels, salience map %dx%d\n", argv[1], photo.width(), photo.height(),
        map.width(), map.height());

    // The planner reads the map once and answers in the photograph's pixels: the focal point is
    // the salience-weighted centre of the map, a crop the most salient window of its aspect.
    const ZTSalienzCropPlanner planner(map, photo.size());
    const QPoint focus = planner.focalPoint();
    std::printf("focal point: %d,%d\n", focus.x(), focus.y());
    const ZTSalienzCropPlanner::Crop crop = planner.cropForAspect(16, 9);
    std::printf("16:9 crop: %dx%d at %d,%d, keeping %.0f%% of the salience\n", crop.rect.width(),
        crop.rect.height(), crop.rect.x(), crop.rect.y(), 100 * crop.salienceKept);
    return 0;
}
