// Fuzz target: the command-line path. The input is an image file, read from memory by ztroi's own
// ZTImageLoader (header check, pixel limit, EXIF orientation, JPEG reduced decoding, conversion to
// ARGB32) and analysed by a mixer at ztroi's default analysis size, as ztroi does with a file.
//
// Findings: crashes and sanitizer reports, any exception, a failed load without a reason, a
// loaded picture that is not ARGB32 or breaks the pixel limit, any Qt message from the analysis
// (the decoders' own warnings are the loader's business), and maps of the wrong size.

#include "ZTFuzzChecks.h"

#include "input/ZTImageLoader.h"
#include "settings/ZTAnalysisSettings.h"

#include <ZTSalienzClusterer.h>
#include <ZTSalienzMaximizerHorizontal.h>
#include <ZTSalienzMaximizerVertical.h>
#include <ZTSalienzMixer.h>

#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>
#include <QImage>

namespace {

using ZTFuzz::require;

// Pictures above this many pixels are refused, as ztroi refuses those above its --max-pixels:
// decoding one of ztroi's default 100 million pixels takes seconds under the sanitizers.
constexpr qint64 fuzzMaxPixels = 1 << 20;
constexpr int cropLength = 100;

// Messages while the loader decodes are the decoders' (the loader collects them itself); any
// message after that comes from the analysis and is a finding.
bool analysing = false;

void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (analysing) {
        ZTFuzz::strictMessageHandler(type, context, message);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // The decoders are plugins, found through the application's library paths. The application
    // lives until the process ends: destroyed at exit, it would outlive Qt's own globals.
    static QCoreApplication* const application = new QCoreApplication(*argc, *argv);
    Q_UNUSED(application);
    qInstallMessageHandler(messageHandler);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray file(reinterpret_cast<const char*>(data), int(size));
    QBuffer buffer(&file);
    buffer.open(QIODevice::ReadOnly);

    const ZTAnalysisSettings settings;
    ZTImageLoader loader;
    loader.setMaxPixels(fuzzMaxPixels);
    // ztroi decodes JPEG files at a reduced size unless told not to; the input's length decides.
    if (size % 2 == 0) {
        loader.setFastDecodeSize(settings.analysisSize);
    }
    if (!loader.load(&buffer)) {
        require(!loader.errorString().isEmpty(), "a refused picture has a reason");
        require(loader.image().isNull(), "a refused picture leaves no image");
        return 0;
    }
    const QImage picture = loader.image();
    require(picture.format() == QImage::Format_ARGB32, "the loader gives ARGB32");
    require(!picture.size().isEmpty(), "the loader gives pixels");
    require(qint64(picture.width()) * picture.height() <= fuzzMaxPixels,
        "the loader keeps the pixel limit");
    require(loader.errorString().isEmpty(), "a loaded picture has no error");

    analysing = true;
    ZTSalienzMixer mixer(settings.analysisSize);
    const QImage map = mixer.analyze(picture);
    const QSize work = picture.size().scaled(settings.analysisSize, Qt::KeepAspectRatio);
    require(map.size() == work.expandedTo(QSize(1, 1)), "the map has the work image's size");
    require(ZTFuzz::isOpaqueGrey(map), "the map is opaque grey");
    const QImage cubes = ZTSalienzClusterer().cluster(map);
    require(cubes.size() == map.size(), "the cube map has the map's size");
    ZTSalienzMaximizerHorizontal(SalienzPixelWeightThreshold).startOfBestRange(map, cropLength);
    ZTSalienzMaximizerVertical(SalienzPixelWeightLinear).startOfBestRange(map, cropLength);
    analysing = false;
    return 0;
}
