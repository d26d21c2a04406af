#include "ZTPythonMixer.h"

#include "analysis/ZTPictureAnalyzer.h"
#include "input/ZTImageLoader.h"
#include "input/ZTMemoryBudget.h"

#include <ZTSalienzMixer.h>

ZTPictureError::ZTPictureError(ZTError::Kind kind, const QString& path, const QString& reason)
    : std::runtime_error(
        (path.isEmpty() ? reason : path + QStringLiteral(": ") + reason).toStdString())
    , m_kind(kind)
    , m_path(path)
    , m_reason(reason)
{}

// Configured as ztroi's ZTPictureAnalyzer configures its mixer; the tests compare the two.
ZTPythonMixer::ZTPythonMixer(const ZTAnalysisSettings& settings)
    : m_settings(settings)
    , m_mixer(std::make_unique<ZTSalienzMixer>(m_settings.analysisSize))
{
    m_settings.configureMixer(*m_mixer);
}

ZTPythonMixer::~ZTPythonMixer() = default;

QImage ZTPythonMixer::analyze(const QImage& picture, const QSize& inputSize)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_settings.isEnabled(SalienzVeryImportantAreas)) {
        const QSize workSize = picture.size().scaled(m_settings.analysisSize, Qt::KeepAspectRatio);
        ZTPictureAnalyzer::injectAreas(*m_mixer, m_settings.areas, inputSize, workSize,
            m_settings.weight(SalienzVeryImportantAreas));
    }
    const QImage map = m_mixer->analyze(picture);
    // Without any map the mixer hands back its input.
    if (map.isNull() || map.cacheKey() == picture.cacheKey()) {
        throw ZTPictureError(ZTError::Kind::Internal, QString(),
            QStringLiteral("the analysis gave no salience map"));
    }
    return map;
}

QImage ZTPythonMixer::readPicture(
    const ZTAnalysisSettings& settings, const QString& path, QSize* inputSize)
{
    // A budget of its own for every picture refuses the pictures that ztroi refuses.
    ZTMemoryBudget budget(settings.memoryBudget);
    ZTImageLoader loader;
    loader.setMaxPixels(settings.maxPixels);
    loader.setFormats(settings.formats);
    loader.setMemoryBudget(&budget, ZTPictureAnalyzer::analysisBytes(settings));
    if (settings.fastDecode) {
        loader.setFastDecodeSize(settings.analysisSize);
    }
    if (!loader.load(path)) {
        throw ZTPictureError(loader.errorKind(), path, loader.errorString());
    }
    *inputSize = loader.inputSize();
    return loader.takeImage();
}

QImage ZTPythonMixer::analyzeFile(const QString& path)
{
    QSize inputSize;
    const QImage picture = readPicture(m_settings, path, &inputSize);
    return analyze(picture, inputSize);
}
