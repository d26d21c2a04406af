#ifndef ZTPYTHONMIXER_H
#define ZTPYTHONMIXER_H

#include "settings/ZTAnalysisSettings.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>
#include <stdexcept>

class ZTSalienzMixer;

/** A picture that cannot be read or analysed; Python sees an OSError. */
class ZTPictureError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

/**
 * A ZTSalienzMixer configured by ztroi's analysis options, as the tool configures its own: the
 * analysis size, method weights and switches, histogram parameters and very important areas in
 * picture pixels. Calls from several threads are safe; on one mixer they take turns.
 */
class ZTPythonMixer
{
public:
    /**
     * The picture at @p path, read as ztroi reads it with @p settings: its formats, pixel limit,
     * memory budget (for this picture alone) and --fast-decode; @p inputSize receives its full
     * size, upright. Throws ZTPictureError with the path and the reason when it cannot be read.
     */
    static QImage readPicture(
        const ZTAnalysisSettings& settings, const QString& path, QSize* inputSize);

    /** The mixer of @p settings, as ZTOptionTable::settingsFromKeywords() gives them. */
    explicit ZTPythonMixer(const ZTAnalysisSettings& settings);
    ~ZTPythonMixer();
    Q_DISABLE_COPY(ZTPythonMixer)

    const ZTAnalysisSettings& settings() const { return m_settings; }

    /**
     * The salience map of @p picture, at its size scaled into the analysis size; the very
     * important areas refer to @p inputSize, the picture's full size. Throws ZTPictureError when
     * the analysis gives no map.
     */
    QImage analyze(const QImage& picture, const QSize& inputSize);

    /** The salience map of the picture at @p path, read by readPicture(). */
    QImage analyzeFile(const QString& path);

private:
    ZTAnalysisSettings m_settings;
    std::unique_ptr<ZTSalienzMixer> m_mixer;
    std::mutex m_mutex;
};

#endif // ZTPYTHONMIXER_H
