// A minimal host: analyses a synthetic picture and checks that a salience map comes back.
#include <ZTSalienzMixer.h>

#include <QImage>

#include <cstdio>

int main()
{
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(qRgb(30, 120, 200));
    ZTSalienzMixer mixer(QSize(32, 24));
    const QImage map = mixer.analyze(picture);
    if (map.size() != QSize(32, 24) || map.format() != QImage::Format_ARGB32) {
        std::fprintf(stderr, "unexpected map %dx%d\n", map.width(), map.height());
        return 1;
    }
    std::printf("map %dx%d\n", map.width(), map.height());
    return 0;
}
