#ifndef ZTPYTHONMIXER_H
#define ZTPYTHONMIXER_H

#include "settings/ZTAnalysisSettings.h"
#include "types/ZTError.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>
#include <stdexcept>

class ZTSalienzMixer;

/**
 * A picture that cannot be read or analysed, or an output folder that cannot be opened. Python
 * sees a PictureError (an OSError) of the class that its kind picks: FileNotFoundError for
 * NotFound, ValueError for a damaged picture, ...
 */
class ZTPictureError : public std::runtime_error
{
public:
    /** what() is "path: reason", or the reason alone without a path. */
    ZTPictureError(ZTError::Kind kind, const QString& path, const QString& reason);

    ZTError::Kind kind() const { return m_kind; }
    const QString& path() const { return m_path; }
    const QString& reason() const { return m_reason; }

private:
    ZTError::Kind m_kind;
    QString m_path;
    QString m_reason;
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
