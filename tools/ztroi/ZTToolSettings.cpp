#include "ZTToolSettings.h"

#include <ZTSalienzMixer.h>

namespace {

struct MethodInfo
{
    ZTSalienzMethod method;
    const char* name;
    int defaultWeight;
};

// Key order; the weights are the mixer's defaults (the histogram's counts negatively).
constexpr MethodInfo methodTable[] = {
    {SalienzSobel, "sobel", 20},
    {SalienzGauss, "center", 2},
    {SalienzHistogram, "histogram", 10},
    {SalienzVeryImportantAreas, "areas", 20},
    {SalienzAchanta, "contrast", 10},
};

} // namespace

QList<ZTSalienzMethod> ZTToolSettings::allMethods()
{
    QList<ZTSalienzMethod> methods;
    for (const MethodInfo& info : methodTable) {
        methods.append(info.method);
    }
    return methods;
}

QString ZTToolSettings::methodName(ZTSalienzMethod method)
{
    for (const MethodInfo& info : methodTable) {
        if (info.method == method) {
            return QString::fromLatin1(info.name);
        }
    }
    return QString();
}

bool ZTToolSettings::methodFromName(const QString& name, ZTSalienzMethod* method)
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

int ZTToolSettings::defaultWeight(ZTSalienzMethod method)
{
    for (const MethodInfo& info : methodTable) {
        if (info.method == method) {
            return info.defaultWeight;
        }
    }
    return 0;
}

int ZTToolSettings::weight(ZTSalienzMethod method) const
{
    return weights.value(method, defaultWeight(method));
}

bool ZTToolSettings::isEnabled(ZTSalienzMethod method) const
{
    if (disabled.contains(method)) {
        return false;
    }
    return method != SalienzVeryImportantAreas || !areas.isEmpty() || faces;
}

void ZTToolSettings::configureMixer(ZTSalienzMixer& mixer) const
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
