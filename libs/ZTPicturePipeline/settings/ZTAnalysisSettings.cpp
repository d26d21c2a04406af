#include "settings/ZTAnalysisSettings.h"

#include "crops/ZTCropWriter.h"
#include "input/ZTImageLoader.h"
#include "input/ZTMemoryBudget.h"

#include <ZTAbstractROI.h>
#include <ZTSalienzMixer.h>

namespace {

struct MethodInfo
{
    ZTSalienzMethod method;
    const char* name;
};

// Key order.
constexpr MethodInfo methodTable[] = {
    {SalienzSobel, "sobel"},
    {SalienzGauss, "center"},
    {SalienzHistogram, "histogram"},
    {SalienzVeryImportantAreas, "areas"},
    {SalienzAchanta, "contrast"},
};

} // namespace

ZTAnalysisSettings::ZTAnalysisSettings()
    : cropQuality(ZTCropWriter::defaultQuality)
    , maxPixels(ZTImageLoader::defaultMaxPixels)
    , formats(ZTImageLoader::defaultFormats())
    , memoryBudget(ZTMemoryBudget::defaultBytes)
{}

QList<ZTSalienzMethod> ZTAnalysisSettings::allMethods()
{
    QList<ZTSalienzMethod> methods;
    for (const MethodInfo& info : methodTable) {
        methods.append(info.method);
    }
    return methods;
}

QString ZTAnalysisSettings::methodName(ZTSalienzMethod method)
{
    for (const MethodInfo& info : methodTable) {
        if (info.method == method) {
            return QString::fromLatin1(info.name);
        }
    }
    return QString();
}

bool ZTAnalysisSettings::methodFromName(const QString& name, ZTSalienzMethod* method)
{
    const QString wanted = name == QLatin1String("centre") ? QStringLiteral("center") : name;
    for (const MethodInfo& info : methodTable) {
        if (wanted == QLatin1String(info.name)) {
            *method = info.method;
            return true;
        }
    }
    return false;
}

// The library's defaults, read from a mixer: the very important areas join it only when they
// are injected, and the histogram's weight is stored negated.
int ZTAnalysisSettings::defaultWeight(ZTSalienzMethod method)
{
    // The weights of a mixer as the library constructs it (with its areas method), read once.
    static const QMap<ZTSalienzMethod, int> defaults = [] {
        ZTSalienzMixer mixer(QSize(0, 0));
        mixer.injectVeryImportantAreas(QList<QRect>(), QSize());
        QMap<ZTSalienzMethod, int> weights;
        for (const ZTSalienzMethod each : allMethods()) {
            if (const ZTAbstractROI* const roi = mixer.roiMethod(each)) {
                // The mixer stores the histogram's weight negated; the tool gives it as positive.
                weights.insert(each, each == SalienzHistogram ? -roi->weight() : roi->weight());
            }
        }
        return weights;
    }();
    return defaults.value(method);
}

int ZTAnalysisSettings::weight(ZTSalienzMethod method) const
{
    return weights.value(method, defaultWeight(method));
}

bool ZTAnalysisSettings::isEnabled(ZTSalienzMethod method) const
{
    if (disabled.contains(method)) {
        return false;
    }
    return method != SalienzVeryImportantAreas || !areas.isEmpty() || faces;
}

void ZTAnalysisSettings::configureMixer(ZTSalienzMixer& mixer) const
{
    for (const ZTSalienzMethod method : allMethods()) {
        mixer.setMethodWeight(method, weight(method));
        mixer.setMethodEnabled(method, isEnabled(method));
    }
    if (histogram.bins1) {
        mixer.updateHistogramBinsChannel1(*histogram.bins1);
    }
    if (histogram.bins2) {
        mixer.updateHistogramBinsChannel2(*histogram.bins2);
    }
    if (histogram.threshold) {
        mixer.updateHistogramChiSquareThreshold(*histogram.threshold);
    }
    if (histogram.columns) {
        mixer.updateHistogramHorizontalBlocks(*histogram.columns);
    }
    if (histogram.rows) {
        mixer.updateHistogramVerticalBlocks(*histogram.rows);
    }
    if (histogram.minWidth) {
        mixer.updateHistogramMinWidth(*histogram.minWidth);
    }
    if (histogram.minHeight) {
        mixer.updateHistogramMinHeight(*histogram.minHeight);
    }
}
